#pragma once
// Asynchronous connect by host name: getaddrinfo on a short-lived thread, then connection
// attempts over the addresses in the resolver's order, each next one started after a
// short stagger (or at once when the one before fails) while the earlier ones go on, so a
// dead route costs a fraction of a second and not the whole time-out. The first attempt
// that connects wins; its socket is handed over in the request object and
// WM_SOCKET_LOOKUP_DONE (wParam: the request handle, lParam: error in the high word) is
// posted to the requesting thread's socket helper. The result lives in a shared request
// object, so a socket that gives up (Close) cancels it and lets go; the late message finds
// no one and the request closes the socket it holds.
//
// Usage (CEventSocket only):
//   auto lookup = std::make_shared<CHostLookup>();
//   lookup->host = "ftp.example.com"; lookup->port = 21;
//   uint64_t handle = StartHostLookup(lookup, queue, helperId);

#include "platform/MessageQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

struct CHostLookup {
    CHostLookup() = default;
    CHostLookup(const CHostLookup&) = delete;
    CHostLookup& operator=(const CHostLookup&) = delete;
    ~CHostLookup();

    std::string host;
    unsigned port = 0;
    int error = 0;                  // 0, 11001..11004 or the last attempt's 100xx error
    int connectedHandle = -1;       // the winning socket until the requester takes it
    std::atomic<bool> cancelled{false};
};

// The delay before the next address is tried while earlier attempts are still pending.
inline constexpr int kConnectStaggerMilliseconds = 250;

// Returns the request handle (never 0), or 0 when the thread could not be started.
uint64_t StartHostLookup(const std::shared_ptr<CHostLookup>& lookup,
                         const std::shared_ptr<CMessageQueue>& queue,
                         CMessageQueue::TargetId helper);

// One address the racing connect tries.
struct ConnectCandidate {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// The racing connect itself (blocking; run by the look-up thread): the socket of the first
// candidate that connects, or -1 with `error` set to the last failure (100xx). Gives up
// when `cancelled` becomes true.
int ConnectFirstOf(const std::vector<ConnectCandidate>& candidates, const std::atomic<bool>& cancelled,
                   int& error);

// Blocking look-up for the layers: the first IPv4 address, or a 110xx error.
int LookUpHost(const std::string& host, in_addr& address);
