#pragma once
// Reading the settings table from a store at start-up and writing it back at exit.

#include "sites/Settings.h"
#include "sites/SettingsStore.h"

#include <functional>
#include <string>

using MessageSink = std::function<void(const std::string&)>;

// The value, or `fallback` when the store has none.
int ReadSettingInt(ISettingsStore& store, const std::string& name, int fallback);
std::string ReadSettingString(ISettingsStore& store, const std::string& name,
                              const std::string& fallback);

// The checked writer: writes and flushes the value; when the store refuses it, tells the
// user through `report` and returns false.
bool WriteSettingInt(ISettingsStore& store, const std::string& name, int value,
                     const MessageSink& report);
std::string SettingNotSavedMessage(const std::string& name, const std::string& profilePath);

// Fills the whole table. A missing value takes its default; "DefaultLocalDirectory" defaults
// to `currentDirectory` and "CacheHomeDirectory" to `dataFolder` followed by "cache".
// "LastPassword" and "ProxyPassword" are decoded; an unknown "ProxyType" is 0 (none); "UseShellIcon" is not read and is 1.
void ReadSettings(ISettingsStore& store, CSettings& settings, const std::string& dataFolder,
                  const std::string& currentDirectory);

// Writes every saved value ("CacheHomeDirectory" is not saved), "LastPassword" and
// "ProxyPassword" encoded.
// Returns false when any value was refused; the checked values also report it.
bool WriteSettings(ISettingsStore& store, const CSettings& settings, const MessageSink& report);
