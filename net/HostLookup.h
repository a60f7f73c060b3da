#pragma once
// Asynchronous host-name look-up: getaddrinfo on a short-lived thread that posts
// WM_SOCKET_LOOKUP_DONE (wParam: the request handle, lParam: error in the high word) to
// the requesting thread's socket helper. The result lives in a shared request object, so a
// socket that gives up (Close) simply lets go of it and the late message finds no one.
//
// Usage (CEventSocket only):
//   auto lookup = std::make_shared<CHostLookup>();
//   uint64_t handle = StartHostLookup(lookup, "ftp.example.com", queue, helperId);

#include "platform/MessageQueue.h"

#include <cstdint>
#include <memory>
#include <string>

#include <netinet/in.h>

struct CHostLookup {
    std::string host;
    int error = 0;          // 0 or 11001..11004 (set before the message is posted)
    in_addr address{};      // first IPv4 address of the answer
};

// Returns the request handle (never 0), or 0 when the thread could not be started.
uint64_t StartHostLookup(const std::shared_ptr<CHostLookup>& lookup,
                         const std::shared_ptr<CMessageQueue>& queue,
                         CMessageQueue::TargetId helper);

// Blocking look-up for the layers: the first IPv4 address, or a 110xx error.
int LookUpHost(const std::string& host, in_addr& address);
