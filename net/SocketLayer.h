#pragma once
// CSocketLayer: one link of the chain between a CEventSocket and the network. A layer can
// transform outgoing calls and incoming events (a proxy handshake, an encryption engine).
//
// Usage:
//   class CMyLayer : public CSocketLayer {
//       int Send(const void* b, int n, int flags) override { ...; return CSocketLayer::Send(b, n, flags); }
//       void OnReceive(int error) override { ...; CSocketLayer::OnReceive(error); }
//   };
//   CMyLayer layer;  CEventSocket socket;
//   socket.AddLayer(&layer);          // before Create; the socket does not own the layer
//   socket.Create(); socket.Connect("127.0.0.1", 21);
//
// Calls travel down: the socket calls its first layer, each layer its next layer, and the
// last layer works on the socket's handle. Events travel up: network events enter the last
// layer through its event entry (which keeps the state), each handler passes the event to
// the previous layer's event entry, and the first layer calls the socket's handler when
// the socket selected that event. A layer raises an event of its own with PostLayerEvent.
// Every state change is reported to the owner as OnLayerCallback(layer, 0, new, old).

#include "net/SocketTypes.h"

#include <cstdint>
#include <string>

#include <netinet/in.h>

class CEventSocket;

class CSocketLayer {
public:
    enum State {
        notsock = 0,
        unconnected = 1,
        connecting = 2,
        listening = 3,
        connected = 4,
        closed = 5,
        aborted = 6,
    };
    // OnLayerCallback types.
    static constexpr int LAYERCALLBACK_STATECHANGE = 0;
    static constexpr int LAYERCALLBACK_LAYERSPECIFIC = 1;

    CSocketLayer() = default;
    CSocketLayer(const CSocketLayer&) = delete;
    CSocketLayer& operator=(const CSocketLayer&) = delete;

    virtual ~CSocketLayer() = default;
    virtual void OnAccept(int error);
    virtual void OnClose(int error);
    virtual void OnConnect(int error);
    virtual void OnReceive(int error);
    virtual void OnSend(int error);
    virtual bool Accept(CEventSocket& target, sockaddr* address, socklen_t* addressLength);
    virtual void Close();
    virtual bool Connect(const sockaddr* address, socklen_t addressLength);
    virtual bool Connect(const char* host, unsigned port);
    virtual bool Create(unsigned port, int socketType, long events, const char* address);
    virtual bool GetPeerName(std::string& address, unsigned& port);
    virtual bool GetPeerName(sockaddr* address, socklen_t* addressLength);
    virtual bool Listen(int backlog);
    virtual int Receive(void* buffer, int length, int flags);
    virtual int Send(const void* buffer, int length, int flags);
    virtual bool ShutDown(int how);

    // Event entry for events from the network (and posted layer events): keeps the state
    // and the pending error, then calls the matching handler.
    void CallEvent(long event, int error);

    int GetLayerState() const { return state; }
    int GetPendingError() const { return pendingError; }
    CEventSocket* GetOwner() const { return owner; }
    CSocketLayer* GetNextLayer() const { return nextLayer; }
    CSocketLayer* GetPrevLayer() const { return prevLayer; }

protected:
    // Raises event for this layer (toSelf) or for the layer above it, through the owner's
    // helper queue, so it arrives after the current handler returned. Nothing is posted
    // when the owner has no handle.
    void PostLayerEvent(long event, int error, bool toSelf = false);
    void SetLayerState(int newState);
    // Hands an event to the previous layer's event entry, or to the socket's handler.
    void RaiseUp(long event, int error);
    // Calls the owner's OnLayerCallback, keeping the thread's last socket error.
    int DoLayerCallback(int type, intptr_t param1, intptr_t param2);

    CEventSocket* owner = nullptr;
    int state = notsock;
    int pendingError = 0;
    CSocketLayer* nextLayer = nullptr;  // toward the network
    CSocketLayer* prevLayer = nullptr;  // toward the socket

private:
    friend class CEventSocket;
    friend class CSocketHelperWindow;
};
