#include "platform/MessageQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {
thread_local std::shared_ptr<CMessageQueue> threadQueue;
}

std::shared_ptr<CMessageQueue> CMessageQueue::ForThisThread()
{
    if (!threadQueue) {
        std::shared_ptr<CMessageQueue> queue(new CMessageQueue());
        if (queue->wakeFd < 0)
            return nullptr;  // out of descriptors; the caller reports it
        threadQueue = std::move(queue);
    }
    return threadQueue;
}

CMessageQueue::CMessageQueue() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

CMessageQueue::~CMessageQueue()
{
    if (wakeFd >= 0)
        close(wakeFd);
}

CMessageQueue::TargetId CMessageQueue::AddTarget(CMessageTarget* target)
{
    std::lock_guard lock(mutex);
    TargetId id = nextTargetId++;
    targets.emplace_back(id, target);
    return id;
}

void CMessageQueue::RemoveTarget(TargetId id)
{
    std::deque<CMessage> dropped;  // payloads are freed outside the lock
    std::lock_guard lock(mutex);
    std::erase_if(targets, [id](const auto& entry) { return entry.first == id; });
    for (auto it = messages.begin(); it != messages.end();) {
        if (it->target == id) {
            dropped.push_back(std::move(*it));
            it = messages.erase(it);
        } else {
            ++it;
        }
    }
}

void CMessageQueue::AddPollSource(CPollSource* source)
{
    std::lock_guard lock(mutex);
    pollSources.push_back(source);
}

void CMessageQueue::RemovePollSource(CPollSource* source)
{
    std::lock_guard lock(mutex);
    std::erase(pollSources, source);
}

bool CMessageQueue::Post(TargetId target, unsigned message, uintptr_t wParam, intptr_t lParam,
                         std::unique_ptr<CMessagePayload> payload)
{
    {
        std::lock_guard lock(mutex);
        bool known = std::any_of(targets.begin(), targets.end(),
                                 [target](const auto& entry) { return entry.first == target; });
        if (!known)
            return false;
        CMessage posted;
        posted.target = target;
        posted.message = message;
        posted.wParam = wParam;
        posted.lParam = lParam;
        posted.payload = std::move(payload);
        messages.push_back(std::move(posted));
    }
    Wake();
    return true;
}

void CMessageQueue::RemoveMessagesIf(TargetId target,
                                     const std::function<bool(const CMessage&)>& predicate)
{
    std::deque<CMessage> dropped;
    std::lock_guard lock(mutex);
    for (auto it = messages.begin(); it != messages.end();) {
        if (it->target == target && predicate(*it)) {
            dropped.push_back(std::move(*it));
            it = messages.erase(it);
        } else {
            ++it;
        }
    }
}

void CMessageQueue::Wake()
{
    if (wakeFd < 0)
        return;
    uint64_t one = 1;
    // A full counter still wakes the reader, so a failed write loses nothing.
    [[maybe_unused]] ssize_t written = write(wakeFd, &one, sizeof one);
}

void CMessageQueue::DrainWake()
{
    uint64_t value;
    while (read(wakeFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

size_t CMessageQueue::PendingCount()
{
    std::lock_guard lock(mutex);
    return messages.size();
}

bool CMessageQueue::PopMessage(CMessage& out)
{
    std::lock_guard lock(mutex);
    if (messages.empty())
        return false;
    out = std::move(messages.front());
    messages.pop_front();
    return true;
}

bool CMessageQueue::DispatchPending()
{
    size_t pending = PendingCount();
    bool dispatched = false;
    for (size_t i = 0; i < pending; ++i) {
        CMessage message;
        if (!PopMessage(message))
            break;  // a nested wait dispatched the rest
        CMessageTarget* target = nullptr;
        {
            std::lock_guard lock(mutex);
            for (const auto& entry : targets) {
                if (entry.first == message.target)
                    target = entry.second;
            }
        }
        if (target) {
            target->OnMessage(message);
            dispatched = true;
        }
    }
    return dispatched;
}

void CMessageQueue::CollectPollFds(std::vector<pollfd>& fds, std::vector<size_t>& counts)
{
    std::vector<CPollSource*> sources;
    {
        std::lock_guard lock(mutex);
        sources = pollSources;
    }
    counts.clear();
    for (CPollSource* source : sources) {
        size_t before = fds.size();
        source->CollectPollFds(fds);
        counts.push_back(fds.size() - before);
    }
}

void CMessageQueue::HandlePollResults(const pollfd* fds, const std::vector<size_t>& counts)
{
    std::vector<CPollSource*> sources;
    {
        std::lock_guard lock(mutex);
        sources = pollSources;
    }
    // Nothing runs between collecting and handling, so the sources are the same ones.
    size_t offset = 0;
    for (size_t i = 0; i < sources.size() && i < counts.size(); ++i) {
        if (counts[i] > 0)
            sources[i]->HandlePollResults(fds + offset, counts[i]);
        offset += counts[i];
    }
}
