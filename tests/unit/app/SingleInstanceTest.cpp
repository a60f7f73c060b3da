#include "app/lib/SingleInstance.h"

#include "AppTestEnvironment.h"
#include "app/lib/AppStartup.h"
#include "sites/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace {

const char kChildServerVariable[] = "TV_SINGLE_INSTANCE_SERVER";
const char kChildTextVariable[] = "TV_SINGLE_INSTANCE_TEXT";
const char kChildModeVariable[] = "TV_SINGLE_INSTANCE_MODE";
// What the child process does (kChildModeVariable):
const char kModeHandOver[] = "hand-over";           // a later start with a command line
const char kModeHandOverFiles[] = "hand-over-files"; // a later start with files (";"-separated)
const char kModeHang[] = "hang"; // becomes the running copy, says "primary", never answers

QString ServerName(const char* name)
{
    return QString::fromStdString(apptest::Root() + "/runtime/") + QLatin1String(name);
}

// Runs this test executable again as another start (the test below named Child).
std::unique_ptr<QProcess> StartProcess(const QString& server, const char* mode, const QByteArray& text = {},
                                       const QString& workingFolder = {})
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kChildServerVariable), server);
    env.insert(QLatin1String(kChildTextVariable), QString::fromUtf8(text));
    env.insert(QLatin1String(kChildModeVariable), QLatin1String(mode));
    process->setProcessEnvironment(env);
    process->setProgram(QCoreApplication::applicationFilePath());
    process->setArguments({QStringLiteral("--gtest_filter=SingleInstance.Child")});
    if (!workingFolder.isEmpty())
        process->setWorkingDirectory(workingFolder);
    process->start();
    return process;
}

// Turns the event loop until `done` holds or a generous limit passes.
template <typename Done>
bool RunEventsUntil(Done done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    poll.start(10);
    loop.exec();
    return done();
}

// Waits until a child in kModeHang has become the running copy.
bool WaitUntilPrimary(QProcess& child)
{
    QByteArray said;
    while (!said.contains("primary")) {
        if (!child.waitForReadyRead(30000))
            return false;
        said += child.readAllStandardOutput();
    }
    return true;
}

void Kill(QProcess& child)
{
    if (child.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(30000);
    }
}

TEST(SingleInstance, SecondProcessHandsItsCommandLineToTheFirst)
{
    const QString server = ServerName("handover.sock");
    SingleInstance first(server);
    ASSERT_EQ(first.Start("first start"), SingleInstance::Role::Primary);
    QList<QByteArray> received;
    first.SetHandler([&](const QByteArray& text) { received.append(text); });

    const QByteArray commandLine = "ftp://bob@ftp.example.org/pub \"with quotes\"";
    std::unique_ptr<QProcess> second = StartProcess(server, kModeHandOver, commandLine);
    RunEventsUntil([&] { return !received.isEmpty() && second->state() == QProcess::NotRunning; });
    Kill(*second);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0], commandLine);
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardOutput().toStdString();
}

TEST(SingleInstance, PathsArriveAbsoluteAsTheSenderNamedThem)
{
    // The later start runs in a folder of its own: a relative job file, and relative files
    // for the transfer dialog, must arrive as that start meant them.
    const QString server = ServerName("relative.sock");
    SingleInstance first(server);
    ASSERT_EQ(first.Start(""), SingleInstance::Role::Primary);
    QList<QByteArray> commandLines;
    QList<QStringList> fileLists;
    first.SetHandler([&](const QByteArray& text) { commandLines.append(text); });
    first.SetFilesHandler([&](const QStringList& files) { fileLists.append(files); });

    const QString folder = QString::fromStdString(apptest::Root() + "/elsewhere");
    ASSERT_TRUE(QDir().mkpath(folder + "/jobs"));
    std::unique_ptr<QProcess> job = StartProcess(server, kModeHandOver, "jobs/../jobs/nightly.tvq", folder);
    ASSERT_TRUE(RunEventsUntil([&] { return !commandLines.isEmpty() && job->state() == QProcess::NotRunning; }));
    EXPECT_EQ(job->exitCode(), 0) << job->readAllStandardOutput().toStdString();
    ASSERT_EQ(commandLines.size(), 1);
    EXPECT_EQ(QString::fromUtf8(commandLines[0]), folder + "/jobs/nightly.tvq");

    std::unique_ptr<QProcess> files = StartProcess(server, kModeHandOverFiles, "a.txt;sub/b.bin;/abs/c", folder);
    ASSERT_TRUE(RunEventsUntil([&] { return !fileLists.isEmpty() && files->state() == QProcess::NotRunning; }));
    EXPECT_EQ(files->exitCode(), 0) << files->readAllStandardOutput().toStdString();
    ASSERT_EQ(fileLists.size(), 1);
    EXPECT_EQ(fileLists[0], (QStringList{folder + "/a.txt", folder + "/sub/b.bin", "/abs/c"}));
    EXPECT_EQ(commandLines.size(), 1) << "files must not arrive as a command line";
}

TEST(SingleInstance, OnlyJobFilesAndExistingFilesAreMadeAbsolute)
{
    const QString folder = QString::fromStdString(apptest::Root() + "/base");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile(folder + "/present.txt").open(QIODevice::WriteOnly);
    const QDir base(folder);
    struct Case {
        QString text;
        QString expected;
    } cases[] = {
        {"job.tvq", folder + "/job.tvq"},
        {"Job.TVQ", folder + "/Job.TVQ"},
        {"\"my job.tvq\"", folder + "/my job.tvq"},
        {"present.txt", folder + "/present.txt"},
        {"/abs/job.tvq", "/abs/job.tvq"},
        {"ftp://host/dir/job.tvq", "ftp://host/dir/job.tvq"},
        {"ftp.example.org", "ftp.example.org"},  // a host name, not a file here
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AbsoluteCommandLine(c.text, base), c.expected) << c.text.toStdString();
}

TEST(SingleInstance, ACopyThatHangsIsReportedAndTheLaterStartDoesNotRun)
{
    const QString server = ServerName("hung.sock");
    std::unique_ptr<QProcess> first = StartProcess(server, kModeHang);
    ASSERT_TRUE(WaitUntilPrimary(*first)) << first->readAllStandardError().toStdString();
    SingleInstance second(server);
    EXPECT_EQ(second.Start("ftp://host/", 300), SingleInstance::Role::NotResponding);
    EXPECT_TRUE(QFile::exists(server)) << "the running copy's socket was taken away";
    Kill(*first);
}

TEST(SingleInstance, LockOfACopyThatDiedIsTakenOver)
{
    // A copy killed outright leaves its lock file and its socket file behind.
    const QString server = ServerName("crashed.sock");
    std::unique_ptr<QProcess> first = StartProcess(server, kModeHang);
    ASSERT_TRUE(WaitUntilPrimary(*first)) << first->readAllStandardError().toStdString();
    Kill(*first);
    ASSERT_TRUE(QFile::exists(server));
    ASSERT_TRUE(QFile::exists(server + ".lock"));
    SingleInstance next(server);
    EXPECT_EQ(next.Start("x", 1000), SingleInstance::Role::Primary);
}

TEST(SingleInstance, AStartRefusedByAHungCopyEndsWithTheMessage)
{
    const QString server = ServerName("startup-hung.sock");
    std::unique_ptr<QProcess> first = StartProcess(server, kModeHang);
    ASSERT_TRUE(WaitUntilPrimary(*first)) << first->readAllStandardError().toStdString();
    MemorySettingsStore store;
    AppStartupOptions options;
    options.singleInstanceName = server;
    options.singleInstanceTimeoutMs = 300;
    options.notifyFileTypes = false;
    options.installCrashHandler = false;
    AppState state;
    const AppStartOutcome outcome = StartWithoutWindows("", store, options, state);
    EXPECT_EQ(outcome.result, AppStartResult::Fatal);
    EXPECT_EQ(outcome.fatalMessage, "Tollvane is already running but does not respond.");
    Kill(*first);
}

// The other start, run as a process of its own by the tests above.
TEST(SingleInstance, Child)
{
    const QByteArray server = qgetenv(kChildServerVariable);
    if (server.isEmpty())
        GTEST_SKIP() << "runs only as another process of the tests above";
    const QByteArray mode = qgetenv(kChildModeVariable);
    const QString text = QString::fromUtf8(qgetenv(kChildTextVariable));
    SingleInstance instance{QString::fromUtf8(server)};
    if (mode == kModeHang) {
        ASSERT_EQ(instance.Start("", 5000), SingleInstance::Role::Primary);
        std::printf("primary\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(60);  // never turns the event loop: a hung copy, until killed
    }
    if (mode == kModeHandOverFiles) {
        EXPECT_EQ(instance.StartWithFiles(text.split(QLatin1Char(';')), 10000), SingleInstance::Role::HandedOver);
        return;
    }
    EXPECT_EQ(instance.Start(text.toUtf8(), 10000), SingleInstance::Role::HandedOver);
}

TEST(SingleInstance, SocketLeftByACrashedCopyIsTakenOver)
{
    const QString server = ServerName("stale.sock");
    {
        QFile stale(server);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance instance(server);
    EXPECT_EQ(instance.Start("x", 1000), SingleInstance::Role::Primary);
}

TEST(SingleInstance, ACopyThatDoesNotAnswerKeepsItsSocket)
{
    // This thread never turns the event loop while it waits, so the server below accepts
    // the connection but never answers: a busy first copy.
    const QString server = ServerName("busy.sock");
    QLocalServer busy;
    ASSERT_TRUE(busy.listen(server));
    SingleInstance second(server);
    EXPECT_EQ(second.Start("x", 300), SingleInstance::Role::NotResponding);
    EXPECT_TRUE(QFile::exists(server)) << "the running copy's socket was taken away";
}

TEST(SingleInstance, AfterTheFirstEndsTheNextStartRuns)
{
    const QString server = ServerName("again.sock");
    {
        SingleInstance first(server);
        ASSERT_EQ(first.Start("a"), SingleInstance::Role::Primary);
    }
    SingleInstance next(server);
    EXPECT_EQ(next.Start("b", 1000), SingleInstance::Role::Primary);
}

TEST(SingleInstance, DefaultNameIsPerUserInTheRuntimeFolder)
{
    const QString name = SingleInstance::DefaultServerName();
    EXPECT_TRUE(name.startsWith(QString::fromStdString(apptest::Root() + "/runtime/")))
        << name.toStdString();
    EXPECT_TRUE(name.contains(QString::number(::getuid())));
}

} // namespace
