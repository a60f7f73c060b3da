// tollvane-cli against scripted servers that misbehave: every run ends promptly with the
// right exit status and an honest message, and server text never reaches the terminal raw.
#include "tests/integration/cli/CliFixture.h"
#include "tests/support/ScriptedServer.h"

#include "app/cli/CliExitCode.h"

#include <algorithm>

#include <sys/stat.h>

namespace clitest {
namespace {

using tvtest::Script;
using tvtest::ScriptStep;
using tvtest::ScriptedServer;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

Script LoginThen(std::vector<ScriptStep> steps)
{
    Script script = tvtest::loginPrelude();
    script.insert(script.end(), steps.begin(), steps.end());
    return script;
}

// The steps of a passive LIST that sends `listing`, whatever the client sends around it.
std::vector<ScriptStep> ListingSteps(const std::string& listing)
{
    return {
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("LIST.*", "150 Here it comes\r\n").sendData(listing).afterData("226 Done\r\n"),
    };
}

class CliHostileServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = MakeCliRoot();
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    // Short time-outs, one second between retries, no retries unless the test adds them.
    Outcome Run(std::vector<std::string> args, const std::function<bool()>& signalWhen = {}, int signal = SIGINT)
    {
        args.insert(args.begin(), {"--timeout", "3", "--retry-delay", "1", "--error-retry", "0", "--file-retry", "0"});
        return RunCli(root_, "secret", args, signalWhen, signal);
    }
    std::string Url(const ScriptedServer& server, const std::string& path) const
    {
        return "ftp://user@127.0.0.1:" + std::to_string(server.port()) + path;
    }
    static std::string Transcript(const Outcome& outcome, const ScriptedServer& server)
    {
        std::string commands;
        for (int i = 0; i < server.connectionCount(); ++i)
            for (const std::string& command : server.commands(i))
                commands += std::to_string(i) + ": " + command + "\n";
        return "exit " + std::to_string(outcome.exitCode) + "\nstderr:\n" + outcome.err + "\nserver:\n" + commands +
               server.error();
    }

    std::string root_;
};

// Each misbehaviour ends the run with the right status and the server's words.
TEST_F(CliHostileServerTest, FailuresEndPromptlyWithTheRightStatusAndTheServersWords)
{
    struct Case {
        const char* title;
        std::vector<Script> scripts;
        std::vector<std::string> args; // the URL's path is appended to the last one
        int expectedExit;
        std::vector<std::string> inErr;
        int connections; // how many connections the client made
    };
    const std::string notHere = "550 /pub/gone.bin: No such file or directory\r\n";
    const Case cases[] = {
        {"421 to the first command after the login, then the connection closes",
         {LoginThen({ScriptStep::on("PWD", "421 Too many users, closing control connection\r\n").thenClose()})},
         {"ls", "/"},
         kExitConnect,
         {"421 Too many users"},
         1},
        {"421 after the login with retries allowed: bounded by --error-retry",
         {LoginThen({ScriptStep::on("PWD", "421 Service not available\r\n").thenClose()}),
          LoginThen({ScriptStep::on("PWD", "421 Service not available\r\n").thenClose()})},
         {"--error-retry", "1", "--retry-delay", "0", "get", "-r", "/pub", "."},
         kExitConnect,
         {"retry 1 of 1 of the connection", "could not connect"},
         2},
        {"a refused login is tried once and quoted",
         {Script{ScriptStep::send("220 Welcome\r\n"), ScriptStep::on("USER user", "331 Password please\r\n"),
                 ScriptStep::on("PASS .*", "530 Login incorrect.\r\n")}},
         {"--error-retry", "5", "ls", "/"},
         kExitConnect,
         {"530 Login incorrect."},
         1},
        {"a refused deletion names the path and quotes the server",
         {LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n"), ScriptStep::on("CWD /pub", "250 OK\r\n"),
                     ScriptStep::on("PWD", "257 \"/pub\"\r\n"), ScriptStep::on("DELE .*", notHere)})},
         {"rm", "/pub/gone.bin"},
         kExitRefused,
         {"rm /pub/gone.bin: refused by the server", "550 /pub/gone.bin: No such file or directory"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ScriptedServer server;
        server.setCommandTimeoutMs(8000);
        for (const Script& script : c.scripts)
            server.addConnection(script);
        ASSERT_TRUE(server.start()) << server.error();
        std::vector<std::string> args = c.args;
        // The URL stands before a local folder, or last.
        const auto url = std::find_if(args.begin(), args.end(), [](const std::string& a) { return a[0] == '/'; });
        *url = Url(server, *url);
        const auto started = std::chrono::steady_clock::now();
        const Outcome outcome = Run(args);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(outcome.exitCode, c.expectedExit) << Transcript(outcome, server);
        for (const std::string& part : c.inErr)
            EXPECT_TRUE(Contains(outcome.err, part)) << part << "\n" << Transcript(outcome, server);
        EXPECT_EQ(server.connectionCount(), c.connections) << Transcript(outcome, server);
        EXPECT_LT(took, std::chrono::seconds(20));
        EXPECT_FALSE(Contains(outcome.err, "Do you wish")) << outcome.err;
    }
}

TEST_F(CliHostileServerTest, NothingListeningEndsAfterTheRetriesAndSaysEachOne)
{
    // A port that was free a moment ago: nothing listens there.
    int port = 0;
    {
        ScriptedServer probe;
        ASSERT_TRUE(probe.start()) << probe.error();
        port = probe.port();
    }
    const Outcome outcome =
        RunCli(root_, "", {"--retry-delay", "0", "--error-retry", "3", "ls", "ftp://127.0.0.1:" + std::to_string(port) + "/"});
    EXPECT_EQ(outcome.exitCode, kExitConnect) << outcome.err;
    for (const char* line : {"retry 1 of 3 of the connection to 127.0.0.1:", "retry 3 of 3", "could not connect"})
        EXPECT_TRUE(Contains(outcome.err, line)) << line << "\n" << outcome.err;
    EXPECT_FALSE(Contains(outcome.err, "retry 4")) << outcome.err;

    const Outcome quiet = RunCli(root_, "", {"-q", "--retry-delay", "0", "--error-retry", "2", "ls",
                                             "ftp://127.0.0.1:" + std::to_string(port) + "/"});
    EXPECT_EQ(quiet.exitCode, kExitConnect);
    EXPECT_FALSE(Contains(quiet.err, "retry")) << quiet.err;
}

TEST_F(CliHostileServerTest, AConnectionLostBeforeTheCommandFailsWithoutAskingAQuestion)
{
    ScriptedServer server;
    server.addConnection(LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n").thenClose()}));
    ASSERT_TRUE(server.start()) << server.error();
    const Outcome outcome = Run({"ls", Url(server, "/")});
    EXPECT_EQ(outcome.exitCode, kExitFailed) << Transcript(outcome, server);
    EXPECT_FALSE(Contains(outcome.err, "Do you wish")) << outcome.err;
    EXPECT_FALSE(Contains(outcome.err, "currently offline")) << outcome.err;
}

TEST_F(CliHostileServerTest, SigtermIsReportedAsSuchNotAsTheUsersInterrupt)
{
    ScriptedServer server;
    server.addConnection(LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n"),
                                    ScriptStep::on("PASV", "227 x ({pasv})\r\n").listenPassive(),
                                    ScriptStep::on("LIST.*", "150 Here\r\n").holdData()}));
    ASSERT_TRUE(server.start()) << server.error();
    const Outcome outcome = Run({"--timeout", "60", "ls", Url(server, "/")},
                                [&] { return server.waitForReceived(0, 40, 0) && !server.commands(0).empty() &&
                                             server.commands(0).back().rfind("LIST", 0) == 0; },
                                SIGTERM);
    EXPECT_EQ(outcome.exitCode, kExitInterrupted) << Transcript(outcome, server);
    EXPECT_TRUE(Contains(outcome.err, "stopped by SIGTERM")) << outcome.err;
    EXPECT_FALSE(Contains(outcome.err, "Interrupted by user")) << outcome.err;
}

TEST_F(CliHostileServerTest, LsSendsListOnce)
{
    ScriptedServer server;
    Script script = LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n"), ScriptStep::on("CWD /pub", "250 OK\r\n"),
                               ScriptStep::on("PWD", "257 \"/pub\"\r\n")});
    for (const ScriptStep& step : ListingSteps("-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n"))
        script.push_back(step);
    script.push_back(ScriptStep::on("QUIT", "221 Bye\r\n"));
    server.addConnection(script);
    ASSERT_TRUE(server.start()) << server.error();
    const Outcome outcome = Run({"ls", Url(server, "/pub")});
    ASSERT_EQ(outcome.exitCode, 0) << Transcript(outcome, server);
    EXPECT_EQ(outcome.out, "-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n");
    ASSERT_TRUE(server.waitUntilDone(5000)) << Transcript(outcome, server);
    const std::vector<std::string> commands = server.commands(0);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const std::string& c) { return c.rfind("LIST", 0) == 0; }),
              1)
        << Transcript(outcome, server);
}

// Names that would clear the screen, set the window title or start a control sequence
// (0x9B) are shown escaped by ls --long and search; the cache keeps the bytes.
TEST_F(CliHostileServerTest, ControlCharactersInNamesAreShownEscapedAndCachedUnchanged)
{
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan  1  2020 clear\x1b[2J.txt\r\n"
                                "-rw-r--r-- 1 u g 6 Jan  1  2020 title\x1b]0;owned\x07.txt\r\n"
                                "-rw-r--r-- 1 u g 7 Jan  1  2020 csi\x9b" "31m.txt\r\n"
                                "-rw-r--r-- 1 u g 8 Jan  1  2020 caf\xc3\xa9.txt\r\n";
    ScriptedServer server;
    Script script = LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n")});
    for (const ScriptStep& step : ListingSteps(listing))
        script.push_back(step);
    script.push_back(ScriptStep::on("QUIT", "221 Bye\r\n"));
    server.addConnection(script);
    ASSERT_TRUE(server.start()) << server.error();

    const Outcome outcome = Run({"ls", "--long", Url(server, "/")});
    ASSERT_EQ(outcome.exitCode, 0) << Transcript(outcome, server);
    for (const char* shown : {"clear\\x1b[2J.txt\t", "title\\x1b]0;owned\\x07.txt\t", "csi\\x9b31m.txt\t",
                              "caf\xc3\xa9.txt\t"})
        EXPECT_TRUE(Contains(outcome.out, shown)) << shown << "\n" << outcome.out;
    for (const char raw : {'\x1b', '\x07', '\x9b'})
        EXPECT_FALSE(Contains(outcome.out, std::string(1, raw))) << outcome.out;

    const std::string site = "user@127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(ReadAll(root_ + "/data/Tollvane/cache/" + site + "/files.lis"), listing);

    const Outcome search = RunCli(root_, "", {"search", "*.txt"});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    EXPECT_TRUE(Contains(search.out, "ftp://" + site + "/clear\\x1b[2J.txt\n")) << search.out;
    EXPECT_TRUE(Contains(search.out, "/csi\\x9b31m.txt\n")) << search.out;
    EXPECT_FALSE(Contains(search.out, "\x1b")) << search.out;

    // Piped, plain ls hands the bytes on as the server sent them.
    const Outcome offline = RunCli(root_, "", {"ls", "--offline", Url(server, "/")});
    ASSERT_EQ(offline.exitCode, 0) << offline.err;
    EXPECT_EQ(offline.out, listing);
}

// Two servers on one host (and two accounts on one server) keep their listings apart.
TEST_F(CliHostileServerTest, TwoServersOnOneHostKeepTheirOwnCache)
{
    ScriptedServer first;
    ScriptedServer second;
    for (ScriptedServer* server : {&first, &second}) {
        const std::string name = server == &first ? "first.txt" : "second.txt";
        Script script = LoginThen({ScriptStep::on("PWD", "257 \"/\"\r\n")});
        for (const ScriptStep& step : ListingSteps("-rw-r--r-- 1 u g 5 Jan  1  2020 " + name + "\r\n"))
            script.push_back(step);
        script.push_back(ScriptStep::on("QUIT", "221 Bye\r\n"));
        server->addConnection(script);
        ASSERT_TRUE(server->start()) << server->error();
        const Outcome listed = Run({"ls", Url(*server, "/")});
        ASSERT_EQ(listed.exitCode, 0) << Transcript(listed, *server);
    }
    for (ScriptedServer* server : {&first, &second}) {
        const Outcome offline = RunCli(root_, "", {"ls", "--long", "--offline", Url(*server, "/")});
        ASSERT_EQ(offline.exitCode, 0) << offline.err;
        EXPECT_EQ(offline.out.substr(0, offline.out.find('\t')), server == &first ? "first.txt" : "second.txt");
        // Another account on the same server has no listing of its own yet.
        const std::string otherAccount = "ftp://bob@127.0.0.1:" + std::to_string(server->port()) + "/";
        EXPECT_EQ(RunCli(root_, "", {"ls", "--offline", otherAccount}).exitCode, kExitRefused);
    }
    const Outcome search = RunCli(root_, "", {"search", "*.txt"});
    EXPECT_TRUE(Contains(search.out, "ftp://user@127.0.0.1:" + std::to_string(first.port()) + "/first.txt\n"))
        << search.out;
    EXPECT_TRUE(Contains(search.out, "ftp://user@127.0.0.1:" + std::to_string(second.port()) + "/second.txt\n"))
        << search.out;
}

TEST_F(CliHostileServerTest, TheTransferLogIsPrivateAndMasksThePasswordWithAFixedText)
{
    ScriptedServer server;
    server.addConnection({ScriptStep::send("220 Welcome\r\n"), ScriptStep::on("USER user", "331 Password\r\n"),
                          ScriptStep::on("PASS secret", "530 Login incorrect.\r\n")});
    ASSERT_TRUE(server.start()) << server.error();
    Run({"ls", Url(server, "/")});
    const std::string path = root_ + "/data/Tollvane/transfer.log";
    const std::string log = ReadAll(path);
    EXPECT_TRUE(Contains(log, "PASS ********\n")) << log;
    EXPECT_FALSE(Contains(log, "secret")) << log;
    struct stat info = {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

} // namespace
} // namespace clitest
