#include "app/lib/SingleInstance.h"

#include "AppTestEnvironment.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const char kChildServerVariable[] = "TV_SINGLE_INSTANCE_SERVER";
const char kChildTextVariable[] = "TV_SINGLE_INSTANCE_TEXT";

QString ServerName(const char* name)
{
    return QString::fromStdString(apptest::Root() + "/runtime/") + QLatin1String(name);
}

// Runs this test executable again as the second start (the test below named Child).
QProcess* StartSecondProcess(const QString& server, const QByteArray& text)
{
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kChildServerVariable), server);
    env.insert(QLatin1String(kChildTextVariable), QString::fromUtf8(text));
    process->setProcessEnvironment(env);
    process->setProgram(QCoreApplication::applicationFilePath());
    process->setArguments({QStringLiteral("--gtest_filter=SingleInstance.Child")});
    process->start();
    return process;
}

// Turns the event loop until `done` holds or two seconds pass.
template <typename Done>
void RunEventsUntil(Done done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    poll.start(10);
    loop.exec();
}

TEST(SingleInstance, SecondProcessHandsItsCommandLineToTheFirst)
{
    const QString server = ServerName("handover.sock");
    SingleInstance first(server);
    ASSERT_EQ(first.Start("first start"), SingleInstance::Role::Primary);
    QList<QByteArray> received;
    first.SetHandler([&](const QByteArray& text) { received.append(text); });

    const QByteArray commandLine = "ftp://bob@ftp.example.org/pub \"with quotes\"";
    std::unique_ptr<QProcess> second(StartSecondProcess(server, commandLine));
    RunEventsUntil([&] { return !received.isEmpty() && second->state() == QProcess::NotRunning; });
    if (second->state() != QProcess::NotRunning) {
        second->kill();
        second->waitForFinished(1000);
    }
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0], commandLine);
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardOutput().toStdString();
}

// The second start, run as a process of its own by the test above.
TEST(SingleInstance, Child)
{
    const QByteArray server = qgetenv(kChildServerVariable);
    if (server.isEmpty())
        GTEST_SKIP() << "runs only as the second process of the hand-over test";
    SingleInstance second{QString::fromUtf8(server)};
    EXPECT_EQ(second.Start(qgetenv(kChildTextVariable), 2000), SingleInstance::Role::HandedOver);
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
    EXPECT_EQ(second.Start("x", 300), SingleInstance::Role::Failed);
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
