#pragma once
// "--set NAME=VALUE": a setting changed for this run only.

#include "sites/Settings.h"

#include <string>
#include <utility>
#include <vector>

using SettingOverride = std::pair<std::string, std::string>;

// Splits "NAME=VALUE"; false when there is no "=" or no name.
bool ParseSettingOverride(const std::string& text, SettingOverride& out);

// Applies the overrides to `settings`, by the names the settings store uses. False, with
// the reason in *error, for an unknown name or a number setting given something else.
bool ApplySettingOverrides(CSettings& settings, const std::vector<SettingOverride>& overrides,
                           const std::string& dataFolder, std::string* error);
