#pragma once
// Queue files (".tvq"): the queues of several sessions in one text file, one section per
// session with a non-empty queue, in site-list order:
//   [host]
//   <one line per entry, see CQueueEntry::WriteLine>
//   <empty line>
// The same format serves saved queues, jobs and "autosave.tvq".

#include <functional>
#include <string>
#include <vector>

#include "sites/Settings.h"
#include "sites/SiteSetting.h"

class CFtpSession;
class CTransferQueue;

inline constexpr const char* kAutosaveFileName = "autosave.tvq";
inline constexpr const char* kQueueFileFilter = "Queue files(*.tvq)|*.tvq|All files(*.*)|*.*||";

// One item of the site list as saving sees it: the session's host and its queue.
struct CQueueSection {
    std::string host;
    const CTransferQueue* queue = nullptr;
};

// The name a save dialog proposes: "allsites.tvq" for all sessions; with selectedOnly,
// "selsites.tvq" for several selected items, else the first selected item's text + ".tvq".
std::string ProposedQueueFileName(bool selectedOnly, const std::vector<std::string>& selectedItems);

// The file text for the sections, in the order given; sessions with an empty queue write
// nothing. An entry whose text holds a tab or a line break cannot be written; it is left
// out and counted in *skipped.
std::string FormatQueueFile(const std::vector<CQueueSection>& sections, int* skipped = nullptr);

// Replaces the file at `path` as a whole (temporary file and rename, so a crash leaves the
// old file or the new one). False, with the reason in *error, when it cannot be written.
bool SaveQueues(const std::vector<CQueueSection>& sections, const std::string& path,
                std::string* error = nullptr, int* skipped = nullptr);

// A session that a queue file's section can be loaded into.
struct CQueueTarget {
    CFtpSession* session = nullptr;
    CTransferQueue* queue = nullptr;
    explicit operator bool() const { return queue != nullptr; }
};

// How loading reaches the application's sessions. The application implements it over its
// session list and site list.
class IQueueSessions {
public:
    virtual ~IQueueSessions() = default;
    // The session whose host is exactly `host` (case-sensitive), or an empty target.
    virtual CQueueTarget FindSession(const std::string& host) = 0;
    // Creates a session (not opened: no tab, no worker) from `site`, appends it to the
    // session list and adds it to the site list. An empty target when it cannot.
    virtual CQueueTarget CreateSession(const CSiteSetting& site) = 0;
    // Selects the session in the site list and acts as on a selection change.
    virtual void SelectSession(const CQueueTarget& target) = 0;
};

// The record a session for `host` is created from: a new site record (port 21,
// "anonymous", the "AnonymousPass" setting, anonymous login) overlaid with the last site
// of the list whose address is exactly `host`, then given `host` as its address.
CSiteSetting SiteForHost(const SiteList& sites, const std::string& host, const CSettings& settings);

// Finds the session of `host`, or creates it from SiteForHost.
CQueueTarget FindOrCreateSession(IQueueSessions& sessions, const SiteList& sites,
                                 const std::string& host, const CSettings& settings);

struct CQueueLoadResult {
    bool opened = false;
    std::string error;                  // "Can't open <path>!" when the file cannot be opened
    int entries = 0;                    // entries appended to queues
    std::vector<std::string> warnings;  // lines left out, and why
    CQueueTarget lastSession;           // the session of the last section
};

// Reads the file's sections into the sessions' queues, creating sessions as needed, and
// appends every entry (no duplicate check). A download into an ftp:// URL gets the
// session of that URL's host as its partner again. Lines that name something unsafe are
// left out with a warning. Selects the last section's session.
CQueueLoadResult LoadQueueFile(const std::string& path, IQueueSessions& sessions,
                               const SiteList& sites, const CSettings& settings);

// Start-up: loads "autosave.tvq" from the data folder when it exists.
CQueueLoadResult LoadAutosave(const std::string& dataFolder, IQueueSessions& sessions,
                              const SiteList& sites, const CSettings& settings);
// Exit, and whenever the throttled autosave is due: writes every queue to "autosave.tvq"
// in the data folder when the "SaveQueue" setting is on, else deletes that file.
bool SaveAutosave(const std::string& dataFolder, const std::vector<CQueueSection>& sections,
                  const CSettings& settings, std::string* error = nullptr);
