#pragma once
// CMySocket: the program's common socket base, a CEventSocket that carries one proxy layer
// and one TLS layer as members. Neither is in the layer chain until the connection's set-up
// adds it (socket.AddLayer(&socket.SslLayer()) before Create, the TLS layer first so that
// it sits above a proxy).
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
