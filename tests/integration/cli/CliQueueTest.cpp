// tollvane-cli's queue commands against real servers: recursive transfers compared byte
// for byte, the switches that choose what an entry takes, recursive deletes and cache
// jobs, job files with several sites at once, and Ctrl-C keeping what is left for the
// next run.
#include "tests/integration/cli/CliFixture.h"

#include <optional>
#include <set>
#include <utime.h>

namespace clitest {
namespace {

class CliQueueTest : public CliServerTest {
protected:
    // A tree under incoming/<name>: two files on top (one with a blank in its name), one
    // a level down and one two levels down. Binary content: any conversion shows.
    std::map<std::string, std::string> MakeRemoteTree(const std::string& name)
    {
        std::map<std::string, std::string> files = {
            {"a.bin", RandomBytes(70000, 1)},
            {"with blank.dat", RandomBytes(300, 2)},
            {"sub/c.bin", RandomBytes(5000, 3)},
            {"sub/deeper/d.dat", RandomBytes(1234, 4)},
        };
        for (const auto& [path, content] : files)
            EXPECT_TRUE(server_->createFile("incoming/" + name + "/" + path, content));
        return files;
    }

    std::set<std::string> LocalFiles(const std::string& folder) const
    {
        std::set<std::string> names;
        std::error_code ec;
        if (!fs::exists(folder, ec))
            return names;
        for (const auto& item : fs::recursive_directory_iterator(folder))
            if (item.is_regular_file())
                names.insert(fs::relative(item.path(), folder).string());
        return names;
    }

    // The site that job files reach this server by: their sections name only the address.
    void StoreSite(const std::string& name, const tvtest::FtpTestServer& server, const std::string& address)
    {
        const std::string login = server.hasUser() ? server.userName() + ":" + server.password() + "@" : "";
        const Outcome added =
            Run({"sites", "add", name, "ftp://" + login + address + ":" + std::to_string(server.port()) + "/"});
        ASSERT_EQ(added.exitCode, 0) << Transcript(added);
    }

    std::string Autosave() const { return ReadAll(root_ + "/data/Tollvane/autosave.tvq"); }
};

TEST_P(CliQueueTest, TreeDownloadAndUploadByteForByte)
{
    const auto files = MakeRemoteTree("tree");
    const Outcome got = Run({"--binary", "get", "-r", Url("/tree"), "dl"});
    ASSERT_EQ(got.exitCode, 0) << Transcript(got);
    EXPECT_NE(got.err.find("4 files downloaded"), std::string::npos) << got.err;
    for (const auto& [path, content] : files)
        EXPECT_EQ(ReadAll(Local("dl/tree/" + path)), content) << path;
    EXPECT_EQ(LocalFiles(Local("dl/tree")).size(), files.size());

    ASSERT_TRUE(server_->createFolder("incoming/back"));
    const Outcome put = Run({"--binary", "put", "-r", "dl/tree", Url("/back")});
    ASSERT_EQ(put.exitCode, 0) << Transcript(put);
    for (const auto& [path, content] : files) {
        std::string stored;
        EXPECT_TRUE(server_->readFile("incoming/back/tree/" + path, stored)) << path;
        EXPECT_EQ(stored, content) << path;
    }
}

TEST_P(CliQueueTest, SwitchesChooseWhatTheTreeDownloadTakes)
{
    MakeRemoteTree("tree");
    // update-only: only files that exist locally are fetched (and overwritten).
    fs::create_directories(Local("update/tree/sub"));
    std::ofstream(Local("update/tree/sub/c.bin")) << "old";
    struct Case {
        std::vector<std::string> switches;
        std::string folder;
        std::set<std::string> expected;
    } cases[] = {
        {{"--pattern", "*.bin"}, "bins", {"a.bin", "sub/c.bin"}},
        {{"--pattern", "*.dat;*.bin"}, "list", {"a.bin", "with blank.dat", "sub/c.bin", "sub/deeper/d.dat"}},
        // Without sub-folders the pattern decides on folders too: "sub" is no "*.bin".
        {{"--no-subdirs", "--pattern", "*.bin"}, "top", {"a.bin"}},
        {{"--no-subdirs", "--pattern", "*.bin;sub"}, "named", {"a.bin", "sub/c.bin"}},
        {{"--update-only", "--overwrite", "overwrite"}, "update", {"sub/c.bin"}},
    };
    for (const Case& test : cases) {
        std::vector<std::string> args = {"--binary", "get", "-r"};
        args.insert(args.end(), test.switches.begin(), test.switches.end());
        args.insert(args.end(), {Url("/tree"), test.folder});
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.exitCode, 0) << test.folder << "\n" << Transcript(outcome);
        EXPECT_EQ(LocalFiles(Local(test.folder + "/tree")), test.expected) << test.folder;
    }
    EXPECT_EQ(ReadAll(Local("update/tree/sub/c.bin")), RandomBytes(5000, 3));

    const Outcome stray = Run({"get", "--pattern", "*.bin", Url("/tree/a.bin")});
    EXPECT_EQ(stray.exitCode, 2) << Transcript(stray);
}

// The program's time zone for the runs of one scope; the old one afterwards.
class ZoneForRuns {
public:
    explicit ZoneForRuns(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone, 1);
    }
    ~ZoneForRuns()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
    }

private:
    std::optional<std::string> old_;
};

// A tree download gives every file the server's own time to the second (from MLSD on
// pyftpdlib, asked with MDTM on vsftpd, whose listing shows only the day of an old file,
// in UTC), so a second update-only copy fetches nothing and a third one only the file that
// changed, whatever zone the program runs in: a listing read in another zone than the
// server's must neither fetch everything again nor miss a newer file.
TEST_P(CliQueueTest, TreeDownloadKeepsExactTimesSoASecondCopyFetchesNothing)
{
    const auto files = MakeRemoteTree("tree");
    const auto stamp = [&](const std::string& path, std::time_t time) {
        const utimbuf times{time, time};
        return ::utime(server_->localPath("incoming/tree/" + path).c_str(), &times) == 0;
    };
    for (const char* zone : {"UTC0", "EST5", "JST-9"}) {
        SCOPED_TRACE(zone);
        const ZoneForRuns inZone(zone);
        std::map<std::string, std::time_t> times;
        std::time_t time = 1705322096;  // 2024-01-15 12:34:56 UTC, then a minute and a second apart
        for (const auto& [path, content] : files) {
            times[path] = time;
            ASSERT_TRUE(stamp(path, time)) << path;
            time += 61;
        }
        const std::string folder = std::string("dl-") + zone;

        const Outcome got = Run({"--binary", "get", "-r", Url("/tree"), folder});
        ASSERT_EQ(got.exitCode, 0) << Transcript(got);
        EXPECT_NE(got.err.find("4 files downloaded\n"), std::string::npos) << got.err;
        for (const auto& [path, expected] : times) {
            struct stat info {};
            ASSERT_EQ(::stat(Local(folder + "/tree/" + path).c_str(), &info), 0) << path;
            EXPECT_EQ(info.st_mtime, expected) << path;
        }

        const Outcome again = Run({"--binary", "get", "-r", "--update-only", Url("/tree"), folder});
        ASSERT_EQ(again.exitCode, 0) << Transcript(again);
        EXPECT_NE(again.err.find("skipped a.bin: same size and time"), std::string::npos) << again.err;
        EXPECT_NE(again.err.find("0 files downloaded, 4 skipped\n"), std::string::npos) << Transcript(again);

        // Changed two hours later on the server: only that file comes again.
        ASSERT_TRUE(server_->createFile("incoming/tree/sub/c.bin", "changed"));
        ASSERT_TRUE(stamp("sub/c.bin", times["sub/c.bin"] + 7200));
        const Outcome changed = Run({"--binary", "get", "-r", "--update-only", Url("/tree"), folder});
        ASSERT_EQ(changed.exitCode, 0) << Transcript(changed);
        EXPECT_NE(changed.err.find("1 file downloaded, 3 skipped\n"), std::string::npos) << Transcript(changed);
        EXPECT_EQ(ReadAll(Local(folder + "/tree/sub/c.bin")), "changed");
        ASSERT_TRUE(server_->createFile("incoming/tree/sub/c.bin", files.at("sub/c.bin")));
    }
}

TEST_P(CliQueueTest, CacheFillsTheCacheAndRecursiveRemoveDeletesTheTree)
{
    MakeRemoteTree("tree");
    const Outcome cached = Run({"cache", Url("/tree")});
    ASSERT_EQ(cached.exitCode, 0) << Transcript(cached);
    // Every level can now be listed without a connection.
    const Outcome offline = Run({"ls", "--offline", Url("/tree/sub/deeper")});
    EXPECT_EQ(offline.exitCode, 0) << Transcript(offline);
    EXPECT_NE(offline.out.find("d.dat"), std::string::npos) << offline.out;

    const Outcome removed = Run({"rm", "-r", Url("/tree")});
    EXPECT_EQ(removed.exitCode, 0) << Transcript(removed);
    EXPECT_FALSE(server_->exists("incoming/tree"));
    EXPECT_TRUE(server_->exists("incoming"));

    const Outcome root = Run({"rm", "-r", "ftp://" + server_->host() + ":" + std::to_string(server_->port()) + "/"});
    EXPECT_EQ(root.exitCode, 2) << Transcript(root);
}

INSTANTIATE_TEST_SUITE_P(Servers, CliQueueTest, ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib),
                         [](const ::testing::TestParamInfo<ServerKind>& info) {
                             return info.param == ServerKind::Vsftpd ? "vsftpd" : "pyftpdlib";
                         });

// Job files: pyftpdlib serves both sites; the second one is reached as "localhost".
class CliJobTest : public CliQueueTest {};

TEST_P(CliJobTest, EverySiteRunsAtOnceAndWhatFailedStaysSaved)
{
    const auto files = MakeRemoteTree("tree");
    tvtest::PyftpdlibServer second;
    ASSERT_TRUE(second.start()) << second.error();
    ASSERT_TRUE(second.createFolder("incoming"));
    StoreSite("one", *server_, "127.0.0.1");
    StoreSite("two", second, "localhost");
    fs::create_directories(Local("up/inner"));
    std::ofstream(Local("up/inner/u.bin"), std::ios::binary) << RandomBytes(4000, 9);

    const std::string local = Local("got");
    fs::create_directories(local);
    std::ofstream(root_ + "/job.tvq")
        << "[127.0.0.1]\n"
        << "1\t/incoming/tree\t0\t" << local << "\t0\t-1\t*\t0\t1\n"
        << "0\t/incoming/missing.bin\t0\t" << local << "\t0\t10\t*\t0\t1\n"
        << "\n[localhost]\n"
        << "1\t/incoming\t1\t" << Local("up") << "\t0\t0\t*\t0\t1\n\n";

    const Outcome run = Run({"--binary", "run", root_ + "/job.tvq"});
    EXPECT_EQ(run.exitCode, 1) << Transcript(run);
    EXPECT_NE(run.out.find("127.0.0.1: 1 of 2 entries done, 4 files transferred, 1 left (1 stopped, 0 failed)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("localhost: 1 of 1 entries done, 1 files transferred"), std::string::npos) << run.out;
    for (const auto& [path, content] : files)
        EXPECT_EQ(ReadAll(local + "/tree/" + path), content) << path;
    std::string uploaded;
    EXPECT_TRUE(second.readFile("incoming/up/inner/u.bin", uploaded));
    EXPECT_EQ(uploaded, RandomBytes(4000, 9));

    // Only the failed entry is kept, and "queue" shows it in the queue view's columns.
    EXPECT_EQ(Autosave(), "[127.0.0.1]\n0\t/incoming/missing.bin\t0\t" + local + "\t0\t10\t*\t0\t1\n\n");
    const Outcome shown = Run({"queue"});
    EXPECT_EQ(shown.exitCode, 0) << Transcript(shown);
    EXPECT_NE(shown.out.find("ServerPath             Operation  ClientPath"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("/incoming/missing.bin  Download   " + local + "  10    queued  *        false"),
              std::string::npos)
        << shown.out;
}

TEST_P(CliJobTest, CtrlCKeepsWhatIsLeftAndTheNextRunOfTheAutosaveFinishesIt)
{
    const auto files = MakeRemoteTree("tree");
    // A sparse file costs nothing to make and still outlasts the moment its first bytes
    // arrive.
    const std::uint64_t size = 512ull << 20;
    ASSERT_TRUE(server_->createFile("incoming/large.bin", ""));
    fs::resize_file(server_->localPath("incoming/large.bin"), size);
    StoreSite("one", *server_, "127.0.0.1");
    const std::string local = Local("job");
    fs::create_directories(local);
    const std::string job = "[127.0.0.1]\n0\t/incoming/large.bin\t0\t" + local + "\t0\t" + std::to_string(size) +
                            "\t*\t0\t1\n1\t/incoming/tree\t0\t" + local + "\t0\t-1\t*\t0\t1\n\n";
    std::ofstream(root_ + "/job.tvq") << job;

    const Outcome stopped = Run({"--binary", "run", root_ + "/job.tvq"}, [&] {
        std::error_code ec;
        return fs::exists(local + "/large.bin.tvpart", ec) && fs::file_size(local + "/large.bin.tvpart", ec) > 0;
    });
    EXPECT_EQ(stopped.exitCode, 4) << Transcript(stopped);
    // What arrived waits under the partial name, never under the final one.
    EXPECT_LT(fs::file_size(local + "/large.bin.tvpart"), size);
    EXPECT_FALSE(fs::exists(local + "/large.bin"));
    EXPECT_EQ(Autosave(), job);
    EXPECT_NE(stopped.err.find("continues them"), std::string::npos) << stopped.err;

    const Outcome resumed = Run({"--binary", "--overwrite", "resume", "run", root_ + "/data/Tollvane/autosave.tvq"});
    EXPECT_EQ(resumed.exitCode, 0) << Transcript(resumed);
    EXPECT_EQ(fs::file_size(local + "/large.bin"), size);
    EXPECT_FALSE(fs::exists(local + "/large.bin.tvpart"));
    for (const auto& [path, content] : files)
        EXPECT_EQ(ReadAll(local + "/tree/" + path), content) << path;
    EXPECT_EQ(Autosave(), "");
    const Outcome shown = Run({"queue"});
    EXPECT_NE(shown.out.find("No saved queues"), std::string::npos) << shown.out;
}

INSTANTIATE_TEST_SUITE_P(Servers, CliJobTest, ::testing::Values(ServerKind::Pyftpdlib),
                         [](const ::testing::TestParamInfo<ServerKind>&) { return "pyftpdlib"; });

} // namespace
} // namespace clitest
