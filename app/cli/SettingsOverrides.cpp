#include "app/cli/SettingsOverrides.h"

#include "sites/MemorySettingsStore.h"
#include "sites/PasswordEncoding.h"
#include "sites/SettingsIo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool ParseWholeNumber(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

bool ParseSettingOverride(const std::string& text, SettingOverride& out)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    out = {text.substr(0, eq), text.substr(eq + 1)};
    return true;
}

bool ApplySettingOverrides(CSettings& settings, const std::vector<SettingOverride>& overrides,
                           const std::string& dataFolder, std::string* error)
{
    if (overrides.empty())
        return true;
    // The table goes through a store in memory, so the overrides use exactly the names
    // and types of the stored values.
    MemorySettingsStore table;
    WriteSettings(table, settings, {});
    table.WriteString("CacheHomeDirectory", settings.CacheHomeDirectory);
    int useShellIcon = settings.UseShellIcon;

    for (const auto& [name, value] : overrides) {
        if (table.ReadInt(name)) {
            int number = 0;
            if (!ParseWholeNumber(value, number)) {
                if (error)
                    *error = "Setting " + name + " needs a whole number, not \"" + value + "\"";
                return false;
            }
            table.WriteInt(name, number);
            if (name == "UseShellIcon")
                useShellIcon = number;
        } else if (table.ReadString(name)) {
            table.WriteString(name, (name == "LastPassword" || name == "ProxyPassword") ? EncodePassword(value) : value);
        } else {
            if (error)
                *error = "Unknown setting: " + name;
            return false;
        }
    }
    ReadSettings(table, settings, dataFolder, settings.DefaultLocalDirectory);
    settings.UseShellIcon = useShellIcon;
    return true;
}
