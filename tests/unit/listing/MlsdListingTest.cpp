#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "listing/DirectoryCache.h"
#include "listing/ListingParser.h"
#include "listing/MlsdListing.h"

namespace {

// 2024-01-15 12:34:56 UTC
constexpr std::int64_t kJan15 = 1705322096;

struct MlsdCase {
    const char* what;
    std::string line;
    MlsdLineResult result;
    const char* name = "";
    MlsdEntry::Type type = MlsdEntry::Type::File;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    const char* permissions = "";
};

const std::vector<MlsdCase>& Cases()
{
    using R = MlsdLineResult;
    using T = MlsdEntry::Type;
    static const std::vector<MlsdCase> cases = {
        {"plain file", "type=file;size=1234;modify=20240115123456; report.pdf", R::Entry, "report.pdf", T::File, 1234,
         kJan15},
        {"facts in any case and order", "Modify=20240115123456;SIZE=7;Type=File; a", R::Entry, "a", T::File, 7, kJan15},
        {"fraction of a second ignored", "type=file;size=1;modify=20240115123456.789; a", R::Entry, "a", T::File, 1,
         kJan15},
        {"directory without size", "type=dir;modify=20240115123456; sub", R::Entry, "sub", T::Directory, 0, kJan15},
        {"name with blanks and semicolons", "type=file;size=3; my file; v2 ;x", R::Entry, "my file; v2 ;x", T::File, 3},
        {"name with leading blank", "type=file;size=3;  lead", R::Entry, " lead", T::File, 3},
        {"name with equals sign", "type=file;size=3; a=b;c", R::Entry, "a=b;c", T::File, 3},
        {"size beyond 4 GiB", "type=file;size=5000000000; big", R::Entry, "big", T::File, 5000000000ull},
        {"unknown facts ignored", "type=file;perm=adfr;unique=801U1;size=2; u", R::Entry, "u", T::File, 2},
        {"unix mode", "type=file;size=1;unix.mode=0644; m", R::Entry, "m", T::File, 1, 0, "-rw-r--r--"},
        {"unix mode of a folder", "type=dir;unix.mode=755; d", R::Entry, "d", T::Directory, 0, 0, "drwxr-xr-x"},
        {"link", "type=OS.unix=slink:/target;size=9; ln", R::Entry, "ln", T::Link, 9},
        {"utf-8 name as bytes", "type=file;size=1; caf\xc3\xa9", R::Entry, "caf\xc3\xa9", T::File, 1},
        {"latin-1 name as bytes", "type=file;size=1; caf\xe9", R::Entry, "caf\xe9", T::File, 1},
        {"no facts at all", " name", R::Rejected},
        {"current folder", "type=cdir;modify=20240115123456; .", R::NotEntry},
        {"parent folder", "type=pdir; ..", R::NotEntry},
        {"missing type", "size=1;modify=20240115123456; a", R::Rejected},
        {"unknown type", "type=socket;size=1; a", R::Rejected},
        {"file without size", "type=file;modify=20240115123456; a", R::Rejected},
        {"negative size", "type=file;size=-1; a", R::Rejected},
        {"size with letters", "type=file;size=12k; a", R::Rejected},
        {"size of twenty digits", "type=file;size=18446744073709551616; a", R::Rejected},
        {"empty size", "type=file;size=; a", R::Rejected},
        {"absurd time", "type=file;size=1;modify=99999999999999; a", R::Rejected},
        {"short time", "type=file;size=1;modify=202401151234; a", R::Rejected},
        {"31 February", "type=file;size=1;modify=20240231000000; a", R::Rejected},
        {"before 1970", "type=file;size=1;modify=19691231235959; a", R::Rejected},
        {"repeated size", "type=file;size=1;size=2; a", R::Rejected},
        {"repeated type", "type=dir;type=file;size=1; a", R::Rejected},
        {"fact without value sign", "type=file;size=1;junk; a", R::Rejected},
        {"facts not closed", "type=file;size=1 a", R::Rejected},
        {"no name", "type=file;size=1;", R::Rejected},
        {"empty name", "type=file;size=1; ", R::Rejected},
        {"name with slash", "type=file;size=1; ../../etc/passwd", R::Rejected},
        {"dot dot", "type=dir; ..", R::Rejected},
        {"name with NUL", std::string("type=file;size=1; a\0b", 22), R::Rejected},
        {"name with CR", "type=file;size=1; a\rb", R::Rejected},
        {"unreadable mode leaves permissions unknown", "type=file;size=1;unix.mode=9999; a", R::Entry, "a", T::File, 1},
        {"octal mode with 0o", "type=file;size=1;unix.mode=0o751; m", R::Entry, "m", T::File, 1, 0, "-rwxr-x--x"},
        {"facts too long", "type=file;size=1;x=" + std::string(2000, 'y') + "; a", R::Rejected},
        {"too many facts", "type=file;size=1;" + [] {
             std::string facts;
             for (int i = 0; i < 40; ++i)
                 facts += "x" + std::to_string(i) + "=1;";
             return facts;
         }() + " a",
         R::Rejected},
        {"line too long", "type=file;size=1; " + std::string(70000, 'n'), R::Rejected},
    };
    return cases;
}

TEST(MlsdLineTest, EveryCaseOfTheTable)
{
    for (const MlsdCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        MlsdEntry entry;
        std::string problem;
        const MlsdLineResult result = ParseMlsdLine(c.line, entry, problem);
        ASSERT_EQ(int(result), int(c.result));
        if (result == MlsdLineResult::Rejected) {
            EXPECT_FALSE(problem.empty());
        }
        if (result != MlsdLineResult::Entry)
            continue;
        EXPECT_EQ(entry.name, c.name);
        EXPECT_EQ(int(entry.type), int(c.type));
        EXPECT_EQ(entry.size, c.size);
        if (c.modified != 0) {
            EXPECT_TRUE(entry.modifiedKnown);
            EXPECT_EQ(entry.modified, c.modified);
        }
        EXPECT_EQ(entry.permissions, c.permissions);
    }
}

// Time zones in which the exact line is written and read again.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            hadOld_ = true;
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope()
    {
        if (hadOld_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(MlsdLineTest, ExactLinesReadBackWithTheirExactFactsInAnyZone)
{
    for (const char* zone : {"UTC0", "EST5EDT", "NZST-12NZDT"}) {
        SCOPED_TRACE(zone);
        ZoneScope scope(zone);
        const std::string text = MlsdTextToListing(
            "type=cdir; /pub\r\n"
            "type=file;size=5000000000;modify=20240115123456;unix.mode=0640; big file; v2\r\n"
            "type=dir;modify=20231231235959; folder\r\n"
            "type=file;size=-1; hostile\r\n",
            nullptr);
        RFILE_LIST list;
        ParseListing(text, list);  // front insertion: reverse order
        ASSERT_EQ(list.size(), 2u) << text;
        const RFILE_DATA& folder = list.front();
        const RFILE_DATA& file = list.back();
        EXPECT_EQ(file.strName, "big file; v2");
        EXPECT_EQ(file.FileSize(), 5000000000ull);
        EXPECT_EQ(file.tmModified, kJan15);
        EXPECT_TRUE(file.bExactTime);
        EXPECT_EQ(file.strAttribute, "-rw-r-----");
        EXPECT_FALSE(file.bDirectory);
        EXPECT_EQ(folder.strName, "folder");
        EXPECT_TRUE(folder.bDirectory);
        EXPECT_EQ(folder.tmModified, 1704067199);
        EXPECT_TRUE(folder.bExactTime);
        EXPECT_EQ(folder.strAttribute, "d?????????");
    }
}

// Only the owner "mlsd" with a calendar time as its group makes a time exact: a real
// owner of that name, a group of digits that is no time, or a DOS line keep the listing's
// minute.
TEST(MlsdLineTest, OnlyExactLinesCarryExactTimes)
{
    const struct {
        const char* line;
        bool exact;
    } cases[] = {
        {"-rw-r--r-- 1 mlsd 20240115123456 5 Jan 15 2024 a", true},
        {"-rw-r--r-- 1 mlsd staff 5 Jan 15 2024 a", false},
        {"-rw-r--r-- 1 mlsd 20241315123456 5 Jan 15 2024 a", false},
        {"-rw-r--r-- 1 ftp 20240115123456 5 Jan 15 2024 a", false},
        {"-rw-r--r-- 1 mlsd 5 Jan 15 2024 a", false},
        {"01-15-24  12:34PM                    5 a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        RFILE_DATA entry;
        entry.bExactTime = !c.exact;  // a reused record takes the new line's word
        ASSERT_EQ(ParseListLine(entry, c.line), 1);
        EXPECT_EQ(entry.bExactTime, c.exact);
        if (c.exact) {
            EXPECT_EQ(entry.tmModified, kJan15);
        }
    }
}

TEST(MlsdLineTest, RejectedLinesAreReportedWithTheirReason)
{
    std::vector<std::string> reasons;
    const std::string text = MlsdTextToListing(
        "type=file;size=-1; a\ntype=file;size=1;size=1; b\ntype=file;size=1;modify=99999999999999; c\n",
        [&](const std::string& reason) { reasons.push_back(reason); });
    EXPECT_TRUE(text.empty());
    ASSERT_EQ(reasons.size(), 3u);
    EXPECT_NE(reasons[0].find("size"), std::string::npos);
    EXPECT_NE(reasons[1].find("repeated"), std::string::npos);
    EXPECT_NE(reasons[2].find("time"), std::string::npos);
}

// A reader that knows nothing of the exact form reads the line as a long listing: the name,
// the size, the type and the day of the local calendar. Checked with the parts of the line
// such a reader uses, against the line's own date columns.
TEST(MlsdLineTest, AnOlderReaderSeesTheEntryWithItsDay)
{
    ZoneScope scope("EST5EDT");
    MlsdEntry entry;
    std::string problem;
    ASSERT_EQ(ParseMlsdLine("type=file;size=42;modify=20240115033000; early", entry, problem),
              MlsdLineResult::Entry);
    const std::string line = ExactListingLine(entry);
    // 03:30 UTC is still the 14th in New York.
    EXPECT_EQ(line, "-????????? 1 mlsd 20240115033000 42 Jan 14 2024 early");
}

TEST(MlsdLineTest, OldAndNewListFilesReadFromOneCache)
{
    char pattern[] = "/tmp/tv-mlsd-cacheXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string home = pattern;
    CDirectoryCache cache(CacheSettings{home, true, false});
    const std::string oldList = "-rw-r--r-- 1 ftp ftp 10 Jan 15 2024 old.txt\n";
    const std::string newList =
        MlsdTextToListing("type=file;size=11;modify=20240115123456; new;file.txt\n"
                          "type=dir;modify=20240115123456; sub dir\n",
                          nullptr);
    ASSERT_EQ(cache.UpdateDirectoryCache("host", "/old", oldList), 1);
    ASSERT_EQ(cache.UpdateDirectoryCache("host", "/new", newList), 1);
    ASSERT_EQ(cache.UpdateDirectoryCache("host", "/new/sub dir", newList), 1);

    RFILE_LIST listed;
    ASSERT_EQ(cache.LoadCachedList("host", "/old", listed), 0);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.front().strName, "old.txt");
    EXPECT_FALSE(listed.front().bExactTime);

    RFILE_DATA entry;
    ASSERT_EQ(cache.LookupCachedEntry("host", "/new/new;file.txt", entry), 0);
    EXPECT_EQ(entry.FileSize(), 11u);
    EXPECT_EQ(entry.tmModified, kJan15);
    EXPECT_TRUE(entry.bExactTime);
    // The folder the exact listing names survives the pruning of vanished folders.
    ASSERT_EQ(cache.UpdateDirectoryCache("host", "/new", newList), 1);
    RFILE_LIST below;
    EXPECT_EQ(cache.LoadCachedList("host", "/new/sub dir", below), 0);
    std::filesystem::remove_all(home);
}

} // namespace
