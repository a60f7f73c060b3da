// A session opened through its mailbox against vsftpd and pyftpdlib: connect, welcome,
// login (named user and anonymous), commands, reconnect, disconnect.

#include <filesystem>
#include <thread>
#include <memory>
#include <string>

#include "ftp/CtrlSocket.h"
#include "tests/integration/session/SessionFixture.h"
#include "tests/support/FtpServers.h"

namespace sessiontest {
namespace {

enum class ServerKind { Vsftpd, Pyftpdlib };

struct LoginCase {
    ServerKind server;
    bool anonymous;
};

std::string CaseName(const ::testing::TestParamInfo<LoginCase>& info) {
    return std::string(info.param.server == ServerKind::Vsftpd ? "Vsftpd" : "Pyftpdlib") +
           (info.param.anonymous ? "Anonymous" : "NamedUser");
}

class RealServerSession : public SessionTestBase,
                          public ::testing::WithParamInterface<LoginCase> {
protected:
    void SetUp() override {
        if (GetParam().server == ServerKind::Vsftpd) {
            server = std::make_unique<tvtest::VsftpdServer>();
        } else {
            server = std::make_unique<tvtest::PyftpdlibServer>();
        }
        ASSERT_TRUE(server->start()) << server->error();
        ASSERT_TRUE(server->createFolder("pub"));
        settings.AnonymousPass = "tester@example.org";
    }

    CSessionSite Site() const {
        CSessionSite site;
        site.address = server->host();
        site.port = server->port();
        site.logintype = GetParam().anonymous ? LOGIN_ANONYMOUS : LOGIN_NORMAL;
        site.username = server->userName();
        site.password = server->password();
        return site;
    }

    // Opens the session and waits until it stands in `directory` after logging in.
    void OpenAndWaitOnline(const CSessionSite& site, const std::string& directory = "/") {
        Open(site);
        ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", directory, kLogWait)) << ui.Transcript();
        ASSERT_TRUE(session->IsConnected());
    }

    std::unique_ptr<tvtest::FtpTestServer> server;
};

TEST_P(RealServerSession, LogsInAndLogsEveryStepWithKindAndFlags) {
    CSessionSite site = Site();
    site.defremotedir = "/pub";
    OpenAndWaitOnline(site, "/pub");
    EXPECT_TRUE(session->IsLoggedIn());
    EXPECT_EQ(session->CurrentRemoteDirectory(), "/pub") << ui.Transcript();
    EXPECT_EQ(session->LocalAddress(), "127.0.0.1");

    const std::string user = GetParam().anonymous ? "anonymous" : server->userName();
    const std::string password = GetParam().anonymous ? settings.AnonymousPass : server->password();
    // The engine's own lines, in order, each with both flags set.
    const struct {
        const char* text;
        int kind;
    } expected[] = {
        {"Creating control socket...", LOG_STATE},
        {"Connecting to 127.0.0.1 ...", LOG_STATE},
        {"Socket connected, waiting for welcome message...", LOG_STATE},
    };
    const auto lines = ui.Lines();
    int at = 0;
    for (const auto& line : expected) {
        const int found = IndexOf(line.text, at);
        ASSERT_GE(found, at) << line.text << "\n" << ui.Transcript();
        EXPECT_EQ(lines[found].kind, line.kind) << line.text;
        EXPECT_EQ(lines[found].newline, 1) << line.text;
        EXPECT_EQ(lines[found].prefix, 1) << line.text;
        at = found + 1;
    }
    const int userLine = IndexOf("USER " + user, at);
    ASSERT_GT(userLine, at) << ui.Transcript();  // the welcome comes first
    EXPECT_EQ(lines[at].kind, LOG_REPLY);
    EXPECT_EQ(lines[at].text.substr(0, 3), "220");
    EXPECT_EQ(lines[at].prefix, 1);   // a reply starts a new line ...
    EXPECT_EQ(lines[at].newline, 0);  // ... and carries its own line ends
    EXPECT_EQ(lines[userLine].kind, LOG_COMMAND);
    // The password never reaches the log.
    const int passLine = IndexOf(kMaskedPasswordCommand, userLine);
    ASSERT_GT(passLine, userLine) << ui.Transcript();
    EXPECT_EQ(lines[passLine].kind, LOG_COMMAND);
    EXPECT_EQ(ui.Transcript().find(password), std::string::npos);
    EXPECT_GT(IndexOf("CWD /pub", passLine), passLine) << ui.Transcript();

    for (const CLogLine& line : lines) {
        if (line.kind != LOG_REPLY) {
            EXPECT_EQ(line.newline, 1) << line.text;
            EXPECT_EQ(line.prefix, 1) << line.text;
        }
    }

    // The remote pane learnt each directory the session stood in.
    std::string directories;
    for (const auto& call : ui.Calls()) {
        if (call.name == "DirectoryChanged") directories += call.detail + ";";
    }
    EXPECT_EQ(directories, "/;/pub;");
}

TEST_P(RealServerSession, CarriesOutTheAntiIdleCommands) {
    OpenAndWaitOnline(Site());
    struct Exchange {
        int choice;
        const char* command;
        const char* replyCode;  // nullptr: any reply will do
    };
    const Exchange exchanges[] = {
        {0, "CWD .", "250"},
        {2, "PWD", "257"},
        {3, "REST 0", nullptr},  // some servers refuse REST in ASCII mode
    };
    for (const Exchange& e : exchanges) {
        SCOPED_TRACE(e.command);
        const int sent = ui.CountLines(e.command);
        session->IssueCommand(CFtpSession::AntiIdleCommand(e.choice));
        const std::string reply = ReplyAfter(e.command, sent + 1);
        ASSERT_FALSE(reply.empty()) << ui.Transcript();
        if (e.replyCode != nullptr) {
            EXPECT_EQ(reply.substr(0, 3), e.replyCode) << ui.Transcript();
        }
    }
    EXPECT_TRUE(session->IsConnected());
    EXPECT_EQ(session->CurrentRemoteDirectory(), "/");
}

TEST_P(RealServerSession, AntiIdleTickSendsOnceTheIntervalIsReached) {
    settings.AntiIdleCommandInterval = 3;
    OpenAndWaitOnline(Site());
    session->AntiIdleTick();
    session->AntiIdleTick();
    EXPECT_EQ(session->AntiIdleSeconds(), 2);
    session->AntiIdleTick();
    EXPECT_EQ(session->AntiIdleSeconds(), 0);  // sent, and the count starts again
}

TEST_P(RealServerSession, DisconnectClosesAndStaysOfflineDespiteKeepAlive) {
    settings.KeepAlive = 1;
    OpenAndWaitOnline(Site());
    session->Disconnect();
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_GE(IndexOf("Interrupted by user"), 0);
    ASSERT_TRUE(ConfirmOffline()) << ui.Transcript();
    EXPECT_FALSE(session->IsConnected());
    EXPECT_EQ(ui.CountLines("Creating control socket..."), 1);
}

TEST_P(RealServerSession, OfflineQuestionAnsweredOkConnectsAgain) {
    OpenAndWaitOnline(Site());
    session->Disconnect();
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    ui.SetMessageBoxAnswer(IDOK);
    session->IssueCommand(SimpleCommand(CMD_PWD));
    ASSERT_TRUE(WaitForLine("Creating control socket...", 2)) << ui.Transcript();
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait, 2)) << ui.Transcript();
    EXPECT_TRUE(session->IsConnected());
}

TEST_P(RealServerSession, ReconnectStartsInTheCurrentDirectory) {
    OpenAndWaitOnline(Site());
    CSessionCommand cwd = SimpleCommand(CMD_CWD);
    cwd.path = "/pub";
    session->IssueCommand(cwd);
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/pub", kLogWait)) << ui.Transcript();

    session->IssueCommand(SimpleCommand(CMD_CONNECT));
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    ASSERT_TRUE(WaitForLine("CWD /pub", 2)) << ui.Transcript();
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/pub", kLogWait, 2)) << ui.Transcript();
    EXPECT_EQ(session->InitialRemoteDirectory(), "/pub");
    EXPECT_EQ(session->CurrentRemoteDirectory(), "/pub");
}

TEST_P(RealServerSession, QuitClosesTheSession) {
    OpenAndWaitOnline(Site());
    session->IssueCommand(SimpleCommand(CMD_QUIT));
    ASSERT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_GE(IndexOf("QUIT"), 0);
    ASSERT_TRUE(ConfirmOffline()) << ui.Transcript();
}

// Anonymous logins take any password, so only named users can be refused.
class RealServerNamedLogin : public RealServerSession {};

// A wrong password stays wrong: it is tried once, whatever ErrorRetry allows, so that the
// account is not locked, and the server's words are kept.
TEST_P(RealServerNamedLogin, WrongPasswordIsTriedOnce) {
    settings.ErrorRetry = 1;
    CSessionSite site = Site();
    site.password = "not-the-password";
    Open(site);
    EXPECT_EQ(ui.WaitForCommandResult(CMD_CONNECT, kLogWait), FTP_NOT_AVAILABLE) << ui.Transcript();
    ASSERT_TRUE(WaitForLineStarting(LOG_ERROR, "Login refused by the server: 530")) << ui.Transcript();
    EXPECT_EQ(session->LastReplyLine().substr(0, 4), "530 ");
    EXPECT_EQ(ui.CountLines("Connection retry #1..."), 0);
    ASSERT_TRUE(ConfirmOffline()) << ui.Transcript();
    EXPECT_FALSE(session->IsLoggedIn());
}

// Entries of a /proc/self folder: open descriptors or running threads of this process.
int CountEntries(const char* folder) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

TEST_P(RealServerNamedLogin, LeavesNoThreadOrSocketBehind) {
    // A sanitizer runtime starts a helper thread of its own with the first thread of the
    // process and keeps it: have it started before the count.
    std::thread([] {}).join();
    const int descriptors = CountEntries("/proc/self/fd");
    const int threads = CountEntries("/proc/self/task");
    OpenAndWaitOnline(Site());
    session->IssueCommand(SimpleCommand(CMD_CONNECT));  // a second control connection
    ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kLogWait, 2)) << ui.Transcript();
    EXPECT_GT(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_GT(CountEntries("/proc/self/task"), threads);
    session->StopThread();
    session.reset();
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerSession,
                         ::testing::Values(LoginCase{ServerKind::Vsftpd, false},
                                           LoginCase{ServerKind::Vsftpd, true},
                                           LoginCase{ServerKind::Pyftpdlib, false},
                                           LoginCase{ServerKind::Pyftpdlib, true}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Servers, RealServerNamedLogin,
                         ::testing::Values(LoginCase{ServerKind::Vsftpd, false},
                                           LoginCase{ServerKind::Pyftpdlib, false}),
                         CaseName);

}  // namespace
}  // namespace sessiontest
