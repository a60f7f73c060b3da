// Pane commands that need no server: a listing of another folder never replaces what a
// remote pane shows, Delete queues exactly the paths the user sees ("Queue Only" keeps the
// queue still), local renames refuse names with "/" or dot names, the private temporary
// folder for View and Open, and the viewer started with the path as one argument.

#include "session/FtpSession.h"
#include "session/QueueEntry.h"
#include "sites/SharedSettings.h"
#include "ui/FileTableView.h"
#include "ui/LocalFileModel.h"
#include "ui/LocalPane.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/PaneTransfer.h"
#include "ui/RemoteFileModel.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"
#include "ui/SiteView.h"
#include "ui/TransferConfirmDialog.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWait = 20000;

const char kRootListing[] =
    "drwxr-xr-x   2 user group     4096 Jan  1  2020 pub\r\n"
    "-rw-r--r--   1 user group       10 Jan  1  2020 root-file.txt\r\n";
const char kPubListing[] =
    "-rw-r--r--   1 user group       10 Jan  1  2020 seen.txt\r\n"
    "drwxr-xr-x   2 user group     4096 Jan  1  2020 folder\r\n";

QMessageBox* OpenMessage(QWidget* frame)
{
    for (QMessageBox* box : frame->findChildren<QMessageBox*>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

class PaneCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void aListingOfAnotherFolderNeverReplacesTheShownOne();
    void deleteQueuesThePathsShownAndQueueOnlyKeepsTheQueueStill();
    void localRenameRefusesPathsAndDotNames_data();
    void localRenameRefusesPathsAndDotNames();
    void privateTemporaryFolder();
    void viewerGetsThePathAsOneArgument();
    void dragBetweenTwoLocalTabsCopiesWithoutAsking();

private:
    RemotePane* unstartedSite();
    LocalPane* localPane() const { return qobject_cast<LocalPane*>(m_frame->leftSiteView()->currentPane()); }

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_local;
    CSharedSettings m_settings;
    SiteList m_sites;
    std::unique_ptr<SessionList> m_sessions;
    std::unique_ptr<MainFrame> m_frame;
};

void PaneCommandsTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void PaneCommandsTest::init()
{
    m_local = std::make_unique<QTemporaryDir>();
    CSettings table;
    table.CacheHomeDirectory = m_home.path().toStdString() + "/cache";
    table.DefaultLocalDirectory = m_local->path().toStdString();
    table.SaveLocalDir = 0;
    m_settings.Replace(table);
    m_sessions = std::make_unique<SessionList>(m_settings);
    m_frame = std::make_unique<MainFrame>(FrameContext{&m_settings, &m_sites, m_sessions.get(),
                                                       m_home.path().toStdString() + "/"});
    m_frame->show();
}

void PaneCommandsTest::cleanup()
{
    m_sessions->clear();
    m_frame.reset();
    m_sessions.reset();
}

RemotePane* PaneCommandsTest::unstartedSite()
{
    CSiteSetting site;
    site.address = "ftp.example.invalid";
    site.port = 21;
    site.logintype = 1;
    OpenSession* session = m_sessions->add(site);
    return m_frame->rightSiteView()->openSession(session);
}

void PaneCommandsTest::aListingOfAnotherFolderNeverReplacesTheShownOne()
{
    RemotePane* pane = unstartedSite();
    QtSessionUi& bridge = pane->openSession()->bridge();
    // The login's listing of "/" is taken: the pane waits for its first folder.
    emit bridge.directoryChanged("/");
    emit bridge.listingComplete(CListing{"/", kRootListing});
    QCOMPARE(pane->currentPath(), std::string("/"));
    QVERIFY(pane->model()->rowOfName("root-file.txt") >= 0);

    // The user looks at /pub (as shown from the cache), while the session stays in "/".
    pane->model()->receiveListing("/pub", kPubListing);
    pane->goToPath("/pub"); // nothing to send for an unconnected session with no cache
    emit bridge.listingComplete(CListing{"/pub", kPubListing});
    // A keep-alive lists the session's own folder: the pane keeps /pub.
    emit bridge.directoryChanged("/");
    emit bridge.listingComplete(CListing{"/", kRootListing});
    QCOMPARE(pane->model()->folder(), std::string("/pub"));
    QVERIFY(pane->model()->rowOfName("seen.txt") >= 0);
    QCOMPARE(pane->model()->rowOfName("root-file.txt"), -1);
}

void PaneCommandsTest::deleteQueuesThePathsShownAndQueueOnlyKeepsTheQueueStill()
{
    RemotePane* pane = unstartedSite();
    QtSessionUi& bridge = pane->openSession()->bridge();
    emit bridge.directoryChanged("/pub");
    emit bridge.listingComplete(CListing{"/pub", kPubListing});
    // A listing of another folder arriving meanwhile changes nothing.
    emit bridge.listingComplete(CListing{"/", kRootListing});
    pane->table()->selectAll();
    int questions = 0;
    connect(m_frame->rightSiteView(), &SiteView::dialogOpened, this, [&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Confirm Delete"));
        QCOMPARE(box->text(), QStringLiteral("Are you sure to delete all the selected files?"));
        box->checkBox()->setChecked(true); // "Queue Only"
        ++questions;
        box->button(QMessageBox::Ok)->click();
    });
    QTest::keyClick(pane->table(), Qt::Key_Delete);
    QCOMPARE(questions, 1);
    CFtpSession& session = pane->openSession()->session();
    QCOMPARE(session.Queue().Size(), std::size_t(2));
    std::vector<std::string> paths;
    session.Queue().ForEach([&paths](const CQueueEntry& entry) { paths.push_back(entry.remotePath); });
    std::sort(paths.begin(), paths.end());
    QCOMPARE(paths, std::vector<std::string>({"/pub/folder", "/pub/seen.txt"}));
    QVERIFY(!session.HasThread()); // queue only: nothing was started
}

void PaneCommandsTest::localRenameRefusesPathsAndDotNames_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("renamed");
    QTest::newRow("slash") << QStringLiteral("../escaped.txt") << false;
    QTest::newRow("dot") << QStringLiteral(".") << false;
    QTest::newRow("dot dot") << QStringLiteral("..") << false;
    QTest::newRow("blanks only") << QStringLiteral("   ") << false;
    QTest::newRow("plain, trimmed") << QStringLiteral("  renamed.txt ") << true;
}

void PaneCommandsTest::localRenameRefusesPathsAndDotNames()
{
    QFETCH(QString, newName);
    QFETCH(bool, renamed);
    const std::string folder = m_local->path().toStdString();
    std::ofstream(folder + "/old.txt") << "x";
    LocalPane* pane = localPane();
    pane->refresh();
    QVERIFY(pane->model()->rowOfName("old.txt") >= 0);
    QCOMPARE(pane->renameEntry("old.txt", newName), renamed);
    QCOMPARE(std::filesystem::exists(folder + "/old.txt"), !renamed);
    QCOMPARE(std::filesystem::exists(folder + "/renamed.txt"), renamed);
    QVERIFY(!std::filesystem::exists(std::filesystem::path(folder).parent_path() / "escaped.txt"));
    if (!renamed && !newName.trimmed().isEmpty()) {
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(m_frame.get())) != nullptr, kWait);
        box->accept();
    }
}

void PaneCommandsTest::privateTemporaryFolder()
{
    QTemporaryDir temp;
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.path().toUtf8());
    const std::string expected = temp.path().toStdString() + "/tollvane-" + std::to_string(::getuid());
    std::string error;
    // Created when missing, private.
    QCOMPARE(PaneTransfer::PrivateTempFolder(&error), expected);
    struct stat info {};
    QCOMPARE(::stat(expected.c_str(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    // Made private again when it was opened up.
    ::chmod(expected.c_str(), 0755);
    QCOMPARE(PaneTransfer::PrivateTempFolder(&error), expected);
    QCOMPARE(::stat(expected.c_str(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    // A link planted in its place is never used.
    std::filesystem::remove(expected);
    std::filesystem::create_directory_symlink(temp.path().toStdString(), expected);
    QVERIFY(PaneTransfer::PrivateTempFolder(&error).empty());
    QVERIFY(!error.empty());
    qputenv("TMPDIR", saved);
}

void PaneCommandsTest::viewerGetsThePathAsOneArgument()
{
    const std::string folder = m_local->path().toStdString();
    const std::string script = folder + "/viewer.sh";
    const std::string record = folder + "/arguments.txt";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" << record << ".part'\nmv '" << record
                          << ".part' '" << record << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::ofstream(folder + "/two words; $(x).txt") << "x";
    m_settings.Edit([&](CSettings& table) { table.ViewerPath = script; });
    LocalPane* pane = localPane();
    pane->refresh();
    const int row = pane->model()->rowOfName("two words; $(x).txt");
    QVERIFY(row >= 0);
    pane->table()->setCurrentIndex(pane->model()->index(row, 0));
    pane->viewOrOpen(2);
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(record), kWait);
    std::ifstream in(record);
    std::stringstream content;
    content << in.rdbuf();
    QCOMPARE(QString::fromStdString(content.str()),
             QString::fromStdString("1\n" + folder + "/two words; $(x).txt\n"));
}

void PaneCommandsTest::dragBetweenTwoLocalTabsCopiesWithoutAsking()
{
    m_settings.Edit([&](CSettings& table) { table.pTransfer = 1; }); // never asked between two local folders
    const std::string folder = m_local->path().toStdString();
    std::filesystem::create_directories(folder + "/source/dir");
    std::filesystem::create_directories(folder + "/target");
    std::ofstream(folder + "/source/file.txt") << "copied";
    std::ofstream(folder + "/source/dir/inner.txt") << "inner";
    LocalPane* from = localPane();
    QVERIFY(from->showDirectory(folder + "/source"));
    LocalPane* to = m_frame->rightSiteView()->openLocal(folder + "/target");
    QCOMPARE(to->currentPath(), folder + "/target");
    int confirmations = 0;
    connect(m_frame->paneTransfer(), &PaneTransfer::confirmationOpened, this, [&] { ++confirmations; });
    from->table()->selectAll();
    std::unique_ptr<QMimeData> drag(from->viewEvents().dragData());
    QVERIFY(to->viewEvents().acceptsDrop(drag.get()));
    to->viewEvents().dropped(drag.get(), -1, Qt::NoModifier);
    QCOMPARE(confirmations, 0);
    // The copy runs beside the window; the pane shows its result when it is done.
    QTRY_VERIFY_WITH_TIMEOUT(to->model()->rowOfName("file.txt") >= 0, 30000);
    QVERIFY(std::filesystem::exists(folder + "/target/file.txt"));
    QVERIFY(std::filesystem::exists(folder + "/target/dir/inner.txt"));
    QVERIFY(std::filesystem::exists(folder + "/source/file.txt")); // a copy, not a move
}

QTEST_MAIN(PaneCommandsTest)
#include "PaneCommandsTest.moc"
