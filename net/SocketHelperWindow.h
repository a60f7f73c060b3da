#pragma once
// CSocketHelperWindow: the per-thread helper that stands in for a hidden window receiving
// socket messages. It owns the thread's socket table, watches the sockets while the
// thread waits in MessageWait, and turns their readiness into network event messages
// (1026 + slot) that it then hands to the sockets. CEventSocket creates and releases it;
// other code needs it only to inspect or, in tests, to post messages.
//
// Usage (tests):
//   CSocketHelperWindow* helper = CSocketHelperWindow::ForThisThread();  // null: no sockets
//   helper->Post(WM_SOCKET_EVENT_BASE + slot, oldHandle, WSAMAKESELECTREPLY(FD_READ, 0));
//   EXPECT_EQ(helper->TableCapacity(), 1024);
//
// Per-thread records live in one process-wide list guarded by one mutex.

#include "net/SocketTypes.h"
#include "platform/MessageQueue.h"

#include <memory>
#include <thread>
#include <vector>

class CEventSocket;
class CSocketHelperWindow;

struct CSocketThreadRecord {
    std::unique_ptr<CSocketHelperWindow> helper;
    int useCount = 0;
    std::thread::id threadId;
};

class CSocketHelperWindow : public CMessageTarget, public CPollSource {
public:
    // The helper of the calling thread, or null when the thread has no sockets.
    static CSocketHelperWindow* ForThisThread();

    // Per-thread registration: AddRef creates the record and helper on first use (null if
    // that failed); Release destroys the helper when its count reaches 0.
    static CSocketThreadRecord* AddRefThisThread();
    static void Release(CSocketThreadRecord* record);

    explicit CSocketHelperWindow(std::shared_ptr<CMessageQueue> queue);
    ~CSocketHelperWindow() override;
    bool IsValid() const { return targetId != 0; }

    // Socket table.
    bool AddSocket(CEventSocket* socket);      // false: table full (WSAEMFILE)
    void RemoveSocket(CEventSocket* socket);
    CEventSocket* SocketAt(int slot) const;
    int TableCapacity() const { return static_cast<int>(table.size()); }
    int SocketCount() const { return count; }
    int NextSearchSlot() const { return nextSearch; }

    // Posts a message to this helper (any thread may use the queue's Post with TargetId()).
    bool Post(unsigned message, uintptr_t wParam, intptr_t lParam,
              std::unique_ptr<CMessagePayload> payload = nullptr);
    CMessageQueue::TargetId TargetId() const { return targetId; }
    const std::shared_ptr<CMessageQueue>& Queue() const { return queue; }

    void OnMessage(CMessage& message) override;
    void CollectPollFds(std::vector<pollfd>& fds) override;
    void HandlePollResults(const pollfd* fds, size_t count) override;

private:
    void OnNetworkEvent(int slot, SOCKET wParam, long event, int error);
    void OnLookupDone(uint64_t lookupHandle, int error);
    void OnLayerNotify(CMessage& message);

    std::shared_ptr<CMessageQueue> queue;
    CMessageQueue::TargetId targetId = 0;
    std::vector<CEventSocket*> table;
    int count = 0;
    int nextSearch = 0;
    std::vector<CEventSocket*> polled;  // sockets in the order of the last CollectPollFds
    int dispatchDepth = 0;         // nesting of OnMessage (handlers may wait again)
    bool destroyWhenIdle = false;  // the last socket went away inside a handler

    static void DestroyIfIdle(CSocketHelperWindow* helper);
};
