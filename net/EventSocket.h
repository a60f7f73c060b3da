#pragma once
// CEventSocket: the program's non-blocking TCP socket whose network events are delivered
// as calls of its virtual notification handlers on the thread that created it, while
// that thread waits in MessageWait (platform/MessageWait.h).
//
// Usage:
//   class CMyConnection : public CEventSocket {
//       void OnConnect(int error) override { ... }     // 0 or a socket error (100xx)
//       void OnReceive(int error) override { char b[4096]; int n = Receive(b, sizeof b); }
//       void OnSend(int error) override { ... }        // may write again
//       void OnClose(int error) override { ... }
//   };
//   CMyConnection c;
//   c.Create();                                   // any port, stream socket, all events
//   if (!c.Connect("127.0.0.1", 21) && WSAGetLastError() != WSAEWOULDBLOCK) fail;
//   MessageWait(handles, timeout);                // handlers run inside the wait
//
// Rules of the events (those of Winsock's asynchronous select):
//  - FD_CONNECT once when a connect completes or fails (with the error);
//  - FD_WRITE after a connect completes (and for an accepted socket), then again only
//    after a Send that failed with WSAEWOULDBLOCK;
//  - FD_READ only while bytes are waiting, again after each Receive while more wait;
//  - FD_CLOSE once, when the peer closed (error 0) or the connection broke;
//  - FD_ACCEPT on a listening socket, again after each Accept.
// Failures return false (-1 for Send/Receive) and leave the reason in WSAGetLastError();
// WSAEWOULDBLOCK means "under way". A socket belongs to the thread that last created it
// (Create or Accept): call it only there, and destroy it there or after that thread has
// ended. Destruction closes the socket. A socket object may be created again on another
// thread after Close (a session's next worker thread); it then joins that thread.
//
// Layers (CSocketLayer) can be put between the socket and the network with AddLayer before
// Create; calls then travel down the chain and events up it.

#include "net/SocketTypes.h"
#include "platform/SocketErrors.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <netinet/in.h>

class CSocketLayer;
class CSocketHelperWindow;
struct CSocketThreadRecord;
struct CHostLookup;

class CEventSocket {
public:
    CEventSocket();
    CEventSocket(const CEventSocket&) = delete;
    CEventSocket& operator=(const CEventSocket&) = delete;

    virtual ~CEventSocket();
    // Accepts a pending connection into target (which must have no handle); the new
    // socket is registered on this thread with all events selected. Layers the target was
    // given beforehand (AddLayer) carry the accepted connection as connected.
    virtual bool Accept(CEventSocket& target, sockaddr* address = nullptr, socklen_t* addressLength = nullptr);
    virtual void Close();
    virtual bool Connect(const sockaddr* address, socklen_t addressLength);
    // An IPv4 or IPv6 address is connected at once; a host name is looked up and its
    // addresses tried on a helper thread (HostLookup.h) (false with WSAEWOULDBLOCK either
    // way while under way; a failed look-up reaches OnConnect with 11001..11004).
    virtual bool Connect(const char* host, unsigned port);
    virtual int Receive(void* buffer, int length, int flags = 0);
    virtual int Send(const void* buffer, int length, int flags = 0);
    virtual void OnAccept(int error);
    virtual void OnClose(int error);
    virtual void OnConnect(int error);
    virtual void OnReceive(int error);
    virtual void OnSend(int error);
    // Status reports of layers: type 0 is a state change (param1 new state, param2 old
    // state), type 1 a layer-specific code. Returns 1.
    virtual int OnLayerCallback(CSocketLayer* layer, int type, intptr_t param1, intptr_t param2);

    // port 0: any; address nullptr or "": any local IPv4 address, else IPv4 or IPv6 text
    // (an IPv6 socket takes IPv4 peers too where the system allows it).
    bool Create(unsigned port = 0, int socketType = SOCK_STREAM, long events = FD_ALL_EVENTS,
                const char* address = nullptr);
    bool Bind(unsigned port, const char* address = nullptr);
    bool Listen(int backlog = 5);
    bool AsyncSelect(long events = FD_ALL_EVENTS);
    bool ShutDown(int how = SD_SEND);
    // Local / remote address as text (IPv4 dotted, IPv6 without brackets) and port in host
    // order.
    bool GetSockName(std::string& address, unsigned& port);
    bool GetPeerName(std::string& address, unsigned& port);
    bool GetPeerName(sockaddr* address, socklen_t* addressLength);
    // FIONREAD (bytes waiting) and FIONBIO are supported.
    bool IOCtl(long command, unsigned long* argument);
    SOCKET GetSocketHandle() const { return handle; }
    long GetEventMask() const { return eventMask; }

    // Layer chain: each added layer goes below the previous one (toward the network).
    // Only while the socket has no handle; Close empties the chain again. The socket does
    // not own its layers.
    bool AddLayer(CSocketLayer* layer);
    void RemoveAllLayers();
    CSocketLayer* GetFirstLayer() const { return firstLayer; }
    CSocketLayer* GetLastLayer() const { return lastLayer; }

protected:
    SOCKET handle = INVALID_SOCKET;
    int slot = -1;                  // index in the thread's socket table
    long eventMask = 0;             // events the owner asked for
    uint64_t lookupHandle = 0;      // pending host-name look-up, 0 when none
    unsigned connectPort = 0;       // port for the look-up's connect
    CSocketThreadRecord* threadRecord = nullptr;
    CSocketLayer* firstLayer = nullptr;
    CSocketLayer* lastLayer = nullptr;

private:
    friend class CSocketHelperWindow;
    friend class CSocketLayer;

    // Calls the notification handler of one event (a forced read calls OnReceive).
    void CallHandler(long event, int error);
    // Whether the owner asked for the event (a forced read counts as a read).
    bool SelectedEvent(long event) const;

    // Connection progress, as the network-event rules need it.
    enum class NetState { None, Unconnected, Connecting, Connected, Listening };

    // Work on the handle itself (used directly without layers, and by the last layer).
    bool RegisterThread();
    bool CreateHandle(int socketType);
    bool SelectOnHandle(long events);
    bool ConnectHandle(const sockaddr* address, socklen_t addressLength);
    // Makes the handle one of the address family (a fresh, unbound socket under the same
    // handle number) when it is of the other.
    bool UseFamily(int wanted);
    // Puts a socket connected on the look-up thread under this handle.
    bool AdoptConnected(int connected, int connectedFamily);
    bool StartLookup(const char* host, unsigned port);
    void CancelLookup();
    int ReceiveOnHandle(void* buffer, int length, int flags);
    int SendOnHandle(const void* buffer, int length, int flags);
    bool ListenOnHandle(int backlog);
    bool AcceptOnHandle(CEventSocket& target, sockaddr* address, socklen_t* addressLength);
    bool ShutDownHandle(int how);
    bool PeerNameOfHandle(sockaddr* address, socklen_t* addressLength);
    void CloseHandle();

    std::shared_ptr<CHostLookup> lookup;  // the pending look-up's result buffer
    NetState netState = NetState::None;
    bool readArmed = false;       // FD_READ may be reported (re-armed by Receive)
    // FD_WRITE may be reported (after connect / would-block). A site-to-site copy may send
    // on the partner's control socket from the driving thread, so it is atomic.
    std::atomic<bool> writeArmed{false};
    bool acceptArmed = false;     // FD_ACCEPT may be reported (re-armed by Accept)
    bool closeReported = false;   // FD_CLOSE is reported once
    // The error that ended a connection before its connect was reported: the socket's
    // pending error is read (and so cleared) to learn how the connect went, so it is kept
    // here for the close that follows the data.
    int errorBeforeConnect = 0;
    long selectedEvents = 0;      // events watched on the handle (all of them under layers)
    int family = AF_INET;         // address family of the handle
    int socketType = SOCK_STREAM;
};

// IPv4 or IPv6 address text (no brackets) and port as a socket address; false when the
// text is neither.
bool AddressFromText(const std::string& text, unsigned port, sockaddr_storage& address, socklen_t& length);
// A socket address as text (an IPv4 address mapped into IPv6 as plain IPv4) and port.
bool AddressToText(const sockaddr* address, std::string& text, unsigned& port);
