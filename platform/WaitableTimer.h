#pragma once
// CWaitableTimer: the Win32 waitable timer stand-in. It becomes signalled when its due time
// passes and can be waited on like an event.
//
// Usage:
//   CWaitableTimer idleTimer;                       // auto-reset (synchronisation timer)
//   if (!idleTimer.SetDueInSeconds(60)) FatalError("Can't set waitable timer!");
//   ... every chunk of data: idleTimer.SetDueInSeconds(60);   // re-arm
//   CWaitHandle* h[] = {&stopEvent, &idleTimer, &doneEvent};
//   if (MessageWait(h, INFINITE) == 1) ... timed out
//
// Setting the timer clears its signalled state and arms it afresh (one shot, no period).
// An auto-reset timer is consumed by the wait that sees it; a manual-reset one stays
// signalled until it is set again or Reset(). Cancel() only disarms it.

#include "platform/WaitHandle.h"

#include <chrono>

class CWaitableTimer : public CWaitHandle {
public:
    explicit CWaitableTimer(bool manualReset = false);

    // Relative due time from now. False only when the timer cannot be armed (negative
    // time); callers treat that as fatal.
    bool SetDueIn(std::chrono::milliseconds delay);
    bool SetDueInMs(long long milliseconds) { return SetDueIn(std::chrono::milliseconds(milliseconds)); }
    bool SetDueInSeconds(long long seconds) { return SetDueIn(std::chrono::seconds(seconds)); }

    // Disarms the timer; a signal it already gave stays.
    void Cancel();
    // Clears the signalled state (manual-reset timers).
    void Reset();

    bool IsArmed();

    bool TryAcquire() override;
    bool IsSignalled() override;
    std::optional<Clock::time_point> DueTime() override;

private:
    void UpdateLocked(Clock::time_point now);

    const bool manualReset;
    bool signalled = false;
    std::optional<Clock::time_point> due;
};
