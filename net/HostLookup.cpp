#include "net/HostLookup.h"

#include "net/SocketTypes.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<uint64_t> nextLookupHandle{1};

// Names under the reserved "invalid" top-level domain never resolve; answering at once
// spares a resolver round trip that could only fail.
bool IsReservedInvalidName(const std::string& host)
{
    std::string name = host;
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string suffix = ".invalid";
    return name == "invalid" ||
           (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

// Every stream address of the name in the resolver's order (which already puts the
// preferred family first), or a 110xx error.
int ResolveAll(const std::string& host, unsigned port, std::vector<ConnectCandidate>& candidates)
{
    if (host.empty() || IsReservedInvalidName(host))
        return WSAHOST_NOT_FOUND;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    if (rc != 0)
        return SocketErrorFromLookup(rc);
    for (addrinfo* entry = result; entry && candidates.size() < 16; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) || !entry->ai_addr ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        ConnectCandidate candidate;
        std::memcpy(&candidate.address, entry->ai_addr, entry->ai_addrlen);
        candidate.length = entry->ai_addrlen;
        candidates.push_back(candidate);
    }
    freeaddrinfo(result);
    return candidates.empty() ? WSANO_DATA : 0;
}

}  // namespace

int ConnectFirstOf(const std::vector<ConnectCandidate>& candidates, const std::atomic<bool>& cancelled, int& error)
{
    using Clock = std::chrono::steady_clock;
    // No attempt waits longer than the longest connect time-out a user could set.
    const Clock::time_point giveUp = Clock::now() + std::chrono::minutes(10);
    std::vector<pollfd> pending;
    std::size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    error = WSAECONNREFUSED;
    auto closeAll = [&pending]() {
        for (const pollfd& p : pending)
            ::close(p.fd);
        pending.clear();
    };
    while (!cancelled.load()) {
        const Clock::time_point now = Clock::now();
        if (now >= giveUp) {
            error = WSAETIMEDOUT;
            break;
        }
        if (next < candidates.size() && (now >= nextStart || pending.empty())) {
            const ConnectCandidate& candidate = candidates[next++];
            const int fd = ::socket(candidate.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                error = SocketErrorFromErrno(errno);
                continue;
            }
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&candidate.address), candidate.length) != 0 &&
                errno != EINPROGRESS) {
                error = SocketErrorFromErrno(errno);
                ::close(fd);
                continue;
            }
            pending.push_back({fd, POLLOUT, 0});
            nextStart = Clock::now() + std::chrono::milliseconds(kConnectStaggerMilliseconds);
        }
        if (pending.empty()) {
            if (next >= candidates.size())
                break;
            continue;
        }
        // Short slices, so that a cancel is seen soon.
        int waitMs = 100;
        if (next < candidates.size()) {
            const auto untilNext =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextStart - Clock::now()).count();
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(waitMs, untilNext)));
        }
        const int ready = ::poll(pending.data(), pending.size(), waitMs);
        if (ready < 0 && errno != EINTR) {
            error = SocketErrorFromErrno(errno);
            break;
        }
        for (std::size_t i = 0; ready > 0 && i < pending.size();) {
            if (pending[i].revents == 0) {
                ++i;
                continue;
            }
            int socketError = 0;
            socklen_t length = sizeof socketError;
            if (::getsockopt(pending[i].fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0)
                socketError = errno;
            if (socketError == 0) {
                const int winner = pending[i].fd;
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                closeAll();
                return winner;
            }
            error = SocketErrorFromErrno(socketError);
            ::close(pending[i].fd);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            // The next address need not wait for the stagger: this one has failed.
            nextStart = Clock::now();
        }
    }
    closeAll();
    return -1;
}

CHostLookup::~CHostLookup()
{
    if (connectedHandle >= 0)
        ::close(connectedHandle);
}

int LookUpHost(const std::string& host, in_addr& address)
{
    if (host.empty() || IsReservedInvalidName(host))
        return WSAHOST_NOT_FOUND;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0)
        return SocketErrorFromLookup(rc);
    int error = WSANO_DATA;
    for (addrinfo* entry = result; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            error = 0;
            break;
        }
    }
    freeaddrinfo(result);
    return error;
}

uint64_t StartHostLookup(const std::shared_ptr<CHostLookup>& lookup,
                         const std::shared_ptr<CMessageQueue>& queue,
                         CMessageQueue::TargetId helper)
{
    uint64_t handle = nextLookupHandle++;
    try {
        std::thread worker([lookup, queue, helper, handle]() {
            std::vector<ConnectCandidate> candidates;
            int error = ResolveAll(lookup->host, lookup->port, candidates);
            if (error == 0) {
                const int connected = ConnectFirstOf(candidates, lookup->cancelled, error);
                if (connected >= 0) {
                    lookup->connectedHandle = connected;
                    error = 0;
                }
            }
            lookup->error = error;
            if (!lookup->cancelled.load())
                queue->Post(helper, WM_SOCKET_LOOKUP_DONE, static_cast<uintptr_t>(handle),
                            WSAMAKESELECTREPLY(0, error));
        });
        worker.detach();
    } catch (const std::system_error&) {
        return 0;
    }
    return handle;
}
