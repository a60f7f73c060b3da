#pragma once
// Hands over the folders of a cache walk in walk order while a helper thread already
// opens and lists the next ones, so the listing of folders overlaps with the reading and
// matching of list files. Where no thread can be started the walk runs in the
// caller's thread; the folders come in the same order either way.
//
// Usage: CCacheFolderFeed feed(home, sites); CachedFolder folder; while (feed.Next(folder)) ...

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listing/CacheFolderWalker.h"

class CCacheFolderFeed {
public:
    enum class Mode { ReadAhead, InCallerThread };

    CCacheFolderFeed(const std::string& cacheHome, std::vector<std::string> sites,
                     Mode mode = Mode::ReadAhead);
    // Stops the helper, which may be well ahead, and closes what it opened.
    ~CCacheFolderFeed();
    CCacheFolderFeed(const CCacheFolderFeed&) = delete;
    CCacheFolderFeed& operator=(const CCacheFolderFeed&) = delete;

    // The next folder of the walk; false after the last one.
    bool Next(CachedFolder& folder);

private:
    using Batch = std::vector<CachedFolder>;
    // Folders are passed over in small batches so the threads meet rarely. The limit keeps
    // the folders held open ahead of the matching to a few dozen.
    static constexpr std::size_t kBatchSize = 8;
    static constexpr std::size_t kMaxBatchesAhead = 6;
    // A helper that is far enough ahead sleeps until the caller has taken half of that,
    // rather than waking for every batch taken.
    static constexpr std::size_t kResumeAt = kMaxBatchesAhead / 2;

    void ReadAhead();
    bool Publish(Batch& batch);

    CCacheFolderWalker m_walker;
    std::mutex m_mutex;
    std::condition_variable m_hasBatch; // the caller waits on it
    std::condition_variable m_hasRoom;  // the helper waits on it
    std::deque<Batch> m_ready;  // guarded by m_mutex
    bool m_finished = false;    // guarded by m_mutex: the helper has handed over everything
    bool m_cancelled = false;   // guarded by m_mutex: the caller wants no more
    Batch m_taken;              // the caller's batch
    std::size_t m_nextTaken = 0;
    std::thread m_helper;
};
