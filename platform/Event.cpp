#include "platform/Event.h"

#include "platform/MessageWait.h"

CEvent::CEvent(bool manualReset, bool initialState)
    : manualReset(manualReset), signalled(initialState)
{
}

void CEvent::Set()
{
    std::lock_guard lock(stateMutex);
    signalled = true;
    WakeWaitersLocked();
}

void CEvent::Reset()
{
    std::lock_guard lock(stateMutex);
    signalled = false;
}

bool CEvent::TryAcquire()
{
    std::lock_guard lock(stateMutex);
    if (!signalled)
        return false;
    if (!manualReset)
        signalled = false;
    return true;
}

bool CEvent::IsSignalled()
{
    std::lock_guard lock(stateMutex);
    return signalled;
}

bool CEvent::Wait(long timeoutMs)
{
    CWaitHandle* self[] = {this};
    return WaitForHandles(self, timeoutMs) == WAIT_OBJECT_0;
}
