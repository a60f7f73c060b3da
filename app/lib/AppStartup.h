#pragma once
// The start-up and shutdown steps of the program that need no window, in their order:
// crash report handler, data folder, single instance, ".tvq" registration, data folder
// contents, history cut-back and settings, site file. The application object runs its
// window steps (main frame, message window, "autosave.tvq") after StartWithoutWindows and
// calls ShutdownWithoutWindows once its sessions are gone.

#include "app/lib/SingleInstance.h"
#include "sites/Settings.h"
#include "sites/SettingsIo.h"
#include "sites/SettingsStore.h"
#include "sites/SiteSetting.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <string>

struct AppStartupOptions {
    QString singleInstanceName = SingleInstance::DefaultServerName();
    int singleInstanceTimeoutMs = SingleInstance::kDefaultTimeoutMs;
    QString programPath;           // opens ".tvq" files; empty: this executable
    bool notifyFileTypes = true;   // rebuild the desktop databases when the registration changed
    bool installCrashHandler = true;
};

struct AppState {
    std::string dataFolder;   // ends in "/"
    CSettings settings;
    SiteList sites;
    std::unique_ptr<SingleInstance> instance; // receives the command lines of later starts
};

enum class AppStartResult {
    Run,        // go on with the window steps
    HandedOver, // another copy runs and has the command line: end quietly
    Fatal,      // show fatalMessage, then kFatalErrorText, and end with a failure status
                // (also when another copy runs but does not answer)
};

struct AppStartOutcome {
    AppStartResult result = AppStartResult::Run;
    std::string fatalMessage;
};

// `message` goes to a copy that runs already (its paths absolute, see SingleInstance.h).
AppStartOutcome StartWithoutWindows(const InstanceMessage& message, ISettingsStore& store,
                                    const AppStartupOptions& options, AppState& state);
AppStartOutcome StartWithoutWindows(const QByteArray& commandLine, ISettingsStore& store,
                                    const AppStartupOptions& options, AppState& state);

// Writes the settings back and frees the site records; false when a value could not be
// saved (already reported through `report`).
bool ShutdownWithoutWindows(ISettingsStore& store, AppState& state, const MessageSink& report);
