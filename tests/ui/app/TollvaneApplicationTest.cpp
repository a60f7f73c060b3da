// The application object: first start, the close sequence ("SaveQueue" on and off, the
// abort questions all asked before anything stops, a failed save keeps the program open),
// a second start handing over a URL, a job and files for the transfer dialog (a first
// start with --transfer shows that dialog itself), queue changes reaching "autosave.tvq"
// while the window runs, and SIGTERM in the middle of a queue run leaving an
// "autosave.tvq" that the next start continues.

#include "app/gui/AutosaveWriter.h"
#include "app/gui/StartArguments.h"
#include "app/gui/TollvaneApplication.h"
#include "app/lib/SharedAutosave.h"
#include "app/gui/UnixSignalWatcher.h"
#include "session/QueueEntry.h"
#include "session/QueueFiles.h"
#include "session/TransferQueue.h"
#include "sites/MemorySettingsStore.h"
#include "sites/SiteFile.h"
#include "tests/support/FtpServers.h"
#include "ui/FrameActions.h"
#include "ui/LogView.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/QtSessionUi.h"
#include "ui/QueueModel.h"
#include "ui/QueueView.h"
#include "ui/QuickConnectBar.h"
#include "ui/SessionList.h"
#include "ui/ShellTransferDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kWait = 30000;

QString ReadText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

std::unique_ptr<CQueueEntry> Download(const std::string& remote, const std::string& localFolder, int kind)
{
    auto entry = std::make_unique<CQueueEntry>();
    entry->operation = QUEUE_DOWNLOAD;
    entry->remotePath = remote;
    entry->localPath = localFolder;
    entry->kind = kind;
    entry->sizeLow = kUnknownSizeLow;
    return entry;
}

ShellTransferDialog* VisibleTransferDialog(QWidget* frame)
{
    for (ShellTransferDialog* dialog : frame->findChildren<ShellTransferDialog*>()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QMessageBox* VisibleBox(QWidget* parent, const QString& name)
{
    for (QMessageBox* box : parent->findChildren<QMessageBox*>(name)) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

class TollvaneApplicationTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartUsesTheDefaults();
    void closeSavesOrDeletesTheAutosave_data();
    void closeSavesOrDeletesTheAutosave();
    void cancellingTheSecondAbortQuestionStopsNothing();
    void aFailedSaveIsReportedAndTheProgramStaysOpen();
    void aSecondStartHandsOverAUrlAndAJob();
    void startArguments_data();
    void startArguments();
    void theDesktopActionPassesFilesTheProgramTakes();
    void aSecondStartHandsOverFilesForTheTransferDialog();
    void aFirstStartWithFilesShowsTheTransferDialogOverTheWindow();
    void queueChangesReachTheAutosaveWhileTheWindowRuns();
    void theExitSaveIsNeverOverwrittenByAnOlderText();
    void theQueueViewShowsTheRunningDownloadsProgress();
    void sigtermDuringAQueueRunLeavesAnAutosaveTheNextStartContinues();
    void closingWhileAWorkerWaitsOnAQuestionEndsPromptly();

private:
    std::unique_ptr<TollvaneApplication> makeApp(bool askQuestions = false);
    QString dataFolder() const { return m_home->path() + QStringLiteral("/data/Tollvane/"); }

    std::unique_ptr<QTemporaryDir> m_home;
    MemorySettingsStore m_store;
};

void TollvaneApplicationTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    QDir(m_home->path()).mkpath(QStringLiteral("data"));
    QDir(m_home->path()).mkpath(QStringLiteral("config"));
    QDir(m_home->path()).mkpath(QStringLiteral("run"));
    qputenv("XDG_DATA_HOME", (m_home->path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home->path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (m_home->path() + QStringLiteral("/run")).toUtf8());
    m_store = MemorySettingsStore();
}

void TollvaneApplicationTest::cleanup()
{
    m_home.reset();
}

std::unique_ptr<TollvaneApplication> TollvaneApplicationTest::makeApp(bool askQuestions)
{
    TollvaneApplication::Options options;
    options.askQuestions = askQuestions;
    options.startup.singleInstanceName = SingleInstance::DefaultServerName();
    options.startup.notifyFileTypes = false;
    options.startup.installCrashHandler = false;
    options.startup.programPath = QStringLiteral(TOLLVANE_BINARY_DIR "/app/tollvane");
    return std::make_unique<TollvaneApplication>(m_store, options);
}

void TollvaneApplicationTest::firstStartUsesTheDefaults()
{
    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());
    MainFrame* frame = app->mainFrame();
    QVERIFY(frame->isVisible());
    QVERIFY(frame->quickConnectBar()->anonymousBox()->isChecked());
    QVERIFY(frame->quickConnectBar()->userBox()->text().isEmpty());
    QCOMPARE(frame->quickConnectBar()->portBox()->text(), QStringLiteral("21"));
    QVERIFY(app->sessions()->sessions().empty());
    QVERIFY(QDir(dataFolder()).exists());
}

void TollvaneApplicationTest::closeSavesOrDeletesTheAutosave_data()
{
    QTest::addColumn<int>("saveQueue");
    QTest::newRow("SaveQueue on") << 1;
    QTest::newRow("SaveQueue off") << 0;
}

void TollvaneApplicationTest::closeSavesOrDeletesTheAutosave()
{
    QFETCH(int, saveQueue);
    m_store.WriteInt("SaveQueue", saveQueue);
    QDir().mkpath(dataFolder());
    const QString autosave = dataFolder() + QStringLiteral("autosave.tvq");
    {
        QFile old(autosave);
        QVERIFY(old.open(QIODevice::WriteOnly));
    }
    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());
    CSiteSetting site;
    site.address = "files.example.org";
    OpenSession* session = app->sessions()->add(site);
    session->session().Queue().Append(Download("/pub/a.txt", "/tmp", KIND_FILE));
    QSignalSpy closed(app.get(), &TollvaneApplication::closed);
    app->mainFrame()->close();
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kWait);
    QVERIFY(!app->mainFrame()->isVisible());
    if (saveQueue) {
        const QString text = ReadText(autosave);
        QVERIFY2(text.startsWith(QStringLiteral("[files.example.org]\n")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("/pub/a.txt")));
    } else {
        QVERIFY(!QFile::exists(autosave));
    }
    // The settings were written at the close.
    QCOMPARE(m_store.ReadInt("SaveQueue").value_or(-1), saveQueue);
    QVERIFY(m_store.ReadInt("WPWidth").value_or(0) > 0);
}

void TollvaneApplicationTest::cancellingTheSecondAbortQuestionStopsNothing()
{
    auto app = makeApp(true);
    QVERIFY(!app->start({}).has_value());
    std::vector<OpenSession*> busy;
    for (const char* host : {"one.example.org", "two.example.org", "three.example.org"}) {
        CSiteSetting site;
        site.address = host;
        busy.push_back(app->sessions()->add(site));
        busy.back()->session().Queue().Append(Download("/x", "/tmp", KIND_FILE));
        busy.back()->session().SetTransferring(true);
    }
    QSignalSpy cancelled(app.get(), &TollvaneApplication::closeCancelled);
    app->mainFrame()->close();
    QMessageBox* first = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((first = VisibleBox(app->mainFrame(), QStringLiteral("abortQuestion"))) != nullptr, kWait);
    QCOMPARE(first->textFormat(), Qt::PlainText);
    QCOMPARE(first->text(), QStringLiteral("Are you sure to abort file transfer on site one.example.org?"));
    first->button(QMessageBox::Ok)->click();
    QMessageBox* second = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((second = VisibleBox(app->mainFrame(), QStringLiteral("abortQuestion"))) != nullptr &&
                                 second != first,
                             kWait);
    QVERIFY(second->text().contains(QStringLiteral("two.example.org")));
    second->button(QMessageBox::Cancel)->click();
    QTRY_COMPARE_WITH_TIMEOUT(cancelled.count(), 1, kWait);
    // Nothing was stopped or destroyed: the first site's session is still there, whole.
    QVERIFY(app->mainFrame()->isVisible());
    QCOMPARE(static_cast<int>(app->sessions()->sessions().size()), 3);
    QCOMPARE(&app->sessions()->sessions().front()->session(), &busy.front()->session());
    QCOMPARE(static_cast<int>(busy.front()->session().Queue().Size()), 1);
    QVERIFY(app->mainFrame()->statusTimer().isActive());
    for (OpenSession* session : busy)
        session->session().SetTransferring(false);
}

void TollvaneApplicationTest::aFailedSaveIsReportedAndTheProgramStaysOpen()
{
    auto app = makeApp(true);
    QVERIFY(!app->start({}).has_value());
    // A folder where "autosave.tvq" should go: the file cannot replace it.
    const QString autosave = dataFolder() + QStringLiteral("autosave.tvq");
    QFile::remove(autosave);
    QVERIFY(QDir().mkpath(autosave + QStringLiteral("/in-the-way")));
    QSignalSpy cancelled(app.get(), &TollvaneApplication::closeCancelled);
    QSignalSpy closed(app.get(), &TollvaneApplication::closed);
    app->mainFrame()->close();
    QTRY_COMPARE_WITH_TIMEOUT(cancelled.count(), 1, kWait);
    QVERIFY(app->mainFrame()->isVisible());
    QMessageBox* report = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((report = VisibleBox(app->mainFrame(), QStringLiteral("frameMessage"))) != nullptr, kWait);
    QVERIFY2(report->text().contains(QStringLiteral("autosave.tvq")), qPrintable(report->text()));
    report->accept();
    // Once the way is free, closing again works.
    QVERIFY(QDir(autosave).removeRecursively());
    app->mainFrame()->close();
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kWait);
}

void TollvaneApplicationTest::aSecondStartHandsOverAUrlAndAJob()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());

    const auto secondStart = [&](const QString& argument) {
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(TOLLVANE_BINARY_DIR "/app/tollvane"), {argument});
        if (!second.waitForStarted(kWait))
            return -1;
        // The first copy answers on its event loop while the second waits for it.
        QDeadlineTimer deadline(kWait);
        while (second.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        if (second.state() != QProcess::NotRunning)
            return -3;
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -2;
    };

    const QString url = QStringLiteral("ftp://127.0.0.1:%1/").arg(server.port());
    QCOMPARE(secondStart(url), 0);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(app->sessions()->sessions().size()), 1, kWait);
    QCOMPARE(app->sessions()->active()->session().HostName(), std::string("127.0.0.1"));
    QCOMPARE(app->sessions()->active()->session().Port(), server.port());

    // A job: its entries join the queue of the session for that host.
    CTransferQueue queue;
    queue.Append(Download("/from-job.txt", m_home->path().toStdString(), KIND_FILE));
    const std::string job = m_home->path().toStdString() + "/handed.tvq";
    std::string error;
    QVERIFY2(SaveQueues({{"jobs.example.org", &queue}}, job, &error), error.c_str());
    QCOMPARE(secondStart(QString::fromStdString(job)), 0);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(app->sessions()->sessions().size()), 2, kWait);
    OpenSession* jobSession = app->sessions()->sessions().back().get();
    QCOMPARE(jobSession->session().HostName(), std::string("jobs.example.org"));
    QCOMPARE(static_cast<int>(jobSession->session().Queue().Size()), 1);
    app->sessions()->clear();
}

void TollvaneApplicationTest::startArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("items");
    const auto kCommand = static_cast<int>(InstanceMessage::Kind::CommandLine);
    const auto kFiles = static_cast<int>(InstanceMessage::Kind::TransferFiles);
    QTest::newRow("nothing") << QStringList{} << true << kCommand << QStringList{QString()};
    QTest::newRow("url") << QStringList{QStringLiteral("ftp://h/a b")} << true << kCommand
                         << QStringList{QStringLiteral("ftp://h/a b")};
    QTest::newRow("job, relative") << QStringList{QStringLiteral("jobs/x.tvq")} << true << kCommand
                                   << QStringList{QStringLiteral("/base/jobs/x.tvq")};
    QTest::newRow("files, relative and absolute")
        << QStringList{QStringLiteral("--transfer"), QStringLiteral("a.txt"), QStringLiteral("../up/b c"),
                       QStringLiteral("/abs/-d")}
        << true << kFiles
        << QStringList{QStringLiteral("/base/a.txt"), QStringLiteral("/up/b c"), QStringLiteral("/abs/-d")};
    QTest::newRow("a file named like an option") << QStringList{QStringLiteral("--transfer"), QStringLiteral("--transfer")}
                                                 << true << kFiles << QStringList{QStringLiteral("/base/--transfer")};
    QTest::newRow("--transfer without files") << QStringList{QStringLiteral("--transfer")} << false << 0 << QStringList{};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--send")} << false << 0 << QStringList{};
    QTest::newRow("two urls") << QStringList{QStringLiteral("ftp://a/"), QStringLiteral("ftp://b/")} << false << 0
                              << QStringList{};
}

void TollvaneApplicationTest::startArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, usable);
    QFETCH(int, kind);
    QFETCH(QStringList, items);
    QString error;
    const std::optional<StartArguments> parsed =
        ParseStartArguments(QStringList{QStringLiteral("tollvane")} + arguments, &error, QDir(QStringLiteral("/base")));
    QCOMPARE(parsed.has_value(), usable);
    if (!usable) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(static_cast<int>(parsed->message.kind), kind);
    QCOMPARE(parsed->message.items, items);
}

void TollvaneApplicationTest::theDesktopActionPassesFilesTheProgramTakes()
{
    QFile entry(QStringLiteral(TOLLVANE_SOURCE_DIR "/app/desktop/tollvane.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Actions=Transfer;")));
    const qsizetype group = lines.indexOf(QStringLiteral("[Desktop Action Transfer]"));
    QVERIFY(group > 0);
    QString exec;
    for (qsizetype i = group + 1; i < lines.size() && !lines[i].startsWith(QLatin1Char('[')); ++i) {
        if (lines[i].startsWith(QStringLiteral("Exec=")))
            exec = lines[i].mid(5);
    }
    // The desktop puts every chosen file where %F stands.
    QStringList arguments = exec.split(QLatin1Char(' '));
    const qsizetype files = arguments.indexOf(QStringLiteral("%F"));
    QVERIFY2(files > 0, qPrintable(exec));
    arguments.replace(files, QStringLiteral("/home/u/a.txt"));
    arguments.insert(files + 1, QStringLiteral("/home/u/b c.txt"));
    QString error;
    const std::optional<StartArguments> parsed = ParseStartArguments(arguments, &error);
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->message.kind, InstanceMessage::Kind::TransferFiles);
    QCOMPARE(parsed->message.items, (QStringList{QStringLiteral("/home/u/a.txt"), QStringLiteral("/home/u/b c.txt")}));
}

void TollvaneApplicationTest::aSecondStartHandsOverFilesForTheTransferDialog()
{
    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());
    // The second start runs in another folder and names the files relative to it.
    const QString sender = m_home->path() + QStringLiteral("/sender");
    QVERIFY(QDir().mkpath(sender + QStringLiteral("/sub")));
    QVERIFY(WriteFile(sender + QStringLiteral("/one.txt"), "one"));
    QVERIFY(WriteFile(sender + QStringLiteral("/sub/two.txt"), "two, longer"));

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(sender);
    second.start(QStringLiteral(TOLLVANE_BINARY_DIR "/app/tollvane"),
                 {QStringLiteral("--transfer"), QStringLiteral("one.txt"), QStringLiteral("sub/two.txt")});
    QVERIFY(second.waitForStarted(kWait));
    // The first copy answers on its event loop while the second waits for it.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, kWait);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    ShellTransferDialog* dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = VisibleTransferDialog(app->mainFrame())) != nullptr, kWait);
    QCOMPARE(dialog->captionLabel()->text(), QStringLiteral("Transfer 2 files to:"));
    // Both files are found although this process runs in another folder.
    dialog->destinationEdit()->setText(QStringLiteral("127.0.0.1:2121/incoming"));
    QVERIFY(dialog->transfer());
    QCOMPARE(static_cast<int>(app->sessions()->sessions().size()), 1);
    OpenSession* session = app->sessions()->sessions().front().get();
    QCOMPARE(session->session().HostName(), std::string("127.0.0.1"));
    std::vector<std::pair<std::string, std::uint64_t>> queued;
    session->session().Queue().ForEach([&](const CQueueEntry& entry) {
        QCOMPARE(entry.operation, QUEUE_UPLOAD);
        queued.emplace_back(entry.localPath, entry.Size());
    });
    const std::vector<std::pair<std::string, std::uint64_t>> expected{
        {(sender + QStringLiteral("/one.txt")).toStdString(), 3},
        {(sender + QStringLiteral("/sub/two.txt")).toStdString(), 11}};
    QCOMPARE(queued, expected);
    app->sessions()->clear();
}

void TollvaneApplicationTest::aFirstStartWithFilesShowsTheTransferDialogOverTheWindow()
{
    const QString file = m_home->path() + QStringLiteral("/only.txt");
    QVERIFY(WriteFile(file, "x"));
    auto app = makeApp();
    QVERIFY(!app->startWith(TransferFilesMessage({file})).has_value());
    QVERIFY(app->mainFrame()->isVisible());
    ShellTransferDialog* dialog = VisibleTransferDialog(app->mainFrame());
    QVERIFY(dialog);
    QCOMPARE(dialog->captionLabel()->text(), QStringLiteral("Transfer 1 files to:"));
    // Cancel: nothing is queued.
    dialog->reject();
    QVERIFY(app->sessions()->sessions().empty());
}

void TollvaneApplicationTest::queueChangesReachTheAutosaveWhileTheWindowRuns()
{
    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());
    const QString autosave = dataFolder() + QStringLiteral("autosave.tvq");
    // Another writer (tollvane-cli run) keeps an entry of its own there.
    {
        AutosaveLock lock(autosave.toStdString());
        QVERIFY(WriteFile(autosave, "[cli.example.org]\n0\t/cli.txt\t0\t/tmp\t0\t-1\t*\t0\t1\n\n"));
    }
    CSiteSetting site;
    site.address = "files.example.org";
    OpenSession* session = app->sessions()->add(site);
    const QueueEntryId added = session->session().Queue().Append(Download("/pub/kept.iso", "/tmp", KIND_FILE));
    session->session().Queue().Append(Download("/pub/second.iso", "/tmp", KIND_FILE));
    // Written by the running window, within its save interval, not at exit.
    QTRY_VERIFY_WITH_TIMEOUT(ReadText(autosave).contains(QStringLiteral("/pub/second.iso")), kWait);
    QString text = ReadText(autosave);
    QVERIFY2(text.contains(QStringLiteral("[files.example.org]\n")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("/pub/kept.iso")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("/cli.txt")), qPrintable(text));
    // A removal is written too; the other writer's entry stays.
    QVERIFY(session->session().Queue().Remove(added));
    QTRY_VERIFY_WITH_TIMEOUT(!ReadText(autosave).contains(QStringLiteral("/pub/kept.iso")), kWait);
    text = ReadText(autosave);
    QVERIFY2(text.contains(QStringLiteral("/pub/second.iso")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("/cli.txt")), qPrintable(text));
    QVERIFY(app->mainFrame()->isVisible());
    app->sessions()->clear();
}

void TollvaneApplicationTest::theExitSaveIsNeverOverwrittenByAnOlderText()
{
    QVERIFY(QDir().mkpath(dataFolder()));
    const std::string folder = dataFolder().toStdString();
    const QString autosave = dataFolder() + QStringLiteral("autosave.tvq");
    const std::string last = "[h]\nlast entry\n\n";
    std::vector<std::unique_ptr<CTransferQueue>> queues;
    {
        AutosaveWriter writer(folder, {}, {});
        for (int i = 0; i < 200; ++i) {
            queues.push_back(std::make_unique<CTransferQueue>());
            queues.back()->Append(Download("/older-" + std::to_string(i), "/tmp", KIND_FILE));
            writer.Submit({{"h", queues.back().get()}});
        }
        QVERIFY(writer.SaveNow([&](std::string& loaded) { return WriteSharedAutosave(folder, loaded, last, nullptr); }));
        QCOMPARE(ReadText(autosave).toStdString(), last);
        // A queue the writer was given may go once it was forgotten (the writer either
        // wrote it already or drops it).
        auto newest = std::make_unique<CTransferQueue>();
        newest->Append(Download("/newest", "/tmp", KIND_FILE));
        writer.Submit({{"h", newest.get()}});
        writer.ForgetQueues();
        newest.reset();
        queues.clear();
    }
    // Nothing older than the exit save was written after it.
    const QString text = ReadText(autosave);
    QVERIFY2(text == QString::fromStdString(last) || (text.contains(QStringLiteral("/newest")) && !text.contains(QStringLiteral("older"))),
             qPrintable(text));
}

void TollvaneApplicationTest::theQueueViewShowsTheRunningDownloadsProgress()
{
    tvtest::FtpServerOptions options;
    options.maxBytesPerSecond = 256 * 1024;
    tvtest::PyftpdlibServer server(options);
    QVERIFY2(server.start(), server.error().c_str());
    // At that rate the file takes half a minute: long enough to be seen, and stopped early.
    QVERIFY(server.createFile("big.bin", std::string(8 << 20, 'b')));
    const QString download = m_home->path() + QStringLiteral("/download");
    QVERIFY(QDir().mkpath(download));

    auto app = makeApp();
    QVERIFY(!app->start({}).has_value());
    CSiteSetting site;
    site.address = "127.0.0.1";
    site.port = server.port();
    site.logintype = 1;
    site.passive = 1;
    OpenSession* session = app->sessions()->add(site);
    // The size as the remote pane's listing gives it.
    std::unique_ptr<CQueueEntry> big = Download("/big.bin", download.toStdString(), KIND_FILE);
    big->SetSize(8 << 20);
    session->session().Queue().Append(std::move(big));
    session->session().Queue().Append(Download("/after.bin", download.toStdString(), KIND_FILE));
    app->sessions()->setActive(session);
    app->mainFrame()->actions().startTransfer->trigger();

    QueueView* view = app->mainFrame()->queueView();
    QTRY_VERIFY2_WITH_TIMEOUT(view->model()->index(0, QueueModel::Status).data(QueueModel::ProgressPercentRole).toInt() > 0,
                              qPrintable(QStringLiteral("%1 rows, %2").arg(view->model()->rowCount()).arg(
                                  view->model()->index(0, QueueModel::Status).data().toString())),
                              kWait);
    const int percent = view->model()->index(0, QueueModel::Status).data(QueueModel::ProgressPercentRole).toInt();
    QVERIFY2(percent < 100, qPrintable(QString::number(percent)));
    // The whole progress stays the cell's text; only the transferring row has a bar.
    const QString text = view->model()->index(0, QueueModel::Status).data(Qt::ToolTipRole).toString();
    QVERIFY2(text.startsWith(QStringLiteral("transferring ")) && text.contains(QStringLiteral("/8,388,608")),
             qPrintable(text));
    QVERIFY(!view->model()->index(1, QueueModel::Status).data(QueueModel::ProgressPercentRole).isValid());
    QVERIFY(!view->grab().isNull()); // the bar is drawn
    session->session().CancelOperation();
    app->sessions()->clear();
}

void TollvaneApplicationTest::sigtermDuringAQueueRunLeavesAnAutosaveTheNextStartContinues()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    constexpr int kFiles = 300;
    const std::string payload(20000, 'x');
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(server.createFile("tree/file" + std::to_string(i) + ".bin", payload));
    const QString download = m_home->path() + QStringLiteral("/download");
    QVERIFY(QDir().mkpath(download));
    CTransferQueue queue;
    queue.Append(Download("/tree", download.toStdString(), KIND_DIRECTORY));
    const std::string job = m_home->path().toStdString() + "/tree.tvq";
    QVERIFY(SaveQueues({{"127.0.0.1", &queue}}, job, nullptr));
    // A job names hosts only: the port comes from the stored site of that address.
    {
        SiteList sites;
        auto site = std::make_unique<CSiteSetting>();
        site->name = "Test server";
        site->address = "127.0.0.1";
        site->port = server.port();
        site->logintype = 1;
        site->passive = 1;
        sites.push_back(std::move(site));
        QVERIFY(QDir().mkpath(dataFolder()));
        QVERIFY(SaveSiteFile(dataFolder().toStdString() + "site.dat", sites));
    }
    const auto countFiles = [&] { return QDir(download + QStringLiteral("/tree")).entryList(QDir::Files).size(); };
    const QString autosave = dataFolder() + QStringLiteral("autosave.tvq");
    // The files the first run finished are there again: no question, the automatic action.
    m_store.WriteInt("pOverwrite", 0);

    {
        auto app = makeApp();
        QVERIFY(!app->start({}).has_value());
        UnixSignalWatcher watcher;
        QVERIFY(watcher.isWatching());
        connect(&watcher, &UnixSignalWatcher::terminationRequested, app.get(), &TollvaneApplication::closeUnattended);
        QSignalSpy closed(app.get(), &TollvaneApplication::closed);
        QVERIFY(app->mainFrame()->importJob(QString::fromStdString(job)));
        OpenSession* session = app->sessions()->active();
        QVERIFY(session);
        QCOMPARE(session->session().Port(), server.port());
        app->mainFrame()->actions().startTransfer->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(countFiles() >= 3, kWait);
        ::kill(::getpid(), SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kWait);
        QVERIFY2(countFiles() < kFiles, "the run ended before the signal: make the tree larger");
        const QString text = ReadText(autosave);
        QVERIFY2(text.startsWith(QStringLiteral("[127.0.0.1]\n")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("/tree")));
    }
    {
        auto app = makeApp();
        QVERIFY(!app->start({}).has_value());
        // The saved entry came back; started again it fetches the rest.
        QCOMPARE(static_cast<int>(app->sessions()->sessions().size()), 1);
        OpenSession* session = app->sessions()->sessions().front().get();
        QCOMPARE(static_cast<int>(session->session().Queue().Size()), 1);
        app->sessions()->setActive(session);
        app->mainFrame()->actions().startTransfer->trigger();
        QTRY_VERIFY2_WITH_TIMEOUT(session->session().Queue().IsEmpty(),
                                  qPrintable(QStringLiteral("%1 files").arg(countFiles())), kWait * 2);
        QCOMPARE(countFiles(), static_cast<qsizetype>(kFiles));
        for (const QFileInfo& file : QDir(download + QStringLiteral("/tree")).entryInfoList(QDir::Files))
            QCOMPARE(file.size(), static_cast<qint64>(payload.size()));
        app->sessions()->clear();
    }
}

void TollvaneApplicationTest::closingWhileAWorkerWaitsOnAQuestionEndsPromptly()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("same.txt", "server copy"));
    const QString download = m_home->path() + QStringLiteral("/download");
    QVERIFY(QDir().mkpath(download));
    QFile local(download + QStringLiteral("/same.txt"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.write("local copy, longer than the server's");
    local.close();

    auto app = makeApp(true);
    QVERIFY(!app->start({}).has_value());
    CSiteSetting site;
    site.address = "127.0.0.1";
    site.port = server.port();
    site.logintype = 1;
    site.passive = 1;
    OpenSession* session = app->sessions()->add(site);
    QPointer<QDialog> question;
    connect(&session->bridge(), &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { question = dialog; });
    session->session().Queue().Append(Download("/same.txt", download.toStdString(), KIND_FILE));
    app->sessions()->setActive(session);
    app->mainFrame()->actions().startTransfer->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(question, kWait);

    QSignalSpy closed(app.get(), &TollvaneApplication::closed);
    QElapsedTimer timer;
    timer.start();
    app->closeUnattended();
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kWait);
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    // The cautious answer: the local file was not overwritten.
    QVERIFY(local.open(QIODevice::ReadOnly));
    QCOMPARE(local.readAll(), QByteArray("local copy, longer than the server's"));
}

QTEST_MAIN(TollvaneApplicationTest)
#include "TollvaneApplicationTest.moc"
