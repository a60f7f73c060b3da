#include "platform/MessageWait.h"

#include "platform/Fatal.h"
#include "platform/MessageQueue.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include <poll.h>

namespace {

using Clock = CWaitHandle::Clock;

// Keeps this thread registered as a waiter of every handle for the length of one wait.
class CWaiterRegistration {
public:
    CWaiterRegistration(std::span<CWaitHandle* const> handles, CMessageQueue* queue)
        : handles(handles), queue(queue)
    {
        for (CWaitHandle* handle : handles)
            handle->AddWaiter(queue);
    }
    ~CWaiterRegistration()
    {
        for (CWaitHandle* handle : handles)
            handle->RemoveWaiter(queue);
    }
    CWaiterRegistration(const CWaiterRegistration&) = delete;
    CWaiterRegistration& operator=(const CWaiterRegistration&) = delete;

private:
    std::span<CWaitHandle* const> handles;
    CMessageQueue* queue;
};

int MillisecondsUntil(Clock::time_point when, Clock::time_point now)
{
    if (when <= now)
        return 0;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return wait > 1000000 ? 1000000 : static_cast<int>(wait);
}

int Wait(std::span<CWaitHandle* const> handles, long timeoutMs, bool dispatch)
{
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::ForThisThread();
    if (!queue)
        FatalError("Unable to create the thread's wake-up descriptor!");
    CWaiterRegistration registration(handles, queue.get());

    std::optional<Clock::time_point> deadline;
    if (timeoutMs >= 0)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    std::vector<pollfd> fds;
    std::vector<size_t> counts;
    bool finalRound = false;  // the deadline passed: one last look, then time out
    for (;;) {
        for (size_t i = 0; i < handles.size(); ++i) {
            if (handles[i]->TryAcquire())
                return WAIT_OBJECT_0 + static_cast<int>(i);
        }
        Clock::time_point now = Clock::now();
        if (finalRound)
            return WAIT_TIMEOUT;

        int pollTimeout = -1;
        if (deadline)
            pollTimeout = MillisecondsUntil(*deadline, now);
        for (CWaitHandle* handle : handles) {
            if (auto due = handle->DueTime()) {
                int untilDue = MillisecondsUntil(*due, now);
                if (pollTimeout < 0 || untilDue < pollTimeout)
                    pollTimeout = untilDue;
            }
        }
        if (dispatch && queue->PendingCount() > 0)
            pollTimeout = 0;

        fds.clear();
        fds.push_back(pollfd{queue->WakeFd(), POLLIN, 0});
        if (dispatch)
            queue->CollectPollFds(fds, counts);
        int ready = poll(fds.data(), fds.size(), pollTimeout);
        if (ready < 0) {
            if (errno != EINTR)
                FatalError("Waiting for events failed!");
            ready = 0;
        }
        if (deadline && Clock::now() >= *deadline)
            finalRound = true;
        if (ready > 0) {
            if (fds[0].revents != 0)
                queue->DrainWake();
            if (dispatch)
                queue->HandlePollResults(fds.data() + 1, counts);
        }
        if (dispatch)
            queue->DispatchPending();
    }
}

}  // namespace

int MessageWait(std::span<CWaitHandle* const> handles, long timeoutMs)
{
    return Wait(handles, timeoutMs, true);
}

int MessageWait(std::initializer_list<CWaitHandle*> handles, long timeoutMs)
{
    return Wait(std::span<CWaitHandle* const>(handles.begin(), handles.size()), timeoutMs, true);
}

void PumpMessages(long timeoutMs)
{
    Wait({}, timeoutMs, true);
}

void DispatchReadyMessages()
{
    Wait({}, 0, true);
}

int WaitForHandles(std::span<CWaitHandle* const> handles, long timeoutMs)
{
    return Wait(handles, timeoutMs, false);
}
