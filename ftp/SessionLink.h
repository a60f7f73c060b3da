#pragma once
// What a control connection needs of the session that owns it. The session implements
// this; the FTP layer never sees the session class itself. Every call is made on the
// session's worker thread, except where a comment says otherwise.

#include <string>

#include "ftp/FtpTypes.h"

class CEvent;

class SessionLink {
public:
    virtual ~SessionLink() = default;

    // Waits for event (null: only the stop and server-closed events), pumping this
    // thread's socket notifications meanwhile. seconds: 0 the "Timeout" setting, -1 no
    // limit. Returns FTP_OK (event set), FTP_INTERRUPTED (stop; logs "Interrupted by
    // user"), FTP_TIMEOUT (logs "Operation timed out" when event is given) or FTP_CLOSED.
    virtual int WaitForEvent(CEvent* event, int seconds) = 0;
    // The same, but seconds is an idle limit that data traffic re-arms.
    virtual int WaitForTransfer(CEvent* event, int seconds) = 0;

    // Adds text to the site log. kind: a LogKind. newline ends the text with CR LF;
    // prefix starts a new log line with the kind's prefix.
    virtual void Log(const std::string& text, int kind, bool newline = true,
                     bool prefix = true) = 0;

    // The "Requested Action Failed" prompt with the server's reply.
    virtual void ReportActionFailed(const std::string& replyText) = 0;
    // Shows the server's login message when the "pLogin" setting is on.
    virtual void ReportLogin(const std::string& message) = 0;
    // The "pActionFailed" setting: whether a 55x reply calls ReportActionFailed.
    virtual bool ActionFailedPromptEnabled() const = 0;

    // The site to connect to and the login to use (already resolved for anonymous sites).
    virtual std::string Host() const = 0;
    virtual int Port() const = 0;
    virtual std::string UserName() const = 0;
    virtual std::string Password() const = 0;

    // Logged-in flag: set after a successful login, cleared when the server closes.
    virtual void SetLoggedIn(bool loggedIn) = 0;
    // Sets the session's server-closed event, which ends any wait with FTP_CLOSED.
    virtual void SignalServerClosed() = 0;

    // Site-to-site pairing. While a copy between two servers runs, both sessions carry
    // the pair flag, and the session that is driven knows the driving one as the partner
    // to interrupt. The flag and the stop event may be touched from another session's
    // thread, so implementations keep the flag atomic.
    virtual bool PairFlag() const = 0;
    virtual void ClearPairFlag() = 0;
    // The session whose wait a failed reply on this side must end; null when none.
    virtual SessionLink* PartnerToInterrupt() = 0;
    // Sets this session's stop event (called on the partner, from the other thread).
    virtual void SignalStop() = 0;

    // Closes the session's data connection at once without waiting for it to drain:
    // sending is true for an upload (STOR), false for a download or listing (RETR).
    virtual void ForceDataConnectionClosed(bool sending) = 0;
};
