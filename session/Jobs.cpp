#include "session/Jobs.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

#include "listing/PathRules.h"

std::string JobsFolder(const std::string& dataFolder)
{
    return JoinPath(dataFolder, kJobsFolderName) + "/";
}

CJobList ListJobs(const std::string& dataFolder)
{
    CJobList jobs;
    const std::string folder = JobsFolder(dataFolder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        jobs.error = kNoJobsFolderMessage;
        return jobs;
    }
    while (const dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name.size() <= 4 || !name.ends_with(".tvq"))
            continue;
        struct stat info {};
        if (::stat((folder + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            jobs.names.push_back(name);
    }
    ::closedir(dir);
    std::sort(jobs.names.begin(), jobs.names.end());
    if (jobs.names.empty())
        jobs.error = kNoJobsMessage;
    return jobs;
}

CQueueLoadResult LoadJob(const std::string& path, IQueueSessions& sessions, const SiteList& sites,
                         const CSettings& settings)
{
    return LoadQueueFile(path, sessions, sites, settings);
}
