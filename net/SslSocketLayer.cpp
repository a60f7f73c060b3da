#include "net/SslSocketLayer.h"

#include <mutex>

namespace {

// State shared by every layer object that holds a reference on the encryption engine.
// Nothing takes a reference in this program (no engine is loaded), so only the release
// path exists.
std::mutex engineMutex;
int engineUseCount = 0;

}  // namespace

CSslSocketLayer::~CSslSocketLayer()
{
    if (holdsLibraryReference) {
        std::lock_guard lock(engineMutex);
        if (engineUseCount > 0)
            --engineUseCount;
        holdsLibraryReference = false;
    }
}

// Inactive: every event is raised unchanged for the layer above, every call goes down.
void CSslSocketLayer::OnReceive(int error)
{
    CSocketLayer::OnReceive(error);
}

void CSslSocketLayer::OnSend(int error)
{
    CSocketLayer::OnSend(error);
}

void CSslSocketLayer::OnConnect(int error)
{
    CSocketLayer::OnConnect(error);
}

void CSslSocketLayer::OnClose(int error)
{
    CSocketLayer::OnClose(error);
}

int CSslSocketLayer::Send(const void* buffer, int length, int flags)
{
    return CSocketLayer::Send(buffer, length, flags);
}

int CSslSocketLayer::Receive(void* buffer, int length, int flags)
{
    return CSocketLayer::Receive(buffer, length, flags);
}

bool CSslSocketLayer::Connect(const sockaddr* address, socklen_t addressLength)
{
    return CSocketLayer::Connect(address, addressLength);
}

bool CSslSocketLayer::Connect(const char* host, unsigned port)
{
    return CSocketLayer::Connect(host, port);
}

void CSslSocketLayer::Close()
{
    CSocketLayer::Close();
}

bool CSslSocketLayer::ShutDown(int how)
{
    return CSocketLayer::ShutDown(how);
}
