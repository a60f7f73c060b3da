#include "net/SocketHelperWindow.h"

#include "net/EventSocket.h"
#include "net/HostLookup.h"
#include "net/LayerMessage.h"
#include "net/SocketLayer.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <list>
#include <mutex>
#include <utility>

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// The process-wide list of per-thread records, newest first.
std::mutex recordsMutex;
std::list<std::unique_ptr<CSocketThreadRecord>> records;

// Threads may end and their ids be reused, so a record belongs to the calling thread only
// if it also uses that thread's message queue.
bool IsRecordOfThisThread(const CSocketThreadRecord& record, const CMessageQueue* queue)
{
    return record.threadId == std::this_thread::get_id() && record.helper &&
           record.helper->Queue().get() == queue;
}

int PendingSocketError(SOCKET handle)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    return SocketErrorFromErrno(error);
}

// A connect fails with "refused", "unreachable" or a time-out; a reset (or an abort after
// the peer's FIN) can only end a connection that was made. On a busy machine the peer may
// connect, send and reset before this thread first looks at the socket.
bool EndedAfterConnecting(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED;
}

}  // namespace

CSocketHelperWindow* CSocketHelperWindow::ForThisThread()
{
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::ForThisThread();
    std::lock_guard lock(recordsMutex);
    for (const auto& record : records) {
        if (IsRecordOfThisThread(*record, queue.get()))
            return record->helper.get();
    }
    return nullptr;
}

CSocketThreadRecord* CSocketHelperWindow::AddRefThisThread()
{
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::ForThisThread();
    if (!queue)
        return nullptr;
    std::lock_guard lock(recordsMutex);
    for (const auto& record : records) {
        if (IsRecordOfThisThread(*record, queue.get())) {
            ++record->useCount;
            record->helper->destroyWhenIdle = false;
            return record.get();
        }
    }
    auto record = std::make_unique<CSocketThreadRecord>();
    record->helper = std::make_unique<CSocketHelperWindow>(queue);
    record->useCount = 1;
    record->threadId = std::this_thread::get_id();
    records.push_front(std::move(record));
    return records.front().get();
}

void CSocketHelperWindow::Release(CSocketThreadRecord* record)
{
    if (!record)
        return;
    std::unique_ptr<CSocketThreadRecord> doomed;
    {
        std::lock_guard lock(recordsMutex);
        if (--record->useCount > 0)
            return;
        // The last socket may go away inside one of the helper's own handlers; the
        // helper then finishes that message first and removes itself afterwards.
        if (record->helper->dispatchDepth > 0) {
            record->helper->destroyWhenIdle = true;
            return;
        }
        for (auto it = records.begin(); it != records.end(); ++it) {
            if (it->get() == record) {
                doomed = std::move(*it);
                records.erase(it);
                break;
            }
        }
    }
    // Destroyed outside the lock: the helper's queue may be the last reference.
}

void CSocketHelperWindow::DestroyIfIdle(CSocketHelperWindow* helper)
{
    std::unique_ptr<CSocketThreadRecord> doomed;
    std::lock_guard lock(recordsMutex);
    if (!helper->destroyWhenIdle || helper->dispatchDepth > 0)
        return;
    for (auto it = records.begin(); it != records.end(); ++it) {
        if ((*it)->helper.get() == helper && (*it)->useCount == 0) {
            doomed = std::move(*it);
            records.erase(it);
            break;
        }
    }
}

CSocketHelperWindow::CSocketHelperWindow(std::shared_ptr<CMessageQueue> queue)
    : queue(std::move(queue)), table(SOCKET_TABLE_STEP, nullptr)
{
    targetId = this->queue->AddTarget(this);
    this->queue->AddPollSource(this);
}

CSocketHelperWindow::~CSocketHelperWindow()
{
    queue->RemovePollSource(this);
    queue->RemoveTarget(targetId);
}

bool CSocketHelperWindow::AddSocket(CEventSocket* socket)
{
    int capacity = TableCapacity();
    if (count >= capacity - 10 && capacity < SOCKET_TABLE_MAX) {
        capacity = std::min(capacity + SOCKET_TABLE_STEP, SOCKET_TABLE_MAX);
        table.resize(capacity, nullptr);
    }
    for (int step = 0; step < capacity; ++step) {
        int candidate = (nextSearch + step) % capacity;
        if (!table[candidate]) {
            table[candidate] = socket;
            socket->slot = candidate;
            nextSearch = (candidate + 1) % capacity;
            ++count;
            return true;
        }
    }
    return false;
}

void CSocketHelperWindow::RemoveSocket(CEventSocket* socket)
{
    int index = socket->slot;
    if (index < 0 || index >= TableCapacity() || table[index] != socket)
        return;
    table[index] = nullptr;
    socket->slot = -1;
    --count;
    // Messages still queued for this socket must not reach whoever takes the slot next.
    const unsigned eventMessage = WM_SOCKET_EVENT_BASE + static_cast<unsigned>(index);
    const uintptr_t handle = static_cast<uintptr_t>(socket->handle);
    const uintptr_t object = reinterpret_cast<uintptr_t>(socket);
    queue->RemoveMessagesIf(targetId, [=](const CMessage& m) {
        return (m.message == eventMessage && m.wParam == handle) ||
               (m.message == WM_SOCKET_LAYER_NOTIFY && m.wParam == object);
    });
}

CEventSocket* CSocketHelperWindow::SocketAt(int index) const
{
    if (index < 0 || index >= TableCapacity())
        return nullptr;
    return table[index];
}

bool CSocketHelperWindow::Post(unsigned message, uintptr_t wParam, intptr_t lParam,
                               std::unique_ptr<CMessagePayload> payload)
{
    return queue->Post(targetId, message, wParam, lParam, std::move(payload));
}

void CSocketHelperWindow::OnMessage(CMessage& message)
{
    ++dispatchDepth;
    if (message.message == WM_SOCKET_LAYER_NOTIFY) {
        OnLayerNotify(message);
    } else if (message.message == WM_SOCKET_LOOKUP_DONE) {
        OnLookupDone(message.wParam, WSAGETSELECTERROR(message.lParam));
    } else if (message.message >= WM_SOCKET_EVENT_BASE) {
        OnNetworkEvent(static_cast<int>(message.message - WM_SOCKET_EVENT_BASE),
                       static_cast<SOCKET>(message.wParam), WSAGETSELECTEVENT(message.lParam),
                       WSAGETSELECTERROR(message.lParam));
    }
    if (--dispatchDepth == 0 && destroyWhenIdle)
        DestroyIfIdle(this);  // may delete this: nothing may follow
}

void CSocketHelperWindow::OnNetworkEvent(int index, SOCKET wParam, long event, int error)
{
    CEventSocket* socket = SocketAt(index);
    if (!socket || socket->handle != wParam)
        return;  // closed, or a late event for a slot that now holds another socket

    if (event & FD_READ) {
        int waiting = 0;
        if (ioctl(socket->handle, FIONREAD, &waiting) != 0)
            error = SocketErrorFromErrno(errno);
        else if (waiting == 0 && error == 0)
            return;  // nothing to read any more (read already, or the peer closed)
    }

    if (socket->lastLayer) {
        socket->lastLayer->CallEvent(event, error);
        return;
    }
    socket->CallHandler(event, error);
}

void CSocketHelperWindow::OnLookupDone(uint64_t lookupHandle, int error)
{
    CEventSocket* socket = nullptr;
    for (CEventSocket* candidate : table) {
        if (candidate && candidate->lookupHandle == lookupHandle) {
            socket = candidate;
            break;
        }
    }
    if (!socket)
        return;  // the socket gave up on the look-up

    std::shared_ptr<CHostLookup> lookup = std::move(socket->lookup);
    socket->lookupHandle = 0;
    if (error != 0 || !lookup) {
        socket->OnConnect(error != 0 ? error : WSAHOST_NOT_FOUND);
        return;
    }
    const int connected = lookup->connectedHandle;
    lookup->connectedHandle = -1;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int family = ::getsockname(connected, reinterpret_cast<sockaddr*>(&peer), &length) == 0
                           ? peer.ss_family
                           : AF_INET;
    if (!socket->AdoptConnected(connected, family))
        socket->OnConnect(WSAGetLastError());
}

void CSocketHelperWindow::OnLayerNotify(CMessage& message)
{
    auto* socket = reinterpret_cast<CEventSocket*>(message.wParam);
    auto* record = dynamic_cast<CLayerMessage*>(message.payload.get());
    if (!socket || !record || socket->handle == INVALID_SOCKET)
        return;
    long event = record->lEvent & 0xFFFF;
    int error = static_cast<int>((record->lEvent >> 16) & 0xFFFF);
    if (record->layer) {
        record->layer->CallEvent(event, error);
        return;
    }
    if (!socket->SelectedEvent(event))
        return;
    socket->CallHandler(event, error);
}

void CSocketHelperWindow::CollectPollFds(std::vector<pollfd>& fds)
{
    polled.clear();
    for (CEventSocket* socket : table) {
        if (!socket || socket->handle == INVALID_SOCKET)
            continue;
        short events = 0;
        const long mask = socket->selectedEvents;
        switch (socket->netState) {
        case CEventSocket::NetState::Connecting:
            events = POLLOUT;
            break;
        case CEventSocket::NetState::Listening:
            if (socket->acceptArmed && (mask & FD_ACCEPT))
                events = POLLIN;
            break;
        case CEventSocket::NetState::Connected:
            if (socket->readArmed && !socket->closeReported && (mask & (FD_READ | FD_CLOSE)))
                events |= POLLIN | POLLRDHUP;
            if (socket->writeArmed && !socket->closeReported && (mask & FD_WRITE))
                events |= POLLOUT;
            break;
        default:
            break;
        }
        if (events == 0)
            continue;  // a hung-up socket left in would make poll() return at once
        fds.push_back(pollfd{socket->handle, events, 0});
        polled.push_back(socket);
    }
}

void CSocketHelperWindow::HandlePollResults(const pollfd* fds, size_t fdCount)
{
    for (size_t i = 0; i < fdCount && i < polled.size(); ++i) {
        CEventSocket* socket = polled[i];
        const short revents = fds[i].revents;
        if (revents == 0)
            continue;
        const long mask = socket->selectedEvents;
        auto post = [&](long event, int error) {
            if (mask & event)
                Post(WM_SOCKET_EVENT_BASE + static_cast<unsigned>(socket->slot),
                     static_cast<uintptr_t>(socket->handle), WSAMAKESELECTREPLY(event, error));
        };

        if (socket->netState == CEventSocket::NetState::Connecting) {
            int error = PendingSocketError(socket->handle);
            if (EndedAfterConnecting(error)) {
                // Connected: the data that came first is read, then the close reports
                // the error taken here.
                socket->errorBeforeConnect = error;
                error = 0;
            }
            if (error == 0) {
                socket->netState = CEventSocket::NetState::Connected;
                socket->readArmed = true;
                socket->writeArmed = true;  // writable right after the connect
            } else {
                socket->netState = CEventSocket::NetState::Unconnected;
            }
            post(FD_CONNECT, error);
            continue;
        }
        if (socket->netState == CEventSocket::NetState::Listening) {
            socket->acceptArmed = false;  // again after the next Accept
            post(FD_ACCEPT, 0);
            continue;
        }
        if (socket->netState != CEventSocket::NetState::Connected)
            continue;

        const bool readPolled = (fds[i].events & POLLIN) != 0;
        const bool writePolled = (fds[i].events & POLLOUT) != 0;
        if (readPolled && (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))) {
            int waiting = 0;
            int ioctlResult = ioctl(socket->handle, FIONREAD, &waiting);
            socket->readArmed = false;  // again after the next Receive
            if (ioctlResult == 0 && waiting > 0) {
                post(FD_READ, 0);
            } else {
                // Readable with nothing to read: the peer closed or the connection broke.
                socket->closeReported = true;
                socket->writeArmed = false;
                int error = ioctlResult == 0 ? PendingSocketError(socket->handle)
                                             : SocketErrorFromErrno(errno);
                if (error == 0)
                    error = std::exchange(socket->errorBeforeConnect, 0);
                post(FD_CLOSE, error);
                continue;
            }
        }
        if (writePolled && (revents & (POLLOUT | POLLHUP | POLLERR))) {
            socket->writeArmed = false;  // again after a Send that would block
            post(FD_WRITE, 0);
        }
    }
}
