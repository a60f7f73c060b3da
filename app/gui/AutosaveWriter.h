#pragma once
// Writes "autosave.tvq" on a thread of its own while the window runs, so a long queue or a
// slow disk never holds up the window: the writer walks the queues (each under its own
// lock), merges the text with what other writers put into the file and writes it under
// the file's shared lock (SharedAutosave.h). Only the newest request is written: one made
// while an older one waits replaces it.
//
// The queues belong to sessions that the window's thread destroys; before it destroys
// one it calls ForgetQueues, which drops the waiting request and waits for a walk under
// way, so the writer never reads a queue that is gone.

#include "session/QueueFiles.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class AutosaveWriter {
public:
    // Called on the writer's thread after each write: whether it worked, the reason when
    // not, and how long the walk and the write took.
    using Done = std::function<void(bool written, const std::string& error, std::chrono::milliseconds took)>;

    // `loadedText`: the entries of the file that are ours already (read at start-up).
    AutosaveWriter(std::string dataFolder, std::string loadedText, Done done);
    // Writes what still waits, then ends the thread.
    ~AutosaveWriter();
    AutosaveWriter(const AutosaveWriter&) = delete;
    AutosaveWriter& operator=(const AutosaveWriter&) = delete;

    // The queues to write soon (hosts are copied; the queues are read on the writer's
    // thread, so they must stay alive until ForgetQueues).
    void Submit(std::vector<CQueueSection> sections);
    // Before a queue that was submitted is destroyed.
    void ForgetQueues();
    // The exit: drops the waiting request, waits for a write under way, then runs `save`
    // here with the record of our entries in the file (as SaveSharedAutosave keeps it).
    bool SaveNow(const std::function<bool(std::string& loadedText)>& save);

private:
    void Run();

    std::string m_dataFolder;
    Done m_done;
    // m_mutex is held whenever one of the other two is taken, so they never deadlock.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::vector<CQueueSection>> m_waiting;
    bool m_stopping = false;
    std::mutex m_queuesMutex; // held while the writer walks the queues
    std::mutex m_fileMutex;   // held for each write; guards m_loadedText
    std::string m_loadedText;
    std::thread m_thread;
};
