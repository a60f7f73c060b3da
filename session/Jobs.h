#pragma once
// Jobs: queue files kept in the "jobs" folder of the data folder, offered by the Jobs
// menu, and imported with LoadJob (also used for "autosave.tvq" and the command line).

#include <string>
#include <vector>

#include "session/QueueFiles.h"

inline constexpr const char* kJobsFolderName = "jobs";
inline constexpr const char* kNoJobsFolderMessage = "Jobs folder doesn't exist!";
inline constexpr const char* kNoJobsMessage = "No jobs are defined!";

// The data folder's "jobs" folder (with a trailing separator).
std::string JobsFolder(const std::string& dataFolder);

struct CJobList {
    std::vector<std::string> names;  // file names of the ".tvq" files, sorted
    std::string error;               // kNoJobsFolderMessage or kNoJobsMessage when empty
};
// The jobs offered in the menu: every regular ".tvq" file of the jobs folder.
CJobList ListJobs(const std::string& dataFolder);

// Imports a job: its sections are appended to the queues of the sessions with those
// hosts (created when missing), and the last session handled is selected. Importing the
// same job twice queues its entries twice.
CQueueLoadResult LoadJob(const std::string& path, IQueueSessions& sessions, const SiteList& sites,
                         const CSettings& settings);
