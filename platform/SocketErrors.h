#pragma once
// Socket error numbers of the Windows Sockets family, the per-thread "last socket error"
// and the error texts the log shows.
//
// Usage:
//   if (!socket.Connect("127.0.0.1", 21) && WSAGetLastError() != WSAEWOULDBLOCK)
//       Log(GetSocketErrorText(WSAGetLastError()));
//   WSASetLastError(SocketErrorFromErrno(errno));   // after a failed POSIX call
//
// Every socket operation of the engine leaves its reason in the calling thread's last
// error; 10035 (WSAEWOULDBLOCK) means "under way" rather than failed.

#include <string>

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAEDISCON = 10101;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The calling thread's last socket error (0 when none was set).
int WSAGetLastError();
void WSASetLastError(int error);

// Maps an errno value (EAGAIN, ECONNREFUSED, ...) onto the socket error numbers above.
// 0 stays 0; a value without a counterpart becomes WSAEINVAL.
int SocketErrorFromErrno(int errnoValue);

// Maps a getaddrinfo() result (EAI_NONAME, ...) onto the look-up errors 11001..11004.
// 0 stays 0; EAI_SYSTEM is mapped through errno.
int SocketErrorFromLookup(int gaiResult);

// The text logged for a socket error: empty for 0, the fixed text for a known code,
// otherwise "socket error code=<code>".
std::string GetSocketErrorText(int error);
