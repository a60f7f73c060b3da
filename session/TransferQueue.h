#pragma once
// One session's transfer queue: the entries in queue order, owned here, each named by its
// identity (CQueueEntry::id) rather than by a position that goes stale.
//
// Every operation takes the queue's one lock, so the interface thread (the queue view, the
// builders, Properties) and the session's worker (the run) may call any of them at any time.
// Nobody outside holds a pointer into the queue: the run takes a working copy of the entry
// it transfers (BeginNext) and hands the outcome back (Complete, SetAside); the view reads
// copies (ForEach, Find). The entry being transferred is never freed, moved, edited, reset or
// replaced by anyone but the run.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "session/QueueEntry.h"

// What changed in a queue, for the queue view and the autosave.
struct CQueueChange {
    enum class Kind {
        Added,    // entries appended (or put in place of the same job: Changed)
        Removed,  // entries taken out (done, removed by the user, cleared)
        Changed,  // an entry's fields or status changed in place
        Moved,    // the order changed; the entries named were moved by the user
    };
    Kind kind = Kind::Changed;
    std::vector<QueueEntryId> entries;  // the entries concerned
};

// The queue view's move commands. The selected entries keep their order among themselves.
enum class QueueMove {
    Up,      // each selected entry below an unselected one moves one place up
    Down,    // the mirror image
    Top,     // the selected entries land under the selected block at the top
    Bottom,  // the selected entries land above the selected block at the bottom
};

class CTransferQueue {
public:
    using Listener = std::function<void(const CQueueChange&)>;

    CTransferQueue() = default;
    CTransferQueue(const CTransferQueue&) = delete;
    CTransferQueue& operator=(const CTransferQueue&) = delete;

    // Called after every change, on the thread that made it, without the queue's lock held:
    // the listener may read the queue, but must not block on another thread that waits
    // for this one.
    void SetChangeListener(Listener listener);

    // ---- Adding (any thread) ----
    // Appends the entry with a new identity, or puts it in place of the first entry of the
    // same job (SameJob), which keeps its identity and position. 0 when appended, -1 when
    // it replaced one. An entry being transferred is never replaced: the new one is
    // dropped (-1 too).
    int AddEntry(std::unique_ptr<CQueueEntry> entry);
    // Appends without looking for the same job (entries loaded from a queue file). The
    // identity of the appended entry.
    QueueEntryId Append(std::unique_ptr<CQueueEntry> entry);

    // ---- The queue view's commands (any thread); none touches a transferring entry ----
    // Removes the entries named; the number removed.
    std::size_t Remove(std::span<const QueueEntryId> ids);
    bool Remove(QueueEntryId id) { return Remove(std::span(&id, 1)) == 1; }
    // Properties: lets `change` edit the entry in place. False, and nothing changed, when
    // the entry is gone or being transferred. Its identity and status stay.
    bool Edit(QueueEntryId id, const std::function<void(CQueueEntry&)>& change);
    void Move(std::span<const QueueEntryId> ids, QueueMove how);
    // Removes every entry except one being transferred.
    void ClearQueue();
    // Sets every entry back to queued (stopped ones only when asked); a transferring entry
    // keeps its status.
    void ResetQueue(bool includeStopped);

    // ---- The run (the session's worker) ----
    // The first queued entry in queue order, marked transferring in the same locked step;
    // its working copy is returned. None when no entry is queued.
    std::optional<CQueueEntry> BeginNext();
    // The transferred entry is done: it leaves the queue.
    void Complete(QueueEntryId id);
    // The transferred entry is not done: its progress (the expanded state and the items
    // still pending) is taken from the working copy and it gets `status`.
    void SetAside(const CQueueEntry& working, int status);

    // ---- Reading (any thread) ----
    // A copy of the entry, or none.
    std::optional<CQueueEntry> Find(QueueEntryId id) const;
    // A copy of the first entry of that job, or none.
    std::optional<CQueueEntry> FindEntry(const std::string& localPath,
                                         const std::string& remotePath, int operation) const;
    // The identities in queue order.
    std::vector<QueueEntryId> Ids() const;
    // Position in queue order, -1 when absent.
    int IndexOf(QueueEntryId id) const;
    bool IsEmpty() const;
    std::size_t Size() const;
    bool HasStoppedEntries() const;
    // True for an empty queue.
    bool AllStopped() const;
    // Calls `visit` for each entry in queue order with the list locked: for a consistent
    // snapshot (saving, showing). `visit` must not call back into the queue.
    void ForEach(const std::function<void(const CQueueEntry&)>& visit) const;

    // ---- Site-to-site partners (the session registry) ----
    // The partner the entry names now; null when none or when the entry is gone.
    CFtpSession* PartnerOf(QueueEntryId id) const;
    // The session `partner` is going away: every entry naming it forgets it and, unless it
    // is being transferred (its run fails by itself), is stopped. The number of entries.
    std::size_t ForgetPartner(const CFtpSession* partner);

    // Removes and destroys every entry, a transferring one too: only when the session is
    // being destroyed and its worker has ended.
    void DestroyAll();
    // Reports a change made to the entries through other means (none today but tests).
    void NotifyChanged(const CQueueChange& change);

private:
    using EntryList = std::vector<std::unique_ptr<CQueueEntry>>;
    EntryList::iterator FindLocked(QueueEntryId id);
    EntryList::const_iterator FindLocked(QueueEntryId id) const;
    static QueueEntryId NewId();

    mutable std::mutex m_mutex;
    EntryList m_entries;
    Listener m_listener;
};
