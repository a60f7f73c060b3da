#include "ui/SiteView.h"

#include "listing/DirectoryCache.h"
#include "listing/PathRules.h"
#include "session/FtpSession.h"
#include "session/QueueBuilder.h"
#include "sites/FtpUrl.h"
#include "sites/HistoryFile.h"
#include "sites/SpecialFolders.h"
#include "ui/DisplayText.h"
#include "ui/FileTableView.h"
#include "ui/LocalPane.h"
#include "listing/PaneNavigation.h"
#include "ui/OpenSession.h"
#include "ui/PanePasteUrlDialog.h"
#include "ui/PaneTransfer.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {

constexpr char kPathHistoryName[] = "pathhis.txt";

bool IsLocalFolder(const std::string& path)
{
    std::error_code error;
    return !path.empty() && path.front() == '/' && std::filesystem::is_directory(path, error);
}

} // namespace

SiteView::SiteView(const SiteViewContext& context, const QString& name, QWidget* parent)
    : QWidget(parent), m_context(context), m_tabs(new QTabBar(this)), m_pathBox(new QComboBox(this)),
      m_browseButton(new QToolButton(this)), m_upButton(new QToolButton(this)), m_stack(new QStackedWidget(this)),
      m_pathHistory(std::make_unique<HistoryList>(JoinPath(context.dataFolder, kPathHistoryName),
                                                  HistoryList::Order::NewestFirst))
{
    setAccessibleName(name);
    m_tabs->setObjectName(QStringLiteral("siteTabs"));
    m_tabs->setAccessibleName(name + QStringLiteral(" tabs"));
    m_tabs->setMovable(false);
    m_tabs->setExpanding(false);
    m_tabs->setDocumentMode(true);
    m_tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    m_pathBox->setObjectName(QStringLiteral("pathBox"));
    m_pathBox->setAccessibleName(name + QStringLiteral(" path"));
    m_pathBox->setEditable(true);
    m_pathBox->setInsertPolicy(QComboBox::NoInsert);
    m_pathBox->setMaxVisibleItems(8);
    m_pathBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_browseButton->setText(QStringLiteral("..."));
    m_browseButton->setToolTip(QStringLiteral("Browse For Folder"));
    m_browseButton->setAccessibleName(QStringLiteral("Browse for folder"));
    // The drop-down beside it: this desktop's places and mounted volumes.
    auto* places = new QMenu(m_browseButton);
    places->setAccessibleName(QStringLiteral("Places"));
    m_browseButton->setMenu(places);
    m_browseButton->setPopupMode(QToolButton::MenuButtonPopup);
    connect(places, &QMenu::aboutToShow, this, [this, places] { fillPlacesMenu(places); });
    m_upButton->setObjectName(QStringLiteral("upButton"));
    m_upButton->setIcon(QIcon::fromTheme(QStringLiteral("go-up")));
    m_upButton->setText(QStringLiteral("Up"));
    m_upButton->setToolTip(QStringLiteral("Parent folder"));
    m_upButton->setAccessibleName(QStringLiteral("Parent folder"));
    m_stack->setObjectName(QStringLiteral("panes"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 0);
    layout->setSpacing(3);
    layout->addWidget(m_tabs);
    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(2);
    pathRow->addWidget(m_pathBox, 1);
    pathRow->addWidget(m_browseButton);
    pathRow->addWidget(m_upButton);
    layout->addLayout(pathRow);
    layout->addWidget(m_stack, 1);

    m_pathHistory->LoadHistory();
    for (const std::string& entry : m_pathHistory->Entries())
        m_pathBox->addItem(DisplayText(entry));
    m_pathBox->setCurrentIndex(-1);

    connect(m_tabs, &QTabBar::currentChanged, this, &SiteView::onTabChanged);
    connect(m_tabs, &QTabBar::tabBarDoubleClicked, this, [this](int index) {
        if (index >= 0 && index < paneCount())
            closePane(pane(index));
    });
    connect(m_tabs, &QWidget::customContextMenuRequested, this, &SiteView::showTabMenu);
    connect(m_pathBox->lineEdit(), &QLineEdit::returnPressed, this, [this] { enterPath(m_pathBox->currentText()); });
    connect(m_pathBox, &QComboBox::activated, this, [this](int index) { enterPath(m_pathBox->itemText(index)); });
    connect(m_upButton, &QToolButton::clicked, this, &SiteView::goUp);
    connect(m_browseButton, &QToolButton::clicked, this, &SiteView::browse);
}

SiteView::~SiteView() = default;

QWidget* SiteView::dialogParent()
{
    return window();
}

// ---- opening ----

RemotePane* SiteView::openSite(const CSiteSetting& site)
{
    // The other view's local tab goes to the site's own local folder.
    if (m_peer && !site.deflocaldir.empty()) {
        if (auto* local = qobject_cast<LocalPane*>(m_peer->currentPane()); local && IsLocalFolder(site.deflocaldir))
            local->showDirectory(site.deflocaldir);
    }
    OpenSession* session = m_context.sessions->add(site);
    RemotePane* remote = openSession(session);
    m_context.sessions->setActive(session);
    session->start();
    return remote;
}

RemotePane* SiteView::openSession(OpenSession* session)
{
    auto* remote = new RemotePane(session, *m_context.settings, *m_context.transfers, m_stack);
    addPane(remote);
    return remote;
}

LocalPane* SiteView::openLocal(const std::string& path)
{
    std::string folder = path.empty() ? m_context.settings->Current()->DefaultLocalDirectory : path;
    if (!IsLocalFolder(folder) && !IsLocalFolder(SplitLocalDirectoryAndPattern(folder).directory))
        folder = QFile::encodeName(QDir::currentPath()).toStdString();
    auto* local = new LocalPane(*m_context.settings, *m_context.transfers, m_stack);
    local->goToPath(folder);
    addPane(local);
    return local;
}

void SiteView::adopt(FilePane* pane)
{
    pane->setSiteView(this);
    connect(pane, &FilePane::pathChanged, this, [this, pane] {
        if (pane == currentPane())
            updatePathBox();
        const int index = int(std::find(m_panes.begin(), m_panes.end(), pane) - m_panes.begin());
        if (index < paneCount())
            m_tabs->setTabText(index, pane->tabText());
    });
    connect(pane, &FilePane::message, this, &SiteView::message);
    connect(pane, &FilePane::dialogOpened, this, &SiteView::dialogOpened);
    if (auto* local = qobject_cast<LocalPane*>(pane))
        connect(local, &LocalPane::pasteUrlsRequested, this, &SiteView::pasteUrls);
}

void SiteView::addPane(FilePane* pane)
{
    adopt(pane);
    m_stack->addWidget(pane);
    m_panes.push_back(pane);
    const int index = m_tabs->addTab(pane->tabText());
    if (pane->isRemote())
        m_tabs->setTabIcon(index, QIcon::fromTheme(QStringLiteral("network-server")));
    else
        m_tabs->setTabIcon(index, QIcon::fromTheme(QStringLiteral("folder")));
    m_tabs->setTabToolTip(index, pane->isRemote() ? pane->tabText() : DisplayText(pane->currentPath()));
    showPane(pane);
}

void SiteView::removePane(FilePane* pane)
{
    const auto it = std::find(m_panes.begin(), m_panes.end(), pane);
    if (it == m_panes.end())
        return;
    const int index = int(it - m_panes.begin());
    m_panes.erase(it);
    m_stack->removeWidget(pane);
    disconnect(pane, nullptr, this, nullptr);
    m_tabs->removeTab(index); // selects a neighbour, which shows its pane
    if (m_panes.empty())
        updatePathBox();
}

// ---- showing ----

FilePane* SiteView::currentPane() const
{
    const int index = m_tabs->currentIndex();
    return index >= 0 && index < paneCount() ? pane(index) : nullptr;
}

RemotePane* SiteView::paneOf(const OpenSession* session) const
{
    for (FilePane* pane : m_panes) {
        if (pane->openSession() == session)
            return qobject_cast<RemotePane*>(pane);
    }
    return nullptr;
}

void SiteView::showPane(FilePane* pane)
{
    const int index = int(std::find(m_panes.begin(), m_panes.end(), pane) - m_panes.begin());
    if (index >= paneCount())
        return;
    if (m_tabs->currentIndex() != index)
        m_tabs->setCurrentIndex(index); // comes back through onTabChanged
    else
        onTabChanged(index);
}

void SiteView::onTabChanged(int index)
{
    if (index < 0 || index >= paneCount())
        return;
    FilePane* shown = pane(index);
    if (m_stack->currentWidget() != shown)
        m_stack->setCurrentWidget(shown);
    updatePathBox();
    if (OpenSession* session = shown->openSession(); session && m_context.sessions->active() != session)
        m_context.sessions->setActive(session);
}

void SiteView::updatePathBox()
{
    FilePane* shown = currentPane();
    const std::string path = shown ? shown->currentPath() : std::string();
    m_pathBox->setEditText(path.empty() && shown && shown->isRemote() ? QStringLiteral("/") : DisplayText(path));
}

// ---- closing and moving ----

void SiteView::closePane(FilePane* pane, std::function<void()> closed)
{
    auto* remote = qobject_cast<RemotePane*>(pane);
    if (!remote) {
        removePane(pane);
        delete pane;
        if (closed)
            closed();
        return;
    }
    QPointer<RemotePane> target(remote);
    OpenSession* session = remote->openSession();
    const QString host = DisplayText(session->session().HostName());

    // Step 3: the queue decides whether the session goes or stays without a tab.
    const auto finish = [this, target, session, closed] {
        if (!target)
            return;
        removePane(target);
        delete target.data();
        if (session->session().Queue().IsEmpty()) {
            m_context.sessions->remove(session);
        } else {
            // Stopped rather than left offline: starting its queue later opens a tab for
            // it and connects again.
            session->stop();
            if (m_context.sessions->active() == session)
                m_context.sessions->setActive(nullptr);
        }
        if (closed)
            closed();
    };
    // Step 2: queued files are kept, dropped, or the close is cancelled.
    const auto askPreserve = [this, target, session, host, finish] {
        if (!target)
            return;
        if (session->session().Queue().IsEmpty()) {
            finish();
            return;
        }
        auto* box = new QMessageBox(QMessageBox::Question, host, QStringLiteral("Do you want to preserve the queued files?"),
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, dialogParent());
        box->setObjectName(QStringLiteral("preserveQueue"));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [box, session, finish](int) {
            const QMessageBox::StandardButton answer = box->standardButton(box->clickedButton());
            if (answer == QMessageBox::Cancel || answer == QMessageBox::NoButton)
                return;
            if (answer == QMessageBox::No)
                session->session().Queue().ClearQueue();
            finish();
        });
        box->open();
        emit dialogOpened(box);
    };
    // Step 1: a running transfer is aborted only when the user agrees.
    if (session->session().IsTransferring()) {
        auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Tollvane"),
                                    QStringLiteral("Are you sure to abort file transfer on site %1?").arg(host),
                                    QMessageBox::Ok | QMessageBox::Cancel, dialogParent());
        box->setObjectName(QStringLiteral("abortTransfer"));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::accepted, this, [session, askPreserve] {
            session->session().CancelOperation();
            askPreserve();
        });
        box->open();
        emit dialogOpened(box);
        return;
    }
    askPreserve();
}

void SiteView::dropSession(const OpenSession* session)
{
    while (RemotePane* remote = paneOf(session)) {
        removePane(remote);
        delete remote;
    }
}

void SiteView::movePaneToPeer(FilePane* pane)
{
    if (!m_peer || !pane)
        return;
    removePane(pane);
    m_peer->addPane(pane);
}

void SiteView::showTabMenu(const QPoint& position)
{
    const int index = m_tabs->tabAt(position);
    if (index < 0 || index >= paneCount())
        return;
    QPointer<FilePane> target = pane(index);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(QStringLiteral("Site Popup"));
    menu->addAction(QStringLiteral("&Close"), this, [this, target] {
        if (target)
            closePane(target);
    });
    menu->addAction(QStringLiteral("&Move To Peer Pane"), this, [this, target] {
        if (target)
            movePaneToPeer(target);
    });
    menu->popup(m_tabs->mapToGlobal(position));
}

// ---- path box ----

void SiteView::enterPath(const QString& text)
{
    const std::string typed = ResolvePathEntry(EngineText(text), XdgSpecialFolderResolver());
    if (typed.empty())
        return;
    if (m_pathHistory->AddToHistory(typed))
        m_pathBox->insertItem(0, DisplayText(typed));
    FilePane* shown = currentPane();
    // Only text that says it is an ftp URL opens a site: a remote tab's relative path
    // ("pub") is a folder of that site, never a host of that name.
    if (text.trimmed().startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive)) {
        CSiteSetting site;
        std::string error;
        if (!SiteFromUrl(typed, m_context.settings->Current()->AnonymousPass, site, &error)) {
            emit message(DisplayText(error));
            return;
        }
        if (shown)
            closePane(shown, [this, site] { openSite(site); });
        else
            openSite(site);
        return;
    }
    const LocalDirectoryAndPattern local = SplitLocalDirectoryAndPattern(typed);
    if (IsLocalFolder(local.directory)) {
        if (auto* localPane = qobject_cast<LocalPane*>(shown))
            localPane->goToPath(typed);
        else
            openLocal(typed);
        return;
    }
    if (shown && shown->isRemote())
        shown->goToPath(typed);
    else if (shown)
        emit message(QStringLiteral("Bad Url or Path!"));
    else
        openLocal(typed);
}

void SiteView::goUp()
{
    if (FilePane* shown = currentPane())
        shown->goToParent();
}

void SiteView::browse()
{
    auto* dialog = new QFileDialog(dialogParent(), QStringLiteral("Browse For Folder"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        openLocal(QFile::encodeName(folder).toStdString());
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void SiteView::fillPlacesMenu(QMenu* menu)
{
    menu->clear();
    const auto addPlace = [this, menu](const QString& text, const QString& folder, const QString& icon) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return;
        QAction* place = menu->addAction(QIcon::fromTheme(icon), text);
        place->setToolTip(folder);
        connect(place, &QAction::triggered, this, [this, folder] {
            const std::string path = QFile::encodeName(folder).toStdString();
            if (auto* local = qobject_cast<LocalPane*>(currentPane()))
                local->showDirectory(path);
            else
                openLocal(path);
        });
    };
    addPlace(QStringLiteral("Home"), QDir::homePath(), QStringLiteral("user-home"));
    addPlace(QStringLiteral("Desktop"), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), QStringLiteral("user-desktop"));
    addPlace(QStringLiteral("Documents"), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), QStringLiteral("folder-documents"));
    addPlace(QStringLiteral("Downloads"), QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), QStringLiteral("folder-download"));
    menu->addSeparator();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        const QString root = volume.rootPath();
        // The system's own mounts are no place a user keeps files.
        if (root != QStringLiteral("/") && !root.startsWith(QStringLiteral("/media/")) &&
            !root.startsWith(QStringLiteral("/mnt/")) && !root.startsWith(QStringLiteral("/run/media/")))
            continue;
        const QString name = volume.displayName().isEmpty() ? root : volume.displayName();
        addPlace(name == root ? root : QStringLiteral("%1 (%2)").arg(name, root), root, QStringLiteral("drive-harddisk"));
    }
}

void SiteView::refreshLocalPanes()
{
    for (FilePane* pane : m_panes) {
        if (!pane->isRemote())
            pane->refresh();
    }
}

// ---- pasted URLs ----

void SiteView::pasteUrls(const QStringList& urls, const std::string& folder)
{
    auto* dialog = new PanePasteUrlDialog(urls, dialogParent());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<SiteView> self(this);
    connect(dialog, &QDialog::accepted, this, [self, dialog, folder] {
        if (self)
            self->queuePastedUrls(dialog->urls(), folder, dialog->isFolder(), dialog->forceNewSession(), dialog->queueOnly());
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void SiteView::queuePastedUrls(const QStringList& urls, const std::string& folder, bool isFolder, bool forceNewSession,
                               bool queueOnly)
{
    for (const QString& url : urls) {
        const std::string text = WithFtpPrefix(EngineText(url));
        FtpUrl parts;
        if (!SplitFtpUrl(text, parts) || parts.host.empty()) {
            emit message(DisplayText(InvalidUrlMessage(text)));
            continue;
        }
        const std::string path = TrimTrailingSeparator(parts.path.empty() ? "/" : parts.path);
        if (path == "/" && !isFolder) {
            emit message(QStringLiteral("%1 names no file.").arg(DisplayText(text)));
            continue;
        }
        // The site's open session (an idle one first), unless a new one is asked for.
        OpenSession* target = nullptr;
        if (!forceNewSession) {
            for (const auto& owned : m_context.sessions->sessions()) {
                if (owned->site().address != parts.host)
                    continue;
                if (!target || (!owned->session().IsBusy() && target->session().IsBusy()))
                    target = owned.get();
            }
        }
        if (!target) {
            CSiteSetting site;
            std::string error;
            if (!SiteFromUrl(text, m_context.settings->Current()->AnonymousPass, site, &error)) {
                emit message(DisplayText(error));
                continue;
            }
            // The new tab shows the folder that holds a pasted file.
            if (!isFolder)
                site.defremotedir = ParentPath(path) == "/" ? std::string() : ParentPath(path).substr(1);
            SiteView* view = m_peer ? m_peer.data() : this;
            target = view->openSite(site)->openSession();
        }
        RFILE_DATA entry;
        entry.strName = FileNamePart(path);
        entry.bDirectory = isFolder;
        CFtpSession& session = target->session();
        // The cache gives the size and time it knows; the user's File/Folder choice decides
        // what is fetched.
        const RemoteEntryFinder find = [&session, isFolder](const std::string& full, RFILE_DATA& found) {
            const CDirectoryCache* cache = session.DirectoryCache();
            const bool known = cache && cache->LookupCachedEntry(session.CacheSite(), full, found) == 0;
            if (isFolder) {
                found.bDirectory = true;
                found.SetFileSize(0);
                return true;
            }
            if (known && found.bDirectory)
                return false;
            return known;
        };
        const std::string parent = ParentPath(path).empty() ? "/" : ParentPath(path);
        const CQueueBuildResult result = QueueDownloads(session.Queue(), {entry}, parent, folder, 0, find);
        for (const std::string& warning : result.warnings)
            emit message(DisplayText(warning));
        if (!queueOnly && result.appended + result.replaced > 0)
            session.StartQueue();
    }
}
