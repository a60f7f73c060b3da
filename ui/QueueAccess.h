#pragma once
// The queue view's one way into a session's transfer queue. Every call the view makes on
// the engine's queue goes through here, so the view never depends on how the queue names
// its entries.
//
// Rows name entries by identity (QueueEntryId), never by position. The queue looks each
// identity up under its lock, so an entry the run finished meanwhile is simply not found.
// An entry being transferred belongs to the run: remove, edit, move and reset leave it
// alone.

#include "session/FtpSession.h"
#include "session/QueueEntry.h"
#include "session/TransferQueue.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class QueueAccess {
public:
    explicit QueueAccess(CFtpSession& session) : m_session(session), m_queue(session.Queue()) {}

    // Calls `visit` for each entry in queue order with the queue locked; `visit` must not
    // call back into the queue. The entry's identity is entry.id.
    void forEach(const std::function<void(const CQueueEntry&)>& visit) const;
    // A copy of the entry, or none when it has left the queue.
    std::optional<CQueueEntry> find(QueueEntryId entry) const;

    enum class EditResult { Written, Gone, Transferring };
    // Lets `change` edit the entry; nothing is written when the entry has left the queue
    // or is being transferred.
    EditResult edit(QueueEntryId entry, const std::function<void(CQueueEntry&)>& change);
    // Removes the entries named that are still in the queue and not being transferred;
    // the number removed.
    std::size_t remove(std::span<const QueueEntryId> entries);
    void move(std::span<const QueueEntryId> entries, QueueMove how);
    // Every entry except one being transferred leaves the queue.
    void clear();
    // Every entry back to queued, stopped ones too when asked; the transferring one stays.
    // The session's log says so.
    void reset(bool includeStopped);

    bool isEmpty() const { return m_queue.IsEmpty(); }
    std::size_t size() const { return m_queue.Size(); }

private:
    CFtpSession& m_session;
    CTransferQueue& m_queue;
};
