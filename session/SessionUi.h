#pragma once
// The bridge from a session's worker thread to the windows that show the session.
//
// Every call is made on the worker thread. "Sent" calls block the worker until the user
// interface has handled them (so their arguments may live on the worker's stack and the
// answer is known when they return); "posted" calls only queue the work and return at
// once. An implementation that marshals to a UI thread must honour that difference; the
// session never touches a window itself.

#include <string>

#include "ftp/FtpTypes.h"  // LogKind

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

class SessionUi {
public:
    virtual ~SessionUi() = default;

    // Sent: one piece of log text for the site's log (and the transfer log).
    virtual void AddLogLine(const CLogLine& line) = 0;
    // Posted: the session's current remote directory is now `directory`.
    virtual void DirectoryChanged(const std::string& directory) = 0;
    // Sent: a listing starts (the remote pane empties itself) / completed and was cached.
    virtual void ListingStarted() = 0;
    virtual void ListingComplete() = 0;
    // Sent: the queue entry at `index` starts transferring.
    virtual void QueueEntryStarted(int index) = 0;
    // Sent: the session's queue changed (an entry was removed or changed state).
    virtual void QueueChanged() = 0;
    // Posted: a queue run ended; both site views refresh.
    virtual void QueueRunFinished() = 0;
    // Posted: the remote pane should list its directory again.
    virtual void Refresh() = 0;
    // Sent: show the server's login message for `host`.
    virtual void ShowLoginMessage(const std::string& host, const std::string& message) = 0;
    // Sent: a message box with `caption`; returns the pressed button (MessageBoxButton).
    virtual int MessageBox(const std::string& caption, const std::string& text, int style) = 0;
    // The session's message window. Modal: sent, returns when dismissed; otherwise posted.
    virtual void ShowMessageWindow(const std::string& caption, const std::string& text,
                                   bool modal) = 0;
    // Sent: the overwrite confirmation.
    virtual COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) = 0;
    // Posted: open a file that was just downloaded.
    virtual void OpenDownloadedFile(const std::string& localPath, int how) = 0;
    // Sent: one line for the transfer log of all sites ("Download:" + the local path,
    // "Upload:" + the remote path, "Delete:" + the remote path).
    virtual void AddTransferLogLine(const std::string&) {}
    // Posted: the worker finished a command taken from the mailbox (a SessionCommandCode)
    // with this FtpResult; one it dropped while offline too (FTP_CONNECT_FAILED). The end
    // of each connection attempt, retries included, is reported as CMD_CONNECT: FTP_OK
    // once the session is online, else why it is not.
    virtual void CommandFinished(int /*code*/, int /*result*/) {}
    // Posted: a retry loop pauses before its next attempt.
    virtual void RetryWaiting(const CRetryNotice& /*notice*/) {}
};

// The UI of a session that no window shows: nothing is displayed, questions are declined
// (no action is taken without a user), the overwrite question takes its suggestion.
class NullSessionUi final : public SessionUi {
public:
    void AddLogLine(const CLogLine&) override {}
    void DirectoryChanged(const std::string&) override {}
    void ListingStarted() override {}
    void ListingComplete() override {}
    void QueueEntryStarted(int) override {}
    void QueueChanged() override {}
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
