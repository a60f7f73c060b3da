// The event socket over real loopback connections: the order of notifications, Winsock's
// re-enabling rules, connect and look-up results, the socket table and clean-up.

#include "NetTestSupport.h"

#include "net/SocketHelperWindow.h"
#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using nettest::LoopbackListener;
using nettest::OpenFdCount;
using nettest::PumpUntil;
using nettest::RecordingSocket;

class EventSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CMessageQueue::ForThisThread();  // the thread's own wake-up fd lives on
        fdsBefore = OpenFdCount();
        WSASetLastError(0);
    }
    void TearDown() override
    {
        // Every socket of the test is gone by now: no descriptor may be left behind and
        // the thread's helper must have gone with its last socket.
        EXPECT_EQ(OpenFdCount(), fdsBefore);
        EXPECT_EQ(CSocketHelperWindow::ForThisThread(), nullptr);
    }
    int fdsBefore = 0;
};

TEST_F(EventSocketTest, LoopbackExchangeDeliversNotificationsInOrder)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_TRUE(PumpUntil([&] { return client.Has("send:0") && server.accepted.Has("send:0"); }));
    EXPECT_EQ(client.events, (std::vector<std::string>{"connect:0", "send:0"}));
    EXPECT_EQ(server.listener.events, (std::vector<std::string>{"accept:0"}));
    EXPECT_EQ(server.accepted.events, (std::vector<std::string>{"send:0"}));

    std::string peer;
    unsigned peerPort = 0;
    ASSERT_TRUE(server.accepted.GetPeerName(peer, peerPort));
    std::string local;
    unsigned localPort = 0;
    ASSERT_TRUE(client.GetSockName(local, localPort));
    EXPECT_EQ(peer, "127.0.0.1");
    EXPECT_EQ(peerPort, localPort);

    std::string received;
    server.accepted.onReceive = [&](int) {
        char buffer[64];
        int n = server.accepted.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
    };
    ASSERT_EQ(client.Send("hello", 5), 5);
    ASSERT_TRUE(PumpUntil([&] { return received == "hello"; }));

    client.Close();
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.Has("close:0"); }));
    PumpMessages(20);
    EXPECT_EQ(server.accepted.events,
              (std::vector<std::string>{"send:0", "receive:0", "close:0"}));
    EXPECT_EQ(client.GetSocketHandle(), INVALID_SOCKET);
}

TEST_F(EventSocketTest, ReadIsReportedAgainOnlyAfterReceiveWhileBytesRemain)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.Has("send:0") && client.Has("send:0"); }));

    // Without a Receive the waiting bytes are reported once only.
    ASSERT_EQ(client.Send("abcdef", 6), 6);
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.Count("receive") == 1; }));
    PumpMessages(30);
    EXPECT_EQ(server.accepted.Count("receive"), 1);

    // Each partial read re-enables the notification while bytes are left.
    std::string received;
    server.accepted.onReceive = [&](int) {
        char buffer[2];
        int n = server.accepted.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
    };
    char first[2];
    ASSERT_EQ(server.accepted.Receive(first, 2), 2);
    ASSERT_TRUE(PumpUntil([&] { return received == "cdef"; }));
    EXPECT_EQ(server.accepted.Count("receive"), 3);
}

TEST_F(EventSocketTest, SendThatWouldBlockIsFollowedByOneSendNotification)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return client.Has("send:0") && server.accepted.Has("send:0"); }));
    ASSERT_EQ(client.Count("send"), 1);

    // Fill the connection until the kernel refuses more.
    std::vector<char> chunk(65536, 'x');
    long long sent = 0;
    for (int i = 0; i < 10000; ++i) {
        int n = client.Send(chunk.data(), static_cast<int>(chunk.size()));
        if (n < 0) {
            ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            break;
        }
        sent += n;
    }
    PumpMessages(20);
    EXPECT_EQ(client.Count("send"), 1);  // no room yet, nothing reported

    long long drained = 0;
    server.accepted.onReceive = [&](int) {
        char buffer[65536];
        int n;
        while ((n = server.accepted.Receive(buffer, sizeof buffer)) > 0)
            drained += n;
    };
    server.accepted.onReceive(0);  // bytes announced before the reader was there
    ASSERT_TRUE(PumpUntil([&] { return client.Count("send") == 2; }));
    ASSERT_TRUE(PumpUntil([&] { return drained == sent; }));
    PumpMessages(20);
    EXPECT_EQ(client.Count("send"), 2);
}

TEST_F(EventSocketTest, HandlerMayWaitForAnotherSocketsNotification)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    CEvent answered;
    std::string answer;
    int waitResult = -1;
    server.accepted.onReceive = [&](int) {
        char buffer[16];
        int n = server.accepted.Receive(buffer, sizeof buffer);
        if (n > 0)
            server.accepted.Send(buffer, n);  // echo
    };
    client.onReceive = [&](int) {
        char buffer[16];
        int n = client.Receive(buffer, sizeof buffer);
        if (n > 0)
            answer.append(buffer, n);
        answered.Set();
    };
    // Inside its connect handler the client sends and waits for the echo, as a control
    // connection waits for a reply inside a notification.
    client.onConnect = [&](int error) {
        ASSERT_EQ(error, 0);
        ASSERT_EQ(client.Send("echo", 4), 4);
        waitResult = MessageWait({&answered}, 20000);
    };
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return waitResult != -1; }));
    EXPECT_EQ(waitResult, WAIT_OBJECT_0);
    EXPECT_EQ(answer, "echo");
}

TEST_F(EventSocketTest, PeerResetIsReportedAsCloseWithItsError)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return client.Has("send:0") && server.accepted.Has("send:0"); }));

    linger abortive{1, 0};
    ASSERT_EQ(setsockopt(server.accepted.GetSocketHandle(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    server.accepted.Close();
    ASSERT_TRUE(PumpUntil([&] { return client.Count("close") == 1; }));
    PumpMessages(20);
    EXPECT_EQ(client.events.back(), "close:10054");
    EXPECT_EQ(client.Count("close"), 1);
}

TEST_F(EventSocketTest, ConnectToAClosedPortIsRefused)
{
    unsigned port = 0;
    {
        RecordingSocket probe;  // a port that was free a moment ago
        ASSERT_TRUE(probe.Create(0, SOCK_STREAM, FD_ALL_EVENTS, "127.0.0.1"));
        std::string address;
        ASSERT_TRUE(probe.GetSockName(address, port));
    }
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect("127.0.0.1", port));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return !client.events.empty(); }));
    PumpMessages(20);
    EXPECT_EQ(client.events, (std::vector<std::string>{"connect:10061"}));
}

TEST_F(EventSocketTest, UnknownHostReachesOnConnectAsHostNotFound)
{
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect("no-such-host.invalid", 21));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return !client.events.empty(); }));
    EXPECT_EQ(client.events, (std::vector<std::string>{"connect:11001"}));
}

TEST_F(EventSocketTest, HostNameIsLookedUpAndConnected)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect("localhost", server.port));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return !client.events.empty(); }));
    if (client.events.front() != "connect:0")
        GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here: " << client.events.front();
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.GetSocketHandle() != INVALID_SOCKET; }));
}

TEST_F(EventSocketTest, CloseAbandonsAPendingLookup)
{
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("abandoned.invalid", 21);
    client.Close();
    ASSERT_TRUE(client.Create());  // the same object, a new handle: still no late result
    PumpMessages(100);
    EXPECT_TRUE(client.events.empty());
}

TEST_F(EventSocketTest, CreateOnASocketWithAHandleFailsAndChangesNothing)
{
    RecordingSocket socket;
    ASSERT_TRUE(socket.Create());
    SOCKET handle = socket.GetSocketHandle();
    EXPECT_FALSE(socket.Create());
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
    EXPECT_EQ(socket.GetSocketHandle(), handle);
    std::string address;
    unsigned port = 0;
    EXPECT_TRUE(socket.GetSockName(address, port));
}

TEST_F(EventSocketTest, CreateWithAnAddressThatIsNotDottedFails)
{
    const char* badAddresses[] = {"not.an.address", "256.1.1.1", "127.0.0"};
    for (const char* address : badAddresses) {
        RecordingSocket socket;
        EXPECT_FALSE(socket.Create(0, SOCK_STREAM, FD_ALL_EVENTS, address)) << address;
        EXPECT_EQ(WSAGetLastError(), WSAEINVAL) << address;
        EXPECT_EQ(socket.GetSocketHandle(), INVALID_SOCKET);
    }
}

TEST_F(EventSocketTest, CallsWithoutAHandleFailAsNonSocket)
{
    RecordingSocket socket;
    char buffer[4];
    unsigned long waiting = 0;
    std::string address;
    unsigned port = 0;
    struct Call {
        const char* name;
        std::function<bool()> fails;
    } calls[] = {
        {"Send", [&] { return socket.Send("x", 1) == SOCKET_ERROR; }},
        {"Receive", [&] { return socket.Receive(buffer, 4) == SOCKET_ERROR; }},
        {"Listen", [&] { return !socket.Listen(); }},
        {"Connect", [&] { return !socket.Connect("127.0.0.1", 21); }},
        {"IOCtl", [&] { return !socket.IOCtl(FIONREAD, &waiting); }},
        {"GetSockName", [&] { return !socket.GetSockName(address, port); }},
        {"ShutDown", [&] { return !socket.ShutDown(); }},
    };
    for (const Call& call : calls) {
        WSASetLastError(0);
        EXPECT_TRUE(call.fails()) << call.name;
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK) << call.name;
    }
}

TEST_F(EventSocketTest, AcceptWithNothingPendingWouldBlock)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket target;
    EXPECT_FALSE(server.listener.Accept(target));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(target.GetSocketHandle(), INVALID_SOCKET);
}

TEST_F(EventSocketTest, FiveHundredThirdSocketGrowsTheTable)
{
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 1100)
        GTEST_SKIP() << "descriptor limit too low";
    std::vector<std::unique_ptr<RecordingSocket>> sockets;
    for (int i = 0; i < 502; ++i) {
        sockets.push_back(std::make_unique<RecordingSocket>());
        ASSERT_TRUE(sockets.back()->Create());
    }
    CSocketHelperWindow* helper = CSocketHelperWindow::ForThisThread();
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->SocketCount(), 502);
    EXPECT_EQ(helper->TableCapacity(), 512);
    sockets.push_back(std::make_unique<RecordingSocket>());
    ASSERT_TRUE(sockets.back()->Create());
    EXPECT_EQ(helper->TableCapacity(), 1024);
    EXPECT_EQ(helper->SocketCount(), 503);
    sockets.clear();
}

TEST_F(EventSocketTest, LateEventForAReusedSlotReachesNoHandler)
{
    RecordingSocket keeper;  // keeps the helper and its search position
    ASSERT_TRUE(keeper.Create());
    RecordingSocket old;
    ASSERT_TRUE(old.Create());
    CSocketHelperWindow* helper = CSocketHelperWindow::ForThisThread();
    ASSERT_NE(helper, nullptr);
    const int oldSlot = helper->NextSearchSlot() - 1;
    const SOCKET oldHandle = old.GetSocketHandle();
    old.Close();
    // Hold the old descriptor number so that the socket taking the slot gets another one.
    int holder = eventfd(0, EFD_CLOEXEC);
    ASSERT_EQ(holder, oldHandle);
    // Walk the search position round the table to the keeper's slot 0; the next search
    // then passes it and takes the old slot.
    ASSERT_EQ(oldSlot, 1);
    for (int guard = 0; helper->NextSearchSlot() != 0 && guard < 1000; ++guard) {
        RecordingSocket passing;
        ASSERT_TRUE(passing.Create());
    }
    RecordingSocket reuser;
    ASSERT_TRUE(reuser.Create());
    ASSERT_EQ(helper->SocketAt(oldSlot), &reuser);
    ASSERT_NE(reuser.GetSocketHandle(), oldHandle);

    const unsigned message = WM_SOCKET_EVENT_BASE + static_cast<unsigned>(oldSlot);
    helper->Post(message, static_cast<uintptr_t>(oldHandle), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    PumpMessages(0);
    EXPECT_TRUE(reuser.events.empty());
    // The same event with the socket's own handle is delivered.
    helper->Post(message, static_cast<uintptr_t>(reuser.GetSocketHandle()), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    PumpMessages(0);
    EXPECT_EQ(reuser.events, (std::vector<std::string>{"close:0"}));
    close(holder);
}

TEST_F(EventSocketTest, ReadEventWithNothingWaitingIsDroppedUnlessItCarriesAnError)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return client.Has("send:0"); }));

    CSocketHelperWindow* helper = CSocketHelperWindow::ForThisThread();
    int slot = -1;
    for (int i = 0; i < helper->TableCapacity(); ++i)
        if (helper->SocketAt(i) == &client)
            slot = i;
    ASSERT_GE(slot, 0);
    const unsigned message = WM_SOCKET_EVENT_BASE + static_cast<unsigned>(slot);
    const auto handle = static_cast<uintptr_t>(client.GetSocketHandle());
    helper->Post(message, handle, WSAMAKESELECTREPLY(FD_READ, 0));
    PumpMessages(0);
    EXPECT_EQ(client.Count("receive"), 0);
    helper->Post(message, handle, WSAMAKESELECTREPLY(FD_READ, WSAECONNRESET));
    PumpMessages(0);
    EXPECT_TRUE(client.Has("receive:10054"));
}

TEST_F(EventSocketTest, SocketDestroyedInsideItsOwnHandlerLeavesNothingBehind)
{
    LoopbackListener* server = new LoopbackListener;
    ASSERT_TRUE(server->Start());
    struct SelfDestroyingSocket : RecordingSocket {
        bool* destroyed = nullptr;
        void OnClose(int) override
        {
            bool* flag = destroyed;
            delete this;  // takes the helper with it while the helper is dispatching
            *flag = true;
        }
    };
    bool destroyed = false;
    auto* client = new SelfDestroyingSocket;
    client->destroyed = &destroyed;
    ASSERT_TRUE(client->Create());
    client->Connect("127.0.0.1", server->port);
    ASSERT_TRUE(PumpUntil([&] { return server->accepted.Has("send:0") && client->Has("send:0"); }));
    delete server;  // the client is now the thread's only socket
    ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
    PumpMessages(10);
}

TEST_F(EventSocketTest, SocketKeptAcrossThreadsJoinsTheThreadThatCreatesItAgain)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start());
    RecordingSocket client;
    std::thread first([&] {
        ASSERT_TRUE(client.Create());
        client.Close();
    });
    first.join();
    std::vector<std::string> seen;
    CEvent secondDone;
    std::thread second([&] {
        if (client.Create()) {
            client.Connect("127.0.0.1", server.port);
            PumpUntil([&] { return client.Has("connect:0"); });
            seen = client.events;
            client.Close();
        }
        secondDone.Set();
    });
    // The listener belongs to this thread: it keeps accepting while this thread waits.
    EXPECT_EQ(MessageWait({&secondDone}, 20000), WAIT_OBJECT_0);
    second.join();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "connect:0");
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.GetSocketHandle() != INVALID_SOCKET; }));
}

}  // namespace
