// MessageWait dispatches posted messages and poll-source readiness while it waits, with
// handlers running on the waiting thread and allowed to wait again themselves.

#include "platform/Event.h"
#include "platform/MessageQueue.h"
#include "platform/MessageWait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class CallbackTarget : public CMessageTarget {
public:
    std::function<void(CMessage&)> handler;
    void OnMessage(CMessage& message) override { handler(message); }
};

class CountedPayload : public CMessagePayload {
public:
    explicit CountedPayload(int& alive) : alive(alive) { ++alive; }
    ~CountedPayload() override { --alive; }
    int& alive;
};

class MessageDispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        queue = CMessageQueue::ForThisThread();
        ASSERT_TRUE(queue);
        id = queue->AddTarget(&target);
    }
    void TearDown() override { queue->RemoveTarget(id); }

    std::shared_ptr<CMessageQueue> queue;
    CallbackTarget target;
    CMessageQueue::TargetId id = 0;
};

TEST_F(MessageDispatchTest, MessagePostedFromAnotherThreadRunsInsideTheWait)
{
    CEvent done;
    std::thread::id handledOn;
    target.handler = [&](CMessage& m) {
        EXPECT_EQ(m.message, 1025u);
        EXPECT_EQ(m.wParam, 7u);
        EXPECT_EQ(m.lParam, -3);
        handledOn = std::this_thread::get_id();
        done.Set();
    };
    std::thread poster([q = queue, id = id] {
        std::this_thread::sleep_for(10ms);
        q->Post(id, 1025, 7, -3);
    });
    EXPECT_EQ(MessageWait({&done}, 2000), WAIT_OBJECT_0);
    poster.join();
    EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST_F(MessageDispatchTest, HandlerMayWaitAgainAndDispatchFurtherMessages)
{
    CEvent inner, outer;
    std::vector<unsigned> order;
    target.handler = [&](CMessage& m) {
        order.push_back(m.message);
        if (m.message == 1) {
            // A nested wait, as a notification handler that waits for a reply does.
            EXPECT_EQ(MessageWait({&inner}, 2000), WAIT_OBJECT_0);
            outer.Set();
        } else if (m.message == 2) {
            inner.Set();
        }
    };
    queue->Post(id, 1, 0, 0);
    queue->Post(id, 2, 0, 0);
    EXPECT_EQ(MessageWait({&outer}, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(order, (std::vector<unsigned>{1, 2}));
}

TEST_F(MessageDispatchTest, PlainWaitLeavesMessagesForTheNextPump)
{
    int handled = 0;
    target.handler = [&](CMessage&) { ++handled; };
    queue->Post(id, 5, 0, 0);
    CEvent never;
    EXPECT_EQ(never.Wait(10), false);
    EXPECT_EQ(handled, 0);
    PumpMessages(0);
    EXPECT_EQ(handled, 1);
}

TEST_F(MessageDispatchTest, RemovedTargetDropsItsMessagesAndFreesTheirPayload)
{
    int alive = 0;
    int handled = 0;
    target.handler = [&](CMessage&) { ++handled; };
    queue->Post(id, 9, 0, 0, std::make_unique<CountedPayload>(alive));
    EXPECT_EQ(alive, 1);
    queue->RemoveTarget(id);
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(queue->Post(id, 9, 0, 0));
    DispatchReadyMessages();
    EXPECT_EQ(handled, 0);
    id = queue->AddTarget(&target);
}

TEST_F(MessageDispatchTest, PayloadIsFreedAfterDispatch)
{
    int alive = 0;
    target.handler = [&](CMessage& m) { EXPECT_NE(m.payload, nullptr); };
    queue->Post(id, 9, 0, 0, std::make_unique<CountedPayload>(alive));
    DispatchReadyMessages();
    EXPECT_EQ(alive, 0);
}

// A poll source over a pipe: readable input becomes a posted message, as socket readiness
// becomes a network event.
class PipeSource : public CPollSource {
public:
    PipeSource(CMessageQueue& queue, CMessageQueue::TargetId target) : queue(queue), target(target)
    {
        EXPECT_EQ(pipe(fds), 0);
    }
    ~PipeSource() override
    {
        close(fds[0]);
        close(fds[1]);
    }
    void CollectPollFds(std::vector<pollfd>& out) override { out.push_back(pollfd{fds[0], POLLIN, 0}); }
    void HandlePollResults(const pollfd* polled, size_t count) override
    {
        ASSERT_EQ(count, 1u);
        if (polled[0].revents & POLLIN) {
            char byte;
            ASSERT_EQ(read(fds[0], &byte, 1), 1);
            queue.Post(target, 100, static_cast<unsigned char>(byte), 0);
        }
    }
    int fds[2] = {-1, -1};
    CMessageQueue& queue;
    CMessageQueue::TargetId target;
};

TEST_F(MessageDispatchTest, PollSourceReadinessIsDispatchedDuringTheWait)
{
    PipeSource source(*queue, id);
    queue->AddPollSource(&source);
    CEvent done;
    uintptr_t received = 0;
    target.handler = [&](CMessage& m) {
        received = m.wParam;
        done.Set();
    };
    std::thread writer([fd = source.fds[1]] {
        std::this_thread::sleep_for(10ms);
        char byte = 'x';
        EXPECT_EQ(write(fd, &byte, 1), 1);
    });
    EXPECT_EQ(MessageWait({&done}, 2000), WAIT_OBJECT_0);
    writer.join();
    queue->RemovePollSource(&source);
    EXPECT_EQ(received, static_cast<uintptr_t>('x'));
}

TEST_F(MessageDispatchTest, PumpWithoutHandlesDeliversForTheGivenTime)
{
    int handled = 0;
    target.handler = [&](CMessage&) { ++handled; };
    std::thread poster([q = queue, id = id] { q->Post(id, 3, 0, 0); });
    poster.join();
    PumpMessages(20);
    EXPECT_EQ(handled, 1);
}

}  // namespace
