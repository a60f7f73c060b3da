#pragma once
// The bridge from a session to the windows that show it.
//
// Thread contract. Each call below names the thread it arrives on:
//  - "worker": the session's own worker thread. Most calls.
//  - "any": the thread that caused it, which may be the interface thread itself (the queue
//    view's Remove arrives back as QueueChanged on the same thread, before Remove returns)
//    or another session's worker (a site-to-site partner's queue run).
// And how it must be handled:
//  - "informs": the arguments are values the implementation may copy; it must not block
//    the caller on another thread. A bridge to a UI thread copies and queues the call; it
//    never waits for the UI thread, so an "any" call made on the UI thread itself cannot
//    deadlock.
//  - "asks": the worker waits for the answer (the call returns it). Only ever made on the
//    worker, never on the interface thread, so a bridge may block the worker on a promise
//    the UI thread fulfils. Stopping a session first answers open questions cautiously
//    (as NullSessionUi does).
// The session never touches a window itself.

#include <string>

#include "ftp/FtpTypes.h"  // LogKind
#include "session/TransferQueue.h"

class CFtpSession;

// One piece of log text. newline: end the text with CR LF; prefix: start a new line with
// the kind's prefix. A reply that arrives in several chunks is logged as one prefixed
// piece followed by pieces with both flags clear that continue it.
struct CLogLine {
    std::string text;
    int kind = LOG_STATE;
    int newline = 1;
    int prefix = 1;
};

// Message box styles and answers (the values the desktop toolkits use for them).
enum MessageBoxStyle : int {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxButton : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};
inline constexpr int MB_BUTTONS_MASK = 0xF;

// What the overwrite confirmation shows, and what the user chose. Actions: 0 Skip,
// 1 Resume, 2 Overwrite, 3 Auto.
struct COverwriteQuestion {
    std::string sourceFile;
    std::string targetFile;
    int autoAction = 2;       // what Auto would do for this pair
    int suggestedAction = 2;  // chosen by itself when a count-down runs out
    bool canResume = false;
};
struct COverwriteAnswer {
    int action = 0;
    bool applyToAll = false;
};

// A server certificate that nobody vouches for, as the user sees it. Every text comes from
// the server: show it as plain text only.
struct CCertificateQuestion {
    std::string host;
    int port = 0;
    std::string fingerprint;  // "SHA256:AB:CD:..."
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    std::string problem;      // why it is not trusted
    // Not empty: another certificate ("SHA256:...") was trusted for this host and port
    // before. The certificate changed; the question must say so loudly.
    std::string replaces;
};

// What a retry loop is about to try again, for a user who waits.
struct CRetryNotice {
    std::string what;      // "connection to host:port", "download of /a/b.txt", ...
    int retry = 1;         // the retry about to be made, the first being 1
    int retries = 0;       // how many the setting allows; -1 without a limit
    int delaySeconds = 0;  // the pause before it
};

// How a downloaded file is opened after its queue entry finished.
enum OpenFileHow : int {
    OPEN_WITH_ASSOCIATED_PROGRAM = 1,
    OPEN_WITH_VIEWER = 2,
};

// A completed listing, handed over as a value: the pane shows exactly this, whatever the
// worker lists afterwards.
struct CListing {
    std::string folder;  // the remote folder that was listed
    std::string text;    // the listing as the server sent it (parse with ParseListingLine)
};

class SessionUi {
public:
    virtual ~SessionUi() = default;

    // Worker, informs: one piece of log text for the site's log (and the transfer log).
    // Also "any" for the lines of the calls the interface makes itself: ResetQueue,
    // a refused Disconnect, and the line a session logs when another session that its
    // queue names is destroyed.
    virtual void AddLogLine(const CLogLine& line) = 0;
    // Worker, informs: the session's current remote directory is now `directory`.
    virtual void DirectoryChanged(const std::string& directory) = 0;
    // Worker, informs: a listing the user asked for starts (the remote pane may show that
    // it is busy) / completed and was cached. The keep-alive's listing reaches neither.
    virtual void ListingStarted() = 0;
    virtual void ListingComplete(const CListing& listing) = 0;
    // Worker, informs: the queue entry `id` starts transferring.
    virtual void QueueEntryStarted(QueueEntryId id) = 0;
    // Any, informs: the queue of `session` changed (`change` names the entries). Arrives
    // on the thread that made the change: the worker for the run's progress, the caller's
    // own thread for its own edits. `session` lives during the call.
    virtual void QueueChanged(const CFtpSession& session, const CQueueChange& change) = 0;
    // Worker, informs: a queue run ended; both site views refresh.
    virtual void QueueRunFinished() = 0;
    // Worker, informs: the remote pane should list its directory again (RefreshCommand).
    virtual void Refresh() = 0;
    // Worker, informs: show the server's login message for `host`.
    virtual void ShowLoginMessage(const std::string& host, const std::string& message) = 0;
    // Worker, asks: a message box with `caption`; returns the pressed button
    // (MessageBoxButton).
    virtual int MessageBox(const std::string& caption, const std::string& text, int style) = 0;
    // Worker: the session's message window. Modal: asks (returns when dismissed);
    // otherwise informs.
    virtual void ShowMessageWindow(const std::string& caption, const std::string& text,
                                   bool modal) = 0;
    // Worker, asks: the overwrite confirmation.
    virtual COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) = 0;
    // Worker, informs: open a file that was just downloaded.
    virtual void OpenDownloadedFile(const std::string& localPath, int how) = 0;
    // Worker, informs: one line for the transfer log of all sites ("Download:" + the local
    // path, "Upload:" + the remote path, "Delete:" + the remote path).
    virtual void AddTransferLogLine(const std::string&) {}
    // Worker, informs: the overwrite rules left a file alone; its name and why ("target is
    // newer", "same size and time", "already complete", "Skip was chosen").
    virtual void FileSkipped(const std::string& /*fileName*/, const std::string& /*reason*/) {}
    // Worker, informs: the worker finished a command taken from the mailbox (a
    // SessionCommandCode) with this FtpResult; one it dropped while offline too
    // (FTP_CONNECT_FAILED). The end of each connection attempt, retries included, is
    // reported as CMD_CONNECT: FTP_OK once the session is online, else why it is not.
    virtual void CommandFinished(int /*code*/, int /*result*/) {}
    // Worker, informs: a retry loop pauses before its next attempt.
    virtual void RetryWaiting(const CRetryNotice& /*notice*/) {}
    // Worker, asks: trust this certificate? A CertificateTrust (ftp/FtpTypes.h): refuse,
    // once, or always (the session remembers it). Without a user to ask: refused.
    virtual int AskCertificateTrust(const CCertificateQuestion& /*question*/) { return CERT_REFUSE; }
};

// The UI of a session that no window shows: nothing is displayed, questions are declined
// (no action is taken without a user), the overwrite question takes its suggestion.
class NullSessionUi final : public SessionUi {
public:
    void AddLogLine(const CLogLine&) override {}
    void DirectoryChanged(const std::string&) override {}
    void ListingStarted() override {}
    void ListingComplete(const CListing&) override {}
    void QueueEntryStarted(QueueEntryId) override {}
    void QueueChanged(const CFtpSession&, const CQueueChange&) override {}
    void QueueRunFinished() override {}
    void Refresh() override {}
    void ShowLoginMessage(const std::string&, const std::string&) override {}
    int MessageBox(const std::string&, const std::string&, int style) override {
        switch (style & MB_BUTTONS_MASK) {
        case MB_OK: return IDOK;
        case MB_YESNO: return IDNO;
        default: return IDCANCEL;
        }
    }
    void ShowMessageWindow(const std::string&, const std::string&, bool) override {}
    COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) override {
        return {question.suggestedAction, false};
    }
    void OpenDownloadedFile(const std::string&, int) override {}
};
