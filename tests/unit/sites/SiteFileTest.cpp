#include "sites/SiteFile.h"
#include "sites/PasswordEncoding.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// A record as the test expects it after loading.
struct Expected {
    std::string name, address;
    int port;
    std::string username, password;
    int logintype, hosttype;
    std::string deflocaldir, defremotedir;
    int passive;
};

std::string Record(const std::string& header, const std::string& address = "ftp.example.org")
{
    return header + "\naddress=" + address +
           "\nport=21\nusername=bob\npassword=E9D9C9\nlogintype=0\nhosttype=0\n"
           "deflocaldir=/home/bob\ndefremotedir=/pub\npassive=1\n\n";
}

struct LoadCase {
    const char* title;
    std::string file;
    std::vector<Expected> expected;
};

void ExpectSites(const SiteList& list, const std::vector<Expected>& expected, const char* title)
{
    ASSERT_EQ(list.size(), expected.size()) << title;
    for (size_t i = 0; i < expected.size(); ++i) {
        const CSiteSetting& s = *list[i];
        const Expected& e = expected[i];
        EXPECT_EQ(s.name, e.name) << title;
        EXPECT_EQ(s.address, e.address) << title;
        EXPECT_EQ(s.port, e.port) << title;
        EXPECT_EQ(s.username, e.username) << title;
        EXPECT_EQ(s.password, e.password) << title;
        EXPECT_EQ(s.logintype, e.logintype) << title;
        EXPECT_EQ(s.hosttype, e.hosttype) << title;
        EXPECT_EQ(s.deflocaldir, e.deflocaldir) << title;
        EXPECT_EQ(s.defremotedir, e.defremotedir) << title;
        EXPECT_EQ(s.passive, e.passive) << title;
    }
}

const Expected kBob{"home", "ftp.example.org", 21, "bob", "abc", 0, 0, "/home/bob", "/pub", 1};

Expected Named(Expected e, const std::string& name)
{
    e.name = name;
    return e;
}

TEST(SiteFile, LoadsByPosition)
{
    const LoadCase cases[] = {
        {"empty file", "", {}},
        {"one record", Record("[home]"), {kBob}},
        {"duplicate names both load", Record("[home]") + Record("[home]"), {kBob, kBob}},
        {"CR LF line ends", [] {
             std::string s = Record("[home]"), out;
             for (char c : s) { if (c == '\n') out += '\r'; out += c; }
             return out;
         }(), {kBob}},
        {"misspelled keys load by position",
         "[home]\nadres=ftp.example.org\nprot=21\nuser=bob\npass=E9D9C9\nlogin=0\nhost=0\n"
         "localdir=/home/bob\nremotedir=/pub\npasive=1\n",
         {kBob}},
        {"missing closing bracket", Record("[abc"), {Named(kBob, "ab")}},
        {"lines before the first header are skipped", "junk\n\n  \n" + Record("  [home]  "), {kBob}},
        {"value without = is the whole line",
         "[x]\nhost.example\n21\nbob\n\n0\n0\n\n\n0\n",
         {{"x", "host.example", 21, "bob", "", 0, 0, "", "", 0}}},
        {"numbers take the leading digits", "[x]\naddress=h\nport= 2121abc\nusername=\npassword=E9D\n"
                                             "logintype=-1\nhosttype=\npassive=x\n\npassive=7\n",
         {{"x", "h", 2121, "", "a", -1, 0, "x", "", 7}}},
        {"truncated last record is dropped", Record("[home]") + "[cut]\naddress=a\nport=21\n", {kBob}},
        {"an = inside the value is kept", "[x]\naddress=a=b\nport=21\nusername=u\npassword=\n"
                                          "logintype=0\nhosttype=0\ndeflocaldir=\ndefremotedir=/a=b\npassive=0\n",
         {{"x", "a=b", 21, "u", "", 0, 0, "", "/a=b", 0}}},
    };
    for (const LoadCase& c : cases) {
        XdgTempFolder tmp;
        tmp.Write("site.dat", c.file);
        SiteList list;
        LoadSiteFile(tmp.File("site.dat"), list);
        ExpectSites(list, c.expected, c.title);
    }
}

TEST(SiteFile, BlankLineAfterHeaderShiftsTheRecord)
{
    XdgTempFolder tmp;
    tmp.Write("site.dat", "[first]\n\naddress=a.example\nport=2121\nusername=bob\npassword=E9D9C9\n"
                          "logintype=0\nhosttype=0\ndeflocaldir=/l\ndefremotedir=/r\npassive=1\n\n" +
                              Record("[second]"));
    SiteList list;
    LoadSiteFile(tmp.File("site.dat"), list);
    ExpectSites(list,
                {{"first", "", 0, "2121", DecodePassword("bob"), 0, 0, "0", "/l", 0},
                 Named(kBob, "second")},
                "shifted");
}

} // namespace

namespace {

SiteList OneSite()
{
    SiteList list;
    auto site = std::make_unique<CSiteSetting>();
    site->name = "home";
    site->address = "ftp.example.org";
    site->username = "bob";
    site->password = "abc";
    site->logintype = 0;
    site->deflocaldir = "/home/bob";
    site->defremotedir = "/pub";
    site->passive = 1;
    list.push_back(std::move(site));
    return list;
}

TEST(SiteFile, WritesElevenLinesPerRecordAndReadsThemBack)
{
    XdgTempFolder tmp;
    const SiteList list = OneSite();
    ASSERT_TRUE(SaveSiteFile(tmp.File("site.dat"), list));
    EXPECT_EQ(tmp.Read("site.dat"), Record("[home]"));

    SiteList loaded;
    LoadSiteFile(tmp.File("site.dat"), loaded);
    ExpectSites(loaded, {kBob}, "round trip");
}

TEST(SiteFile, IsReadableByItsOwnerOnly)
{
    XdgTempFolder tmp;
    tmp.Write("site.dat", "old");
    ::chmod(tmp.File("site.dat").c_str(), 0644);
    ASSERT_TRUE(SaveSiteFile(tmp.File("site.dat"), OneSite()));
    struct stat st {};
    ASSERT_EQ(::stat(tmp.File("site.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SiteFile, ALinkedSiteFileStaysALink)
{
    XdgTempFolder tmp;
    std::filesystem::create_directories(tmp.File("synced"));
    tmp.Write("synced/site.dat", "");
    std::filesystem::create_symlink(tmp.File("synced/site.dat"), tmp.File("site.dat"));
    ASSERT_TRUE(SaveSiteFile(tmp.File("site.dat"), OneSite()));
    EXPECT_TRUE(std::filesystem::is_symlink(tmp.File("site.dat")));
    EXPECT_EQ(tmp.Read("synced/site.dat"), Record("[home]"));
}

TEST(SiteFile, AFailedWriteKeepsTheOldFile)
{
    XdgTempFolder tmp;
    tmp.Write("site.dat", Record("[old]"));
    std::string error;
    {
        // A full disk, as far as this process can tell: writes beyond 16 bytes fail.
        FileSizeLimit limit(16);
        EXPECT_FALSE(SaveSiteFile(tmp.File("site.dat"), OneSite(), &error));
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(tmp.Read("site.dat"), Record("[old]"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.Path()),
                            std::filesystem::directory_iterator()),
              3) << "only data/, config/ and site.dat";
}

TEST(SiteFile, AWriteIntoAMissingFolderFailsWithoutLeavingTemporaryFiles)
{
    XdgTempFolder tmp;
    std::string error;
    EXPECT_FALSE(SaveSiteFile(tmp.File("missing/site.dat"), OneSite(), &error));
    EXPECT_NE(error.find("missing/site.dat"), std::string::npos) << error;
}

TEST(SiteFile, LongValuesStayOnTheirLine)
{
    XdgTempFolder tmp;
    SiteList list = OneSite();
    list[0]->deflocaldir = "/" + std::string(1000, 'x');
    list.push_back(std::make_unique<CSiteSetting>(*list[0]));
    list[1]->name = "second";
    ASSERT_TRUE(SaveSiteFile(tmp.File("site.dat"), list));
    SiteList loaded;
    LoadSiteFile(tmp.File("site.dat"), loaded);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0]->deflocaldir, list[0]->deflocaldir);
    EXPECT_EQ(loaded[1]->name, "second");
    EXPECT_EQ(loaded[1]->defremotedir, "/pub");
}

} // namespace
