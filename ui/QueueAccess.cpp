#include "ui/QueueAccess.h"

void QueueAccess::forEach(const std::function<void(const CQueueEntry&)>& visit) const
{
    m_queue.ForEach(visit);
}

std::optional<CQueueEntry> QueueAccess::find(QueueEntryId entry) const
{
    return m_queue.Find(entry);
}

QueueAccess::EditResult QueueAccess::edit(QueueEntryId entry, const std::function<void(CQueueEntry&)>& change)
{
    if (m_queue.Edit(entry, change))
        return EditResult::Written;
    // Refused: the entry left the queue or the run holds it. Told apart afterwards; either
    // way nothing was written.
    return m_queue.Find(entry) ? EditResult::Transferring : EditResult::Gone;
}

std::size_t QueueAccess::remove(std::span<const QueueEntryId> entries)
{
    return m_queue.Remove(entries);
}

void QueueAccess::move(std::span<const QueueEntryId> entries, QueueMove how)
{
    m_queue.Move(entries, how);
}

void QueueAccess::clear()
{
    m_queue.ClearQueue();
}

void QueueAccess::reset(bool includeStopped)
{
    m_session.ResetQueue(includeStopped);
}
