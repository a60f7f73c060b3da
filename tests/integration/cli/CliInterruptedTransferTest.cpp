// tollvane-cli killed (SIGKILL: no clean-up of any kind) in the middle of transfers from a
// rate-limited server, then run again: no file ever passes for complete before it is, the
// next run finishes every file byte for byte and leaves no partial file behind (downloads,
// uploads, and job runs of a tree either way). Also what the overwrite rules skip is said,
// and links planted in the download folder are refused.
#include "tests/integration/cli/CliFixture.h"

#include <utime.h>

#include <set>
#include <sstream>

namespace clitest {
namespace {

constexpr long kBytesPerSecond = 4l << 20;

std::uint64_t SizeOf(const std::string& path)
{
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// Sets a file's modification time `secondsAgo` into the past.
void Age(const std::string& path, long secondsAgo)
{
    struct utimbuf times {};
    times.actime = times.modtime = ::time(nullptr) - secondsAgo;
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

// Regular files beneath `folder` and their sizes, partial files included.
std::map<std::string, std::uint64_t> FilesBeneath(const std::string& folder)
{
    std::map<std::string, std::uint64_t> files;
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return files;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (ec)
            break;
        if (it->is_regular_file(ec))
            files[fs::relative(it->path(), folder).string()] = SizeOf(it->path().string());
    }
    return files;
}

class CliInterruptedTransferTest : public CliServerTest {
protected:
    tvtest::FtpServerOptions ServerOptions() const override
    {
        tvtest::FtpServerOptions options;
        options.maxBytesPerSecond = kBytesPerSecond;
        return options;
    }

    // The site that job files reach this server by: their sections name only the address.
    void StoreSite()
    {
        const std::string login = server_->hasUser() ? server_->userName() + ":" + server_->password() + "@" : "";
        const Outcome added = Run({"sites", "add", "one", "ftp://" + login + "127.0.0.1:" +
                                                               std::to_string(server_->port()) + "/"});
        ASSERT_EQ(added.exitCode, 0) << Transcript(added);
    }
};

// Points of a transfer to kill at: the share of the file that has arrived (0: as soon as
// the partial file exists, maybe before its first byte).
constexpr double kKillPoints[] = {0.0, 0.3, 0.8};

TEST_P(CliInterruptedTransferTest, KilledGetKeepsTheOldFileAndTheNextGetCompletesTheNewOne)
{
    const std::string content = RandomBytes(6 << 20, 21);  // 1.5 s at the server's rate
    ASSERT_TRUE(server_->createFile("incoming/big.bin", content));
    const std::string target = Local("big.bin");
    const std::string partial = target + ".tvpart";
    for (const double point : kKillPoints) {
        SCOPED_TRACE("killed at " + std::to_string(point));
        // An older copy the download replaces.
        std::ofstream(target, std::ios::binary) << "old version";
        Age(target, 3600);
        fs::remove(partial);

        const Outcome killed = Run({"--binary", "get", Url("/big.bin")}, [&] {
            return fs::exists(partial) && SizeOf(partial) >= point * content.size();
        }, SIGKILL);
        EXPECT_EQ(killed.exitCode, -1) << Transcript(killed);
        EXPECT_EQ(ReadAll(target), "old version") << "an interrupted download replaced the target";
        EXPECT_LT(SizeOf(partial), content.size());

        const Outcome again = Run({"--binary", "-v", "get", Url("/big.bin")});
        ASSERT_EQ(again.exitCode, 0) << Transcript(again);
        EXPECT_TRUE(ReadAll(target) == content) << "the completed file differs";
        EXPECT_FALSE(fs::exists(partial));
        if (point > 0.5) {
            EXPECT_NE(again.err.find("REST "), std::string::npos) << "not resumed\n" << again.err;
        }
        // Nothing left to fetch now: the next get says why it does nothing.
        const Outcome third = Run({"--binary", "get", Url("/big.bin")});
        EXPECT_EQ(third.exitCode, 0) << Transcript(third);
        EXPECT_NE(third.err.find("skipped big.bin: same size and time"), std::string::npos) << third.err;
    }
}

TEST_P(CliInterruptedTransferTest, KilledPutNeverShowsHalfAFileAndTheNextPutCompletesIt)
{
    const std::string content = RandomBytes(6 << 20, 22);
    std::ofstream(Local("up.bin"), std::ios::binary) << content;
    const std::string stored = server_->localPath("incoming/up.bin");
    const std::string temporary = stored + ".tvpart";
    for (const double point : kKillPoints) {
        SCOPED_TRACE("killed at " + std::to_string(point));
        ASSERT_TRUE(server_->createFile("incoming/up.bin", "old version"));
        Age(stored, 3600);
        fs::remove(temporary);

        const Outcome killed = Run({"--binary", "put", Local("up.bin"), Url("/")}, [&] {
            return fs::exists(temporary) && SizeOf(temporary) >= point * content.size();
        }, SIGKILL);
        EXPECT_EQ(killed.exitCode, -1) << Transcript(killed);
        // On a loaded machine the kill can land after the last byte: the file is then
        // whole under its name. Readers never see anything between the two.
        std::string seen;
        EXPECT_TRUE(server_->readFile("incoming/up.bin", seen));
        EXPECT_TRUE(seen == "old version" || seen == content) << "readers of the server saw a half file";
        const bool leftPartial = fs::exists(temporary) && SizeOf(temporary) < content.size();

        const Outcome again = Run({"--binary", "-v", "put", Local("up.bin"), Url("/")});
        ASSERT_EQ(again.exitCode, 0) << Transcript(again);
        EXPECT_TRUE(server_->readFile("incoming/up.bin", seen));
        EXPECT_TRUE(seen == content) << "the uploaded file differs";
        EXPECT_FALSE(fs::exists(temporary));
        if (point > 0.5 && leftPartial) {
            EXPECT_NE(again.err.find("REST "), std::string::npos) << "not resumed\n" << again.err;
        }
    }
}

// A job of a tree, either way: a file counts as done only once it has its final name, and
// an upload's rename may go out with the next file's commands; a kill in between leaves the
// whole file under its temporary name, for the next run to take again.
TEST_P(CliInterruptedTransferTest, KilledRunOfATreeJobIsFinishedByTheRunOfItsAutosave)
{
    const std::map<std::string, std::string> files = {
        {"a.bin", RandomBytes(2 << 20, 31)},
        {"small.txt", "a few bytes"},
        {"sub/b.bin", RandomBytes(2 << 20, 32)},
        {"sub/deeper/c.bin", RandomBytes(2 << 20, 33)},
    };
    std::uint64_t total = 0;
    for (const auto& [path, content] : files)
        total += content.size();
    StoreSite();
    const std::string autosave = root_ + "/data/Tollvane/autosave.tvq";
    for (const bool upload : {false, true}) {
        for (const double point : {0.25, 0.6}) {
            const std::string tree = (upload ? "up" : "down") + std::to_string(static_cast<int>(point * 100));
            SCOPED_TRACE(tree);
            // The copies land in `landing`, under the same relative paths.
            std::string landing;
            std::ostringstream job;
            job << "[127.0.0.1]\n1\t";
            if (upload) {
                for (const auto& [path, content] : files) {
                    fs::create_directories(fs::path(Local(tree + "/" + path)).parent_path());
                    std::ofstream(Local(tree + "/" + path), std::ios::binary) << content;
                }
                landing = server_->localPath("incoming/" + tree);
                job << "/incoming\t1\t" << Local(tree);
            } else {
                for (const auto& [path, content] : files)
                    ASSERT_TRUE(server_->createFile("incoming/" + tree + "/" + path, content));
                fs::create_directories(Local(tree));
                landing = Local(tree) + "/" + tree;
                job << "/incoming/" << tree << "\t0\t" << Local(tree);
            }
            job << "\t0\t-1\t*\t0\t1\n\n";
            std::ofstream(root_ + "/job.tvq") << job.str();

            const Outcome killed = Run({"--binary", "run", root_ + "/job.tvq"}, [&] {
                std::uint64_t arrived = 0;
                for (const auto& [path, size] : FilesBeneath(landing))
                    arrived += size;
                return arrived >= point * total;
            }, SIGKILL);
            EXPECT_EQ(killed.exitCode, -1) << Transcript(killed);
            // Whatever has its final name is whole.
            for (const auto& [path, size] : FilesBeneath(landing)) {
                if (path.ends_with(".tvpart"))
                    continue;
                EXPECT_TRUE(ReadAll(landing + "/" + path) == files.at(path)) << path << " passes for complete";
            }
            ASSERT_NE(ReadAll(autosave).find("\t" + Local(tree) + "\t"), std::string::npos)
                << "the entry was not kept";

            const Outcome continued = Run({"--binary", "run", autosave});
            ASSERT_EQ(continued.exitCode, 0) << Transcript(continued);
            EXPECT_NE(continued.out.find("1 of 1 entries done"), std::string::npos) << continued.out;
            std::set<std::string> names;
            for (const auto& [path, size] : FilesBeneath(landing))
                names.insert(path);
            std::set<std::string> expected;
            for (const auto& [path, content] : files) {
                expected.insert(path);
                EXPECT_TRUE(ReadAll(landing + "/" + path) == content) << path << " differs";
            }
            EXPECT_EQ(names, expected) << "a partial file was left behind";
            EXPECT_EQ(ReadAll(autosave), "");
        }
    }
}

TEST_P(CliInterruptedTransferTest, SkippedFilesAreSaidWithTheirReason)
{
    ASSERT_TRUE(server_->createFile("incoming/s.txt", "server copy"));
    Age(server_->localPath("incoming/s.txt"), 7200);
    // A local copy changed after the server's: a download leaves it alone and says so.
    std::ofstream(Local("s.txt"), std::ios::binary) << "edited here";
    const Outcome got = Run({"--binary", "get", Url("/s.txt")});
    EXPECT_EQ(got.exitCode, 0) << Transcript(got);
    EXPECT_NE(got.err.find("skipped s.txt: target is newer"), std::string::npos) << got.err;
    EXPECT_EQ(ReadAll(Local("s.txt")), "edited here");

    // An older local file is not uploaded over the server's newer one.
    std::ofstream(Local("old.txt"), std::ios::binary) << "older";
    Age(Local("old.txt"), 86400);
    ASSERT_TRUE(server_->createFile("incoming/old.txt", "newer on the server"));
    const Outcome put = Run({"--binary", "put", Local("old.txt"), Url("/")});
    EXPECT_EQ(put.exitCode, 0) << Transcript(put);
    EXPECT_NE(put.err.find("skipped old.txt: target is newer"), std::string::npos) << put.err;
    std::string seen;
    EXPECT_TRUE(server_->readFile("incoming/old.txt", seen));
    EXPECT_EQ(seen, "newer on the server");

    // A tree fetched twice: the second run skips every file and counts them apart.
    ASSERT_TRUE(server_->createFile("incoming/t/one.bin", RandomBytes(1000, 41)));
    ASSERT_TRUE(server_->createFile("incoming/t/two.bin", RandomBytes(2000, 42)));
    const Outcome first = Run({"--binary", "get", "-r", Url("/t"), "dl"});
    ASSERT_EQ(first.exitCode, 0) << Transcript(first);
    const Outcome second = Run({"--binary", "get", "-r", Url("/t"), "dl"});
    EXPECT_EQ(second.exitCode, 0) << Transcript(second);
    EXPECT_NE(second.err.find("skipped one.bin: same size and time"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("0 files downloaded, 2 skipped"), std::string::npos) << second.err;
}

// Links planted in the download folder: nothing is written through them, whatever the
// overwrite choice; the rest of the tree still arrives.
TEST_P(CliInterruptedTransferTest, LinksInTheDownloadFolderAreRefused)
{
    ASSERT_TRUE(server_->createFile("incoming/t/f.bin", RandomBytes(3000, 51)));
    ASSERT_TRUE(server_->createFile("incoming/t/sub/g.bin", RandomBytes(3000, 52)));
    ASSERT_TRUE(server_->createFile("incoming/t/ok.bin", RandomBytes(3000, 53)));
    const std::string outside = root_ + "/outside";
    for (const char* choice : {"auto", "overwrite", "resume"}) {
        SCOPED_TRACE(choice);
        fs::remove_all(outside);
        fs::create_directories(outside);
        std::ofstream(outside + "/secret.txt") << "secret";
        Age(outside + "/secret.txt", 86400 * 400);
        const std::string dl = Local(std::string("dl-") + choice);
        fs::create_directories(dl + "/t");
        fs::create_symlink(outside + "/secret.txt", dl + "/t/f.bin");
        fs::create_symlink(outside, dl + "/t/sub");

        const Outcome tree = Run({"--binary", "--overwrite", choice, "get", "-r", Url("/t"), dl});
        EXPECT_NE(tree.exitCode, 0) << Transcript(tree);
        EXPECT_NE(tree.err.find("is a link"), std::string::npos) << tree.err;
        EXPECT_EQ(ReadAll(outside + "/secret.txt"), "secret");
        EXPECT_FALSE(fs::exists(outside + "/g.bin")) << "the folder link was followed";
        EXPECT_TRUE(fs::is_symlink(dl + "/t/f.bin"));
        EXPECT_EQ(ReadAll(dl + "/t/ok.bin"), RandomBytes(3000, 53));

        // A single file, onto a link under its own name or its partial file's name.
        for (const std::string name : {"f.bin", "f.bin.tvpart"}) {
            const std::string single = Local(std::string("one-") + choice + "-" + name);
            fs::create_directories(single);
            fs::create_symlink(outside + "/secret.txt", single + "/" + name);
            const Outcome one = Run({"--binary", "--overwrite", choice, "get", Url("/t/f.bin"), single});
            EXPECT_NE(one.exitCode, 0) << Transcript(one);
            EXPECT_EQ(ReadAll(outside + "/secret.txt"), "secret") << name;
        }
    }
    // The folder the user names may itself be a link.
    fs::create_directories(Local("real"));
    fs::create_symlink(Local("real"), Local("via-link"));
    const Outcome linked = Run({"--binary", "get", "-r", Url("/t"), Local("via-link")});
    EXPECT_EQ(linked.exitCode, 0) << Transcript(linked);
    EXPECT_EQ(ReadAll(Local("real/t/sub/g.bin")), RandomBytes(3000, 52));
}

INSTANTIATE_TEST_SUITE_P(Servers, CliInterruptedTransferTest,
                         ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib),
                         [](const ::testing::TestParamInfo<ServerKind>& info) {
                             return info.param == ServerKind::Vsftpd ? "vsftpd" : "pyftpdlib";
                         });

} // namespace
} // namespace clitest
