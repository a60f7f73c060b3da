#include "sites/SettingsIo.h"

#include "sites/PasswordEncoding.h"

int ReadSettingInt(ISettingsStore& store, const std::string& name, int fallback)
{
    return store.ReadInt(name).value_or(fallback);
}

std::string ReadSettingString(ISettingsStore& store, const std::string& name,
                              const std::string& fallback)
{
    return store.ReadString(name).value_or(fallback);
}

std::string SettingNotSavedMessage(const std::string& name, const std::string& profilePath)
{
    return "Can't save setting:" + name + "\nProfile Path:" + profilePath +
           "\nPlease report to Vintrelle!\n";
}

bool WriteSettingInt(ISettingsStore& store, const std::string& name, int value,
                     const MessageSink& report)
{
    const bool written = store.WriteInt(name, value) && store.Flush();
    if (!written && report)
        report(SettingNotSavedMessage(name, store.ProfilePath()));
    return written;
}

void ReadSettings(ISettingsStore& store, CSettings& s, const std::string& dataFolder,
                  const std::string& currentDirectory)
{
    const CSettings defaults;
    auto readInt = [&](const char* name, int& field, int fallback) {
        field = ReadSettingInt(store, name, fallback);
    };
    auto readString = [&](const char* name, std::string& field, const std::string& fallback) {
        field = ReadSettingString(store, name, fallback);
    };

    readInt("RetryDelay", s.RetryDelay, defaults.RetryDelay);
    readInt("ErrorRetry", s.ErrorRetry, defaults.ErrorRetry);
    readInt("SaveQueue", s.SaveQueue, defaults.SaveQueue);
    readInt("FileRetry", s.FileRetry, defaults.FileRetry);
    readInt("AlwaysRetry", s.AlwaysRetry, defaults.AlwaysRetry);
    readInt("AutoReset", s.AutoReset, defaults.AutoReset);
    readInt("Timeout", s.Timeout, defaults.Timeout);
    readInt("LastPassive", s.LastPassive, defaults.LastPassive);
    readInt("LastPort", s.LastPort, defaults.LastPort);
    readString("LastUser", s.LastUser, defaults.LastUser);
    readString("LastAddress", s.LastAddress, defaults.LastAddress);
    readString("AnonymousPass", s.AnonymousPass, defaults.AnonymousPass);
    // Stored encoded; the default is the anonymous password just read.
    s.LastPassword =
        DecodePassword(ReadSettingString(store, "LastPassword", EncodePassword(s.AnonymousPass)));
    readInt("AlwaysRefresh", s.AlwaysRefresh, defaults.AlwaysRefresh);
    readInt("EnableCache", s.EnableCache, defaults.EnableCache);
    readInt("SaveLocalDir", s.SaveLocalDir, defaults.SaveLocalDir);
    readString("DefaultLocalDirectory", s.DefaultLocalDirectory, currentDirectory);
    readInt("DefaultOverwriteAction", s.DefaultOverwriteAction, defaults.DefaultOverwriteAction);
    readInt("UploadTemporaryName", s.UploadTemporaryName, defaults.UploadTemporaryName);
    readInt("ExactRemoteTimes", s.ExactRemoteTimes, defaults.ExactRemoteTimes);
    readString("CacheHomeDirectory", s.CacheHomeDirectory, dataFolder + "cache");
    readString("ViewerPath", s.ViewerPath, defaults.ViewerPath);
    readInt("KeepAlive", s.KeepAlive, defaults.KeepAlive);
    readInt("AntiIdleCommandInterval", s.AntiIdleCommandInterval, defaults.AntiIdleCommandInterval);
    readInt("AutoRefreshRemote", s.AutoRefreshRemote, defaults.AutoRefreshRemote);
    readInt("AutoClosePrompt", s.AutoClosePrompt, defaults.AutoClosePrompt);
    readInt("PromptSeconds", s.PromptSeconds, defaults.PromptSeconds);
    readInt("DisableAllPrompt", s.DisableAllPrompt, defaults.DisableAllPrompt);
    readInt("pTransfer", s.pTransfer, defaults.pTransfer);
    readInt("pActionFailed", s.pActionFailed, defaults.pActionFailed);
    readInt("pLogin", s.pLogin, defaults.pLogin);
    readInt("pOverwrite", s.pOverwrite, defaults.pOverwrite);
    readInt("pClose", s.pClose, defaults.pClose);
    readInt("pDelete", s.pDelete, defaults.pDelete);
    readInt("pDisconnect", s.pDisconnect, defaults.pDisconnect);
    readString("TextFileExtension", s.TextFileExtension, defaults.TextFileExtension);
    readInt("CheckContent", s.CheckContent, defaults.CheckContent);
    readInt("PreviewLen", s.PreviewLen, defaults.PreviewLen);
    readInt("WPLeft", s.WPLeft, defaults.WPLeft);
    readInt("WPTop", s.WPTop, defaults.WPTop);
    readInt("WPWidth", s.WPWidth, defaults.WPWidth);
    readInt("WPHeight", s.WPHeight, defaults.WPHeight);
    readInt("WPMaximized", s.WPMaximized, defaults.WPMaximized);
    readInt("ProxyType", s.ProxyType, defaults.ProxyType);
    // An unknown proxy type from a damaged file means no proxy rather than a wrong one.
    if (s.ProxyType < 0 || s.ProxyType > 4)
        s.ProxyType = 0;
    readString("ProxyHost", s.ProxyHost, defaults.ProxyHost);
    readInt("ProxyPort", s.ProxyPort, defaults.ProxyPort);
    readInt("ProxyUseAuth", s.ProxyUseAuth, defaults.ProxyUseAuth);
    readString("ProxyUser", s.ProxyUser, defaults.ProxyUser);
    s.ProxyPassword = DecodePassword(ReadSettingString(store, "ProxyPassword", ""));
    // Shell icons are on at every start, whatever was stored.
    s.UseShellIcon = 1;
}

bool WriteSettings(ISettingsStore& store, const CSettings& s, const MessageSink& report)
{
    bool all = true;
    auto checked = [&](const char* name, int value) {
        all = WriteSettingInt(store, name, value, report) && all;
    };
    auto plainInt = [&](const char* name, int value) { all = store.WriteInt(name, value) && all; };
    auto plainString = [&](const char* name, const std::string& value) {
        all = store.WriteString(name, value) && all;
    };

    checked("Timeout", s.Timeout);
    checked("UseShellIcon", s.UseShellIcon);
    plainInt("AutoReset", s.AutoReset);
    plainInt("LastPort", s.LastPort);
    plainString("LastUser", s.LastUser);
    checked("LastPassive", s.LastPassive);
    plainString("LastAddress", s.LastAddress);
    plainString("AnonymousPass", s.AnonymousPass);
    plainString("LastPassword", EncodePassword(s.LastPassword));
    plainString("ViewerPath", s.ViewerPath);
    plainInt("AlwaysRefresh", s.AlwaysRefresh);
    plainInt("WPLeft", s.WPLeft);
    plainInt("WPTop", s.WPTop);
    plainInt("WPWidth", s.WPWidth);
    plainInt("WPHeight", s.WPHeight);
    plainInt("WPMaximized", s.WPMaximized);
    plainInt("EnableCache", s.EnableCache);
    plainInt("SaveLocalDir", s.SaveLocalDir);
    plainString("DefaultLocalDirectory", s.DefaultLocalDirectory);
    plainInt("DefaultOverwriteAction", s.DefaultOverwriteAction);
    plainInt("KeepAlive", s.KeepAlive);
    plainInt("AntiIdleCommandInterval", s.AntiIdleCommandInterval);
    plainInt("AutoRefreshRemote", s.AutoRefreshRemote);
    plainInt("AutoClosePrompt", s.AutoClosePrompt);
    plainInt("PromptSeconds", s.PromptSeconds);
    plainInt("DisableAllPrompt", s.DisableAllPrompt);
    plainInt("pTransfer", s.pTransfer);
    plainInt("pActionFailed", s.pActionFailed);
    plainInt("pLogin", s.pLogin);
    plainInt("pOverwrite", s.pOverwrite);
    plainInt("pClose", s.pClose);
    plainInt("pDelete", s.pDelete);
    plainInt("pDisconnect", s.pDisconnect);
    plainString("TextFileExtension", s.TextFileExtension);
    plainInt("CheckContent", s.CheckContent);
    plainInt("PreviewLen", s.PreviewLen);
    plainInt("ErrorRetry", s.ErrorRetry);
    plainInt("FileRetry", s.FileRetry);
    plainInt("AlwaysRetry", s.AlwaysRetry);
    plainInt("SaveQueue", s.SaveQueue);
    plainInt("RetryDelay", s.RetryDelay);
    plainInt("ProxyType", s.ProxyType);
    plainString("ProxyHost", s.ProxyHost);
    plainInt("ProxyPort", s.ProxyPort);
    plainInt("ProxyUseAuth", s.ProxyUseAuth);
    plainString("ProxyUser", s.ProxyUser);
    plainString("ProxyPassword", EncodePassword(s.ProxyPassword));
    plainInt("UploadTemporaryName", s.UploadTemporaryName);
    plainInt("ExactRemoteTimes", s.ExactRemoteTimes);
    // The unchecked values become durable here.
    return store.Flush() && all;
}
