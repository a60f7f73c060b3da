#pragma once
// Helpers of the event-socket tests: a socket that records its notifications, a pump that
// waits until a condition holds, and a count of this process's open descriptors.

#include "net/EventSocket.h"
#include "net/MySocket.h"
#include "platform/Event.h"
#include "platform/MessageWait.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace nettest {

inline int OpenFdCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Pumps this thread's messages until done() holds or about two seconds have passed.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        PumpMessages(10);
    }
    return true;
}

// Records every notification as "name:error"; optional hooks run inside the handlers.
template <class Base>
class RecordingSocketOf : public Base {
public:
    std::vector<std::string> events;
    std::function<void(int)> onAccept, onReceive, onSend, onConnect, onClose;
    std::vector<std::string> layerCallbacks;
    std::function<void()> onLayerCallback;

    int Count(const std::string& name) const
    {
        int n = 0;
        for (const std::string& e : events)
            n += e.rfind(name + ":", 0) == 0;
        return n;
    }
    bool Has(const std::string& event) const
    {
        for (const std::string& e : events)
            if (e == event)
                return true;
        return false;
    }

    void OnAccept(int error) override { Record("accept", error, onAccept); }
    void OnReceive(int error) override { Record("receive", error, onReceive); }
    void OnSend(int error) override { Record("send", error, onSend); }
    void OnConnect(int error) override { Record("connect", error, onConnect); }
    void OnClose(int error) override { Record("close", error, onClose); }
    int OnLayerCallback(CSocketLayer* layer, int type, intptr_t p1, intptr_t p2) override
    {
        (void)layer;
        layerCallbacks.push_back(std::to_string(type) + ":" + std::to_string(p2) + "->" + std::to_string(p1));
        if (onLayerCallback)
            onLayerCallback();
        return Base::OnLayerCallback(layer, type, p1, p2);
    }

private:
    void Record(const char* name, int error, const std::function<void(int)>& hook)
    {
        events.push_back(std::string(name) + ":" + std::to_string(error));
        if (hook)
            hook(error);
    }
};

using RecordingSocket = RecordingSocketOf<CEventSocket>;
using RecordingMySocket = RecordingSocketOf<CMySocket>;

// A listening socket on 127.0.0.1 (or another loopback address) at a free port that
// accepts into `accepted`.
struct LoopbackListener {
    RecordingSocket listener;
    RecordingSocket accepted;
    unsigned port = 0;

    bool Start(const char* address = "127.0.0.1")
    {
        listener.onAccept = [this](int error) {
            if (error == 0)
                listener.Accept(accepted);
        };
        if (!listener.Create(0, SOCK_STREAM, FD_ALL_EVENTS, address) || !listener.Listen(5))
            return false;
        std::string bound;
        return listener.GetSockName(bound, port) && port != 0;
    }
};

}  // namespace nettest
