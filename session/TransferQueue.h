#pragma once
// One session's transfer queue: the entries in queue order, owned here.
//
// The interface thread adds entries while the session's worker may be running the queue,
// so the list itself is guarded; an entry's fields belong to the worker while it is being
// transferred. Entries are removed only by the run (a finished entry) or when no run is
// under way (ClearQueue, the queue view's remove).

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session/QueueEntry.h"

// The queue view's move commands. The selected entries keep their order among themselves.
enum class QueueMove {
    Up,      // each selected entry below an unselected one moves one place up
    Down,    // the mirror image
    Top,     // the selected entries land under the selected block at the top
    Bottom,  // the selected entries land above the selected block at the bottom
};

class CTransferQueue {
public:
    using EntryList = std::list<std::unique_ptr<CQueueEntry>>;

    CTransferQueue() = default;
    CTransferQueue(const CTransferQueue&) = delete;
    CTransferQueue& operator=(const CTransferQueue&) = delete;

    // Called after every change of the list or of an entry's state (the queue view
    // refreshes, the autosave is marked). Called without the queue's lock held.
    void SetChangeListener(std::function<void()> listener);
    // Reports a change made to an entry in place (its status, its pending items).
    void NotifyChanged();

    // Appends the entry, or replaces the first entry of the same job (SameJob) at its
    // position, destroying the old one. 0 when appended, -1 when it replaced one. An
    // entry being transferred is never replaced: the new one is dropped (-1 too).
    int AddEntry(std::unique_ptr<CQueueEntry> entry);
    // Appends without looking for the same job (entries loaded from a queue file).
    void Append(std::unique_ptr<CQueueEntry> entry);
    // Removes and destroys every entry except one being transferred, which stays.
    void ClearQueue();
    // Removes and destroys every entry, a transferring one too: only when the session is
    // being destroyed and its worker has ended.
    void DestroyAll();
    // Removes and destroys the entry; false when it is not in this queue.
    bool Remove(const CQueueEntry* entry);

    // The first entry of the same job, or null.
    CQueueEntry* FindEntry(const std::string& localPath, const std::string& remotePath,
                           int operation) const;
    CQueueEntry* First() const;
    // The entry after `entry` in queue order (entries appended meanwhile are reached too),
    // or null at the end or when `entry` is not in the queue. A run takes the next entry
    // while the current one is still marked transferring: once it is not, AddEntry may
    // replace it.
    CQueueEntry* Next(const CQueueEntry* entry) const;
    // Position in queue order, -1 when absent.
    int IndexOf(const CQueueEntry* entry) const;

    bool IsEmpty() const;
    std::size_t Size() const;

    // Moves the entries named (entries no longer in the queue are ignored); a
    // transferring entry never moves by itself.
    void Move(const std::vector<const CQueueEntry*>& entries, QueueMove how);

    // Sets every entry back to queued, stopped ones only when asked; the entry being
    // transferred keeps its status.
    void ResetQueue(bool includeStopped);
    bool HasStoppedEntries() const;
    // True for an empty queue.
    bool AllStopped() const;

    // Calls `visit` for each entry in queue order with the list locked: for a consistent
    // snapshot (saving, showing). `visit` must not call back into the queue.
    void ForEach(const std::function<void(const CQueueEntry&)>& visit) const;

private:
    EntryList::const_iterator FindLocked(const CQueueEntry* entry) const;

    mutable std::mutex m_mutex;
    EntryList m_entries;
    std::function<void()> m_listener;
};
