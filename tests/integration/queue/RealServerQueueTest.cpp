// Queue runs against vsftpd and pyftpdlib: single files, directory trees both ways,
// patterns, update-only, recursive deletes, cache jobs, failing items across cycles and
// stopped entries.

#include <algorithm>
#include <atomic>
#include <set>

#include "tests/integration/queue/QueueFixture.h"
#include "tests/support/FtpServers.h"

namespace queuetest {
namespace {

enum class ServerKind { Vsftpd, Pyftpdlib };

std::string ServerName(const ::testing::TestParamInfo<ServerKind>& info) {
    return info.param == ServerKind::Vsftpd ? "Vsftpd" : "Pyftpdlib";
}

class RealServerQueue : public QueueTestBase, public ::testing::WithParamInterface<ServerKind> {
protected:
    void SetUp() override {
        if (GetParam() == ServerKind::Vsftpd) {
            server = std::make_unique<tvtest::VsftpdServer>();
        } else {
            server = std::make_unique<tvtest::PyftpdlibServer>();
        }
        ASSERT_TRUE(server->start()) << server->error();
        ASSERT_TRUE(server->createFolder("pub"));
        settings.AnonymousPass = "tester@example.org";
    }
    void TearDown() override {
        if (session) session->StopThread();
    }

    void Open() {
        CSessionSite site;
        site.address = server->host();
        site.port = server->port();
        site.logintype = server->hasUser() ? LOGIN_NORMAL : LOGIN_ANONYMOUS;
        site.username = server->userName();
        site.password = server->password();
        site.passive = 1;
        OpenSession(site);
        // Image mode: files arrive byte for byte whatever their extension.
        session->SetTransferTypeSetting(1);
    }

    // A small tree under pub/<name>: a.txt, b.bin, sub/c.txt, sub/deeper/d.bin.
    std::map<std::string, std::string> MakeRemoteTree(const std::string& name) {
        std::map<std::string, std::string> files = {
            {"a.txt", "alpha\r\nline two\n"},
            {"b.bin", BinaryContent(1, 70000)},
            {"sub/c.txt", "charlie"},
            {"sub/deeper/d.bin", BinaryContent(7, 1234)},
        };
        for (const auto& [path, content] : files)
            EXPECT_TRUE(server->createFile("pub/" + name + "/" + path, content));
        return files;
    }

    std::set<std::string> LocalFiles(const fs::path& root) const {
        std::set<std::string> names;
        if (!fs::exists(root)) return names;
        for (const auto& item : fs::recursive_directory_iterator(root))
            if (item.is_regular_file()) names.insert(fs::relative(item.path(), root).string());
        return names;
    }

    std::unique_ptr<tvtest::FtpTestServer> server;
};

TEST_P(RealServerQueue, OneFileRunLogsEveryStepInOrder) {
    ASSERT_TRUE(server->createFile("pub/one.bin", BinaryContent(3, 5000)));
    Open();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, (work / "local").string(), "/pub/one.bin");
    entry.afterDownloadAction = OPEN_WITH_VIEWER;
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_TRUE(ui.WaitForCall("OpenDownloadedFile",
                               (work / "local" / "one.bin").string() + "|2", kWait));

    EXPECT_EQ(ReadLocal(work / "local" / "one.bin"), BinaryContent(3, 5000));
    EXPECT_TRUE(InOrder({"Reset entire queue excluding stopped items.",
                         "Starting to transfer queued files...",
                         "File one.bin received successfully.",
                         "All queue file transferred successfully.",
                         "1 files processed successfully"}))
        << ui.Transcript();
    EXPECT_TRUE(session->Queue().IsEmpty());
    EXPECT_FALSE(session->IsBusy());
    EXPECT_TRUE(session->ListingEnabled());
    // The entry started, the queue view heard of its removal, then the run's end.
    std::vector<std::string> calls;
    for (const auto& call : ui.Calls())
        if (call.name == "QueueEntryStarted" || call.name == "QueueRunFinished" ||
            call.name == "Refresh")
            calls.push_back(call.name);
    EXPECT_EQ(calls, (std::vector<std::string>{"QueueEntryStarted", "Refresh", "QueueRunFinished"}));
}

TEST_P(RealServerQueue, EmptyQueueStillLogsStartEndAndCount) {
    Open();
    EXPECT_EQ(RunQueue(), FTP_OK);
    EXPECT_TRUE(InOrder({"Starting to transfer queued files...",
                         "All queue file transferred successfully.",
                         "0 files processed successfully"}))
        << ui.Transcript();
    EXPECT_TRUE(ui.WaitForCall("QueueRunFinished", "", kWait));
}

TEST_P(RealServerQueue, DirectoryTreeDownloadsByteForByte) {
    const auto files = MakeRemoteTree("tree");
    Open();
    Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/tree");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    for (const auto& [path, content] : files)
        EXPECT_EQ(ReadLocal(work / "local" / "tree" / path), content) << path;
    EXPECT_EQ(LocalFiles(work / "local" / "tree").size(), files.size());
    EXPECT_TRUE(ui.WaitForLine("4 files processed successfully", kWait)) << ui.Transcript();
}

// Only pyftpdlib drops its connections when its process ends; vsftpd's connection
// processes live on by themselves.
class ServerRestart : public RealServerQueue {};

TEST_P(ServerRestart, MidRunTheSessionReconnectsAndTheRunContinues) {
    const auto files = MakeRemoteTree("tree");
    settings.ErrorRetry = 3;  // reconnect attempts and cycles
    Open();
    Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/tree");
    // The server goes away between two files of the tree and comes back on the same port.
    std::atomic<bool> restarted{false};
    ui.OnLine("File a.txt received successfully.", [&] { restarted = server->restart(); });
    RunQueue();
    EXPECT_TRUE(ui.WaitForLine("All queue file transferred successfully.", kWait)) << ui.Transcript();
    ASSERT_TRUE(restarted) << server->error();
    for (const auto& [path, content] : files)
        EXPECT_EQ(ReadLocal(work / "local" / "tree" / path), content) << path;
    EXPECT_TRUE(session->Queue().IsEmpty());
    // The lost connection was noticed and a new one made; the run did not start over.
    EXPECT_GE(ui.CountLines("Session Closed."), 1) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("File a.txt received successfully."), 1) << ui.Transcript();
}

TEST_P(RealServerQueue, DirectoryTreeUploadsByteForByte) {
    const std::map<std::string, std::string> files = {
        {"x.txt", "x\r\ny\n"},
        {"big.bin", BinaryContent(5, 90000)},
        {"inner/y.txt", "yankee"},
        {"inner/more/z.bin", BinaryContent(9, 321)},
    };
    for (const auto& [path, content] : files) WriteLocal(work / "up" / path, content);
    Open();
    Add(QUEUE_UPLOAD, KIND_DIRECTORY, (work / "up").string(), "/pub");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    for (const auto& [path, content] : files) {
        std::string stored;
        EXPECT_TRUE(server->readFile("pub/up/" + path, stored)) << path << ui.Transcript();
        EXPECT_EQ(stored, content) << path;
    }
}

TEST_P(RealServerQueue, PatternsTakeFilesAndSubdirectoriesAsAsked) {
    ASSERT_TRUE(server->createFile("pub/pat/a.txt", "a"));
    ASSERT_TRUE(server->createFile("pub/pat/b.bin", "b"));
    ASSERT_TRUE(server->createFile("pub/pat/sub/c.txt", "c"));
    ASSERT_TRUE(server->createFile("pub/pat/sub/d.bin", "d"));
    ASSERT_TRUE(server->createFile("pub/pat/keep.txt/e.txt", "e"));
    ASSERT_TRUE(server->createFile("pub/pat/keep.txt/f.bin", "f"));
    const struct {
        const char* pattern;
        int includeSubdirectories;
        std::set<std::string> expected;
    } cases[] = {
        {"*.txt", 1, {"a.txt", "sub/c.txt", "keep.txt/e.txt"}},
        {"*.txt", 0, {"a.txt", "keep.txt/e.txt"}},
        {"*.bin;a.*", 1, {"a.txt", "b.bin", "sub/d.bin", "keep.txt/f.bin"}},
        {"?.TXT", 1, {}},
    };
    Open();
    int n = 0;
    for (const auto& c : cases) {
        const fs::path target = work / ("case" + std::to_string(n++));
        fs::create_directories(target);
        CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, target.string(), "/pub/pat");
        entry.pattern = c.pattern;
        entry.includeSubdirectories = c.includeSubdirectories;
        EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
        EXPECT_EQ(LocalFiles(target / "pat"), c.expected)
            << c.pattern << " subdirectories " << c.includeSubdirectories;
    }
}

TEST_P(RealServerQueue, UpdateOnlyTransfersOntoExistingDestinationsAlone) {
    MakeRemoteTree("tree");
    Open();
    // No local "tree" folder: the entry is done without a transfer.
    CQueueEntry& missing = Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/tree");
    missing.updateOnly = 1;
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_TRUE(session->Queue().IsEmpty());
    EXPECT_FALSE(fs::exists(work / "local" / "tree"));

    // With the folder and one old file there: only that file is fetched.
    WriteLocal(work / "local" / "tree" / "a.txt", "old");
    CQueueEntry& present = Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/tree");
    present.updateOnly = 1;
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ReadLocal(work / "local" / "tree" / "a.txt"), "alpha\r\nline two\n");
    EXPECT_EQ(LocalFiles(work / "local" / "tree"), (std::set<std::string>{"a.txt"}));
}

TEST_P(RealServerQueue, RecursiveDeleteRemovesFilesThenDeepestDirectoriesThenItself) {
    MakeRemoteTree("gone");
    Open();
    Add(QUEUE_DELETE, KIND_DIRECTORY, "", "/pub/gone");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_FALSE(server->exists("pub/gone"));
    EXPECT_TRUE(server->exists("pub"));

    // Every RMD comes after the deletes of the files beneath it, the top one last.
    std::vector<std::string> removals;
    for (const CLogLine& line : ui.Lines()) {
        if (line.kind != LOG_COMMAND) continue;
        std::string upper = line.text.substr(0, 4);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        if (upper == "DELE" || upper == "RMD ") removals.push_back(line.text);
    }
    ASSERT_EQ(removals.size(), 7u) << ui.Transcript();
    auto position = [&](const std::string& tail) {
        for (std::size_t i = 0; i < removals.size(); ++i)
            if (removals[i].size() >= tail.size() &&
                removals[i].compare(removals[i].size() - tail.size(), tail.size(), tail) == 0)
                return int(i);
        return -1;
    };
    EXPECT_LT(position("d.bin"), position("deeper"));
    EXPECT_LT(position("deeper"), position("/sub"));
    EXPECT_LT(position("c.txt"), position("/sub"));
    EXPECT_EQ(position("/pub/gone"), 6) << ui.Transcript();
}

TEST_P(RealServerQueue, CacheDirEntryFillsTheCacheWithoutTransferring) {
    const fs::path cacheHome = work / "cache";
    fs::create_directories(cacheHome);
    settings.CacheHomeDirectory = cacheHome.string();
    settings.EnableCache = 1;
    MakeRemoteTree("cached");
    Open();
    Add(QUEUE_CACHEDIR, KIND_DIRECTORY, (work / "local").string(), "/pub/cached");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();

    CacheSettings cacheSettings;
    cacheSettings.homeDirectory = cacheHome.string();
    CDirectoryCache cache(cacheSettings);
    for (const char* directory : {"/pub/cached", "/pub/cached/sub", "/pub/cached/sub/deeper"}) {
        RFILE_LIST list;
        EXPECT_EQ(cache.LoadCachedList(session->CacheSite(), directory, list), 0) << directory;
    }
    EXPECT_TRUE(LocalFiles(work / "local").empty());
}

// The local target of the third file is a folder, so that file cannot be written.
class FailingThirdFile : public RealServerQueue {
protected:
    void Prepare() {
        for (const char* name : {"f1.txt", "f2.txt", "f3.txt", "f4.txt"})
            ASSERT_TRUE(server->createFile(std::string("pub/row/") + name, name));
        fs::create_directories(work / "local" / "row" / "f3.txt");
    }
    int Retrievals(const std::string& name) const {
        int count = 0;
        for (const CLogLine& line : ui.Lines()) {
            if (line.kind != LOG_COMMAND) continue;
            std::string text = line.text;
            std::transform(text.begin(), text.end(), text.begin(), ::tolower);
            count += text.rfind("retr ", 0) == 0 && text.ends_with(name);
        }
        return count;
    }
};

TEST_P(FailingThirdFile, OnlyItStaysPendingAndTheNextCycleFetchesOnlyIt) {
    Prepare();
    settings.ErrorRetry = 1;
    Open();
    // Between the cycles the obstacle goes away.
    ui.OnLine("Retrying to transfer entire queue. Cycle #1...",
              [&] { fs::remove(work / "local" / "row" / "f3.txt"); });
    Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/row");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ReadLocal(work / "local" / "row" / "f3.txt"), "f3.txt");
    EXPECT_EQ(Retrievals("f1.txt"), 1);
    EXPECT_EQ(Retrievals("f2.txt"), 1);
    EXPECT_EQ(Retrievals("f4.txt"), 1);
    EXPECT_TRUE(InOrder({"Retrying to transfer entire queue. Cycle #1...",
                         "Reset entire queue excluding stopped items.",
                         "All queue file transferred successfully.",
                         "4 files processed successfully"}))
        << ui.Transcript();
}

TEST_P(FailingThirdFile, CycleLimitStopsTheEntryAndEndsTheRun) {
    Prepare();
    settings.ErrorRetry = 2;
    Open();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local").string(), "/pub/row");
    RunQueue();
    EXPECT_TRUE(ui.WaitForLine("Transfer stopped. Some files remain in queue.", kWait))
        << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Retrying to transfer entire queue. Cycle #1..."), 1);
    EXPECT_EQ(ui.CountLines("Retrying to transfer entire queue. Cycle #2..."), 1);
    EXPECT_EQ(ui.CountLines("Max cycles reached, stop queue transfer."), 0);
    EXPECT_EQ(Retrievals("f3.txt"), 0);  // refused before RETR each time
    EXPECT_EQ(Retrievals("f1.txt"), 1);
    ASSERT_EQ(session->Queue().Size(), 1u);
    EXPECT_EQ(entry.status, STATUS_STOPPED);
    ASSERT_EQ(entry.pending.size(), 1u);
    EXPECT_EQ(entry.pending.front().relativePath, "row/f3.txt");
    EXPECT_TRUE(ui.WaitForLine("3 files processed successfully", kWait));
    EXPECT_FALSE(session->IsBusy());
}

TEST_P(RealServerQueue, StoppedEntriesFollowAutoResetAndTheAnswer) {
    ASSERT_TRUE(server->createFile("pub/s.txt", "stopped once"));
    const std::string question = "127.0.0.1|Do you want to transfer the stopped items again?|" +
                                 std::to_string(MB_YESNO | MB_ICONQUESTION);
    const struct {
        int autoReset;
        int answer;
        bool asked;
        bool transferred;
    } cases[] = {
        {0, IDNO, true, false},
        {0, IDYES, true, true},
        {1, IDNO, false, true},
    };
    Open();
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n));
        settings.AutoReset = c.autoReset;
        Publish();  // the run that follows takes it
        ui.SetMessageBoxAnswer(c.answer);
        const fs::path target = work / ("s" + std::to_string(n++));
        fs::create_directories(target);
        session->Queue().ClearQueue();
        CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, target.string(), "/pub/s.txt");
        entry.status = STATUS_STOPPED;
        int askedBefore = 0;
        for (const auto& call : ui.Calls()) askedBefore += call.name == "MessageBox" && call.detail == question;
        RunQueue();
        int askedAfter = 0;
        for (const auto& call : ui.Calls()) askedAfter += call.name == "MessageBox" && call.detail == question;
        EXPECT_EQ(askedAfter - askedBefore, c.asked ? 1 : 0);
        EXPECT_EQ(fs::exists(target / "s.txt"), c.transferred) << ui.Transcript();
        EXPECT_EQ(session->Queue().IsEmpty(), c.transferred);
        EXPECT_FALSE(session->IsBusy());
    }
    EXPECT_EQ(ui.CountLines("Transfer stopped. Some files remain in queue."), 1);
    EXPECT_EQ(ui.CountLines("Reset entire queue including stopped items."), 2);
}

TEST_P(RealServerQueue, StopStopsTheEntryAndEndsTheRunWithoutAReconnect) {
    ASSERT_TRUE(server->createFile("pub/one.txt", "one"));
    ASSERT_TRUE(server->createFile("pub/two.txt", "two"));
    Open();
    // The user presses Stop as the run starts: the first wait of the first entry ends.
    ui.OnLine("Starting to transfer queued files...", [&] { session->CancelOperation(); });
    CQueueEntry& first = Add(QUEUE_DOWNLOAD, KIND_FILE, (work / "local").string(), "/pub/one.txt");
    CQueueEntry& second = Add(QUEUE_DOWNLOAD, KIND_FILE, (work / "local").string(), "/pub/two.txt");
    EXPECT_EQ(RunQueue(), FTP_INTERRUPTED) << ui.Transcript();
    EXPECT_EQ(first.status, STATUS_STOPPED);
    EXPECT_EQ(second.status, STATUS_QUEUED);
    EXPECT_FALSE(fs::exists(work / "local" / "two.txt"));
    EXPECT_EQ(ui.CountLines("0 files processed successfully"), 1) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("All queue file transferred successfully."), 0);
    EXPECT_FALSE(session->QueueRunPending());
    EXPECT_FALSE(session->IsBusy());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerQueue,
                         ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib), ServerName);
INSTANTIATE_TEST_SUITE_P(Servers, ServerRestart, ::testing::Values(ServerKind::Pyftpdlib), ServerName);
INSTANTIATE_TEST_SUITE_P(Servers, FailingThirdFile,
                         ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib), ServerName);

}  // namespace
}  // namespace queuetest
