#include "session/ThrottledSaver.h"

CThrottledSaver::CThrottledSaver(std::function<bool()> save, std::chrono::milliseconds interval,
                                 Clock clock)
    : m_save(std::move(save)), m_interval(interval), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return std::chrono::steady_clock::now(); };
}

bool CThrottledSaver::Tick()
{
    if (!m_dirty)
        return false;
    std::lock_guard lock(m_saveMutex);
    const auto now = m_clock();
    if (m_savedBefore && now - m_lastSave < m_interval)
        return false;
    return SaveNow(now);
}

bool CThrottledSaver::Flush()
{
    if (!m_dirty)
        return true;
    std::lock_guard lock(m_saveMutex);
    return SaveNow(m_clock());
}

bool CThrottledSaver::SaveNow(std::chrono::steady_clock::time_point now)
{
    // Cleared before saving: a change made while the file is written marks it again.
    m_dirty = false;
    m_lastSave = now;
    m_savedBefore = true;
    if (m_save && m_save())
        return true;
    m_dirty = true;
    return false;
}
