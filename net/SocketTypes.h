#pragma once
// Socket handle type, network event bits and helper message numbers shared by the event
// socket and its layers.
//
// Usage:
//   socket.Create(0, SOCK_STREAM, FD_ALL_EVENTS);
//   if (socket.GetSocketHandle() == INVALID_SOCKET) ...
// A network event message carries the event in the low word of lParam and the socket
// error in the high word: WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam).

#include <cstdint>

#include <sys/socket.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Network event bits (Winsock's FD_ values).
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;
constexpr long FD_ALL_EVENTS = 63;
constexpr long FD_FORCEREAD = 32768;  // raised only by layers

// ShutDown directions.
constexpr int SD_RECEIVE = SHUT_RD;
constexpr int SD_SEND = SHUT_WR;
constexpr int SD_BOTH = SHUT_RDWR;

// Messages of the per-thread socket helper.
constexpr unsigned WM_USER = 1024;
constexpr unsigned WM_SOCKET_LAYER_NOTIFY = WM_USER;      // a layer's posted event
constexpr unsigned WM_SOCKET_LOOKUP_DONE = WM_USER + 1;   // host-name look-up finished
constexpr unsigned WM_SOCKET_EVENT_BASE = WM_USER + 2;    // + table slot: network event

// The socket table of one thread never holds more entries than this, so that every
// network event message number stays below 49152.
constexpr int SOCKET_TABLE_MAX = 48126;
constexpr int SOCKET_TABLE_STEP = 512;

constexpr intptr_t WSAMAKESELECTREPLY(long event, int error)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(error & 0xFFFF) << 16) |
                                 static_cast<uint32_t>(event & 0xFFFF));
}
constexpr long WSAGETSELECTEVENT(intptr_t lParam) { return static_cast<long>(lParam & 0xFFFF); }
constexpr int WSAGETSELECTERROR(intptr_t lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }
