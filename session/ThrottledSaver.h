#pragma once
// Keeps a file such as "autosave.tvq" up to date without rewriting it on every change:
// changes only mark it dirty, and a periodic tick (the main frame's timer, the CLI's loop)
// saves it when it is dirty and the last save is at least the interval ago. Flush saves
// at once, for the exit.
//
// Usage: CThrottledSaver saver([&] { return SaveAutosave(...); });
//        queue.SetChangeListener([&](const CQueueChange&) { saver.MarkChanged(); });
//        every 500 ms: saver.Tick();   at exit: saver.Flush();

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

class CThrottledSaver {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit CThrottledSaver(std::function<bool()> save,
                             std::chrono::milliseconds interval = std::chrono::seconds(1),
                             Clock clock = {});

    // Any thread: something that the file holds has changed.
    void MarkChanged() { m_dirty = true; }
    bool IsDirty() const { return m_dirty; }

    // Saves when dirty and the interval since the last save has passed. True when it saved.
    bool Tick();
    // Saves now when dirty. False when saving failed (the change stays marked).
    bool Flush();

private:
    bool SaveNow(std::chrono::steady_clock::time_point now);

    std::function<bool()> m_save;
    std::chrono::milliseconds m_interval;
    Clock m_clock;
    std::atomic<bool> m_dirty{false};
    std::mutex m_saveMutex;  // one save at a time
    bool m_savedBefore = false;
    std::chrono::steady_clock::time_point m_lastSave{};
};
