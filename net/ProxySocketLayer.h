#pragma once
// CProxySocketLayer: the layer that reaches the peer through a proxy server (SOCKS4,
// SOCKS4A, SOCKS5 with or without user name and password, HTTP CONNECT with or without
// Basic authentication). It turns the owner's Connect (or Listen) into a connection to the
// proxy followed by the proxy handshake, hides the handshake from the owner and raises
// the owner's connect (or accept) event only when the proxy has opened the path.
//
// Usage:
//   CMySocket socket;                                     // carries one as ProxyLayer()
//   socket.ProxyLayer().SetProxy(PROXYTYPE_SOCKS5, "127.0.0.1", 1080, "user", "pass");
//   socket.AddLayer(&socket.ProxyLayer());                // before Create
//   socket.Create();
//   socket.Connect("ftp.example.com", 21);                // false with 10035: under way
//   ... OnConnect(0) once the proxy has connected to the target; OnConnect(10053 or a
//       socket error) when the proxy or the handshake failed.
//
// Outcomes of the handshake reach the owner as OnLayerCallback(layer, 1, code, parameter)
// with the PROXYERROR_* / PROXYSTATUS_* codes below. A parameter is valid only during the
// call: the status line (const char*) for an HTTP refusal, a const sockaddr_in* for
// PROXYSTATUS_LISTENSOCKETCREATED.
//
// Listen through SOCKS (a BIND request): Listen's argument is the IPv4 address (network
// byte order) of the peer expected to connect, which the proxy may check. The owner gets
// the code PROXYSTATUS_LISTENSOCKETCREATED with the address the proxy listens at, then
// OnAccept(0) when the peer has connected. Accept then succeeds without touching its
// target: the data flows on the listening socket itself (it is the proxy connection).
//
// While the handshake runs, Send and Receive fail with 10035 and the owner sees none of
// the proxy's bytes. Once the path is open, GetPeerName reports the target (10057 when only
// its name is known), and data passes unchanged. Close forgets the request and the target
// but keeps the proxy settings.
//
// With PROXYTYPE_NOPROXY (the default) the layer passes every call and event through.

#include "net/SocketLayer.h"

#include <array>
#include <cstdint>
#include <string>

enum ProxyType {
    PROXYTYPE_NOPROXY = 0,
    PROXYTYPE_SOCKS4 = 1,
    PROXYTYPE_SOCKS4A = 2,
    PROXYTYPE_SOCKS5 = 3,
    PROXYTYPE_HTTP11 = 4,
};

// Codes of OnLayerCallback(layer, LAYERCALLBACK_LAYERSPECIFIC, code, parameter).
constexpr int PROXYERROR_NOCONN = 1;             // the connection to the proxy failed
constexpr int PROXYERROR_REQUESTFAILED = 2;      // refused or malformed answer
constexpr int PROXYERROR_AUTHTYPEUNKNOWN = 4;    // SOCKS5 chose no method we offered
constexpr int PROXYERROR_AUTHFAILED = 5;         // SOCKS5 rejected user name / password
constexpr int PROXYERROR_AUTHNOLOGON = 6;        // SOCKS5 demands credentials we lack
constexpr int PROXYERROR_CANTRESOLVEHOST = 7;    // SOCKS4 cannot carry a host name
constexpr int PROXYSTATUS_LISTENSOCKETCREATED = 8;  // BIND: the proxy listens

class CProxySocketLayer : public CSocketLayer {
public:
    // Pending proxy request.
    enum Request { PROXYOP_NONE = 0, PROXYOP_CONNECT = 1, PROXYOP_BIND = 2 };

    // The status text of an HTTP proxy answer that is not HTTP at all.
    static constexpr const char* kNoValidHttpResponse = "No valid HTTP reponse";
    // The longest HTTP response header the layer collects before it gives up.
    static constexpr size_t kMaxHttpResponse = 8192;

    CProxySocketLayer() = default;
    ~CProxySocketLayer() override = default;

    // Chooses the proxy; only while no request is pending. A user name or password turns
    // on authentication (SOCKS5 offers user name and password, HTTP sends Basic
    // credentials). False (10022) for an unknown type, a proxy type without host or with a
    // port beyond 1..65535, or credentials that SOCKS5 cannot carry (over 255 bytes).
    bool SetProxy(int type);
    bool SetProxy(int type, const std::string& host, unsigned port);
    bool SetProxy(int type, const std::string& host, unsigned port, const std::string& user,
                  const std::string& password);
    int GetProxyType() const { return proxyType; }
    int GetPendingRequest() const { return request; }

    void OnReceive(int error) override;
    void OnConnect(int error) override;
    void OnSend(int error) override;
    void OnClose(int error) override;
    bool Connect(const sockaddr* address, socklen_t addressLength) override;
    bool Connect(const char* host, unsigned port) override;
    bool Listen(int peerAddress) override;
    bool Accept(CEventSocket& target, sockaddr* address, socklen_t* addressLength) override;
    bool GetPeerName(std::string& address, unsigned& port) override;
    bool GetPeerName(sockaddr* address, socklen_t* addressLength) override;
    int Send(const void* buffer, int length, int flags) override;
    int Receive(void* buffer, int length, int flags) override;
    void Close() override;

private:
    // Where the handshake stands: what the bytes being collected are.
    enum Step {
        stepNone = 0,
        stepSocks4Reply,        // 8 bytes
        stepSocks4BindPeer,     // BIND: the second 8-byte reply
        stepSocks5Method,       // 2 bytes
        stepSocks5Auth,         // 2 bytes
        stepSocks5Reply,        // 5 bytes, then the rest by address type
        stepSocks5BindPeer,     // BIND: the second reply
        stepHttpResponse,       // the header, up to the blank line
    };

    bool StartProxyConnection(int newRequest);
    bool SendFirstMessage();
    bool SendSocks5Request();
    bool SendHandshake(const void* message, size_t length);
    void ExpectReply(Step nextStep, size_t length);
    void ReadSocksReply();
    void ReadHttpResponse();
    // The collected reply is complete: checks it and moves on.
    void OnSocks4Reply();
    void OnSocks5MethodReply();
    void OnSocks5AuthReply();
    void OnSocks5Reply();
    // The path is open: the owner gets connect (or accept), read and write.
    void Succeed();
    // Reports the code, raises the owner's connect (or accept) event with the error and
    // forgets the request.
    void Fail(int code, int error, const char* text = nullptr);
    void ReportListenAddress(uint32_t address, uint16_t port);
    // The common end of a SOCKS reply: the first reply to BIND names where the proxy
    // listens and a second one (bindPeerStep) follows; any other reply ends the handshake.
    void FinishSocksReply(uint32_t address, uint16_t port, Step firstReplyStep,
                          Step bindPeerStep, size_t bindPeerLength);
    void ForgetRequest();
    bool HandshakeRunning() const { return proxyType != PROXYTYPE_NOPROXY && request != PROXYOP_NONE; }

    // Proxy settings.
    int proxyType = PROXYTYPE_NOPROXY;
    std::string proxyHost;
    unsigned proxyPort = 0;
    bool useAuthentication = false;
    std::string user;
    std::string password;

    // The request and the target.
    int request = PROXYOP_NONE;
    uint16_t targetPort = 0;        // network byte order
    uint32_t targetAddress = 0;     // network byte order; 0: only targetHost is known
    std::string targetHost;

    // The reply being collected. The longest SOCKS reply is a SOCKS5 one with a 255-byte
    // host name: 4 + 1 + 255 + 2 bytes.
    Step step = stepNone;
    std::array<unsigned char, 262> replyBuffer{};
    size_t replyExpected = 0;
    size_t replyReceived = 0;
    std::string httpResponse;
};
