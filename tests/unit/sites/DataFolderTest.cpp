#include "sites/DataFolder.h"
#include "sites/Startup.h"

#include "sites/MemorySettingsStore.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(DataFolder, FollowsXdgDataHome)
{
    XdgTempFolder tmp;
    EXPECT_EQ(GetDataFolder(), tmp.Path() + "/data/Tollvane/");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", tmp.Path().c_str(), 1);
    EXPECT_EQ(GetDataFolder(), tmp.Path() + "/.local/share/Tollvane/");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(GetDataFolder(), tmp.Path() + "/.local/share/Tollvane/");
    ::setenv("HOME", saved.c_str(), 1);
}

TEST(DataFolder, ProgramFolderIsTheExecutablesFolder)
{
    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::exists(folder + "unit_sites"));
    const auto shipped = GetShippedFileFolders();
    ASSERT_EQ(shipped.size(), 2u);
    EXPECT_EQ(shipped[0], folder);
    EXPECT_EQ(shipped[1].substr(shipped[1].size() - 16), "/share/tollvane/");
}

class PrepareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = GetDataFolder();
        first = tmp.Path() + "/bin/";
        second = tmp.Path() + "/share/tollvane/";
        fs::create_directories(first);
        fs::create_directories(second + "jobs");
    }
    XdgTempFolder tmp;
    std::string data, first, second;
};

TEST_F(PrepareTest, CopiesMissingFilesFromTheFirstFolderThatHasThem)
{
    tmp.Write("bin/site.dat", "[from bin]\n");
    tmp.Write("share/tollvane/site.dat", "[from share]\n");
    tmp.Write("share/tollvane/urlhis.txt", "ftp.example.org\n");
    tmp.Write("share/tollvane/jobs/nightly.tvq", "job");
    ASSERT_TRUE(CreateDataFolder(data));
    PrepareDataFolder(data, {first, second});

    EXPECT_EQ(tmp.Read("data/Tollvane/site.dat"), "[from bin]\n");
    EXPECT_EQ(tmp.Read("data/Tollvane/urlhis.txt"), "ftp.example.org\n");
    EXPECT_FALSE(fs::exists(data + "pathhis.txt"));
    EXPECT_EQ(tmp.Read("data/Tollvane/jobs/nightly.tvq"), "job");
    EXPECT_TRUE(fs::is_directory(data + "cache"));
    struct stat st {};
    ASSERT_EQ(::stat((data + "site.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PrepareTest, NeverReplacesWhatTheUserHas)
{
    ASSERT_TRUE(CreateDataFolder(data + "jobs"));
    tmp.Write("data/Tollvane/site.dat", "[mine]\n");
    tmp.Write("bin/site.dat", "[shipped]\n");
    tmp.Write("share/tollvane/jobs/nightly.tvq", "job");
    PrepareDataFolder(data, {first, second});
    EXPECT_EQ(tmp.Read("data/Tollvane/site.dat"), "[mine]\n");
    EXPECT_FALSE(fs::exists(data + "jobs/nightly.tvq")) << "an existing jobs folder is left alone";
}

TEST_F(PrepareTest, StartupReadsSettingsAndSitesAndShutdownWritesBack)
{
    tmp.Write("bin/site.dat", "[one]\naddress=a\nport=21\nusername=u\npassword=\nlogintype=0\n"
                              "hosttype=0\ndeflocaldir=\ndefremotedir=\npassive=0\n\n");
    std::string longHistory;
    while (longHistory.size() <= 10000)
        longHistory += "ftp://host.example/some/path\n";
    tmp.Write("bin/urlhis.txt", longHistory);

    MemorySettingsStore store;
    store.WriteInt("UseShellIcon", 0);
    store.WriteInt("Timeout", 30);
    CSettings settings;
    SiteList sites;
    const StartupFolders folders{data, {first, second}, "/cwd"};
    const StartupOutcome outcome = RunWindowlessStartup(store, folders, settings, sites);
    ASSERT_TRUE(outcome.ok) << outcome.fatalMessage;
    EXPECT_EQ(settings.Timeout, 30);
    EXPECT_EQ(settings.UseShellIcon, 1);
    EXPECT_EQ(settings.CacheHomeDirectory, data + "cache");
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]->name, "one");
    EXPECT_LE(fs::file_size(data + "urlhis.txt"), 8000u) << "histories are cut back at start";

    settings.Timeout = 45;
    EXPECT_TRUE(RunWindowlessShutdown(store, settings, sites, {}));
    EXPECT_TRUE(sites.empty());
    EXPECT_EQ(store.ReadInt("Timeout").value(), 45);
    EXPECT_EQ(store.ReadInt("UseShellIcon").value(), 1);
}

} // namespace
