#pragma once
// CSslSocketLayer: the layer meant to carry a connection through an encryption engine.
// No engine is loaded in this program, so the layer is always inactive: it passes every
// call down and every event up unchanged, and all connections are unencrypted.
//
// Usage: CMySocket carries one as a member; nothing inserts it into a chain. Inserted by
// hand (AddLayer) it is a transparent link, which the tests rely on.

#include "net/SocketLayer.h"

class CSslSocketLayer : public CSocketLayer {
public:
    CSslSocketLayer() = default;
    ~CSslSocketLayer() override;

    bool IsActive() const { return active; }

    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;
    int Send(const void* buffer, int length, int flags) override;
    int Receive(void* buffer, int length, int flags) override;
    bool Connect(const sockaddr* address, socklen_t addressLength) override;
    bool Connect(const char* host, unsigned port) override;
    void Close() override;
    bool ShutDown(int how) override;

private:
    bool active = false;            // set only once an engine is running; never here
    bool holdsLibraryReference = false;
};
