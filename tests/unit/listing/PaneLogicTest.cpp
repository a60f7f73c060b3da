#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "listing/EntryOrder.h"
#include "listing/PaneNavigation.h"
#include "listing/PathRules.h"

namespace {

TEST(FormatFileSize, GroupsOfThreeAndTheFourGigabyteMark)
{
    struct Case {
        std::uint32_t high, low;
        const char* text;
    } cases[] = {
        {0, 0, "0"}, {0, 999, "999"}, {0, 1000, "1,000"}, {0, 123456, "123,456"},
        {0, 1234567, "1,234,567"}, {0, 4294967295u, "4,294,967,295"}, {1, 0, ">4GB"}, {7, 12, ">4GB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFileSize(c.high, c.low), c.text) << c.high << ":" << c.low;
}

TEST(NameExtension, TextAfterTheLastDot)
{
    struct Case {
        const char* name;
        const char* extension;
    } cases[] = {
        {"a.txt", "txt"}, {"a.tar.gz", "gz"}, {"a", ""}, {"a.", ""}, {".bashrc", "bashrc"}, {"dir.d/file", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameExtension(c.name), c.extension) << c.name;
    EXPECT_EQ(EntryTypeText("a.txt", true), "<DIR>");
    EXPECT_EQ(EntryTypeText("a.txt", false), "txt");
}

RFILE_DATA Remote(const char* name, bool directory, std::uint64_t size = 0, std::int64_t modified = 0,
                  const char* attribute = "", const char* description = "")
{
    RFILE_DATA entry;
    entry.strName = name;
    entry.bDirectory = directory;
    entry.SetFileSize(size);
    entry.tmModified = modified;
    entry.strAttribute = attribute;
    entry.strDescription = description;
    return entry;
}

std::vector<std::string> SortedNames(std::vector<RFILE_DATA> entries, int column, int direction)
{
    std::stable_sort(entries.begin(), entries.end(), [&](const RFILE_DATA& a, const RFILE_DATA& b) {
        return CompareRemoteEntries(a, b, column, direction) < 0;
    });
    std::vector<std::string> names;
    for (const RFILE_DATA& entry : entries)
        names.push_back(entry.strName);
    return names;
}

TEST(CompareRemoteEntries, EveryColumnBothWays)
{
    const std::vector<RFILE_DATA> entries = {
        Remote("b.TXT", false, 5368709120ull, 300, "-rw-r--r--", "big"),
        Remote("Zdir", true, 0, 100, "drwxr-xr-x", "Alpha"),
        Remote("a.bin", false, 3221225472ull, 200, "-rw-------", "alpha"),
        Remote("adir", true, 0, 400, "Drwxr-xr-x", ""),
        Remote("c", false, 100, 50, "-rwxr-xr-x", "zeta"),
    };
    struct Case {
        const char* what;
        int column, direction;
        std::vector<std::string> names;
    } cases[] = {
        {"name, directories first", COLUMN_NAME, 1, {"adir", "Zdir", "a.bin", "b.TXT", "c"}},
        {"name descending, directories last", COLUMN_NAME, -1, {"c", "b.TXT", "a.bin", "Zdir", "adir"}},
        {"size over 4 GiB by both halves", COLUMN_SIZE, 1, {"Zdir", "adir", "c", "a.bin", "b.TXT"}},
        {"size descending", COLUMN_SIZE, -1, {"b.TXT", "a.bin", "c", "Zdir", "adir"}},
        {"type without case, <DIR> among them", COLUMN_TYPE, 1, {"c", "Zdir", "adir", "a.bin", "b.TXT"}},
        {"modified", COLUMN_MODIFIED, 1, {"c", "Zdir", "a.bin", "b.TXT", "adir"}},
        {"modified descending", COLUMN_MODIFIED, -1, {"adir", "b.TXT", "a.bin", "Zdir", "c"}},
        {"attribute with case", COLUMN_ATTRIBUTE, 1, {"a.bin", "b.TXT", "c", "adir", "Zdir"}},
        {"description with case", COLUMN_DESCRIPTION, 1, {"adir", "Zdir", "a.bin", "b.TXT", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SortedNames(entries, c.column, c.direction), c.names);
    }
}

TEST(CompareLocalEntries, SharedColumnsAndNoOthers)
{
    FILE_DATA dir{"sub", 10, 0, 0, true};
    FILE_DATA big{"big.iso", 5, 1, 0, false};
    FILE_DATA small{"A.txt", 20, 0, 4000000000u, false};
    EXPECT_LT(CompareLocalEntries(dir, small, COLUMN_NAME, 1), 0);
    EXPECT_GT(CompareLocalEntries(dir, small, COLUMN_NAME, -1), 0);
    EXPECT_LT(CompareLocalEntries(small, big, COLUMN_NAME, 1), 0);
    EXPECT_GT(CompareLocalEntries(big, small, COLUMN_SIZE, 1), 0);
    EXPECT_LT(CompareLocalEntries(big, small, COLUMN_MODIFIED, 1), 0);
    EXPECT_LT(CompareLocalEntries(big, small, COLUMN_TYPE, 1), 0);
    EXPECT_EQ(CompareLocalEntries(big, small, COLUMN_ATTRIBUTE, 1), 0);
}

TEST(CSortDirections, ColumnClickRule)
{
    CSortDirections<kRemoteColumnCount> directions;
    EXPECT_EQ(directions.SortColumn(), COLUMN_NAME);
    EXPECT_EQ(directions.Direction(COLUMN_NAME), 1);
    directions.ColumnClick(COLUMN_NAME);
    EXPECT_EQ(directions.Direction(COLUMN_NAME), -1);
    directions.ColumnClick(COLUMN_SIZE);
    EXPECT_EQ(directions.Direction(COLUMN_SIZE), 1);
    EXPECT_EQ(directions.Direction(COLUMN_NAME), 0);
    EXPECT_EQ(directions.SortColumn(), COLUMN_SIZE);
    directions.ColumnClick(COLUMN_NAME);
    EXPECT_EQ(directions.Direction(COLUMN_NAME), 1); // a fresh column starts ascending
    directions.ColumnClick(99);
    EXPECT_EQ(directions.SortColumn(), COLUMN_NAME);
}

TEST(PathRules, JoinTrimParentAndName)
{
    struct Case {
        const char* path;
        const char* trimmed;
        const char* parent;
        const char* name;
    } cases[] = {
        {"/", "/", "", "/"},
        {"/x", "/x", "/", "x"},
        {"/pub/linux", "/pub/linux", "/pub", "linux"},
        {"/pub/linux/", "/pub/linux", "/pub", "linux"},
        {"D:/x", "D:/x", "D:/", "x"},
        {"D:/", "D:/", "", "D:"},
        {"name", "name", "", "name"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(TrimTrailingSeparator(c.path), c.trimmed);
        EXPECT_EQ(ParentPath(c.path), c.parent);
        EXPECT_EQ(FileNamePart(c.path), c.name);
    }
    EXPECT_EQ(JoinPath("/pub", "a.txt"), "/pub/a.txt");
    EXPECT_EQ(JoinPath("/pub/", "a.txt"), "/pub/a.txt");
    EXPECT_EQ(JoinPath("/", "a.txt"), "/a.txt");
    EXPECT_EQ(JoinPath("", "a.txt"), "a.txt");
}

using Action = RemoteNavigation::Action;

// A cache that holds listings of the given directories.
CachedListProbe CacheHolding(std::vector<std::string> cached)
{
    return [cached](const std::string& directory) {
        return std::find(cached.begin(), cached.end(), directory) != cached.end()
                   ? "/cache/A" + directory + "/files.lis"
                   : std::string();
    };
}

TEST(DecideChangeDir, CacheListingOrDirectoryChange)
{
    struct Case {
        const char* what;
        RemotePaneState state;
        const char* target;
        std::vector<std::string> cached;
        Action action;
        const char* path;
        const char* argument;
    } cases[] = {
        {"same path without regard to case", {"/Pub", "/Pub", false}, "/pub", {"/pub"}, Action::Nothing, "", ""},
        {"cached and AlwaysRefresh off", {"/", "/", false}, "/pub", {"/pub"}, Action::LoadFromCache, "/pub", ""},
        {"cached but AlwaysRefresh on", {"/", "/", true}, "/pub", {"/pub"}, Action::ChangeDirectory, "", "pub"},
        {"session already there", {"/", "/pub", true}, "/pub", {}, Action::ListDirectory, "/pub", ""},
        {"session in the parent sends the last component", {"/", "/pub", false}, "/pub/linux", {},
         Action::ChangeDirectory, "", "linux"},
        {"session elsewhere sends the full path", {"/x", "/x", false}, "/pub/linux", {}, Action::ChangeDirectory,
         "", "/pub/linux"},
        {"session there but AlwaysRefresh off", {"/", "/pub", false}, "/pub", {}, Action::ChangeDirectory, "",
         "/pub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RemoteNavigation decision = DecideChangeDir(c.state, c.target, CacheHolding(c.cached));
        EXPECT_EQ(decision.action, c.action);
        EXPECT_EQ(decision.path, c.path);
        EXPECT_EQ(decision.argument, c.argument);
        if (c.action == Action::LoadFromCache) {
            EXPECT_EQ(decision.listFile, "/cache/A" + std::string(c.path) + "/files.lis");
        }
    }
}

TEST(DecideGoToParent, RootCacheOrParentCommand)
{
    struct Case {
        const char* what;
        RemotePaneState state;
        std::vector<std::string> cached;
        Action action;
        const char* path;
        const char* argument;
    } cases[] = {
        {"at the root", {"/", "/", false}, {"/"}, Action::RefuseAtRoot, "", ""},
        {"parent cached", {"/pub/linux", "/pub/linux", false}, {"/pub"}, Action::LoadFromCache, "/pub", ""},
        {"session in the pane's directory", {"/pub/linux", "/pub/linux", false}, {}, Action::ChangeToParent, "", ""},
        {"session elsewhere", {"/pub/linux", "/x", false}, {}, Action::ChangeDirectory, "", "/pub"},
        {"session in the grandparent", {"/pub/linux", "/", false}, {}, Action::ChangeDirectory, "", "pub"},
        {"parent cached but AlwaysRefresh on", {"/pub/linux", "/pub/linux", true}, {"/pub"},
         Action::ChangeToParent, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RemoteNavigation decision = DecideGoToParent(c.state, CacheHolding(c.cached));
        EXPECT_EQ(decision.action, c.action);
        EXPECT_EQ(decision.path, c.path);
        EXPECT_EQ(decision.argument, c.argument);
    }
}

TEST(SplitLocalDirectoryAndPattern, FolderOrFolderWithWildcard)
{
    struct Case {
        const char* text;
        const char* directory;
        const char* pattern;
    } cases[] = {
        {"/home/me/", "/home/me/", "*"},
        {"/home/me", "/home/me/", "*"},
        {"/home/me/*.txt", "/home/me/", "*.txt"},
        {"/home/me/a?c", "/home/me/", "a?c"},
        {"/*.txt", "/", "*.txt"},
        {"/home/m*e/x", "/home/m*e/x/", "*"},
    };
    for (const Case& c : cases) {
        const LocalDirectoryAndPattern split = SplitLocalDirectoryAndPattern(c.text);
        EXPECT_EQ(split.directory, c.directory) << c.text;
        EXPECT_EQ(split.pattern, c.pattern) << c.text;
    }
}

} // namespace
