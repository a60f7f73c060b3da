#pragma once
// One of the two site views: a row of tabs (remote sites and local folders), a path box
// with "..." and "up" buttons, and the file pane of the selected tab. Sites open here
// through openSite(); a tab moves to the peer view or closes with the questions a busy
// site needs ("abort the transfer?", "preserve the queued files?").

#include "sites/SharedSettings.h"
#include "sites/SiteSetting.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class FilePane;
class HistoryList;
class LocalPane;
class OpenSession;
class PaneTransfer;
class QComboBox;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;
class RemotePane;
class SessionList;

struct SiteViewContext {
    CSharedSettings* settings = nullptr;
    SessionList* sessions = nullptr;
    PaneTransfer* transfers = nullptr;
    std::string dataFolder; // ends in "/"
};

class SiteView : public QWidget {
    Q_OBJECT
public:
    SiteView(const SiteViewContext& context, const QString& name, QWidget* parent = nullptr);
    ~SiteView() override;

    void setPeer(SiteView* peer) { m_peer = peer; }
    SiteView* peer() const { return m_peer; }

    // Opens a site in a new tab of this view: a session for the record, its tab, then
    // the session is made active and started.
    RemotePane* openSite(const CSiteSetting& site);
    // A tab for a session that exists already (one whose queue was kept).
    RemotePane* openSession(OpenSession* session);
    // A local tab; an empty path: the default local folder.
    LocalPane* openLocal(const std::string& path);

    FilePane* currentPane() const;
    RemotePane* paneOf(const OpenSession* session) const;
    int paneCount() const { return int(m_panes.size()); }
    FilePane* pane(int index) const { return m_panes[std::size_t(index)]; }
    void showPane(FilePane* pane);
    // Closes a tab, asking first when its site transfers or has queued files; `closed`
    // runs once the tab is gone.
    void closePane(FilePane* pane, std::function<void()> closed = {});
    void movePaneToPeer(FilePane* pane);
    // The session is going away without its tab being closed: the tab goes at once.
    void dropSession(const OpenSession* session);
    // Enter in the path box.
    void enterPath(const QString& text);
    // Reads every local tab's folder again (after a queue run wrote into them).
    void refreshLocalPanes();
    // The Paste URL dialog for ftp URLs (possibly none yet) to download into `folder`.
    void pasteUrls(const QStringList& urls, const std::string& folder);
    // Downloads of the URLs into `folder` on the site's open session (a new one when
    // there is none or `forceNewSession`); `isFolder`: each names a folder to fetch whole.
    void queuePastedUrls(const QStringList& urls, const std::string& folder, bool isFolder, bool forceNewSession,
                         bool queueOnly);

    QTabBar* tabBar() const { return m_tabs; }
    QComboBox* pathBox() const { return m_pathBox; }

signals:
    void message(const QString& text);
    // A question or dialog this view (or one of its panes) opened; tests answer it.
    void dialogOpened(QWidget* dialog);

private:
    void addPane(FilePane* pane);
    void removePane(FilePane* pane);
    void onTabChanged(int index);
    void showTabMenu(const QPoint& position);
    void updatePathBox();
    void goUp();
    void browse();
    void fillPlacesMenu(QMenu* menu);
    void adopt(FilePane* pane);
    QWidget* dialogParent();

    SiteViewContext m_context;
    QPointer<SiteView> m_peer;
    QTabBar* m_tabs;
    QComboBox* m_pathBox;
    QToolButton* m_browseButton;
    QToolButton* m_upButton;
    QStackedWidget* m_stack;
    std::vector<FilePane*> m_panes; // in tab order
    std::unique_ptr<HistoryList> m_pathHistory;
};
