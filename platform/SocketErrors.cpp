#include "platform/SocketErrors.h"

#include <cerrno>
#include <cstdio>

#include <netdb.h>

namespace {

thread_local int lastSocketError = 0;

struct ErrnoMapping {
    int errnoValue;
    int socketError;
};

constexpr ErrnoMapping errnoMappings[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},  // a non-blocking connect under way
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {EPIPE, WSAECONNABORTED},  // send on a connection the peer has torn down
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

struct ErrorText {
    int code;
    const char* text;
};

constexpr ErrorText errorTexts[] = {
    {WSAEINTR, "Interrupted system call."},
    {WSAEBADF, "Bad file number."},
    {WSAEACCES, "Permission denied."},
    {WSAEFAULT, "Bad address."},
    {WSAEINVAL, "Invalid host address or network is down."},
    {WSAEMFILE, "Too many open files."},
    {WSAEWOULDBLOCK, "Operation would block."},
    {WSAEINPROGRESS, "Operation now in progress."},
    {WSAEALREADY, "Operation already in progress."},
    {WSAENOTSOCK, "Socket operation on nonsocket."},
    {WSAEDESTADDRREQ, "Destination address required."},
    {WSAEMSGSIZE, "Message too long."},
    {WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {WSAENOPROTOOPT, "Protocol not available."},
    {WSAEPROTONOSUPPORT, "Protocol not supported."},
    {WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {WSAEOPNOTSUPP, "Operation not supported on socket."},
    {WSAEPFNOSUPPORT, "Protocol family not supported."},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {WSAEADDRINUSE, "Address already in use."},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {WSAENETDOWN, "Network is down."},
    {WSAENETUNREACH, "Network is unreachable."},
    {WSAENETRESET, "Network dropped connection on reset."},
    {WSAECONNABORTED, "Software caused connection abort."},
    {WSAECONNRESET, "Connection reset by peer."},
    {WSAENOBUFS, "No buffer space available."},
    {WSAEISCONN, "Socket is already connected."},
    {WSAENOTCONN, "Socket is not connected."},
    {WSAESHUTDOWN, "Cannot send after socket shutdown."},
    {WSAETOOMANYREFS, "Too many references: cannot splice."},
    {WSAETIMEDOUT, "Connection timed out."},
    {WSAECONNREFUSED, "Connection refused."},
    {WSAELOOP, "Too many levels of symbolic links."},
    {WSAENAMETOOLONG, "File name too long."},
    {WSAEHOSTDOWN, "Host is down."},
    {WSAEHOSTUNREACH, "No route to host."},
    {WSASYSNOTREADY, "The network subsystem is unusable."},
    {WSAVERNOTSUPPORTED, "Windows Sockets DLL cannot support this application."},
    {WSANOTINITIALISED, "Winsock not initialized."},
    {WSAEDISCON, "Socket already disconnected."},
    {WSAHOST_NOT_FOUND, "Host not found."},
    {WSATRY_AGAIN, "Nonauthoritative host not found."},
    {WSANO_RECOVERY, "Nonrecoverable error."},
    {WSANO_DATA, "Valid name, no data record of requested type."},
};

}  // namespace

int WSAGetLastError()
{
    return lastSocketError;
}

void WSASetLastError(int error)
{
    lastSocketError = error;
}

int SocketErrorFromErrno(int errnoValue)
{
    if (errnoValue == 0)
        return 0;
    for (const ErrnoMapping& mapping : errnoMappings) {
        if (mapping.errnoValue == errnoValue)
            return mapping.socketError;
    }
    return WSAEINVAL;
}

int SocketErrorFromLookup(int gaiResult)
{
    switch (gaiResult) {
    case 0:
        return 0;
    case EAI_NONAME:
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_FAIL:
        return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
    case EAI_MEMORY:
        return WSAENOBUFS;
    case EAI_SYSTEM: {
        int error = SocketErrorFromErrno(errno);
        return error != 0 ? error : WSANO_RECOVERY;
    }
    default:
        return WSANO_RECOVERY;
    }
}

std::string GetSocketErrorText(int error)
{
    if (error == 0)
        return std::string();
    for (const ErrorText& entry : errorTexts) {
        if (entry.code == error)
            return entry.text;
    }
    char text[48];
    std::snprintf(text, sizeof text, "socket error code=%d", error);
    return text;
}
