#pragma once
// The settings store of the real program: QSettings with organisation "Vintrelle",
// application "Tollvane", group "Settings" (an INI file under $XDG_CONFIG_HOME here, the
// registry on Windows). QSettings replaces the file through a temporary file, so a crash
// while writing never leaves half a settings file.

#include "sites/SettingsStore.h"

#include <QSettings>

class QtSettingsStore : public ISettingsStore {
public:
    QtSettingsStore();

    std::optional<int> ReadInt(const std::string& name) override;
    std::optional<std::string> ReadString(const std::string& name) override;
    bool WriteInt(const std::string& name, int value) override;
    bool WriteString(const std::string& name, const std::string& value) override;
    bool Flush() override;
    std::string ProfilePath() const override;

private:
    static QString Key(const std::string& name);

    QSettings m_settings;
};
