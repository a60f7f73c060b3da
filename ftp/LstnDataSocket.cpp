#include "ftp/LstnDataSocket.h"

#include <arpa/inet.h>

#include "ftp/FtpTypes.h"
#include "platform/SocketErrors.h"

CLstnDataSocket::CLstnDataSocket(DataSocketLink& owner, CIncomingDataSocket& data)
    : session(owner), dataSocket(data)
{
}

CLstnDataSocket::~CLstnDataSocket() = default;

bool CLstnDataSocket::StartListening()
{
    if (GetSocketHandle() != INVALID_SOCKET)
        Close();
    // One socket for both families where the system has IPv6, so that the server's
    // data connection arrives whichever family the control connection uses.
    if (!Create(0, SOCK_STREAM, FD_ALL_EVENTS, "::") && !Create(0, SOCK_STREAM, FD_ALL_EVENTS, nullptr))
        return false;
    if (!Listen(5)) {
        int error = WSAGetLastError();
        Close();
        WSASetLastError(error);
        return false;
    }
    return true;
}

unsigned CLstnDataSocket::ListeningPort()
{
    std::string address;
    unsigned port = 0;
    if (GetSocketHandle() == INVALID_SOCKET || !GetSockName(address, port))
        return 0;
    return port;
}

bool CLstnDataSocket::IsExpectedPeer(const std::string& address) const
{
    std::string expected = session.ControlPeerAddress();
    return expected.empty() || expected == address;
}

void CLstnDataSocket::RejectPending()
{
    CEventSocket unwanted;
    Accept(unwanted);  // closed again when `unwanted` goes out of scope
}

void CLstnDataSocket::OnAccept(int error)
{
    if (error != 0) {
        session.Log(GetSocketErrorText(error), LOG_ERROR);
        return;
    }
    // One data connection at a time: a second one while the first is open is not ours.
    if (dataSocket.GetSocketHandle() != INVALID_SOCKET) {
        session.Log("Data connection refused: a data connection is already open.", LOG_WARNING);
        RejectPending();
        return;
    }
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    dataSocket.PrepareForAccept();
    if (!Accept(dataSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength)) {
        int acceptError = WSAGetLastError();
        if (acceptError != WSAEWOULDBLOCK)
            session.Log(GetSocketErrorText(acceptError), LOG_ERROR);
        return;
    }
    std::string text;
    unsigned peerPort = 0;
    AddressToText(reinterpret_cast<const sockaddr*>(&peer), text, peerPort);
    // Only the server we talk to may deliver or take our data; anyone else is turned
    // away and the wait for the server's connection goes on.
    if (!IsExpectedPeer(text)) {
        session.Log("Data connection from " + text + " refused: not the server's address.",
                    LOG_WARNING);
        dataSocket.Close();
        return;
    }
    // A fresh port for the next PORT command.
    if (!StartListening())
        session.Log("Unable to create listening socket. " + GetSocketErrorText(WSAGetLastError()),
                    LOG_ERROR);
    dataSocket.OnConnected();
}

// The listening socket has no peer; a close report here needs no action.
void CLstnDataSocket::OnClose(int) {}
