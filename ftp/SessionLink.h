#pragma once
// What a control connection needs of the session that owns it. The session implements
// this; the FTP layer never sees the session class itself. Every call is made on the
// session's worker thread, except where a comment says otherwise.

#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/FtpTypes.h"
#include "ftp/OverwriteChoice.h"
#include "ftp/ProxyConnection.h"
#include "listing/DirectoryCache.h"
#include "net/SslSocketLayer.h"

class CEvent;
class CDirectoryCache;
class CIncomingDataSocket;

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
    // The folder of this server and account in the directory cache.
    std::string CacheSite() const { return CacheSiteName(Host(), Port(), UserName()); }
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
    // Pairing for a copy this session drives: sets this session's pair flag and the
    // partner's, and makes this session the partner's session to interrupt. The end of
    // the copy clears both flags and resets this session's stop event.
    virtual void BeginPairing(SessionLink& /*partner*/) {}
    virtual void EndPairing(SessionLink& /*partner*/) {}

    // Closes the session's data connection at once without waiting for it to drain:
    // sending is true for an upload (STOR), false for a download or listing (RETR).
    virtual void ForceDataConnectionClosed(bool sending) = 0;

    // ---- What the directory, listing and transfer operations use ----
    // The defaults describe a session without directory state, cache or data sockets,
    // so a bare control connection (login tests) needs none of them.

    // The remote directory the server last reported; setting it tells the remote pane.
    virtual std::string CurrentRemoteDirectory() const { return {}; }
    virtual void SetCurrentRemoteDirectory(const std::string&) {}
    // Passive mode is the site's setting.
    virtual bool IsPassive() const { return true; }
    // The control connection's local address text, which PORT announces.
    virtual std::string LocalAddress() const { return {}; }
    // The session's data socket and listening socket; null when it has none.
    virtual CIncomingDataSocket* DataSocket() { return nullptr; }
    // The directory cache of this session's settings; null when it has none.
    virtual CDirectoryCache* DirectoryCache() { return nullptr; }

    // The listing text the data socket collects (through the session's data link).
    virtual void ClearListingText() {}
    // The text of the last listing; valid until the next listing starts. A view, so that
    // a listing of many megabytes is not copied on its way to the cache and the caller.
    virtual std::string_view ListingText() const { return {}; }
    // Puts the listing text in the form every reader takes (a machine-readable listing
    // rewritten after it arrived).
    virtual void ReplaceListingText(std::string) {}
    virtual void ListingStarted() {}
    virtual void ListingComplete() {}
    virtual bool ListingEnabled() const { return true; }

    // Progress of the running transfer: bytes so far (a resumed transfer starts at its
    // offset) and whether a transfer runs.
    virtual void SetTransferredBytes(std::uint64_t) {}
    virtual void SetTransferring(bool) {}
    virtual void SetCurrentFileName(const std::string&) {}
    // The port the listening socket announces; 0 when it does not listen.
    virtual unsigned ListeningPort() { return 0; }
    virtual void CountProcessedFile() {}
    // One line of the transfer log ("Download:" + path and the like).
    virtual void LogTransfer(const std::string&) {}
    // The overwrite rules left a file alone: its name and why ("target is newer").
    virtual void ReportSkipped(const std::string& /*fileName*/, const std::string& /*reason*/) {}

    // Settings the operations follow.
    virtual bool AlwaysRefreshSetting() const { return false; }
    // The proxy the control and data connections go through; none by default.
    virtual ProxyOptions Proxy() const { return {}; }
    virtual bool OverwritePromptEnabled() const { return false; }
    virtual int DefaultOverwriteActionSetting() const { return 3; }
    virtual bool CanResume() const { return true; }
    // Uploads go to a temporary name beside the target and are renamed when complete.
    virtual bool UploadToTemporaryName() const { return true; }
    // Whether two commands may go out in one write to this server: no longer once it
    // left the second one unanswered. Kept across reconnections.
    virtual bool CommandsTogetherAllowed() const { return true; }
    virtual void RefuseCommandsTogether() {}
    // When downloads take the server's exact time: 0 never, 1 in folder copies, 2 always.
    virtual int ExactRemoteTimesSetting() const { return 1; }
    // 0 ASCII or 1 image for a file of that name.
    virtual int TransferTypeFor(const std::string&) const { return 1; }
    // Asks the user what to do with an existing target; the action chosen (0 to 3) and
    // whether it holds for all later files.
    // Without a user to ask, the suggestion stands.
    virtual int AskOverwrite(const COverwriteRequest& request, bool& applyToAll)
    {
        applyToAll = false;
        return request.suggestedAction;
    }

    // ---- Encryption ----
    // The site's encryption choice (a TlsMode).
    virtual int TlsModeSetting() const { return TLS_OFF; }
    // The certificate fingerprint the user trusted for this host and port ("AB:CD:..."),
    // empty when none.
    virtual std::string PinnedCertificate() const { return {}; }
    // Asks the user about a certificate nobody vouches for; a CertificateTrust. pinned: the
    // other certificate trusted before for this host and port (the certificate changed),
    // empty when none. Without a user to ask it is refused.
    virtual int AskCertificateTrust(const CTlsCertificate&, const std::string& /*pinned*/) { return CERT_REFUSE; }
    // Remembers the fingerprint as trusted for this host and port.
    virtual void RememberCertificate(const std::string& /*sha256*/) {}
};
