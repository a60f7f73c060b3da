#pragma once
// The program's main window: menus, toolbar, quick-connect bar and status bar around the
// log, the two site views, the site list and the queue view. It turns commands into work
// on the active session, refreshes the status bar every 500 ms (and gives the sessions
// their keep-alive turn every second), and hands a close to the application's close
// sequence.
//
// The site list and the queue view are built elsewhere; until they land,
// create{SiteListArea,QueueArea}() put plain placeholders where they go.

#include "ui/FrameActions.h"
#include "ui/FrameContext.h"
#include "ui/StatusPanes.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct CListing;
class HistoryList;
class LogPanel;
class LogView;
class OpenSession;
class PaneTransfer;
class RemotePane;
class FilePane;
class SiteView;

class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QToolBar;
class QToolButton;
class QuickConnectBar;
class QueueView;
class ShellTransfer;
class SiteListView;

class MainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kStatusInterval = 500; // ms

    explicit MainFrame(const FrameContext& context, QWidget* parent = nullptr);
    ~MainFrame() override;

    const FrameActions& actions() const { return m_actions; }
    QuickConnectBar* quickConnectBar() const { return m_quickConnect; }
    QToolBar* toolBar() const { return m_toolBar; }
    LogPanel* logPanel() const { return m_logPanel; }
    SiteView* leftSiteView() const { return m_leftSiteView; }
    SiteView* rightSiteView() const { return m_rightSiteView; }
    // The file pane the list styles act on: the one that last had the keyboard focus,
    // else the left view's shown pane.
    FilePane* focusedPane() const;
    PaneTransfer* paneTransfer() const { return m_transfers; }
    QWidget* siteListArea() const { return m_siteListArea; }
    QWidget* queueArea() const { return m_queueArea; }
    QueueView* queueView() const { return m_queueView; }
    SiteListView* siteList() const { return m_siteList; }
    QSplitter* outerSplitter() const { return m_outerSplitter; }
    // The log of an open session (null once it is gone).
    LogView* logOf(OpenSession* session) const;
    // The pane texts as the last refresh left them.
    StatusPanes shownStatus() const { return m_shownStatus; }
    QTimer& statusTimer() { return m_statusTimer; }

    // The application's close sequence. Asked to close, the frame stays open and calls the
    // handler, which ends with closeNow() or leaves the window open (the user cancelled, a
    // save failed). Without a handler the window simply closes.
    void setCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }
    void closeNow();

    // One 500 ms turn: every second turn the keep-alive, every turn the status bar.
    void statusTick();
    void refreshStatusBar();

    // Opens a site record in a new tab of the right site view and connects: what quick
    // connect, URLs and the stored-site menu call.
    RemotePane* openSite(const CSiteSetting& site);
    // "Connect" on the quick-connect bar.
    void quickConnect();
    // Opens an ftp:// URL (or a host) in the right site view; a bad one is reported.
    void openUrl(const QString& text);
    // Imports a queue file as a job; false (and reported) when it could not be read.
    bool importJob(const QString& path, std::vector<OpenSession*>* touched = nullptr);
    // A job from the Jobs menu: imported, then every session it touched is started.
    bool importAndStartJob(const QString& path);
    // Saves the queues of all sessions or of the selected ones. Without a path a file
    // dialog is opened and the save happens when a file is chosen (false returned now).
    // False, and reported, when the file could not be written.
    bool saveQueuesAsJob(bool selectedOnly, const QString& path = {});
    // Files handed over by a later start: the shell transfer dialog.
    void showShellTransfer(const QStringList& files);
    // A command line from this start or from a later one: a ".tvq" job or a URL.
    void handleCommandLine(const QString& commandLine, bool fromOtherStart);
    // A message box with fixed text, never read as rich text; does not block the caller.
    void showMessage(const QString& text, const QString& caption = QStringLiteral("Tollvane"));

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createQuickConnectBar();
    void createStatusBar();
    void createCentralArea();
    QWidget* createLogArea();
    QWidget* createSiteViews();
    QWidget* createSiteListArea();
    QWidget* createQueueArea();
    QToolButton* addDropDown(QAction* action, QMenu* menu);
    // Rows 2/11, 6/11 and 3/11 of the height; the site views half the width each; the site
    // list 150 pixels and the queue the rest.
    void applySplitterProportions();
    void fillJobsMenu(QMenu* menu);
    void fillSiteManagerMenu(QMenu* menu);

    void attachSession(OpenSession* session);
    void detachSession(OpenSession* session);
    void showActiveSession(OpenSession* session);
    void updateCommandStates();
    void createListStyleCommands();
    void setTransferType(int type);
    void disconnectActive();
    void openHelpPage(const QString& page);
    void showAbout();

    FrameContext m_context;
    FrameActions m_actions;
    std::unique_ptr<HistoryList> m_urlHistory;
    std::function<void()> m_closeHandler;
    bool m_closeConfirmed = false;

    QToolBar* m_toolBar = nullptr;
    QuickConnectBar* m_quickConnect = nullptr;
    QSplitter* m_outerSplitter = nullptr;
    QSplitter* m_siteViewSplitter = nullptr;
    QSplitter* m_bottomSplitter = nullptr;
    LogPanel* m_logPanel = nullptr;
    SiteView* m_leftSiteView = nullptr;
    SiteView* m_rightSiteView = nullptr;
    QPointer<FilePane> m_focusedPane;
    PaneTransfer* m_transfers = nullptr;
    QWidget* m_siteListArea = nullptr;
    QWidget* m_queueArea = nullptr;
    QueueView* m_queueView = nullptr;
    SiteListView* m_siteList = nullptr;
    std::unique_ptr<ShellTransfer> m_shellTransfer;
    QMenu* m_modeMenu = nullptr;

    QLabel* m_percentPane = nullptr;
    QLabel* m_speedPane = nullptr;
    QProgressBar* m_progressPane = nullptr;
    QLabel* m_addressPane = nullptr;
    QLabel* m_fileNamePane = nullptr;
    StatusPanes m_shownStatus;
    QTimer m_statusTimer;
    unsigned m_ticks = 0;

    std::map<OpenSession*, QPointer<LogView>> m_logs;
};
