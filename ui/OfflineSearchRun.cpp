#include "ui/OfflineSearchRun.h"

#include <QMetaObject>

namespace {

// Results a search thread collects before handing them over, besides at every folder.
constexpr std::size_t kBatch = 4096;
constexpr std::chrono::milliseconds kDrainInterval{40};

} // namespace

OfflineSearchRun::OfflineSearchRun(std::string cacheHome, QObject* parent)
    : QObject(parent), m_cacheHome(std::move(cacheHome))
{
}

OfflineSearchRun::~OfflineSearchRun()
{
    m_stop = true;
    join();
}

PATTERN_ERROR OfflineSearchRun::start(const std::vector<std::string>& sites, const std::string& pattern,
                                      bool regularExpression)
{
    if (isRunning()) {
        // The dialog never starts a second search; a caller that does gets told so.
        PATTERN_ERROR busy;
        busy.message = "a search is already running";
        return busy;
    }
    const PATTERN_ERROR error = CompileSearchPattern(m_pattern, pattern, regularExpression);
    if (error.Failed())
        return error;
    m_stop = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.clear();
        m_folder.clear();
        m_drainScheduled = m_done = m_stopped = false;
        m_lastDrainPosted.reset();
    }
    m_thread = std::thread(&OfflineSearchRun::run, this, sites);
    return {};
}

void OfflineSearchRun::stop()
{
    m_stop = true;
}

void OfflineSearchRun::run(std::vector<std::string> sites)
{
    COfflineSearchWalk walk(m_cacheHome, m_pattern);
    std::vector<std::string> batch;
    std::string folder;
    COfflineSearchWalk::Callbacks callbacks;
    callbacks.onFolder = [&](const std::string& path) {
        // Hand over what the last folder found, with the name of the one starting now.
        folder = path;
        flush(batch, &folder);
    };
    callbacks.onResult = [&](const std::string& url) {
        batch.push_back(url);
        if (batch.size() >= kBatch)
            flush(batch, nullptr);
    };
    const bool stopped = walk.SearchSites(sites, callbacks, m_stop) == COfflineSearchWalk::Outcome::Stopped;
    flush(batch, nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_stopped = stopped;
        if (m_drainScheduled)
            return;
        m_drainScheduled = true;
    }
    QMetaObject::invokeMethod(this, &OfflineSearchRun::drain, Qt::QueuedConnection);
}

void OfflineSearchRun::flush(std::vector<std::string>& batch, const std::string* folder)
{
    {
        std::lock_guard lock(m_mutex);
        if (folder)
            m_folder = *folder;
        if (!batch.empty()) {
            if (m_pending.empty())
                m_pending.swap(batch);
            else
                m_pending.insert(m_pending.end(), std::make_move_iterator(batch.begin()),
                                 std::make_move_iterator(batch.end()));
            batch.clear();
        }
        if (m_drainScheduled)
            return;
        // Too soon after the last drain with results: a later flush or the end of the walk
        // hands it over. The first results go at once.
        const auto now = std::chrono::steady_clock::now();
        if (m_lastDrainPosted && now - *m_lastDrainPosted < kDrainInterval)
            return;
        if (!m_pending.empty())
            m_lastDrainPosted = now;
        m_drainScheduled = true;
    }
    QMetaObject::invokeMethod(this, &OfflineSearchRun::drain, Qt::QueuedConnection);
}

void OfflineSearchRun::drain()
{
    std::vector<std::string> urls;
    std::string folder;
    bool done = false;
    bool stopped = false;
    {
        std::lock_guard lock(m_mutex);
        urls.swap(m_pending);
        folder = m_folder;
        done = m_done;
        stopped = m_stopped;
        m_drainScheduled = false;
    }
    if (!urls.empty() || !folder.empty())
        emit resultsArrived(urls, folder);
    if (done) {
        join();
        {
            std::lock_guard lock(m_mutex);
            m_done = false;
        }
        emit finished(stopped);
    }
}

void OfflineSearchRun::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
