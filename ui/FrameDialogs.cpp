#include "ui/FrameDialogs.h"

#include "listing/PathRules.h"
#include "ui/MainFrame.h"
#include "ui/OfflineSearchDialog.h"
#include "ui/OptionsSheet.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"
#include "ui/SiteManagerDialog.h"

#include <QAction>
#include <QPointer>

#include <memory>

namespace {

constexpr char kSiteFileName[] = "site.dat";

void OpenSiteManager(MainFrame& frame, const FrameContext& context)
{
    auto* dialog = new SiteManagerDialog(*context.sites, JoinPath(context.dataFolder, kSiteFileName),
                                         context.settings->Current()->AnonymousPass, &frame);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &SiteManagerDialog::connectRequested, &frame, [&frame, context](int index) {
        if (index >= 0 && index < static_cast<int>(context.sites->size()))
            frame.openSite(*(*context.sites)[static_cast<std::size_t>(index)]);
    });
    dialog->open();
}

void OpenOptionsSheet(MainFrame& frame, const FrameContext& context)
{
    auto* sheet = new OptionsSheet(*context.settings, context.settingsStore, &frame);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

// The hit's site opens at the hit's folder; the entry is selected once that listing arrives.
void OpenCachedEntry(MainFrame& frame, const FrameContext& context, const CachedEntry& entry)
{
    const CSiteSetting site = SiteForCachedEntry(*context.sites, entry, context.settings->Current()->AnonymousPass);
    if (RemotePane* pane = frame.openSite(site))
        pane->selectWhenListed(entry.folder, entry.name);
}

// One search window at a time; a second command brings it to the front.
void OpenOfflineSearch(MainFrame& frame, const FrameContext& context, QPointer<OfflineSearchDialog>& open)
{
    if (open) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new OfflineSearchDialog(context.settings->Current()->CacheHomeDirectory, &frame);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &OfflineSearchDialog::openRequested, &frame,
                     [&frame, context](const CachedEntry& entry) {
                         OpenCachedEntry(frame, context, entry);
                     });
    open = dialog;
    dialog->show();
}

} // namespace

void ConnectFrameDialogs(MainFrame& frame, const FrameContext& context)
{
    const FrameActions& actions = frame.actions();
    QObject::connect(actions.siteManager, &QAction::triggered, &frame,
                     [&frame, context] { OpenSiteManager(frame, context); });
    QObject::connect(actions.settings, &QAction::triggered, &frame,
                     [&frame, context] { OpenOptionsSheet(frame, context); });
    auto searchWindow = std::make_shared<QPointer<OfflineSearchDialog>>();
    QObject::connect(actions.offlineSearch, &QAction::triggered, &frame,
                     [&frame, context, searchWindow] { OpenOfflineSearch(frame, context, *searchWindow); });
}
