#pragma once
// CProxySocketLayer: the layer that reaches the peer through a proxy server. For now it
// adds nothing to the base layer (every call and event passes through unchanged); the
// proxy protocols are added to this class later without changing its users.
//
// Usage: CMySocket carries one as a member; nothing inserts it into a chain.

#include "net/SocketLayer.h"

class CProxySocketLayer : public CSocketLayer {
public:
    CProxySocketLayer() = default;
    ~CProxySocketLayer() override = default;
};
