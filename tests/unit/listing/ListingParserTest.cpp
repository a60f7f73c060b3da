#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "listing/ListingParser.h"

namespace {

std::int64_t Local(int year, int month, int day, int hour = 0, int minute = 0)
{
    std::tm calendar{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = day;
    calendar.tm_hour = hour;
    calendar.tm_min = minute;
    calendar.tm_isdst = -1;
    return std::mktime(&calendar);
}

// The clock the Unix cases are parsed against: 15 June 2026, noon.
const std::int64_t kNow = Local(2026, 6, 15, 12, 0);

struct LineCase {
    const char* what;
    std::string line;
    bool accepted;
    const char* name = "";
    bool directory = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    const char* attribute = "";
};

const std::vector<LineCase>& LineCases()
{
    static const std::vector<LineCase> cases = {
        // Unix layout
        {"unix directory, time this year", "drwxr-xr-x   2 user  group   4096 Jan 15 10:30 My Documents",
         true, "My Documents", true, 4096, Local(2026, 1, 15, 10, 30), "drwxr-xr-x"},
        {"unix file with year", "-rw-r--r--   1 user  group  123456 Mar  3  2005 a.txt",
         true, "a.txt", false, 123456, Local(2005, 3, 3), "-rw-r--r--"},
        {"unix without group column", "-rw-r--r--   1 user  123456 Mar  3  2005 a.txt",
         true, "a.txt", false, 123456, Local(2005, 3, 3), "-rw-r--r--"},
        {"symlink counts as directory, target cut", "lrwxrwxrwx   1 root  root  7 Jan  1  2004 bin -> usr/bin",
         true, "bin", true, 7, Local(2004, 1, 1), "lrwxrwxrwx"},
        {"symlink to an absolute target", "lrwxrwxrwx 1 root root 4 Jan 1 2004 etc -> /etc",
         true, "etc", true, 4, Local(2004, 1, 1), "lrwxrwxrwx"},
        {"other special type counts as directory", "crw-rw-rw- 1 root root 5 Jan 1 2004 tty",
         true, "tty", true, 5, Local(2004, 1, 1), "crw-rw-rw-"},
        {"inner blanks of a name kept", "-rw-r--r-- 1 u g 1 Jan 1 2004 two  blanks here",
         true, "two  blanks here", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        {"tabs and no-break spaces separate", "-rw-r--r--\t1 u\xA0g 1 Jan 1 2004 x",
         true, "x", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        {"year before 1970 becomes 1970", "-rw-r--r-- 1 u g 1 Jun 2 1965 old",
         true, "old", false, 1, Local(1970, 6, 2), "-rw-r--r--"},
        {"2 GiB is not clamped", "-rw-r--r-- 1 u g 2147483648 Jan 1 2020 two.iso",
         true, "two.iso", false, 2147483648ull, Local(2020, 1, 1), "-rw-r--r--"},
        {"5 GiB keeps its high half", "-rw-r--r-- 1 u g 5368709120 Jan 1 2020 big.iso",
         true, "big.iso", false, 5368709120ull, Local(2020, 1, 1), "-rw-r--r--"},
        {"size read up to its first non-digit", "-rw-r--r-- 1 u g 12abc Jan 1 2020 x",
         true, "x", false, 12, Local(2020, 1, 1), "-rw-r--r--"},
        // The name is everything after the one blank that follows the year or time field.
        {"line without a name column is no entry", "-rw-r--r-- 1 u g 1 Jan 1 2004", false},
        {"a leading blank belongs to the name", "-rw-r--r-- 1 u g 1 Jan  1  2004  lead.txt",
         true, " lead.txt", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        {"a trailing blank belongs to the name", "-rw-r--r-- 1 u g 1 Jan 1 10:30 trail ",
         true, "trail ", false, 1, Local(2026, 1, 1, 10, 30), "-rw-r--r--"},
        {"a name of blanks only", "drwxr-xr-x 2 u g 1 Jan 1 2004    ",
         true, "   ", true, 1, Local(2004, 1, 1), "drwxr-xr-x"},
        {"blanks at both ends, line end removed", "-rw-r--r-- 1 u g 1 Jan 1 2004  both  \r\n",
         true, " both  ", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        {"an arrow in a file's name is part of it", "-rw-r--r-- 1 u g 1 Jan 1 2004 a -> b",
         true, "a -> b", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        {"a link's target is cut off", "lrwxrwxrwx 1 u g 1 Jan 1 2004  bin -> usr/bin",
         true, " bin", true, 1, Local(2004, 1, 1), "lrwxrwxrwx"},
        {"permission text of 11 characters", "-rw-r--r--+ 1 u g 1 Jan 1 2004 acl", false},
        {"permission text of 9 characters", "-rw-r--r- 1 u g 1 Jan 1 2004 x", false},
        {"total line", "total 48", false},
        {"unknown month", "-rw-r--r-- 1 u g 1 Foo 1 2004 x", false},
        {"month names are case-sensitive", "-rw-r--r-- 1 u g 1 jan 1 2004 x", false},
        {"day 0", "-rw-r--r-- 1 u g 1 Jan 0 2004 x", false},
        {"day 32", "-rw-r--r-- 1 u g 1 Jan 32 2004 x", false},
        {"hour 24", "-rw-r--r-- 1 u g 1 Jan 1 24:00 x", false},
        {"minute 60", "-rw-r--r-- 1 u g 1 Jan 1 10:60 x", false},
        {"name with a slash", "-rw-r--r-- 1 u g 1 Jan 1 2004 ../../etc/passwd", false},
        {"name with a NUL byte", std::string("-rw-r--r-- 1 u g 1 Jan 1 2004 a\0b", 33), false},
        {"dot entry", "drwxr-xr-x 2 u g 1 Jan 1 2004 .", false},
        {"dot-dot entry", "drwxr-xr-x 2 u g 1 Jan 1 2004 ..", false},
        {"dot-dot behind a link arrow", "lrwxrwxrwx 1 u g 1 Jan 1 2004 .. -> /", false},
        {"dotted name that is a real name", "-rw-r--r-- 1 u g 1 Jan 1 2004 ...",
         true, "...", false, 1, Local(2004, 1, 1), "-rw-r--r--"},
        // DOS / IIS layout
        {"dos directory, afternoon", "01-15-08  02:30PM       <DIR>          Program Files",
         true, "Program Files", true, 0, Local(2008, 1, 15, 14, 30)},
        {"dos 12 AM is midnight", "12-31-99  12:05AM  1024 old.bin",
         true, "old.bin", false, 1024, Local(1999, 12, 31, 0, 5)},
        {"dos 12 PM stays 12", "06-01-05  12:45PM  10 x", true, "x", false, 10, Local(2005, 6, 1, 12, 45)},
        {"dos 24-hour time without suffix", "06-01-05  14:45  10 x", true, "x", false, 10, Local(2005, 6, 1, 14, 45)},
        {"dos year 68 is 2068", "06-01-68  01:00AM  1 x", true, "x", false, 1, Local(2068, 6, 1, 1, 0)},
        {"dos year 69 is 1969", "06-01-69  01:00AM  1 x", true, "x", false, 1, Local(1969, 6, 1, 1, 0)},
        {"dos four-digit year", "06-01-2008  01:00AM  1 x", true, "x", false, 1, Local(2008, 6, 1, 1, 0)},
        {"dos 5 GiB", "06-01-05  01:00AM  5368709120 big.iso", true, "big.iso", false, 5368709120ull,
         Local(2005, 6, 1, 1, 0)},
        {"dos <DIR> is case-sensitive", "06-01-05  01:00AM  <dir> x", true, "x", false, 0, Local(2005, 6, 1, 1, 0)},
        {"dos negative size reads 0", "06-01-05  01:00AM  -5 x", true, "x", false, 0, Local(2005, 6, 1, 1, 0)},
        {"dos date with slashes", "01/15/08  02:30PM  <DIR>  x", false},
        {"dos month 0", "00-15-08  02:30PM  1 x", false},
        {"dos month 13", "13-15-08  02:30PM  1 x", false},
        {"dos day 0", "01-00-08  02:30PM  1 x", false},
        {"dos day 32", "01-32-08  02:30PM  1 x", false},
        {"dos three-digit year", "01-15-108  02:30PM  1 x", false},
        {"dos hour 25", "01-15-08  25:30  1 x", false},
        {"dos minute 75", "01-15-08  02:75PM  1 x", false},
        {"dos name with a backslash path is kept", "01-15-08  02:30PM  1 a\\b", true, "a\\b", false, 1,
         Local(2008, 1, 15, 14, 30)},
        {"dos name with a slash", "01-15-08  02:30PM  1 a/b", false},
        {"dos name after the size keeps its blanks", "01-15-08  02:30PM  1  lead ", true, " lead ", false, 1,
         Local(2008, 1, 15, 14, 30)},
        {"dos padded <DIR> keeps a leading blank of the name",
         "01-15-08  02:30PM       <DIR>           deep", true, " deep", true, 0, Local(2008, 1, 15, 14, 30)},
        {"dos padded <DIR> with a name of blanks", "01-15-08  02:30PM       <DIR>            ", true, "  ", true,
         0, Local(2008, 1, 15, 14, 30)},
        {"dos <DIR> written without padding", "01-15-08  02:30PM <DIR> x", true, "x", true, 0,
         Local(2008, 1, 15, 14, 30)},
        {"dos dot-dot", "01-15-08  02:30PM  <DIR>  ..", false},
    };
    return cases;
}

TEST(ParseListLine, AcceptsAndRejectsRealLines)
{
    for (const LineCase& c : LineCases()) {
        SCOPED_TRACE(c.what);
        RFILE_DATA entry;
        entry.strAttribute = "stale"; // a DOS line must clear it
        const int result = ParseListLine(entry, c.line, kNow);
        ASSERT_EQ(result, c.accepted ? 1 : 0);
        if (!c.accepted)
            continue;
        EXPECT_EQ(entry.strName, c.name);
        EXPECT_EQ(entry.bDirectory, c.directory);
        EXPECT_EQ(entry.FileSize(), c.size);
        EXPECT_EQ(entry.tmModified, c.modified);
        EXPECT_EQ(entry.strAttribute, c.attribute);
        EXPECT_TRUE(entry.strDescription.empty());
    }
}

TEST(ParseListLine, DateMoreThanADayAheadBelongsToTheYearBefore)
{
    struct Case {
        const char* when;
        int expectedYear;
        int month, day, hour, minute;
    } cases[] = {
        {"Jun 16 11:00", 2026, 6, 16, 11, 0}, // 23 hours ahead: still this year
        {"Jun 16 13:00", 2025, 6, 16, 13, 0}, // 25 hours ahead
        {"Dec 25 10:30", 2025, 12, 25, 10, 30},
        {"Jan 15 10:30", 2026, 1, 15, 10, 30},
        {"Dec 25  2027", 2026, 12, 25, 0, 0}, // a listed year too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        RFILE_DATA entry;
        ASSERT_EQ(ParseListLine(entry, std::string("-rw-r--r-- 1 u g 1 ") + c.when + " f", kNow), 1);
        EXPECT_EQ(entry.tmModified, Local(c.expectedYear, c.month, c.day, c.hour, c.minute));
    }
}

TEST(GetField, SplitsAtSeparatorRuns)
{
    struct Case {
        std::string line;
        int n;
        char separator;
        std::string field;
        int pos;
    } cases[] = {
        {"  a  bb\tccc", 0, 0, "a", 2},
        {"  a  bb\tccc", 1, 0, "bb", 5},
        {"  a  bb\tccc", 2, 0, "ccc", 8},
        {"  a  bb\tccc", 3, 0, "", -1},
        {"a\xA0" "b", 1, 0, "b", 2},
        {"a\r\n\v\fb", 1, 0, "b", 5},
        {"01--15-08", 1, '-', "15", 0},
        {"01-15-08", 2, '-', "08", 0},
        {"", 0, 0, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(GetField(c.line, c.n, c.separator), c.field);
        if (c.separator == 0) {
            EXPECT_EQ(GetFieldPos(c.line, c.n), c.pos);
        }
    }
}

TEST(MonthFromName, ExactThreeLetterNames)
{
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(MonthFromName(months[i]), i + 1);
    for (const char* other : {"jan", "JAN", "January", "Ja", "", "Sept"})
        EXPECT_EQ(MonthFromName(other), 0) << other;
}

std::vector<std::string> NamesOf(const RFILE_LIST& list)
{
    std::vector<std::string> names;
    for (const RFILE_DATA& entry : list)
        names.push_back(entry.strName);
    return names;
}

TEST(ParseListing, WholeListings)
{
    const std::string unixLines = "total 12\n"
                                  "drwxr-xr-x 2 u g 4096 Jan 1 2004 .\n"
                                  "drwxr-xr-x 2 u g 4096 Jan 1 2004 ..\n"
                                  "-rw-r--r-- 1 u g 1 Jan 1 2004 a\n"
                                  "bogus line\n"
                                  "-rw-r--r-- 1 u g 1 Jan 1 2004 b\n";
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> names; // in list order: the reverse of the lines
    } cases[] = {
        {"LF, total, dot entries, bad line", unixLines, {"b", "a"}},
        {"CR LF", "total 2\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 a\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 b\r\n", {"b", "a"}},
        {"CR CR LF", "-rw-r--r-- 1 u g 1 Jan 1 2004 a\r\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 b\r\r\n", {"b", "a"}},
        {"blank CR LF line ends it", "-rw-r--r-- 1 u g 1 Jan 1 2004 a\r\n\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 b\r\n", {"a"}},
        {"white-space line ends it", "-rw-r--r-- 1 u g 1 Jan 1 2004 a\n \t\n-rw-r--r-- 1 u g 1 Jan 1 2004 b\n", {"a"}},
        {"runs of LF count as one", "\n\n-rw-r--r-- 1 u g 1 Jan 1 2004 a\n\n\n-rw-r--r-- 1 u g 1 Jan 1 2004 b", {"b", "a"}},
        {"DOS listing", "01-15-08  02:30PM  <DIR>  Program Files\r\n01-15-08  02:30PM  12 x.txt\r\n", {"x.txt", "Program Files"}},
        {"hostile names dropped, rest kept", "-rw-r--r-- 1 u g 1 Jan 1 2004 ../x\n-rw-r--r-- 1 u g 1 Jan 1 2004 ok\n", {"ok"}},
        {"blank-edged names, also in a cached CR CR LF copy",
         "-rw-r--r-- 1 u g 1 Jan 1 2004  lead\r\r\n-rw-r--r-- 1 u g 1 Jan 1 2004 trail \r\n"
         "drwxr-xr-x 2 u g 1 Jan 1 2004    \n",
         {"   ", "trail ", " lead"}},
        {"empty text", "", {}},
        {"line over 64 KiB skipped as the list-file reader does",
         "-rw-r--r-- 1 u g 1 Jan 1 2004 " + std::string(70000, 'n') + "\n-rw-r--r-- 1 u g 1 Jan 1 2004 a\n", {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RFILE_LIST list;
        RFILE_DATA kept;
        kept.strName = "kept";
        list.push_back(kept); // entries are added, never replaced
        ParseListing(c.text, list);
        std::vector<std::string> expected = c.names;
        expected.push_back("kept");
        EXPECT_EQ(NamesOf(list), expected);
    }
}

TEST(ParseListingLine, SharedLineSteps)
{
    struct Case {
        std::string line;
        ListLineResult result;
    } cases[] = {
        {"  -rw-r--r-- 1 u g 1 Jan 1 2004 a \r", ListLineResult::Entry},
        {"total 48", ListLineResult::Skipped},
        {"totally", ListLineResult::Skipped},
        {"Total 48", ListLineResult::Skipped}, // rejected as a line, not as "total"
        {"\r", ListLineResult::EndOfListing},
        {"", ListLineResult::EndOfListing},
    };
    for (const Case& c : cases) {
        RFILE_DATA entry;
        EXPECT_EQ(ParseListingLine(c.line, entry), c.result) << c.line;
    }
}

} // namespace

namespace {

// Switches the process's time zone for one test and back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            m_hadZone = true;
            m_old = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (m_hadZone)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_hadZone = false;
    std::string m_old;
};

TEST(ParseListLine, DaylightSavingFollowsTheLocalZone)
{
    // Conversions are remembered per hour for the life of the thread (the zone does not
    // change under a running program), so each zone gets years no other test uses.
    const char* zones[] = {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};
    for (int i = 0; i < 3; ++i) {
        ZoneGuard guard(zones[i]);
        const int year = 2031 + 2 * i;
        const std::string shortYear = std::to_string((year + 1) % 100);
        struct Case {
            std::string line;
            int year, month, day, hour, minute;
        } cases[] = {
            {"-rw-r--r-- 1 u g 1 Jan 17 " + std::to_string(year) + " winter", year, 1, 17, 0, 0},
            {"-rw-r--r-- 1 u g 1 Jul 17 " + std::to_string(year) + " summer", year, 7, 17, 0, 0},
            {"01-17-" + shortYear + "  11:45PM  1 winter", year + 1, 1, 17, 23, 45},
            {"07-17-" + shortYear + "  11:45PM  1 summer", year + 1, 7, 17, 23, 45},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(zones[i]) + ": " + c.line);
            RFILE_DATA entry;
            ASSERT_EQ(ParseListLine(entry, c.line, Local(2040, 1, 1)), 1);
            EXPECT_EQ(entry.tmModified, Local(c.year, c.month, c.day, c.hour, c.minute));
        }
    }
}

} // namespace
