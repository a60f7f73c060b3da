// Socket error numbers: texts, errno and look-up mapping, and the per-thread last error.

#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include <netdb.h>

namespace {

struct TextCase {
    int code;
    const char* text;
};

constexpr TextCase textCases[] = {
    {0, ""},
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Permission denied."},
    {10014, "Bad address."},
    {10022, "Invalid host address or network is down."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Protocol not available."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection on reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send after socket shutdown."},
    {10059, "Too many references: cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10091, "The network subsystem is unusable."},
    {10092, "Windows Sockets DLL cannot support this application."},
    {10093, "Winsock not initialized."},
    {10101, "Socket already disconnected."},
    {11001, "Host not found."},
    {11002, "Nonauthoritative host not found."},
    {11003, "Nonrecoverable error."},
    {11004, "Valid name, no data record of requested type."},
    {12345, "socket error code=12345"},
    {10000, "socket error code=10000"},
    {-1, "socket error code=-1"},
};

TEST(SocketErrorsTest, EveryCodeHasItsText)
{
    for (const TextCase& c : textCases)
        EXPECT_EQ(GetSocketErrorText(c.code), c.text) << "code " << c.code;
}

struct ErrnoCase {
    int errnoValue;
    int socketError;
};

constexpr ErrnoCase errnoCases[] = {
    {0, 0},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNABORTED},
    {ETIMEDOUT, WSAETIMEDOUT},
    {EADDRINUSE, WSAEADDRINUSE},
    {ENOTCONN, WSAENOTCONN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {EMFILE, WSAEMFILE},
    {ENOENT, WSAEINVAL},  // no counterpart
};

TEST(SocketErrorsTest, ErrnoValuesMapOntoSocketErrors)
{
    for (const ErrnoCase& c : errnoCases)
        EXPECT_EQ(SocketErrorFromErrno(c.errnoValue), c.socketError) << "errno " << c.errnoValue;
}

TEST(SocketErrorsTest, LookupResultsMapOntoHostErrors)
{
    EXPECT_EQ(SocketErrorFromLookup(0), 0);
    EXPECT_EQ(SocketErrorFromLookup(EAI_NONAME), WSAHOST_NOT_FOUND);
    EXPECT_EQ(SocketErrorFromLookup(EAI_AGAIN), WSATRY_AGAIN);
    EXPECT_EQ(SocketErrorFromLookup(EAI_FAIL), WSANO_RECOVERY);
}

TEST(SocketErrorsTest, LastErrorBelongsToTheThread)
{
    WSASetLastError(WSAECONNRESET);
    int seenByOtherThread = -1;
    std::thread other([&] {
        seenByOtherThread = WSAGetLastError();
        WSASetLastError(WSAETIMEDOUT);
    });
    other.join();
    EXPECT_EQ(seenByOtherThread, 0);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    WSASetLastError(0);
}

}  // namespace
