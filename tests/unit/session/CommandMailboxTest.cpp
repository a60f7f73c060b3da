// The mailbox between the interface and a session's worker: commands wait in order, and
// only a second copy of a pending refresh, keep-alive or resumed run is dropped.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "session/FtpSession.h"
#include "session/SessionCommand.h"

namespace {

CSessionCommand Command(int code, CommandOrigin origin, const std::string& path = {}) {
    CSessionCommand command = SimpleCommand(code);
    command.origin = origin;
    command.path = path;
    return command;
}

std::vector<int> Drain(CCommandMailbox& mailbox) {
    std::vector<int> codes;
    while (auto command = mailbox.TryTake()) codes.push_back(command->code);
    return codes;
}

TEST(CommandMailbox, WhatIsKeptAndWhatIsDropped) {
    using O = CommandOrigin;
    struct Case {
        const char* name;
        std::vector<CSessionCommand> put;
        std::vector<int> taken;
    };
    const Case cases[] = {
        {"user commands wait in order, copies included",
         {Command(CMD_CONNECT, O::User), Command(CMD_RUN_QUEUE, O::User), Command(CMD_PWD, O::User),
          Command(CMD_PWD, O::User)},
         {CMD_CONNECT, CMD_RUN_QUEUE, CMD_PWD, CMD_PWD}},
        {"a refresh never swallows the start",
         {Command(CMD_CONNECT, O::User), RefreshCommand(), Command(CMD_RUN_QUEUE, O::User)},
         {CMD_CONNECT, CMD_LIST, CMD_RUN_QUEUE}},
        {"a second pending refresh is dropped",
         {RefreshCommand(), Command(CMD_CWD, O::User), RefreshCommand()},
         {CMD_LIST, CMD_CWD}},
        {"a user listing is not a refresh",
         {RefreshCommand(), Command(CMD_LIST, O::User, "/pub")},
         {CMD_LIST, CMD_LIST}},
        {"a keep-alive behind any waiting command is dropped",
         {Command(CMD_PWD, O::User), CFtpSession::AntiIdleCommand(0)},
         {CMD_PWD}},
        {"a keep-alive alone is kept",
         {CFtpSession::AntiIdleCommand(3)},
         {CMD_REST}},
        {"the run resumed by the session joins a pending run",
         {Command(CMD_RUN_QUEUE, O::User), Command(CMD_RUN_QUEUE, O::Session)},
         {CMD_RUN_QUEUE}},
        {"a user run is never dropped",
         {Command(CMD_RUN_QUEUE, O::Session), Command(CMD_RUN_QUEUE, O::User)},
         {CMD_RUN_QUEUE, CMD_RUN_QUEUE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCommandMailbox mailbox;
        for (const CSessionCommand& command : c.put) mailbox.Put(command);
        EXPECT_EQ(Drain(mailbox), c.taken);
        EXPECT_TRUE(mailbox.IsEmpty());
    }
}

// While a copy holds the session its steps are taken past the waiting commands, which
// keep their order; a command taken too early goes back to the front.
TEST(CommandMailbox, StepsOfACopyOvertakeWaitingCommandsInOrder) {
    using O = CommandOrigin;
    CCommandMailbox mailbox;
    mailbox.Put(Command(CMD_CWD, O::User, "/a"));
    mailbox.Put(SimpleCommand(CMD_PARTNER_STEP));
    mailbox.Put(Command(CMD_PWD, O::User));
    mailbox.Put(SimpleCommand(CMD_PARTNER_STEP));
    ASSERT_TRUE(mailbox.TryTakeFirst(CMD_PARTNER_STEP));
    ASSERT_TRUE(mailbox.TryTakeFirst(CMD_PARTNER_STEP));
    EXPECT_FALSE(mailbox.TryTakeFirst(CMD_PARTNER_STEP));
    std::optional<CSessionCommand> early = mailbox.TryTake();
    ASSERT_TRUE(early);
    EXPECT_EQ(early->path, "/a");
    mailbox.PutBack(std::move(*early));
    EXPECT_EQ(Drain(mailbox), (std::vector<int>{CMD_CWD, CMD_PWD}));
}

TEST(CommandMailbox, ATakenRefreshNoLongerBlocksTheNext) {
    CCommandMailbox mailbox;
    EXPECT_TRUE(mailbox.Put(RefreshCommand()));
    EXPECT_FALSE(mailbox.Put(RefreshCommand()));
    ASSERT_TRUE(mailbox.TryTake());
    EXPECT_TRUE(mailbox.Put(RefreshCommand()));
}

// Two interface threads and a worker: every user command arrives, each thread's in the
// order it put them.
TEST(CommandMailbox, NothingIsLostBetweenThreads) {
    CCommandMailbox mailbox;
    constexpr int kEach = 2000;
    std::atomic<int> producersDone{0};
    auto produce = [&](int code) {
        for (int i = 0; i < kEach; ++i) {
            CSessionCommand command = SimpleCommand(code);
            command.restOffset = static_cast<std::uint64_t>(i);
            mailbox.Put(command);
            if (i % 10 == 0) mailbox.Put(RefreshCommand());
        }
        ++producersDone;
    };
    std::thread a(produce, CMD_PWD);
    std::thread b(produce, CMD_REST);
    std::uint64_t nextA = 0, nextB = 0;
    bool inOrder = true;
    while (producersDone < 2 || !mailbox.IsEmpty()) {
        auto command = mailbox.TryTake();
        if (!command) {
            std::this_thread::yield();
            continue;
        }
        if (command->code == CMD_PWD) inOrder &= command->restOffset == nextA++;
        if (command->code == CMD_REST) inOrder &= command->restOffset == nextB++;
    }
    a.join();
    b.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(nextA, std::uint64_t(kEach));
    EXPECT_EQ(nextB, std::uint64_t(kEach));
}

}  // namespace
