#pragma once
// What a data connection (and the listening socket that accepts it) needs of the session
// that owns it. The session implements this; the FTP layer never sees the session class.
// Every call is made on the session's worker thread.
//
// The two calls that SessionLink also declares (Log, WaitForTransfer) have the same
// signatures, so a session that implements both interfaces overrides each once.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/ProxyConnection.h"

class CEvent;

class DataSocketLink {
public:
    virtual ~DataSocketLink() = default;

    // Adds text to the site log. kind: a LogKind (ftp/FtpTypes.h).
    virtual void Log(const std::string& text, int kind, bool newline = true,
                     bool prefix = true) = 0;

    // Waits for event while pumping this thread's socket notifications; seconds is an
    // idle limit (0: the "Timeout" setting) that ArmIdleTimer re-arms. Returns an
    // FtpResult: FTP_OK, FTP_INTERRUPTED, FTP_TIMEOUT or FTP_CLOSED.
    virtual int WaitForTransfer(CEvent* event, int seconds) = 0;
    // (Re)starts the transfer's idle limit; 0: the "Timeout" setting. Called with every
    // chunk received or sent, so a transfer times out only when no data moves.
    virtual void ArmIdleTimer(int seconds) = 0;

    // The running transfer's byte counter (progress); 64-bit, files may pass 4 GiB.
    virtual void AddTransferredBytes(std::uint64_t count) = 0;

    // Appends received listing text to the session's listing text (emptied by the
    // listing operation before the transfer).
    virtual void AppendListingText(const char* text, std::size_t length) = 0;

    // Name of the file being transferred, shown in the upload messages.
    virtual std::string CurrentFileName() const = 0;

    // Dotted address of the server at the other end of the control connection. An active
    // data connection is accepted only from this address; empty accepts any.
    virtual std::string ControlPeerAddress() const = 0;

    // The proxy the data connection goes through (the same as SessionLink's).
    virtual ProxyOptions Proxy() const { return {}; }
};
