// The worker's connection loop and states against a closed port and a scripted server:
// retries and their numbering, giving up, Stop during a pause or a command, a server that
// hangs up (offline, or reconnect with KeepAlive), and StopThread at any moment.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/integration/session/SessionFixture.h"
#include "tests/support/ScriptedServer.h"

namespace sessiontest {
namespace {

using tvtest::Script;
using tvtest::ScriptStep;

// A loopback port with nothing listening on it: connecting is refused at once.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

CSessionSite SiteAt(int port) {
    CSessionSite site;
    site.address = "127.0.0.1";
    site.port = port;
    site.username = "alice";
    site.password = "secret";
    return site;
}

// The first listing of the online set-up (active mode): an empty directory.
std::vector<ScriptStep> OnlineListing() {
    return {
        ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
        ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
    };
}

// Welcome, login and the PWD of the online set-up.
Script LoginAndPwd() {
    return {
        ScriptStep::send("220 Scripted\r\n"),
        ScriptStep::on("USER alice", "331 Password\r\n"),
        ScriptStep::on("PASS secret", "230 In\r\n"),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    };
}

Script Then(Script script, std::vector<ScriptStep> more) {
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

// The whole online set-up: login, PWD and the first listing.
Script LoginScript() { return Then(LoginAndPwd(), OnlineListing()); }

class ConnectionPolicy : public SessionTestBase {
protected:
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const CLogLine& line : ui.Lines()) texts.push_back(line.text);
        return texts;
    }
};

// ErrorRetry values: 0 gives up after one attempt without a pause.
class RefusedConnection : public ConnectionPolicy, public ::testing::WithParamInterface<int> {};

TEST_P(RefusedConnection, IsRetriedThenGivenUp) {
    const std::vector<std::string> attempt = {"Creating control socket...",
                                              "Connecting to 127.0.0.1 ...",
                                              "Connection refused."};
    {
        const int errorRetry = GetParam();
        settings.ErrorRetry = errorRetry;
        Open(SiteAt(ClosedPort()));
        ASSERT_TRUE(WaitForLine("Max errors reached, stop.")) << ui.Transcript();

        std::vector<std::string> expected = attempt;
        for (int retry = 1; retry <= errorRetry; ++retry) {
            expected.push_back("Waiting to retry...");
            expected.push_back("Connection retry #" + std::to_string(retry) + "...");
            expected.insert(expected.end(), attempt.begin(), attempt.end());
        }
        expected.push_back("Max errors reached, stop.");
        EXPECT_EQ(Texts(), expected) << ui.Transcript();
        for (const CLogLine& line : ui.Lines()) {
            const bool error = line.text == "Connection refused." ||
                               line.text == "Max errors reached, stop.";
            EXPECT_EQ(line.kind, error ? LOG_ERROR : LOG_STATE) << line.text;
            EXPECT_EQ(line.newline, 1);
            EXPECT_EQ(line.prefix, 1);
        }
        // The attempt was remembered as the last connection.
        const auto table = sharedSettings.Current();
        EXPECT_EQ(table->LastAddress, "127.0.0.1");
        EXPECT_EQ(table->LastUser, "alice");
        EXPECT_EQ(table->LastPassword, "secret");
        // Gave up and went offline.
        EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
        EXPECT_FALSE(session->IsBusy());
    }
}

INSTANTIATE_TEST_SUITE_P(ErrorRetry, RefusedConnection, ::testing::Values(0, 2));

TEST_F(ConnectionPolicy, StopDuringThePauseEndsTheLoop) {
    settings.ErrorRetry = 5;
    settings.RetryDelay = 60;
    Open(SiteAt(ClosedPort()));
    ASSERT_TRUE(WaitForLine("Waiting to retry...")) << ui.Transcript();
    EXPECT_TRUE(session->IsBusy());
    session->CancelOperation();
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_GE(IndexOf("Interrupted by user"), IndexOf("Waiting to retry..."));
    EXPECT_EQ(ui.CountLines("Connection retry #1..."), 0);
    EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
}

// The line after which StopThread is called: none (right after Start, when the worker
// may not have run yet), during the first attempt, during a pause.
class StopThreadMoment : public ConnectionPolicy,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(StopThreadMoment, EndsTheWorker) {
    settings.ErrorRetry = 100;
    Open(SiteAt(ClosedPort()));
    if (*GetParam()) {
        ASSERT_TRUE(WaitForLine(GetParam())) << ui.Transcript();
    }
    session->StopThread();
    EXPECT_FALSE(session->HasThread());
}

INSTANTIATE_TEST_SUITE_P(Moments, StopThreadMoment,
                         ::testing::Values("", "Creating control socket...",
                                           "Waiting to retry..."));

TEST_F(ConnectionPolicy, StopThreadKeepsTheCallerResponsive) {
    settings.ErrorRetry = 100;
    Open(SiteAt(ClosedPort()));
    ASSERT_TRUE(WaitForLine("Waiting to retry...")) << ui.Transcript();
    int calls = 0;
    session->StopThread([&] { ++calls; });
    EXPECT_GE(calls, 1);
    EXPECT_FALSE(session->HasThread());
}

TEST_F(ConnectionPolicy, ServerClosingTheConnectionLeavesTheSessionOffline) {
    tvtest::ScriptedServer server;
    server.addConnection(Then(LoginScript(), {ScriptStep::on("REST 0", "").thenClose()}));
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_REST));
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_GE(IndexOf("Control connection closed by server."), 0) << ui.Transcript();
    EXPECT_FALSE(session->IsLoggedIn());
    EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(ConnectionPolicy, ServerClosingTheConnectionIsFollowedByAReconnectWithKeepAlive) {
    settings.KeepAlive = 1;
    tvtest::ScriptedServer server;
    server.addConnection(Then(LoginScript(), {ScriptStep::on("REST 0", "").thenClose()}));
    server.addConnection(Then(LoginScript(), {ScriptStep::on("NOOP", "").thenStall()}));
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_REST));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait, 2)) << ui.Transcript();
    const int closed = IndexOf("Session Closed.");
    ASSERT_GE(closed, 0) << ui.Transcript();
    EXPECT_EQ(IndexOf("Creating control socket...", closed), closed + 1) << ui.Transcript();
    EXPECT_TRUE(session->IsConnected());
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(ConnectionPolicy, StopWhileBusyInterruptsOnlyTheCommand) {
    tvtest::ScriptedServer server;
    server.addConnection(Then(LoginScript(), {
        ScriptStep::on("REST 0", "350 Restarting\r\n").delayReply(1500),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    }));
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_REST));
    ASSERT_TRUE(WaitForLine("REST 0")) << ui.Transcript();
    session->CancelOperation();
    ASSERT_TRUE(WaitForLine("Interrupted by user")) << ui.Transcript();
    // The late reply arrives while the session waits for its next command.
    ASSERT_TRUE(WaitForLineStarting(LOG_REPLY, "350")) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_PWD));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait, 2)) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Session Closed."), 0);
    EXPECT_TRUE(session->IsConnected());
}

// A command stopped (by the user or its time-out) between its request and its reply owes
// a reply. The next command must never take that reply as its own answer: it waits for the
// late reply first, and when none comes within the time-out the connection is closed.
struct OwedReplyCase {
    const char* name;
    bool stoppedByUser;  // else by the time-out
    int timeoutSeconds;
    int replyDelayMs;    // -1: the late reply never comes
};

class OwedReply : public ConnectionPolicy, public ::testing::WithParamInterface<OwedReplyCase> {};

TEST_P(OwedReply, IsNeverTakenAsTheNextCommandsAnswer) {
    const OwedReplyCase& param = GetParam();
    const bool replyComes = param.replyDelayMs >= 0;
    tvtest::ScriptedServer server;
    std::vector<ScriptStep> steps;
    if (replyComes) {
        steps.push_back(ScriptStep::on("CWD /data", "250 Changed\r\n").delayReply(param.replyDelayMs));
        steps.push_back(ScriptStep::on("PWD", "257 \"/data\" is current\r\n"));
    } else {
        steps.push_back(ScriptStep::on("CWD /data", "").thenStall());
    }
    server.addConnection(Then(LoginScript(), steps));
    server.setCommandTimeoutMs(30000);
    ASSERT_TRUE(server.start()) << server.error();
    settings.Timeout = param.timeoutSeconds;
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();

    CSessionCommand cwd = SimpleCommand(CMD_CWD);
    cwd.path = "/data";
    session->IssueCommand(cwd);
    ASSERT_TRUE(WaitForLine("CWD /data")) << ui.Transcript();
    if (param.stoppedByUser) {
        session->CancelOperation();
        ASSERT_EQ(ui.WaitForCommandResult(CMD_CWD, kLogWait), FTP_INTERRUPTED) << ui.Transcript();
    }
    // Issued at once: without the catching up it would go out before the late reply.
    session->IssueCommand(SimpleCommand(CMD_PWD));
    if (!param.stoppedByUser) {
        EXPECT_EQ(ui.WaitForCommandResult(CMD_CWD, kLogWait), FTP_TIMEOUT) << ui.Transcript();
    }
    const int pwd = ui.WaitForCommandResult(CMD_PWD, kLogWait);
    EXPECT_TRUE(WaitForLine("Waiting for the reply to the interrupted CWD command...")) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Unexpected response received."), 0) << ui.Transcript();
    if (replyComes) {
        EXPECT_EQ(pwd, FTP_OK) << ui.Transcript();
        EXPECT_TRUE(ui.WaitForCall("DirectoryChanged", "/data", kLogWait)) << ui.Transcript();
        // The late reply was read before PWD went out.
        const int late = IndexOf("250 Changed\r\n");
        ASSERT_GE(late, 0) << ui.Transcript();
        EXPECT_GT(IndexOf("PWD", late), late) << ui.Transcript();
        EXPECT_TRUE(session->IsConnected());
        EXPECT_TRUE(server.waitUntilDone(30000)) << server.error();
    } else {
        EXPECT_EQ(pwd, FTP_CLOSED) << ui.Transcript();
        EXPECT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
        // PWD never went out on the connection that was out of step.
        const std::vector<std::string> sent = server.commands(0);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "PWD"), 1) << ui.Transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OwedReply,
    ::testing::Values(OwedReplyCase{"StopThenLateReply", true, 30, 1500},
                      OwedReplyCase{"TimeOutThenLateReply", false, 4, 6000},
                      OwedReplyCase{"StopAndNoReplyEver", true, 2, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectionPolicy, StopThreadDuringAStalledCommandReturns) {
    tvtest::ScriptedServer server;
    server.addConnection(Then(LoginScript(), {ScriptStep::on("REST 0", "").thenStall()}));
    ASSERT_TRUE(server.start()) << server.error();
    settings.Timeout = 60;  // only the stop can end the wait
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_REST));
    ASSERT_TRUE(WaitForLine("REST 0")) << ui.Transcript();
    session->StopThread();
    EXPECT_FALSE(session->HasThread());
}

TEST_F(ConnectionPolicy, ARefusedLoginIsNotRetriedAndItsConnectionIsDropped) {
    // Trying the same password again only risks locking the account. The server keeps the
    // connection open: the session closes it when it gives up, so that a late hang-up of
    // the server cannot wake the offline session.
    settings.ErrorRetry = 3;
    tvtest::ScriptedServer server;
    server.addConnection({
        ScriptStep::send("220 Scripted\r\n"),
        ScriptStep::on("USER alice", "331 Password\r\n"),
        ScriptStep::on("PASS secret", "530 Login incorrect\r\n").thenStall(),
    });
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_CONNECT, kLogWait), FTP_NOT_AVAILABLE) << ui.Transcript();
    EXPECT_TRUE(WaitForLine("Login refused by the server: 530 Login incorrect")) << ui.Transcript();
    EXPECT_EQ(session->LastReplyLine(), "530 Login incorrect");
    EXPECT_TRUE(server.waitUntilDone(2000)) << "the refused connection was left open";
    EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
    EXPECT_FALSE(session->IsConnected());
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(ConnectionPolicy, AServerThatHangsUpAtTheFirstCommandIsRetriedWithinTheLimit) {
    // "421" and a hang-up right after the login: a failed connection, tried again after
    // the pause up to ErrorRetry times, then given up for good.
    settings.ErrorRetry = 1;
    tvtest::ScriptedServer server;
    for (int i = 0; i < 2; ++i)
        server.addConnection({
            ScriptStep::send("220 Scripted\r\n"),
            ScriptStep::on("USER alice", "331 Password\r\n"),
            ScriptStep::on("PASS secret", "230 In\r\n"),
            ScriptStep::on("PWD", "421 Too many users\r\n").thenClose(),
        });
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_CONNECT, kLogWait), FTP_CONNECT_FAILED) << ui.Transcript();
    EXPECT_EQ(session->LastReplyLine(), "421 Too many users");
    EXPECT_TRUE(server.waitUntilDone(2000)) << server.error();
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
    EXPECT_FALSE(session->IsConnected());
}

TEST_F(ConnectionPolicy, DisconnectDuringTheOnlineSetUpEndsTheSession) {
    tvtest::ScriptedServer server;
    Script script = LoginAndPwd();
    script.back().delayReply(1000);  // the first PWD is slow to answer
    server.addConnection(script);
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    ASSERT_TRUE(WaitForLine("PWD")) << ui.Transcript();
    session->Disconnect();
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_TRUE(ConfirmOffline()) << ui.Transcript();
}

// The start directory: "/" and none send no CWD (the script would reject one); any other
// is entered after the first PWD.
struct StartDirectoryCase {
    const char* defremotedir;
    const char* expectedCwd;  // nullptr: none
};

class StartDirectory : public ConnectionPolicy,
                       public ::testing::WithParamInterface<StartDirectoryCase> {};

TEST_P(StartDirectory, IsEnteredAfterLogin) {
    Script script = LoginAndPwd();
    std::string directory = "/";
    if (GetParam().expectedCwd != nullptr) {
        directory = GetParam().defremotedir;
        script.push_back(ScriptStep::on(GetParam().expectedCwd, "250 OK\r\n"));
        script.push_back(ScriptStep::on("PWD", "257 \"" + directory + "\" is current\r\n"));
    }
    script = Then(script, OnlineListing());
    script.push_back(ScriptStep::on("REST 0", "350 Restarting\r\n"));
    tvtest::ScriptedServer server;
    server.addConnection(script);
    ASSERT_TRUE(server.start()) << server.error();
    CSessionSite site = SiteAt(server.port());
    site.defremotedir = GetParam().defremotedir;
    Open(site);
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", directory, kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_REST));
    EXPECT_EQ(ReplyAfter("REST 0"), "350 Restarting\r\n") << ui.Transcript();
    EXPECT_EQ(server.error(), "");
    EXPECT_EQ(session->CurrentRemoteDirectory(), directory);
}

INSTANTIATE_TEST_SUITE_P(Directories, StartDirectory,
                         ::testing::Values(StartDirectoryCase{"/", nullptr},
                                           StartDirectoryCase{"", nullptr},
                                           StartDirectoryCase{"/pub/incoming", "CWD /pub/incoming"}));

TEST_F(ConnectionPolicy, UnknownCommandIsReportedAndTheSessionGoesOn) {
    tvtest::ScriptedServer server;
    server.addConnection(Then(LoginScript(), {ScriptStep::on("PWD", "257 \"/\" is current\r\n")}));
    ASSERT_TRUE(server.start()) << server.error();
    Open(SiteAt(server.port()));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait)) << ui.Transcript();
    session->IssueCommand(SimpleCommand(99));
    ASSERT_TRUE(ui.WaitForCall("MessageBox",
                               "127.0.0.1|Unimplemented command!|" +
                                   std::to_string(MB_OK | MB_ICONEXCLAMATION),
                               kLogWait));
    session->IssueCommand(SimpleCommand(CMD_PWD));
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait, 2)) << ui.Transcript();
    EXPECT_TRUE(session->IsConnected());
}

}  // namespace
}  // namespace sessiontest
