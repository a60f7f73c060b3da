#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "listing/DirectoryCache.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class MessageRecorder : public ICacheMessageSink {
public:
    void ShowCacheMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

std::string FileLine(const std::string& name) { return "-rw-r--r-- 1 u g 10 Jan 1 2004 " + name + "\r\n"; }
std::string DirLine(const std::string& name) { return "drwxr-xr-x 2 u g 4096 Jan 1 2004 " + name + "\r\n"; }

std::vector<std::string> NamesOf(const RFILE_LIST& list)
{
    std::vector<std::string> names;
    for (const RFILE_DATA& entry : list)
        names.push_back(entry.strName);
    return names;
}

class DirectoryCacheTest : public ::testing::Test {
protected:
    CDirectoryCache Cache(bool enable = true, bool alwaysRefresh = false)
    {
        return CDirectoryCache({home.Path(), enable, alwaysRefresh}, &recorder);
    }
    bool Exists(const std::string& relative) const { return fs::exists(home / relative); }

    TempFolder home;
    MessageRecorder recorder;
};

TEST(CacheKey, EscapesPercentThenColon)
{
    struct Case {
        const char* address;
        const char* directory;
        const char* key;
    } cases[] = {
        {"A", "/", "A/"},
        {"A", "/pub/linux/", "A/pub/linux/"},
        {"A", "/a:b%c", "A/a%58b%37c"},
        {"A", "/%58", "A/%3758"},
        {"ftp.example.com", "/x", "ftp.example.com/x"},
        {"A", "/back\\slash", "A/back\\slash"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CacheKey(c.address, c.directory), c.key) << c.directory;
}

// Two servers on one host and two accounts on one server never share a folder; the folder
// of an anonymous login on port 21 is the host alone, as caches have always been kept.
TEST(CacheSiteName, NamesServerAndAccount)
{
    const struct {
        const char* host;
        int port;
        const char* user;
        const char* name;
    } cases[] = {
        {"ftp.example.org", 21, "anonymous", "ftp.example.org"},
        {"ftp.example.org", 21, "", "ftp.example.org"},
        {"ftp.example.org", 21, "ftp", "ftp.example.org"},
        {"ftp.example.org", 2121, "anonymous", "ftp.example.org:2121"},
        {"ftp.example.org", 21, "bob", "bob@ftp.example.org"},
        {"ftp.example.org", 2121, "bob", "bob@ftp.example.org:2121"},
        {"::1", 2121, "", "[::1]:2121"},
        {"h", 21, "a/b@c:d%e", "a%47b%64c%58d%37e@h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CacheSiteName(c.host, c.port, c.user), c.name) << c.name;
}

TEST(GetCacheListPath, JoinsHomeAndKey)
{
    struct Case {
        const char* home;
        const char* address;
        const char* directory;
        const char* path; // "" when the directory is never cached
    } cases[] = {
        {"/d/cache", "A", "/", "/d/cache/A/files.lis"},
        {"/d/cache/", "A", "/", "/d/cache/A/files.lis"},
        {"/d/cache", "A", "/pub/linux/", "/d/cache/A/pub/linux/files.lis"},
        {"/d/cache", "A", "/a:b%c", "/d/cache/A/a%58b%37c/files.lis"},
        {"", "A", "/pub", "A/pub/files.lis"},
        {"/d/cache", "A", "/pub/../../../etc", ""},
        {"/d/cache", "A", "/..", ""},
        {"/d/cache", "A", "/pub/./x", ""},
        {"/d/cache", "..", "/", ""},
        {"/d/cache", "a/b", "/", ""},
        {"/d/cache", "", "/pub", ""},
        {"/d/cache", "A", "/pub/...", "/d/cache/A/pub/.../files.lis"},
    };
    for (const Case& c : cases) {
        const CDirectoryCache cache({c.home, true, false});
        EXPECT_EQ(cache.GetCacheListPath(c.address, c.directory), c.path)
            << c.home << " " << c.address << " " << c.directory;
    }
    const CDirectoryCache cache({"/d/cache", true, false});
    EXPECT_EQ(cache.GetCacheListPath("A", std::string("/a\0b", 4)), "");
}

TEST_F(DirectoryCacheTest, UpdateWritesTheListingAsReceived)
{
    CDirectoryCache cache = Cache();
    const std::string text = "total 2\r\n" + DirLine(".") + FileLine("a.txt") + DirLine("sub");
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub/deep/", text), 1);
    EXPECT_EQ(ReadFile(home / "A/pub/deep/files.lis"), text);
    // Rewriting with a shorter listing leaves nothing of the old one, nor a temporary file.
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub/deep", FileLine("b")), 1);
    EXPECT_EQ(ReadFile(home / "A/pub/deep/files.lis"), FileLine("b"));
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(home / "A/pub/deep"))
        names.push_back(item.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"files.lis"});
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(DirectoryCacheTest, DisabledCacheWritesNothingButIsStillRead)
{
    ASSERT_EQ(Cache().UpdateDirectoryCache("A", "/pub", FileLine("a.txt")), 1);
    CDirectoryCache disabled = Cache(false);
    EXPECT_EQ(disabled.UpdateDirectoryCache("A", "/other", FileLine("x")), -2);
    EXPECT_FALSE(Exists("A/other"));
    RFILE_LIST list;
    EXPECT_EQ(disabled.LoadCachedList("A", "/pub", list), 0);
    EXPECT_EQ(NamesOf(list), std::vector<std::string>{"a.txt"});
}

TEST_F(DirectoryCacheTest, UnwritableListFileIsReported)
{
    WriteFile(home / "A", "a file where the site folder should be");
    CDirectoryCache cache = Cache();
    EXPECT_EQ(cache.UpdateDirectoryCache("A", "/pub", FileLine("x")), -1);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0], "Can't open file " + (home / "A/pub/files.lis"));
}

TEST_F(DirectoryCacheTest, HostileDirectoryIsNeverWrittenOutsideTheCache)
{
    CDirectoryCache cache = Cache();
    EXPECT_EQ(cache.UpdateDirectoryCache("A", "/../../escaped", FileLine("x")), -1);
    EXPECT_FALSE(fs::exists(fs::path(home.Path()).parent_path() / "escaped"));
    EXPECT_FALSE(Exists("escaped"));
    EXPECT_EQ(recorder.messages.size(), 1u);
}

TEST_F(DirectoryCacheTest, RelistingPrunesFoldersOfVanishedDirectories)
{
    CDirectoryCache cache = Cache();
    const std::string root = DirLine("old") + DirLine("Kept") + DirLine("held") + DirLine("a:b") +
                             DirLine("file-now");
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/", root), 1);
    for (const char* dir : {"/old", "/old/deeper", "/kept", "/held", "/a:b", "/file-now"})
        ASSERT_EQ(cache.UpdateDirectoryCache("A", dir, FileLine("x")), 1) << dir;
    WriteFile(home / "A/held/notes.txt", "not ours");
    WriteFile(home / "A/old/.files.lis.abc123", "left by a crash");

    // The new listing drops old and held; Kept is now spelt in upper case; a:b stays (its
    // folder is a%58b); file-now became a file, which still counts.
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/", DirLine("KEPT") + DirLine("a:b") + FileLine("file-now")), 1);
    EXPECT_FALSE(Exists("A/old"));
    EXPECT_TRUE(Exists("A/kept/files.lis"));
    EXPECT_TRUE(Exists("A/a%58b/files.lis"));
    EXPECT_TRUE(Exists("A/file-now/files.lis"));
    EXPECT_TRUE(Exists("A/held/notes.txt"));
    EXPECT_FALSE(Exists("A/held/files.lis"));
}

TEST_F(DirectoryCacheTest, PruningNeverFollowsLinks)
{
    TempFolder outside;
    WriteFile(outside / "files.lis", FileLine("precious"));
    CDirectoryCache cache = Cache();
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/", DirLine("gone")), 1);
    fs::create_directory_symlink(outside.Path(), home / "A/gone");
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/", FileLine("other")), 1);
    EXPECT_TRUE(fs::exists(outside / "files.lis"));
    EXPECT_FALSE(DeleteCacheFolder(home / "A")); // the link is another file: A survives
    EXPECT_TRUE(fs::exists(outside / "files.lis"));
}

TEST_F(DirectoryCacheTest, DeleteCachedListMakesTheNextVisitLive)
{
    CDirectoryCache cache = Cache();
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub", FileLine("a")), 1);
    EXPECT_TRUE(cache.DeleteCachedList("A", "/pub"));
    EXPECT_FALSE(cache.DeleteCachedList("A", "/pub"));
    RFILE_LIST list;
    EXPECT_EQ(cache.LoadCachedList("A", "/pub", list), -1);
    EXPECT_TRUE(list.empty());
}

TEST_F(DirectoryCacheTest, LookupCachedEntryMatchesTheExactName)
{
    CDirectoryCache cache = Cache();
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub", FileLine("b.bin") + FileLine("a.txt")), 1);
    struct Case {
        const char* path;
        int result;
    } cases[] = {
        {"/pub/a.txt", 0}, {"/pub/A.TXT", -1}, {"/pub/missing", -1}, {"/other/a.txt", -1}, {"/pub/../pub/a.txt", -1},
    };
    for (const Case& c : cases) {
        RFILE_DATA entry;
        EXPECT_EQ(cache.LookupCachedEntry("A", c.path, entry), c.result) << c.path;
        if (c.result == 0) {
            EXPECT_EQ(entry.strName, "a.txt");
            EXPECT_EQ(entry.FileSize(), 10u);
        }
    }
}

TEST_F(DirectoryCacheTest, ReadListFileKeepsFileOrderAndStopsAtAnEmptyLine)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> names;
    } cases[] = {
        {"CR LF in file order", "total 3\r\n" + FileLine("z") + FileLine("a") + DirLine(".."), {"z", "a"}},
        {"CR CR LF", "-rw-r--r-- 1 u g 1 Jan 1 2004 z\r\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 a\r\r\n", {"z", "a"}},
        {"empty line in the middle", FileLine("z") + "\r\n" + FileLine("a"), {"z"}},
        {"a 255-byte name reads as one entry", FileLine(std::string(255, 'n')) + FileLine("after"),
         {std::string(255, 'n'), "after"}},
        {"a line of more than 64 KiB is skipped", FileLine(std::string(70000, 'n')) + FileLine("after"), {"after"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(home / "files.lis", c.bytes);
        RFILE_LIST list;
        ASSERT_EQ(ReadListFile(home / "files.lis", list), 0);
        EXPECT_EQ(NamesOf(list), c.names);
    }
    RFILE_LIST list;
    EXPECT_EQ(ReadListFile("", list), -1);
    EXPECT_EQ(ReadListFile(home / "missing.lis", list), -1);
}

TEST_F(DirectoryCacheTest, CachedListingReadsBackAsTheLiveOne)
{
    CDirectoryCache cache = Cache();
    const std::string text = "total 5\r\n" + DirLine("dir") + FileLine("my file.txt") +
                             "lrwxrwxrwx 1 u g 7 Jan 1 2004 link -> target\r\n";
    ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub", text), 1);
    RFILE_LIST cached;
    ASSERT_EQ(cache.LoadCachedList("A", "/pub", cached), 0);
    EXPECT_EQ(NamesOf(cached), (std::vector<std::string>{"dir", "my file.txt", "link"}));
    EXPECT_TRUE(cached.front().bDirectory);
    EXPECT_TRUE(cached.back().bDirectory);
}

TEST(CacheSettings, AlwaysRefreshDecidesWhetherReadersUseTheCache)
{
    EXPECT_FALSE(CDirectoryCache({"/h", true, true}).UseCachedListings());
    EXPECT_TRUE(CDirectoryCache({"/h", true, false}).UseCachedListings());
    EXPECT_TRUE(CDirectoryCache({"/h", false, false}).UseCachedListings());
}

} // namespace
