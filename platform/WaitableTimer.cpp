#include "platform/WaitableTimer.h"

CWaitableTimer::CWaitableTimer(bool manualReset) : manualReset(manualReset)
{
}

bool CWaitableTimer::SetDueIn(std::chrono::milliseconds delay)
{
    if (delay.count() < 0)
        return false;
    std::lock_guard lock(stateMutex);
    signalled = false;
    due = Clock::now() + delay;
    // A waiter must recompute how long it may sleep.
    WakeWaitersLocked();
    return true;
}

void CWaitableTimer::Cancel()
{
    std::lock_guard lock(stateMutex);
    UpdateLocked(Clock::now());
    due.reset();
}

void CWaitableTimer::Reset()
{
    std::lock_guard lock(stateMutex);
    UpdateLocked(Clock::now());
    signalled = false;
}

bool CWaitableTimer::IsArmed()
{
    std::lock_guard lock(stateMutex);
    UpdateLocked(Clock::now());
    return due.has_value();
}

void CWaitableTimer::UpdateLocked(Clock::time_point now)
{
    if (due && now >= *due) {
        signalled = true;
        due.reset();
    }
}

bool CWaitableTimer::TryAcquire()
{
    std::lock_guard lock(stateMutex);
    UpdateLocked(Clock::now());
    if (!signalled)
        return false;
    if (!manualReset)
        signalled = false;
    return true;
}

bool CWaitableTimer::IsSignalled()
{
    std::lock_guard lock(stateMutex);
    UpdateLocked(Clock::now());
    return signalled;
}

std::optional<CWaitHandle::Clock::time_point> CWaitableTimer::DueTime()
{
    std::lock_guard lock(stateMutex);
    return due;
}
