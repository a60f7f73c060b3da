#include "sites/Startup.h"

#include "sites/DataFolder.h"
#include "sites/HistoryFile.h"
#include "sites/SiteFile.h"

std::string SiteFilePath(const std::string& dataFolder)
{
    return dataFolder + "site.dat";
}

void PrepareDataFolderStep(const StartupFolders& folders)
{
    CreateDataFolder(folders.dataFolder);
    PrepareDataFolder(folders.dataFolder, folders.shippedFolders);
}

StartupOutcome ReadSettingsStep(ISettingsStore& store, const StartupFolders& folders,
                                CSettings& settings)
{
    StartupOutcome outcome;
    for (const char* name : {"urlhis.txt", "pathhis.txt"}) {
        const PruneResult pruned = PruneHistoryFile(folders.dataFolder + name, folders.dataFolder);
        if (!pruned.ok) {
            outcome.ok = false;
            outcome.fatalMessage = pruned.message;
            return outcome;
        }
    }
    ReadSettings(store, settings, folders.dataFolder, folders.currentDirectory);
    return outcome;
}

void ReadSiteFileStep(const StartupFolders& folders, SiteList& sites)
{
    LoadSiteFile(SiteFilePath(folders.dataFolder), sites);
}

StartupOutcome RunWindowlessStartup(ISettingsStore& store, const StartupFolders& folders,
                                    CSettings& settings, SiteList& sites)
{
    PrepareDataFolderStep(folders);
    const StartupOutcome outcome = ReadSettingsStep(store, folders, settings);
    if (!outcome.ok)
        return outcome;
    ReadSiteFileStep(folders, sites);
    return outcome;
}

bool RunWindowlessShutdown(ISettingsStore& store, const CSettings& settings, SiteList& sites,
                           const MessageSink& report)
{
    const bool saved = WriteSettings(store, settings, report);
    sites.clear();
    return saved;
}
