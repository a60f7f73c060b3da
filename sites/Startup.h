#pragma once
// The start-up and shutdown steps that need no window, in the order the application object
// runs them around its own (single instance, main frame, message window).

#include "sites/Settings.h"
#include "sites/SettingsIo.h"
#include "sites/SettingsStore.h"
#include "sites/SiteSetting.h"

#include <string>
#include <vector>

struct StartupFolders {
    std::string dataFolder;                  // ends in "/"
    std::vector<std::string> shippedFolders; // where the first-start files come from
    std::string currentDirectory;            // default of "DefaultLocalDirectory"
};

struct StartupOutcome {
    bool ok = true;
    std::string fatalMessage; // when !ok: show it, then kFatalErrorText, and end
};

// Creates and prepares the data folder (start-up steps 2 and 11).
void PrepareDataFolderStep(const StartupFolders& folders);

// Prunes "urlhis.txt" and "pathhis.txt", turns shell icons on and reads the settings
// (step 12). Fails when a history file cannot be cut back.
StartupOutcome ReadSettingsStep(ISettingsStore& store, const StartupFolders& folders,
                                CSettings& settings);

// Reads "site.dat" into the site list (step 15).
void ReadSiteFileStep(const StartupFolders& folders, SiteList& sites);

// All of the above, in order; stops at a fatal error.
StartupOutcome RunWindowlessStartup(ISettingsStore& store, const StartupFolders& folders,
                                    CSettings& settings, SiteList& sites);

// Shutdown once the sessions are gone: writes the settings back and frees the site
// records. Returns false when a value could not be saved (already reported).
bool RunWindowlessShutdown(ISettingsStore& store, const CSettings& settings, SiteList& sites,
                           const MessageSink& report);

// Where the site file lives.
std::string SiteFilePath(const std::string& dataFolder);
