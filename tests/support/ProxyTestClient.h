#pragma once
// ProxyTestClient: a CMySocket with its proxy layer in the chain that records everything
// reaching its owner side: connect, accept, close, send and receive events, the bytes it
// read, and the proxy layer's status codes with their parameters. Header only, for the
// tests that link tv_net.
//
//   tvtest::ProxyTestClient client;
//   ASSERT_TRUE(client.UseProxy(PROXYTYPE_SOCKS5, proxy.port()));
//   ASSERT_TRUE(client.StartConnect("127.0.0.1", 2121));
//   ASSERT_TRUE(client.WaitFor([&] { return !client.connectErrors.empty(); }));
//
// Waits pump this thread's socket events, so the handlers run inside them; each wait is
// bounded (2 s unless told otherwise).

#include "net/MySocket.h"
#include "net/ProxySocketLayer.h"
#include "platform/Event.h"
#include "platform/MessageWait.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>

namespace tvtest {

struct ProxyStatus {
    int code = 0;
    std::string text;      // the HTTP status line or "No valid HTTP reponse"
    std::string address;   // PROXYSTATUS_LISTENSOCKETCREATED: where the proxy listens
    unsigned port = 0;
};

class ProxyTestClient : public CMySocket {
public:
    // Gives the proxy layer its settings (the proxy on 127.0.0.1), puts it into the chain
    // and creates the socket.
    bool UseProxy(int type, int proxyPort, const std::string& user = {}, const std::string& password = {})
    {
        bool configured = user.empty() && password.empty()
                              ? proxyLayer.SetProxy(type, "127.0.0.1", static_cast<unsigned>(proxyPort))
                              : proxyLayer.SetProxy(type, "127.0.0.1", static_cast<unsigned>(proxyPort), user,
                                                    password);
        return configured && AddLayer(&proxyLayer) && Create();
    }

    // Connect that must be under way (false with 10035); keeps the last error.
    bool StartConnect(const char* host, unsigned port)
    {
        bool done = Connect(host, port);
        lastError = done ? 0 : WSAGetLastError();
        return done || lastError == WSAEWOULDBLOCK;
    }

    bool WaitFor(const std::function<bool()>& done, long timeoutMs = 2000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            // Short slices: the servers run on other threads and do not wake this one.
            MessageWait({&changed}, std::min<long>(static_cast<long>(left), 20));
        }
        return true;
    }

    bool WaitForText(const std::string& text)
    {
        return WaitFor([&] { return received.find(text) != std::string::npos; });
    }

    bool SendText(const std::string& text)
    {
        return Send(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
    }

    bool HasStatus(int code) const
    {
        return std::any_of(statuses.begin(), statuses.end(), [&](const ProxyStatus& s) { return s.code == code; });
    }

    void OnConnect(int error) override
    {
        connectErrors.push_back(error);
        changed.Set();
    }
    void OnAccept(int error) override
    {
        acceptErrors.push_back(error);
        changed.Set();
    }
    void OnClose(int error) override
    {
        closeErrors.push_back(error);
        changed.Set();
    }
    void OnSend(int) override
    {
        ++sendEvents;
        changed.Set();
    }
    void OnReceive(int) override
    {
        ++receiveEvents;
        char buffer[4096];
        for (;;) {
            int got = Receive(buffer, sizeof buffer);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<size_t>(got));
        }
        changed.Set();
    }
    int OnLayerCallback(CSocketLayer* layer, int type, intptr_t code, intptr_t parameter) override
    {
        if (type != CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC)
            return CMySocket::OnLayerCallback(layer, type, code, parameter);
        ProxyStatus status;
        status.code = static_cast<int>(code);
        if (code == PROXYERROR_REQUESTFAILED && parameter)
            status.text = reinterpret_cast<const char*>(parameter);
        if (code == PROXYSTATUS_LISTENSOCKETCREATED && parameter) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(parameter);
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
            status.address = text;
            status.port = ntohs(address->sin_port);
        }
        statuses.push_back(status);
        changed.Set();
        return 1;
    }

    std::vector<int> connectErrors;
    std::vector<int> acceptErrors;
    std::vector<int> closeErrors;
    std::vector<ProxyStatus> statuses;
    std::string received;
    int receiveEvents = 0;
    int sendEvents = 0;
    int lastError = 0;
    CEvent changed;
};

}  // namespace tvtest
