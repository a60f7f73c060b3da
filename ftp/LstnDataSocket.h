#pragma once
// CLstnDataSocket: the session's listening socket for active-mode data connections. The
// server's connection is accepted into the session's data socket, which then starts a
// pending upload; the listening socket then listens anew on a fresh port, so every PORT
// command announces another one. A connection from any address but the control
// connection's peer is closed and the socket goes on listening.
//
// Usage (the session, after each successful connection):
//   CLstnDataSocket listener(session, dataSocket);
//   if (!listener.StartListening()) ... WSAGetLastError() tells why
//   unsigned port = listener.ListeningPort();     // for PORT

#include <string>

#include "ftp/DataSocketLink.h"
#include "ftp/IncomingDataSocket.h"
#include "net/MySocket.h"

class CLstnDataSocket : public CMySocket {
public:
    CLstnDataSocket(DataSocketLink& session, CIncomingDataSocket& dataSocket);
    ~CLstnDataSocket() override;

    // Closes any previous listening socket, creates one (any port, all events) and
    // listens with a backlog of 5. False with the reason in WSAGetLastError().
    bool StartListening();
    // The port listened on; 0 when not listening.
    unsigned ListeningPort();

protected:
    void OnAccept(int error) override;
    void OnClose(int error) override;

private:
    // Whether the accepted peer is the control connection's server.
    bool IsExpectedPeer(const std::string& address) const;
    // Takes a connection off the backlog that must not be used, and closes it.
    void RejectPending();

    DataSocketLink& session;
    CIncomingDataSocket& dataSocket;
};
