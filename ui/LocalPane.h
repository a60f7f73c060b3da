#pragma once
// The local file pane of a site tab: one local folder (optionally filtered by a wildcard
// pattern), read with the engine's folder reader. Uploads, view and open, rename, delete
// to the trash, new folders, and pasting ftp URLs to download into the folder.

#include "listing/RemoteFileData.h"
#include "sites/SharedSettings.h"
#include "ui/FilePane.h"

#include <string>
#include <vector>

class LocalFileModel;
class PaneTransfer;

class LocalPane : public FilePane {
    Q_OBJECT
public:
    LocalPane(CSharedSettings& settings, PaneTransfer& transfers, QWidget* parent = nullptr);

    bool isRemote() const override { return false; }
    OpenSession* openSession() const override { return nullptr; }
    std::string currentPath() const override { return m_folder; }
    QString tabText() const override;
    void goToParent() override;
    void refresh() override;
    void goToPath(const std::string& path) override;

    LocalFileModel* model() const { return m_model; }
    const std::string& pattern() const { return m_pattern; }
    std::vector<FILE_DATA> selectedEntries() const;

    // Shows the folder with the pattern ("*" or empty: everything); false (and a message)
    // when it does not exist.
    bool showDirectory(const std::string& folder, const std::string& pattern = "*");

    void upload();
    void viewOrOpen(int action);
    void copyPaths();
    void pasteUrls();
    void deleteSelected(bool permanently);
    void makeFolder();
    // Renames an entry of the shown folder; false (with the message) when refused or failed.
    bool renameEntry(const std::string& oldName, const QString& newText) override;

signals:
    // ftp URLs from the clipboard (possibly none) to download into `folder`.
    void pasteUrlsRequested(const QStringList& urls, const std::string& folder);

private:
    void createActions();
    void enterFolder(int row) override;
    void deleteSelection(bool permanently) override { deleteSelected(permanently); }
    void copySelection() override { copyPaths(); }
    void pasteClipboard() override { pasteUrls(); }
    QMimeData* dragData() const override;
    bool acceptsDrop(const QMimeData* data) const override;
    void onDrop(const QMimeData* data, int row, Qt::KeyboardModifiers modifiers) override;
    void updateMenu(int clickedRow, int selectedCount) override;

    CSharedSettings& m_settings;
    PaneTransfer& m_transfers;
    LocalFileModel* m_model;
    std::string m_folder;
    std::string m_pattern = "*";
    std::string m_remembered;
};
