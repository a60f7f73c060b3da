// The proxy layer through real proxies from Debian's packages (danted, microsocks,
// tinyproxy), each started on 127.0.0.1 with its own configuration: a socket with the
// layer in its chain reaches a greeting echo server on loopback and data flows both ways;
// wrong or missing credentials fail with the proxy's status code.

#include "net/ProxySocketLayer.h"
#include "tests/support/ProxyServers.h"
#include "tests/support/ProxyTestClient.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace tvtest {
namespace {

const std::string kGreeting = "220 hello\r\n";

struct RealProxyCase {
    const char* name;
    // The proxy for a target at the given port.
    std::function<std::unique_ptr<ProxyDaemon>(int targetPort)> makeProxy;
    int type;
    const char* user;      // what the client is configured with
    const char* password;
    int failureCode;       // 0: the path must open
    const char* failureText;
};

std::unique_ptr<ProxyDaemon> Dante(int)
{
    return std::make_unique<DanteProxy>();
}
std::unique_ptr<ProxyDaemon> Microsocks(int)
{
    return std::make_unique<MicrosocksProxy>("alice", "open sesame");
}
std::unique_ptr<ProxyDaemon> TinyproxyFor(int targetPort)
{
    // tinyproxy's configuration cannot hold a password with a blank.
    return std::make_unique<Tinyproxy>("alice", "s3cret", targetPort);
}

const RealProxyCase kCases[] = {
    {"DanteSocks4", Dante, PROXYTYPE_SOCKS4, "", "", 0, ""},
    {"DanteSocks4a", Dante, PROXYTYPE_SOCKS4A, "", "", 0, ""},
    {"DanteSocks5", Dante, PROXYTYPE_SOCKS5, "", "", 0, ""},
    {"MicrosocksSocks5Password", Microsocks, PROXYTYPE_SOCKS5, "alice", "open sesame", 0, ""},
    {"MicrosocksWrongPassword", Microsocks, PROXYTYPE_SOCKS5, "alice", "guess", PROXYERROR_AUTHFAILED, ""},
    {"MicrosocksWithoutCredentials", Microsocks, PROXYTYPE_SOCKS5, "", "", PROXYERROR_AUTHTYPEUNKNOWN, ""},
    {"TinyproxyBasicAuthentication", TinyproxyFor, PROXYTYPE_HTTP11, "alice", "s3cret", 0, ""},
    {"TinyproxyWithoutCredentials", TinyproxyFor, PROXYTYPE_HTTP11, "", "", PROXYERROR_REQUESTFAILED,
     "HTTP/1.0 407 Proxy Authentication Required"},
};

void PrintTo(const RealProxyCase& c, std::ostream* out)
{
    *out << c.name;
}

class RealProxyTest : public ::testing::TestWithParam<RealProxyCase> {};

TEST_P(RealProxyTest, ConnectsThroughTheProxy)
{
    const RealProxyCase& c = GetParam();
    GreetingEchoServer target;
    ASSERT_TRUE(target.start()) << target.error();
    std::unique_ptr<ProxyDaemon> proxy = c.makeProxy(target.port());
    if (!proxy->installed())
        GTEST_SKIP() << proxy->missingMessage();
    ASSERT_TRUE(proxy->start()) << proxy->error();

    ProxyTestClient client;
    ASSERT_TRUE(client.UseProxy(c.type, proxy->port(), c.user, c.password));
    const unsigned targetPort = static_cast<unsigned>(target.port());
    ASSERT_TRUE(client.StartConnect("127.0.0.1", targetPort)) << client.lastError;
    ASSERT_TRUE(client.WaitFor([&] { return !client.connectErrors.empty(); }));

    if (c.failureCode != 0) {
        EXPECT_EQ(client.connectErrors, std::vector<int>{WSAECONNABORTED});
        ASSERT_EQ(client.statuses.size(), 1u);
        EXPECT_EQ(client.statuses[0].code, c.failureCode);
        EXPECT_EQ(client.statuses[0].text, c.failureText);
        EXPECT_TRUE(client.received.empty());
        return;
    }
    ASSERT_EQ(client.connectErrors, std::vector<int>{0});
    EXPECT_TRUE(client.statuses.empty());
    ASSERT_TRUE(client.WaitForText(kGreeting));
    ASSERT_TRUE(client.SendText("ping through the proxy\r\n"));
    ASSERT_TRUE(client.WaitForText("ping through the proxy\r\n"));
    EXPECT_EQ(client.received, kGreeting + "ping through the proxy\r\n");

    std::string address;
    unsigned port = 0;
    ASSERT_TRUE(client.GetPeerName(address, port));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, targetPort);
    EXPECT_EQ(target.connectionsServed(), 1);
}

INSTANTIATE_TEST_SUITE_P(Proxies, RealProxyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tvtest
