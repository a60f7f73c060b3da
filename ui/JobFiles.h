#pragma once
// Jobs in the desktop program: queues saved to a ".tvq" file and imported from one. An
// import reports every session it touched, so the Jobs menu can start all of them.

#include "session/QueueFiles.h"

#include <string>
#include <vector>

class OpenSession;
class SessionList;

struct JobImportResult {
    CQueueLoadResult load;
    std::vector<OpenSession*> touched; // in the order the job names them, each once
};

JobImportResult ImportJobFile(SessionList& sessions, const SiteList& sites, const CSettings& settings,
                              const std::string& path);

// Writes the queues of the sessions, in the order given, as one job; false with the reason
// in *error when the file cannot be written.
bool SaveJobFile(const std::vector<OpenSession*>& sessions, const std::string& path, std::string* error);
