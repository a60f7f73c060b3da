// The layer chain: calls travel down through every layer, events travel up with each
// layer's state following the connection, layer-raised events arrive through the helper,
// and the program's socket base carries its two layers without inserting them.

#include "NetTestSupport.h"

#include "net/SocketHelperWindow.h"
#include "net/SocketLayer.h"
#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

namespace {

using nettest::LoopbackListener;
using nettest::OpenFdCount;
using nettest::PumpUntil;
using nettest::RecordingMySocket;
using nettest::RecordingSocket;

// Counts the calls that pass through it and can raise events of its own.
class CountingLayer : public CSocketLayer {
public:
    int sends = 0, receives = 0, connects = 0, closes = 0;
    int Send(const void* buffer, int length, int flags) override
    {
        ++sends;
        return CSocketLayer::Send(buffer, length, flags);
    }
    int Receive(void* buffer, int length, int flags) override
    {
        ++receives;
        return CSocketLayer::Receive(buffer, length, flags);
    }
    bool Connect(const char* host, unsigned port) override
    {
        ++connects;
        return CSocketLayer::Connect(host, port);
    }
    void Close() override
    {
        ++closes;
        CSocketLayer::Close();
    }
    void Raise(long event, int error, bool toSelf) { PostLayerEvent(event, error, toSelf); }
};

class LayerChainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CMessageQueue::ForThisThread();
        fdsBefore = OpenFdCount();
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override
    {
        server.listener.Close();
        server.accepted.Close();
        EXPECT_EQ(OpenFdCount(), fdsBefore);
    }

    // Connects `socket` through its chain and waits until both ends are usable.
    void ConnectThroughChain(RecordingSocket& socket)
    {
        ASSERT_TRUE(socket.Create());
        EXPECT_FALSE(socket.Connect("127.0.0.1", server.port));
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        ASSERT_TRUE(PumpUntil([&] { return socket.Has("send:0") && server.accepted.Has("send:0"); }));
    }

    int fdsBefore = 0;
    LoopbackListener server;
};

TEST_F(LayerChainTest, StateFollowsTheConnectionInEveryLayer)
{
    CountingLayer upper, lower;
    RecordingSocket socket;
    ASSERT_TRUE(socket.AddLayer(&upper));
    ASSERT_TRUE(socket.AddLayer(&lower));
    EXPECT_EQ(socket.GetFirstLayer(), &upper);
    EXPECT_EQ(socket.GetLastLayer(), &lower);
    EXPECT_EQ(upper.GetNextLayer(), &lower);
    EXPECT_EQ(lower.GetPrevLayer(), &upper);

    ConnectThroughChain(socket);
    EXPECT_EQ(upper.GetLayerState(), CSocketLayer::connected);
    EXPECT_EQ(lower.GetLayerState(), CSocketLayer::connected);
    EXPECT_EQ(upper.connects, 1);
    // Each layer reports unconnected, connecting and connected, the lower one first as the
    // calls reach it first on the way down and the events on the way up.
    EXPECT_EQ(socket.layerCallbacks,
              (std::vector<std::string>{"0:0->1", "0:0->1", "0:1->2", "0:1->2", "0:2->4", "0:2->4"}));
    EXPECT_EQ(socket.events, (std::vector<std::string>{"connect:0", "send:0"}));

    socket.Close();
    EXPECT_EQ(upper.GetLayerState(), CSocketLayer::notsock);
    EXPECT_EQ(lower.GetLayerState(), CSocketLayer::notsock);
    EXPECT_EQ(upper.closes, 1);
    EXPECT_EQ(lower.closes, 1);
    EXPECT_EQ(socket.GetFirstLayer(), nullptr);  // Close empties the chain
}

TEST_F(LayerChainTest, DataCallsPassDownThroughEachLayer)
{
    CountingLayer upper, lower;
    RecordingSocket socket;
    socket.AddLayer(&upper);
    socket.AddLayer(&lower);
    ConnectThroughChain(socket);

    ASSERT_EQ(socket.Send("ping", 4), 4);
    EXPECT_EQ(upper.sends, 1);
    EXPECT_EQ(lower.sends, 1);
    std::string atServer;
    server.accepted.onReceive = [&](int) {
        char buffer[16];
        int n = server.accepted.Receive(buffer, sizeof buffer);
        if (n > 0)
            atServer.append(buffer, n);
    };
    ASSERT_TRUE(PumpUntil([&] { return atServer == "ping"; }));

    std::string atClient;
    socket.onReceive = [&](int) {
        char buffer[16];
        int n = socket.Receive(buffer, sizeof buffer);
        if (n > 0)
            atClient.append(buffer, n);
    };
    ASSERT_EQ(server.accepted.Send("pong", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return atClient == "pong"; }));
    EXPECT_EQ(upper.receives, 1);
    EXPECT_EQ(lower.receives, 1);
    socket.Close();
}

TEST_F(LayerChainTest, DataCallsInTheWrongStateFail)
{
    CountingLayer loose;  // in no chain: state 0
    char buffer[4];
    EXPECT_EQ(loose.Send("x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    CountingLayer layer;
    RecordingSocket socket;
    socket.AddLayer(&layer);
    ASSERT_TRUE(socket.Create());
    EXPECT_EQ(socket.Send("x", 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(socket.Receive(buffer, 4), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_FALSE(socket.ShutDown());
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    socket.Close();
}

TEST_F(LayerChainTest, BrokenConnectionLeavesItsErrorPendingInTheLayer)
{
    CountingLayer layer;
    RecordingSocket socket;
    socket.AddLayer(&layer);
    ConnectThroughChain(socket);

    linger abortive{1, 0};
    ASSERT_EQ(setsockopt(server.accepted.GetSocketHandle(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    server.accepted.Close();
    ASSERT_TRUE(PumpUntil([&] { return socket.Has("close:10054"); }));
    EXPECT_EQ(layer.GetLayerState(), CSocketLayer::aborted);
    EXPECT_EQ(layer.GetPendingError(), WSAECONNRESET);
    EXPECT_EQ(socket.Send("x", 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    socket.Close();
}

TEST_F(LayerChainTest, LayerRaisedEventsArriveAfterTheCurrentHandler)
{
    CountingLayer upper, lower;
    RecordingSocket socket;
    socket.AddLayer(&upper);
    socket.AddLayer(&lower);
    ConnectThroughChain(socket);

    // The first layer raises a forced read for the socket itself.
    upper.Raise(FD_FORCEREAD, 0, false);
    EXPECT_EQ(socket.Count("receive"), 0);  // posted, not called
    PumpMessages(0);
    EXPECT_EQ(socket.Count("receive"), 1);

    // The lower layer raises it for the layer above, which passes it on to the socket.
    lower.Raise(FD_FORCEREAD, 0, false);
    PumpMessages(0);
    EXPECT_EQ(socket.Count("receive"), 2);

    // An event the socket did not select stays with the layers.
    ASSERT_TRUE(socket.AsyncSelect(FD_ALL_EVENTS & ~FD_READ));
    upper.Raise(FD_FORCEREAD, 0, false);
    PumpMessages(0);
    EXPECT_EQ(socket.Count("receive"), 2);
    socket.Close();
}

TEST_F(LayerChainTest, RaisingAConnectErrorAbortsTheLayer)
{
    CountingLayer layer;
    RecordingSocket socket;
    socket.AddLayer(&layer);
    ConnectThroughChain(socket);
    layer.Raise(FD_CONNECT, WSAECONNABORTED, false);
    EXPECT_EQ(layer.GetLayerState(), CSocketLayer::aborted);
    EXPECT_EQ(layer.GetPendingError(), WSAECONNABORTED);
    PumpMessages(0);
    EXPECT_TRUE(socket.Has("connect:10053"));
    socket.Close();
}

TEST_F(LayerChainTest, NothingIsRaisedForASocketWithoutHandle)
{
    CountingLayer layer;
    RecordingSocket socket;
    socket.AddLayer(&layer);
    ASSERT_TRUE(socket.Create());
    CSocketHelperWindow* helper = CSocketHelperWindow::ForThisThread();
    ASSERT_NE(helper, nullptr);
    socket.Close();
    socket.AddLayer(&layer);  // back in a chain, but the socket has no handle
    layer.Raise(FD_FORCEREAD, 0, false);
    EXPECT_EQ(helper->Queue()->PendingCount(), 0u);
    PumpMessages(0);
    EXPECT_TRUE(socket.events.empty());
}

TEST_F(LayerChainTest, StateCallbacksKeepTheThreadsLastError)
{
    CountingLayer layer;
    RecordingSocket socket;
    socket.AddLayer(&layer);
    ASSERT_TRUE(socket.Create());
    socket.layerCallbacks.clear();
    socket.onLayerCallback = [] { WSASetLastError(0); };  // a callback that makes socket calls
    // The state change to connecting happens inside Connect, after the last error is set.
    EXPECT_FALSE(socket.Connect("127.0.0.1", server.port));
    EXPECT_EQ(socket.layerCallbacks, (std::vector<std::string>{"0:1->2"}));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    socket.Close();
}

TEST_F(LayerChainTest, MySocketCarriesItsLayersOutsideTheChain)
{
    RecordingMySocket socket;
    EXPECT_EQ(socket.GetFirstLayer(), nullptr);
    EXPECT_FALSE(socket.SslLayer().IsActive());
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect("127.0.0.1", server.port));
    ASSERT_TRUE(PumpUntil([&] { return socket.Has("send:0"); }));
    EXPECT_EQ(socket.ProxyLayer().GetLayerState(), CSocketLayer::notsock);
    EXPECT_TRUE(socket.layerCallbacks.empty());
}

TEST_F(LayerChainTest, InactiveSecureLayerIsTransparent)
{
    RecordingMySocket socket;
    ASSERT_TRUE(socket.AddLayer(&socket.SslLayer()));
    ASSERT_TRUE(socket.Create());
    socket.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return socket.Has("send:0") && server.accepted.Has("send:0"); }));
    EXPECT_EQ(socket.SslLayer().GetLayerState(), CSocketLayer::connected);

    ASSERT_EQ(server.accepted.Send("data", 4), 4);
    std::string received;
    socket.onReceive = [&](int) {
        char buffer[8];
        int n = socket.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
    };
    ASSERT_TRUE(PumpUntil([&] { return received == "data"; }));
    ASSERT_EQ(socket.Send("back", 4), 4);
    std::string atServer;
    server.accepted.onReceive = [&](int) {
        char buffer[8];
        int n = server.accepted.Receive(buffer, sizeof buffer);
        if (n > 0)
            atServer.append(buffer, n);
    };
    ASSERT_TRUE(PumpUntil([&] { return atServer == "back"; }));
    server.accepted.Close();
    ASSERT_TRUE(PumpUntil([&] { return socket.Has("close:0"); }));
    EXPECT_EQ(socket.SslLayer().GetLayerState(), CSocketLayer::closed);
}

}  // namespace
