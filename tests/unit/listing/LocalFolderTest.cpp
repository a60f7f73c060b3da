// The local pane's folder reader against a small folder made by the test: sizes past
// 4 GiB, times, kinds, links that must not be followed, names that are not UTF-8, the
// wildcard filter and the errors it reports as values.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>

#include "listing/LocalFolder.h"
#include "tests/support/TempFolder.h"

namespace {

class LocalFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder.Write("small.txt", "hello");
        folder.Write("notes.md", "");
        ASSERT_EQ(::mkdir(folder.File("sub").c_str(), 0755), 0);
        folder.Write("sub/inside.txt", "x");
        // A sparse file just past 4 GiB: its size needs the high half.
        const int fd = ::open(folder.File("big.iso").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kBig), 0);
        ::close(fd);
        ASSERT_EQ(::symlink("sub", folder.File("link-to-sub").c_str()), 0);
        ASSERT_EQ(::symlink("missing", folder.File("dangling.txt").c_str()), 0);
        folder.Write(kLatin1Name, "bytes");
        // A known time with a fraction of a second.
        const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 123'456'789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.File("small.txt").c_str(), times, 0), 0);
    }

    std::map<std::string, FILE_DATA> ByName(const LocalFolderListing& listing)
    {
        std::map<std::string, FILE_DATA> entries;
        for (const FILE_DATA& entry : listing.entries)
            entries[entry.strName] = entry;
        EXPECT_EQ(entries.size(), listing.entries.size()) << "a name was listed twice";
        return entries;
    }

    static constexpr std::int64_t kBig = (std::int64_t{1} << 32) + 7;
    const std::string kLatin1Name = std::string("caf\xe9.txt"); // Latin-1, not UTF-8
    TempFolder folder;
};

TEST_F(LocalFolderTest, EveryEntryWithItsSizeTimeAndKind)
{
    const LocalFolderListing listing = ReadLocalFolder(folder.Path());
    ASSERT_TRUE(listing.Ok()) << listing.errorText;
    EXPECT_TRUE(listing.errorText.empty());
    auto entries = ByName(listing);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_FALSE(entries.count(".") || entries.count(".."));

    EXPECT_EQ(entries["big.iso"].FileSize(), static_cast<std::uint64_t>(kBig));
    EXPECT_EQ(entries["big.iso"].nFileSizeHigh, 1u);
    EXPECT_EQ(entries["small.txt"].FileSize(), 5u);
    // 100 ns units since 1601: the seconds since 1970 plus the 369 years between.
    EXPECT_EQ(entries["small.txt"].ftModified, (1'600'000'000LL + 11'644'473'600LL) * 10'000'000 + 1'234'567);
    EXPECT_TRUE(entries["sub"].bDirectory);
    EXPECT_FALSE(entries["sub"].bLink);
    EXPECT_EQ(entries["sub"].FileSize(), 0u);
    EXPECT_EQ(entries[kLatin1Name].FileSize(), 5u) << "a name that is not UTF-8 is kept byte for byte";

    // Links are shown as links: never as the folder they point to, dangling or not.
    for (const char* link : {"link-to-sub", "dangling.txt"}) {
        SCOPED_TRACE(link);
        EXPECT_TRUE(entries[link].bLink);
        EXPECT_FALSE(entries[link].bDirectory);
    }
    EXPECT_FALSE(entries["small.txt"].bLink);
}

TEST_F(LocalFolderTest, FilterTakesMatchingFilesAndLinksAndKeepsEveryFolder)
{
    struct Case {
        const char* filter;
        std::vector<std::string> names; // sorted
    } cases[] = {
        {"", {"big.iso", "caf\xe9.txt", "dangling.txt", "link-to-sub", "notes.md", "small.txt", "sub"}},
        {"*", {"big.iso", "caf\xe9.txt", "dangling.txt", "link-to-sub", "notes.md", "small.txt", "sub"}},
        {"*.txt", {"caf\xe9.txt", "dangling.txt", "small.txt", "sub"}},
        {"*.TXT", {"sub"}},  // case-sensitive, as the file system is
        {"*.md;*.iso", {"big.iso", "notes.md", "sub"}},
        {";;*.md;", {"notes.md", "sub"}},
        {"?????.txt", {"small.txt", "sub"}},
        {"caf?.txt", {"caf\xe9.txt", "sub"}},  // "?" is one byte
        {"a+b (1)[x].txt", {"sub"}},  // punctuation stands for itself
        {"nothing", {"sub"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        const LocalFolderListing listing = ReadLocalFolder(folder.Path(), c.filter);
        ASSERT_TRUE(listing.Ok()) << listing.errorText;
        std::vector<std::string> names;
        for (const FILE_DATA& entry : listing.entries)
            names.push_back(entry.strName);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
    }
    folder.Write("a+b (1)[x].txt", "");
    EXPECT_EQ(ReadLocalFolder(folder.Path(), "a+b (1)[x].txt").entries.size(), 2u);
}

TEST_F(LocalFolderTest, FolderThatCannotBeReadIsAnErrorValueNamingIt)
{
    struct Case {
        std::string path;
        int error;
    } cases[] = {
        {folder.File("no-such-folder"), ENOENT},
        {folder.File("small.txt"), ENOTDIR},
        {folder.File("link-to-sub"), 0},  // a folder the user names through a link is read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const LocalFolderListing listing = ReadLocalFolder(c.path);
        EXPECT_EQ(listing.error, c.error);
        if (c.error != 0) {
            EXPECT_TRUE(listing.entries.empty());
            EXPECT_NE(listing.errorText.find(c.path), std::string::npos) << listing.errorText;
        }
    }
}

TEST_F(LocalFolderTest, FolderWithoutSearchPermissionListsNamesAndKinds)
{
    // A folder that may be read but not searched: names and kinds come from the folder
    // listing, the status of each entry cannot be had. Root passes every permission, so
    // the reading runs in a child process as an ordinary user then.
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.File("sub").c_str(), 0444), 0);
    auto check = [&]() -> int {
        const LocalFolderListing listing = ReadLocalFolder(folder.File("sub"));
        if (!listing.Ok())
            return 1;
        if (listing.entries.size() != 1 || listing.entries[0].strName != "inside.txt")
            return 2;
        return listing.unreadable == 1 && !listing.entries[0].bDirectory ? 0 : 3;
    };
    int result = 0;
    if (::geteuid() != 0) {
        result = check();
    } else {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const uid_t nobody = 65534;
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                ::_exit(4);
            ::_exit(check());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        result = WEXITSTATUS(status);
    }
    ::chmod(folder.File("sub").c_str(), 0755);
    EXPECT_EQ(result, 0) << "1: not read, 2: wrong entries, 3: not counted as unreadable, 4: no ordinary user";
}

TEST_F(LocalFolderTest, FilterThatCannotBeCompiledIsAnError)
{
    const LocalFolderListing listing = ReadLocalFolder(folder.Path(), std::string(200'000, 'a'));
    EXPECT_FALSE(listing.Ok());
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_FALSE(listing.errorText.empty());
}

} // namespace
