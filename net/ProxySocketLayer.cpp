#include "net/ProxySocketLayer.h"

#include "net/EventSocket.h"
#include "net/HostLookup.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>

namespace {

constexpr unsigned char kSocks4Version = 4;
constexpr unsigned char kSocks4Granted = 90;
constexpr size_t kSocks4ReplyLength = 8;
constexpr unsigned char kSocks5Version = 5;
constexpr unsigned char kSocks5NoAuthentication = 0;
constexpr unsigned char kSocks5UserPassword = 2;
constexpr unsigned char kSocks5AuthVersion = 1;
constexpr unsigned char kSocks5AddressIpv4 = 1;
constexpr unsigned char kSocks5AddressName = 3;
constexpr unsigned char kSocks5AddressIpv6 = 4;
constexpr size_t kSocks5ReplyHead = 5;   // enough to know the reply's full length
constexpr size_t kHttpFirstPiece = 8;    // "HTTP/1.x" cannot hold the end of the header
constexpr size_t kMaxSocksField = 255;   // one length byte

bool FailWith(int error)
{
    WSASetLastError(error);
    return false;
}

int FailData(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

// A host name goes into a SOCKS request or an HTTP request line; blanks and control
// characters would let it end the line or the field early.
bool IsSafeHostName(const char* host)
{
    if (!host || !*host)
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(host); *c; ++c) {
        if (*c <= ' ' || *c == 0x7F)
            return false;
    }
    return true;
}

std::string Base64Encode(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t group = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                         uint32_t(uint8_t(bytes[i + 2]));
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += alphabet[group & 63];
    }
    if (i < bytes.size()) {
        uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::string DottedText(uint32_t networkAddress)
{
    in_addr address{};
    address.s_addr = networkAddress;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

void AppendBytes(std::string& message, const void* bytes, size_t length)
{
    message.append(static_cast<const char*>(bytes), length);
}

}  // namespace

bool CProxySocketLayer::SetProxy(int type)
{
    return SetProxy(type, std::string(), 0);
}

bool CProxySocketLayer::SetProxy(int type, const std::string& host, unsigned port)
{
    return SetProxy(type, host, port, std::string(), std::string());
}

bool CProxySocketLayer::SetProxy(int type, const std::string& host, unsigned port, const std::string& newUser,
                                 const std::string& newPassword)
{
    if (type < PROXYTYPE_NOPROXY || type > PROXYTYPE_HTTP11 || HandshakeRunning())
        return FailWith(WSAEINVAL);
    if (type != PROXYTYPE_NOPROXY && (host.empty() || port == 0 || port > 65535))
        return FailWith(WSAEINVAL);
    // The SOCKS5 sub-negotiation carries each with a one-byte length.
    if (newUser.size() > kMaxSocksField || newPassword.size() > kMaxSocksField)
        return FailWith(WSAEINVAL);
    proxyType = type;
    proxyHost = host;
    proxyPort = port;
    useAuthentication = !newUser.empty() || !newPassword.empty();
    user = newUser;
    password = newPassword;
    return true;
}

// --- Calls from the owner ---------------------------------------------------------------

bool CProxySocketLayer::Connect(const char* host, unsigned port)
{
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::Connect(host, port);
    if (HandshakeRunning())
        return FailWith(WSAEALREADY);
    if (!IsSafeHostName(host) || port > 65535)
        return FailWith(WSAEINVAL);

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    bool resolved = inet_pton(AF_INET, host, &target.sin_addr) == 1 || LookUpHost(host, target.sin_addr) == 0;
    if (resolved) {
        bool result = Connect(reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (HandshakeRunning())
            targetHost = host;  // an HTTP proxy is given the name, not the address
        return result;
    }
    if (proxyType == PROXYTYPE_SOCKS4) {
        DoLayerCallback(LAYERCALLBACK_LAYERSPECIFIC, PROXYERROR_CANTRESOLVEHOST, 0);
        return FailWith(WSAEINVAL);
    }
    if (proxyType == PROXYTYPE_SOCKS5 && std::strlen(host) > kMaxSocksField)
        return FailWith(WSAEINVAL);  // longer than the request's length byte can say
    targetAddress = 0;
    targetPort = target.sin_port;
    targetHost = host;
    return StartProxyConnection(PROXYOP_CONNECT) && FailWith(WSAEWOULDBLOCK);
}

bool CProxySocketLayer::Connect(const sockaddr* address, socklen_t addressLength)
{
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::Connect(address, addressLength);
    if (HandshakeRunning())
        return FailWith(WSAEALREADY);
    if (!address || addressLength < static_cast<socklen_t>(sizeof(sockaddr_in)))
        return FailWith(WSAEFAULT);
    if (address->sa_family != AF_INET)
        return FailWith(WSAEAFNOSUPPORT);
    const auto* target = reinterpret_cast<const sockaddr_in*>(address);
    targetAddress = target->sin_addr.s_addr;
    targetPort = target->sin_port;
    targetHost.clear();
    // Under way at best: the owner's connect event comes after the handshake.
    return StartProxyConnection(PROXYOP_CONNECT) && FailWith(WSAEWOULDBLOCK);
}

bool CProxySocketLayer::Listen(int peerAddress)
{
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::Listen(peerAddress);
    if (proxyType == PROXYTYPE_HTTP11)
        return FailWith(WSAEOPNOTSUPP);  // an HTTP proxy has no way to listen for us
    if (HandshakeRunning())
        return FailWith(WSAEALREADY);
    targetPort = 0;
    targetAddress = static_cast<uint32_t>(peerAddress);
    targetHost.clear();
    return StartProxyConnection(PROXYOP_BIND);
}

bool CProxySocketLayer::StartProxyConnection(int newRequest)
{
    ForgetRequest();
    request = newRequest;
    if (CSocketLayer::Connect(proxyHost.c_str(), proxyPort) || WSAGetLastError() == WSAEWOULDBLOCK)
        return true;
    int error = WSAGetLastError();
    ForgetRequest();
    DoLayerCallback(LAYERCALLBACK_LAYERSPECIFIC, PROXYERROR_NOCONN, 0);
    return FailWith(error);
}

bool CProxySocketLayer::Accept(CEventSocket& target, sockaddr* address, socklen_t* addressLength)
{
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::Accept(target, address, addressLength);
    if (HandshakeRunning())
        return FailWith(WSAEWOULDBLOCK);
    if (state != connected)
        return FailWith(WSAEINVAL);
    // The proxy connection itself now carries the peer's data.
    if (address && addressLength)
        return GetPeerName(address, addressLength);
    return true;
}

bool CProxySocketLayer::GetPeerName(std::string& address, unsigned& port)
{
    if (!owner)
        return FailWith(WSAENOTSOCK);  // a layer in no socket's chain
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::GetPeerName(address, port);
    if (state == notsock)
        return FailWith(WSAENOTSOCK);
    if (state != connected || HandshakeRunning() || targetAddress == 0)
        return FailWith(WSAENOTCONN);
    address = DottedText(targetAddress);
    port = ntohs(targetPort);
    return true;
}

bool CProxySocketLayer::GetPeerName(sockaddr* address, socklen_t* addressLength)
{
    if (!owner)
        return FailWith(WSAENOTSOCK);  // a layer in no socket's chain
    if (proxyType == PROXYTYPE_NOPROXY)
        return CSocketLayer::GetPeerName(address, addressLength);
    if (state == notsock)
        return FailWith(WSAENOTSOCK);
    if (state != connected || HandshakeRunning() || targetAddress == 0)
        return FailWith(WSAENOTCONN);
    if (!address || !addressLength || *addressLength < static_cast<socklen_t>(sizeof(sockaddr_in)))
        return FailWith(WSAEFAULT);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = targetAddress;
    peer.sin_port = targetPort;
    std::memcpy(address, &peer, sizeof peer);
    *addressLength = sizeof peer;
    return true;
}

int CProxySocketLayer::Send(const void* buffer, int length, int flags)
{
    if (HandshakeRunning())
        return FailData(WSAEWOULDBLOCK);
    return CSocketLayer::Send(buffer, length, flags);
}

int CProxySocketLayer::Receive(void* buffer, int length, int flags)
{
    if (HandshakeRunning())
        return FailData(WSAEWOULDBLOCK);
    return CSocketLayer::Receive(buffer, length, flags);
}

void CProxySocketLayer::Close()
{
    ForgetRequest();
    targetPort = 0;
    targetAddress = 0;
    targetHost.clear();
    CSocketLayer::Close();
}

// --- Events from the network -------------------------------------------------------------

void CProxySocketLayer::OnConnect(int error)
{
    if (!HandshakeRunning()) {
        CSocketLayer::OnConnect(error);
        return;
    }
    if (error) {
        Fail(PROXYERROR_NOCONN, error);
        return;
    }
    SendFirstMessage();
}

void CProxySocketLayer::OnReceive(int error)
{
    if (!HandshakeRunning()) {
        CSocketLayer::OnReceive(error);
        return;
    }
    if (error) {
        Fail(PROXYERROR_REQUESTFAILED, error);
        return;
    }
    if (step == stepHttpResponse)
        ReadHttpResponse();
    else if (step != stepNone)
        ReadSocksReply();
}

void CProxySocketLayer::OnSend(int error)
{
    // The handshake messages are written at once; the owner hears of room to write
    // only when the path is open.
    if (!HandshakeRunning()) {
        CSocketLayer::OnSend(error);
        return;
    }
    if (error)
        Fail(PROXYERROR_REQUESTFAILED, error);
}

void CProxySocketLayer::OnClose(int error)
{
    if (!HandshakeRunning()) {
        CSocketLayer::OnClose(error);
        return;
    }
    // The proxy went away in the middle of the handshake: the owner is still waiting
    // for its connect (or accept) event, so that is where the failure goes.
    Fail(PROXYERROR_REQUESTFAILED, error ? error : WSAECONNABORTED);
}

// --- The handshake -----------------------------------------------------------------------

bool CProxySocketLayer::SendHandshake(const void* message, size_t length)
{
    int sent = CSocketLayer::Send(message, static_cast<int>(length), 0);
    if (sent >= 0 && static_cast<size_t>(sent) == length)
        return true;
    int error = sent < 0 ? WSAGetLastError() : 0;
    if (error == 0 || error == WSAEWOULDBLOCK)
        error = WSAECONNABORTED;
    Fail(PROXYERROR_REQUESTFAILED, error);
    return false;
}

void CProxySocketLayer::ExpectReply(Step nextStep, size_t length)
{
    step = nextStep;
    replyExpected = length;
    replyReceived = 0;
}

bool CProxySocketLayer::SendFirstMessage()
{
    std::string message;
    switch (proxyType) {
    case PROXYTYPE_SOCKS4:
    case PROXYTYPE_SOCKS4A: {
        const bool nameOnly = targetAddress == 0 && !targetHost.empty();
        // 0.0.0.1 tells a SOCKS4A proxy that the name follows the user id.
        const uint32_t address = nameOnly ? htonl(1) : targetAddress;
        message += static_cast<char>(kSocks4Version);
        message += static_cast<char>(request == PROXYOP_BIND ? 2 : 1);
        AppendBytes(message, &targetPort, 2);
        AppendBytes(message, &address, 4);
        message += '\0';  // empty user id
        if (nameOnly) {
            message += targetHost;
            message += '\0';
        }
        ExpectReply(stepSocks4Reply, kSocks4ReplyLength);
        break;
    }
    case PROXYTYPE_SOCKS5:
        message += static_cast<char>(kSocks5Version);
        message += static_cast<char>(useAuthentication ? 2 : 1);
        message += static_cast<char>(kSocks5NoAuthentication);
        if (useAuthentication)
            message += static_cast<char>(kSocks5UserPassword);
        ExpectReply(stepSocks5Method, 2);
        break;
    case PROXYTYPE_HTTP11: {
        const std::string host = targetHost.empty() ? DottedText(targetAddress) : targetHost;
        const std::string hostAndPort = host + ":" + std::to_string(ntohs(targetPort));
        message = "CONNECT " + hostAndPort + " HTTP/1.1\r\nHost: " + hostAndPort + "\r\n";
        if (useAuthentication) {
            const std::string credentials = Base64Encode(user + ":" + password);
            message += "Authorization: Basic " + credentials + "\r\nProxy-Authorization: Basic " + credentials +
                       "\r\n";
        }
        message += "\r\n";
        httpResponse.clear();
        ExpectReply(stepHttpResponse, 0);
        break;
    }
    default:
        return false;
    }
    return SendHandshake(message.data(), message.size());
}

bool CProxySocketLayer::SendSocks5Request()
{
    std::string message;
    message += static_cast<char>(kSocks5Version);
    message += static_cast<char>(request == PROXYOP_BIND ? 2 : 1);
    message += '\0';
    if (targetAddress == 0 && !targetHost.empty()) {
        message += static_cast<char>(kSocks5AddressName);
        message += static_cast<char>(targetHost.size());  // at most 255: checked by Connect
        message += targetHost;
    } else {
        message += static_cast<char>(kSocks5AddressIpv4);
        AppendBytes(message, &targetAddress, 4);
    }
    AppendBytes(message, &targetPort, 2);
    ExpectReply(stepSocks5Reply, kSocks5ReplyHead);
    return SendHandshake(message.data(), message.size());
}

void CProxySocketLayer::ReadSocksReply()
{
    // Exactly the bytes of the current reply: whatever follows belongs to the next step
    // or, once the path is open, to the owner.
    while (HandshakeRunning() && step != stepHttpResponse && replyReceived < replyExpected) {
        int received = CSocketLayer::Receive(replyBuffer.data() + replyReceived,
                                             static_cast<int>(replyExpected - replyReceived), 0);
        if (received == 0) {
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
            return;
        }
        if (received < 0) {
            int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                Fail(PROXYERROR_REQUESTFAILED, error);
            return;
        }
        replyReceived += static_cast<size_t>(received);
        if (replyReceived < replyExpected)
            continue;
        switch (step) {
        case stepSocks4Reply:
        case stepSocks4BindPeer:
            OnSocks4Reply();
            break;
        case stepSocks5Method:
            OnSocks5MethodReply();
            break;
        case stepSocks5Auth:
            OnSocks5AuthReply();
            break;
        case stepSocks5Reply:
        case stepSocks5BindPeer:
            OnSocks5Reply();
            break;
        default:
            return;
        }
    }
}

void CProxySocketLayer::OnSocks4Reply()
{
    if (replyBuffer[0] != 0 || replyBuffer[1] != kSocks4Granted) {
        Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
        return;
    }
    uint16_t port = 0;
    uint32_t address = 0;
    std::memcpy(&port, &replyBuffer[2], 2);
    std::memcpy(&address, &replyBuffer[4], 4);
    FinishSocksReply(address, port, stepSocks4Reply, stepSocks4BindPeer, kSocks4ReplyLength);
}

void CProxySocketLayer::OnSocks5MethodReply()
{
    if (replyBuffer[0] != kSocks5Version) {
        Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
        return;
    }
    switch (replyBuffer[1]) {
    case kSocks5NoAuthentication:
        SendSocks5Request();
        return;
    case kSocks5UserPassword: {
        if (!useAuthentication) {
            Fail(PROXYERROR_AUTHNOLOGON, WSAECONNABORTED);
            return;
        }
        std::string message;
        message += static_cast<char>(kSocks5AuthVersion);
        message += static_cast<char>(user.size());  // at most 255: checked by SetProxy
        message += user;
        message += static_cast<char>(password.size());
        message += password;
        ExpectReply(stepSocks5Auth, 2);
        SendHandshake(message.data(), message.size());
        return;
    }
    default:
        Fail(PROXYERROR_AUTHTYPEUNKNOWN, WSAECONNABORTED);
        return;
    }
}

void CProxySocketLayer::OnSocks5AuthReply()
{
    if (replyBuffer[1] != 0) {
        Fail(PROXYERROR_AUTHFAILED, WSAECONNABORTED);
        return;
    }
    SendSocks5Request();
}

void CProxySocketLayer::OnSocks5Reply()
{
    if (replyExpected == kSocks5ReplyHead) {
        // The head tells how long the bound address is.
        if (replyBuffer[0] != kSocks5Version || replyBuffer[1] != 0) {
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
            return;
        }
        switch (replyBuffer[3]) {
        case kSocks5AddressIpv4:
            replyExpected = 4 + 4 + 2;
            return;
        case kSocks5AddressName:
            replyExpected = 4 + 1 + replyBuffer[4] + 2;
            return;
        case kSocks5AddressIpv6:
            replyExpected = 4 + 16 + 2;
            return;
        default:
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
            return;
        }
    }
    uint32_t address = 0;
    uint16_t port = 0;
    if (replyBuffer[3] == kSocks5AddressIpv4)
        std::memcpy(&address, &replyBuffer[4], 4);
    std::memcpy(&port, &replyBuffer[replyExpected - 2], 2);
    FinishSocksReply(address, port, stepSocks5Reply, stepSocks5BindPeer, kSocks5ReplyHead);
}

void CProxySocketLayer::FinishSocksReply(uint32_t address, uint16_t port, Step firstReplyStep,
                                         Step bindPeerStep, size_t bindPeerLength)
{
    if (request == PROXYOP_BIND && step == firstReplyStep) {
        ReportListenAddress(address, port);
        if (HandshakeRunning())
            ExpectReply(bindPeerStep, bindPeerLength);
        return;
    }
    if (step == bindPeerStep && address != 0) {
        // The peer that connected to the proxy's listener.
        targetAddress = address;
        targetPort = port;
    }
    Succeed();
}

void CProxySocketLayer::ReadHttpResponse()
{
    while (HandshakeRunning() && step == stepHttpResponse) {
        // Never read past the blank line: what follows it is the owner's data.
        const size_t oldSize = httpResponse.size();
        const size_t wanted = oldSize < kHttpFirstPiece ? kHttpFirstPiece - oldSize : 1;
        char piece[kHttpFirstPiece];
        int received = CSocketLayer::Receive(piece, static_cast<int>(wanted), 0);
        if (received == 0) {
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
            return;
        }
        if (received < 0) {
            int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                Fail(PROXYERROR_REQUESTFAILED, error);
            return;
        }
        httpResponse.append(piece, static_cast<size_t>(received));

        const size_t compared = std::min<size_t>(httpResponse.size(), 5);
        if (httpResponse.compare(0, compared, "HTTP/", compared) != 0) {
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED, kNoValidHttpResponse);
            return;
        }
        // The status line is judged once, when its CR LF arrives.
        const size_t lineEnd = httpResponse.find("\r\n", oldSize > 0 ? oldSize - 1 : 0);
        if (lineEnd != std::string::npos && httpResponse.find("\r\n") == lineEnd) {
            const size_t space = httpResponse.find(' ');
            if (space == std::string::npos || space > lineEnd || httpResponse[space + 1] != '2') {
                Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED);
                return;
            }
        }
        if (httpResponse.size() >= 4 && httpResponse.compare(httpResponse.size() - 4, 4, "\r\n\r\n") == 0) {
            Succeed();
            return;
        }
        if (httpResponse.size() >= kMaxHttpResponse) {
            // A header without end: give up rather than collect without limit.
            Fail(PROXYERROR_REQUESTFAILED, WSAECONNABORTED, kNoValidHttpResponse);
            return;
        }
    }
}

void CProxySocketLayer::ReportListenAddress(uint32_t address, uint16_t port)
{
    sockaddr_in listenAddress{};
    listenAddress.sin_family = AF_INET;
    listenAddress.sin_addr.s_addr = address;
    listenAddress.sin_port = port;
    if (address == 0) {
        // The proxy listens at its own address.
        sockaddr_in proxy{};
        socklen_t length = sizeof proxy;
        if (CSocketLayer::GetPeerName(reinterpret_cast<sockaddr*>(&proxy), &length))
            listenAddress.sin_addr = proxy.sin_addr;
    }
    DoLayerCallback(LAYERCALLBACK_LAYERSPECIFIC, PROXYSTATUS_LISTENSOCKETCREATED,
                    reinterpret_cast<intptr_t>(&listenAddress));
}

void CProxySocketLayer::Succeed()
{
    const int finished = request;
    ForgetRequest();
    PostLayerEvent(finished == PROXYOP_BIND ? FD_ACCEPT : FD_CONNECT, 0);
    PostLayerEvent(FD_FORCEREAD, 0);
    PostLayerEvent(FD_WRITE, 0);
}

void CProxySocketLayer::Fail(int code, int error, const char* text)
{
    // An HTTP refusal names the status line when one has arrived, else it says the
    // answer was not HTTP at all.
    std::string parameter;
    const bool withText = code == PROXYERROR_REQUESTFAILED && proxyType == PROXYTYPE_HTTP11;
    if (withText) {
        const size_t lineEnd = httpResponse.find("\r\n");
        if (text)
            parameter = text;
        else if (lineEnd != std::string::npos)
            parameter = httpResponse.substr(0, lineEnd);
        else
            parameter = kNoValidHttpResponse;
    }
    const int failed = request;
    ForgetRequest();
    DoLayerCallback(LAYERCALLBACK_LAYERSPECIFIC, code, withText ? reinterpret_cast<intptr_t>(parameter.c_str()) : 0);
    if (state == notsock)
        return;  // the owner closed the socket in its callback
    if (failed == PROXYOP_BIND) {
        pendingError = error;
        SetLayerState(aborted);
        PostLayerEvent(FD_ACCEPT, error);
    } else {
        PostLayerEvent(FD_CONNECT, error);  // also marks the layer aborted
    }
}

void CProxySocketLayer::ForgetRequest()
{
    request = PROXYOP_NONE;
    step = stepNone;
    replyExpected = 0;
    replyReceived = 0;
    httpResponse.clear();
    httpResponse.shrink_to_fit();
}
