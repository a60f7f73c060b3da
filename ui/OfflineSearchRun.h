#pragma once
// One offline search on a thread of its own. The walk's results and the folder it is in
// are handed to the window thread in batches (one scheduled drain at a time), so the
// window answers at every moment however many names the cache holds.

#include "listing/OfflineSearch.h"
#include "listing/pattern/PatternSearch.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class OfflineSearchRun : public QObject {
    Q_OBJECT
public:
    explicit OfflineSearchRun(std::string cacheHome, QObject* parent = nullptr);
    ~OfflineSearchRun() override; // stops a running search and waits for its thread

    // Compiles the pattern (wildcards unless `regularExpression`). A pattern the engine
    // cannot compile starts nothing and its error is returned.
    PATTERN_ERROR start(const std::vector<std::string>& sites, const std::string& pattern,
                        bool regularExpression);
    // Asks the search to end at its next folder; finished() follows.
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

signals:
    // New results, in order (the receiver may take them); `folder` is the folder the
    // search is in now. Emitted on the window thread, for direct connections.
    void resultsArrived(std::vector<std::string>& urls, const std::string& folder);
    // The search ended (after the last resultsArrived); `stopped` when asked to stop.
    void finished(bool stopped);

private:
    void run(std::vector<std::string> sites);
    void flush(std::vector<std::string>& batch, const std::string* folder);
    void drain();
    void join();

    std::string m_cacheHome;
    CPatternSearch m_pattern;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    std::mutex m_mutex; // guards what follows
    std::vector<std::string> m_pending;
    std::string m_folder;
    bool m_drainScheduled = false;
    // When the last drain with results was asked for: after the first results, drains come
    // at most every kDrainInterval, so the window spends its time on the user, not on many
    // small batches.
    std::optional<std::chrono::steady_clock::time_point> m_lastDrainPosted;
    bool m_done = false;
    bool m_stopped = false;
};
