#pragma once
// Writes "autosave.tvq" on a thread of its own while the window runs, so a long queue or a
// slow disk (the merge with other writers' entries, the flush to disk) never holds up the
// window. The window formats its queues, which only its own thread may walk, and submits
// the text; the writer merges it with what other writers put into the file and writes it
// under the file's shared lock (SharedAutosave.h). Only the newest text is written: one
// submitted while an older one waits replaces it.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class AutosaveWriter {
public:
    // Called on the writer's thread after each write, with the reason when it failed.
    using Done = std::function<void(bool written, const std::string& error)>;

    // `loadedText`: the entries of the file that are ours already (read at start-up).
    AutosaveWriter(std::string dataFolder, std::string loadedText, Done done);
    // Writes what still waits, then ends the thread.
    ~AutosaveWriter();
    AutosaveWriter(const AutosaveWriter&) = delete;
    AutosaveWriter& operator=(const AutosaveWriter&) = delete;

    // Any thread: the queues as queue-file text, to be written soon.
    void Submit(std::string ownText);
    // The exit: drops the waiting text, waits for a write under way, then runs `save` here
    // with the record of our entries in the file (as SaveSharedAutosave keeps it).
    bool SaveNow(const std::function<bool(std::string& loadedText)>& save);

private:
    void Run();

    std::string m_dataFolder;
    Done m_done;
    // Lock order: m_mutex, then m_fileMutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_waiting;
    bool m_stopping = false;
    std::mutex m_fileMutex; // held for each write; guards m_loadedText
    std::string m_loadedText;
    std::thread m_thread;
};
