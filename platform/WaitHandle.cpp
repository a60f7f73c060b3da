#include "platform/WaitHandle.h"

#include "platform/MessageQueue.h"

#include <algorithm>

void CWaitHandle::AddWaiter(CMessageQueue* queue)
{
    std::lock_guard lock(stateMutex);
    waiters.push_back(queue);
}

void CWaitHandle::RemoveWaiter(CMessageQueue* queue)
{
    std::lock_guard lock(stateMutex);
    // One entry per wait: a nested wait of the same thread removes only its own.
    auto found = std::find(waiters.begin(), waiters.end(), queue);
    if (found != waiters.end())
        waiters.erase(found);
}

void CWaitHandle::WakeWaitersLocked()
{
    for (CMessageQueue* queue : waiters)
        queue->Wake();
}
