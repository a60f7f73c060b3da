#include "session/TransferQueue.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

void CTransferQueue::SetChangeListener(std::function<void()> listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

void CTransferQueue::NotifyChanged()
{
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_listener;
    }
    if (listener)
        listener();
}

int CTransferQueue::AddEntry(std::unique_ptr<CQueueEntry> entry)
{
    if (!entry)
        return 0;
    int result = 0;
    {
        std::lock_guard lock(m_mutex);
        auto same = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const auto& queued) { return queued->SameJob(*entry); });
        if (same != m_entries.end()) {
            // The worker is using an entry being transferred: it is never destroyed under
            // it. The same job is queued already, so the new entry is simply dropped.
            if ((*same)->status != STATUS_TRANSFERRING)
                *same = std::move(entry);
            result = -1;
        } else {
            m_entries.push_back(std::move(entry));
        }
    }
    NotifyChanged();
    return result;
}

void CTransferQueue::Append(std::unique_ptr<CQueueEntry> entry)
{
    if (!entry)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    NotifyChanged();
}

void CTransferQueue::ClearQueue()
{
    EntryList removed;  // destroyed outside the lock
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            auto next = std::next(it);
            if ((*it)->status != STATUS_TRANSFERRING)
                removed.splice(removed.end(), m_entries, it);
            it = next;
        }
    }
    NotifyChanged();
}

void CTransferQueue::DestroyAll()
{
    EntryList removed;
    {
        std::lock_guard lock(m_mutex);
        removed.swap(m_entries);
    }
    NotifyChanged();
}

bool CTransferQueue::Remove(const CQueueEntry* entry)
{
    EntryList removed;
    {
        std::lock_guard lock(m_mutex);
        auto it = FindLocked(entry);
        if (it == m_entries.end())
            return false;
        removed.splice(removed.end(), m_entries, it);
    }
    NotifyChanged();
    return true;
}

CQueueEntry* CTransferQueue::FindEntry(const std::string& localPath, const std::string& remotePath,
                                       int operation) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_entries)
        if (entry->operation == operation && entry->localPath == localPath &&
            entry->remotePath == remotePath)
            return entry.get();
    return nullptr;
}

CQueueEntry* CTransferQueue::First() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.empty() ? nullptr : m_entries.front().get();
}

CQueueEntry* CTransferQueue::Next(const CQueueEntry* entry) const
{
    std::lock_guard lock(m_mutex);
    auto it = FindLocked(entry);
    if (it == m_entries.end() || ++it == m_entries.end())
        return nullptr;
    return it->get();
}

int CTransferQueue::IndexOf(const CQueueEntry* entry) const
{
    std::lock_guard lock(m_mutex);
    int index = 0;
    for (const auto& queued : m_entries) {
        if (queued.get() == entry)
            return index;
        ++index;
    }
    return -1;
}

bool CTransferQueue::IsEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.empty();
}

std::size_t CTransferQueue::Size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

void CTransferQueue::ResetQueue(bool includeStopped)
{
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_entries)
            if (entry->status != STATUS_TRANSFERRING &&
                (includeStopped || entry->status != STATUS_STOPPED))
                entry->status = STATUS_QUEUED;
    }
    NotifyChanged();
}

void CTransferQueue::Move(const std::vector<const CQueueEntry*>& entries, QueueMove how)
{
    {
        std::lock_guard lock(m_mutex);
        const std::unordered_set<const CQueueEntry*> wanted(entries.begin(), entries.end());
        // A transferring entry never moves by itself: it counts as not selected.
        auto selected = [&](const std::unique_ptr<CQueueEntry>& entry) {
            return wanted.contains(entry.get()) && entry->status != STATUS_TRANSFERRING;
        };
        // The entries themselves stay where they are in memory; only the order changes.
        std::vector<std::unique_ptr<CQueueEntry>> order;
        order.reserve(m_entries.size());
        for (auto& entry : m_entries)
            order.push_back(std::move(entry));
        switch (how) {
        case QueueMove::Up: {
            bool passedUnselected = false;
            for (std::size_t i = 0; i < order.size(); ++i) {
                if (!selected(order[i]))
                    passedUnselected = true;
                else if (passedUnselected)
                    std::swap(order[i - 1], order[i]);
            }
            break;
        }
        case QueueMove::Down: {
            bool passedUnselected = false;
            for (std::size_t i = order.size(); i-- > 0;) {
                if (!selected(order[i]))
                    passedUnselected = true;
                else if (passedUnselected)
                    std::swap(order[i + 1], order[i]);
            }
            break;
        }
        case QueueMove::Top:
            std::stable_partition(order.begin(), order.end(), selected);
            break;
        case QueueMove::Bottom:
            std::stable_partition(order.begin(), order.end(),
                                  [&](const auto& entry) { return !selected(entry); });
            break;
        }
        auto slot = m_entries.begin();
        for (auto& entry : order)
            *slot++ = std::move(entry);
    }
    NotifyChanged();
}

bool CTransferQueue::HasStoppedEntries() const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [](const auto& entry) { return entry->status == STATUS_STOPPED; });
}

bool CTransferQueue::AllStopped() const
{
    std::lock_guard lock(m_mutex);
    return std::all_of(m_entries.begin(), m_entries.end(),
                       [](const auto& entry) { return entry->status == STATUS_STOPPED; });
}

void CTransferQueue::ForEach(const std::function<void(const CQueueEntry&)>& visit) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_entries)
        visit(*entry);
}

CTransferQueue::EntryList::const_iterator CTransferQueue::FindLocked(const CQueueEntry* entry) const
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [entry](const auto& queued) { return queued.get() == entry; });
}
