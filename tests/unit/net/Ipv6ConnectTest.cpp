// IPv6 on the event socket and the racing connect over a name's addresses, on loopback
// (::1 and 127.0.0.1) only.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/HostLookup.h"
#include "net/SocketHelperWindow.h"
#include "tests/unit/net/NetTestSupport.h"

namespace {

using nettest::LoopbackListener;
using nettest::PumpUntil;
using nettest::RecordingSocket;

ConnectCandidate Candidate(const char* address, unsigned port)
{
    ConnectCandidate candidate;
    EXPECT_TRUE(AddressFromText(address, port, candidate.address, candidate.length)) << address;
    return candidate;
}

unsigned PeerPort(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    std::string text;
    unsigned port = 0;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        !AddressToText(reinterpret_cast<sockaddr*>(&peer), text, port))
        return 0;
    return port;
}

// A port on the address that refuses connections (nothing listens there any more).
unsigned RefusingPort(const char* address)
{
    RecordingSocket probe;
    EXPECT_TRUE(probe.Create(0, SOCK_STREAM, FD_ALL_EVENTS, address));
    std::string text;
    unsigned port = 0;
    EXPECT_TRUE(probe.GetSockName(text, port));
    return port;
}

// A listener whose queue is full: further connection attempts get no answer at all, as
// over a dead route.
class DeadRoute {
public:
    DeadRoute()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 0);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        // Fill the queue until a connection attempt stays unanswered.
        for (int i = 0; i < 16 && !full_; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            fillers_.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                continue;
            pollfd p{fd, POLLOUT, 0};
            full_ = ::poll(&p, 1, 300) == 0;
        }
    }
    ~DeadRoute()
    {
        for (int fd : fillers_)
            ::close(fd);
        ::close(listener_);
    }
    bool full() const { return full_; }
    unsigned port() const { return port_; }

private:
    int listener_ = -1;
    unsigned port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

class Ipv6ConnectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CMessageQueue::ForThisThread();
        const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 loopback{};
        loopback.sin6_family = AF_INET6;
        loopback.sin6_addr = in6addr_loopback;
        const bool usable = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
        if (probe >= 0)
            ::close(probe);
        if (!usable)
            GTEST_SKIP() << "no IPv6 loopback here";
    }
};

TEST_F(Ipv6ConnectTest, LiteralAddressConnectsAndNamesItsPeers)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start("::1"));
    RecordingSocket client;
    ASSERT_TRUE(client.Create());  // made for IPv4: the connect changes its family
    EXPECT_FALSE(client.Connect("::1", server.port));
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return client.Has("send:0") && server.accepted.GetSocketHandle() != INVALID_SOCKET; }));
    EXPECT_EQ(client.events.front(), "connect:0");
    std::string peer;
    unsigned port = 0;
    ASSERT_TRUE(client.GetPeerName(peer, port));
    EXPECT_EQ(peer, "::1");
    EXPECT_EQ(port, server.port);
    ASSERT_TRUE(server.accepted.GetPeerName(peer, port));
    EXPECT_EQ(peer, "::1");
}

TEST_F(Ipv6ConnectTest, ListenerOnBothFamiliesShowsAnIpv4PeerAsIpv4)
{
    LoopbackListener server;
    ASSERT_TRUE(server.Start("::"));
    RecordingSocket client;
    ASSERT_TRUE(client.Create());
    client.Connect("127.0.0.1", server.port);
    ASSERT_TRUE(PumpUntil([&] { return server.accepted.GetSocketHandle() != INVALID_SOCKET; }));
    std::string peer;
    unsigned port = 0;
    ASSERT_TRUE(server.accepted.GetPeerName(peer, port));
    EXPECT_EQ(peer, "127.0.0.1");
}

TEST_F(Ipv6ConnectTest, RacingConnectTakesTheFirstAddressThatAnswers)
{
    LoopbackListener v4;
    ASSERT_TRUE(v4.Start("127.0.0.1"));
    LoopbackListener v6;
    ASSERT_TRUE(v6.Start("::1"));
    DeadRoute dead;
    const unsigned refusedV6 = RefusingPort("::1");
    const unsigned refusedV4 = RefusingPort("127.0.0.1");

    const struct {
        const char* what;
        std::vector<ConnectCandidate> candidates;
        unsigned expectedPort;  // 0: every attempt fails
    } cases[] = {
        {"IPv6 first", {Candidate("::1", v6.port), Candidate("127.0.0.1", v4.port)}, v6.port},
        {"refused IPv6, then IPv4", {Candidate("::1", refusedV6), Candidate("127.0.0.1", v4.port)}, v4.port},
        {"refused IPv4, then IPv6", {Candidate("127.0.0.1", refusedV4), Candidate("::1", v6.port)}, v6.port},
        {"all refused", {Candidate("::1", refusedV6), Candidate("127.0.0.1", refusedV4)}, 0},
        // A route that never answers costs only the stagger: without it the attempt would
        // wait for the connect time-out.
        {"dead route first", {Candidate("127.0.0.1", dead.port()), Candidate("::1", v6.port)}, v6.port},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "dead route first" && !dead.full())
            GTEST_SKIP() << "could not make a route that never answers";
        std::atomic<bool> cancelled{false};
        int error = 0;
        const int fd = ConnectFirstOf(c.candidates, cancelled, error);
        if (c.expectedPort == 0) {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(error, WSAECONNREFUSED);
            continue;
        }
        ASSERT_GE(fd, 0) << error;
        EXPECT_EQ(PeerPort(fd), c.expectedPort);
        ::close(fd);
    }
}

TEST_F(Ipv6ConnectTest, CancelEndsTheRacingConnect)
{
    DeadRoute dead;
    if (!dead.full())
        GTEST_SKIP() << "could not make a route that never answers";
    std::atomic<bool> cancelled{false};
    int error = 0;
    int fd = 0;
    std::thread racer([&] { fd = ConnectFirstOf({Candidate("127.0.0.1", dead.port())}, cancelled, error); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancelled = true;
    racer.join();  // returns within its poll slice
    EXPECT_EQ(fd, -1);
}

} // namespace
