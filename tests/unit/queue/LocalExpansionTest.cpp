// Expanding directory entries into pending items: patterns, the local tree walk with its
// depth limit and link loops, the filter over remote listings, and delete planning.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "ftp/FtpTypes.h"
#include "session/LocalExpansion.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Paths(const std::list<CQueueFile>& pending)
{
    std::vector<std::string> paths;
    for (const CQueueFile& file : pending)
        paths.push_back(file.relativePath + (file.directory ? "/" : ""));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The queue run's walk for an upload of directory `name` beneath `base`: expand every
// directory item in list order; items that fail stay. Returns the failed items.
std::vector<std::string> WalkUpload(const std::string& base, const std::string& name,
                                    std::list<CQueueFile>& pending,
                                    std::vector<std::string>& messages)
{
    std::vector<std::string> failed;
    EXPECT_EQ(ExpandLocalDirectory(pending, base, name, "*", 1, &messages), FTP_OK);
    for (const CQueueFile& item : pending)  // items appended meanwhile are reached too
        if (item.directory &&
            ExpandLocalDirectory(pending, base, item.relativePath, "*", 1, &messages) != FTP_OK)
            failed.push_back(item.relativePath);
    return failed;
}

RFILE_DATA Listed(const std::string& name, bool directory, std::uint64_t size = 0)
{
    RFILE_DATA entry;
    entry.strName = name;
    entry.bDirectory = directory;
    entry.SetFileSize(size);
    return entry;
}

} // namespace

TEST(MatchPatternList, WildcardsAndLists)
{
    struct Case {
        const char* name;
        const char* pattern;
        bool match;
    };
    const Case cases[] = {
        {"a.txt", "*.txt;*.htm", true},   {"b.htm", "*.txt;*.htm", true},
        {"A.TXT", "*.txt;*.htm", false},  {"a.txt.bak", "*.txt", false},
        {"abc", "a?c", true},             {"ac", "a?c", false},
        {"", "*", true},                  {"x", "", true},
        {"readme", "*;nothing", true},    {"a", ";a", true},
        {"", ";a", true},                 {"b", "a;", false},
        {"aXbXc", "a*b*c", true},         {"abcabd", "*abd", true},
        {"mississippi", "m*iss*pi", true}, {"mississippi", "m*iss*pix", false},
        {"file.tar.gz", "*.*.*", true},   {"[x]", "[x]", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchPatternList(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;

    // Many stars against a long name that does not match end quickly.
    EXPECT_FALSE(MatchPatternList(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

class LocalExpansionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(folder / "top/a.txt", "12345");
        WriteFile(folder / "top/b.htm", "1");
        WriteFile(folder / "top/c.bin", "");
        WriteFile(folder / "top/docs.txt/inner.bin", "x");
        WriteFile(folder / "top/sub/d.txt", "xy");
    }
    TempFolder folder;
    std::list<CQueueFile> pending;
    std::vector<std::string> messages;
};

TEST_F(LocalExpansionTest, PatternAndSubdirectoryRules)
{
    struct Case {
        const char* pattern;
        int include;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*", 1, {"top/a.txt", "top/b.htm", "top/c.bin", "top/docs.txt/", "top/sub/"}},
        {"*.txt;*.htm", 1, {"top/a.txt", "top/b.htm", "top/docs.txt/", "top/sub/"}},
        {"*.txt", 0, {"top/a.txt", "top/docs.txt/"}},
        {"nothing", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        pending.clear();
        EXPECT_EQ(ExpandLocalDirectory(pending, folder.Path(), "top", c.pattern, c.include), FTP_OK);
        EXPECT_EQ(Paths(pending), c.expected);
    }
}

TEST_F(LocalExpansionTest, ItemsCarrySizesAndAppendAfterExistingOnes)
{
    pending.push_back({"earlier", 0, 0, 1, 0, 0});
    ASSERT_EQ(ExpandLocalDirectory(pending, folder / "top", "", "a.txt;sub", 0), FTP_OK);
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending.front().relativePath, "earlier");
    for (const CQueueFile& item : pending) {
        if (item.relativePath == "a.txt") {
            EXPECT_EQ(item.Size(), 5u);
            EXPECT_EQ(item.directory, 0);
        } else if (item.relativePath == "sub") {
            EXPECT_EQ(item.directory, 1);
            EXPECT_EQ(item.Size(), 0u);
        }
        EXPECT_EQ(item.reserved, 0);
        EXPECT_EQ(item.expanded, 0);
    }
}

TEST_F(LocalExpansionTest, InaccessibleDirectoryIsReportedAndCountsAsDone)
{
    EXPECT_EQ(ExpandLocalDirectory(pending, folder.Path(), "missing", "*", 1, &messages), FTP_OK);
    EXPECT_TRUE(pending.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], folder / "missing" + " not accessible! Check privilege!");
}

TEST_F(LocalExpansionTest, WholeTreeWalkFindsEveryLevel)
{
    EXPECT_TRUE(WalkUpload(folder.Path(), "top", pending, messages).empty());
    EXPECT_EQ(Paths(pending),
              (std::vector<std::string>{"top/a.txt", "top/b.htm", "top/c.bin", "top/docs.txt/",
                                        "top/docs.txt/inner.bin", "top/sub/", "top/sub/d.txt"}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(LocalExpansionTest, DepthLimitStopsTheWalkWithAnErrorForThatItem)
{
    std::string deep = "deep";
    for (int level = 1; level < kMaxExpansionDepth + 5; ++level)
        deep += "/d";
    fs::create_directories(folder / deep);

    const std::vector<std::string> failed = WalkUpload(folder.Path(), "deep", pending, messages);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(PathDepth(failed[0]), kMaxExpansionDepth);
    int deepest = 0;
    for (const CQueueFile& item : pending)
        deepest = std::max(deepest, PathDepth(item.relativePath));
    EXPECT_EQ(deepest, kMaxExpansionDepth);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("directory levels"), std::string::npos);
}

TEST_F(LocalExpansionTest, LinksBackIntoTheTreeAreNeverFollowed)
{
    fs::create_directory_symlink("..", folder / "top/sub/up");             // to the parent
    fs::create_directory_symlink(folder / "top", folder / "top/sub/abs");  // absolute, same loop
    fs::create_directory_symlink("sub", folder / "top/side");              // sibling: not a loop
    fs::create_symlink("nowhere", folder / "top/dangling");
    WriteFile(folder / "outside/o.txt", "o");
    fs::create_directory_symlink(folder / "outside", folder / "top/ext");  // out and not back

    EXPECT_TRUE(WalkUpload(folder.Path(), "top", pending, messages).empty());
    const std::vector<std::string> paths = Paths(pending);
    for (const char* expected : {"top/side/", "top/side/d.txt", "top/ext/o.txt", "top/sub/d.txt"})
        EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << expected;
    for (const std::string& path : paths) {
        EXPECT_EQ(path.find("/up"), std::string::npos) << path;
        EXPECT_EQ(path.find("/abs"), std::string::npos) << path;
        EXPECT_EQ(path.find("dangling"), std::string::npos) << path;
    }
    // top/sub/{up,abs}, top/side/{up,abs} and the dangling link.
    EXPECT_EQ(messages.size(), 5u);
}

TEST_F(LocalExpansionTest, DirectoryThatIsItsOwnAncestorIsRefused)
{
    fs::create_directory_symlink("..", folder / "top/sub/up");
    EXPECT_EQ(ExpandLocalDirectory(pending, folder.Path(), "top/sub/up", "*", 1, &messages),
              FTP_NOT_AVAILABLE);
    EXPECT_TRUE(pending.empty());
}

TEST_F(LocalExpansionTest, SpecialFilesAreLeftOut)
{
    ASSERT_EQ(::mkfifo((folder / "top/pipe").c_str(), 0600), 0);
    EXPECT_EQ(ExpandLocalDirectory(pending, folder.Path(), "top", "*", 1, &messages), FTP_OK);
    for (const CQueueFile& item : pending)
        EXPECT_NE(item.relativePath, "top/pipe");
    EXPECT_EQ(messages.size(), 1u);
}

TEST(AppendListedEntries, HostileAndSpecialNamesNeverBecomeItems)
{
    RFILE_LIST listing{Listed(".", true),        Listed("..", true),
                       Listed("a/../../x", false), Listed(std::string("n\0ul", 4), false),
                       Listed("", false),         Listed("ok.txt", false, 5'000'000'000ULL),
                       Listed("dir", true)};
    std::list<CQueueFile> pending;
    std::vector<std::string> messages;
    EXPECT_EQ(AppendListedEntries(pending, "pub", listing, "*", 1, &messages), 2);
    EXPECT_EQ(Paths(pending), (std::vector<std::string>{"pub/dir/", "pub/ok.txt"}));
    EXPECT_EQ(pending.back().relativePath, "pub/dir");
    EXPECT_EQ(pending.front().Size(), 5'000'000'000ULL);
    EXPECT_EQ(messages.size(), 3u);
}

TEST(DeleteExpansion, PatternDeleteTakesOnlyMatchingItemsOfTheParent)
{
    CQueueEntry entry;
    entry.operation = QUEUE_DELETE;
    entry.kind = KIND_PATTERN;
    entry.remotePath = "/pub/*.tmp";
    const CDeleteExpansion plan = PlanDeleteExpansion(entry);
    EXPECT_EQ(plan.remoteBase, "/pub");
    EXPECT_EQ(plan.relativeDirectory, "");
    EXPECT_EQ(plan.pattern, "*.tmp");
    EXPECT_FALSE(plan.directoryIsItem);

    RFILE_LIST parent{Listed("a.tmp", false), Listed("keep.txt", false),
                      Listed("cache.tmp", true), Listed("precious", true)};
    std::list<CQueueFile> pending;
    AppendListedEntries(pending, plan.relativeDirectory, parent, plan.pattern,
                        plan.includeSubdirectories);
    EXPECT_EQ(Paths(pending), (std::vector<std::string>{"a.tmp", "cache.tmp/"}));

    entry.kind = KIND_DIRECTORY;
    entry.remotePath = "/pub/old";
    const CDeleteExpansion tree = PlanDeleteExpansion(entry);
    EXPECT_EQ(tree.remoteBase, "/pub");
    EXPECT_EQ(tree.relativeDirectory, "old");
    EXPECT_EQ(tree.pattern, "*");
    EXPECT_EQ(tree.includeSubdirectories, 1);
    EXPECT_TRUE(tree.directoryIsItem);
}
