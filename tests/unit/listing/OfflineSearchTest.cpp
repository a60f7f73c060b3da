#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "listing/DirectoryCache.h"
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

} // namespace
