#include "ui/QueueAccess.h"

#include <unordered_set>

void QueueAccess::forEach(const std::function<void(QueueEntryRef, const CQueueEntry&)>& visit) const
{
    m_queue.ForEach([&](const CQueueEntry& entry) { visit(&entry, entry); });
}

std::optional<CQueueEntry> QueueAccess::find(QueueEntryRef wanted) const
{
    std::optional<CQueueEntry> copy;
    m_queue.ForEach([&](const CQueueEntry& entry) {
        if (&entry != wanted || copy)
            return;
        copy.emplace();
        CQueueEntry& c = *copy;
        c.operation = entry.operation;
        c.localPath = entry.localPath;
        c.remotePath = entry.remotePath;
        c.status = entry.status;
        c.sizeHigh = entry.sizeHigh;
        c.sizeLow = entry.sizeLow;
        c.includeSubdirectories = entry.includeSubdirectories;
        c.pattern = entry.pattern;
        c.updateOnly = entry.updateOnly;
        c.kind = entry.kind;
        c.afterDownloadAction = entry.afterDownloadAction;
    });
    return copy;
}

QueueAccess::EditResult QueueAccess::edit(QueueEntryRef entry, const std::function<void(CQueueEntry&)>& change)
{
    // Today's queue has no locked edit: the entry is looked up under the lock and written
    // only while it is still there and queued. The queue with entry identities does both
    // in one locked step.
    const std::optional<CQueueEntry> current = find(entry);
    if (!current)
        return EditResult::Gone;
    if (current->status == STATUS_TRANSFERRING)
        return EditResult::Transferring;
    change(*const_cast<CQueueEntry*>(entry));
    m_queue.NotifyChanged();
    return EditResult::Written;
}

std::size_t QueueAccess::remove(std::span<const QueueEntryRef> entries)
{
    const std::unordered_set<QueueEntryRef> wanted(entries.begin(), entries.end());
    std::vector<QueueEntryRef> removable;
    m_queue.ForEach([&](const CQueueEntry& entry) {
        if (wanted.contains(&entry) && entry.status != STATUS_TRANSFERRING)
            removable.push_back(&entry);
    });
    std::size_t removed = 0;
    for (QueueEntryRef entry : removable)
        removed += m_queue.Remove(entry) ? 1 : 0; // false: the run took it meanwhile
    return removed;
}

void QueueAccess::move(std::span<const QueueEntryRef> entries, QueueMove how)
{
    m_queue.Move(std::vector<const CQueueEntry*>(entries.begin(), entries.end()), how);
}

void QueueAccess::clear()
{
    m_queue.ClearQueue();
}

void QueueAccess::reset(bool includeStopped)
{
    m_session.ResetQueue(includeStopped);
}
