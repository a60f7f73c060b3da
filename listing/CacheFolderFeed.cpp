#include "listing/CacheFolderFeed.h"

#include <system_error>

CCacheFolderFeed::CCacheFolderFeed(const std::string& cacheHome, std::vector<std::string> sites,
                                   Mode mode)
    : m_walker(cacheHome, std::move(sites))
{
    if (mode != Mode::ReadAhead)
        return;
    try {
        m_helper = std::thread([this] { ReadAhead(); });
    } catch (const std::system_error&) {
        // No thread to be had: Next walks in the caller's thread instead.
    }
}

CCacheFolderFeed::~CCacheFolderFeed()
{
    if (!m_helper.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    m_hasRoom.notify_all();
    m_helper.join();
}

bool CCacheFolderFeed::Next(CachedFolder& folder)
{
    if (!m_helper.joinable())
        return m_walker.Next(folder);
    if (m_nextTaken == m_taken.size()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_hasBatch.wait(lock, [this] { return !m_ready.empty() || m_finished; });
        if (m_ready.empty())
            return false;
        m_taken = std::move(m_ready.front());
        m_ready.pop_front();
        m_nextTaken = 0;
        const bool wakeHelper = m_ready.size() == kResumeAt;
        lock.unlock();
        if (wakeHelper)
            m_hasRoom.notify_all();
    }
    folder = std::move(m_taken[m_nextTaken++]);
    return true;
}

void CCacheFolderFeed::ReadAhead()
{
    Batch batch;
    CachedFolder folder;
    bool more = true;
    while (more) {
        more = m_walker.Next(folder);
        if (more)
            batch.push_back(std::move(folder));
        if ((batch.size() == kBatchSize || (!more && !batch.empty())) && !Publish(batch))
            return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_hasBatch.notify_all();
}

bool CCacheFolderFeed::Publish(Batch& batch)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_ready.size() == kMaxBatchesAhead)
            m_hasRoom.wait(lock, [this] { return m_ready.size() <= kResumeAt || m_cancelled; });
        if (m_cancelled)
            return false;
        m_ready.push_back(std::move(batch));
    }
    m_hasBatch.notify_all();
    batch = Batch();
    batch.reserve(kBatchSize);
    return true;
}
