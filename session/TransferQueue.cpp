#include "session/TransferQueue.h"

#include <algorithm>
#include <atomic>
#include <unordered_set>

namespace {

using Kind = CQueueChange::Kind;

bool IsTransferring(const std::unique_ptr<CQueueEntry>& entry)
{
    return entry->status == STATUS_TRANSFERRING;
}

} // namespace

QueueEntryId CTransferQueue::NewId()
{
    static std::atomic<QueueEntryId> last{0};
    return ++last;
}

void CTransferQueue::SetChangeListener(Listener listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

void CTransferQueue::NotifyChanged(const CQueueChange& change)
{
    Listener listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_listener;
    }
    if (listener)
        listener(change);
}

int CTransferQueue::AddEntry(std::unique_ptr<CQueueEntry> entry)
{
    if (!entry)
        return 0;
    CQueueChange change;
    int result = 0;
    {
        std::lock_guard lock(m_mutex);
        auto same = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const auto& queued) { return queued->SameJob(*entry); });
        if (same != m_entries.end()) {
            // The run works on a transferring entry: it is never replaced under it. The
            // same job is queued already, so the new entry is simply dropped.
            if (IsTransferring(*same))
                return -1;
            entry->id = (*same)->id;
            *same = std::move(entry);
            change = {Kind::Changed, {(*same)->id}};
            result = -1;
        } else {
            entry->id = NewId();
            change = {Kind::Added, {entry->id}};
            m_entries.push_back(std::move(entry));
        }
    }
    NotifyChanged(change);
    return result;
}

QueueEntryId CTransferQueue::Append(std::unique_ptr<CQueueEntry> entry)
{
    if (!entry)
        return 0;
    const QueueEntryId id = NewId();
    {
        std::lock_guard lock(m_mutex);
        entry->id = id;
        m_entries.push_back(std::move(entry));
    }
    NotifyChanged({Kind::Added, {id}});
    return id;
}

std::size_t CTransferQueue::Remove(std::span<const QueueEntryId> ids)
{
    const std::unordered_set<QueueEntryId> wanted(ids.begin(), ids.end());
    EntryList removed; // destroyed outside the lock
    CQueueChange change{Kind::Removed, {}};
    {
        std::lock_guard lock(m_mutex);
        auto keep = std::stable_partition(m_entries.begin(), m_entries.end(), [&](const auto& entry) {
            return !wanted.contains(entry->id) || IsTransferring(entry);
        });
        for (auto it = keep; it != m_entries.end(); ++it) {
            change.entries.push_back((*it)->id);
            removed.push_back(std::move(*it));
        }
        m_entries.erase(keep, m_entries.end());
    }
    if (!removed.empty())
        NotifyChanged(change);
    return removed.size();
}

bool CTransferQueue::Edit(QueueEntryId id, const std::function<void(CQueueEntry&)>& change)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = FindLocked(id);
        if (it == m_entries.end() || IsTransferring(*it))
            return false;
        CQueueEntry& entry = **it;
        const int status = entry.status;
        change(entry);
        entry.id = id;
        entry.status = status;
    }
    NotifyChanged({Kind::Changed, {id}});
    return true;
}

void CTransferQueue::Move(std::span<const QueueEntryId> ids, QueueMove how)
{
    const std::unordered_set<QueueEntryId> wanted(ids.begin(), ids.end());
    CQueueChange change{Kind::Moved, {}};
    {
        std::lock_guard lock(m_mutex);
        // A transferring entry never moves by itself: it counts as not selected.
        auto selected = [&](const std::unique_ptr<CQueueEntry>& entry) {
            return wanted.contains(entry->id) && !IsTransferring(entry);
        };
        switch (how) {
        case QueueMove::Up: {
            bool passedUnselected = false;
            for (std::size_t i = 0; i < m_entries.size(); ++i) {
                if (!selected(m_entries[i]))
                    passedUnselected = true;
                else if (passedUnselected)
                    std::swap(m_entries[i - 1], m_entries[i]);
            }
            break;
        }
        case QueueMove::Down: {
            bool passedUnselected = false;
            for (std::size_t i = m_entries.size(); i-- > 0;) {
                if (!selected(m_entries[i]))
                    passedUnselected = true;
                else if (passedUnselected)
                    std::swap(m_entries[i + 1], m_entries[i]);
            }
            break;
        }
        case QueueMove::Top:
            std::stable_partition(m_entries.begin(), m_entries.end(), selected);
            break;
        case QueueMove::Bottom:
            std::stable_partition(m_entries.begin(), m_entries.end(),
                                  [&](const auto& entry) { return !selected(entry); });
            break;
        }
        for (const auto& entry : m_entries)
            if (selected(entry))
                change.entries.push_back(entry->id);
    }
    if (!change.entries.empty())
        NotifyChanged(change);
}

void CTransferQueue::ClearQueue()
{
    EntryList removed;
    CQueueChange change{Kind::Removed, {}};
    {
        std::lock_guard lock(m_mutex);
        auto keep = std::stable_partition(m_entries.begin(), m_entries.end(), IsTransferring);
        for (auto it = keep; it != m_entries.end(); ++it) {
            change.entries.push_back((*it)->id);
            removed.push_back(std::move(*it));
        }
        m_entries.erase(keep, m_entries.end());
    }
    NotifyChanged(change);
}

void CTransferQueue::ResetQueue(bool includeStopped)
{
    CQueueChange change{Kind::Changed, {}};
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_entries) {
            if (IsTransferring(entry) || entry->status == STATUS_QUEUED)
                continue;
            if (includeStopped || entry->status != STATUS_STOPPED) {
                entry->status = STATUS_QUEUED;
                change.entries.push_back(entry->id);
            }
        }
    }
    NotifyChanged(change);
}

std::optional<CQueueEntry> CTransferQueue::BeginNext()
{
    std::optional<CQueueEntry> working;
    {
        std::lock_guard lock(m_mutex);
        auto next = std::find_if(m_entries.begin(), m_entries.end(),
                                 [](const auto& entry) { return entry->status == STATUS_QUEUED; });
        if (next == m_entries.end())
            return std::nullopt;
        (*next)->status = STATUS_TRANSFERRING;
        working = **next;
    }
    NotifyChanged({Kind::Changed, {working->id}});
    return working;
}

void CTransferQueue::Complete(QueueEntryId id)
{
    EntryList removed;
    {
        std::lock_guard lock(m_mutex);
        auto it = FindLocked(id);
        if (it == m_entries.end())
            return;
        removed.push_back(std::move(*it));
        m_entries.erase(it);
    }
    NotifyChanged({Kind::Removed, {id}});
}

void CTransferQueue::SetAside(const CQueueEntry& working, int status)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = FindLocked(working.id);
        if (it == m_entries.end())
            return;
        CQueueEntry& entry = **it;
        entry.localBase = working.localBase;
        entry.remoteBase = working.remoteBase;
        entry.pending = working.pending;
        entry.expanded = working.expanded;
        entry.status = status;
    }
    NotifyChanged({Kind::Changed, {working.id}});
}

CFtpSession* CTransferQueue::PartnerOf(QueueEntryId id) const
{
    std::lock_guard lock(m_mutex);
    auto it = FindLocked(id);
    return it == m_entries.end() ? nullptr : (*it)->partner;
}

std::size_t CTransferQueue::ForgetPartner(const CFtpSession* partner)
{
    CQueueChange change{Kind::Changed, {}};
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_entries) {
            if (entry->partner != partner)
                continue;
            entry->partner = nullptr;
            if (!IsTransferring(entry))
                entry->status = STATUS_STOPPED;
            change.entries.push_back(entry->id);
        }
    }
    if (!change.entries.empty())
        NotifyChanged(change);
    return change.entries.size();
}

std::optional<CQueueEntry> CTransferQueue::Find(QueueEntryId id) const
{
    std::lock_guard lock(m_mutex);
    auto it = FindLocked(id);
    if (it == m_entries.end())
        return std::nullopt;
    return **it;
}

std::optional<CQueueEntry> CTransferQueue::FindEntry(const std::string& localPath,
                                                     const std::string& remotePath,
                                                     int operation) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_entries)
        if (entry->operation == operation && entry->localPath == localPath &&
            entry->remotePath == remotePath)
            return *entry;
    return std::nullopt;
}

std::vector<QueueEntryId> CTransferQueue::Ids() const
{
    std::lock_guard lock(m_mutex);
    std::vector<QueueEntryId> ids;
    ids.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        ids.push_back(entry->id);
    return ids;
}

int CTransferQueue::IndexOf(QueueEntryId id) const
{
    std::lock_guard lock(m_mutex);
    auto it = FindLocked(id);
    return it == m_entries.end() ? -1 : static_cast<int>(it - m_entries.begin());
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

void CTransferQueue::DestroyAll()
{
    EntryList removed;
    CQueueChange change{Kind::Removed, {}};
    {
        std::lock_guard lock(m_mutex);
        removed.swap(m_entries);
    }
    for (const auto& entry : removed)
        change.entries.push_back(entry->id);
    NotifyChanged(change);
}

CTransferQueue::EntryList::iterator CTransferQueue::FindLocked(QueueEntryId id)
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [id](const auto& queued) { return queued->id == id; });
}

CTransferQueue::EntryList::const_iterator CTransferQueue::FindLocked(QueueEntryId id) const
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [id](const auto& queued) { return queued->id == id; });
}
