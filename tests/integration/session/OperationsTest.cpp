// Every mailbox command run against vsftpd and pyftpdlib, in passive and active mode:
// directories, listings into the cache, downloads and uploads whole and resumed (checked
// byte for byte), and the servers' refusals.

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "listing/DirectoryCache.h"
#include "tests/integration/session/SessionFixture.h"
#include "tests/support/FtpServers.h"

namespace sessiontest {
namespace {

namespace fs = std::filesystem;

enum class ServerKind { Vsftpd, Pyftpdlib };

struct ModeCase {
    ServerKind server;
    bool passive;
};

std::string CaseName(const ::testing::TestParamInfo<ModeCase>& info) {
    return std::string(info.param.server == ServerKind::Vsftpd ? "Vsftpd" : "Pyftpdlib") +
           (info.param.passive ? "Passive" : "Active");
}

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string ReadLocal(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteLocal(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class Operations : public SessionTestBase, public ::testing::WithParamInterface<ModeCase> {
protected:
    void SetUp() override {
        if (GetParam().server == ServerKind::Vsftpd) {
            server = std::make_unique<tvtest::VsftpdServer>();
        } else {
            server = std::make_unique<tvtest::PyftpdlibServer>();
        }
        ASSERT_TRUE(server->start()) << server->error();
        if (!server->hasUser()) GTEST_SKIP() << "no named user for this server here";
        ASSERT_TRUE(server->createFolder("pub"));
        work = fs::temp_directory_path() /
               ("tv-ops-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fs::remove_all(work);
        fs::create_directories(work / "local");
        settings.CacheHomeDirectory = (work / "cache").string();
        settings.pOverwrite = 0;
        settings.DefaultOverwriteAction = 2;
        settings.FileRetry = 0;
    }
    void TearDown() override {
        if (session) session->StopThread();
        if (!work.empty()) fs::remove_all(work);
    }

    // Opens the session and waits for the listing of its online set-up.
    void OpenOnline() {
        CSessionSite site;
        site.address = server->host();
        site.port = server->port();
        site.username = server->userName();
        site.password = server->password();
        site.passive = GetParam().passive ? 1 : 0;
        Open(site);
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    }

    // Issues the command and waits for its result (-1 when it never ended).
    int Run(const CSessionCommand& command) {
        const int occurrence = ++issued[command.code];
        session->IssueCommand(command);
        return ui.WaitForCommandResult(command.code, kLogWait, occurrence);
    }
    static CSessionCommand Command(int code, std::string path, int flags = 0) {
        CSessionCommand command = SimpleCommand(code, flags);
        command.path = std::move(path);
        return command;
    }
    CSessionCommand Transfer(int code, const std::string& remote, const std::string& localName) {
        CSessionCommand command = Command(code, remote);
        command.localPath = (work / "local" / localName).string();
        return command;
    }

    std::unique_ptr<tvtest::FtpTestServer> server;
    fs::path work;
    std::map<int, int> issued;
    static inline int counter = 0;
};

TEST_P(Operations, DirectoryCommandsChangeTheServerAndTheSession) {
    ASSERT_TRUE(server->createFile("pub/a.txt", "alpha"));
    OpenOnline();
    CSessionCommand rename = Command(CMD_RENAME, "/pub/a.txt");
    rename.newName = "/pub/b.txt";
    CSessionCommand chmod = Command(CMD_CHMOD, "/pub/b.txt");
    chmod.mode = "600";
    const struct {
        const char* what;
        CSessionCommand command;
        int result;
        const char* directoryAfter;  // nullptr: not checked
    } steps[] = {
        {"make a directory", Command(CMD_MKDIR, "/pub/new"), FTP_OK, nullptr},
        {"enter it and list", Command(CMD_CWD, "/pub/new", OPFLAG_REFRESH), FTP_OK, "/pub/new"},
        {"up to the parent", Command(CMD_CDUP, ""), FTP_OK, "/pub"},
        {"a missing directory is refused", Command(CMD_CWD, "/missing"), FTP_NOT_AVAILABLE, "/pub"},
        {"rename", rename, FTP_OK, nullptr},
        {"change permissions", chmod, FTP_OK, nullptr},
        {"delete", Command(CMD_DELETE, "/pub/b.txt"), FTP_OK, nullptr},
        {"delete a missing file is refused", Command(CMD_DELETE, "/pub/b.txt"), FTP_NOT_AVAILABLE, nullptr},
        {"chmod a missing file is refused", chmod, FTP_NOT_AVAILABLE, nullptr},
        {"print the directory", Command(CMD_PWD, ""), FTP_OK, "/pub"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(Run(step.command), step.result) << step.what << "\n" << ui.Transcript();
        if (step.directoryAfter != nullptr) {
            EXPECT_EQ(session->CurrentRemoteDirectory(), step.directoryAfter) << step.what;
        }
    }
    EXPECT_TRUE(server->exists("pub/new"));
    EXPECT_FALSE(server->exists("pub/a.txt"));
    EXPECT_FALSE(server->exists("pub/b.txt"));
    EXPECT_TRUE(ui.WaitForCall("TransferLog", "Delete:/pub/b.txt", kLogWait));

    // The listing of /pub/new's parent is cached now: a second MKD is not sent.
    EXPECT_EQ(Run(Command(CMD_MKDIR, "/pub/new", OPFLAG_LIST_PARENT_FIRST)), FTP_OK);
    EXPECT_EQ(ui.CountLines("Directory /pub/new already exists. No need to create."), 1)
        << ui.Transcript();
    EXPECT_EQ(ui.CountLines("MKD /pub/new"), 1);
}

TEST_P(Operations, ListingIsWrittenToTheCache) {
    ASSERT_TRUE(server->createFile("pub/x.txt", "x"));
    OpenOnline();
    ASSERT_EQ(Run(Command(CMD_LIST, "/pub")), FTP_OK) << ui.Transcript();
    CDirectoryCache cache(CacheSettings{settings.CacheHomeDirectory, true, false});
    RFILE_DATA entry;
    // The cache folder names the server's port (not 21) and the account.
    EXPECT_NE(session->CacheSite().find("127.0.0.1:" + std::to_string(server->port())), std::string::npos);
    ASSERT_EQ(cache.LookupCachedEntry(session->CacheSite(), "/pub/x.txt", entry), 0);
    EXPECT_EQ(entry.FileSize(), 1u);
    // The pane is handed the folder with its listing, not a pointer to the worker's text.
    ASSERT_TRUE(ui.WaitForCall("ListingComplete", "/pub", kLogWait));
    const std::vector<CListing> listings = ui.Listings();
    ASSERT_FALSE(listings.empty());
    EXPECT_EQ(listings.back().folder, "/pub");
    EXPECT_NE(listings.back().text.find("x.txt"), std::string::npos) << listings.back().text;
}

TEST_P(Operations, DownloadWholeThenResumedIsByteForByte) {
    const std::string content = RandomBytes(300000, 7);
    ASSERT_TRUE(server->createFile("pub/data.bin", content));
    settings.DefaultOverwriteAction = 1;  // resume what exists
    OpenOnline();
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/data.bin", "data.bin")), FTP_OK) << ui.Transcript();
    EXPECT_TRUE(ReadLocal(work / "local" / "data.bin") == content);
    EXPECT_TRUE(ui.WaitForCall("TransferLog", "Download:" + (work / "local" / "data.bin").string(), kLogWait));

    // Cut the local copy short: the next download fetches only the rest.
    WriteLocal(work / "local" / "data.bin", content.substr(0, 100000));
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/data.bin", "data.bin")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("REST 100000"), 1) << ui.Transcript();
    EXPECT_TRUE(ReadLocal(work / "local" / "data.bin") == content);

    // Complete already: nothing is fetched again.
    const int retrBefore = ui.CountLines("RETR data.bin") + ui.CountLines("RETR /pub/data.bin");
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/data.bin", "data.bin")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("RETR data.bin") + ui.CountLines("RETR /pub/data.bin"), retrBefore);
    EXPECT_EQ(ui.CountLines("Skipped data.bin: already complete."), 1) << ui.Transcript();
}

TEST_P(Operations, TextDownloadGetsThisSystemsLineEnds) {
    // ".txt" goes in ASCII mode: whether the server sends its LF as is or as CR LF (as the
    // protocol asks), the local file has LF line ends and the size the listing shows.
    ASSERT_TRUE(server->createFile("pub/notes.txt", "one\ntwo\n\nlast\n"));
    OpenOnline();
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/notes.txt", "notes.txt")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("TYPE a"), 1) << ui.Transcript();
    EXPECT_EQ(ReadLocal(work / "local" / "notes.txt"), "one\ntwo\n\nlast\n");
}

TEST_P(Operations, UploadWholeThenResumedIsByteForByte) {
    const std::string content = RandomBytes(250000, 11);
    WriteLocal(work / "local" / "up.bin", content);
    settings.DefaultOverwriteAction = 1;
    OpenOnline();
    ASSERT_EQ(Run(Transfer(CMD_UPLOAD, "/pub/up.bin", "up.bin")), FTP_OK) << ui.Transcript();
    std::string stored;
    ASSERT_TRUE(server->readFile("pub/up.bin", stored));
    EXPECT_TRUE(stored == content);
    EXPECT_TRUE(ui.WaitForCall("TransferLog", "Upload:/pub/up.bin", kLogWait));

    // The server holds only the first part; the listing tells its size.
    ASSERT_TRUE(server->createFile("pub/up.bin", content.substr(0, 90000)));
    ASSERT_EQ(Run(Command(CMD_LIST, "/pub")), FTP_OK);
    ASSERT_EQ(Run(Transfer(CMD_UPLOAD, "/pub/up.bin", "up.bin")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("REST 90000"), 1) << ui.Transcript();
    ASSERT_TRUE(server->readFile("pub/up.bin", stored));
    EXPECT_EQ(stored.size(), content.size());
    EXPECT_TRUE(stored == content);
}

TEST_P(Operations, RefusedTransfersReportNotAvailable) {
    WriteLocal(work / "local" / "up.bin", "payload");
    OpenOnline();
    EXPECT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/missing.bin", "missing.bin")), FTP_NOT_AVAILABLE)
        << ui.Transcript();
    EXPECT_EQ(Run(Transfer(CMD_UPLOAD, "/no/such/dir/up.bin", "up.bin")), FTP_NOT_AVAILABLE)
        << ui.Transcript();
    // The session is still usable after both refusals.
    EXPECT_EQ(Run(Command(CMD_PWD, "")), FTP_OK);
}

TEST_P(Operations, UnreadableLocalFileSendsNothing) {
    OpenOnline();
    const std::string missing = (work / "local" / "absent.bin").string();
    CSessionCommand upload = Command(CMD_UPLOAD, "/pub/absent.bin");
    upload.localPath = missing;
    EXPECT_EQ(Run(upload), FTP_FAILED);
    EXPECT_EQ(ui.CountLines("STOR absent.bin") + ui.CountLines("STOR /pub/absent.bin"), 0);
    EXPECT_FALSE(server->exists("pub/absent.bin"));

    ASSERT_TRUE(server->createFile("pub/r.bin", "remote"));
    CSessionCommand download = Command(CMD_DOWNLOAD, "/pub/r.bin");
    download.localPath = (work / "no-such-folder" / "r.bin").string();
    EXPECT_EQ(Run(download), FTP_FAILED);
    EXPECT_EQ(ui.CountLines("RETR r.bin") + ui.CountLines("RETR /pub/r.bin"), 0) << ui.Transcript();
}

TEST_P(Operations, OverwriteQuestionAnsweredForAllFiles) {
    ASSERT_TRUE(server->createFile("pub/one.txt", "remote one"));
    ASSERT_TRUE(server->createFile("pub/two.txt", "remote two"));
    WriteLocal(work / "local" / "one.txt", "local one, longer");
    WriteLocal(work / "local" / "two.txt", "local two, longer");
    settings.pOverwrite = 1;
    ui.SetOverwriteAnswer({OVERWRITE_OVERWRITE, /*applyToAll=*/true});
    OpenOnline();
    ASSERT_EQ(Run(Command(CMD_LIST, "/pub")), FTP_OK);
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/one.txt", "one.txt")), FTP_OK) << ui.Transcript();
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/two.txt", "two.txt")), FTP_OK) << ui.Transcript();
    // Asked once: the answer for all files holds for the second one.
    const auto questions = ui.OverwriteQuestions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].sourceFile, "/pub/one.txt");
    EXPECT_EQ(questions[0].targetFile, (work / "local" / "one.txt").string());
    EXPECT_EQ(ReadLocal(work / "local" / "one.txt"), "remote one");
    EXPECT_EQ(ReadLocal(work / "local" / "two.txt"), "remote two");
}

TEST_P(Operations, OverwriteQuestionAnsweredSkipLeavesTheFile) {
    ASSERT_TRUE(server->createFile("pub/one.txt", "remote one"));
    WriteLocal(work / "local" / "one.txt", "mine");
    settings.pOverwrite = 1;
    ui.SetOverwriteAnswer({OVERWRITE_SKIP, false});
    OpenOnline();
    ASSERT_EQ(Run(Command(CMD_LIST, "/pub")), FTP_OK);
    ASSERT_EQ(Run(Transfer(CMD_DOWNLOAD, "/pub/one.txt", "one.txt")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.OverwriteQuestions().size(), 1u);
    EXPECT_EQ(ReadLocal(work / "local" / "one.txt"), "mine");
    EXPECT_EQ(ui.CountLines("RETR one.txt"), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, Operations,
                         ::testing::Values(ModeCase{ServerKind::Vsftpd, true},
                                           ModeCase{ServerKind::Vsftpd, false},
                                           ModeCase{ServerKind::Pyftpdlib, true},
                                           ModeCase{ServerKind::Pyftpdlib, false}),
                         CaseName);

}  // namespace
}  // namespace sessiontest
