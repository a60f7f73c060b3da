// The main frame's dialog commands: each opens its dialog, and the sites chosen in the
// Site Manager, in the toolbar's Site Manager menu and in the offline search's results
// open as sessions (against a pyftpdlib server the test starts).

#include "sites/MemorySettingsStore.h"
#include "tests/support/FtpServers.h"
#include "ui/MainFrame.h"
#include "ui/OfflineSearchDialog.h"
#include "ui/OpenSession.h"
#include "ui/OptionsSheet.h"
#include "ui/SessionList.h"
#include "ui/SiteManagerDialog.h"

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
    void anOfflineSearchResultOpensItsSiteAtItsFolder();

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

void FrameDialogsTest::anOfflineSearchResultOpensItsSiteAtItsFolder()
{
    const std::string folder = m_settings.Current()->CacheHomeDirectory + "/" + m_server.host() + "/pub";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/files.lis") << "drwxr-xr-x 2 u g 4096 Jan 1 2004 docs\r\n";

    m_frame->actions().offlineSearch->trigger();
    auto* dialog = OpenDialog<OfflineSearchDialog>(m_frame.get());
    QVERIFY(dialog);
    m_frame->actions().offlineSearch->trigger(); // one window at a time
    QCOMPARE(m_frame->findChildren<OfflineSearchDialog*>().size(), 1);

    dialog->moveAllToSearch();
    dialog->findChild<QLineEdit*>("searchPattern")->setText("docs");
    dialog->searchOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->state() == OfflineSearchDialog::State::Idle, 30000);
    QCOMPARE(dialog->results().rowCount(), 1);
    dialog->findChild<QTableView*>("resultList")->setCurrentIndex(dialog->results().index(0, 0));
    dialog->openInTollvane();
    QCOMPARE(m_sessions->sessions().size(), size_t(1));
    const CSiteSetting& site = m_sessions->active()->site();
    QCOMPARE(site.name, std::string("local")); // the stored site with that address
    QCOMPARE(site.defremotedir, std::string("/pub/"));
    QTRY_VERIFY_WITH_TIMEOUT(m_sessions->active()->session().IsLoggedIn(), 30000);
}

QTEST_MAIN(FrameDialogsTest)
#include "FrameDialogsTest.moc"
