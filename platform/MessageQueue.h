#pragma once
// CMessageQueue: the per-thread message queue that stands in for a thread's window
// messages. Each thread that waits or owns message targets has one; it holds
//  - a wake-up fd (eventfd) that events, timers and posting threads use to wake it,
//  - the posted messages, each addressed to a target (the stand-in for a window),
//  - the poll sources (the thread's sockets), whose readiness MessageWait watches.
//
// Usage (the socket helper in net/ is the one real user):
//   std::shared_ptr<CMessageQueue> queue = CMessageQueue::ForThisThread();
//   TargetId id = queue->AddTarget(&helper);          // like creating a window
//   queue->Post(id, 1025, handle, lParam);            // from any thread (PostMessage)
//   queue->RemoveTarget(id);                          // drops its pending messages
// Messages are dispatched by MessageWait on the owning thread, in posting order.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <poll.h>

// Extra data a posted message owns; freed with the message, also when it is dropped.
class CMessagePayload {
public:
    virtual ~CMessagePayload() = default;
};

struct CMessage {
    uint64_t target = 0;
    unsigned message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::unique_ptr<CMessagePayload> payload;
};

// Receives posted messages (the stand-in for a window procedure).
class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    virtual void OnMessage(CMessage& message) = 0;
};

// A set of fds that MessageWait polls on the owning thread (the thread's sockets).
class CPollSource {
public:
    virtual ~CPollSource() = default;
    // Appends the fds to watch, with the events wanted; fds with nothing to wait for are
    // left out so that a hung-up fd cannot make poll() spin.
    virtual void CollectPollFds(std::vector<pollfd>& fds) = 0;
    // Called after poll() with the entries this source appended (same order, revents
    // filled in); turns readiness into posted messages.
    virtual void HandlePollResults(const pollfd* fds, size_t count) = 0;
};

class CMessageQueue {
public:
    using TargetId = uint64_t;

    // The calling thread's queue, created on first use and released at thread exit (or
    // when the last other holder lets go).
    static std::shared_ptr<CMessageQueue> ForThisThread();

    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;
    ~CMessageQueue();

    // Owning thread only.
    TargetId AddTarget(CMessageTarget* target);
    void RemoveTarget(TargetId id);
    void AddPollSource(CPollSource* source);
    void RemovePollSource(CPollSource* source);

    // Any thread. False (message dropped) when the target does not exist any more.
    bool Post(TargetId target, unsigned message, uintptr_t wParam, intptr_t lParam,
              std::unique_ptr<CMessagePayload> payload = nullptr);

    // Drops the pending messages of target for which the predicate is true.
    void RemoveMessagesIf(TargetId target, const std::function<bool(const CMessage&)>& predicate);

    // Any thread: makes the owning thread's current or next wait look again.
    void Wake();

    // Used by the waits on the owning thread.
    int WakeFd() const { return wakeFd; }
    void DrainWake();
    size_t PendingCount();
    // Dispatches the messages that were pending when called (each handler may wait and
    // so dispatch further messages itself); true when any was dispatched.
    bool DispatchPending();
    void CollectPollFds(std::vector<pollfd>& fds, std::vector<size_t>& counts);
    void HandlePollResults(const pollfd* fds, const std::vector<size_t>& counts);

private:
    CMessageQueue();
    bool PopMessage(CMessage& out);

    int wakeFd = -1;
    std::mutex mutex;  // guards messages and targets (posting threads)
    std::deque<CMessage> messages;
    std::vector<std::pair<TargetId, CMessageTarget*>> targets;
    TargetId nextTargetId = 1;
    std::vector<CPollSource*> pollSources;  // owning thread only
};
