#include "app/lib/AppStartup.h"

#include "app/lib/CrashHandler.h"
#include "app/lib/FileTypeRegistration.h"
#include "sites/DataFolder.h"
#include "sites/Startup.h"

#include <QCoreApplication>
#include <QDir>

AppStartOutcome StartWithoutWindows(const QByteArray& commandLine, ISettingsStore& store,
                                    const AppStartupOptions& options, AppState& state)
{
    return StartWithoutWindows(CommandLineMessage(commandLine), store, options, state);
}

AppStartOutcome StartWithoutWindows(const InstanceMessage& message, ISettingsStore& store,
                                    const AppStartupOptions& options, AppState& state)
{
    AppStartOutcome outcome;
    state.dataFolder = GetDataFolder();

    if (options.installCrashHandler)
        InstallCrashHandler(state.dataFolder);
    CreateDataFolder(state.dataFolder);

    state.instance = std::make_unique<SingleInstance>(options.singleInstanceName);
    // A copy that holds the lock but does not answer must not get a twin: the two would
    // overwrite each other's settings, site file and queues. Without a working hand-over
    // of its own (Failed) this copy still runs; it just cannot receive.
    switch (state.instance->StartWith(message, options.singleInstanceTimeoutMs)) {
    case SingleInstance::Role::HandedOver:
        outcome.result = AppStartResult::HandedOver;
        return outcome;
    case SingleInstance::Role::NotResponding:
        outcome.result = AppStartResult::Fatal;
        outcome.fatalMessage = SingleInstance::kNotRespondingText;
        return outcome;
    case SingleInstance::Role::Primary:
    case SingleInstance::Role::Failed:
        break;
    }

    FileTypeRegistration registration;
    registration.extension = QStringLiteral("tvq");
    registration.programPath = options.programPath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                             : options.programPath;
    registration.notify = options.notifyFileTypes;
    RegisterFileType(registration); // a failure only costs the association

    const StartupFolders folders{state.dataFolder, GetShippedFileFolders(),
                                 QDir::currentPath().toStdString()};
    PrepareDataFolderStep(folders);
    const StartupOutcome settingsRead = ReadSettingsStep(store, folders, state.settings);
    if (!settingsRead.ok) {
        outcome.result = AppStartResult::Fatal;
        outcome.fatalMessage = settingsRead.fatalMessage;
        return outcome;
    }
    ReadSiteFileStep(folders, state.sites);
    return outcome;
}

bool ShutdownWithoutWindows(ISettingsStore& store, AppState& state, const MessageSink& report)
{
    return RunWindowlessShutdown(store, state.settings, state.sites, report);
}
