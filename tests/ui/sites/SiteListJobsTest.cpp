// The site list and jobs in the main frame: importing the same job twice, Delete of every
// site, the Jobs menu's messages, a two-site job from the Jobs menu run to the end against
// two pyftpdlib servers, saving queues as a job (and a job that cannot be written), the
// shell transfer dialog's uploads, and which open session a handed-over URL may use.

#include "session/FtpSession.h"
#include "session/Jobs.h"
#include "tests/support/FtpServers.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/QueueModel.h"
#include "ui/QueueView.h"
#include "ui/SessionList.h"
#include "ui/ShellTransfer.h"
#include "ui/ShellTransferDialog.h"
#include "ui/SiteListView.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fstream>

namespace {

constexpr int kWait = 30000;

QMessageBox* OpenMessage(QWidget* frame)
{
    for (QMessageBox* box : frame->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

void WriteFile(const QString& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

// A download line of a job: remote file into a local folder.
std::string DownloadLine(const std::string& remote, const std::string& localFolder, int size)
{
    return "0\t" + remote + "\t0\t" + localFolder + "\t0\t" + std::to_string(size) + "\t*\t0\t1\n";
}

QMenu* JobsMenu(MainFrame& frame)
{
    for (QToolButton* button : frame.findChildren<QToolButton*>())
        if (button->accessibleName() == QStringLiteral("Jobs"))
            return button->menu();
    return nullptr;
}

} // namespace

class SiteListJobsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void importingTheSameJobTwiceQueuesTwiceInOneSession();
    void deleteOfEverySiteLeavesAnEmptyView();
    void jobsMenuMessages();
    void aTwoSiteJobFromTheJobsMenuRunsBothSitesToTheEnd();
    void saveQueueAsJobWritesTheSelectedSitesAndReportsAFailure();
    void handedOverFilesAreQueuedAsUploads();
    void aUrlNamingAUserOrPortTakesOnlyAMatchingSession_data();
    void aUrlNamingAUserOrPortTakesOnlyAMatchingSession();

private:
    FrameContext context(SessionList& sessions)
    {
        return {&m_settings, &m_sites, &sessions, m_home->path().toStdString() + "/"};
    }
    std::unique_ptr<QTemporaryDir> m_home;
    CSharedSettings m_settings;
    SiteList m_sites;
};

void SiteListJobsTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", m_home->path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home->path().toUtf8());
    m_settings.Replace([&] {
        CSettings table;
        table.CacheHomeDirectory = m_home->path().toStdString() + "/cache";
        return table;
    }());
    m_sites.clear();
}

void SiteListJobsTest::importingTheSameJobTwiceQueuesTwiceInOneSession()
{
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    const QString job = m_home->path() + QStringLiteral("/one.tvq");
    WriteFile(job, "[ftp.example.test]\n" + DownloadLine("/a.txt", "/tmp", 3) + DownloadLine("/b.txt", "/tmp", 4) + "\n");
    QVERIFY(frame.importJob(job));
    QVERIFY(frame.importJob(job));
    QCOMPARE(int(sessions.sessions().size()), 1);
    QCOMPARE(int(sessions.sessions().front()->session().Queue().Size()), 4);
    QCOMPARE(frame.siteList()->count(), 1);
    // The imported session is the one shown, with its four rows.
    QCOMPARE(frame.queueView()->session(), sessions.sessions().front().get());
    frame.queueView()->queueModel()->refresh();
    QCOMPARE(frame.queueView()->model()->rowCount(), 4);
    sessions.clear();
}

void SiteListJobsTest::deleteOfEverySiteLeavesAnEmptyView()
{
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    for (const char* host : {"c.example.test", "a.example.test", "b.example.test"}) {
        CSiteSetting site;
        site.address = host;
        OpenSession* session = sessions.add(site);
        auto entry = std::make_unique<CQueueEntry>();
        entry->remotePath = "/x";
        entry->localPath = "/tmp";
        session->session().Queue().Append(std::move(entry));
    }
    SiteListView* list = frame.siteList();
    QCOMPARE(list->count(), 3);
    // Sorted by host, whatever order they were opened in; each shows its state.
    QVERIFY(list->item(0)->text().startsWith(QStringLiteral("a.example.test")));
    QVERIFY(list->item(2)->text().startsWith(QStringLiteral("c.example.test")));
    QCOMPARE(list->item(0)->text(), QStringLiteral("a.example.test (queue waiting)"));

    list->selectAllSessions();
    QCOMPARE(int(list->selectedSessions().size()), 3);
    QCOMPARE(list->focusedSession(), list->sessionAt(2));
    QVERIFY(frame.queueView()->session());

    // Cancel keeps everything.
    list->askDeleteSelected();
    QVERIFY(list->deleteQuestion());
    QCOMPARE(list->deleteQuestion()->text(),
             QStringLiteral("Are you sure to clear entire queue and close session for the selected sites?"));
    list->deleteQuestion()->reject();
    QCOMPARE(int(sessions.sessions().size()), 3);

    QTRY_VERIFY(!list->deleteQuestion());
    list->askDeleteSelected();
    QVERIFY(list->deleteQuestion());
    list->deleteQuestion()->accept();
    QVERIFY(sessions.sessions().empty());
    QCOMPARE(list->count(), 0);
    QCOMPARE(frame.queueView()->session(), nullptr);
    QCOMPARE(frame.queueView()->model()->rowCount(), 0);
}

void SiteListJobsTest::jobsMenuMessages()
{
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    QMenu* jobs = JobsMenu(frame);
    QVERIFY(jobs);
    emit jobs->aboutToShow();
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QCOMPARE(box->text(), QStringLiteral("Jobs folder doesn't exist!"));
    box->accept();
    QTRY_VERIFY(!OpenMessage(&frame));

    QDir().mkpath(QString::fromStdString(JobsFolder(m_home->path().toStdString() + "/")));
    emit jobs->aboutToShow();
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QCOMPARE(box->text(), QStringLiteral("No jobs are defined!"));
    box->accept();
}

void SiteListJobsTest::aTwoSiteJobFromTheJobsMenuRunsBothSitesToTheEnd()
{
    tvtest::PyftpdlibServer first;
    tvtest::PyftpdlibServer second;
    QVERIFY2(first.start(), first.error().c_str());
    QVERIFY2(second.start(), second.error().c_str());
    QVERIFY(first.createFile("one.txt", "first site"));
    QVERIFY(first.createFile("two.txt", "first site, second file"));
    QVERIFY(second.createFile("three.txt", "second site"));
    // Two hosts for the two servers: the job names a host only, the stored sites say
    // which port each host's server listens on.
    for (auto [host, server] : {std::pair{"127.0.0.1", &first}, std::pair{"localhost", &second}}) {
        auto site = std::make_unique<CSiteSetting>();
        site->name = host;
        site->address = host;
        site->port = server->port();
        site->password = "guest@";
        m_sites.push_back(std::move(site));
    }
    const QString received = m_home->path() + QStringLiteral("/received");
    QVERIFY(QDir().mkpath(received));
    const std::string folder = received.toStdString();
    const QString job = QString::fromStdString(JobsFolder(m_home->path().toStdString() + "/")) + QStringLiteral("both.tvq");
    WriteFile(job, "[127.0.0.1]\n" + DownloadLine("/one.txt", folder, 10) + DownloadLine("/two.txt", folder, 23) +
                       "\n[localhost]\n" + DownloadLine("/three.txt", folder, 11) + "\n");

    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    QMenu* jobs = JobsMenu(frame);
    QVERIFY(jobs);
    emit jobs->aboutToShow();
    QAction* both = nullptr;
    for (QAction* action : jobs->actions())
        if (action->text() == QStringLiteral("both.tvq"))
            both = action;
    QVERIFY(both);
    both->trigger();

    QCOMPARE(int(sessions.sessions().size()), 2);
    for (const char* name : {"one.txt", "two.txt", "three.txt"})
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(received + QLatin1Char('/') + QLatin1String(name)), name, kWait);
    for (const auto& session : sessions.sessions())
        QTRY_VERIFY_WITH_TIMEOUT(session->session().Queue().IsEmpty(), kWait);
    QFile three(received + QStringLiteral("/three.txt"));
    QVERIFY(three.open(QIODevice::ReadOnly));
    QCOMPARE(three.readAll(), QByteArray("second site"));
    // The rows went as the files arrived.
    QTRY_COMPARE_WITH_TIMEOUT(frame.queueView()->model()->rowCount(), 0, kWait);
    sessions.clear();
}

void SiteListJobsTest::saveQueueAsJobWritesTheSelectedSitesAndReportsAFailure()
{
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    for (const char* host : {"b.example.test", "a.example.test"}) {
        CSiteSetting site;
        site.address = host;
        OpenSession* session = sessions.add(site);
        auto entry = std::make_unique<CQueueEntry>();
        entry->remotePath = std::string("/from-") + host;
        entry->localPath = "/tmp";
        session->session().Queue().Append(std::move(entry));
    }
    const QString all = m_home->path() + QStringLiteral("/all.tvq");
    QVERIFY(frame.saveQueuesAsJob(false, all));
    QFile file(all);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    // In site-list order: sorted by host.
    QVERIFY2(text.startsWith("[a.example.test]\n"), text.constData());
    QVERIFY(text.contains("[b.example.test]\n"));

    frame.siteList()->selectSession(sessions.sessions().front().get(), true); // b
    const QString selected = m_home->path() + QStringLiteral("/sel.tvq");
    QVERIFY(frame.saveQueuesAsJob(true, selected));
    QFile part(selected);
    QVERIFY(part.open(QIODevice::ReadOnly));
    const QByteArray partText = part.readAll();
    QVERIFY(partText.startsWith("[b.example.test]\n"));
    QVERIFY(!partText.contains("a.example.test"));

    QVERIFY(!frame.saveQueuesAsJob(false, m_home->path() + QStringLiteral("/no/such/folder/x.tvq")));
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QVERIFY2(box->text().startsWith(QStringLiteral("The job could not be saved")), qPrintable(box->text()));
    box->accept();
    sessions.clear();
}

void SiteListJobsTest::handedOverFilesAreQueuedAsUploads()
{
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    const QString first = m_home->path() + QStringLiteral("/first.txt");
    const QString second = m_home->path() + QStringLiteral("/second.txt");
    WriteFile(first, "12345");
    WriteFile(second, "1234567");
    frame.showShellTransfer({first, second});
    ShellTransferDialog* dialog = frame.findChild<ShellTransferDialog*>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->captionLabel()->text(), QStringLiteral("Transfer 2 files to:"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Shell Transfer"));

    // A bad URL keeps the dialog open.
    dialog->destinationEdit()->setText(QStringLiteral("ftp://:99999"));
    QVERIFY(!dialog->transfer());
    QVERIFY(dialog->isVisible());
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QCOMPARE(box->text(), QStringLiteral("Invalid URL!"));
    box->accept();
    QVERIFY(sessions.sessions().empty());

    dialog->destinationEdit()->setText(QStringLiteral("upload.example.test/incoming"));
    dialog->okButton()->click();
    QCOMPARE(int(sessions.sessions().size()), 1);
    OpenSession* session = sessions.sessions().front().get();
    QCOMPARE(session->session().HostName(), std::string("upload.example.test"));
    QVERIFY(!session->session().HasThread()); // "Start Immediately" was off
    std::vector<std::tuple<int, std::string, std::string, std::uint64_t>> entries;
    session->session().Queue().ForEach([&](const CQueueEntry& entry) {
        entries.emplace_back(entry.operation, entry.localPath, entry.remotePath, entry.Size());
    });
    QCOMPARE(int(entries.size()), 2);
    QCOMPARE(entries[0], std::make_tuple(int(QUEUE_UPLOAD), first.toStdString(), std::string("/incoming"), std::uint64_t(5)));
    QCOMPARE(entries[1], std::make_tuple(int(QUEUE_UPLOAD), second.toStdString(), std::string("/incoming"), std::uint64_t(7)));
    QCOMPARE(frame.siteList()->focusedSession(), session);

    // A file that is gone is reported and left out.
    frame.showShellTransfer({m_home->path() + QStringLiteral("/gone.txt")});
    QTRY_VERIFY(frame.findChildren<ShellTransferDialog*>().size() == 1);
    dialog = frame.findChild<ShellTransferDialog*>();
    dialog->destinationEdit()->setText(QStringLiteral("ftp://upload.example.test/incoming"));
    QVERIFY(dialog->transfer());
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QVERIFY2(box->text().endsWith(QStringLiteral("gone.txt not accessible!")), qPrintable(box->text()));
    QCOMPARE(int(session->session().Queue().Size()), 2);
    QCOMPARE(int(sessions.sessions().size()), 1);
    box->accept();

    // A URL that asks for TLS never goes to the plain session of that host.
    frame.showShellTransfer({first});
    QTRY_VERIFY(frame.findChildren<ShellTransferDialog*>().size() == 1);
    dialog = frame.findChild<ShellTransferDialog*>();
    dialog->destinationEdit()->setText(QStringLiteral("ftpes://upload.example.test/incoming"));
    QVERIFY(dialog->transfer());
    QCOMPARE(int(sessions.sessions().size()), 2);
    QCOMPARE(sessions.sessions().back()->session().TlsModeSetting(), int(CSiteSetting::ENCRYPTION_REQUIRE));
    QCOMPARE(int(session->session().Queue().Size()), 2);
    sessions.clear();
}

void SiteListJobsTest::aUrlNamingAUserOrPortTakesOnlyAMatchingSession_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("takesTheOpenSession");
    QTest::newRow("host only") << "ftp://files.example.test/in" << true;
    QTest::newRow("same user") << "ftp://alice@files.example.test/in" << true;
    QTest::newRow("same user and port") << "ftp://alice:pw@files.example.test:2121/in" << true;
    QTest::newRow("another user") << "ftp://bob@files.example.test/in" << false;
    QTest::newRow("another port") << "ftp://files.example.test:21/in" << false;
    QTest::newRow("another host") << "ftp://other.example.test/in" << false;
}

void SiteListJobsTest::aUrlNamingAUserOrPortTakesOnlyAMatchingSession()
{
    QFETCH(QString, url);
    QFETCH(bool, takesTheOpenSession);
    SessionList sessions(m_settings);
    CSiteSetting site;
    site.address = "files.example.test";
    site.username = "alice";
    site.logintype = CSiteSetting::LOGIN_NORMAL;
    site.port = 2121;
    OpenSession* open = sessions.add(site);
    ShellTransfer transfer(sessions, m_sites, m_settings);
    QCOMPARE(transfer.findSession(url.toStdString()) == open, takesTheOpenSession);
    const QString file = m_home->path() + QStringLiteral("/f.txt");
    WriteFile(file, "x");
    const ShellTransferResult result = transfer.run(url.toStdString(), {file});
    QCOMPARE(result.kind, ShellTransferResult::Kind::Uploads);
    QCOMPARE(result.session == open, takesTheOpenSession);
    QCOMPARE(int(sessions.sessions().size()), takesTheOpenSession ? 1 : 2);
    sessions.clear();
}

QTEST_MAIN(SiteListJobsTest)
#include "SiteListJobsTest.moc"
