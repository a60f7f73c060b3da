#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "listing/CacheFolderFeed.h"
#include "listing/DirectoryCache.h"
#include "listing/ListFileScanner.h"
#include "listing/OfflineSearch.h"
#include "tests/support/TempFolder.h"

namespace {

std::string FileLine(const std::string& name) { return "-rw-r--r-- 1 u g 10 Jan 1 2004 " + name + "\r\n"; }
std::string DirLine(const std::string& name) { return "drwxr-xr-x 2 u g 4096 Jan 1 2004 " + name + "\r\n"; }


// A small cache: two sites, a folder without a list file whose subfolder has one, an
// escaped folder name and a directory whose name matches.
class OfflineSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CDirectoryCache cache({home.Path(), true, false});
        ASSERT_EQ(cache.UpdateDirectoryCache("A", "/", DirLine("pub") + FileLine("root.txt") + DirLine("a:b") +
                                                           DirLine("unlisted")), 1);
        ASSERT_EQ(cache.UpdateDirectoryCache("A", "/pub", DirLine("docs.txt") + FileLine("readme.txt") +
                                                              FileLine("readme.txt.bak")), 1);
        ASSERT_EQ(cache.UpdateDirectoryCache("A", "/a:b", FileLine("x%y.txt")), 1);
        ASSERT_EQ(cache.UpdateDirectoryCache("A", "/unlisted/deep", FileLine("deep.txt")), 1);
        ASSERT_EQ(cache.DeleteCachedList("A", "/unlisted"), false); // never had one
        ASSERT_EQ(cache.UpdateDirectoryCache("B", "/", FileLine("b.txt") + FileLine("B.TXT")), 1);
    }

    std::vector<std::string> Search(const std::vector<std::string>& sites, const char* text,
                                     bool regularExpression = false,
                                     COfflineSearchWalk::Outcome expected = COfflineSearchWalk::Outcome::Completed)
    {
        CPatternSearch pattern;
        CompileSearchPattern(pattern, text, regularExpression);
        COfflineSearchWalk walk(home.Path(), pattern);
        std::vector<std::string> urls;
        COfflineSearchWalk::Callbacks callbacks;
        callbacks.onFolder = [this](const std::string& folder) { folders.push_back(folder); };
        callbacks.onResult = [&urls](const std::string& url) { urls.push_back(url); };
        EXPECT_EQ(walk.SearchSites(sites, callbacks, stop), expected);
        EXPECT_EQ(walk.ResultCount(), urls.size());
        return urls;
    }

    TempFolder home;
    std::atomic<bool> stop{false};
    std::vector<std::string> folders;
};

TEST_F(OfflineSearchTest, WalksBreadthFirstAndBuildsUrls)
{
    std::vector<std::string> urls = Search({"A"}, "*.txt");
    // The root comes first; the order of siblings is the file system's.
    ASSERT_FALSE(urls.empty());
    EXPECT_EQ(urls.front(), "ftp://A/root.txt");
    std::sort(urls.begin(), urls.end());
    const std::vector<std::string> expected = {"ftp://A/a%58b/x%y.txt", "ftp://A/pub/docs.txt",
                                               "ftp://A/pub/readme.txt", "ftp://A/root.txt",
                                               "ftp://A/unlisted/deep/deep.txt"};
    EXPECT_EQ(urls, expected);
    // Level by level: the deep folder is searched last.
    ASSERT_EQ(folders.size(), 5u);
    EXPECT_EQ(folders.front(), home / "A");
    EXPECT_EQ(folders.back(), home / "A/unlisted/deep");
}

TEST_F(OfflineSearchTest, SitesAreSearchedInListOrder)
{
    const std::vector<std::string> urls = Search({"B", "A"}, "b\\.txt | root\\.txt", true);
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://B/b.txt", "ftp://A/root.txt"}));
}

TEST_F(OfflineSearchTest, NoSitesOrUnknownSiteFindsNothing)
{
    EXPECT_TRUE(Search({}, "*").empty());
    EXPECT_TRUE(Search({"missing", "..", "A/pub"}, "*").empty());
}

TEST_F(OfflineSearchTest, StopFlagEndsTheSearchAtTheNextFolder)
{
    stop = true;
    EXPECT_TRUE(Search({"A", "B"}, "*.txt", false, COfflineSearchWalk::Outcome::Stopped).empty());
    EXPECT_TRUE(folders.empty());

    stop = false;
    folders.clear();
    CPatternSearch pattern;
    ASSERT_FALSE(CompileSearchPattern(pattern, "*.txt", false).Failed());
    COfflineSearchWalk walk(home.Path(), pattern);
    COfflineSearchWalk::Callbacks callbacks;
    callbacks.onFolder = [this](const std::string&) { stop = true; }; // "Stop" pressed meanwhile
    EXPECT_EQ(walk.SearchSites({"A", "B"}, callbacks, stop), COfflineSearchWalk::Outcome::Stopped);
    EXPECT_EQ(walk.ResultCount(), 1u); // only the root folder was read
}

TEST_F(OfflineSearchTest, WholeNameAndCaseDecideAMatch)
{
    struct Case {
        const char* text;
        bool regularExpression;
        std::vector<std::string> urls;
    } cases[] = {
        {"readme.txt", false, {"ftp://A/pub/readme.txt"}},
        {"readme", false, {}},                      // a part of the name is no match
        {"readme.txt*", false, {"ftp://A/pub/readme.txt", "ftp://A/pub/readme.txt.bak"}},
        {"B.TXT", false, {"ftp://B/B.TXT"}},
        {"(b\\.txt)\\i", true, {"ftp://B/b.txt", "ftp://B/B.TXT"}},
        {"x%y.txt", false, {"ftp://A/a%58b/x%y.txt"}},
        {"?.txt", false, {"ftp://B/b.txt"}},
        {"[abc", true, {}},                         // does not compile: finds nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> urls = Search({"A", "B"}, c.text, c.regularExpression);
        EXPECT_EQ(urls, c.urls);
    }
}

TEST(CompileSearchPattern, WildcardsAreLiteralExceptStarAndQuestionMark)
{
    struct Case {
        const char* wildcard;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.txt", "a.txt", true},       {"*.txt", "a.txt.bak", false}, {"*.txt", "A.TXT", false},
        {"*.txt", "atxt", false},       {"my file.txt", "my file.txt", true},
        {"my file.txt", "myfile.txt", false}, {"a+b (1).txt", "a+b (1).txt", true},
        {"$name[1]", "$name[1]", true}, {"back\\slash", "back\\slash", true}, {"a?c", "abc", true},
        {"a?c", "ac", false},           {"caf\xC3\xA9*", "caf\xC3\xA9 au lait", true},
        {"x\\iy", "x\\iy", true},
    };
    for (const Case& c : cases) {
        CPatternSearch pattern;
        ASSERT_FALSE(CompileSearchPattern(pattern, c.wildcard, false).Failed()) << c.wildcard;
        EXPECT_EQ(pattern.Match(c.name), c.matches) << c.wildcard << " / " << c.name;
    }
    CPatternSearch pattern;
    EXPECT_TRUE(CompileSearchPattern(pattern, "[abc", true).Failed());
    EXPECT_FALSE(pattern.Match("a"));
}

TEST(CachedSites, SiteFoldersOfTheCacheHome)
{
    TempFolder home;
    WriteFile(home / "A/files.lis", "");
    WriteFile(home / "B/x/files.lis", "");
    WriteFile(home / "stray.txt", "");
    std::vector<std::string> sites = CachedSites(home.Path());
    std::sort(sites.begin(), sites.end());
    EXPECT_EQ(sites, (std::vector<std::string>{"A", "B"}));
}

TEST(WildcardToPattern, OnlyStarAndQuestionMarkAreSpecial)
{
    struct Case {
        const char* wildcard;
        const char* pattern;
    } cases[] = {
        {"*.txt", ".*\\.txt"},
        {"a?c", "a.c"},
        {"my file.txt", "my\\ file\\.txt"},
        {"a+b(1)[2]|$x", "a\\+b\\(1\\)\\[2\\]\\|\\$x"},
        {"back\\slash", "back\\\\slash"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardToPattern(c.wildcard), c.pattern) << c.wildcard;
}

// Every name found in one folder's list file, searched with "*".
std::vector<std::string> FoundNames(const std::string& home)
{
    CPatternSearch pattern;
    EXPECT_FALSE(CompileSearchPattern(pattern, "*", false).Failed());
    COfflineSearchWalk walk(home, pattern);
    std::vector<std::string> names;
    COfflineSearchWalk::Callbacks callbacks;
    callbacks.onResult = [&names](const std::string& url) { names.push_back(url.substr(std::string("ftp://A/").size())); };
    std::atomic<bool> stop{false};
    EXPECT_EQ(walk.SearchSites({"A"}, callbacks, stop), COfflineSearchWalk::Outcome::Completed);
    return names;
}

TEST(OfflineSearchListFile, SameEntriesAsReadListFile)
{
    std::string large;
    for (int i = 0; large.size() <= CListFileScanner::kLargestBufferedFile; ++i)
        large += FileLine("large" + std::to_string(i));
    std::string exactlyFull; // fills the first read buffer to its last byte
    for (int i = 0; exactlyFull.size() + 100 < 64 * 1024; ++i)
        exactlyFull += FileLine("full" + std::to_string(i));
    const std::string lastLine = FileLine("last");
    exactlyFull += lastLine.substr(0, lastLine.size() - 2) + std::string(64 * 1024 - exactlyFull.size() - lastLine.size() + 2, ' ');
    const std::string longName(70000, 'n');

    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"CR LF, a total line and ..", "total 3\r\n" + FileLine("z") + FileLine("a") + DirLine("..")},
        {"LF and CR CR LF", "-rw-r--r-- 1 u g 1 Jan 1 2004 z\n-rw-r--r-- 1 u g 1 Jan 1 2004 a\r\r\n"},
        {"an empty line ends the listing", FileLine("z") + "\r\n" + FileLine("a")},
        {"the last line without its line end", FileLine("z") + "-rw-r--r-- 1 u g 1 Jan 1 2004 a"},
        {"an over-long line is skipped whole", FileLine(longName) + FileLine("after")},
        {"an over-long last line is skipped", FileLine("before") + "-rw-r--r-- 1 u g 1 Jan 1 2004 " + longName},
        {"a file that fills the read buffer exactly", exactlyFull},
        {"a file larger than the read buffer may grow", large},
        {"an empty file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder home;
        WriteFile(home / "A/files.lis", c.bytes);
        RFILE_LIST expected;
        ASSERT_EQ(ReadListFile(home / "A/files.lis", expected), 0);
        std::vector<std::string> expectedNames;
        for (const RFILE_DATA& entry : expected)
            expectedNames.push_back(entry.strName);
        EXPECT_EQ(FoundNames(home.Path()), expectedNames);
    }
}

TEST(OfflineSearchLinks, NothingIsReachedThroughALink)
{
    TempFolder home;
    TempFolder outside;
    WriteFile(outside / "files.lis", FileLine("secret.txt"));
    WriteFile(outside / "deeper/files.lis", FileLine("secret.txt"));
    WriteFile(home / "A/files.lis", FileLine("kept.txt"));
    WriteFile(home / "A/sub/inner/files.lis", FileLine("inner.txt"));
    namespace fs = std::filesystem;
    fs::create_directory_symlink(outside.Path(), home / "A/linked");        // a folder link
    fs::create_directory(home / "A/sub/lnk");
    fs::create_symlink(outside / "files.lis", home / "A/sub/lnk/files.lis"); // a list file link
    fs::create_directory_symlink(outside.Path(), home / "L");               // a site link

    CPatternSearch pattern;
    ASSERT_FALSE(CompileSearchPattern(pattern, "*", false).Failed());
    COfflineSearchWalk walk(home.Path(), pattern);
    std::vector<std::string> urls;
    std::vector<std::string> folders;
    COfflineSearchWalk::Callbacks callbacks;
    callbacks.onFolder = [&folders](const std::string& folder) { folders.push_back(folder); };
    callbacks.onResult = [&urls](const std::string& url) { urls.push_back(url); };
    std::atomic<bool> stop{false};
    EXPECT_EQ(walk.SearchSites({"A", "L"}, callbacks, stop), COfflineSearchWalk::Outcome::Completed);
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://A/kept.txt", "ftp://A/sub/inner/inner.txt"}));
    // The linked folder is not walked; the site given as a link is named but not read.
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (std::vector<std::string>{home / "A", home / "A/sub", home / "A/sub/inner",
                                                 home / "A/sub/lnk", home / "L"}));
}

TEST(OfflineSearchLinks, APipeInPlaceOfAListFileIsNeverOpened)
{
    TempFolder home;
    WriteFile(home / "A/files.lis", FileLine("a.txt"));
    std::filesystem::create_directory(home / "A/piped");
    const std::string pipe = home / "A/piped/files.lis";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    // Opening a pipe for reading waits for a writer. Should the search ever open it, this
    // writer lets it go on after a while, and records that it found a reader.
    std::mutex mutex;
    std::condition_variable done;
    bool searched = false;
    bool pipeWasOpened = false;
    std::thread writer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait_for(lock, std::chrono::seconds(1), [&] { return searched; });
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); // fails with no reader
        if (fd >= 0) {
            pipeWasOpened = true;
            ::close(fd);
        }
    });
    EXPECT_EQ(FoundNames(home.Path()), std::vector<std::string>{"a.txt"});
    {
        const std::lock_guard<std::mutex> lock(mutex);
        searched = true;
    }
    done.notify_all();
    writer.join();
    EXPECT_FALSE(pipeWasOpened);
}

// A tree wider and deeper than the helper's read-ahead: four subfolders per folder, three levels.
class CacheFolderFeedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::string> level{"S"};
        for (int depth = 0; depth < 3; ++depth) {
            std::vector<std::string> next;
            for (const std::string& folder : level)
                for (char c = 'a'; c < 'e'; ++c)
                    next.push_back(folder + "/" + c);
            for (const std::string& folder : next)
                WriteFile(home / (folder + "/files.lis"), FileLine("x"));
            level = next;
        }
    }

    std::vector<std::string> Walk(CCacheFolderFeed::Mode mode)
    {
        CCacheFolderFeed feed(home.Path(), {"S", "missing", "S"}, mode);
        std::vector<std::string> order;
        CachedFolder folder;
        while (feed.Next(folder)) {
            EXPECT_EQ(folder.handle.IsOpen(), folder.relative != "missing");
            EXPECT_EQ(folder.hasListFile, folder.relative != "S" && folder.relative != "missing");
            order.push_back(folder.relative);
        }
        return order;
    }

    static std::size_t OpenDescriptors()
    {
        return std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                         std::filesystem::directory_iterator()));
    }

    TempFolder home;
};

TEST_F(CacheFolderFeedTest, ReadAheadKeepsTheWalkOrder)
{
    const std::vector<std::string> inCaller = Walk(CCacheFolderFeed::Mode::InCallerThread);
    ASSERT_EQ(inCaller.size(), 2 * 85u + 1);
    EXPECT_EQ(Walk(CCacheFolderFeed::Mode::ReadAhead), inCaller);
    // Level by level: no folder comes after one deeper than itself, within a site.
    for (std::size_t i = 1; i < 85; ++i)
        EXPECT_LE(std::count(inCaller[i - 1].begin(), inCaller[i - 1].end(), '/'),
                  std::count(inCaller[i].begin(), inCaller[i].end(), '/')) << inCaller[i];
    EXPECT_EQ(inCaller[85], "missing");
    EXPECT_EQ(inCaller[86], "S");
}

TEST_F(CacheFolderFeedTest, LeavingEarlyStopsTheHelperAndClosesItsFolders)
{
    const std::size_t before = OpenDescriptors();
    for (int taken = 0; taken < 3; ++taken) {
        CCacheFolderFeed feed(home.Path(), {"S"});
        CachedFolder folder;
        for (int i = 0; i < taken; ++i)
            ASSERT_TRUE(feed.Next(folder));
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(CacheFolderWalker, AFolderLargerThanOneReadIsListedWhole)
{
    TempFolder home;
    std::vector<std::string> expected;
    // Long names fill a read of the folder sooner: these take several.
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(i) + std::string(200, 'n');
        std::filesystem::create_directories(home / ("S/" + name));
        expected.push_back("S/" + name);
    }
    CCacheFolderWalker walker(home.Path(), {"S"});
    CachedFolder folder;
    ASSERT_TRUE(walker.Next(folder));
    EXPECT_EQ(folder.relative, "S");
    std::vector<std::string> walked;
    while (walker.Next(folder))
        walked.push_back(folder.relative);
    std::sort(walked.begin(), walked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(walked, expected);
}

} // namespace
