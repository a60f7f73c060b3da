#pragma once
// Common base of everything MessageWait can wait on (CEvent, CWaitableTimer).
//
// Usage: not used directly; pass events and timers to MessageWait:
//   CWaitHandle* handles[] = {&stopEvent, &idleTimer};
//   int index = MessageWait(handles, 1000);
//
// A handle is "signalled" or not. Waiting threads register with the handle so that a
// change made from any thread wakes them (through their CMessageQueue wake-up fd).

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

class CMessageQueue;

class CWaitHandle {
public:
    using Clock = std::chrono::steady_clock;

    CWaitHandle() = default;
    CWaitHandle(const CWaitHandle&) = delete;
    CWaitHandle& operator=(const CWaitHandle&) = delete;
    virtual ~CWaitHandle() = default;

    // True when signalled. An auto-reset handle is consumed (reset) by a true result, so
    // of several waiters only one sees it.
    virtual bool TryAcquire() = 0;

    // Whether the handle is signalled now, without consuming it.
    virtual bool IsSignalled() = 0;

    // When the handle will become signalled by itself (a timer's due time); none for
    // handles that only another thread can signal.
    virtual std::optional<Clock::time_point> DueTime() { return std::nullopt; }

    // Used by the waits: a waiting thread's queue is woken when the handle changes.
    void AddWaiter(CMessageQueue* queue);
    void RemoveWaiter(CMessageQueue* queue);

protected:
    // Wakes every registered waiter; call with stateMutex held.
    void WakeWaitersLocked();

    std::mutex stateMutex;                // guards the derived class's state and waiters
    std::vector<CMessageQueue*> waiters;  // one entry per wait in progress
};
