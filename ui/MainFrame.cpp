#include "ui/MainFrame.h"

#include "session/Jobs.h"
#include "session/QueueFiles.h"
#include "sites/FtpUrl.h"
#include "sites/HistoryFile.h"
#include "listing/PathRules.h"
#include "ui/AppIcon.h"
#include "ui/DisplayText.h"
#include "ui/FilePane.h"
#include "ui/FrameDialogs.h"
#include "ui/LogPanel.h"
#include "ui/LogView.h"
#include "ui/OpenSession.h"
#include "ui/JobFiles.h"
#include "ui/LocalPane.h"
#include "ui/PaneTransfer.h"
#include "ui/QueueView.h"
#include "ui/QuickConnectBar.h"
#include "ui/RemotePane.h"
#include "ui/ShellTransfer.h"
#include "ui/ShellTransferDialog.h"
#include "ui/SiteListView.h"
#include "ui/SessionList.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace {

constexpr char kUrlHistoryName[] = "urlhis.txt";

QAction* MakeAction(QObject* parent, const QString& text, const QString& name,
                    const QString& themeIcon = {}, bool checkable = false)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(name);
    if (!themeIcon.isEmpty())
        action->setIcon(QIcon::fromTheme(themeIcon));
    action->setCheckable(checkable);
    return action;
}

QLabel* StatusLabel(const QString& name, int minimumWidth, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAccessibleName(name);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(minimumWidth);
    return label;
}

} // namespace

MainFrame::MainFrame(const FrameContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context),
      m_urlHistory(std::make_unique<HistoryList>(JoinPath(context.dataFolder, kUrlHistoryName),
                                                 HistoryList::Order::Sorted))
{
    setObjectName(QStringLiteral("mainFrame"));
    setAccessibleName(QStringLiteral("Tollvane"));
    setWindowTitle(QStringLiteral("Tollvane"));
    setWindowIcon(ApplicationIcon());
    m_urlHistory->LoadHistory();

    createActions();
    createMenus();
    createToolBar();
    createQuickConnectBar();
    createStatusBar();
    createCentralArea();

    SessionList* sessions = m_context.sessions;
    for (const auto& session : sessions->sessions())
        attachSession(session.get());
    connect(sessions, &SessionList::sessionAdded, this, &MainFrame::attachSession);
    connect(sessions, &SessionList::sessionRemoved, this, &MainFrame::detachSession);
    connect(sessions, &SessionList::activeChanged, this, &MainFrame::showActiveSession);
    showActiveSession(sessions->active());

    m_statusTimer.setInterval(kStatusInterval);
    connect(&m_statusTimer, &QTimer::timeout, this, &MainFrame::statusTick);
    m_statusTimer.start();
    resize(1000, 720);
}

MainFrame::~MainFrame() = default;

// ---- building the window ----

void MainFrame::createActions()
{
    FrameActions& a = m_actions;
    a.openClipboardUrl = MakeAction(this, QStringLiteral("Open Clip&board URL"), QStringLiteral("openClipboardUrl"), QStringLiteral("edit-paste"));
    a.siteManager = MakeAction(this, QStringLiteral("Site &Manager"), QStringLiteral("siteManager"), QStringLiteral("network-server"));
    a.exit = MakeAction(this, QStringLiteral("E&xit"), QStringLiteral("exit"), QStringLiteral("application-exit"));
    a.exit->setShortcut(QKeySequence::Quit);

    a.showToolBar = MakeAction(this, QStringLiteral("&Toolbar"), QStringLiteral("showToolBar"), {}, true);
    a.showStatusBar = MakeAction(this, QStringLiteral("&Status Bar"), QStringLiteral("showStatusBar"), {}, true);
    a.showQuickConnectBar = MakeAction(this, QStringLiteral("&Quick Connect Bar"), QStringLiteral("showQuickConnectBar"), {}, true);
    a.alwaysOnline = MakeAction(this, QStringLiteral("Always &Online"), QStringLiteral("alwaysOnline"), QStringLiteral("network-wired"), true);
    a.largeIcons = MakeAction(this, QStringLiteral("Lar&ge Icons"), QStringLiteral("largeIcons"), {}, true);
    a.smallIcons = MakeAction(this, QStringLiteral("S&mall Icons"), QStringLiteral("smallIcons"), {}, true);
    a.listStyle = MakeAction(this, QStringLiteral("&List"), QStringLiteral("listStyle"), {}, true);
    a.details = MakeAction(this, QStringLiteral("&Details"), QStringLiteral("details"), {}, true);
    a.nextListStyle = MakeAction(this, QStringLiteral("List Style"), QStringLiteral("nextListStyle"), QStringLiteral("view-list-details"));
    createListStyleCommands();

    a.startTransfer = MakeAction(this, QStringLiteral("&Start"), QStringLiteral("startTransfer"), QStringLiteral("media-playback-start"));
    a.stopTransfer = MakeAction(this, QStringLiteral("S&top"), QStringLiteral("stopTransfer"), QStringLiteral("media-playback-stop"));

    a.modeAscii = MakeAction(this, QStringLiteral("&ASCII"), QStringLiteral("modeAscii"), {}, true);
    a.modeBinary = MakeAction(this, QStringLiteral("&Binary"), QStringLiteral("modeBinary"), {}, true);
    a.modeAuto = MakeAction(this, QStringLiteral("A&uto"), QStringLiteral("modeAuto"), {}, true);
    auto* modes = new QActionGroup(this);
    int type = 0;
    for (QAction* mode : {a.modeAscii, a.modeBinary, a.modeAuto}) {
        modes->addAction(mode);
        connect(mode, &QAction::triggered, this, [this, type] { setTransferType(type); });
        ++type;
    }

    a.clearQueue = MakeAction(this, QStringLiteral("&Clear Queue"), QStringLiteral("clearQueue"), QStringLiteral("edit-clear"));
    a.resetQueue = MakeAction(this, QStringLiteral("&Reset Queue"), QStringLiteral("resetQueue"), QStringLiteral("view-refresh"));
    a.saveAllQueues = MakeAction(this, QStringLiteral("&Save All Queues As Job..."), QStringLiteral("saveAllQueues"), QStringLiteral("document-save-as"));
    a.importJob = MakeAction(this, QStringLiteral("&Import Job..."), QStringLiteral("importJob"), QStringLiteral("document-open"));

    a.offlineSearch = MakeAction(this, QStringLiteral("Offline &Search"), QStringLiteral("offlineSearch"), QStringLiteral("edit-find"));
    a.settings = MakeAction(this, QStringLiteral("Se&ttings..."), QStringLiteral("settings"), QStringLiteral("preferences-system"));
    ConnectFrameDialogs(*this, m_context);

    a.helpContents = MakeAction(this, QStringLiteral("&Contents"), QStringLiteral("helpContents"), QStringLiteral("help-contents"));
    a.helpContents->setShortcut(QKeySequence::HelpContents);
    a.productHomepage = MakeAction(this, QStringLiteral("Product &Homepage"), QStringLiteral("productHomepage"));
    a.whatsNew = MakeAction(this, QStringLiteral("&What's New"), QStringLiteral("whatsNew"));
    a.download = MakeAction(this, QStringLiteral("&Download"), QStringLiteral("download"));
    a.feedback = MakeAction(this, QStringLiteral("&Feedback"), QStringLiteral("feedback"));
    a.about = MakeAction(this, QStringLiteral("&About Tollvane..."), QStringLiteral("about"), QStringLiteral("help-about"));

    a.reconnect = MakeAction(this, QStringLiteral("&Reconnect"), QStringLiteral("reconnect"), QStringLiteral("view-refresh"));
    a.disconnect = MakeAction(this, QStringLiteral("&Disconnect"), QStringLiteral("disconnect"), QStringLiteral("network-offline"));

    connect(a.exit, &QAction::triggered, this, &QWidget::close);
    connect(a.openClipboardUrl, &QAction::triggered, this, [this] {
        const QString text = QApplication::clipboard()->text().trimmed();
        if (text.isEmpty()) {
            showMessage(QStringLiteral("The clipboard holds no text."));
            return;
        }
        openUrl(text);
    });
    connect(a.alwaysOnline, &QAction::toggled, this, [this](bool on) {
        m_context.settings->Edit([on](CSettings& table) { table.AlwaysRefresh = on ? 1 : 0; });
    });
    a.alwaysOnline->setChecked(m_context.settings->Current()->AlwaysRefresh != 0);

    // Start and Stop act on the sessions selected in the site list; Clear and Reset on the
    // queue the queue view shows.
    connect(a.startTransfer, &QAction::triggered, this, [this] { m_siteList->startSelected(); });
    connect(a.stopTransfer, &QAction::triggered, this, [this] { m_siteList->stopSelected(); });
    connect(a.clearQueue, &QAction::triggered, this, [this] {
        m_queueView->clearQueue();
        updateCommandStates();
    });
    connect(a.resetQueue, &QAction::triggered, this, [this] {
        m_queueView->resetQueue();
        updateCommandStates();
    });
    connect(a.saveAllQueues, &QAction::triggered, this, [this] { saveQueuesAsJob(false); });
    connect(a.importJob, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Import Job"),
                                                          QString::fromStdString(JobsFolder(m_context.dataFolder)),
                                                          QStringLiteral("Queue files (*.tvq);;All files (*)"));
        if (!path.isEmpty())
            importJob(path);
    });
    connect(a.reconnect, &QAction::triggered, this, [this] {
        if (OpenSession* active = m_context.sessions->active())
            active->start();
    });
    connect(a.disconnect, &QAction::triggered, this, &MainFrame::disconnectActive);

    connect(a.helpContents, &QAction::triggered, this, [this] { openHelpPage(QStringLiteral("README.md")); });
    connect(a.productHomepage, &QAction::triggered, this, [this] { openHelpPage(QStringLiteral("README.md")); });
    connect(a.whatsNew, &QAction::triggered, this, [this] { openHelpPage(QStringLiteral("README.md")); });
    connect(a.download, &QAction::triggered, this, [this] { openHelpPage(QStringLiteral("README.md")); });
    connect(a.feedback, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:feedback@tollvane.invalid?subject=Tollvane")));
    });
    connect(a.about, &QAction::triggered, this, &MainFrame::showAbout);
}

void MainFrame::createMenus()
{
    const FrameActions& a = m_actions;
    QMenuBar* bar = menuBar();
    bar->setAccessibleName(QStringLiteral("Menu bar"));
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addActions({a.openClipboardUrl, a.siteManager});
    file->addSeparator();
    file->addAction(a.exit);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->addActions({a.showToolBar, a.showStatusBar, a.showQuickConnectBar});
    view->addSeparator();
    view->addAction(a.alwaysOnline);
    view->addSeparator();
    view->addActions({a.largeIcons, a.smallIcons, a.listStyle, a.details});

    QMenu* transfer = bar->addMenu(QStringLiteral("&Transfer"));
    transfer->addActions({a.startTransfer, a.stopTransfer});
    transfer->addSeparator();
    transfer->addActions({a.reconnect, a.disconnect});

    m_modeMenu = bar->addMenu(QStringLiteral("&Mode"));
    m_modeMenu->addActions({a.modeAscii, a.modeBinary, a.modeAuto});

    QMenu* queue = bar->addMenu(QStringLiteral("&Queue"));
    queue->addActions({a.clearQueue, a.resetQueue});
    queue->addSeparator();
    queue->addActions({a.saveAllQueues, a.importJob});

    QMenu* tools = bar->addMenu(QStringLiteral("T&ools"));
    tools->addActions({a.offlineSearch, a.settings});

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(a.helpContents);
    help->addSeparator();
    help->addActions({a.productHomepage, a.whatsNew, a.download, a.feedback});
    help->addSeparator();
    help->addAction(a.about);

    for (QMenu* menu : {file, view, transfer, m_modeMenu, queue, tools, help}) {
        menu->setAccessibleName(QString(menu->title()).remove(QLatin1Char('&')));
        connect(menu, &QMenu::aboutToShow, this, &MainFrame::updateCommandStates);
    }
}

QToolButton* MainFrame::addDropDown(QAction* action, QMenu* menu)
{
    auto* button = new QToolButton(m_toolBar);
    button->setDefaultAction(action);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAccessibleName(QString(action->text()).remove(QLatin1Char('&')));
    m_toolBar->addWidget(button);
    return button;
}

void MainFrame::createToolBar()
{
    const FrameActions& a = m_actions;
    m_toolBar = addToolBar(QStringLiteral("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setAccessibleName(QStringLiteral("Toolbar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    auto* siteMenu = new QMenu(QStringLiteral("Sites"), this);
    connect(siteMenu, &QMenu::aboutToShow, this, [this, siteMenu] { fillSiteManagerMenu(siteMenu); });
    addDropDown(a.siteManager, siteMenu)->setEnabled(true); // the stored sites open without the dialog

    m_toolBar->addSeparator();
    m_toolBar->addActions({a.reconnect, a.disconnect});
    auto* onlineMenu = new QMenu(QStringLiteral("Always Online"), this);
    onlineMenu->addActions({a.alwaysOnline, a.reconnect, a.disconnect});
    addDropDown(a.alwaysOnline, onlineMenu);

    m_toolBar->addSeparator();
    m_toolBar->addActions({a.startTransfer, a.stopTransfer});
    auto* modeAction = MakeAction(this, QStringLiteral("Transfer Mode"), QStringLiteral("transferMode"), QStringLiteral("text-x-generic"));
    auto* modeMenu = new QMenu(QStringLiteral("Transfer Mode"), this);
    modeMenu->addActions({a.modeAscii, a.modeBinary, a.modeAuto});
    connect(modeMenu, &QMenu::aboutToShow, this, &MainFrame::updateCommandStates);
    QToolButton* modeButton = addDropDown(modeAction, modeMenu);
    connect(modeAction, &QAction::triggered, modeButton, &QToolButton::showMenu);

    auto* jobsAction = MakeAction(this, QStringLiteral("Jobs"), QStringLiteral("jobs"), QStringLiteral("document-open-recent"));
    auto* jobsMenu = new QMenu(QStringLiteral("Jobs"), this);
    connect(jobsMenu, &QMenu::aboutToShow, this, [this, jobsMenu] { fillJobsMenu(jobsMenu); });
    QToolButton* jobsButton = addDropDown(jobsAction, jobsMenu);
    connect(jobsAction, &QAction::triggered, jobsButton, &QToolButton::showMenu);

    auto* styleMenu = new QMenu(QStringLiteral("List Style"), this);
    styleMenu->addActions({a.largeIcons, a.smallIcons, a.listStyle, a.details});
    addDropDown(a.nextListStyle, styleMenu);

    m_toolBar->addSeparator();
    m_toolBar->addActions({a.offlineSearch, a.settings});

    a.showToolBar->setChecked(true);
    connect(a.showToolBar, &QAction::toggled, m_toolBar, &QWidget::setVisible);
    connect(m_toolBar, &QToolBar::visibilityChanged, a.showToolBar, &QAction::setChecked);
}

void MainFrame::createQuickConnectBar()
{
    addToolBarBreak();
    m_quickConnect = new QuickConnectBar(this);
    addToolBar(Qt::TopToolBarArea, m_quickConnect);
    m_quickConnect->load(*m_context.settings->Current(), m_urlHistory->Entries());
    connect(m_quickConnect, &QuickConnectBar::connectRequested, this, &MainFrame::quickConnect);
    m_actions.showQuickConnectBar->setChecked(true);
    connect(m_actions.showQuickConnectBar, &QAction::toggled, m_quickConnect, &QWidget::setVisible);
    connect(m_quickConnect, &QToolBar::visibilityChanged, m_actions.showQuickConnectBar, &QAction::setChecked);
}

void MainFrame::createStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setAccessibleName(QStringLiteral("Status bar"));
    m_percentPane = StatusLabel(QStringLiteral("Percent"), 160, bar);
    m_speedPane = StatusLabel(QStringLiteral("Speed"), 110, bar);
    m_progressPane = new QProgressBar(bar);
    m_progressPane->setObjectName(QStringLiteral("Progress"));
    m_progressPane->setAccessibleName(QStringLiteral("Progress"));
    m_progressPane->setRange(0, 100);
    m_progressPane->setMaximumWidth(140);
    m_progressPane->setVisible(false);
    m_addressPane = StatusLabel(QStringLiteral("Address"), 120, bar);
    m_fileNamePane = StatusLabel(QStringLiteral("File Name"), 160, bar);
    bar->addWidget(m_fileNamePane, 1);
    bar->addPermanentWidget(m_percentPane);
    bar->addPermanentWidget(m_speedPane);
    bar->addPermanentWidget(m_progressPane);
    bar->addPermanentWidget(m_addressPane);
    m_actions.showStatusBar->setChecked(true);
    connect(m_actions.showStatusBar, &QAction::toggled, bar, &QWidget::setVisible);
}

void MainFrame::createCentralArea()
{
    // Rows: log 2/11, site views 6/11, site list and queue 3/11 of the height. Columns:
    // the two site views half each; the site list 150 pixels, the queue the rest.
    m_outerSplitter = new QSplitter(Qt::Vertical, this);
    m_outerSplitter->setObjectName(QStringLiteral("outerSplitter"));
    m_outerSplitter->setChildrenCollapsible(false);
    m_outerSplitter->addWidget(createLogArea());

    m_outerSplitter->addWidget(createSiteViews());

    auto* bottom = m_bottomSplitter = new QSplitter(Qt::Horizontal, m_outerSplitter);
    bottom->setObjectName(QStringLiteral("bottomSplitter"));
    bottom->setChildrenCollapsible(false);
    bottom->addWidget(createSiteListArea());
    bottom->addWidget(createQueueArea());
    bottom->setStretchFactor(0, 0);
    bottom->setStretchFactor(1, 1);
    bottom->setSizes({150, 850});
    m_outerSplitter->addWidget(bottom);

    m_outerSplitter->setStretchFactor(0, 2);
    m_outerSplitter->setStretchFactor(1, 6);
    m_outerSplitter->setStretchFactor(2, 3);
    m_outerSplitter->setSizes({200, 600, 300});
    setCentralWidget(m_outerSplitter);
}

QWidget* MainFrame::createLogArea()
{
    m_logPanel = new LogPanel(this);
    m_logPanel->setMinimumSize(10, 10);
    return m_logPanel;
}

QWidget* MainFrame::createSiteViews()
{
    auto* views = m_siteViewSplitter = new QSplitter(Qt::Horizontal, this);
    views->setObjectName(QStringLiteral("siteViewSplitter"));
    views->setChildrenCollapsible(false);
    m_transfers = new PaneTransfer(*m_context.settings, this, this);
    connect(m_transfers, &PaneTransfer::failed, this, [this](const QString& text) { showMessage(text); });
    const SiteViewContext context{m_context.settings, m_context.sessions, m_transfers, m_context.dataFolder};
    m_leftSiteView = new SiteView(context, QStringLiteral("Left site view"), views);
    m_leftSiteView->setObjectName(QStringLiteral("leftSiteView"));
    m_rightSiteView = new SiteView(context, QStringLiteral("Right site view"), views);
    m_rightSiteView->setObjectName(QStringLiteral("rightSiteView"));
    m_leftSiteView->setPeer(m_rightSiteView);
    m_rightSiteView->setPeer(m_leftSiteView);
    for (SiteView* view : {m_leftSiteView, m_rightSiteView})
        connect(view, &SiteView::message, this, [this](const QString& text) { showMessage(text); });
    views->addWidget(m_leftSiteView);
    views->addWidget(m_rightSiteView);
    views->setStretchFactor(0, 1);
    views->setStretchFactor(1, 1);
    m_leftSiteView->openLocal(m_context.settings->Current()->DefaultLocalDirectory);
    return views;
}

QWidget* MainFrame::createSiteListArea()
{
    m_siteList = new SiteListView(*m_context.sessions, this);
    m_siteList->setMinimumSize(10, 10);
    m_siteListArea = m_siteList;
    m_shellTransfer = std::make_unique<ShellTransfer>(*m_context.sessions, *m_context.sites, *m_context.settings);
    connect(m_siteList, &SiteListView::saveQueuesRequested, this, [this](bool selectedOnly) { saveQueuesAsJob(selectedOnly); });
    connect(m_siteList, &SiteListView::importJobRequested, m_actions.importJob, &QAction::trigger);
    connect(m_siteList, &QListWidget::itemSelectionChanged, this, &MainFrame::updateCommandStates);
    return m_siteListArea;
}

QWidget* MainFrame::createQueueArea()
{
    m_queueView = new QueueView(this);
    m_queueView->setMinimumSize(10, 10);
    m_queueArea = m_queueView;
    m_queueView->setSession(m_siteList->focusedSession());
    connect(m_siteList, &SiteListView::shownSessionChanged, m_queueView, &QueueView::setSession);
    connect(m_queueView, &QueueView::message, this, [this](const QString& text) { showMessage(text); });
    connect(m_queueView, &QueueView::queueOfClosedSessionCleared, this, [this](OpenSession* session) {
        // Kept only for its queue, the session has nothing left to show.
        QTimer::singleShot(0, this, [this, session] { m_context.sessions->remove(session); });
    });
    connect(&m_statusTimer, &QTimer::timeout, m_queueView, &QueueView::tick);
    connect(&m_statusTimer, &QTimer::timeout, m_siteList, &SiteListView::refreshStates);
    return m_queueArea;
}

void MainFrame::fillJobsMenu(QMenu* menu)
{
    menu->clear();
    const CJobList jobs = ListJobs(m_context.dataFolder);
    if (!jobs.error.empty()) {
        menu->addAction(DisplayText(jobs.error))->setEnabled(false);
        // Shown once the menu is gone, as the message it is.
        QTimer::singleShot(0, this, [this, error = jobs.error] { showMessage(DisplayText(error)); });
        return;
    }
    for (const std::string& name : jobs.names) {
        const QString path = QString::fromStdString(JobsFolder(m_context.dataFolder) + name);
        QAction* job = menu->addAction(DisplayText(name));
        connect(job, &QAction::triggered, this, [this, path] { importAndStartJob(path); });
    }
}

void MainFrame::fillSiteManagerMenu(QMenu* menu)
{
    menu->clear();
    for (const auto& site : *m_context.sites) {
        QAction* entry = menu->addAction(QIcon::fromTheme(QStringLiteral("network-server")), DisplayText(site->name));
        const CSiteSetting record = *site;
        connect(entry, &QAction::triggered, this, [this, record] { openSite(record); });
    }
    if (menu->isEmpty())
        menu->addAction(QStringLiteral("No stored sites"))->setEnabled(false);
}

// ---- sessions ----

LogView* MainFrame::logOf(OpenSession* session) const
{
    const auto it = m_logs.find(session);
    return it == m_logs.end() ? nullptr : it->second.data();
}

void MainFrame::attachSession(OpenSession* session)
{
    LogView* log = m_logPanel->createLog();
    log->setAccessibleName(QStringLiteral("Log of %1").arg(DisplayText(session->site().address)));
    m_logs[session] = log;
    QtSessionUi& bridge = session->bridge();
    bridge.setDialogParent(this);
    connect(&bridge, &QtSessionUi::logLinesArrived, log, &LogView::addLines);
    connect(&bridge, &QtSessionUi::directoryChanged, this, [this, session](const std::string&) {
        if (m_context.sessions->active() == session)
            updateCommandStates();
    });
    connect(&bridge, &QtSessionUi::questionOpened, this, [](QDialog* dialog) {
        dialog->raise();
        dialog->activateWindow();
    });
    connect(&bridge, &QtSessionUi::openFileRequested, this, [this](const std::string& path, int how) {
        const QString local = QString::fromStdString(path);
        if (how == OPEN_WITH_VIEWER && !m_context.settings->Current()->ViewerPath.empty())
            QProcess::startDetached(QString::fromStdString(m_context.settings->Current()->ViewerPath), {local});
        else
            QDesktopServices::openUrl(QUrl::fromLocalFile(local));
    });
    m_logPanel->showLog(logOf(m_context.sessions->active()));
}

void MainFrame::detachSession(OpenSession* session)
{
    m_leftSiteView->dropSession(session);
    m_rightSiteView->dropSession(session);
    m_logPanel->removeLog(logOf(session));
    m_logs.erase(session);
}

void MainFrame::showActiveSession(OpenSession* session)
{
    m_logPanel->showLog(logOf(session));
    if (session) {
        // A session whose queue was kept has no tab until it is started again.
        SiteView* view = m_leftSiteView->paneOf(session) ? m_leftSiteView : m_rightSiteView;
        RemotePane* pane = view->paneOf(session);
        if (!pane)
            pane = view->openSession(session);
        view->showPane(pane);
        setWindowTitle(QStringLiteral("Tollvane - ") + DisplayText(session->session().HostName()));
    } else {
        setWindowTitle(QStringLiteral("Tollvane"));
    }
    updateCommandStates();
    refreshStatusBar();
}

void MainFrame::createListStyleCommands()
{
    const FrameActions& a = m_actions;
    auto* styles = new QActionGroup(this);
    QAction* const ordered[] = {a.largeIcons, a.smallIcons, a.listStyle, a.details};
    for (int style = 0; style < 4; ++style) {
        QAction* command = ordered[style];
        styles->addAction(command);
        connect(command, &QAction::triggered, this, [this, style] {
            if (FilePane* pane = focusedPane())
                pane->setViewStyle(PaneViewStyle(style));
            updateCommandStates();
        });
    }
    connect(a.nextListStyle, &QAction::triggered, this, [this] {
        if (FilePane* pane = focusedPane())
            pane->setViewStyle(PaneViewStyle((int(pane->viewStyle()) + 1) % 4));
        updateCommandStates();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (QWidget* widget = now; widget; widget = widget->parentWidget()) {
            if (auto* pane = qobject_cast<FilePane*>(widget)) {
                m_focusedPane = pane;
                updateCommandStates();
                return;
            }
        }
    });
}

FilePane* MainFrame::focusedPane() const
{
    // A pane that was closed or is no longer shown gives way to a shown one.
    for (SiteView* view : {m_leftSiteView, m_rightSiteView}) {
        if (view && m_focusedPane && view->currentPane() == m_focusedPane)
            return m_focusedPane;
    }
    for (SiteView* view : {m_leftSiteView, m_rightSiteView}) {
        if (view && view->currentPane())
            return view->currentPane();
    }
    return nullptr;
}

void MainFrame::updateCommandStates()
{
    const FrameActions& a = m_actions;
    FilePane* pane = focusedPane();
    QAction* const styleCommands[] = {a.largeIcons, a.smallIcons, a.listStyle, a.details};
    for (int style = 0; style < 4; ++style) {
        QAction* command = styleCommands[style];
        command->setEnabled(pane != nullptr);
        command->setChecked(pane && int(pane->viewStyle()) == style);
    }
    a.nextListStyle->setEnabled(pane != nullptr);
    OpenSession* active = m_context.sessions->active();
    const CFtpSession* session = active ? &active->session() : nullptr;
    for (QAction* mode : {a.modeAscii, a.modeBinary, a.modeAuto})
        mode->setEnabled(session != nullptr);
    if (session) {
        const int type = session->TransferTypeSetting();
        a.modeAscii->setChecked(type == 0);
        a.modeBinary->setChecked(type == 1);
        a.modeAuto->setChecked(type == 2);
    }
    a.startTransfer->setEnabled(m_siteList && m_siteList->canStart());
    a.stopTransfer->setEnabled(m_siteList && m_siteList->canStop());
    OpenSession* shown = m_queueView ? m_queueView->session() : nullptr;
    const bool queued = shown && !shown->session().Queue().IsEmpty();
    a.clearQueue->setEnabled(queued);
    a.resetQueue->setEnabled(queued);
    a.saveAllQueues->setEnabled(!m_context.sessions->sessions().empty());
    a.reconnect->setEnabled(active != nullptr);
    a.disconnect->setEnabled(session && session->IsConnected());
    a.alwaysOnline->setChecked(m_context.settings->Current()->AlwaysRefresh != 0);
}

void MainFrame::setTransferType(int type)
{
    if (OpenSession* active = m_context.sessions->active())
        active->session().SetTransferTypeSetting(type);
}

void MainFrame::disconnectActive()
{
    OpenSession* active = m_context.sessions->active();
    if (!active || !active->session().IsConnected())
        return;
    const auto disconnectSession = [this, active] {
        // The session may have been closed while the question was open.
        for (const auto& owned : m_context.sessions->sessions()) {
            if (owned.get() == active)
                active->session().Disconnect();
        }
    };
    if (!m_context.settings->Current()->pDisconnect) {
        disconnectSession();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, DisplayText(active->session().HostName()),
                                QStringLiteral("Are you sure to close current session?"),
                                QMessageBox::Ok | QMessageBox::Cancel, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::accepted, this, disconnectSession);
    box->open();
}

// ---- status bar ----

void MainFrame::statusTick()
{
    ++m_ticks;
    if (m_ticks % 2 == 0 && m_context.settings->Current()->KeepAlive) {
        for (const auto& owned : m_context.sessions->sessions()) {
            if (owned->session().HasThread())
                owned->session().AntiIdleTick();
        }
    }
    refreshStatusBar();
    updateCommandStates();
}

void MainFrame::refreshStatusBar()
{
    TransferSnapshot snapshot;
    if (OpenSession* active = m_context.sessions->active()) {
        CFtpSession& session = active->session();
        snapshot.hasSession = true;
        snapshot.host = session.HostName();
        snapshot.transferring = session.IsTransferring();
        snapshot.siteToSite = session.PairFlag();
        snapshot.totalBytes = session.ExpectedTransferSize();
        snapshot.doneBytes = session.TransferredBytes();
        snapshot.speedKBps = session.SampleTransferRate();
        snapshot.fileName = session.CurrentFileName();
    }
    m_shownStatus = StatusPanes::From(snapshot);
    m_percentPane->setText(m_shownStatus.percent);
    m_speedPane->setText(m_shownStatus.speed);
    m_addressPane->setText(m_shownStatus.address);
    m_fileNamePane->setText(m_shownStatus.fileName);
    m_progressPane->setVisible(m_shownStatus.progress >= 0);
    if (m_shownStatus.progress >= 0)
        m_progressPane->setValue(m_shownStatus.progress);
}

// ---- opening sites ----

void MainFrame::quickConnect()
{
    const QuickConnectFields fields = m_quickConnect->fields();
    if (m_urlHistory->AddToHistory(fields.url))
        m_quickConnect->setUrlHistory(m_urlHistory->Entries());
    const QuickConnectTarget target = QuickConnectTarget::From(fields, *m_context.settings->Current());
    switch (target.kind) {
    case QuickConnectTarget::Kind::LocalFolder:
        if (auto* local = qobject_cast<LocalPane*>(m_leftSiteView->currentPane()))
            local->showDirectory(target.localFolder);
        else
            m_leftSiteView->openLocal(target.localFolder);
        return;
    case QuickConnectTarget::Kind::Invalid:
        showMessage(DisplayText(target.error));
        return;
    case QuickConnectTarget::Kind::Site:
        openSite(target.site);
        return;
    }
}

void MainFrame::openUrl(const QString& text)
{
    CSiteSetting site;
    std::string error;
    if (!SiteFromUrl(EngineText(text), m_context.settings->Current()->AnonymousPass, site, &error)) {
        showMessage(DisplayText(error));
        return;
    }
    openSite(site);
}

RemotePane* MainFrame::openSite(const CSiteSetting& site)
{
    return m_rightSiteView->openSite(site);
}

bool MainFrame::importJob(const QString& path, std::vector<OpenSession*>* touched)
{
    JobImportResult imported = ImportJobFile(*m_context.sessions, *m_context.sites, *m_context.settings->Current(),
                                             path.toStdString());
    const CQueueLoadResult& result = imported.load;
    if (touched)
        *touched = std::move(imported.touched);
    if (!result.opened) {
        showMessage(DisplayText(result.error));
        return false;
    }
    if (!result.warnings.empty()) {
        QString text = QStringLiteral("Some lines of %1 were left out:\n").arg(path);
        for (const std::string& warning : result.warnings)
            text += DisplayText(warning) + QLatin1Char('\n');
        showMessage(text);
    }
    updateCommandStates();
    return true;
}

bool MainFrame::importAndStartJob(const QString& path)
{
    std::vector<OpenSession*> touched;
    if (!importJob(path, &touched))
        return false;
    SiteListView::startQueues(touched);
    updateCommandStates();
    return true;
}

bool MainFrame::saveQueuesAsJob(bool selectedOnly, const QString& givenPath)
{
    std::vector<OpenSession*> sessions;
    std::vector<std::string> selectedHosts;
    for (int row = 0; row < m_siteList->count(); ++row) {
        OpenSession* session = m_siteList->sessionAt(row);
        const bool selected = m_siteList->item(row)->isSelected();
        if (selected)
            selectedHosts.push_back(session->session().HostName());
        if (!selectedOnly || selected)
            sessions.push_back(session);
    }
    const auto save = [this, sessions](const QString& path) {
        std::string error;
        if (SaveJobFile(sessions, path.toStdString(), &error))
            return true;
        showMessage(QStringLiteral("The job could not be saved: %1").arg(DisplayText(error)));
        return false;
    };
    if (!givenPath.isEmpty())
        return save(givenPath);
    // The file dialog is opened, not run: the queues are written once a file is chosen.
    const QString proposed = QString::fromStdString(JobsFolder(m_context.dataFolder)) +
                             DisplayText(ProposedQueueFileName(selectedOnly, selectedHosts));
    auto* dialog = new QFileDialog(this, selectedOnly ? QStringLiteral("Save Queue As Job") : QStringLiteral("Save All Queues As Job"),
                                   proposed, QStringLiteral("Queue files (*.tvq);;All files (*)"));
    dialog->setObjectName(QStringLiteral("saveJobDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("tvq"));
    dialog->selectFile(proposed);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [save](const QString& path) { save(path); });
    dialog->open();
    return false;
}

void MainFrame::showShellTransfer(const QStringList& files)
{
    if (isMinimized())
        showNormal();
    auto* dialog = new ShellTransferDialog(*m_shellTransfer, files, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &ShellTransferDialog::message, this, [this](const QString& text) { showMessage(text); });
    connect(dialog, &ShellTransferDialog::queued, this, [this](OpenSession* session) {
        m_siteList->selectSession(session, true);
        m_siteList->refreshStates();
        updateCommandStates();
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainFrame::handleCommandLine(const QString& commandLine, bool fromOtherStart)
{
    QString text = commandLine.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    if (text.isEmpty())
        return;
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    const Qt::CaseSensitivity sensitivity = fromOtherStart ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (QFileInfo(text).suffix().compare(QStringLiteral("tvq"), sensitivity) == 0)
        importJob(text);
    else
        openUrl(text);
}

void MainFrame::showMessage(const QString& text, const QString& caption)
{
    auto* box = new QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("frameMessage"));
    box->setAccessibleName(QStringLiteral("Message"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- help ----

void MainFrame::openHelpPage(const QString& page)
{
    const QStringList folders = {
        QApplication::applicationDirPath() + QStringLiteral("/../share/doc/tollvane"),
        QApplication::applicationDirPath() + QStringLiteral("/.."),
        QApplication::applicationDirPath() + QStringLiteral("/../.."),
    };
    for (const QString& folder : folders) {
        const QFileInfo file(QDir(folder).filePath(page));
        if (file.isFile()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(file.canonicalFilePath()));
            return;
        }
    }
    showMessage(QStringLiteral("The help page %1 was not found.").arg(page));
}

void MainFrame::showAbout()
{
    auto* box = new QMessageBox(this);
    box->setWindowTitle(QStringLiteral("About Tollvane"));
    box->setIconPixmap(windowIcon().pixmap(64, 64));
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("Tollvane %1").arg(QApplication::applicationVersion()));
    box->setInformativeText(QStringLiteral("A desktop FTP client: sites side by side with your files, "
                                           "transfer queues that run unattended and survive restarts.\n\n"
                                           "Built with Qt %1.").arg(QString::fromLatin1(qVersion())));
    box->setAccessibleName(QStringLiteral("About Tollvane"));
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainFrame::closeEvent(QCloseEvent* event)
{
    if (m_closeConfirmed || !m_closeHandler) {
        m_statusTimer.stop();
        event->accept();
        return;
    }
    event->ignore();
    m_closeHandler();
}

void MainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    applySplitterProportions();
}

void MainFrame::applySplitterProportions()
{
    const int height = m_outerSplitter->height();
    const int width = m_outerSplitter->width();
    if (height <= 0 || width <= 0)
        return;
    m_outerSplitter->setSizes({height * 2 / 11, height * 6 / 11, height * 3 / 11});
    m_siteViewSplitter->setSizes({width / 2, width - width / 2});
    m_bottomSplitter->setSizes({150, std::max(10, width - 150)});
}

void MainFrame::closeNow()
{
    m_closeConfirmed = true;
    close();
}
