// The site views against real servers started by the test: browsing with Enter and
// Backspace, cached folders with "Always Online" off, transfers by drag and drop (with
// and without "Add to queue only", onto a folder row, from the desktop, between two
// servers), closing a tab whose queue is preserved, Copy URL / Paste URL, the path box,
// and a name that is not UTF-8 downloaded under its exact bytes.

#include "listing/DirectoryCache.h"
#include "session/FtpSession.h"
#include "session/QueueEntry.h"
#include "sites/FtpUrl.h"
#include "sites/SharedSettings.h"
#include "tests/support/FtpServers.h"
#include "ui/FileTableView.h"
#include "ui/LocalFileModel.h"
#include "ui/LocalPane.h"
#include "ui/LogView.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/PaneCacheDialog.h"
#include "ui/PanePasteUrlDialog.h"
#include "ui/PaneTransfer.h"
#include "ui/RemoteFileModel.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"
#include "ui/SiteView.h"
#include "ui/TransferConfirmDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace {

constexpr int kWait = 30000;

std::string RandomBytes(std::size_t size)
{
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(random() & 0xFF);
    return bytes;
}

std::string ReadLocal(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

QMessageBox* OpenMessage(QWidget* frame)
{
    for (QMessageBox* box : frame->findChildren<QMessageBox*>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

class PaneTransferTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void browseIntoFoldersAndBackToTheRoot();
    void aCachedFolderOpensWithoutTheServerWhenNotAlwaysOnline();
    void dragRemoteToLocalDownloads_data();
    void dragRemoteToLocalDownloads();
    void desktopDropUploads();
    void aFolderDraggedDownAndBackArrivesBothWays();
    void remoteToRemoteCopiesBetweenServers();
    void closingATabWithPreservedQueueKeepsTheSite();
    void copyUrlThenPasteUrlNamesTheSameFile();
    void pasteUrlDialogChoices_data();
    void pasteUrlDialogChoices();
    void cacheDirectoryAndEntireServerQueueTheCacheWalk();
    void relativePathInPathBoxStaysOnTheSite();
    void nonUtf8NameDownloadsUnderItsBytes();

private:
    void openFrame();
    RemotePane* openSite(const tvtest::FtpTestServer& server, SiteView* view = nullptr);
    LocalPane* localPane() const { return qobject_cast<LocalPane*>(m_frame->leftSiteView()->currentPane()); }
    static void selectNames(FilePane* pane, const QStringList& names);

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_local;
    CSharedSettings m_settings;
    SiteList m_sites;
    std::unique_ptr<SessionList> m_sessions;
    std::unique_ptr<MainFrame> m_frame;
};

void PaneTransferTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void PaneTransferTest::init()
{
    m_local = std::make_unique<QTemporaryDir>();
    QVERIFY(m_local->isValid());
    CSettings table;
    table.CacheHomeDirectory = m_home.path().toStdString() + "/cache-" + std::to_string(std::rand());
    table.DefaultLocalDirectory = m_local->path().toStdString();
    table.pTransfer = 0;
    table.SaveLocalDir = 0;
    table.AutoReset = 1;
    m_settings.Replace(table);
}

void PaneTransferTest::cleanup()
{
    if (m_sessions)
        m_sessions->clear();
    m_frame.reset();
    m_sessions.reset();
}

void PaneTransferTest::openFrame()
{
    m_sessions = std::make_unique<SessionList>(m_settings);
    m_frame = std::make_unique<MainFrame>(FrameContext{&m_settings, &m_sites, m_sessions.get(),
                                                       m_home.path().toStdString() + "/"});
    m_frame->show();
}

RemotePane* PaneTransferTest::openSite(const tvtest::FtpTestServer& server, SiteView* view)
{
    CSiteSetting site;
    if (!SiteFromUrl("ftp://" + server.host() + ":" + std::to_string(server.port()) + "/", m_settings.Current()->AnonymousPass, site))
        return nullptr;
    RemotePane* pane = view ? view->openSite(site) : m_frame->openSite(site);
    // Logged in and listed: the first listing names the root.
    if (!QTest::qWaitFor([&] { return pane->currentPath() == "/" && pane->openSession()->session().IsLoggedIn() &&
                                      pane->model()->rowCount() > 0; }, kWait))
        return nullptr;
    return pane;
}

void PaneTransferTest::selectNames(FilePane* pane, const QStringList& names)
{
    FileTableView* table = pane->table();
    table->clearSelection();
    for (const QString& name : names) {
        int row = -1;
        if (auto* remote = qobject_cast<RemotePane*>(pane))
            row = remote->model()->rowOfName(name.toStdString());
        else
            row = qobject_cast<LocalPane*>(pane)->model()->rowOfName(name.toStdString());
        QVERIFY2(row >= 0, qPrintable(name));
        table->selectionModel()->select(table->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        // Never through the view's own selection command, which reads the keyboard state.
        table->selectionModel()->setCurrentIndex(table->model()->index(row, 0), QItemSelectionModel::NoUpdate);
    }
}

void PaneTransferTest::browseIntoFoldersAndBackToTheRoot()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("pub/sub/deep.txt", "x"));
    QVERIFY(server.createFile("top.txt", "x"));
    openFrame();
    RemotePane* pane = openSite(server);
    QVERIFY(pane);
    QCOMPARE(m_frame->windowTitle(), QStringLiteral("Tollvane - 127.0.0.1"));

    selectNames(pane, {QStringLiteral("pub")});
    QTest::keyClick(pane->table(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/pub" && pane->model()->rowOfName("sub") >= 0, kWait);
    QCOMPARE(m_frame->rightSiteView()->pathBox()->currentText(), QStringLiteral("/pub"));
    selectNames(pane, {QStringLiteral("sub")});
    emit pane->table()->doubleClicked(pane->model()->index(pane->model()->rowOfName("sub"), 0));
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/pub/sub" && pane->model()->rowOfName("deep.txt") >= 0, kWait);

    QTest::keyClick(pane->table(), Qt::Key_Backspace);
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/pub" && pane->model()->rowOfName("sub") >= 0, kWait);
    // The folder just left is selected again.
    QCOMPARE(pane->table()->selectedRows(), QList<int>({pane->model()->rowOfName("sub")}));
    m_frame->rightSiteView()->findChild<QToolButton*>(QStringLiteral("upButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/" && pane->model()->rowOfName("top.txt") >= 0, kWait);

    QTest::keyClick(pane->table(), Qt::Key_Backspace);
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(m_frame.get())) != nullptr, kWait);
    QCOMPARE(box->text(), QStringLiteral("Root Directory! Can't Change to Parent Directory."));
    box->accept();
}

void PaneTransferTest::aCachedFolderOpensWithoutTheServerWhenNotAlwaysOnline()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("pub/cached.txt", "x"));
    openFrame();
    RemotePane* pane = openSite(server);
    QVERIFY(pane);
    pane->changeDir("/pub");
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/pub" && pane->model()->rowOfName("cached.txt") >= 0, kWait);
    pane->goToParent();
    QTRY_VERIFY_WITH_TIMEOUT(pane->currentPath() == "/" && pane->model()->rowOfName("pub") >= 0, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!pane->openSession()->session().IsBusy(), kWait);

    m_frame->actions().alwaysOnline->setChecked(false);
    QCOMPARE(m_settings.Current()->AlwaysRefresh, 0);
    const std::string before = server.logText();
    pane->changeDir("/pub");
    // Shown at once, from the cache: no round trip to the server was needed.
    QCOMPARE(pane->currentPath(), std::string("/pub"));
    QVERIFY(pane->model()->rowOfName("cached.txt") >= 0);
    QVERIFY(!pane->openSession()->session().IsBusy());
    pane->openSession()->bridge().drainLogLines();
    QTRY_VERIFY_WITH_TIMEOUT(m_frame->logOf(pane->openSession())->toPlainText().contains(QStringLiteral("Load file list from cache.")), kWait);
    QTest::qWait(300); // nothing is expected; give a wrongly sent command time to show
    QCOMPARE(server.logText(), before);
}

void PaneTransferTest::dragRemoteToLocalDownloads_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("queueOnly");
    QTest::addColumn<bool>("ontoFolderRow");
    QTest::newRow("confirmed, queue starts") << true << false << false;
    QTest::newRow("add to queue only") << true << true << false;
    QTest::newRow("onto a folder row") << false << false << true;
}

void PaneTransferTest::dragRemoteToLocalDownloads()
{
    QFETCH(bool, confirm);
    QFETCH(bool, queueOnly);
    QFETCH(bool, ontoFolderRow);
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    const std::string content = RandomBytes(300000);
    QVERIFY(server.createFile("data.bin", content));
    QVERIFY(std::filesystem::create_directory(m_local->path().toStdString() + "/into"));
    m_settings.Edit([&](CSettings& table) { table.pTransfer = confirm ? 1 : 0; });
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    LocalPane* local = localPane();
    QVERIFY(local);
    int confirmations = 0;
    connect(m_frame->paneTransfer(), &PaneTransfer::confirmationOpened, this, [&](TransferConfirmDialog* dialog) {
        ++confirmations;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Confirm Transfer"));
        dialog->queueOnlyBox()->setChecked(queueOnly);
        dialog->accept();
    });

    selectNames(remote, {QStringLiteral("data.bin")});
    std::unique_ptr<QMimeData> drag(remote->viewEvents().dragData());
    QVERIFY(drag);
    QVERIFY(local->viewEvents().acceptsDrop(drag.get()));
    const int folderRow = local->model()->rowOfName("into");
    QVERIFY(folderRow >= 0);
    local->viewEvents().dropped(drag.get(), ontoFolderRow ? folderRow : -1, Qt::NoModifier);
    QCOMPARE(confirmations, confirm ? 1 : 0);

    CFtpSession& session = remote->openSession()->session();
    const std::string target = m_local->path().toStdString() + (ontoFolderRow ? "/into/data.bin" : "/data.bin");
    if (queueOnly) {
        QVERIFY(!session.Queue().IsEmpty());
        QVERIFY(!session.IsBusy());
        QTest::qWait(300);
        QVERIFY(!session.IsBusy());
        QVERIFY(!std::filesystem::exists(target));
        session.StartQueue();
    }
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy(), kWait);
    QVERIFY(ReadLocal(target) == content);
}

void PaneTransferTest::desktopDropUploads()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFolder("incoming"));
    QTemporaryDir desktop;
    const std::string first = desktop.path().toStdString() + "/one file.txt";
    std::ofstream(first) << "first";
    QVERIFY(std::filesystem::create_directory(desktop.path().toStdString() + "/other"));
    const std::string second = desktop.path().toStdString() + "/other/two.bin";
    std::ofstream(second) << RandomBytes(5000);
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second))});
    QVERIFY(remote->viewEvents().acceptsDrop(&drop));
    remote->viewEvents().dropped(&drop, remote->model()->rowOfName("incoming"), Qt::NoModifier);
    CFtpSession& session = remote->openSession()->session();
    QTRY_VERIFY_WITH_TIMEOUT(server.exists("incoming/two.bin") && session.Queue().IsEmpty() && !session.IsBusy(), kWait);
    std::string content;
    QVERIFY(server.readFile("incoming/one file.txt", content));
    QCOMPARE(content, std::string("first"));
    QVERIFY(server.readFile("incoming/two.bin", content));
    QVERIFY(content == ReadLocal(second));
}

void PaneTransferTest::aFolderDraggedDownAndBackArrivesBothWays()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    const std::string content = RandomBytes(20000);
    QVERIFY(server.createFile("tree/a.txt", "a"));
    QVERIFY(server.createFile("tree/inner/b.bin", content));
    QVERIFY(server.createFolder("back"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    LocalPane* local = localPane();
    CFtpSession& session = remote->openSession()->session();

    selectNames(remote, {QStringLiteral("tree")});
    std::unique_ptr<QMimeData> down(remote->viewEvents().dragData());
    local->viewEvents().dropped(down.get(), -1, Qt::NoModifier);
    const std::string localTree = m_local->path().toStdString() + "/tree";
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy() &&
                                 std::filesystem::exists(localTree + "/inner/b.bin"), kWait);
    QVERIFY(ReadLocal(localTree + "/inner/b.bin") == content);
    // The local pane shows what the run wrote.
    QTRY_VERIFY_WITH_TIMEOUT(local->model()->rowOfName("tree") >= 0, kWait);

    selectNames(local, {QStringLiteral("tree")});
    std::unique_ptr<QMimeData> up(local->viewEvents().dragData());
    QVERIFY(remote->viewEvents().acceptsDrop(up.get()));
    remote->viewEvents().dropped(up.get(), remote->model()->rowOfName("back"), Qt::NoModifier);
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy() && server.exists("back/tree/inner/b.bin"), kWait);
    std::string uploaded;
    QVERIFY(server.readFile("back/tree/inner/b.bin", uploaded));
    QVERIFY(uploaded == content);
    QVERIFY(server.readFile("back/tree/a.txt", uploaded));
    QCOMPARE(uploaded, std::string("a"));
}

void PaneTransferTest::remoteToRemoteCopiesBetweenServers()
{
    tvtest::FtpServerOptions options;
    options.allowForeignDataAddresses = true;
    tvtest::PyftpdlibServer source(options), target(options);
    QVERIFY2(source.start(), source.error().c_str());
    QVERIFY2(target.start(), target.error().c_str());
    const std::string content = RandomBytes(100000);
    QVERIFY(source.createFile("copy-me.bin", content));
    QVERIFY(target.createFolder("dest"));
    openFrame();
    RemotePane* from = openSite(source);
    QVERIFY(from);
    RemotePane* to = openSite(target, m_frame->leftSiteView());
    QVERIFY(to);
    selectNames(from, {QStringLiteral("copy-me.bin")});
    std::unique_ptr<QMimeData> drag(from->viewEvents().dragData());
    QVERIFY(to->viewEvents().acceptsDrop(drag.get()));
    to->viewEvents().dropped(drag.get(), to->model()->rowOfName("dest"), Qt::NoModifier);
    CFtpSession& session = from->openSession()->session();
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy() && target.exists("dest/copy-me.bin"), kWait);
    std::string copied;
    QTRY_VERIFY_WITH_TIMEOUT(target.readFile("dest/copy-me.bin", copied) && copied.size() == content.size(), kWait);
    QVERIFY(copied == content);
}

void PaneTransferTest::closingATabWithPreservedQueueKeepsTheSite()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("later.txt", "kept for later"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    OpenSession* session = remote->openSession();
    selectNames(remote, {QStringLiteral("later.txt")});
    remote->addToQueue();
    QCOMPARE(session->session().Queue().Size(), std::size_t(1));

    int questions = 0;
    connect(m_frame->rightSiteView(), &SiteView::dialogOpened, this, [&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Do you want to preserve the queued files?"));
        QCOMPARE(box->windowTitle(), QStringLiteral("127.0.0.1"));
        ++questions;
        box->button(QMessageBox::Yes)->click();
    });
    m_frame->rightSiteView()->closePane(remote);
    QCOMPARE(questions, 1);
    QCOMPARE(m_frame->rightSiteView()->paneOf(session), nullptr);
    QCOMPARE(int(m_sessions->sessions().size()), 1);
    QCOMPARE(session->session().Queue().Size(), std::size_t(1));
    QCOMPARE(m_frame->windowTitle(), QStringLiteral("Tollvane"));
    QVERIFY(!session->session().HasThread());

    // Started again, the kept queue runs and the site gets a tab again.
    session->session().StartQueue();
    const std::string target = m_local->path().toStdString() + "/later.txt";
    QTRY_VERIFY_WITH_TIMEOUT(session->session().Queue().IsEmpty() && std::filesystem::exists(target), kWait);
    QCOMPARE(ReadLocal(target), std::string("kept for later"));
    QVERIFY(m_frame->rightSiteView()->paneOf(session) || m_frame->leftSiteView()->paneOf(session));
}

void PaneTransferTest::copyUrlThenPasteUrlNamesTheSameFile()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("a%41 b", "percent"));
    QVERIFY(server.createFile("aA b", "decoded twice"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    selectNames(remote, {QStringLiteral("a%41 b")});
    QTest::keySequence(remote->table(), QKeySequence::Copy);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    QVERIFY(copied);
    // The server's port is part of the URL, so a new session reaches the same server.
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/a%2541%20b").arg(server.port());
    QCOMPARE(copied->text(), url);
    QVERIFY(copied->hasFormat(QStringLiteral("application/x-tollvane-url")));

    LocalPane* local = localPane();
    PanePasteUrlDialog* dialog = nullptr;
    connect(m_frame->leftSiteView(), &SiteView::dialogOpened, this,
            [&dialog](QWidget* opened) { dialog = qobject_cast<PanePasteUrlDialog*>(opened); });
    QTest::keySequence(local->table(), QKeySequence::Paste);
    QVERIFY(dialog);
    QCOMPARE(dialog->urls(), QStringList({url}));
    QVERIFY(dialog->fileButton()->isChecked());
    dialog->accept();
    const std::string target = m_local->path().toStdString() + "/a%41 b";
    CFtpSession& session = remote->openSession()->session();
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(target) && session.Queue().IsEmpty() && !session.IsBusy(), kWait);
    QCOMPARE(ReadLocal(target), std::string("percent"));
    QVERIFY(!std::filesystem::exists(m_local->path().toStdString() + "/aA b"));
    QCOMPARE(int(m_sessions->sessions().size()), 1); // the open site was used
}

void PaneTransferTest::pasteUrlDialogChoices_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("forceNew");
    QTest::addColumn<bool>("queueOnly");
    QTest::addColumn<QStringList>("expected"); // local files that arrive, with their text
    QTest::addColumn<int>("sessions");
    QTest::newRow("file on the open site") << "/tree/x.txt" << false << false << false << QStringList({"x.txt=x"}) << 1;
    QTest::newRow("file on a new session") << "/tree/x.txt" << false << true << false << QStringList({"x.txt=x"}) << 2;
    QTest::newRow("folder: everything beneath it")
        << "/tree" << true << false << false << QStringList({"tree/x.txt=x", "tree/sub/y.txt=y"}) << 1;
    QTest::newRow("queue only: queued, not started") << "/tree/x.txt" << false << false << true << QStringList() << 1;
}

void PaneTransferTest::pasteUrlDialogChoices()
{
    QFETCH(QString, path);
    QFETCH(bool, folder);
    QFETCH(bool, forceNew);
    QFETCH(bool, queueOnly);
    QFETCH(QStringList, expected);
    QFETCH(int, sessions);
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("tree/x.txt", "x"));
    QVERIFY(server.createFile("tree/sub/y.txt", "y"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    QApplication::clipboard()->setText(QStringLiteral("not a URL"));

    PanePasteUrlDialog* dialog = nullptr;
    connect(m_frame->leftSiteView(), &SiteView::dialogOpened, this,
            [&dialog](QWidget* opened) { dialog = qobject_cast<PanePasteUrlDialog*>(opened); });
    localPane()->action(QStringLiteral("pasteUrl"))->trigger();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Paste URL"));
    QVERIFY(dialog->urls().isEmpty()); // no ftp URL on the clipboard: one is typed
    dialog->urlField()->setPlainText(QStringLiteral("ftp://127.0.0.1:%1%2").arg(server.port()).arg(path));
    (folder ? dialog->folderButton() : dialog->fileButton())->setChecked(true);
    dialog->forceNewSessionBox()->setChecked(forceNew);
    dialog->queueOnlyBox()->setChecked(queueOnly);
    dialog->accept();

    QCOMPARE(int(m_sessions->sessions().size()), sessions);
    CFtpSession& used = m_sessions->sessions().back()->session();
    if (queueOnly) {
        QCOMPARE(used.Queue().Size(), std::size_t(1));
        const std::optional<CQueueEntry> entry = used.Queue().Find(used.Queue().Ids().front());
        QVERIFY(entry);
        QCOMPARE(entry->remotePath, path.toStdString());
        QCOMPARE(entry->localPath, m_local->path().toStdString());
        QVERIFY(!used.IsBusy());
        return;
    }
    const std::string local = m_local->path().toStdString() + "/";
    QTRY_VERIFY_WITH_TIMEOUT(used.Queue().IsEmpty() && !used.IsBusy(), kWait);
    for (const QString& file : expected) {
        const QStringList parts = file.split(QLatin1Char('='));
        QCOMPARE(ReadLocal(local + parts[0].toStdString()), parts[1].toStdString());
    }
}

void PaneTransferTest::cacheDirectoryAndEntireServerQueueTheCacheWalk()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("pub/a/deep.txt", "d"));
    QVERIFY(server.createFile("pub/top.txt", "t"));
    QVERIFY(server.createFile("other/o.txt", "o"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    CFtpSession& session = remote->openSession()->session();
    const CDirectoryCache* cache = session.DirectoryCache();
    QVERIFY(cache);
    const auto cached = [&](const std::string& folder) {
        return std::filesystem::exists(cache->GetCacheListPath(session.CacheSite(), folder));
    };
    QVERIFY(!cached("/pub/a"));

    PaneCacheDialog* dialog = nullptr;
    connect(remote, &FilePane::dialogOpened, this, [&dialog](QWidget* opened) { dialog = qobject_cast<PaneCacheDialog*>(opened); });
    // Only a folder can be cached.
    // The login's listing may still be on its way; it would replace the selection.
    QTRY_VERIFY_WITH_TIMEOUT(!session.IsBusy(), kWait);
    selectNames(remote, {QStringLiteral("pub")});
    remote->action(QStringLiteral("cacheDirectory"))->trigger();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Cache Directory"));
    QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("startingDirectory"))->text(), QStringLiteral("/pub"));
    dialog->accept();
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy() && cached("/pub/a"), kWait);
    QVERIFY(!cached("/other"));

    // The whole server, queued only: one cache entry for "/", and the queue stays still.
    dialog = nullptr;
    remote->action(QStringLiteral("cacheServer"))->trigger();
    QVERIFY(dialog);
    dialog->findChild<QCheckBox*>(QStringLiteral("queueOnly"))->setChecked(true);
    dialog->accept();
    QCOMPARE(session.Queue().Size(), std::size_t(1));
    const std::optional<CQueueEntry> entry = session.Queue().Find(session.Queue().Ids().front());
    QVERIFY(entry);
    QCOMPARE(entry->operation, int(QUEUE_CACHEDIR));
    QCOMPARE(entry->remotePath, std::string("/"));
    QVERIFY(!session.IsBusy());
    session.StartQueue();
    QTRY_VERIFY_WITH_TIMEOUT(session.Queue().IsEmpty() && !session.IsBusy() && cached("/other"), kWait);

    // A file row gives no cache command.
    remote->changeDir("/pub");
    QTRY_VERIFY_WITH_TIMEOUT(remote->currentPath() == "/pub" && remote->model()->rowOfName("top.txt") >= 0 && !session.IsBusy(), kWait);
    selectNames(remote, {QStringLiteral("top.txt")});
    dialog = nullptr;
    remote->action(QStringLiteral("cacheDirectory"))->trigger();
    QVERIFY(!dialog);
}

void PaneTransferTest::relativePathInPathBoxStaysOnTheSite()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("pub/inner.txt", "x"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    QComboBox* box = m_frame->rightSiteView()->pathBox();
    box->setEditText(QStringLiteral("pub"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(remote->currentPath() == "/pub" && remote->model()->rowOfName("inner.txt") >= 0, kWait);
    QCOMPARE(int(m_sessions->sessions().size()), 1);

    // A local tab refuses what is neither a URL nor a local folder.
    m_frame->leftSiteView()->enterPath(QStringLiteral("no-such-folder-here"));
    QMessageBox* message = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((message = OpenMessage(m_frame.get())) != nullptr, kWait);
    QCOMPARE(message->text(), QStringLiteral("Bad Url or Path!"));
    message->accept();
}

void PaneTransferTest::nonUtf8NameDownloadsUnderItsBytes()
{
    // vsftpd passes names through as bytes.
    tvtest::VsftpdServer server;
    QVERIFY2(server.start(), server.error().c_str());
    const std::string name = "caf\xE9 \xFF.txt";
    QVERIFY(server.createFile(name, "latin-1 name"));
    openFrame();
    RemotePane* remote = openSite(server);
    QVERIFY(remote);
    const int row = remote->model()->rowOfName(name);
    QVERIFY(row >= 0);
    QCOMPARE(remote->model()->index(row, 0).data().toString(), QStringLiteral("caf\\xE9 \\xFF.txt"));
    remote->table()->selectRow(row);
    std::unique_ptr<QMimeData> drag(remote->viewEvents().dragData());
    localPane()->viewEvents().dropped(drag.get(), -1, Qt::NoModifier);
    const std::string target = m_local->path().toStdString() + "/" + name;
    CFtpSession& session = remote->openSession()->session();
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(target) && session.Queue().IsEmpty() && !session.IsBusy(), kWait);
    QCOMPARE(ReadLocal(target), std::string("latin-1 name"));
}

QTEST_MAIN(PaneTransferTest)
#include "PaneTransferTest.moc"
