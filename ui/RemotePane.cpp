#include "ui/RemotePane.h"


#include "listing/DirectoryCache.h"
#include "listing/PaneNavigation.h"
#include "listing/PathRules.h"
#include "session/FtpSession.h"
#include "session/QueueBuilder.h"
#include "session/QueueEntry.h"
#include "ui/ChangeModeDialog.h"
#include "ui/DisplayText.h"
#include "ui/OpenSession.h"
#include "ui/PaneCacheDialog.h"
#include "ui/PaneDragData.h"
#include "ui/PaneTransfer.h"
#include "ui/PaneUrls.h"
#include "ui/RemoteFileModel.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include <filesystem>

namespace {

std::string Trimmed(const QString& text)
{
    return EngineText(text.trimmed());
}

// "/pub/" and "/pub" name one remote folder.
std::string_view WithoutTrailingSlash(std::string_view folder)
{
    if (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    return folder;
}

} // namespace

RemotePane::RemotePane(OpenSession* session, CSharedSettings& settings, PaneTransfer& transfers, QWidget* parent)
    : FilePane(parent), m_session(session), m_settings(settings), m_transfers(transfers),
      m_model(new RemoteFileModel(this))
{
    setObjectName(QStringLiteral("remotePane"));
    setAccessibleName(QStringLiteral("Remote files of %1").arg(DisplayText(session->site().address)));
    setUpViews(m_model, QStringLiteral("remoteFiles"), QStringLiteral("Remote files"), {150, 100, 50, 120, 80, 150});
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &RemotePane::selectRemembered);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { m_clickedRow = -1; });
    createActions();

    QtSessionUi& bridge = session->bridge();
    connect(&bridge, &QtSessionUi::directoryChanged, this, &RemotePane::onDirectoryChanged);
    // The listing's folder and text come from the value the worker handed over, never from
    // the session, which may have moved on by the time the window sees it.
    connect(&bridge, &QtSessionUi::listingComplete, this,
            [this](const CListing& listing) { receiveListing(listing.folder, listing.text); });
    connect(&bridge, &QtSessionUi::refreshRequested, this, &RemotePane::requestList);
    connect(&bridge, &QtSessionUi::commandFinished, this, &RemotePane::onCommandFinished);
    // After a queue run both views show what it wrote.
    connect(&bridge, &QtSessionUi::queueRunFinished, this, [this] {
        if (m_session->session().IsConnected())
            requestList();
        for (SiteView* view : {siteView(), siteView() ? siteView()->peer() : nullptr}) {
            if (view)
                view->refreshLocalPanes();
        }
    });

    // The first folder is the site's default one; its cached listing shows until the
    // server's arrives (or instead of it, with "Always Online" off).
    // (An absolute one stays as it is: joined to "/" it would start with "//".)
    const std::string& defaultFolder = session->site().defremotedir;
    const std::string first = defaultFolder.empty() ? std::string()
                              : defaultFolder.front() == '/' ? defaultFolder
                                                             : JoinPath("/", defaultFolder);
    if (!first.empty()) {
        m_path = TrimTrailingSeparator(first);
        reloadFromCache();
    }
}

QString RemotePane::tabText() const
{
    return DisplayText(m_session->session().HostName());
}

std::vector<RFILE_DATA> RemotePane::selectedEntries() const
{
    std::vector<RFILE_DATA> entries;
    for (const int row : selectedRows())
        entries.push_back(m_model->entry(row));
    return entries;
}

bool RemotePane::findEntry(const std::string& fullPath, RFILE_DATA& entry) const
{
    if (ParentPath(fullPath) == m_model->folder()) {
        const int row = m_model->rowOfName(FileNamePart(fullPath));
        if (row >= 0) {
            entry = m_model->entry(row);
            return true;
        }
    }
    CFtpSession& session = m_session->session();
    const CDirectoryCache* cache = session.DirectoryCache();
    return cache && cache->LookupCachedEntry(session.CacheSite(), fullPath, entry) == 0;
}

// ---- listings and navigation ----

void RemotePane::receiveListing(const std::string& folder, const std::string& listingText)
{
    // The listing is of the folder it names. It replaces the entries only when the pane
    // asked for it or already shows that folder.
    if (!m_awaitingListing && !m_path.empty() && folder != m_path)
        return;
    m_awaitingListing = false;
    if (m_path.empty() || folder != m_path)
        setCurrentPath(folder);
    m_model->receiveListing(folder, listingText);
    selectRemembered();
    if (WithoutTrailingSlash(folder) == WithoutTrailingSlash(m_selectFolder))
        m_selectName.clear();
}

void RemotePane::onDirectoryChanged(const std::string& directory)
{
    // Followed only while the pane waits for the session (a folder change it asked for,
    // the first login); a queue run or keep-alive moving the session elsewhere leaves the
    // pane on its folder.
    if (m_awaitingListing || m_path.empty())
        setCurrentPath(directory);
}

void RemotePane::onCommandFinished(int code, int result)
{
    if (code == CMD_CWD || code == CMD_CDUP || code == CMD_LIST) {
        if (result != FTP_OK)
            m_awaitingListing = false;
        return;
    }
    if (result == FTP_OK && (code == CMD_RENAME || code == CMD_MKDIR || code == CMD_CHMOD))
        requestList();
}

void RemotePane::setCurrentPath(const std::string& path)
{
    m_path = path;
    emit pathChanged();
}

void RemotePane::selectWhenListed(const std::string& folder, const std::string& name)
{
    m_selectFolder = folder;
    m_selectName = name;
    selectRemembered();
}

void RemotePane::selectRemembered()
{
    // Kept until the server's own listing of the folder has shown it: a cached listing shown
    // first is replaced by it, and the selection with it.
    if (!m_selectName.empty() && !m_model->folder().empty() &&
        WithoutTrailingSlash(m_model->folder()) == WithoutTrailingSlash(m_selectFolder))
        m_remembered = m_selectName;
    if (m_remembered.empty())
        return;
    const int row = m_model->rowOfName(m_remembered);
    if (row < 0)
        return;
    selectRow(row);
    m_remembered.clear();
}

bool RemotePane::useCache() const
{
    // "Always Online" off, or no server to ask.
    return m_settings.Current()->AlwaysRefresh == 0 || !m_session->session().IsConnected();
}

std::string RemotePane::cachedListFile(const std::string& folder) const
{
    CFtpSession& session = m_session->session();
    const CDirectoryCache* cache = session.DirectoryCache();
    if (!cache)
        return {};
    const std::string path = cache->GetCacheListPath(session.CacheSite(), folder);
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error) ? path : std::string();
}

void RemotePane::log(const std::string& text)
{
    m_session->session().Log(text, LOG_STATE);
}

bool RemotePane::reloadFromCache()
{
    const std::string listFile = cachedListFile(m_path);
    if (listFile.empty() || !m_model->loadListFile(m_path, listFile))
        return false;
    selectRemembered();
    return true;
}

void RemotePane::changeDir(const std::string& target)
{
    CFtpSession& session = m_session->session();
    const RemotePaneState state{m_path, session.CurrentRemoteDirectory(), !useCache()};
    const RemoteNavigation step = DecideChangeDir(state, target, [this](const std::string& folder) {
        return cachedListFile(folder);
    });
    switch (step.action) {
    case RemoteNavigation::Action::Nothing:
        return;
    case RemoteNavigation::Action::LoadFromCache:
        log(std::string(kLoadFromCacheLog));
        if (!m_model->loadListFile(step.path, step.listFile)) {
            emit message(QStringLiteral("Can't open list file %1!").arg(DisplayText(step.listFile)));
            return;
        }
        setCurrentPath(step.path);
        selectRemembered();
        return;
    case RemoteNavigation::Action::ListDirectory:
        setCurrentPath(step.path);
        requestList();
        return;
    case RemoteNavigation::Action::ChangeDirectory: {
        CSessionCommand command = SimpleCommand(CMD_CWD, CMDFLAG_LIST_AFTERWARDS);
        command.path = step.argument;
        m_awaitingListing = true;
        session.IssueCommand(command);
        return;
    }
    case RemoteNavigation::Action::ChangeToParent:
        m_awaitingListing = true;
        session.IssueCommand(SimpleCommand(CMD_CDUP, CMDFLAG_LIST_AFTERWARDS));
        return;
    case RemoteNavigation::Action::RefuseAtRoot:
        emit message(QString::fromLatin1(kRemoteRootMessage.data(), qsizetype(kRemoteRootMessage.size())));
        return;
    }
}

void RemotePane::goToParent()
{
    if (m_path.empty() || m_path == "/") {
        emit message(QString::fromLatin1(kRemoteRootMessage.data(), qsizetype(kRemoteRootMessage.size())));
        return;
    }
    m_remembered = FileNamePart(m_path);
    CFtpSession& session = m_session->session();
    const RemotePaneState state{m_path, session.CurrentRemoteDirectory(), !useCache()};
    const RemoteNavigation step = DecideGoToParent(state, [this](const std::string& folder) {
        return cachedListFile(folder);
    });
    if (step.action == RemoteNavigation::Action::ChangeToParent) {
        m_awaitingListing = true;
        session.IssueCommand(SimpleCommand(CMD_CDUP, CMDFLAG_LIST_AFTERWARDS));
    } else if (step.action == RemoteNavigation::Action::LoadFromCache) {
        log(std::string(kLoadFromCacheLog));
        if (m_model->loadListFile(step.path, step.listFile)) {
            setCurrentPath(step.path);
            selectRemembered();
        }
    } else if (step.action == RemoteNavigation::Action::RefuseAtRoot) {
        emit message(QString::fromLatin1(kRemoteRootMessage.data(), qsizetype(kRemoteRootMessage.size())));
    } else {
        changeDir(ParentPath(m_path));
    }
}

void RemotePane::requestList()
{
    if (!m_session->session().IsConnected()) {
        reloadFromCache();
        return;
    }
    CSessionCommand command = SimpleCommand(CMD_LIST);
    command.path = m_path;
    m_awaitingListing = true;
    m_session->session().IssueCommand(command);
}

void RemotePane::refresh()
{
    const QList<int> rows = selectedRows();
    m_remembered = rows.size() == 1 ? m_model->entry(rows.front()).strName : std::string();
    if (useCache() && !m_session->session().IsConnected())
        reloadFromCache();
    else
        requestList();
}

void RemotePane::goToPath(const std::string& path)
{
    // A relative path is a folder of this same site, below the current one.
    const std::string target = !path.empty() && path.front() == '/' ? path : JoinPath(m_path.empty() ? "/" : m_path, path);
    changeDir(TrimTrailingSeparator(target));
}

void RemotePane::enterFolder(int row)
{
    changeDir(m_model->fullPath(row));
}

// ---- commands ----

void RemotePane::download()
{
    FilePane* target = peerPane();
    if (!target) {
        emit message(QStringLiteral("Open a local folder in the other view to download into."));
        return;
    }
    m_transfers.transferSelection(this, target, -1, false);
}

void RemotePane::addToQueue()
{
    FilePane* target = peerPane();
    if (!target || target->isRemote()) {
        emit message(QStringLiteral("Open a local folder in the other view to download into."));
        return;
    }
    const RemoteEntryFinder find = [this](const std::string& path, RFILE_DATA& entry) { return findEntry(path, entry); };
    QueueDownloads(m_session->session().Queue(), selectedEntries(), currentPath(), target->currentPath(), 0, find);
}

void RemotePane::viewOrOpen(int action)
{
    const std::vector<RFILE_DATA> selection = selectedEntries();
    if (selection.empty())
        return;
    std::string error;
    const std::string folder = PaneTransfer::PrivateTempFolder(&error);
    if (folder.empty()) {
        emit message(DisplayText(error));
        return;
    }
    const RemoteEntryFinder find = [this](const std::string& path, RFILE_DATA& entry) { return findEntry(path, entry); };
    QueueDownloads(m_session->session().Queue(), selection, currentPath(), folder, action, find);
    m_session->session().StartQueue();
}

void RemotePane::copyUrls()
{
    QStringList urls;
    for (const int row : selectedRows())
        urls.push_back(RemoteEntryUrl(m_session->site().address, m_session->site().port, m_model->fullPath(row)));
    if (urls.isEmpty())
        return;
    auto* data = new QMimeData;
    SetUrlLines(*data, urls);
    QApplication::clipboard()->setMimeData(data);
}

void RemotePane::deleteSelected()
{
    const std::vector<RFILE_DATA> selection = selectedEntries();
    if (selection.empty())
        return;
    // The paths are fixed now: what the user sees is what is deleted.
    const std::string folder = currentPath();
    QPointer<RemotePane> self(this);
    const auto queueDeletes = [self, selection, folder](bool queueOnly) {
        if (!self)
            return;
        const RemoteEntryFinder find = [&](const std::string& path, RFILE_DATA& entry) { return self->findEntry(path, entry); };
        CFtpSession& session = self->m_session->session();
        const CQueueBuildResult result = QueueDeletes(session.Queue(), selection, folder, find);
        if (!queueOnly && result.appended + result.replaced > 0)
            session.StartQueue();
    };
    if (!m_settings.Current()->pDelete) {
        queueDeletes(false);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Confirm Delete"),
                                QStringLiteral("Are you sure to delete all the selected files?"),
                                QMessageBox::Ok | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("confirmDelete"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    auto* queueOnly = new QCheckBox(QStringLiteral("Queue Only"), box);
    queueOnly->setAccessibleName(QStringLiteral("Queue Only"));
    box->setCheckBox(queueOnly);
    connect(box, &QMessageBox::accepted, this, [queueDeletes, queueOnly] { queueDeletes(queueOnly->isChecked()); });
    box->open();
    emit dialogOpened(box);
}

bool RemotePane::renameEntry(const std::string& oldName, const QString& newText)
{
    const std::string newName = Trimmed(newText);
    if (newName.empty() || newName == oldName)
        return false;
    if (!IsSafeLocalName(newName)) {
        emit message(QStringLiteral("A name cannot be \".\", \"..\" or hold \"/\" or a NUL byte."));
        return false;
    }
    CSessionCommand command = SimpleCommand(CMD_RENAME);
    command.path = JoinPath(m_path, oldName);
    command.newName = JoinPath(m_path, newName);
    m_session->session().IssueCommand(command);
    return true;
}

void RemotePane::makeFolder()
{
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("newDirectory"));
    dialog->setWindowTitle(QStringLiteral("New Directory"));
    dialog->setLabelText(QStringLiteral("Name:"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) {
        const std::string name = Trimmed(text);
        if (name.empty())
            return;
        CSessionCommand command = SimpleCommand(CMD_MKDIR);
        command.path = JoinPath(m_path.empty() ? "/" : m_path, name);
        m_session->session().IssueCommand(command);
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void RemotePane::changePermission()
{
    const QList<int> rows = selectedRows();
    if (rows.size() != 1)
        return;
    const std::string path = m_model->fullPath(rows.front());
    auto* dialog = new ChangeModeDialog(m_model->entry(rows.front()).strAttribute, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, path] {
        CSessionCommand command = SimpleCommand(CMD_CHMOD);
        command.path = path;
        command.mode = dialog->modeText();
        m_session->session().IssueCommand(command);
    });
    dialog->open();
    emit dialogOpened(dialog);
}

// ---- drag and drop ----

QMimeData* RemotePane::dragData() const
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return nullptr;
    auto* data = new PaneDragData(const_cast<RemotePane*>(this));
    QStringList urls;
    for (const int row : rows)
        urls.push_back(RemoteEntryUrl(m_session->site().address, m_session->site().port, m_model->fullPath(row)));
    SetUrlLines(*data, urls);
    return data;
}

bool RemotePane::acceptsDrop(const QMimeData* data) const
{
    if (const auto* pane = qobject_cast<const PaneDragData*>(data))
        return pane->source() && pane->source() != this;
    if (!data->hasUrls())
        return false;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return false;
    }
    return true;
}

void RemotePane::onDrop(const QMimeData* data, int row, Qt::KeyboardModifiers modifiers)
{
    if (const auto* pane = qobject_cast<const PaneDragData*>(data)) {
        m_transfers.transferSelection(pane->source(), this, row, modifiers & Qt::AltModifier);
        return;
    }
    QStringList paths;
    for (const QUrl& url : data->urls())
        paths.push_back(url.toLocalFile());
    m_transfers.uploadFiles(paths, this, row);
}

// ---- caching ----

void RemotePane::cacheDirectory(const std::string& folder)
{
    auto* dialog = new PaneCacheDialog(DisplayText(folder), m_settings.Current()->AlwaysRefresh != 0, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<RemotePane> self(this);
    connect(dialog, &QDialog::accepted, this, [self, dialog, folder] {
        if (!self)
            return;
        // The entry starts at the folder the command was chosen for.
        CFtpSession& session = self->m_session->session();
        const CQueueBuildResult result = QueueCacheDirectory(session.Queue(), folder);
        if (result.appended + result.replaced > 0 && !dialog->queueOnly())
            session.StartQueue();
    });
    dialog->open();
    emit dialogOpened(dialog);
}

// ---- menu ----

void RemotePane::createActions()
{
    menu()->setAccessibleName(QStringLiteral("Remote file menu"));
    addCommand(QStringLiteral("&Download"), QStringLiteral("download"), {}, [this] { download(); });
    addCommand(QStringLiteral("Add to &Queue"), QStringLiteral("addToQueue"), {}, [this] { addToQueue(); });
    addCommand(QStringLiteral("&View"), QStringLiteral("view"), {}, [this] { viewOrOpen(2); });
    addCommand(QStringLiteral("&Open"), QStringLiteral("open"), {}, [this] { viewOrOpen(1); });
    addSeparator();
    addCommand(QStringLiteral("Copy &URL"), QStringLiteral("copyUrl"), QKeySequence::Copy, [this] { copyUrls(); });
    addCommand(QStringLiteral("Select &All"), QStringLiteral("selectAll"), QKeySequence::SelectAll, [this] { currentView()->selectAll(); });
    addSeparator();
    addCommand(QStringLiteral("&Rename..."), QStringLiteral("rename"), QKeySequence(Qt::Key_F2), [this] { editSelectedName(); });
    addCommand(QStringLiteral("Change &Permission..."), QStringLiteral("changePermission"), {}, [this] { changePermission(); });
    addCommand(QStringLiteral("De&lete"), QStringLiteral("delete"), QKeySequence::Delete, [this] { deleteSelected(); });
    addCommand(QStringLiteral("&New Directory..."), QStringLiteral("newDirectory"), {}, [this] { makeFolder(); });
    addSeparator();
    addCommand(QStringLiteral("&Cache Directory..."), QStringLiteral("cacheDirectory"), {}, [this] {
        // The folder the menu was opened on, else the one selected folder.
        const QList<int> rows = selectedRows();
        const int row = m_clickedRow >= 0 ? m_clickedRow : rows.size() == 1 ? rows.front() : -1;
        if (row >= 0 && row < m_model->rowCount() && m_model->entry(row).bDirectory)
            cacheDirectory(m_model->fullPath(row));
    });
    addCommand(QStringLiteral("Cache &Entire Server..."), QStringLiteral("cacheServer"), {}, [this] { cacheDirectory("/"); });
    addSeparator();
    addFileListMenu();
    addCommand(QStringLiteral("Re&fresh"), QStringLiteral("refresh"), QKeySequence(Qt::Key_F5), [this] { refresh(); });
    addCommand(QStringLiteral("&Quit"), QStringLiteral("quit"), {}, [this] { m_session->session().IssueCommand(SimpleCommand(CMD_QUIT)); });
}

void RemotePane::updateMenu(int clickedRow, int selectedCount)
{
    m_clickedRow = clickedRow;
    for (const char* name : {"download", "addToQueue", "view", "open", "delete"})
        action(QString::fromLatin1(name))->setEnabled(clickedRow >= 0);
    action(QStringLiteral("rename"))->setEnabled(selectedCount == 1);
    action(QStringLiteral("changePermission"))->setEnabled(selectedCount == 1);
    action(QStringLiteral("copyUrl"))->setEnabled(selectedCount > 0);
    action(QStringLiteral("cacheDirectory"))->setEnabled(clickedRow >= 0 && m_model->entry(clickedRow).bDirectory);
    action(QStringLiteral("quit"))->setEnabled(!m_session->session().IsBusy());
}
