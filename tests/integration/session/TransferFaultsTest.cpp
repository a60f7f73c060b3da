// Transfers against the scripted server, for what a real server will not do on request:
// a PASV reply naming another host or holding bad numbers, a data connection that breaks,
// never opens or stalls, a 421 in the middle of a transfer, and the retry limits of the
// per-file wrappers.

#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <arpa/inet.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <optional>
#include <string>
#include <thread>

#include "tests/integration/session/SessionFixture.h"
#include "tests/support/ScriptedServer.h"

namespace sessiontest {
namespace {

namespace fs = std::filesystem;
using tvtest::Script;
using tvtest::ScriptStep;

Script Login() {
    return {
        ScriptStep::send("220 Scripted\r\n"),
        ScriptStep::on("USER alice", "331 Password\r\n"),
        ScriptStep::on("PASS secret", "230 In\r\n"),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    };
}

// The listing of the online set-up, in the site's mode: an empty directory.
std::vector<ScriptStep> EmptyListing(bool passive) {
    if (passive) {
        return {ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
                ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n")};
    }
    return {ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
            ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n")};
}

// SIZE answered as by a server without the command: the transfer goes on without it.
ScriptStep SizeUnknown() { return ScriptStep::on("SIZE .*", "502 Command not implemented\r\n"); }

Script Online(bool passive, std::vector<ScriptStep> more) {
    Script script = Login();
    for (auto& step : EmptyListing(passive)) script.push_back(step);
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

class TransferFaults : public SessionTestBase {
protected:
    TransferFaults() {
        work = fs::temp_directory_path() / ("tv-faults-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(++counter));
        fs::remove_all(work);
        fs::create_directories(work);
        settings.FileRetry = 0;
        settings.AlwaysRefresh = 0;
        settings.pOverwrite = 0;
    }
    ~TransferFaults() override {
        if (session) session->StopThread();
        session.reset();
        fs::remove_all(work);
    }

    void OpenAt(int port, bool passive) {
        CSessionSite site;
        site.address = "127.0.0.1";
        site.port = port;
        site.username = "alice";
        site.password = "secret";
        site.passive = passive ? 1 : 0;
        Open(site);
    }

    // Starts `server` with one scripted connection, opens a session to it in active mode
    // and waits for the session's first listing.
    void OpenScripted(tvtest::ScriptedServer& server, Script script) {
        server.addConnection(std::move(script));
        ASSERT_TRUE(server.start()) << server.error();
        issued.clear();
        OpenAt(server.port(), false);
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    }

    int Run(const CSessionCommand& command) {
        const int occurrence = ++issued[command.code];
        session->IssueCommand(command);
        return ui.WaitForCommandResult(command.code, kLogWait, occurrence);
    }
    CSessionCommand Download(const std::string& remote) {
        CSessionCommand command = SimpleCommand(CMD_DOWNLOAD);
        command.path = remote;
        command.localPath = (work / fs::path(remote).filename()).string();
        return command;
    }
    CSessionCommand Upload(const std::string& remote, const std::string& content) {
        CSessionCommand command = SimpleCommand(CMD_UPLOAD);
        command.path = remote;
        command.localPath = (work / "up.bin").string();
        std::ofstream(command.localPath, std::ios::binary) << content;
        return command;
    }

    // Opens a session whose queue run is `job` (run on the worker thread by
    // CMD_RUN_QUEUE, whose result is the job's).
    void OpenWithQueue(int port, bool passive, std::function<int(CFtpSession&)> job) {
        CSessionSite site;
        site.address = "127.0.0.1";
        site.port = port;
        site.username = "alice";
        site.password = "secret";
        site.passive = passive ? 1 : 0;
        session = std::make_unique<CFtpSession>(Publish(), site);
        session->SetUi(&ui);
        session->SetQueueRunner(std::move(job));
        ASSERT_TRUE(session->Start());
    }

    fs::path work;
    std::map<int, int> issued;
    static inline int counter = 0;
};

// A data listener of the test's own on 127.0.0.1: accepts one connection, sends `bytes`
// and closes.
class OneShotDataServer {
public:
    explicit OneShotDataServer(std::string bytes) : bytes_(std::move(bytes)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 1);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return;
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            accepted_ = true;
            (void)::send(client, bytes_.data(), bytes_.size(), MSG_NOSIGNAL);
            ::close(client);
        });
    }
    ~OneShotDataServer() {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    bool accepted() const { return accepted_; }

private:
    std::string bytes_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> accepted_{false};
    std::thread thread_;
};

TEST_F(TransferFaults, PasvNamingAnotherHostConnectsToTheControlPeer) {
    OneShotDataServer data("-rw-r--r-- 1 u g 5 Jan 01 2020 a.txt\r\n");
    const std::string elsewhere = "127,0,0,2," + std::to_string(data.port() / 256) + "," +
                                  std::to_string(data.port() % 256);
    tvtest::ScriptedServer server;
    server.addConnection(Online(true, {
        ScriptStep::on("PASV", "227 Entering Passive Mode (" + elsewhere + ")\r\n"),
        ScriptStep::on("LIST", "150 Here\r\n226 Done\r\n"),
    }));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server.port(), true);
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    EXPECT_EQ(Run(SimpleCommand(CMD_LIST)), FTP_OK) << ui.Transcript();
    EXPECT_TRUE(data.accepted());
    EXPECT_TRUE(WaitForLineStarting(LOG_WARNING, "Passive mode reply names 127.0.0.2")) << ui.Transcript();
    EXPECT_EQ(server.error(), "");
}

TEST_F(TransferFaults, PasvReplyWithBadNumbersFailsTheListing) {
    const char* replies[] = {
        "227 Entering Passive Mode (127,0,0,1,300,1)\r\n",
        "227 Entering Passive Mode (127,0,0,256,4,1)\r\n",
        "227 Entering Passive Mode (127,0,0,1,4)\r\n",
        "227 Entering Passive Mode 127,0,0,1,4,1\r\n",
    };
    for (const char* reply : replies) {
        tvtest::ScriptedServer server;
        server.addConnection(Online(true, {ScriptStep::on("PASV", reply),
                                           ScriptStep::on("PWD", "257 \"/\" is current\r\n")}));
        ASSERT_TRUE(server.start()) << server.error();
        issued.clear();
        OpenAt(server.port(), true);
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        EXPECT_EQ(Run(SimpleCommand(CMD_LIST)), FTP_FAILED) << reply << ui.Transcript();
        EXPECT_EQ(ui.CountLines("LIST"), 1) << reply << ": LIST must not be sent";
        // Still in step with the server.
        EXPECT_EQ(Run(SimpleCommand(CMD_PWD)), FTP_OK) << reply;
        session->StopThread();
        session.reset();
        ui.Clear();
    }
}

// Download failures on the data connection, each in one mode: what the command returns
// and what the log says.
struct DataFaultCase {
    const char* name;
    bool passive;
    std::vector<ScriptStep> steps;  // after the online set-up, from TYPE on
    int result;
    bool timesOut;
};

TEST_F(TransferFaults, DownloadDataFaults) {
    const std::string bytes(5000, 'x');
    auto pasv = [] { return ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(); };
    auto port = [] { return ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"); };
    const DataFaultCase cases[] = {
        {"data connection reset early", true,
         {ScriptStep::on("TYPE I", "200 ok\r\n"), SizeUnknown(), pasv(),
          ScriptStep::on("RETR f.bin", "150 Here\r\n").sendData(bytes, 1000, /*abortive=*/true)
              .afterData("426 Broken\r\n")},
         FTP_FAILED, false},
        {"active data connection never opened", false,
         {ScriptStep::on("TYPE I", "200 ok\r\n"), SizeUnknown(), port(),
          ScriptStep::on("RETR f.bin", "150 Opening\r\n").refuseData().afterData("425 No data connection\r\n")},
         FTP_FAILED, false},
        {"stalled transfer ends by the idle limit", true,
         {ScriptStep::on("TYPE I", "200 ok\r\n"), SizeUnknown(), pasv(),
          ScriptStep::on("RETR f.bin", "150 Here\r\n").holdData(),
          },
         FTP_TIMEOUT, true},
    };
    for (const DataFaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        tvtest::ScriptedServer server;
        server.addConnection(Online(c.passive, c.steps));
        ASSERT_TRUE(server.start()) << server.error();
        issued.clear();
        OpenAt(server.port(), c.passive);
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        EXPECT_EQ(Run(Download("f.bin")), c.result) << ui.Transcript();
        EXPECT_EQ(ui.CountLines("Failed to receive f.bin."), 1) << ui.Transcript();
        EXPECT_EQ(ui.CountLines("Operation timed out") > 0, c.timesOut) << ui.Transcript();
        if (c.timesOut) {
            EXPECT_EQ(ui.CountLines("ABOR"), 1) << ui.Transcript();
        }
        session->StopThread();
        session.reset();
        ui.Clear();
    }
}

TEST_F(TransferFaults, UploadEndsWhenTheServerNeverOpensTheDataConnection) {
    tvtest::ScriptedServer server;
    ASSERT_NO_FATAL_FAILURE(OpenScripted(server, Online(false, {
        ScriptStep::on("TYPE I", "200 ok\r\n"),
        ScriptStep::on("SIZE up.bin.tvpart", "550 No such file\r\n"),
        ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
        ScriptStep::on("STOR up.bin.tvpart", "425 Can't open data connection\r\n"),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    })));
    EXPECT_EQ(Run(Upload("up.bin", "payload")), FTP_FAILED) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Operation timed out"), 0) << "the 425 must end the wait";
    EXPECT_EQ(Run(SimpleCommand(CMD_PWD)), FTP_OK);
    EXPECT_EQ(server.error(), "");
}

TEST_F(TransferFaults, StopEndsAnUploadThatNeverStarted) {
    settings.Timeout = 30;  // only the stop can end the wait in time
    tvtest::ScriptedServer server;
    ASSERT_NO_FATAL_FAILURE(OpenScripted(server, Online(false, {
        ScriptStep::on("TYPE I", "200 ok\r\n"),
        ScriptStep::on("SIZE up.bin.tvpart", "550 No such file\r\n"),
        ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
        ScriptStep::on("STOR up.bin.tvpart", "150 Opening\r\n").refuseData(),
        ScriptStep::on("ABOR", "226 Aborted\r\n"),
    })));
    session->IssueCommand(Upload("up.bin", "payload"));
    ASSERT_TRUE(ui.WaitForLine("150 Opening\r\n", kLogWait)) << ui.Transcript();
    session->CancelOperation();
    EXPECT_EQ(ui.WaitForCommandResult(CMD_UPLOAD, kLogWait), FTP_INTERRUPTED) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("ABOR"), 1) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Operation timed out"), 0);
}

TEST_F(TransferFaults, ServiceClosingDuringATransferEndsIt) {
    tvtest::ScriptedServer server;
    server.addConnection(Online(true, {
        ScriptStep::on("TYPE I", "200 ok\r\n"),
        SizeUnknown(),
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("RETR f.bin", "150 Here\r\n"),
        ScriptStep::send("421 Service closing\r\n").delayReply(200).thenClose(),
    }));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server.port(), true);
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    const int result = Run(Download("f.bin"));
    EXPECT_TRUE(result == FTP_FAILED || result == FTP_CLOSED) << result << ui.Transcript();
    EXPECT_TRUE(WaitForLine("Session Closed.")) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Operation timed out"), 0) << ui.Transcript();
}

TEST_F(TransferFaults, RemoteNamesThatWouldLeaveTheFolderAreNeverDownloaded) {
    tvtest::ScriptedServer server;
    server.addConnection(Online(false, {ScriptStep::on("PWD", "257 \"/\" is current\r\n")}));
    ASSERT_TRUE(server.start()) << server.error();
    const std::string folder = (work / "inside").string();
    const std::string names[] = {"/pub/..", "/pub/.", "..", "/pub/a\\..\\b", std::string("/pub/a\0b", 8)};
    OpenWithQueue(server.port(), false, [&](CFtpSession& s) {
        for (const std::string& name : names) {
            if (s.DownloadWithRetry(folder, name, 0) != FTP_NOT_AVAILABLE) return FTP_FAILED;
        }
        return FTP_OK;
    });
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    EXPECT_EQ(Run(SimpleCommand(CMD_RUN_QUEUE)), FTP_OK) << ui.Transcript();
    EXPECT_EQ(Run(SimpleCommand(CMD_PWD)), FTP_OK) << "nothing was sent for those names";
    EXPECT_EQ(server.error(), "");
}

TEST_F(TransferFaults, ResumePastFourGiBStartsAtTheRightByte) {
    // A sparse local file of 5 GiB and a remote one 10 bytes longer: REST names the whole
    // 64-bit offset and the rest is appended.
    constexpr unsigned long long kLocalSize = 5ull << 30;
    const fs::path local = work / "big.bin";
    {
        std::ofstream out(local, std::ios::binary);
    }
    fs::resize_file(local, kLocalSize);
    settings.CacheHomeDirectory = (work / "cache").string();
    settings.DefaultOverwriteAction = 1;
    const std::string listing =
        "-rw-r--r-- 1 u g " + std::to_string(kLocalSize + 10) + " Jan 01 2020 big.bin\r\n";
    Script script = Login();
    script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
    script.push_back(ScriptStep::on("LIST", "150 Here\r\n").sendData(listing).afterData("226 Done\r\n"));
    script.push_back(ScriptStep::on("TYPE I", "200 ok\r\n"));
    script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
    script.push_back(ScriptStep::on("REST " + std::to_string(kLocalSize), "350 Restarting\r\n"));
    script.push_back(ScriptStep::on("RETR big.bin", "150 Here\r\n").sendData("0123456789").afterData("226 Done\r\n"));
    tvtest::ScriptedServer server;
    ASSERT_NO_FATAL_FAILURE(OpenScripted(server, script));
    CSessionCommand download = SimpleCommand(CMD_DOWNLOAD);
    download.path = "/big.bin";
    download.localPath = local.string();
    EXPECT_EQ(Run(download), FTP_OK) << ui.Transcript();
    EXPECT_EQ(server.error(), "");
    ASSERT_EQ(fs::file_size(local), kLocalSize + 10);
    std::ifstream in(local, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kLocalSize));
    std::string tail(10, '\0');
    in.read(tail.data(), 10);
    EXPECT_EQ(tail, "0123456789");
    EXPECT_EQ(session->TransferredBytes(), kLocalSize + 10);
}

// The per-file wrappers' limits: how many attempts, which retry lines, which result.
struct RetryCase {
    const char* name;
    int fileRetry;
    std::vector<ScriptStep> steps;  // after the online set-up (active mode)
    std::vector<std::vector<ScriptStep>> reconnections;  // later connections, whole
    std::function<int(CFtpSession&, const std::string&)> job;
    int result;
    std::vector<std::string> lines;  // in this order
    std::vector<std::string> absent;
};

std::vector<ScriptStep> Repeat(int times, const std::vector<ScriptStep>& steps) {
    std::vector<ScriptStep> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), steps.begin(), steps.end());
    return all;
}

std::vector<ScriptStep> Joined(std::vector<ScriptStep> a, const std::vector<ScriptStep>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(TransferFaults, RetryLimitsOfTheFileWrappers) {
    const auto port = ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n");
    const auto type = ScriptStep::on("TYPE I", "200 ok\r\n");
    const std::vector<ScriptStep> refusedRetr{port, ScriptStep::on("RETR f.bin", "451 Local error\r\n")};
    auto download = [](CFtpSession& s, const std::string& folder) {
        return s.DownloadWithRetry(folder, "f.bin", 0);
    };
    auto remove = [](CFtpSession& s, const std::string&) { return s.DeleteWithRetry("/f.bin", 0); };
    auto upload = [](CFtpSession& s, const std::string& folder) {
        std::ofstream(folder + "/up.bin") << "payload";
        return s.UploadWithRetry(folder + "/up.bin", "/", 0);
    };
    const RetryCase cases[] = {
        {"three attempts, retry lines numbered from 0", 2,
         Joined({type, SizeUnknown()}, Repeat(3, refusedRetr)), {}, download, FTP_FAILED,
         {"Retrying file transfer #0", "Retrying file transfer #1",
          "Max errors reached, go on to next file"},
         {"Retrying file transfer #2"}},
        {"FileRetry 0: one attempt and no pause", 0,
         Joined({type, SizeUnknown()}, refusedRetr), {}, download, FTP_FAILED,
         {"Max errors reached, go on to next file"}, {"Waiting to retry..."}},
        {"a refused download is not retried", 2,
         {type, SizeUnknown(), port, ScriptStep::on("RETR f.bin", "550 No such file\r\n")}, {}, download,
         FTP_NOT_AVAILABLE, {}, {"Waiting to retry...", "Max errors reached, go on to next file"}},
        {"a refused delete is retried", 1,
         {ScriptStep::on("DELE /f.bin", "550 Busy\r\n"), ScriptStep::on("DELE /f.bin", "250 Deleted\r\n")},
         {}, remove, FTP_OK, {"Retrying to delete file #0"}, {}},
        {"a refused directory removal is retried", 1,
         {ScriptStep::on("RMD /d", "550 Not empty\r\n"), ScriptStep::on("RMD /d", "250 Removed\r\n")},
         {}, [](CFtpSession& s, const std::string&) { return s.RemoveDirWithRetry("/d", 0); }, FTP_OK,
         {"Retrying to delete directory #0"}, {}},
        {"a delete reconnects after the server closed", 1,
         {ScriptStep::on("DELE /f.bin", "").thenClose()},
         {{ScriptStep::send("220 Again\r\n"), ScriptStep::on("USER alice", "331 Password\r\n"),
           ScriptStep::on("PASS secret", "230 In\r\n"), ScriptStep::on("DELE /f.bin", "250 Deleted\r\n")}},
         remove, FTP_OK, {"Retrying to delete file #0"}, {}},
        {"an upload whose attempts all time out reports a closed connection", 0,
         {type, ScriptStep::on("SIZE up.bin.tvpart", "550 No such file\r\n"), port,
          ScriptStep::on("STOR up.bin.tvpart", "150 Opening\r\n").refuseData(),
          ScriptStep::on("ABOR", "226 Aborted\r\n")},
         {}, upload, FTP_CLOSED, {"Operation timed out", "Max errors reached, go on to next file"}, {}},
    };
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.name);
        settings.FileRetry = c.fileRetry;
        tvtest::ScriptedServer server;
        server.addConnection(Online(false, c.steps));
        for (const auto& again : c.reconnections) server.addConnection(again);
        ASSERT_TRUE(server.start()) << server.error();
        issued.clear();
        const std::string folder = work.string();
        OpenWithQueue(server.port(), false, [&c, folder](CFtpSession& s) { return c.job(s, folder); });
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        EXPECT_EQ(Run(SimpleCommand(CMD_RUN_QUEUE)), c.result) << ui.Transcript();
        int from = 0;
        for (const std::string& line : c.lines) {
            const int at = IndexOf(line, from);
            EXPECT_GE(at, 0) << line << " (in order)\n" << ui.Transcript();
            if (at >= 0) from = at + 1;
        }
        for (const std::string& line : c.absent) EXPECT_EQ(ui.CountLines(line), 0) << line;
        session->StopThread();
        session.reset();
        ui.Clear();
    }
}

TEST_F(TransferFaults, RetryDelayZeroPausesForTheTimeout) {
    // A zero delay is not "at once": the pause lasts the Timeout (long here), so the
    // second attempt never comes before the user stops the session.
    settings.RetryDelay = 0;
    settings.Timeout = 30;
    settings.FileRetry = 1;
    tvtest::ScriptedServer server;
    server.addConnection(Online(false, {ScriptStep::on("TYPE I", "200 ok\r\n"), SizeUnknown(),
                                        ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
                                        ScriptStep::on("RETR f.bin", "451 Local error\r\n")}));
    ASSERT_TRUE(server.start()) << server.error();
    const std::string folder = work.string();
    OpenWithQueue(server.port(), false,
                  [folder](CFtpSession& s) { return s.DownloadWithRetry(folder, "f.bin", 0); });
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
    ASSERT_TRUE(WaitForLine("Waiting to retry...")) << ui.Transcript();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(ui.CountLines("RETR f.bin"), 1) << "the pause ended early";
    session->CancelOperation();
    EXPECT_EQ(ui.WaitForCommandResult(CMD_RUN_QUEUE, kLogWait), FTP_INTERRUPTED) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Interrupted by user"), 1);
}

// The idle limit (Timeout 2 s) counts from the last data, however the session keeps its
// timer: pieces 800 ms apart outlast the limit in total yet never trip it, and a stall
// after some data still ends the transfer by the limit.
TEST_F(TransferFaults, IdleLimitCountsFromTheLastData) {
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces;
        int gapMs;
        int result;
    } cases[] = {
        {"four pieces with short gaps", {1250}, 800, FTP_OK},
        {"one piece, then a stall", {1000, 4000}, 3000, FTP_TIMEOUT},
    };
    const std::string bytes(5000, 'x');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tvtest::ScriptedServer server;
        server.addConnection(Online(true, {
            ScriptStep::on("TYPE I", "200 ok\r\n"),
            SizeUnknown(),
            ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
            ScriptStep::on("RETR f.bin", "150 Here\r\n").sendData(bytes).dataInChunks(c.pieces, c.gapMs)
                .afterData("226 Done\r\n"),
        }));
        ASSERT_TRUE(server.start()) << server.error();
        issued.clear();
        OpenAt(server.port(), true);
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        EXPECT_EQ(Run(Download("f.bin")), c.result) << ui.Transcript();
        EXPECT_EQ(ui.CountLines("Operation timed out") > 0, c.result == FTP_TIMEOUT) << ui.Transcript();
        if (c.result == FTP_OK) {
            std::ifstream in(work / "f.bin", std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
        }
        session->StopThread();
        session.reset();
        ui.Clear();
    }
}

std::string RandomText(std::size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A download counts as complete only with the source's byte count: from SIZE right before
// RETR, else from the listing. A data connection closed early or padded fails, whatever
// the closing reply says; the target never takes a wrong file, and a download that
// failed before its first byte leaves no file at all.
TEST_F(TransferFaults, DownloadWhoseByteCountDiffersFromTheSourceFails) {
    // The size the file must have comes from the listing, from the opening reply when the
    // server states it there, and from SIZE for a listed link (whose listed size is the
    // link's own). No SIZE is sent for a file the listing knows.
    settings.CacheHomeDirectory = (work / "cache").string();
    const std::string bytes = RandomText(100000);
    const std::string file = "-rw-r--r-- 1 u g 100000 Jan 01 2020 f.bin\r\n";
    const std::string link = "lrwxrwxrwx 1 u g 9 Jan 01 2020 f.bin -> other.bin\r\n";
    const auto retr = [](const std::string& sent, const std::string& opening = "150 Here\r\n") {
        return ScriptStep::on("RETR f.bin", opening).sendData(sent).afterData("226 Done\r\n");
    };
    const auto stating = [](std::size_t size) {
        return "150 Opening BINARY mode data connection for f.bin (" + std::to_string(size) + " bytes).\r\n";
    };
    struct Case {
        const char* name;
        std::string listing;
        std::optional<ScriptStep> size;
        ScriptStep transfer;
        int result;
        std::string partial;  // left under the partial name
    } cases[] = {
        {"226 after an early close", file, {}, retr(bytes.substr(0, 95000)), FTP_FAILED, bytes.substr(0, 95000)},
        {"padded", file, {}, retr(bytes + "12345"), FTP_FAILED, bytes + "12345"},
        {"the opening reply is newer than the listing", file, {}, retr(bytes.substr(0, 95000), stating(95000)),
         FTP_OK, ""},
        {"short of what the opening reply states", file, {}, retr(bytes.substr(0, 95000), stating(100000)),
         FTP_FAILED, bytes.substr(0, 95000)},
        {"whole", file, {}, retr(bytes), FTP_OK, ""},
        {"a link: SIZE tells", link, ScriptStep::on("SIZE f.bin", "213 100000\r\n"), retr(bytes), FTP_OK, ""},
        {"a link, short of SIZE", link, ScriptStep::on("SIZE f.bin", "213 100000\r\n"),
         retr(bytes.substr(0, 95000)), FTP_FAILED, bytes.substr(0, 95000)},
        {"refused before the first byte", file, {}, ScriptStep::on("RETR f.bin", "550 Gone\r\n"),
         FTP_NOT_AVAILABLE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work / "cache");
        fs::remove(work / "f.bin.tvpart");
        Script script = Login();
        script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
        script.push_back(ScriptStep::on("LIST", "150 Here\r\n").sendData(c.listing).afterData("226 Done\r\n"));
        script.push_back(ScriptStep::on("TYPE I", "200 ok\r\n"));
        if (c.size) script.push_back(*c.size);
        script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
        script.push_back(c.transfer);
        tvtest::ScriptedServer server;
        ASSERT_NO_FATAL_FAILURE(OpenScripted(server, script));
        EXPECT_EQ(Run(Download("f.bin")), c.result) << ui.Transcript();
        EXPECT_EQ(server.error(), "");
        if (c.result == FTP_OK) {
            EXPECT_EQ(FileText(work / "f.bin"), c.transfer.dataBytes);
        } else {
            EXPECT_FALSE(fs::exists(work / "f.bin")) << "a wrong file took the target's name";
        }
        EXPECT_EQ(fs::exists(work / "f.bin.tvpart"), !c.partial.empty());
        if (!c.partial.empty()) {
            EXPECT_TRUE(FileText(work / "f.bin.tvpart") == c.partial);
        }
        session->StopThread();
        session.reset();
        ui.Clear();
        fs::remove(work / "f.bin");
    }
}

// A downloaded file takes the listed time; when downloads are to keep the server's exact
// time and the listing has only minutes, MDTM is asked (when FEAT offered it). Only a
// strict "213 YYYYMMDDHHMMSS[.fraction]" counts; 500 and 502 mean the server knows no MDTM
// and it is not asked again, while a refusal for one file (550) is that file's answer.
TEST_F(TransferFaults, DownloadsTakeTheServersExactTimeWhenAsked) {
    settings.CacheHomeDirectory = (work / "cache").string();
    constexpr std::int64_t kJan15 = 1705322096;  // 2024-01-15 12:34:56 UTC
    std::tm day{};
    day.tm_year = 2020 - 1900;
    day.tm_mday = 1;
    day.tm_isdst = -1;
    const std::int64_t listed = std::mktime(&day);  // "Jan 01 2020" of a LIST line
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan 01 2020 f.bin\r\n-rw-r--r-- 1 u g 5 Jan 01 2020 g.bin\r\n";
    const std::string exactListing = "type=file;size=5;modify=20240115123456; f.bin\r\n"
                                     "type=file;size=5;modify=20240115123456; g.bin\r\n";
    struct Case {
        const char* name;
        int setting;                 // ExactRemoteTimes
        bool offered = true;         // FEAT lists MDTM
        bool mlsd = false;           // FEAT lists MLST: the listing is exact
        const char* reply = nullptr; // MDTM reply; none: MDTM must not be sent
        std::int64_t time = 0;       // the files' time afterwards
        bool askedAgain = true;      // the second file is asked too
    } cases[] = {
        {"exact", 2, true, false, "213 20240115123456\r\n", kJan15},
        {"with a fraction", 2, true, false, "213 20240115123456.789\r\n", kJan15},
        {"absurd", 2, true, false, "213 99999999999999\r\n", listed},
        {"before 1970", 2, true, false, "213 19100115123456\r\n", listed},
        {"words after the time", 2, true, false, "213 20240115123456 UTC\r\n", listed},
        {"seconds since 1970", 2, true, false, "213 1705322096\r\n", listed},
        {"refused for the file", 2, true, false, "550 Not a plain file\r\n", listed},
        {"not implemented", 2, true, false, "502 Command not implemented\r\n", listed, false},
        {"unknown command", 2, true, false, "500 Unknown command\r\n", listed, false},
        {"single downloads keep the listed time by default", 1, true, false, nullptr, listed},
        {"never", 0, true, false, nullptr, listed},
        {"not offered", 2, false, false, nullptr, listed},
        {"the listing is exact already", 2, true, true, nullptr, kJan15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work / "cache");
        settings.ExactRemoteTimes = c.setting;
        std::string features = "211-Features:\r\n";
        if (c.offered) features += " MDTM\r\n";
        if (c.mlsd) features += " MLST type*;size*;modify*;\r\n";
        features += "211 End\r\n";
        Script script = {
            ScriptStep::send("220 Scripted\r\n"),
            ScriptStep::on("USER alice", "331 Password\r\n"),
            ScriptStep::on("PASS secret", "230 In\r\n"),
            ScriptStep::on("FEAT", features),
        };
        if (c.mlsd) script.push_back(ScriptStep::on("OPTS MLST .*", "200 ok\r\n"));
        script.push_back(ScriptStep::on("PWD", "257 \"/\" is current\r\n"));
        script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
        script.push_back(ScriptStep::on(c.mlsd ? "MLSD" : "LIST", "150 Here\r\n")
                             .sendData(c.mlsd ? exactListing : listing)
                             .afterData("226 Done\r\n"));
        script.push_back(ScriptStep::on("TYPE I", "200 ok\r\n"));
        for (const char* file : {"f.bin", "g.bin"}) {
            const bool asked = c.reply != nullptr && (file[0] == 'f' || c.askedAgain);
            if (asked) script.push_back(ScriptStep::on(std::string("MDTM ") + file, c.reply));
            script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
            script.push_back(ScriptStep::on(std::string("RETR ") + file, "150 Here\r\n")
                                 .sendData("12345")
                                 .afterData("226 Done\r\n"));
        }
        tvtest::ScriptedServer server;
        ASSERT_NO_FATAL_FAILURE(OpenScripted(server, script));
        for (const char* file : {"f.bin", "g.bin"}) {
            SCOPED_TRACE(file);
            ASSERT_EQ(Run(Download(file)), FTP_OK) << ui.Transcript();
            struct stat info {};
            ASSERT_EQ(::stat((work / file).c_str(), &info), 0);
            EXPECT_EQ(std::int64_t(info.st_mtime), c.time);
            EXPECT_EQ(FileText(work / file), "12345");
        }
        EXPECT_EQ(server.error(), "");
        session->StopThread();
        session.reset();
        ui.Clear();
        fs::remove(work / "f.bin");
        fs::remove(work / "g.bin");
    }
}

// An existing target is compared with the server's exact time, asked before the decision:
// the same time and size is left alone without a transfer, a later one is fetched.
TEST_F(TransferFaults, AnExistingTargetIsComparedWithTheExactTime) {
    settings.CacheHomeDirectory = (work / "cache").string();
    settings.ExactRemoteTimes = 2;
    constexpr std::int64_t kJan15 = 1705322096;  // 2024-01-15 12:34:56 UTC
    const struct {
        const char* name;
        const char* reply;
        bool fetched;
    } cases[] = {
        {"same time", "213 20240115123456\r\n", false},
        {"a second later", "213 20240115123457\r\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work / "cache");
        const fs::path target = work / "f.bin";
        std::ofstream(target, std::ios::binary) << "local";
        const timespec times[2] = {{kJan15, 0}, {kJan15, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
        Script script = {
            ScriptStep::send("220 Scripted\r\n"),
            ScriptStep::on("USER alice", "331 Password\r\n"),
            ScriptStep::on("PASS secret", "230 In\r\n"),
            ScriptStep::on("FEAT", "211-Features:\r\n MDTM\r\n211 End\r\n"),
            ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
            ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
            ScriptStep::on("LIST", "150 Here\r\n")
                .sendData("-rw-r--r-- 1 u g 5 Jan 15 2024 f.bin\r\n")
                .afterData("226 Done\r\n"),
            ScriptStep::on("MDTM f.bin", c.reply),
        };
        if (c.fetched) {
            script.push_back(ScriptStep::on("TYPE I", "200 ok\r\n"));
            script.push_back(ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"));
            script.push_back(ScriptStep::on("RETR f.bin", "150 Here\r\n").sendData("fresh").afterData("226 Done\r\n"));
        }
        tvtest::ScriptedServer server;
        ASSERT_NO_FATAL_FAILURE(OpenScripted(server, script));
        ASSERT_EQ(Run(Download("f.bin")), FTP_OK) << ui.Transcript();
        EXPECT_EQ(FileText(target), c.fetched ? "fresh" : "local");
        EXPECT_EQ(ui.CountLines("Skipped f.bin: same size and time."), c.fetched ? 0 : 1) << ui.Transcript();
        EXPECT_EQ(server.error(), "");
        session->StopThread();
        session.reset();
        ui.Clear();
        fs::remove(target);
    }
}

// Uploads go to a temporary name beside the target and are renamed once the server holds
// every byte; what an interrupted attempt left there is continued; a server that refuses
// the rename gets the file under its final name, and the log says so once.
TEST_F(TransferFaults, UploadsGoThroughATemporaryName) {
    const auto probe = [](const std::string& reply) { return ScriptStep::on("SIZE up.bin.tvpart", reply); };
    const auto port = ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n");
    const auto stor = [](const std::string& name) {
        return ScriptStep::on("STOR " + name, "150 Send it\r\n").receiveData().afterData("226 Got it\r\n");
    };
    const auto renamed = std::vector<ScriptStep>{ScriptStep::on("RNFR up.bin.tvpart", "350 Go on\r\n"),
                                                 ScriptStep::on("RNTO up.bin", "250 Renamed\r\n")};
    struct Case {
        const char* name;
        std::vector<ScriptStep> steps;  // after TYPE I
        int result;
        std::string received;
        int refusalLines;
    } cases[] = {
        {"renamed when complete", Joined({probe("550 No such file\r\n"), port, stor("up.bin.tvpart")}, renamed),
         FTP_OK, "payload", 0},
        {"resumed where an earlier attempt stopped",
         Joined({probe("213 3\r\n"), port, ScriptStep::on("REST 3", "350 Restarting\r\n"), stor("up.bin.tvpart")},
                renamed),
         FTP_OK, "load", 0},
        {"the server stops reading early and still says 226",
         {probe("550 No such file\r\n"), port,
          ScriptStep::on("STOR up.bin.tvpart", "150 Send it\r\n").receiveData(5).afterData("226 Got it\r\n")},
         FTP_FAILED, "paylo", 0},
        {"rename refused: stored again under the final name",
         {probe("550 No such file\r\n"), port, stor("up.bin.tvpart"),
          ScriptStep::on("RNFR up.bin.tvpart", "350 Go on\r\n"), ScriptStep::on("RNTO up.bin", "553 Not allowed\r\n"),
          ScriptStep::on("DELE up.bin.tvpart", "250 Deleted\r\n"), port, stor("up.bin"),
          // The next upload on this connection goes straight to its final name.
          port, stor("up.bin")},
         FTP_OK, "payloadpayloadpayload", 1},
        {"RNFR refused: the pair fails as one and the file goes to its final name",
         {probe("550 No such file\r\n"), port, stor("up.bin.tvpart"),
          ScriptStep::on("RNFR up.bin.tvpart", "550 No\r\n"), ScriptStep::on("RNTO up.bin", "503 RNFR first\r\n"),
          ScriptStep::on("DELE up.bin.tvpart", "250 Deleted\r\n"), port, stor("up.bin"), port, stor("up.bin")},
         FTP_OK, "payloadpayloadpayload", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tvtest::ScriptedServer server;
        ASSERT_NO_FATAL_FAILURE(
            OpenScripted(server, Online(false, Joined({ScriptStep::on("TYPE I", "200 ok\r\n")}, c.steps))));
        EXPECT_EQ(Run(Upload("up.bin", "payload")), c.result) << ui.Transcript();
        if (c.refusalLines > 0) {
            EXPECT_EQ(Run(Upload("up.bin", "payload")), FTP_OK) << ui.Transcript();
        }
        EXPECT_TRUE(server.waitUntilDone(5000)) << server.error() << ui.Transcript();
        EXPECT_EQ(server.error(), "");
        EXPECT_EQ(server.dataReceived(0), c.received);
        EXPECT_EQ(ui.CountLines("The server refused to rename up.bin.tvpart to up.bin; uploads on this connection "
                                "now write their final names directly."),
                  c.refusalLines)
            << ui.Transcript();
        session->StopThread();
        session.reset();
        ui.Clear();
    }
}

// A server that reads one command at a time and drops what came with it leaves the
// second of two commands sent together unanswered: after that time-out, commands go
// out one at a time for the rest of the session.
TEST_F(TransferFaults, AServerThatDropsTheSecondOfTwoCommandsGetsThemOneAtATime) {
    settings.Timeout = 2;
    tvtest::ScriptedServer server;
    ASSERT_NO_FATAL_FAILURE(OpenScripted(server, Online(false, {
        ScriptStep::on("TYPE I", "200 ok\r\n"),
        ScriptStep::on("SIZE up.bin.tvpart", "550 No such file\r\n"),
        ScriptStep::on("PORT [0-9,]+", "200 PORT ok\r\n"),
        ScriptStep::on("STOR up.bin.tvpart", "150 Send it\r\n").receiveData().afterData("226 Got it\r\n"),
        ScriptStep::on("RNFR up.bin.tvpart", "350 Go on\r\n").forgetFollowingInput().thenStall(),
    })));
    ASSERT_TRUE(session->CommandsTogetherAllowed());
    EXPECT_EQ(Run(Upload("up.bin", "payload")), FTP_TIMEOUT) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("The server did not answer a second command sent together with the first; commands "
                            "go out one at a time from now on."),
              1)
        << ui.Transcript();
    EXPECT_FALSE(session->CommandsTogetherAllowed());
    EXPECT_EQ(server.dataReceived(0), "payload");
}

}  // namespace
}  // namespace sessiontest
