#include "net/EventSocket.h"

#include "net/HostLookup.h"
#include "net/SocketHelperWindow.h"
#include "net/SocketLayer.h"

#include <cerrno>

#include <fcntl.h>

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool SetErrorFromErrno()
{
    WSASetLastError(SocketErrorFromErrno(errno));
    return false;
}

bool FailWith(int error)
{
    WSASetLastError(error);
    return false;
}

// Dotted (IPv4) or colon (IPv6) text to a local address of that family; no text (or
// empty) is IPv4's "any".
bool ParseLocalAddress(const char* text, unsigned port, sockaddr_storage& address, socklen_t& length)
{
    address = {};
    if (!text || !*text) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        v4.sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof v4;
        return true;
    }
    return AddressFromText(text, port, address, length);
}

}  // namespace

bool AddressFromText(const std::string& text, unsigned port, sockaddr_storage& address, socklen_t& length)
{
    address = {};
    if (port > 65535)
        return false;
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof v4;
        return true;
    }
    address = {};
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof v6;
        return true;
    }
    return false;
}

bool AddressToText(const sockaddr* address, std::string& text, unsigned& port)
{
    char buffer[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        if (!inet_ntop(AF_INET, &v4->sin_addr, buffer, sizeof buffer))
            return false;
        port = ntohs(v4->sin_port);
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        port = ntohs(v6->sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
            // An IPv4 peer of a socket that takes both families: shown as IPv4.
            if (!inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], buffer, sizeof buffer))
                return false;
        } else if (!inet_ntop(AF_INET6, &v6->sin6_addr, buffer, sizeof buffer)) {
            return false;
        }
    } else {
        return false;
    }
    text = buffer;
    return true;
}

namespace {

}  // namespace

CEventSocket::CEventSocket() = default;

CEventSocket::~CEventSocket()
{
    CEventSocket::Close();
    CSocketHelperWindow::Release(threadRecord);
    threadRecord = nullptr;
}

bool CEventSocket::RegisterThread()
{
    CSocketHelperWindow* current = CSocketHelperWindow::ForThisThread();
    if (threadRecord && current && threadRecord->helper.get() == current)
        return true;
    // A socket kept across worker threads joins the thread that uses it now; its old
    // thread's helper could never deliver its events here.
    CSocketThreadRecord* record = CSocketHelperWindow::AddRefThisThread();
    if (!record)
        return false;
    CSocketHelperWindow::Release(threadRecord);
    threadRecord = record;
    return true;
}

bool CEventSocket::Create(unsigned port, int socketType, long events, const char* address)
{
    if (handle != INVALID_SOCKET)
        return FailWith(WSAEALREADY);
    if (!RegisterThread())
        return FailWith(WSANOTINITIALISED);
    eventMask = events;
    if (firstLayer)
        return firstLayer->Create(port, socketType, events, address);

    if (!CreateHandle(socketType))
        return false;
    if (!AsyncSelect(events)) {
        int error = WSAGetLastError();
        Close();
        return FailWith(error);
    }
    if (!Bind(port, address)) {
        int error = WSAGetLastError();
        Close();
        return FailWith(error);
    }
    return true;
}

bool CEventSocket::CreateHandle(int socketType)
{
    SOCKET created = ::socket(AF_INET, socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (created < 0)
        return SetErrorFromErrno();
    handle = created;
    family = AF_INET;
    this->socketType = socketType;
    if (!threadRecord->helper->AddSocket(this)) {
        ::close(handle);
        handle = INVALID_SOCKET;
        return FailWith(WSAEMFILE);  // every entry of the thread's table is taken
    }
    netState = NetState::Unconnected;
    readArmed = writeArmed = acceptArmed = closeReported = false;
    errorBeforeConnect = 0;
    return true;
}

bool CEventSocket::Bind(unsigned port, const char* address)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    sockaddr_storage local{};
    socklen_t length = 0;
    if (port > 65535 || !ParseLocalAddress(address, port, local, length))
        return FailWith(WSAEINVAL);
    if (!UseFamily(local.ss_family))
        return false;
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), length) != 0)
        return SetErrorFromErrno();
    return true;
}

bool CEventSocket::UseFamily(int wanted)
{
    if (wanted == family)
        return true;
    // The handle keeps its number (and so its place in the thread's table); only the
    // socket behind it is replaced by one of the other family.
    const int replacement = ::socket(wanted, socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (replacement < 0)
        return SetErrorFromErrno();
    if (wanted == AF_INET6) {
        // Both families where the system allows it: a listening socket then takes the
        // server's data connection whichever family it comes from.
        int off = 0;
        ::setsockopt(replacement, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    const bool replaced = ::dup3(replacement, handle, O_CLOEXEC) >= 0;
    const int dupError = errno;
    ::close(replacement);
    if (!replaced)
        return FailWith(SocketErrorFromErrno(dupError));
    family = wanted;
    return true;
}

bool CEventSocket::AsyncSelect(long events)
{
    eventMask = events;
    if (firstLayer)
        return true;
    return SelectOnHandle(events);
}

bool CEventSocket::SelectOnHandle(long events)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    selectedEvents = events;
    // Selecting re-checks every condition, as a fresh asynchronous select does: a waiting
    // byte, a pending connection, or a connected socket's room to write is reported anew.
    if (!closeReported)
        readArmed = netState == NetState::Connected;
    acceptArmed = netState == NetState::Listening;
    writeArmed = netState == NetState::Connected && !closeReported;
    return true;
}

bool CEventSocket::Listen(int backlog)
{
    if (firstLayer)
        return firstLayer->Listen(backlog);
    return ListenOnHandle(backlog);
}

bool CEventSocket::ListenOnHandle(int backlog)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (::listen(handle, backlog) != 0)
        return SetErrorFromErrno();
    netState = NetState::Listening;
    acceptArmed = true;
    return true;
}

bool CEventSocket::Accept(CEventSocket& target, sockaddr* address, socklen_t* addressLength)
{
    if (firstLayer)
        return firstLayer->Accept(target, address, addressLength);
    return AcceptOnHandle(target, address, addressLength);
}

bool CEventSocket::AcceptOnHandle(CEventSocket& target, sockaddr* address, socklen_t* addressLength)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (target.handle != INVALID_SOCKET)
        return FailWith(WSAEINVAL);
    SOCKET accepted = ::accept4(handle, address, addressLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    acceptArmed = true;  // the next pending connection is reported again
    if (accepted < 0)
        return SetErrorFromErrno();
    if (!target.RegisterThread()) {
        ::close(accepted);
        return FailWith(WSANOTINITIALISED);
    }
    target.handle = accepted;
    if (!target.threadRecord->helper->AddSocket(&target)) {
        ::close(accepted);
        target.handle = INVALID_SOCKET;
        return FailWith(WSAEMFILE);
    }
    target.netState = NetState::Connected;
    target.closeReported = false;
    // All events on the handle itself, also when the target has layers of its own.
    target.eventMask = FD_ALL_EVENTS;
    target.SelectOnHandle(FD_ALL_EVENTS);
    // The target's own layers (TLS on an active data connection) carry the accepted
    // connection as if they had connected it.
    for (CSocketLayer* layer = target.firstLayer; layer; layer = layer->nextLayer) {
        layer->pendingError = 0;
        layer->SetLayerState(CSocketLayer::connected);
    }
    return true;
}

bool CEventSocket::Connect(const char* host, unsigned port)
{
    if (firstLayer)
        return firstLayer->Connect(host, port);
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (!host || !*host || port > 65535)
        return FailWith(WSAEINVAL);
    sockaddr_storage remote{};
    socklen_t length = 0;
    if (AddressFromText(host, port, remote, length))
        return ConnectHandle(reinterpret_cast<const sockaddr*>(&remote), length);
    return StartLookup(host, port);
}

bool CEventSocket::Connect(const sockaddr* address, socklen_t addressLength)
{
    if (firstLayer)
        return firstLayer->Connect(address, addressLength);
    return ConnectHandle(address, addressLength);
}

bool CEventSocket::ConnectHandle(const sockaddr* address, socklen_t addressLength)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (!address)
        return FailWith(WSAEFAULT);
    if (!UseFamily(address->sa_family))
        return false;
    if (::connect(handle, address, addressLength) != 0 && errno != EINPROGRESS)
        return SetErrorFromErrno();
    // Even a connect that completed at once is reported through OnConnect, so callers
    // have a single path: false with "would block", then the connect event.
    netState = NetState::Connecting;
    return FailWith(WSAEWOULDBLOCK);
}

bool CEventSocket::AdoptConnected(int connected, int connectedFamily)
{
    if (handle == INVALID_SOCKET) {
        ::close(connected);
        return FailWith(WSAENOTSOCK);
    }
    const bool adopted = ::dup3(connected, handle, O_CLOEXEC) >= 0;
    const int dupError = errno;
    ::close(connected);
    if (!adopted)
        return FailWith(SocketErrorFromErrno(dupError));
    family = connectedFamily;
    // Reported like any connect: the poll finds the socket writable at once.
    netState = NetState::Connecting;
    return true;
}

bool CEventSocket::StartLookup(const char* host, unsigned port)
{
    CancelLookup();
    auto request = std::make_shared<CHostLookup>();
    request->host = host;
    request->port = port;
    CSocketHelperWindow* helper = threadRecord->helper.get();
    uint64_t started = StartHostLookup(request, helper->Queue(), helper->TargetId());
    if (started == 0)
        return FailWith(WSAENOBUFS);
    lookup = std::move(request);
    lookupHandle = started;
    connectPort = port;
    return FailWith(WSAEWOULDBLOCK);  // under way; the result arrives as OnConnect or a connect
}

void CEventSocket::CancelLookup()
{
    // The look-up thread keeps its own reference; it stops its attempts, and its late
    // message finds no socket.
    if (lookup)
        lookup->cancelled = true;
    lookup.reset();
    lookupHandle = 0;
}

int CEventSocket::Receive(void* buffer, int length, int flags)
{
    if (firstLayer)
        return firstLayer->Receive(buffer, length, flags);
    return ReceiveOnHandle(buffer, length, flags);
}

int CEventSocket::ReceiveOnHandle(void* buffer, int length, int flags)
{
    if (handle == INVALID_SOCKET) {
        FailWith(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (length < 0 || (!buffer && length > 0)) {
        FailWith(WSAEFAULT);
        return SOCKET_ERROR;
    }
    ssize_t received = ::recv(handle, buffer, static_cast<size_t>(length), flags);
    readArmed = !closeReported;  // more waiting bytes are reported again
    if (received < 0) {
        SetErrorFromErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(received);
}

int CEventSocket::Send(const void* buffer, int length, int flags)
{
    if (firstLayer)
        return firstLayer->Send(buffer, length, flags);
    return SendOnHandle(buffer, length, flags);
}

int CEventSocket::SendOnHandle(const void* buffer, int length, int flags)
{
    if (handle == INVALID_SOCKET) {
        FailWith(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (length < 0 || (!buffer && length > 0)) {
        FailWith(WSAEFAULT);
        return SOCKET_ERROR;
    }
    // MSG_NOSIGNAL: a peer that went away is an error value, not a signal.
    ssize_t sent = ::send(handle, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            writeArmed = !closeReported;  // report when there is room again
        SetErrorFromErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

bool CEventSocket::ShutDown(int how)
{
    if (firstLayer)
        return firstLayer->ShutDown(how);
    return ShutDownHandle(how);
}

bool CEventSocket::ShutDownHandle(int how)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (::shutdown(handle, how) != 0)
        return SetErrorFromErrno();
    return true;
}

void CEventSocket::Close()
{
    if (firstLayer)
        firstLayer->Close();
    CloseHandle();
    RemoveAllLayers();
    CancelLookup();
}

void CEventSocket::CloseHandle()
{
    if (handle == INVALID_SOCKET)
        return;
    if (threadRecord && threadRecord->helper)
        threadRecord->helper->RemoveSocket(this);
    ::close(handle);
    handle = INVALID_SOCKET;
    slot = -1;
    netState = NetState::None;
    readArmed = writeArmed = acceptArmed = closeReported = false;
    errorBeforeConnect = 0;
    selectedEvents = 0;
}

bool CEventSocket::GetSockName(std::string& address, unsigned& port)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return SetErrorFromErrno();
    if (!AddressToText(reinterpret_cast<const sockaddr*>(&local), address, port))
        return FailWith(WSAEAFNOSUPPORT);
    return true;
}

bool CEventSocket::GetPeerName(std::string& address, unsigned& port)
{
    if (firstLayer)
        return firstLayer->GetPeerName(address, port);
    sockaddr_storage remote{};
    socklen_t length = sizeof remote;
    if (!GetPeerName(reinterpret_cast<sockaddr*>(&remote), &length))
        return false;
    if (!AddressToText(reinterpret_cast<const sockaddr*>(&remote), address, port))
        return FailWith(WSAEAFNOSUPPORT);
    return true;
}

bool CEventSocket::GetPeerName(sockaddr* address, socklen_t* addressLength)
{
    if (firstLayer)
        return firstLayer->GetPeerName(address, addressLength);
    return PeerNameOfHandle(address, addressLength);
}

bool CEventSocket::PeerNameOfHandle(sockaddr* address, socklen_t* addressLength)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (::getpeername(handle, address, addressLength) != 0)
        return SetErrorFromErrno();
    return true;
}

bool CEventSocket::IOCtl(long command, unsigned long* argument)
{
    if (handle == INVALID_SOCKET)
        return FailWith(WSAENOTSOCK);
    if (!argument)
        return FailWith(WSAEFAULT);
    if (command == static_cast<long>(FIONREAD)) {
        int waiting = 0;
        if (::ioctl(handle, FIONREAD, &waiting) != 0)
            return SetErrorFromErrno();
        *argument = static_cast<unsigned long>(waiting);
        return true;
    }
    if (command == static_cast<long>(FIONBIO)) {
        // Event sockets are always non-blocking.
        return *argument != 0 ? true : FailWith(WSAEINVAL);
    }
    return FailWith(WSAEINVAL);
}

bool CEventSocket::AddLayer(CSocketLayer* layer)
{
    if (!layer || handle != INVALID_SOCKET)
        return FailWith(WSAEINVAL);
    layer->owner = this;
    layer->nextLayer = nullptr;
    layer->prevLayer = lastLayer;
    if (lastLayer)
        lastLayer->nextLayer = layer;
    else
        firstLayer = layer;
    lastLayer = layer;
    return true;
}

void CEventSocket::RemoveAllLayers()
{
    for (CSocketLayer* layer = firstLayer; layer;) {
        CSocketLayer* next = layer->nextLayer;
        layer->nextLayer = nullptr;
        layer->prevLayer = nullptr;
        layer = next;
    }
    firstLayer = lastLayer = nullptr;
}

void CEventSocket::OnAccept(int) {}
void CEventSocket::OnClose(int) {}
void CEventSocket::OnConnect(int) {}
void CEventSocket::OnReceive(int) {}
void CEventSocket::OnSend(int) {}

int CEventSocket::OnLayerCallback(CSocketLayer*, int, intptr_t, intptr_t)
{
    return 1;
}

void CEventSocket::CallHandler(long event, int error)
{
    switch (event) {
    case FD_READ:
    case FD_FORCEREAD:
        OnReceive(error);
        break;
    case FD_WRITE:
        OnSend(error);
        break;
    case FD_ACCEPT:
        OnAccept(error);
        break;
    case FD_CONNECT:
        OnConnect(error);
        break;
    case FD_CLOSE:
        OnClose(error);
        break;
    default:
        break;
    }
}

bool CEventSocket::SelectedEvent(long event) const
{
    return (eventMask & (event == FD_FORCEREAD ? FD_READ : event)) != 0;
}
