#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "listing/DirectoryCache.h"
#include "listing/OfflineSearch.h"
#include "TempFolder.h"

namespace {

std::string FileLine(const std::string& name) { return "-rw-r--r-- 1 u g 10 Jan 1 2004 " + name + "\r\n"; }
std::string DirLine(const std::string& name) { return "drwxr-xr-x 2 u g 4096 Jan 1 2004 " + name + "\r\n"; }

bool EndsWithTxt(std::string_view name)
{
    return name.size() >= 4 && name.substr(name.size() - 4) == ".txt";
}

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

    std::vector<std::string> Search(const std::vector<std::string>& sites,
                                     COfflineSearchWalk::NameMatcher matcher,
                                     COfflineSearchWalk::Outcome expected = COfflineSearchWalk::Outcome::Completed)
    {
        COfflineSearchWalk walk(home.Path(), std::move(matcher));
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
    std::vector<std::string> urls = Search({"A"}, EndsWithTxt);
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
    const std::vector<std::string> urls =
        Search({"B", "A"}, [](std::string_view name) { return name == "b.txt" || name == "root.txt"; });
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://B/b.txt", "ftp://A/root.txt"}));
}

TEST_F(OfflineSearchTest, NoSitesOrUnknownSiteFindsNothing)
{
    EXPECT_TRUE(Search({}, EndsWithTxt).empty());
    EXPECT_TRUE(Search({"missing", "..", "A/pub"}, EndsWithTxt).empty());
}

TEST_F(OfflineSearchTest, StopFlagEndsTheSearchAtTheNextFolder)
{
    stop = true;
    EXPECT_TRUE(Search({"A", "B"}, EndsWithTxt, COfflineSearchWalk::Outcome::Stopped).empty());
    EXPECT_TRUE(folders.empty());

    stop = false;
    folders.clear();
    COfflineSearchWalk walk(home.Path(), EndsWithTxt);
    COfflineSearchWalk::Callbacks callbacks;
    callbacks.onFolder = [this](const std::string&) { stop = true; }; // "Stop" pressed meanwhile
    EXPECT_EQ(walk.SearchSites({"A", "B"}, callbacks, stop), COfflineSearchWalk::Outcome::Stopped);
    EXPECT_EQ(walk.ResultCount(), 1u); // only the root folder was read
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
