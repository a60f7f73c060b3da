#include "sites/SettingsIo.h"

#include "sites/MemorySettingsStore.h"
#include "sites/PasswordEncoding.h"

#include <gtest/gtest.h>

namespace {

TEST(Settings, EmptyStoreGivesTheDefaults)
{
    MemorySettingsStore store;
    CSettings s;
    s.UseShellIcon = 0;
    s.Timeout = 999;
    ReadSettings(store, s, "/data/Tollvane/", "/work/here");
    const CSettings d;
    EXPECT_EQ(s.Timeout, 60);
    EXPECT_EQ(s.RetryDelay, d.RetryDelay);
    EXPECT_EQ(s.LastUser, "anonymous");
    EXPECT_EQ(s.LastPort, 21);
    EXPECT_EQ(s.LastPassword, s.AnonymousPass);
    EXPECT_EQ(s.DefaultLocalDirectory, "/work/here");
    EXPECT_EQ(s.CacheHomeDirectory, "/data/Tollvane/cache");
    EXPECT_EQ(s.ViewerPath, "xdg-open");
    EXPECT_EQ(s.WPWidth, 0);
    EXPECT_EQ(s.WPHeight, 0);
    EXPECT_EQ(s.UseShellIcon, 1);
    EXPECT_EQ(s.TextFileExtension, d.TextFileExtension);
}

TEST(Settings, RoundTripKeepsEverySavedValue)
{
    MemorySettingsStore store;
    CSettings written;
    written.RetryDelay = 7;
    written.Timeout = 120;
    written.LastUser = "bob";
    written.LastAddress = "ftp.example.org";
    written.AnonymousPass = "me@example.org";
    written.LastPassword = "p@ss";
    written.DefaultLocalDirectory = "/home/bob";
    written.pDelete = 0;
    written.WPMaximized = 1;
    written.TextFileExtension = "txt";
    written.CacheHomeDirectory = "/elsewhere";
    ASSERT_TRUE(WriteSettings(store, written, {}));

    CSettings read;
    ReadSettings(store, read, "/data/", "/cwd");
    EXPECT_EQ(read.RetryDelay, 7);
    EXPECT_EQ(read.Timeout, 120);
    EXPECT_EQ(read.LastUser, "bob");
    EXPECT_EQ(read.LastAddress, "ftp.example.org");
    EXPECT_EQ(read.AnonymousPass, "me@example.org");
    EXPECT_EQ(read.LastPassword, "p@ss");
    EXPECT_EQ(read.DefaultLocalDirectory, "/home/bob");
    EXPECT_EQ(read.pDelete, 0);
    EXPECT_EQ(read.WPMaximized, 1);
    EXPECT_EQ(read.TextFileExtension, "txt");
    // Not saved: a change lasts until the program ends.
    EXPECT_EQ(read.CacheHomeDirectory, "/data/cache");
    EXPECT_FALSE(store.Has("CacheHomeDirectory"));
    // Stored encoded.
    EXPECT_EQ(store.ReadString("LastPassword").value(), EncodePassword("p@ss"));
}

TEST(Settings, ProxyRoundTripKeepsThePasswordEncodedOnlyInTheStore)
{
    MemorySettingsStore store;
    CSettings written;
    written.ProxyType = 3;
    written.ProxyHost = "proxy.example.org";
    written.ProxyPort = 1080;
    written.ProxyUseAuth = 1;
    written.ProxyUser = "alice";
    written.ProxyPassword = "open sesame";
    ASSERT_TRUE(WriteSettings(store, written, {}));
    EXPECT_EQ(store.ReadString("ProxyPassword").value(), EncodePassword("open sesame"));

    CSettings read;
    ReadSettings(store, read, "/d/", "/c");
    EXPECT_EQ(read.ProxyType, 3);
    EXPECT_EQ(read.ProxyHost, "proxy.example.org");
    EXPECT_EQ(read.ProxyPort, 1080);
    EXPECT_EQ(read.ProxyUseAuth, 1);
    EXPECT_EQ(read.ProxyUser, "alice");
    EXPECT_EQ(read.ProxyPassword, "open sesame");
}

TEST(Settings, NoProxyByDefaultAndForAnUnknownType)
{
    for (int stored : {-1, 5, 99}) {
        MemorySettingsStore store;
        CSettings s;
        ReadSettings(store, s, "/d/", "/c");
        EXPECT_EQ(s.ProxyType, 0);
        EXPECT_EQ(s.ProxyPassword, "");
        store.WriteInt("ProxyType", stored);
        ReadSettings(store, s, "/d/", "/c");
        EXPECT_EQ(s.ProxyType, 0) << stored;
    }
}

TEST(Settings, WrittenInTheShutdownOrder)
{
    MemorySettingsStore store;
    ASSERT_TRUE(WriteSettings(store, CSettings{}, {}));
    const std::vector<std::string> expected = {
        "Timeout", "UseShellIcon", "AutoReset", "LastPort", "LastUser", "LastPassive",
        "LastAddress", "AnonymousPass", "LastPassword", "ViewerPath", "AlwaysRefresh", "WPLeft",
        "WPTop", "WPWidth", "WPHeight", "WPMaximized", "EnableCache", "SaveLocalDir",
        "DefaultLocalDirectory", "DefaultOverwriteAction", "KeepAlive", "AntiIdleCommandInterval",
        "AutoRefreshRemote", "AutoClosePrompt", "PromptSeconds", "DisableAllPrompt", "pTransfer",
        "pActionFailed", "pLogin", "pOverwrite", "pClose", "pDelete", "pDisconnect",
        "TextFileExtension", "CheckContent", "PreviewLen", "ErrorRetry", "FileRetry",
        "AlwaysRetry", "SaveQueue", "RetryDelay", "ProxyType", "ProxyHost", "ProxyPort",
        "ProxyUseAuth", "ProxyUser", "ProxyPassword", "UploadTemporaryName",
        "ExactRemoteTimes"};
    EXPECT_EQ(store.WriteOrder(), expected);
}

TEST(Settings, StoredShellIconOffIsIgnored)
{
    MemorySettingsStore store;
    store.WriteInt("UseShellIcon", 0);
    CSettings s;
    ReadSettings(store, s, "/d/", "/c");
    EXPECT_EQ(s.UseShellIcon, 1);
    ASSERT_TRUE(WriteSettings(store, s, {}));
    EXPECT_EQ(store.ReadInt("UseShellIcon").value(), 1);
}

TEST(Settings, CheckedWriterReportsTheRefusedValues)
{
    MemorySettingsStore store;
    store.SetRefuseWrites(true);
    std::vector<std::string> reports;
    EXPECT_FALSE(WriteSettings(store, CSettings{}, [&](const std::string& m) { reports.push_back(m); }));
    const std::vector<std::string> expected = {
        "Can't save setting:Timeout\nProfile Path:memory\nPlease report to Vintrelle!\n",
        "Can't save setting:UseShellIcon\nProfile Path:memory\nPlease report to Vintrelle!\n",
        "Can't save setting:LastPassive\nProfile Path:memory\nPlease report to Vintrelle!\n",
    };
    EXPECT_EQ(reports, expected);
}

} // namespace
