#pragma once
// CMySocket: the program's common socket base, a CEventSocket that carries one proxy layer
// and one secure-socket layer as members. Neither is inserted into the layer chain, so the
// socket runs with an empty chain; they are there for a later proxy or encryption set-up
// (socket.AddLayer(&socket.ProxyLayer()) before Create).
//
// Usage:
//   class CCtrlSocket : public CMySocket { void OnReceive(int error) override; ... };

#include "net/EventSocket.h"
#include "net/ProxySocketLayer.h"
#include "net/SslSocketLayer.h"

class CMySocket : public CEventSocket {
public:
    CMySocket() = default;
    ~CMySocket() override;

    CProxySocketLayer& ProxyLayer() { return proxyLayer; }
    CSslSocketLayer& SslLayer() { return sslLayer; }

protected:
    CProxySocketLayer proxyLayer;
    CSslSocketLayer sslLayer;
};
