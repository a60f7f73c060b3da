#include "app/lib/AppStartup.h"

#include "AppTestEnvironment.h"
#include "sites/MemorySettingsStore.h"

#include <QLocalSocket>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class AppStartupTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(apptest::DataHome() + "/Tollvane"); }
    void TearDown() override { fs::remove_all(apptest::DataHome() + "/Tollvane"); }

    AppStartupOptions Options(const char* server)
    {
        AppStartupOptions options;
        options.singleInstanceName = QString::fromStdString(apptest::Root() + "/runtime/" + server);
        options.programPath = QStringLiteral("/usr/bin/tollvane");
        options.notifyFileTypes = false;
        options.installCrashHandler = false;
        return options;
    }
};

TEST_F(AppStartupTest, FirstStartPreparesEverythingAndShutdownSaves)
{
    fs::create_directories(apptest::DataHome() + "/Tollvane");
    std::ofstream(apptest::DataHome() + "/Tollvane/site.dat")
        << "[one]\naddress=a\nport=21\nusername=u\npassword=\nlogintype=0\nhosttype=0\n"
           "deflocaldir=\ndefremotedir=\npassive=0\n\n";
    MemorySettingsStore store;
    store.WriteInt("UseShellIcon", 0);
    AppState state;
    const AppStartOutcome outcome = StartWithoutWindows("", store, Options("startup.sock"), state);
    ASSERT_EQ(outcome.result, AppStartResult::Run) << outcome.fatalMessage;
    EXPECT_EQ(state.dataFolder, apptest::DataHome() + "/Tollvane/");
    EXPECT_TRUE(fs::is_directory(state.dataFolder + "jobs"));
    EXPECT_TRUE(fs::is_directory(state.dataFolder + "cache"));
    EXPECT_TRUE(fs::exists(apptest::DataHome() + "/applications/tollvane-tvq.desktop"));
    EXPECT_EQ(state.settings.UseShellIcon, 1);
    ASSERT_EQ(state.sites.size(), 1u);

    // This start listens for later ones.
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(apptest::Root() + "/runtime/startup.sock"));
    EXPECT_TRUE(probe.waitForConnected(1000));

    EXPECT_TRUE(ShutdownWithoutWindows(store, state, {}));
    EXPECT_TRUE(state.sites.empty());
    EXPECT_EQ(store.ReadInt("UseShellIcon").value(), 1);
}

TEST_F(AppStartupTest, AHistoryThatCannotBeCutIsFatal)
{
    fs::create_directories(apptest::DataHome() + "/Tollvane/~tmphis.txt/blocked");
    std::ofstream(apptest::DataHome() + "/Tollvane/urlhis.txt") << std::string(10001, 'x');
    MemorySettingsStore store;
    AppState state;
    const AppStartOutcome outcome = StartWithoutWindows("", store, Options("fatal.sock"), state);
    EXPECT_EQ(outcome.result, AppStartResult::Fatal);
    EXPECT_EQ(outcome.fatalMessage, "Can't create temporary file " + apptest::DataHome() +
                                        "/Tollvane/~tmphis.txt!");
}

} // namespace
