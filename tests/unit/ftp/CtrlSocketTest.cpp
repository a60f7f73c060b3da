// The control connection against a scripted server: how replies are collected, what goes
// on the wire and into the log, and how every failure ends a command without hanging.

#include "ftp/CtrlSocket.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScriptedServer.h"
#include "tests/unit/ftp/TestSession.h"

namespace {

using ftptest::LoggedLine;
using ftptest::PumpUntil;
using ftptest::TestSession;
using tvtest::Script;
using tvtest::ScriptStep;

const std::string kLoginBytes = "USER user\r\nPASS secret\r\n";

Script LoginThen(Script rest)
{
    Script script = {
        ScriptStep::send("220 Welcome\r\n"),
        ScriptStep::on("USER .*", "331 Password required\r\n"),
        ScriptStep::on("PASS .*", "230 Logged in\r\n"),
    };
    script.insert(script.end(), rest.begin(), rest.end());
    return script;
}

std::string Repeat(int count, const std::string& text)
{
    std::string repeated;
    for (int i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

// The reply as the log must show it: one entry whose continuation lines are indented.
std::string IndentedForLog(const std::string& reply)
{
    std::string logged;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        logged += reply[i];
        if (reply[i] == '\n' && i + 1 < reply.size())
            logged += "\t\t";
    }
    return logged;
}

class CtrlSocketTest : public ::testing::Test {
protected:
    // Plays script on the first connection and logs in through it.
    void ConnectAndLogin(Script rest)
    {
        server.addConnection(LoginThen(std::move(rest)));
        ASSERT_TRUE(server.start()) << server.error();
        session.port = server.port();
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
        session.log.clear();
    }

    tvtest::ScriptedServer server;
    TestSession session;
    CCtrlSocket ctrl{session};
};

// ---------------------------------------------------------------------------------------
// Replies, however they arrive.

struct ReplyCase {
    const char* name;
    std::string command;
    ScriptStep step;
    int expectedResult;
    std::vector<std::string> codes;  // checked when the result is FTP_OK
};

std::vector<ReplyCase> ReplyCases()
{
    auto every = [](ScriptStep step) { return step.splitEveryByte(); };
    return {
        {"multi-line, every byte apart", "noop",
         every(ScriptStep::on("NOOP", "200-Welcome\r\n200-more\r\n200 ok\r\n")), FTP_OK, {"200"}},
        {"line feeds only, every byte apart", "noop",
         every(ScriptStep::on("NOOP", "200-one\n200 two\n")), FTP_OK, {"200"}},
        {"preliminary and final, every byte apart", "retr a",
         every(ScriptStep::on("RETR a", "150 Opening\r\n226 Done\r\n")), FTP_OK, {"150", "226"}},
        {"preliminary, then the final one later", "retr a",
         ScriptStep::on("RETR a", "150 Opening\r\n").afterData("226 Done\r\n"), FTP_OK, {"150", "226"}},
        {"421 after a preliminary", "retr a",
         ScriptStep::on("RETR a", "150 Opening\r\n421 Closing\r\n"), FTP_OK, {"150", "421"}},
        {"421 inside a multi-line reply is its text", "noop",
         ScriptStep::on("NOOP", "200-a\r\n421 not a reply\r\n200 end\r\n"), FTP_OK, {"200"}},
        {"ABOR waits past 426 for its own reply", "abor",
         every(ScriptStep::on("ABOR", "426 Aborted\r\n226 Abort ok\r\n")), FTP_OK, {"426", "226"}},
        {"a line without three digits", "noop", ScriptStep::on("NOOP", "hello there\r\n"), FTP_FAILED, {}},
        {"a reply shorter than five characters", "noop", ScriptStep::on("NOOP", "OK\r\n"), FTP_FAILED, {}},
        {"eleven replies to one command", "noop", ScriptStep::on("NOOP", Repeat(11, "200 ok\r\n")),
         FTP_FAILED, {}},
    };
}

TEST_F(CtrlSocketTest, CollectsRepliesHoweverTheyArrive)
{
    std::vector<ReplyCase> cases = ReplyCases();
    // One server connection per case, each logging in first.
    for (ReplyCase& c : cases)
        server.addConnection(LoginThen({c.step}));
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();

    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
        session.log.clear();
        EXPECT_EQ(ctrl.SendCommand(c.command, 1), c.expectedResult) << session.LogDump();
        if (c.expectedResult == FTP_OK) {
            ASSERT_EQ(ctrl.ReplyCount(), static_cast<int>(c.codes.size()));
            for (int i = 0; i < ctrl.ReplyCount(); ++i)
                EXPECT_EQ(ctrl.ReplyCode(i), c.codes[i]);
            // However the reply was cut, the log shows it as one entry.
            std::vector<LoggedLine> pieces = session.ReplyPieces();
            ASSERT_FALSE(pieces.empty());
            std::string logged;
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                EXPECT_EQ(pieces[i].prefix, i == 0) << "piece " << i;
                EXPECT_FALSE(pieces[i].newline);
                logged += pieces[i].text;
            }
            EXPECT_EQ(logged, IndentedForLog(ctrl.ReplyText()));
        }
    }
}

// A reply that never ends fails its command once it passes 64 KiB, whether it is one
// endless line or an endless multi-line reply.
TEST_F(CtrlSocketTest, OverlongReplyIsBoundedAndLogged)
{
    const std::string endless[] = {
        std::string(70 * 1024, 'x'),
        "200-" + Repeat(70 * 1024 / 8, "xxxxxxx\r\n"),
    };
    for (const std::string& reply : endless)
        server.addConnection(LoginThen({ScriptStep::on("NOOP", reply).thenStall()}));
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();
    for (const std::string& reply : endless) {
        SCOPED_TRACE(reply.substr(0, 10));
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
        session.log.clear();
        EXPECT_EQ(ctrl.SendCommand("noop", 1), FTP_FAILED);
        EXPECT_LE(ctrl.ReplyText().size(), MAX_REPLY_LENGTH + 1024);
        EXPECT_TRUE(session.Logged("Reply too long: more than 65536 bytes without its end.", LOG_ERROR))
            << session.LogDump().substr(0, 2000);
    }
}

// ---------------------------------------------------------------------------------------
// What goes on the wire and into the log.

TEST_F(CtrlSocketTest, PasswordTravelsOnTheWireButIsMaskedInTheLog)
{
    server.addConnection(LoginThen({}));
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();
    ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
    ASSERT_TRUE(server.waitUntilDone(2000)) << server.error();
    EXPECT_EQ(server.receivedText(0), kLoginBytes);
    EXPECT_TRUE(session.Logged("USER user", LOG_COMMAND)) << session.LogDump();
    // A fixed mask: neither the password nor its length ("secret" has six letters).
    EXPECT_TRUE(session.Logged("PASS ********", LOG_COMMAND)) << session.LogDump();
    for (const LoggedLine& line : session.log)
        EXPECT_EQ(line.text.find("secret"), std::string::npos) << line.text;
}

TEST_F(CtrlSocketTest, FirstFourCharactersGoOutUpperCased)
{
    std::string longName(1000, 'n');
    ConnectAndLogin({
        ScriptStep::on("TYPE i", "200 ok\r\n"),
        ScriptStep::on("SITE chmod 644 a", "200 ok\r\n"),
        ScriptStep::on("CWD " + longName, "250 ok\r\n"),
    });
    EXPECT_EQ(ctrl.SendCommand("type i", 1), FTP_OK);
    EXPECT_EQ(ctrl.CommandVerb(), "TYPE");
    EXPECT_EQ(ctrl.SendCommand("site chmod 644 a", 1), FTP_OK);
    // A command longer than any fixed line buffer goes out whole.
    EXPECT_EQ(ctrl.SendCommand("cwd " + longName, 1), FTP_OK);
    ASSERT_TRUE(server.waitUntilDone(2000)) << server.error();
    EXPECT_EQ(server.receivedText(0),
              kLoginBytes + "TYPE i\r\nSITE chmod 644 a\r\nCWD " + longName + "\r\n");
    EXPECT_TRUE(session.Logged("TYPE i", LOG_COMMAND));
}

TEST_F(CtrlSocketTest, CommandWithLineBreakOrNulIsNeverSent)
{
    ConnectAndLogin({ScriptStep::on("NOOP", "200 ok\r\n")});
    const std::string injected[] = {
        "cwd a\r\nDELE b",
        "cwd a\nDELE b",
        "cwd a\rDELE b",
        std::string("cwd a\0DELE b", 12),
    };
    for (const std::string& command : injected) {
        session.log.clear();
        EXPECT_EQ(ctrl.SendCommand(command, 1), FTP_FAILED);
        EXPECT_TRUE(session.Logged("Command not sent: it contains a line break or NUL character.", LOG_ERROR));
    }
    // The connection is still usable and carried none of them.
    EXPECT_EQ(ctrl.SendCommand("noop", 1), FTP_OK);
    ASSERT_TRUE(server.waitUntilDone(2000)) << server.error();
    EXPECT_EQ(server.receivedText(0), kLoginBytes + "NOOP\r\n");
}

// ---------------------------------------------------------------------------------------
// Failures end the command.

TEST_F(CtrlSocketTest, ServerThatNeverAnswersTimesOut)
{
    ConnectAndLogin({ScriptStep::on("NOOP", "").thenStall()});
    EXPECT_EQ(ctrl.SendCommand("noop", 1), FTP_TIMEOUT);
    EXPECT_TRUE(session.Logged("Operation timed out", LOG_ERROR)) << session.LogDump();
}

TEST_F(CtrlSocketTest, StopDuringTheWaitInterrupts)
{
    ConnectAndLogin({ScriptStep::on("NOOP", "").thenStall()});
    // Stop is pressed once the command has reached the server, while the reply is awaited.
    std::thread user([&] {
        server.waitForReceived(0, kLoginBytes.size() + 6, 2000);
        session.stopEvent.Set();
    });
    int result = ctrl.SendCommand("noop", 1);
    user.join();
    EXPECT_EQ(result, FTP_INTERRUPTED);
    EXPECT_TRUE(session.Logged("Interrupted by user", LOG_ERROR)) << session.LogDump();
}

TEST_F(CtrlSocketTest, ServerClosingDuringACommandEndsIt)
{
    struct CloseCase {
        const char* name;
        ScriptStep step;
    };
    std::vector<CloseCase> cases = {
        {"before any reply", ScriptStep::on("NOOP", "").thenClose()},
        {"in the middle of a reply", ScriptStep::on("NOOP", "200-partial\r\n").thenClose()},
        {"with a reset", ScriptStep::on("NOOP", "").thenClose(/*abortive=*/true)},
    };
    for (CloseCase& c : cases)
        server.addConnection(LoginThen({c.step}));
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();

    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
        ASSERT_TRUE(session.loggedIn);
        session.log.clear();
        int result = ctrl.SendCommand("noop", 1);
        EXPECT_TRUE(result == FTP_CLOSED || result == FTP_FAILED) << result;
        EXPECT_FALSE(session.loggedIn);
        EXPECT_EQ(ctrl.GetSocketHandle(), INVALID_SOCKET);
        bool closeLogged = session.Logged("Control Connection Closed", LOG_STATE) ||
                           session.Logged("Control Connection Closed.", LOG_STATE) ||
                           session.Logged("Control connection reset by server.", LOG_ERROR) ||
                           session.Logged("Error occurred", LOG_ERROR);
        EXPECT_TRUE(closeLogged) << session.LogDump();
        // The session hears of it, so that it closes and reconnects.
        EXPECT_GE(session.serverClosedSignals, 1);
        session.serverClosedEvent.Reset();
        session.serverClosedSignals = 0;
    }
}

TEST_F(CtrlSocketTest, LineBetweenCommandsIsLoggedAndDropped)
{
    ConnectAndLogin({
        ScriptStep::on("NOOP", "200 ok\r\n"),
        ScriptStep::send("213 surprise\r\n").delayReply(200),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    });
    ASSERT_EQ(ctrl.SendCommand("noop", 1), FTP_OK);
    ASSERT_TRUE(PumpUntil([&] { return session.Logged("Unexpected response received.", LOG_STATE); }))
        << session.LogDump();
    EXPECT_TRUE(session.Logged("213 surprise\r\n", LOG_REPLY));
    // The next command sees only its own reply.
    ASSERT_EQ(ctrl.SendCommand("pwd", 1), FTP_OK);
    EXPECT_EQ(ctrl.ReplyCount(), 1);
    EXPECT_EQ(ctrl.ReplyCode(0), "257");
    EXPECT_EQ(ctrl.ReplyText(), "257 \"/\" is current\r\n");
}

// ---------------------------------------------------------------------------------------
// A refused object (55x).

TEST_F(CtrlSocketTest, RefusalPromptsAndClosesTheTransferDirection)
{
    struct RefusalCase {
        const char* command;
        const char* pattern;
        bool prompt;
        std::vector<bool> forcedCloses;  // sending flag of each forced close
    };
    const RefusalCase cases[] = {
        {"retr a", "RETR a", false, {false}},
        {"stor a", "STOR a", true, {true}},
        {"dele a", "DELE a", true, {}},
    };
    Script script;
    for (const RefusalCase& c : cases)
        script.push_back(ScriptStep::on(c.pattern, "550 No such file\r\n"));
    ConnectAndLogin(script);

    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.command);
        session.actionFailedPrompt = c.prompt;
        session.actionFailedReports.clear();
        session.forcedDataCloses.clear();
        EXPECT_EQ(ctrl.SendCommand(c.command, 1), FTP_OK);
        EXPECT_TRUE(ctrl.IsReply550());
        EXPECT_EQ(session.forcedDataCloses, c.forcedCloses);
        if (c.prompt)
            EXPECT_EQ(session.actionFailedReports, std::vector<std::string>{"550 No such file\r\n"});
        else
            EXPECT_TRUE(session.actionFailedReports.empty());
    }
}

// ---------------------------------------------------------------------------------------
// Site-to-site: a failed reply on one side ends the partner's wait.

TEST_F(CtrlSocketTest, FailedReplyInterruptsThePairedPartner)
{
    struct PairCase {
        const char* name;
        ScriptStep step;
        bool partnerStopped;
    };
    std::vector<PairCase> cases = {
        {"completed transfer", ScriptStep::on("RETR a", "150 Opening\r\n226 Done\r\n"), false},
        {"refused", ScriptStep::on("RETR a", "550 No\r\n"), true},
        {"failed after opening", ScriptStep::on("RETR a", "150 Opening\r\n426 Broken\r\n"), true},
    };
    Script script;
    for (PairCase& c : cases)
        script.push_back(c.step);
    ConnectAndLogin(script);

    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestSession partner;
        partner.pairFlag = true;
        session.pairFlag = true;
        session.partnerToInterrupt = &partner;
        EXPECT_EQ(ctrl.SendCommand("retr a", 1), FTP_OK);
        EXPECT_FALSE(session.pairFlag);
        EXPECT_EQ(partner.pairFlag, !c.partnerStopped);
        EXPECT_EQ(partner.stopSignals, c.partnerStopped ? 1 : 0);
        session.partnerToInterrupt = nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Connecting and logging in.

TEST_F(CtrlSocketTest, LoginCollectsTheMessageAndReportsIt)
{
    server.addConnection({
        ScriptStep::send("120 Wait a moment\r\n220 Welcome\r\n"),
        ScriptStep::on("USER user", "331 Password required\r\n"),
        ScriptStep::on("PASS secret", "230 Logged in\r\n"),
    });
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();
    ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
    EXPECT_TRUE(session.loggedIn);
    EXPECT_TRUE(session.Logged("Connecting to 127.0.0.1 ...", LOG_STATE));
    EXPECT_TRUE(session.Logged("Socket connected, waiting for welcome message...", LOG_STATE));
    EXPECT_EQ(session.loginReports,
              std::vector<std::string>{"120 Wait a moment\r\n220 Welcome\r\n331 Password required\r\n230 Logged in\r\n"});
}

TEST_F(CtrlSocketTest, LoginAcceptsOnlyItsCodes)
{
    struct LoginCase {
        const char* name;
        Script script;
        int expected;
        std::string sent;  // what the server must have received
    };
    std::vector<LoginCase> cases = {
        {"no password asked", {ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "230 In\r\n")},
         FTP_OK, "USER user\r\n"},
        {"password accepted with 202",
         {ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "331 Pass\r\n"),
          ScriptStep::on("PASS .*", "202 Superfluous\r\n")},
         FTP_OK, kLoginBytes},
        {"welcome other than 220", {ScriptStep::send("421 Too many users\r\n").thenStall()}, FTP_FAILED, ""},
        {"user refused", {ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "500 What\r\n")},
         FTP_FAILED, "USER user\r\n"},
        // A refusal, which is not worth retrying: the same password stays wrong.
        {"password refused",
         {ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "331 Pass\r\n"),
          ScriptStep::on("PASS .*", "530 Login incorrect\r\n")},
         FTP_NOT_AVAILABLE, kLoginBytes},
        {"password answered otherwise",
         {ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "331 Pass\r\n"),
          ScriptStep::on("PASS .*", "421 Too many users\r\n")},
         FTP_FAILED, kLoginBytes},
        {"no welcome at all", {ScriptStep::send("").thenStall()}, FTP_TIMEOUT, ""},
    };
    for (LoginCase& c : cases)
        server.addConnection(c.script);
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        session.loggedIn = false;
        session.loginReports.clear();
        EXPECT_EQ(ctrl.ConnectAndLogin(), cases[i].expected) << session.LogDump();
        EXPECT_EQ(session.loggedIn, cases[i].expected == FTP_OK);
        EXPECT_EQ(session.loginReports.size(), cases[i].expected == FTP_OK ? 1u : 0u);
        ctrl.Close();
        ASSERT_TRUE(server.waitForConnections(static_cast<int>(i) + 1, 2000));
        ASSERT_TRUE(PumpUntil([&] { return server.receivedText(static_cast<int>(i)).size() >= cases[i].sent.size(); }));
        EXPECT_EQ(server.receivedText(static_cast<int>(i)), cases[i].sent);
    }
}

TEST_F(CtrlSocketTest, UserNameWithLineBreakIsNotSent)
{
    server.addConnection({ScriptStep::send("220 Hi\r\n").thenStall()});
    ASSERT_TRUE(server.start()) << server.error();
    session.port = server.port();
    session.user = "user\r\nDELE important";
    EXPECT_EQ(ctrl.ConnectAndLogin(), FTP_FAILED);
    EXPECT_FALSE(session.loggedIn);
    ctrl.Close();
    EXPECT_TRUE(server.waitUntilDone(2000)) << server.error();
    EXPECT_EQ(server.receivedText(0), "");
}

TEST_F(CtrlSocketTest, RefusedConnectionFails)
{
    // A port that was just free: nothing listens there.
    int freePort = 0;
    {
        CEventSocket probe;
        ASSERT_TRUE(probe.Create(0, SOCK_STREAM, 0, "127.0.0.1"));
        std::string address;
        unsigned port = 0;
        ASSERT_TRUE(probe.GetSockName(address, port));
        freePort = static_cast<int>(port);
    }
    session.port = freePort;
    EXPECT_EQ(ctrl.ConnectAndLogin(), FTP_FAILED);
    EXPECT_TRUE(session.Logged("Connection refused.", LOG_ERROR)) << session.LogDump();
    EXPECT_FALSE(session.loggedIn);
}

// ---------------------------------------------------------------------------------------
// The close notification: what each reason logs, and that the session always hears of it.

class ExposedCtrlSocket : public CCtrlSocket {
public:
    using CCtrlSocket::CCtrlSocket;
    using CCtrlSocket::OnClose;
};

TEST(CtrlSocketClose, LogsTheReasonAndTellsTheSession)
{
    struct CloseReason {
        int error;
        const char* text;  // nullptr: nothing logged
        int kind;
    };
    const CloseReason reasons[] = {
        {0, "Control Connection Closed", LOG_STATE},
        {WSAECONNRESET, "Control connection reset by server.", LOG_ERROR},
        {WSAECONNABORTED, "Control connection was aborted due to Timeout or other failure.", LOG_ERROR},
        {WSAENETDOWN, "The network subsystem failed.", LOG_ERROR},
        {WSAETIMEDOUT, nullptr, 0},
    };
    for (const CloseReason& reason : reasons) {
        SCOPED_TRACE(reason.error);
        TestSession session;
        session.loggedIn = true;
        ExposedCtrlSocket ctrl(session);
        ctrl.PrepareForReply();  // a reply is awaited when the connection goes
        ctrl.OnClose(reason.error);
        if (reason.text != nullptr) {
            ASSERT_EQ(session.log.size(), 1u);
            EXPECT_EQ(session.log[0].text, reason.text);
            EXPECT_EQ(session.log[0].kind, reason.kind);
        } else {
            EXPECT_TRUE(session.log.empty());
        }
        EXPECT_FALSE(session.loggedIn);
        EXPECT_EQ(session.serverClosedSignals, 1);
        // The awaited reply has failed, so no wait for it (a partner's either) goes on.
        EXPECT_EQ(ctrl.WaitForReply(), FTP_CLOSED);
        session.serverClosedEvent.Reset();
        EXPECT_EQ(ctrl.WaitForReply(), FTP_FAILED);
    }
}

// ---------------------------------------------------------------------------------------
// No descriptor outlives a connection, whatever ended it.

int OpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(CtrlSocketResources, NoDescriptorLeftAfterFailures)
{
    PumpMessages(0);  // this thread's message queue lives on; create it before counting
    int before = OpenDescriptors();
    {
        tvtest::ScriptedServer server;
        server.addConnection(LoginThen({ScriptStep::on("NOOP", "").thenStall()}));
        server.addConnection(LoginThen({ScriptStep::on("NOOP", "200-partial\r\n").thenClose()}));
        server.addConnection({ScriptStep::send("421 Busy\r\n").thenStall()});
        ASSERT_TRUE(server.start()) << server.error();
        TestSession session;
        session.port = server.port();
        CCtrlSocket ctrl(session);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK);
        EXPECT_EQ(ctrl.SendCommand("noop", 1), FTP_TIMEOUT);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK);
        EXPECT_NE(ctrl.SendCommand("noop", 1), FTP_OK);
        session.serverClosedEvent.Reset();
        EXPECT_EQ(ctrl.ConnectAndLogin(), FTP_FAILED);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
