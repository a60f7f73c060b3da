#include "net/SocketLayer.h"

#include "net/EventSocket.h"
#include "net/HostLookup.h"
#include "net/LayerMessage.h"
#include "net/SocketHelperWindow.h"
#include "platform/SocketErrors.h"

#include <arpa/inet.h>

namespace {

bool FailWith(int error)
{
    WSASetLastError(error);
    return false;
}

}  // namespace

// Events travel up: through the previous layer's event entry (so that its state follows
// the connection), or from the first layer to the socket when the socket selected them.
void CSocketLayer::RaiseUp(long event, int error)
{
    if (prevLayer) {
        prevLayer->CallEvent(event, error);
        return;
    }
    if (!owner)
        return;
    if (!owner->SelectedEvent(event))
        return;
    owner->CallHandler(event, error);
}

void CSocketLayer::OnAccept(int error)
{
    RaiseUp(FD_ACCEPT, error);
}

void CSocketLayer::OnClose(int error)
{
    RaiseUp(FD_CLOSE, error);
}

void CSocketLayer::OnConnect(int error)
{
    RaiseUp(FD_CONNECT, error);
}

void CSocketLayer::OnReceive(int error)
{
    RaiseUp(FD_READ, error);
}

void CSocketLayer::OnSend(int error)
{
    RaiseUp(FD_WRITE, error);
}

void CSocketLayer::CallEvent(long event, int error)
{
    if (pendingError != 0)
        return;  // the layer has already failed; later events mean nothing
    pendingError = error;
    switch (event) {
    case FD_CLOSE:
        if (state == connected) {
            SetLayerState(error ? aborted : closed);
            OnClose(error);
        }
        break;
    case FD_CONNECT:
        if (state == connecting) {
            SetLayerState(error ? aborted : connected);
            OnConnect(error);
        }
        break;
    case FD_ACCEPT:
        if (state == listening) {
            SetLayerState(error ? aborted : connected);
            OnAccept(error);
        }
        break;
    case FD_READ:
    case FD_FORCEREAD:
        if (state == connected) {
            if (error)
                SetLayerState(aborted);
            OnReceive(error);
        }
        break;
    case FD_WRITE:
        if (state == connected) {
            if (error)
                SetLayerState(aborted);
            OnSend(error);
        }
        break;
    default:
        break;
    }
}

// The data calls are refused while the layer cannot carry data.
static bool CheckDataState(int pendingError, int state)
{
    if (pendingError != 0)
        return FailWith(pendingError);
    if (state == CSocketLayer::notsock)
        return FailWith(WSAENOTSOCK);
    if (state == CSocketLayer::unconnected || state == CSocketLayer::connecting ||
        state == CSocketLayer::listening)
        return FailWith(WSAENOTCONN);
    return true;
}

int CSocketLayer::Receive(void* buffer, int length, int flags)
{
    if (!CheckDataState(pendingError, state))
        return SOCKET_ERROR;
    if (nextLayer)
        return nextLayer->Receive(buffer, length, flags);
    return owner->ReceiveOnHandle(buffer, length, flags);
}

int CSocketLayer::Send(const void* buffer, int length, int flags)
{
    if (!CheckDataState(pendingError, state))
        return SOCKET_ERROR;
    if (nextLayer)
        return nextLayer->Send(buffer, length, flags);
    return owner->SendOnHandle(buffer, length, flags);
}

bool CSocketLayer::ShutDown(int how)
{
    if (!CheckDataState(pendingError, state))
        return false;
    if (nextLayer)
        return nextLayer->ShutDown(how);
    return owner->ShutDownHandle(how);
}

bool CSocketLayer::Connect(const sockaddr* address, socklen_t addressLength)
{
    bool result = nextLayer ? nextLayer->Connect(address, addressLength)
                            : owner->ConnectHandle(address, addressLength);
    if (result || WSAGetLastError() == WSAEWOULDBLOCK)
        SetLayerState(connecting);
    return result;
}

bool CSocketLayer::Connect(const char* host, unsigned port)
{
    bool result;
    if (nextLayer) {
        result = nextLayer->Connect(host, port);
    } else {
        if (!host || port > 65535)
            return FailWith(WSAEINVAL);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, host, &remote.sin_addr) != 1 && LookUpHost(host, remote.sin_addr) != 0)
            return FailWith(WSAEINVAL);
        result = owner->ConnectHandle(reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    }
    if (result || WSAGetLastError() == WSAEWOULDBLOCK)
        SetLayerState(connecting);
    return result;
}

bool CSocketLayer::Create(unsigned port, int socketType, long events, const char* address)
{
    bool result;
    if (nextLayer) {
        result = nextLayer->Create(port, socketType, events, address);
    } else {
        // The layers need every network event; the socket's own mask filters at the top.
        owner->eventMask = events;
        result = owner->CreateHandle(socketType) && owner->SelectOnHandle(FD_ALL_EVENTS) &&
                 owner->Bind(port, address);
        if (!result) {
            int error = WSAGetLastError();
            owner->CloseHandle();
            WSASetLastError(error);
        }
    }
    if (result) {
        pendingError = 0;
        SetLayerState(unconnected);
    }
    return result;
}

bool CSocketLayer::Listen(int backlog)
{
    bool result = nextLayer ? nextLayer->Listen(backlog) : owner->ListenOnHandle(backlog);
    if (result)
        SetLayerState(listening);
    return result;
}

bool CSocketLayer::Accept(CEventSocket& target, sockaddr* address, socklen_t* addressLength)
{
    if (nextLayer)
        return nextLayer->Accept(target, address, addressLength);
    return owner->AcceptOnHandle(target, address, addressLength);
}

void CSocketLayer::Close()
{
    SetLayerState(notsock);
    pendingError = 0;
    if (nextLayer)
        nextLayer->Close();
}

bool CSocketLayer::GetPeerName(std::string& address, unsigned& port)
{
    if (nextLayer)
        return nextLayer->GetPeerName(address, port);
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    if (!owner->PeerNameOfHandle(reinterpret_cast<sockaddr*>(&remote), &length))
        return false;
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &remote.sin_addr, text, sizeof text))
        return FailWith(WSAEAFNOSUPPORT);
    address = text;
    port = ntohs(remote.sin_port);
    return true;
}

bool CSocketLayer::GetPeerName(sockaddr* address, socklen_t* addressLength)
{
    if (nextLayer)
        return nextLayer->GetPeerName(address, addressLength);
    return owner->PeerNameOfHandle(address, addressLength);
}

void CSocketLayer::PostLayerEvent(long event, int error, bool toSelf)
{
    if (!owner || owner->handle == INVALID_SOCKET || !owner->threadRecord)
        return;
    if (event == FD_CONNECT && error) {
        pendingError = error;
        SetLayerState(aborted);
    } else if (event == FD_CLOSE) {
        if (error) {
            pendingError = error;
            SetLayerState(aborted);
        } else {
            SetLayerState(closed);
        }
    }
    auto record = std::make_unique<CLayerMessage>();
    record->layer = toSelf ? this : prevLayer;
    record->lEvent = static_cast<uint32_t>(WSAMAKESELECTREPLY(event, error));
    owner->threadRecord->helper->Post(WM_SOCKET_LAYER_NOTIFY, reinterpret_cast<uintptr_t>(owner), 0,
                                      std::move(record));
}

void CSocketLayer::SetLayerState(int newState)
{
    int oldState = state;
    state = newState;
    if (oldState != newState)
        DoLayerCallback(LAYERCALLBACK_STATECHANGE, newState, oldState);
}

int CSocketLayer::DoLayerCallback(int type, intptr_t param1, intptr_t param2)
{
    if (!owner)
        return 0;
    int savedError = WSAGetLastError();
    int result = owner->OnLayerCallback(this, type, param1, param2);
    WSASetLastError(savedError);
    return result;
}
