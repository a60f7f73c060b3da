#include "ui/LocalPane.h"


#include "listing/LocalFolder.h"
#include "listing/PaneNavigation.h"
#include "listing/PathRules.h"
#include "session/QueueEntry.h"
#include "ui/DisplayText.h"
#include "ui/LocalFileModel.h"
#include "ui/PaneDragData.h"
#include "ui/PaneTransfer.h"
#include "ui/PaneUrls.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace {

QString LocalName(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

LocalPane::LocalPane(CSharedSettings& settings, PaneTransfer& transfers, QWidget* parent)
    : FilePane(parent), m_settings(settings), m_transfers(transfers), m_model(new LocalFileModel(this))
{
    setObjectName(QStringLiteral("localPane"));
    setAccessibleName(QStringLiteral("Local files"));
    setUpViews(m_model, QStringLiteral("localFiles"), QStringLiteral("Local files"), {150, 100, 50, 150});
    createActions();
}

QString LocalPane::tabText() const
{
    const std::string name = FileNamePart(m_folder);
    return name.empty() ? QStringLiteral("/") : DisplayText(name);
}

std::vector<FILE_DATA> LocalPane::selectedEntries() const
{
    std::vector<FILE_DATA> entries;
    for (const int row : selectedRows())
        entries.push_back(m_model->entry(row));
    return entries;
}

bool LocalPane::showDirectory(const std::string& folder, const std::string& pattern)
{
    if (folder.empty())
        return false;
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        emit message(QStringLiteral("Invalid Path!"));
        return false;
    }
    const std::string shown = TrimTrailingSeparator(folder);
    LocalFolderListing listing = ReadLocalFolder(shown, pattern == "*" ? std::string_view() : std::string_view(pattern));
    if (!listing.Ok() && listing.entries.empty()) {
        emit message(DisplayText(listing.errorText));
        return false;
    }
    const bool sameFolder = shown == m_folder;
    if (sameFolder && m_remembered.empty()) {
        const QList<int> rows = selectedRows();
        if (rows.size() == 1)
            m_remembered = m_model->entry(rows.front()).strName;
    }
    m_model->setEntries(shown, std::move(listing.entries));
    m_folder = shown;
    m_pattern = pattern.empty() ? "*" : pattern;
    // Kept for the next start; written only when it changes.
    if (const auto current = m_settings.Current(); current->SaveLocalDir && current->DefaultLocalDirectory != shown)
        m_settings.Edit([&shown](CSettings& table) { table.DefaultLocalDirectory = shown; });
    if (!m_remembered.empty()) {
        const int row = m_model->rowOfName(m_remembered);
        if (row >= 0)
            selectRow(row);
        m_remembered.clear();
    }
    emit pathChanged();
    return true;
}

void LocalPane::goToParent()
{
    const std::string parent = ParentPath(m_folder);
    if (parent.empty() || m_folder == "/") {
        emit message(QString::fromLatin1(kLocalRootMessage.data(), qsizetype(kLocalRootMessage.size())));
        return;
    }
    m_remembered = FileNamePart(m_folder);
    showDirectory(parent, "*");
}

void LocalPane::refresh()
{
    showDirectory(m_folder, m_pattern);
}

void LocalPane::goToPath(const std::string& path)
{
    const LocalDirectoryAndPattern split = SplitLocalDirectoryAndPattern(path);
    showDirectory(split.directory, split.pattern.empty() ? "*" : split.pattern);
}

void LocalPane::enterFolder(int row)
{
    showDirectory(m_model->fullPath(row), "*");
}

void LocalPane::upload()
{
    FilePane* target = peerPane();
    if (!target || !target->isRemote()) {
        emit message(QStringLiteral("Open a site in the other view to upload to."));
        return;
    }
    m_transfers.transferSelection(this, target, -1, QApplication::keyboardModifiers() & Qt::AltModifier);
}

void LocalPane::viewOrOpen(int action)
{
    const QModelIndex current = currentView()->currentIndex();
    if (!current.isValid())
        return;
    const QString path = LocalName(m_model->fullPath(current.row()));
    const std::string viewer = m_settings.Current()->ViewerPath;
    if (action == 2 && !viewer.empty()) {
        // The viewer gets the path as one argument, whatever blanks it holds.
        if (!QProcess::startDetached(QString::fromStdString(viewer), {path}))
            emit message(QStringLiteral("The viewer %1 could not be started.").arg(QString::fromStdString(viewer)));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void LocalPane::copyPaths()
{
    QStringList paths;
    QList<QUrl> urls;
    for (const int row : selectedRows()) {
        const QString path = LocalName(m_model->fullPath(row));
        paths.push_back(path);
        urls.push_back(QUrl::fromLocalFile(path));
    }
    if (paths.isEmpty())
        return;
    auto* data = new QMimeData;
    data->setUrls(urls);
    SetUrlLines(*data, paths);
    QApplication::clipboard()->setMimeData(data);
}

void LocalPane::pasteUrls()
{
    const QMimeData* data = QApplication::clipboard()->mimeData();
    // The dialog opens empty when the clipboard holds no ftp URL, for one to be typed.
    emit pasteUrlsRequested(data ? FtpUrlLines(*data) : QStringList(), m_folder);
}

void LocalPane::deleteSelected(bool permanently)
{
    const std::vector<FILE_DATA> selection = selectedEntries();
    if (selection.empty())
        return;
    const std::string folder = m_folder;
    QPointer<LocalPane> self(this);
    const auto remove = [self, selection, folder, permanently] {
        QString errors;
        for (const FILE_DATA& entry : selection) {
            const std::string path = JoinPath(folder, entry.strName);
            bool done = false;
            if (permanently) {
                std::error_code error;
                std::filesystem::remove_all(path, error);
                done = !error;
            } else {
                done = QFile::moveToTrash(LocalName(path));
            }
            if (!done)
                errors += QStringLiteral("%1 could not be deleted.\n").arg(DisplayText(path));
        }
        if (!self)
            return;
        self->refresh();
        if (!errors.isEmpty())
            emit self->message(errors);
    };
    if (!m_settings.Current()->pDelete) {
        remove();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Confirm Delete"),
                                permanently ? QStringLiteral("Are you sure to delete the selected files permanently?")
                                            : QStringLiteral("Are you sure to move the selected files to the trash?"),
                                QMessageBox::Ok | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("confirmLocalDelete"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::accepted, this, remove);
    box->open();
    emit dialogOpened(box);
}

bool LocalPane::renameEntry(const std::string& oldName, const QString& newText)
{
    const std::string newName = EngineText(newText.trimmed());
    if (newName.empty() || newName == oldName)
        return false;
    if (!IsSafeLocalName(newName)) {
        emit message(QStringLiteral("A name cannot be \".\", \"..\" or hold \"/\" or a NUL byte."));
        return false;
    }
    const std::string from = JoinPath(m_folder, oldName);
    const std::string to = JoinPath(m_folder, newName);
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(to, error))) {
        emit message(QStringLiteral("%1 already exists.").arg(DisplayText(newName)));
        return false;
    }
    std::filesystem::rename(from, to, error);
    if (error) {
        emit message(QStringLiteral("%1 could not be renamed: %2").arg(DisplayText(oldName), QString::fromStdString(error.message())));
        return false;
    }
    m_remembered = newName;
    refresh();
    return true;
}

void LocalPane::makeFolder()
{
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("newLocalDirectory"));
    dialog->setWindowTitle(QStringLiteral("New Directory"));
    dialog->setLabelText(QStringLiteral("Name:"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) {
        const std::string name = EngineText(text.trimmed());
        if (name.empty())
            return;
        if (!IsSafeLocalName(name)) {
            emit message(QStringLiteral("A name cannot be \".\", \"..\" or hold \"/\" or a NUL byte."));
            return;
        }
        std::error_code error;
        if (!std::filesystem::create_directory(JoinPath(m_folder, name), error))
            emit message(QStringLiteral("The folder %1 could not be created.").arg(DisplayText(name)));
        m_remembered = name;
        refresh();
    });
    dialog->open();
    emit dialogOpened(dialog);
}

QMimeData* LocalPane::dragData() const
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return nullptr;
    auto* data = new PaneDragData(const_cast<LocalPane*>(this));
    QList<QUrl> urls;
    for (const int row : rows)
        urls.push_back(QUrl::fromLocalFile(LocalName(m_model->fullPath(row))));
    data->setUrls(urls);
    return data;
}

bool LocalPane::acceptsDrop(const QMimeData* data) const
{
    if (const auto* pane = qobject_cast<const PaneDragData*>(data))
        return pane->source() && pane->source() != this;
    return false;
}

void LocalPane::onDrop(const QMimeData* data, int row, Qt::KeyboardModifiers modifiers)
{
    if (const auto* pane = qobject_cast<const PaneDragData*>(data))
        m_transfers.transferSelection(pane->source(), this, row, modifiers & Qt::AltModifier);
}

void LocalPane::createActions()
{
    menu()->setAccessibleName(QStringLiteral("Local file menu"));
    addCommand(QStringLiteral("&Upload"), QStringLiteral("upload"), {}, [this] { upload(); });
    addCommand(QStringLiteral("&View"), QStringLiteral("view"), {}, [this] { viewOrOpen(2); });
    addCommand(QStringLiteral("&Open"), QStringLiteral("open"), {}, [this] { viewOrOpen(1); });
    addSeparator();
    addCommand(QStringLiteral("&Copy"), QStringLiteral("copy"), QKeySequence::Copy, [this] { copyPaths(); });
    addCommand(QStringLiteral("&Paste URL..."), QStringLiteral("pasteUrl"), QKeySequence::Paste, [this] { pasteUrls(); });
    addCommand(QStringLiteral("Select &All"), QStringLiteral("selectAll"), QKeySequence::SelectAll, [this] { currentView()->selectAll(); });
    addSeparator();
    addCommand(QStringLiteral("&Rename"), QStringLiteral("rename"), QKeySequence(Qt::Key_F2), [this] { editSelectedName(); });
    addCommand(QStringLiteral("De&lete"), QStringLiteral("delete"), QKeySequence::Delete, [this] { deleteSelected(false); });
    addCommand(QStringLiteral("Delete Permanently"), QStringLiteral("deletePermanently"), QKeySequence(Qt::SHIFT | Qt::Key_Delete),
               [this] { deleteSelected(true); });
    addCommand(QStringLiteral("&New Directory..."), QStringLiteral("newDirectory"), {}, [this] { makeFolder(); });
    addSeparator();
    addFileListMenu();
    addCommand(QStringLiteral("Re&fresh"), QStringLiteral("refresh"), QKeySequence(Qt::Key_F5), [this] { refresh(); });
}

void LocalPane::updateMenu(int clickedRow, int)
{
    for (const char* name : {"upload", "view", "open", "rename", "delete", "deletePermanently"})
        action(QString::fromLatin1(name))->setEnabled(clickedRow >= 0);
}
