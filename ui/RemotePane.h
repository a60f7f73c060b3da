#pragma once
// The remote file pane of a site tab: the current folder of one session's server, from a
// live listing or from the directory cache. It moves through the tree by setting session
// commands (never talking to the server itself), and turns the selection into queued
// transfers and deletes. Listings enter in one place: receiveListing().

#include "listing/RemoteFileData.h"
#include "sites/SharedSettings.h"
#include "ui/FilePane.h"

#include <QPointer>

#include <string>
#include <vector>

class PaneTransfer;
class RemoteFileModel;

class RemotePane : public FilePane {
    Q_OBJECT
public:
    RemotePane(OpenSession* session, CSharedSettings& settings, PaneTransfer& transfers, QWidget* parent = nullptr);

    // FilePane
    bool isRemote() const override { return true; }
    OpenSession* openSession() const override { return m_session; }
    std::string currentPath() const override { return m_path; }
    QString tabText() const override;
    void goToParent() override;
    void refresh() override;
    void goToPath(const std::string& path) override;

    RemoteFileModel* model() const { return m_model; }
    // The selected entries, in view order.
    std::vector<RFILE_DATA> selectedEntries() const;
    // The record of a remote entry: from the pane when it shows the entry's folder, else
    // from the directory cache.
    bool findEntry(const std::string& fullPath, RFILE_DATA& entry) const;

    // A completed listing of `folder` (the worker's current folder when it listed).
    // Shown unless the pane meanwhile shows another folder it did not ask the session for
    // (a keep-alive listing never replaces what the user sees).
    void receiveListing(const std::string& folder, const std::string& listingText);

    // Selects the entry `name` once the pane shows a listing of `folder` (a search hit
    // opened at its folder); listings of other folders before it leave it waiting.
    void selectWhenListed(const std::string& folder, const std::string& name);

    void changeDir(const std::string& target);
    void requestList();
    // Shows the cached listing of the current folder when there is one.
    bool reloadFromCache();

    // Commands (also on the context menu and keys).
    void download();
    void addToQueue();
    void viewOrOpen(int action);
    void copyUrls();
    void deleteSelected();
    void makeFolder();
    void changePermission();
    // Queues the recursive caching of a folder of this site ("/": the whole server),
    // after the "Cache Directory" question.
    void cacheDirectory(const std::string& folder);

private:
    void createActions();
    void setCurrentPath(const std::string& path);
    void selectRemembered();
    void onDirectoryChanged(const std::string& directory);
    void onCommandFinished(int code, int result);
    std::string cachedListFile(const std::string& folder) const;
    bool useCache() const;
    void log(const std::string& text);

    void enterFolder(int row) override;
    void deleteSelection(bool) override { deleteSelected(); }
    void copySelection() override { copyUrls(); }
    bool renameEntry(const std::string& oldName, const QString& newText) override;
    QMimeData* dragData() const override;
    bool acceptsDrop(const QMimeData* data) const override;
    void onDrop(const QMimeData* data, int row, Qt::KeyboardModifiers modifiers) override;
    void updateMenu(int clickedRow, int selectedCount) override;

    OpenSession* m_session;
    CSharedSettings& m_settings;
    PaneTransfer& m_transfers;
    RemoteFileModel* m_model;
    // The folder row the context menu was opened on (-1: none), for "Cache Directory...".
    int m_clickedRow = -1;
    std::string m_path;
    // The pane asked the session for a folder change or a listing and takes the next one.
    bool m_awaitingListing = true;
    // The name selected again after the next listing (the folder just left, the entry
    // selected before a refresh).
    std::string m_remembered;
    // selectWhenListed(): the folder and the name to select once that folder is shown.
    std::string m_selectFolder;
    std::string m_selectName;
};
