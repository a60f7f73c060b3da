#include "ui/PaneTransfer.h"

#include "listing/PathRules.h"
#include "session/FtpSession.h"
#include "session/QueueBuilder.h"
#include "ui/DisplayText.h"
#include "ui/FilePane.h"
#include "ui/LocalPane.h"
#include "ui/OpenSession.h"
#include "ui/OverwriteDialog.h"
#include "ui/PaneLocalCopy.h"
#include "ui/RemotePane.h"
#include "ui/TransferConfirmDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void Report(PaneTransfer* transfer, const CQueueBuildResult& result)
{
    if (result.warnings.empty())
        return;
    QString text = QStringLiteral("Some entries were not queued:\n");
    for (const std::string& warning : result.warnings)
        text += DisplayText(warning) + QLatin1Char('\n');
    emit transfer->failed(text);
}

} // namespace

PaneTransfer::PaneTransfer(CSharedSettings& settings, QWidget* dialogParent, QObject* parent)
    : QObject(parent), m_settings(settings), m_dialogParent(dialogParent)
{
}

void PaneTransfer::confirmThen(bool ask, std::function<void(bool)> go)
{
    if (!ask) {
        go(false);
        return;
    }
    auto* dialog = new TransferConfirmDialog(m_dialogParent.data());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [dialog, go = std::move(go)](int result) {
        if (result == QDialog::Accepted)
            go(dialog->queueOnly());
    });
    dialog->open();
    emit confirmationOpened(dialog);
}

void PaneTransfer::transferSelection(FilePane* source, FilePane* target, int dropRow, bool modifier,
                                     bool noConfirm)
{
    if (!source || !target)
        return;
    const bool touchesServer = source->isRemote() || target->isRemote();
    const std::string folder = target->receivingFolder(dropRow);
    QPointer<FilePane> from(source), to(target);
    confirmThen(!noConfirm && m_settings.Current()->pTransfer && touchesServer,
                [this, from, to, folder, modifier](bool queueOnly) {
                    if (from && to)
                        carryOut(from, to, folder, modifier, queueOnly);
                });
}

void PaneTransfer::carryOut(FilePane* source, FilePane* target, const std::string& folder, bool modifier,
                            bool queueOnly)
{
    auto* remoteSource = qobject_cast<RemotePane*>(source);
    auto* remoteTarget = qobject_cast<RemotePane*>(target);
    auto* localSource = qobject_cast<LocalPane*>(source);
    if (localSource && !remoteTarget) {
        copyLocal(source, target, folder, modifier);
        return;
    }
    CFtpSession* session = nullptr;
    CQueueBuildResult result;
    if (localSource) {
        session = &remoteTarget->openSession()->session();
        result = QueueUploads(session->Queue(), localSource->selectedEntries(), localSource->currentPath(), folder);
    } else if (remoteSource) {
        session = &remoteSource->openSession()->session();
        const RemoteEntryFinder find = [remoteSource](const std::string& path, RFILE_DATA& entry) {
            return remoteSource->findEntry(path, entry);
        };
        if (remoteTarget) {
            CFtpSession& partner = remoteTarget->openSession()->session();
            if (&partner == session) {
                emit failed(QStringLiteral("Both panes show the same site; open the other site to copy between servers."));
                return;
            }
            result = QueueSiteToSite(session->Queue(), remoteSource->selectedEntries(), remoteSource->currentPath(),
                                     &partner, partner.HostName(), folder, find);
        } else {
            result = QueueDownloads(session->Queue(), remoteSource->selectedEntries(), remoteSource->currentPath(),
                                    folder, 0, find);
        }
    }
    if (!session)
        return;
    Report(this, result);
    if (!queueOnly && result.appended + result.replaced > 0)
        session->StartQueue();
}

void PaneTransfer::uploadFiles(const QStringList& localPaths, FilePane* target, int dropRow)
{
    auto* remoteTarget = qobject_cast<RemotePane*>(target);
    if (!remoteTarget || localPaths.isEmpty())
        return;
    const std::string folder = target->receivingFolder(dropRow);
    QPointer<RemotePane> to(remoteTarget);
    confirmThen(m_settings.Current()->pTransfer != 0, [this, to, folder, localPaths](bool queueOnly) {
        if (!to)
            return;
        // QueueUploads takes the entries of one folder; dropped files may come from several.
        std::map<std::string, std::vector<FILE_DATA>> byFolder;
        for (const QString& path : localPaths) {
            const QFileInfo info(path);
            FILE_DATA entry;
            entry.strName = QFile::encodeName(info.fileName()).toStdString();
            entry.bDirectory = info.isDir() && !info.isSymLink();
            entry.SetFileSize(entry.bDirectory ? 0 : static_cast<std::uint64_t>(info.size()));
            byFolder[QFile::encodeName(info.absolutePath()).toStdString()].push_back(entry);
        }
        CFtpSession& session = to->openSession()->session();
        int queued = 0;
        for (const auto& [localFolder, entries] : byFolder) {
            const CQueueBuildResult result = QueueUploads(session.Queue(), entries, localFolder, folder);
            queued += result.appended + result.replaced;
            Report(this, result);
        }
        if (!queueOnly && queued > 0)
            session.StartQueue();
    });
}

void PaneTransfer::copyLocal(FilePane* source, FilePane* target, const std::string& folder, bool move)
{
    auto* localSource = qobject_cast<LocalPane*>(source);
    if (!localSource)
        return;
    std::vector<PaneLocalCopy::Item> items;
    for (const FILE_DATA& entry : localSource->selectedEntries())
        items.push_back({JoinPath(localSource->currentPath(), entry.strName), entry.strName});
    if (items.empty())
        return;
    auto* copy = new PaneLocalCopy(std::move(items), folder, move, this);
    auto* progress = new QProgressDialog(m_dialogParent.data());
    progress->setObjectName(QStringLiteral("localCopyProgress"));
    progress->setWindowTitle(QStringLiteral("Transferring..."));
    progress->setAccessibleName(QStringLiteral("Local copy progress"));
    progress->setLabelText(move ? QStringLiteral("Moving...") : QStringLiteral("Copying..."));
    progress->setRange(0, 1000);
    progress->setValue(0);
    // Short copies end before it shows; the window stays usable while it does.
    progress->setMinimumDuration(500);
    progress->setWindowModality(Qt::NonModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    QPointer<QProgressDialog> shown(progress);
    connect(progress, &QProgressDialog::canceled, copy, &PaneLocalCopy::cancel);
    connect(copy, &PaneLocalCopy::progress, progress, [progress, move](qint64 done, qint64 total, const QString& name) {
        progress->setLabelText((move ? QStringLiteral("Moving %1") : QStringLiteral("Copying %1")).arg(name));
        progress->setValue(total > 0 ? int(std::min<qint64>(1000, done * 1000 / total)) : 0);
    });
    connect(copy, &PaneLocalCopy::overwriteQuestion, this, [this, copy](const COverwriteQuestion& question) {
        auto* dialog = new OverwriteDialog(question, 0, m_dialogParent.data());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::finished, copy, [copy, dialog] { copy->answer(dialog->answer()); });
        // Cancelling the copy closes its question too.
        connect(copy, &PaneLocalCopy::finished, dialog, &QDialog::reject);
        dialog->open();
        emit localCopyQuestionOpened(dialog);
    });
    QPointer<FilePane> from(source), to(target);
    connect(copy, &PaneLocalCopy::finished, this, [this, copy, shown, from, to](const QString& errors, bool) {
        if (shown)
            shown->deleteLater();
        for (FilePane* pane : {from.data(), to.data()}) {
            if (pane)
                pane->refresh();
        }
        copy->deleteLater();
        if (!errors.isEmpty())
            emit failed(errors);
    });
    emit localCopyStarted(copy);
    copy->start();
}

std::string PaneTransfer::PrivateTempFolder(std::string* error)
{
    const std::string base = QFile::encodeName(QDir::tempPath()).toStdString();
    const std::string folder = JoinPath(base, "tollvane-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = "Cannot create the temporary folder " + folder + ": " + std::strerror(errno);
        return {};
    }
    struct stat info {};
    // Someone else's folder, or a link planted in its place, is never used.
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        if (error)
            *error = "The temporary folder " + folder + " is not a private folder of this user.";
        return {};
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
        if (error)
            *error = "Cannot make the temporary folder " + folder + " private: " + std::strerror(errno);
        return {};
    }
    return folder;
}
