// The proxy set-up the control and data sockets share: which settings put the proxy layer
// into a socket's chain, and the log line of each report of the layer.

#include "ftp/ProxyConnection.h"

#include "ftp/FtpTypes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace {

TEST(ProxyConnection, InsertsTheLayerOnlyForUsableSettings)
{
    struct Case {
        const char* what;
        ProxyOptions proxy;
        bool accepted;
        bool layered;
    };
    const Case cases[] = {
        {"no proxy", {}, true, false},
        {"SOCKS5", {PROXYTYPE_SOCKS5, "127.0.0.1", 1080, "", ""}, true, true},
        {"HTTP with login", {PROXYTYPE_HTTP11, "proxy", 3128, "bob", "pw"}, true, true},
        {"no host", {PROXYTYPE_SOCKS4, "", 1080, "", ""}, false, false},
        {"no port", {PROXYTYPE_SOCKS5, "proxy", 0, "", ""}, false, false},
        {"unknown type", {9, "proxy", 1080, "", ""}, false, false},
        {"SOCKS5 user too long", {PROXYTYPE_SOCKS5, "proxy", 1080, std::string(256, 'u'), "pw"}, false, false},
    };
    for (const Case& c : cases) {
        CMySocket socket;
        std::string error;
        EXPECT_EQ(InsertProxyLayer(socket, c.proxy, &error), c.accepted) << c.what;
        EXPECT_EQ(socket.GetFirstLayer() == &socket.ProxyLayer(), c.layered) << c.what;
        EXPECT_EQ(error.empty(), c.accepted) << c.what << ": " << error;
        // Inserting again (before the next Create) leaves one layer, not two.
        if (c.layered) {
            EXPECT_TRUE(InsertProxyLayer(socket, c.proxy, &error)) << c.what;
            EXPECT_EQ(socket.GetFirstLayer(), socket.GetLastLayer()) << c.what;
        }
    }
}

TEST(ProxyConnection, ReportsBecomeStateOrErrorLines)
{
    CMySocket socket;
    CSocketLayer* proxy = &socket.ProxyLayer();
    sockaddr_in listening{};
    listening.sin_family = AF_INET;
    listening.sin_port = htons(40123);
    inet_pton(AF_INET, "10.1.2.3", &listening.sin_addr);
    const char* statusLine = "HTTP/1.0 407 Proxy Authentication Required";
    struct Case {
        intptr_t code;
        intptr_t parameter;
        int kind;
        std::string text;
    };
    const Case cases[] = {
        {PROXYERROR_NOCONN, 0, LOG_ERROR, "Can't connect to the proxy server."},
        {PROXYERROR_REQUESTFAILED, reinterpret_cast<intptr_t>(statusLine), LOG_ERROR,
         std::string("The proxy server refused the connection. ") + statusLine},
        {PROXYERROR_REQUESTFAILED, 0, LOG_ERROR, "The proxy server refused the connection."},
        {PROXYERROR_AUTHFAILED, 0, LOG_ERROR, "The proxy server rejected the user name or password."},
        {PROXYERROR_AUTHNOLOGON, 0, LOG_ERROR, "The proxy server requires a user name and password."},
        {PROXYSTATUS_LISTENSOCKETCREATED, reinterpret_cast<intptr_t>(&listening), LOG_STATE,
         "The proxy server listens for the data connection at 10.1.2.3:40123."},
    };
    for (const Case& c : cases) {
        std::string text;
        int kind = -1;
        ASSERT_TRUE(ProxyReportLine(socket, proxy, CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC, c.code,
                                    c.parameter, text, kind))
            << c.code;
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(kind, c.kind) << c.text;
    }
    // State changes and other layers' reports are not proxy reports.
    std::string text;
    int kind = -1;
    EXPECT_FALSE(ProxyReportLine(socket, proxy, CSocketLayer::LAYERCALLBACK_STATECHANGE, 1, 0, text, kind));
    EXPECT_FALSE(ProxyReportLine(socket, &socket.SslLayer(), CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC,
                                 PROXYERROR_NOCONN, 0, text, kind));
}

}  // namespace
