#include "sites/SharedSettings.h"

CSharedSettings::CSharedSettings(CSettings initial)
    : m_current(std::make_shared<const CSettings>(std::move(initial)))
{
}

std::shared_ptr<const CSettings> CSharedSettings::Current() const
{
    std::lock_guard lock(m_mutex);
    return m_current;
}

void CSharedSettings::Replace(CSettings table)
{
    auto next = std::make_shared<const CSettings>(std::move(table));
    std::shared_ptr<const CSettings> previous;  // freed outside the lock
    std::lock_guard lock(m_mutex);
    previous = std::move(m_current);
    m_current = std::move(next);
}

void CSharedSettings::Edit(const std::function<void(CSettings&)>& change)
{
    std::shared_ptr<const CSettings> previous;
    std::lock_guard lock(m_mutex);
    CSettings copy = *m_current;
    change(copy);
    previous = std::move(m_current);
    m_current = std::make_shared<const CSettings>(std::move(copy));
}
