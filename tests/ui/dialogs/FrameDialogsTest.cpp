// The main frame's dialog commands: each opens its dialog, and the sites chosen in the
// Site Manager, in the toolbar's Site Manager menu and in the offline search's results
// open as sessions (against a pyftpdlib server the test starts); a search hit opens the
// site of its server and account at its folder with the entry selected.

#include "sites/MemorySettingsStore.h"
#include "tests/support/FtpServers.h"
#include "ui/MainFrame.h"
#include "ui/OfflineSearchDialog.h"
#include "ui/OpenSession.h"
#include "ui/OptionsSheet.h"
#include "ui/RemoteFileModel.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"
#include "ui/SiteManagerDialog.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QLineEdit>
#include <QTableView>
#include <QMenu>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <filesystem>
#include <fstream>

namespace {

template <class Dialog>
Dialog* OpenDialog(QWidget* frame)
{
    for (Dialog* dialog : frame->findChildren<Dialog*>())
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

class FrameDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void settingsAppliesAndWritesOnOk();
    void siteManagerConnectOpensTheSite();
    void theToolbarMenuListsTheSitesAndOpensOne();
    void anOfflineSearchHitOpensItsSiteAccountAndSelectsTheEntry();

private:
    FrameContext context()
    {
        FrameContext c;
        c.settings = &m_settings;
        c.sites = &m_sites;
        c.sessions = m_sessions.get();
        c.dataFolder = m_home.path().toStdString() + "/";
        c.settingsStore = &m_store;
        return c;
    }

    QTemporaryDir m_home;
    tvtest::PyftpdlibServer m_server;
    CSharedSettings m_settings;
    SiteList m_sites;
    MemorySettingsStore m_store;
    std::unique_ptr<SessionList> m_sessions;
    std::unique_ptr<MainFrame> m_frame;
};

void FrameDialogsTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
    QVERIFY2(m_server.start(), m_server.error().c_str());
    m_server.createFolder("pub/docs");
}

void FrameDialogsTest::init()
{
    CSettings table;
    table.CacheHomeDirectory = m_home.path().toStdString() + "/cache";
    m_settings.Replace(table);
    m_sites.clear();
    auto site = std::make_unique<CSiteSetting>();
    site->name = "local";
    site->address = m_server.host();
    site->port = m_server.port();
    site->passive = 1;
    m_sites.push_back(std::move(site));
    m_sessions = std::make_unique<SessionList>(m_settings);
    m_frame = std::make_unique<MainFrame>(context());
    m_frame->show();
}

void FrameDialogsTest::cleanup()
{
    m_frame.reset();
    m_sessions->clear();
    m_sessions.reset();
}

void FrameDialogsTest::settingsAppliesAndWritesOnOk()
{
    QVERIFY(m_frame->actions().settings->isEnabled());
    m_frame->actions().settings->trigger();
    auto* sheet = OpenDialog<OptionsSheet>(m_frame.get());
    QVERIFY(sheet);
    sheet->findChild<QSpinBox*>("timeout")->setValue(7);
    sheet->accept();
    QCOMPARE(m_settings.Current()->Timeout, 7);
    QCOMPARE(m_store.ReadInt("Timeout"), std::optional<int>(7));
}

void FrameDialogsTest::siteManagerConnectOpensTheSite()
{
    m_frame->actions().siteManager->trigger();
    auto* dialog = OpenDialog<SiteManagerDialog>(m_frame.get());
    QVERIFY(dialog);
    dialog->connectSite();
    QCOMPARE(m_sessions->sessions().size(), size_t(1));
    QCOMPARE(m_sessions->active()->site().name, std::string("local"));
    QTRY_VERIFY_WITH_TIMEOUT(m_sessions->active()->session().IsLoggedIn(), 30000);
    QVERIFY(std::filesystem::exists(m_home.path().toStdString() + "/site.dat"));
}

void FrameDialogsTest::theToolbarMenuListsTheSitesAndOpensOne()
{
    QToolButton* button = nullptr;
    for (QToolButton* candidate : m_frame->toolBar()->findChildren<QToolButton*>())
        if (candidate->defaultAction() == m_frame->actions().siteManager)
            button = candidate;
    QVERIFY(button && button->menu());
    QMenu* menu = button->menu();
    emit menu->aboutToShow();
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("local"));
    menu->actions().first()->trigger();
    QCOMPARE(m_sessions->sessions().size(), size_t(1));
    QCOMPARE(m_sessions->active()->site().port, m_server.port());
}

void FrameDialogsTest::anOfflineSearchHitOpensItsSiteAccountAndSelectsTheEntry()
{
    QVERIFY(m_server.hasUser());
    m_server.createFile("pub/docs/a.txt", "a");
    m_server.createFile("pub/docs/report.txt", "report");
    m_server.createFile("pub/docs/z.txt", "z");
    m_server.createFile("pub/docs/new.txt", "not cached yet");
    // Before the right records: the same server with another account, and the same account
    // on another port. Neither may be opened, and neither could log in.
    const auto record = [](const std::string& name, const std::string& address, int port, const std::string& user,
                           const std::string& password) {
        auto site = std::make_unique<CSiteSetting>();
        site->name = name;
        site->address = address;
        site->port = port;
        site->username = user;
        site->password = password;
        site->logintype = CSiteSetting::LOGIN_NORMAL;
        site->passive = 1;
        return site;
    };
    m_sites.insert(m_sites.begin(), record("other account", m_server.host(), m_server.port(), "nobody", "wrong"));
    m_sites.insert(m_sites.begin(), record("other port", m_server.host(), m_server.port() + 1, m_server.userName(), "wrong"));
    m_sites.push_back(record("account", m_server.host(), m_server.port(), m_server.userName(), m_server.password()));

    // The cache as the sessions of the account and of the anonymous site ("local") name it.
    const std::string home = m_settings.Current()->CacheHomeDirectory;
    const std::string listing = "-rw-r--r-- 1 u g 1 Jan 1 2004 a.txt\r\n"
                                "-rw-r--r-- 1 u g 6 Jan 1 2004 report.txt\r\n"
                                "-rw-r--r-- 1 u g 1 Jan 1 2004 z.txt\r\n";
    const std::string anonymousFolder = home + "/" + m_server.host() + ":" + std::to_string(m_server.port());
    const std::string accountFolder = home + "/" + m_server.userName() + "@" + m_server.host() + ":" +
                                      std::to_string(m_server.port());
    for (const std::string& site : {anonymousFolder, accountFolder}) {
        std::filesystem::create_directories(site + "/pub/docs");
        std::ofstream(site + "/pub/docs/files.lis", std::ios::binary) << listing;
    }

    m_frame->actions().offlineSearch->trigger();
    auto* dialog = OpenDialog<OfflineSearchDialog>(m_frame.get());
    QVERIFY(dialog);
    m_frame->actions().offlineSearch->trigger(); // one window at a time
    QCOMPARE(m_frame->findChildren<OfflineSearchDialog*>().size(), 1);
    dialog->moveAllToSearch();
    dialog->findChild<QLineEdit*>("searchPattern")->setText("report.txt");
    dialog->searchOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->state() == OfflineSearchDialog::State::Idle, 30000);
    QCOMPARE(dialog->results().rowCount(), 2);
    QCOMPARE(dialog->results().url(1), "ftp://" + m_server.userName() + "@" + m_server.host() + ":" +
                                           std::to_string(m_server.port()) + "/pub/docs/report.txt");

    // Row 1 is the account's hit, row 0 the anonymous one's.
    const struct {
        int row;
        const char* siteName;
    } hits[] = {{1, "account"}, {0, "local"}};
    for (const auto& hit : hits) {
        dialog->findChild<QTableView*>("resultList")->setCurrentIndex(dialog->results().index(hit.row, 0));
        dialog->openInTollvane();
        OpenSession* session = m_sessions->active();
        QVERIFY(session);
        QCOMPARE(session->site().name, std::string(hit.siteName));
        QCOMPARE(session->site().port, m_server.port());
        QCOMPARE(session->site().defremotedir, std::string("/pub/docs/"));
        QTRY_VERIFY_WITH_TIMEOUT(session->session().IsLoggedIn(), 30000);
        RemotePane* pane = m_frame->rightSiteView()->paneOf(session);
        QVERIFY(pane);
        // The cached listing (three files) shows first; the server's (four) replaces it, and
        // the hit is selected in that one.
        QCOMPARE(QString::fromStdString(pane->currentPath()), QStringLiteral("/pub/docs"));
        QTRY_COMPARE_WITH_TIMEOUT(pane->model()->rowCount(), 4, 30000);
        QCOMPARE(QString::fromStdString(pane->currentPath()), QStringLiteral("/pub/docs"));
        QTRY_COMPARE_WITH_TIMEOUT(pane->selectedEntries().size(), size_t(1), 30000);
        QCOMPARE(pane->selectedEntries().front().strName, std::string("report.txt"));
    }
    QCOMPARE(m_sessions->sessions().size(), size_t(2));
}

QTEST_MAIN(FrameDialogsTest)
#include "FrameDialogsTest.moc"
