#pragma once
// The proxy a session's connections go through, and what the control and data sockets
// share to use it: putting the proxy layer into a socket's chain (again before every
// Create, since Close empties the chain) and turning the layer's reports into log lines.

#include <cstdint>
#include <string>

#include "net/MySocket.h"

struct ProxyOptions {
    int type = PROXYTYPE_NOPROXY;  // a ProxyType
    std::string host;
    unsigned port = 0;
    std::string user;  // empty: no authentication
    std::string password;

    bool Enabled() const { return type != PROXYTYPE_NOPROXY; }
    bool IsHttp() const { return type == PROXYTYPE_HTTP11; }
    // "SOCKS5 proxy 127.0.0.1:1080" and the like.
    std::string Description() const;
};

// Empties the socket's chain and, when a proxy is set, inserts the socket's proxy layer
// with these settings. Only while the socket has no handle. False for settings the layer
// refuses (no host, a bad port, credentials too long): the error text is in *error.
// withTls: the socket's TLS layer goes in first, above the proxy (still transparent
// until its handshake starts).
bool InsertProxyLayer(CMySocket& socket, const ProxyOptions& proxy, std::string* error, bool withTls = false);

// The log line for a report of the proxy layer: false when the report is no proxy
// report. kind is LOG_STATE for progress, LOG_ERROR for failures.
bool ProxyReportLine(CMySocket& socket, CSocketLayer* layer, int type, intptr_t code,
                     intptr_t parameter, std::string& text, int& kind);
