#include "net/HostLookup.h"

#include "net/SocketTypes.h"
#include "platform/SocketErrors.h"

#include <atomic>
#include <cctype>
#include <system_error>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>

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

}  // namespace

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
            lookup->error = LookUpHost(lookup->host, lookup->address);
            queue->Post(helper, WM_SOCKET_LOOKUP_DONE, static_cast<uintptr_t>(handle),
                        WSAMAKESELECTREPLY(0, lookup->error));
        });
        worker.detach();
    } catch (const std::system_error&) {
        return 0;
    }
    return handle;
}
