// Events and waitable timers: signalled state, consumption by waits, and waking a waiting
// thread from another thread.

#include "platform/Event.h"
#include "platform/MessageWait.h"
#include "platform/WaitableTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct EventCase {
    bool manualReset;
    bool initialState;
    bool signalledAfterOneWait;  // what a second look sees after a successful wait
};

class EventStateTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventStateTest, WaitConsumesOnlyAutoResetEvents)
{
    const EventCase& c = GetParam();
    CEvent event(c.manualReset, c.initialState);
    EXPECT_EQ(event.IsSignalled(), c.initialState);
    if (!c.initialState) {
        EXPECT_EQ(MessageWait({&event}, 0), WAIT_TIMEOUT);
        event.Set();
    }
    EXPECT_EQ(MessageWait({&event}, 0), WAIT_OBJECT_0);
    EXPECT_EQ(event.IsSignalled(), c.signalledAfterOneWait);
    event.Reset();
    EXPECT_FALSE(event.IsSignalled());
    EXPECT_EQ(MessageWait({&event}, 0), WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, EventStateTest,
                         ::testing::Values(EventCase{false, false, false}, EventCase{false, true, false},
                                           EventCase{true, false, true}, EventCase{true, true, true}));

TEST(MessageWaitTest, ReturnsFirstSignalledHandleInOrder)
{
    CEvent first, second, third;
    second.Set();
    third.Set();
    EXPECT_EQ(MessageWait({&first, &second, &third}, 0), 1);
    // The auto-reset second event was consumed; the third is still waiting to be seen.
    EXPECT_EQ(MessageWait({&first, &second, &third}, 0), 2);
    EXPECT_EQ(MessageWait({&first, &second, &third}, 0), WAIT_TIMEOUT);
}

TEST(MessageWaitTest, TimesOutWithNothingSignalled)
{
    CEvent event;
    EXPECT_EQ(MessageWait({&event}, 30), WAIT_TIMEOUT);
    EXPECT_EQ(MessageWait({}, 0), WAIT_TIMEOUT);
}

TEST(MessageWaitTest, SetFromAnotherThreadWakesTheWaiter)
{
    CEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    EXPECT_EQ(MessageWait({&event}, 2000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_FALSE(event.IsSignalled());
}

TEST(MessageWaitTest, PlainWaitIsWokenFromAnotherThread)
{
    CEvent event(true);
    std::thread setter([&] {
        std::this_thread::sleep_for(10ms);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(2000));
    setter.join();
    EXPECT_TRUE(event.IsSignalled());  // manual reset: still set
}

TEST(MessageWaitTest, AutoResetEventReleasesOnlyOneOfTwoWaiters)
{
    CEvent event;
    std::atomic<int> released{0};
    auto waiter = [&] {
        if (event.Wait(200))
            ++released;
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(20ms);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(WaitableTimerTest, BecomesSignalledAtItsDueTime)
{
    CWaitableTimer timer;
    EXPECT_FALSE(timer.IsArmed());
    ASSERT_TRUE(timer.SetDueInMs(20));
    EXPECT_TRUE(timer.IsArmed());
    EXPECT_EQ(MessageWait({&timer}, 2000), WAIT_OBJECT_0);
    // Auto-reset and one shot: the signal was consumed and nothing follows.
    EXPECT_FALSE(timer.IsSignalled());
    EXPECT_FALSE(timer.IsArmed());
    EXPECT_EQ(MessageWait({&timer}, 30), WAIT_TIMEOUT);
}

TEST(WaitableTimerTest, ManualResetTimerStaysSignalledUntilSetAgain)
{
    CWaitableTimer timer(true);
    ASSERT_TRUE(timer.SetDueInMs(0));
    EXPECT_EQ(MessageWait({&timer}, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(timer.IsSignalled());
    ASSERT_TRUE(timer.SetDueInSeconds(60));  // re-arming clears the signal
    EXPECT_FALSE(timer.IsSignalled());
    timer.Cancel();
    EXPECT_FALSE(timer.IsArmed());
}

TEST(WaitableTimerTest, CancelledTimerNeverFires)
{
    CWaitableTimer timer;
    ASSERT_TRUE(timer.SetDueInMs(10));
    timer.Cancel();
    EXPECT_EQ(MessageWait({&timer}, 50), WAIT_TIMEOUT);
}

TEST(WaitableTimerTest, RejectsNegativeDueTime)
{
    CWaitableTimer timer;
    EXPECT_FALSE(timer.SetDueInMs(-1));
    EXPECT_FALSE(timer.IsArmed());
}

TEST(WaitableTimerTest, RearmingFromAnotherThreadShortensTheWait)
{
    CWaitableTimer timer;
    ASSERT_TRUE(timer.SetDueInSeconds(600));
    std::thread rearm([&] {
        std::this_thread::sleep_for(20ms);
        timer.SetDueInMs(10);
    });
    EXPECT_EQ(MessageWait({&timer}, 2000), WAIT_OBJECT_0);
    rearm.join();
}

TEST(WaitableTimerTest, EventAheadOfTimerInTheListWins)
{
    CEvent stop(true, true);
    CWaitableTimer timer;
    ASSERT_TRUE(timer.SetDueInMs(0));
    EXPECT_EQ(MessageWait({&stop, &timer}, 1000), 0);
}

}  // namespace
