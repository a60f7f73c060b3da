#pragma once
// The queue view's one way into a session's transfer queue. Every call the view makes on
// the engine's queue goes through here, so the view never depends on how the queue names
// its entries.
//
// Rows name entries by identity (QueueEntryRef), never by position. Today the identity is
// the entry's address, and every call first checks, under the queue's lock, that the entry
// is still in the queue, so an entry the run finished (and freed) is never touched. An
// entry being transferred belongs to the run: remove, edit, move and reset leave it alone.

#include "session/FtpSession.h"
#include "session/QueueEntry.h"
#include "session/TransferQueue.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// What names one entry of a queue for as long as it is in that queue.
using QueueEntryRef = const CQueueEntry*;

class QueueAccess {
public:
    explicit QueueAccess(CFtpSession& session) : m_session(session), m_queue(session.Queue()) {}

    // Calls `visit` for each entry in queue order with the queue locked; `visit` must not
    // call back into the queue.
    void forEach(const std::function<void(QueueEntryRef, const CQueueEntry&)>& visit) const;
    // A copy of the entry (without the items still pending beneath it), or none when it
    // has left the queue.
    std::optional<CQueueEntry> find(QueueEntryRef entry) const;

    enum class EditResult { Written, Gone, Transferring };
    // Lets `change` edit the entry; nothing is written when the entry has left the queue
    // or is being transferred.
    EditResult edit(QueueEntryRef entry, const std::function<void(CQueueEntry&)>& change);
    // Removes the entries named that are still queued and not being transferred; the
    // number removed.
    std::size_t remove(std::span<const QueueEntryRef> entries);
    void move(std::span<const QueueEntryRef> entries, QueueMove how);
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
