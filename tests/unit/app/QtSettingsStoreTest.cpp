#include "app/lib/QtSettingsStore.h"

#include "AppTestEnvironment.h"
#include "sites/PasswordEncoding.h"
#include "sites/SettingsIo.h"

#include <QSettings>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(apptest::ConfigHome() + "/Vintrelle"); }
    void TearDown() override { fs::remove_all(apptest::ConfigHome() + "/Vintrelle"); }
};

TEST_F(QtSettingsStoreTest, LivesUnderTheTemporaryConfigFolder)
{
    QtSettingsStore store;
    EXPECT_EQ(store.ProfilePath(), apptest::ConfigHome() + "/Vintrelle/Tollvane.conf");
}

TEST_F(QtSettingsStoreTest, EmptyStoreGivesTheDefaults)
{
    QtSettingsStore store;
    CSettings s;
    ReadSettings(store, s, "/d/", "/cwd");
    const CSettings defaults;
    EXPECT_EQ(s.Timeout, defaults.Timeout);
    EXPECT_EQ(s.LastUser, "anonymous");
    EXPECT_EQ(s.LastPassword, defaults.AnonymousPass);
    EXPECT_EQ(s.DefaultLocalDirectory, "/cwd");
    EXPECT_EQ(s.UseShellIcon, 1);
}

TEST_F(QtSettingsStoreTest, RoundTripThroughTheFile)
{
    CSettings written;
    written.Timeout = 90;
    written.LastUser = "bob";
    written.LastPassword = "s3cret=;#";
    written.TextFileExtension = "txt;ini";
    written.ViewerPath = "/usr/bin/less";
    written.LastAddress = "a,b \"quoted\" ; #x";
    written.WPMaximized = 1;
    written.UseShellIcon = 0;
    {
        QtSettingsStore store;
        ASSERT_TRUE(WriteSettings(store, written, {}));
    }
    // What lands in the file: group "Settings", the password encoded.
    QSettings raw(QString::fromStdString(apptest::ConfigHome() + "/Vintrelle/Tollvane.conf"),
                  QSettings::IniFormat);
    EXPECT_EQ(raw.value("Settings/Timeout").toInt(), 90);
    EXPECT_EQ(raw.value("Settings/LastPassword").toString().toStdString(), EncodePassword("s3cret=;#"));
    EXPECT_FALSE(raw.contains("Settings/CacheHomeDirectory"));

    QtSettingsStore store;
    CSettings read;
    ReadSettings(store, read, "/d/", "/cwd");
    EXPECT_EQ(read.Timeout, 90);
    EXPECT_EQ(read.LastUser, "bob");
    EXPECT_EQ(read.LastPassword, "s3cret=;#");
    EXPECT_EQ(read.TextFileExtension, "txt;ini");
    EXPECT_EQ(read.ViewerPath, "/usr/bin/less");
    EXPECT_EQ(read.LastAddress, "a,b \"quoted\" ; #x");
    EXPECT_EQ(read.WPMaximized, 1);
    EXPECT_EQ(read.UseShellIcon, 1) << "shell icons are on at every start";
}

TEST_F(QtSettingsStoreTest, ANonNumberTakesTheDefault)
{
    fs::create_directories(apptest::ConfigHome() + "/Vintrelle");
    {
        QSettings raw(QString::fromStdString(apptest::ConfigHome() + "/Vintrelle/Tollvane.conf"),
                      QSettings::IniFormat);
        raw.setValue("Settings/Timeout", "soon");
    }
    QtSettingsStore store;
    EXPECT_EQ(ReadSettingInt(store, "Timeout", 60), 60);
}

TEST_F(QtSettingsStoreTest, CheckedWriterReportsAnUnwritableStore)
{
    // A file where the folder should be: the settings cannot be saved, even by root.
    std::FILE* blocker = std::fopen((apptest::ConfigHome() + "/Vintrelle").c_str(), "w");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);
    std::vector<std::string> reports;
    {
        QtSettingsStore store;
        EXPECT_FALSE(WriteSettingInt(store, "Timeout", 30,
                                     [&](const std::string& m) { reports.push_back(m); }));
    }
    fs::remove(apptest::ConfigHome() + "/Vintrelle");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Can't save setting:Timeout\nProfile Path:" + apptest::ConfigHome() +
                              "/Vintrelle/Tollvane.conf\nPlease report to Vintrelle!\n");
}

} // namespace
