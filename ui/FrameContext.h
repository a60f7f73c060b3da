#pragma once
// What the main frame works on; the application object owns all of it.

#include "sites/SharedSettings.h"
#include "sites/SettingsStore.h"
#include "sites/SiteSetting.h"

#include <string>

class SessionList;

struct FrameContext {
    CSharedSettings* settings = nullptr; // the current table, replaced whole on every edit
    SiteList* sites = nullptr;
    SessionList* sessions = nullptr;
    std::string dataFolder; // ends in "/"
    ISettingsStore* settingsStore = nullptr; // where the options sheet writes the settings on OK
};
