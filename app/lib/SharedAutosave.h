#pragma once
// "autosave.tvq" is shared: the window saves its queues there when it closes, and
// `tollvane-cli run` (a cron job, say) keeps it current while it works, possibly while the
// window is open. Each writer holds the lock for its whole read-merge-write, so two writers
// never interleave, and the window's save keeps the entries another writer added or left
// since the window loaded the file.

#include "session/QueueFiles.h"
#include "sites/Settings.h"

#include <string>
#include <vector>

// Holds the lock on "<autosave>.lock" from construction to destruction (waiting for
// another holder). Without a lock file (a read-only folder) it holds nothing.
class AutosaveLock {
public:
    explicit AutosaveLock(const std::string& autosavePath);
    ~AutosaveLock();
    AutosaveLock(const AutosaveLock&) = delete;
    AutosaveLock& operator=(const AutosaveLock&) = delete;
    bool IsLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// The entries of the queue-file text `current` that are not in `loaded` (each line counted
// as often as it occurs, per host), as queue-file text.
std::string EntriesAddedSince(const std::string& loaded, const std::string& current);

// Start-up: reads "autosave.tvq" under the lock, loads it into the sessions and returns
// its text in *loadedText (empty when there is none).
CQueueLoadResult LoadSharedAutosave(const std::string& dataFolder, IQueueSessions& sessions,
                                    const SiteList& sites, const CSettings& settings,
                                    std::string* loadedText);

// Exit: with "SaveQueue" on, writes the entries others added since `loadedText` was read,
// then `sections`, and makes `loadedText` the text of `sections` (what the file now holds
// of ours); with it off, deletes the file. False, with the reason, when it fails.
bool SaveSharedAutosave(const std::string& dataFolder, std::string& loadedText,
                        const std::vector<CQueueSection>& sections, const CSettings& settings,
                        std::string* error);

// The same with "SaveQueue" on and the queues already formatted (FormatQueueFile), so the
// read-merge-write can run away from the thread that owns the queues.
bool WriteSharedAutosave(const std::string& dataFolder, std::string& loadedText, const std::string& ownText,
                         std::string* error);
