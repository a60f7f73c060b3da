#pragma once
// Drives one CFtpSession the way the site view does: this thread plays the interface
// thread and writes commands into the session's mailbox; CliSessionUi is the window side,
// printing what the worker reports and answering its questions from the options.
//
// The worker reports the end of each command and of each connection attempt
// (CommandFinished with CMD_CONNECT) with its result; exit statuses come from those results,
// never from the wording of log lines.

#include "app/cli/CliExitCode.h"
#include "app/lib/TransferLog.h"
#include "session/FtpSession.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>


// The exit status a command earned from the result the engine reported (an FtpResult).
[[nodiscard]] CliExitCode ExitCodeOfResult(int ftpResult);

// The line that tells a waiting user about a retry: what, which of how many, and when.
std::string RetryNoticeText(const CRetryNotice& notice, std::time_t now);

// Ctrl-C (or SIGTERM) sets a flag the driver polls; the second one ends the process at once.
void InstallInterruptHandler();
bool InterruptRequested();
// The stop came from SIGTERM (a service manager, a time limit), not from the user's Ctrl-C.
bool TerminationRequested();

// Threads: the worker makes the calls SessionUi marks "worker"; QueueChanged also arrives on
// the thread that edits the queue. Every call only records or prints under this object's
// locks, so none waits for another thread.
class CliSessionUi final : public SessionUi {
public:
    struct Output {
        std::FILE* err = stderr;
        bool verbose = false;       // every log line, with its prefix
        bool quiet = false;         // no error lines, messages or progress
        CTransferLog* transferLog = nullptr;
        int overwriteAction = -1;   // the answer to the overwrite question; -1 its suggestion
        std::string trustedCertificate; // --trust-certificate ("AB:CD:..."): trusted always
        std::string label;          // put before printed lines when several sites run at once
        std::function<void()> queueChanged; // any thread (see SessionUi::QueueChanged): a queue entry changed or was removed
    };
    explicit CliSessionUi(const Output& output) : m_output(output) {}

    // The session whose busy flag tells which lines belong to a command.
    void Attach(CFtpSession* session) { m_session = session; }
    // Forgets what the previous command reported.
    void BeginCommand();
    bool CommandListingComplete() const;
    // The listing the worker handed over last, taken out (it may be large).
    CListing TakeLastListing();
    // The result of the last command the worker finished (not counting connection
    // attempts); FTP_OK before the first.
    int LastCommandResult() const;
    // Connection attempts the worker has reported as ended, and the result of the last one.
    int ConnectsFinished() const { return m_connectsFinished; }
    int LastConnectResult() const;
    // The last connection attempt failed and the session has not come online since.
    bool ConnectFailed() const;
    // The session's current directory as last reported; empty until the first report.
    std::string ReportedDirectory() const;
    // A line on standard error that does not tear a progress line.
    void PrintMessage(const std::string& text);
    // Commands the worker has finished, of any kind but connection attempts.
    int CommandsFinished() const { return m_commandsFinished; }
    // Queue runs the worker has finished (a run that lost its connection counts too).
    int QueueRunsFinished() const { return m_queueRunsFinished; }
    // Files downloaded, uploaded or deleted, as the transfer log records them.
    int FilesDone() const { return m_filesDone; }
    // Files the overwrite rules left alone (each one is said as it happens).
    int FilesSkipped() const { return m_filesSkipped; }
    void PrintProgress(const std::string& text);
    void EndProgress();

    void AddLogLine(const CLogLine& line) override;
    void DirectoryChanged(const std::string& directory) override;
    void ListingStarted() override {}
    void ListingComplete(const CListing& listing) override;
    void QueueEntryStarted(QueueEntryId) override {}
    void QueueChanged(const CFtpSession& session, const CQueueChange& change) override;
    void QueueRunFinished() override {}
    void CommandFinished(int code, int result) override;
    // "retry 2 of 16 of the download of /a in 5 s (at 12:00:05)", unless quiet.
    void RetryWaiting(const CRetryNotice& notice) override;
    void Refresh() override {}
    void ShowLoginMessage(const std::string& host, const std::string& message) override;
    int MessageBox(const std::string& caption, const std::string& text, int style) override;
    void ShowMessageWindow(const std::string& caption, const std::string& text, bool modal) override;
    COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) override;
    // Trusts (and so remembers) only the certificate named by --trust-certificate; any
    // other is refused with its details and how to trust it.
    int AskCertificateTrust(const CCertificateQuestion& question) override;
    void OpenDownloadedFile(const std::string&, int) override {}
    // "Download:", "Upload:" and "Delete:" lines of the transfer log.
    void AddTransferLogLine(const std::string& text) override;
    void FileSkipped(const std::string& fileName, const std::string& reason) override;

private:
    bool InCommand() const;
    void WriteErr(const std::string& text); // m_printMutex held

    Output m_output;
    CFtpSession* m_session = nullptr;
    std::atomic<int> m_queueRunsFinished{0};
    std::atomic<int> m_commandsFinished{0};
    std::atomic<int> m_connectsFinished{0};
    std::atomic<int> m_filesDone{0};
    std::atomic<int> m_filesSkipped{0};

    mutable std::mutex m_mutex;
    bool m_collecting = false;
    bool m_listingComplete = false;
    int m_lastCommandResult = 0;
    int m_lastConnectResult = 0;
    std::string m_directory;
    CListing m_listing;

    std::mutex m_printMutex;
    bool m_progressShown = false;
    bool m_lineOpen = false; // the last verbose piece had no line end
};

class CCliSession {
public:
    // `settings` is this run's table; the session reads it while it lives.
    CCliSession(const CSettings& settings, const CSessionSite& site, CliSessionUi& ui);
    ~CCliSession();

    // Starts the worker and waits until it is online: kExitDone, kExitConnect or
    // kExitInterrupted.
    int Connect();
    // The directory the login starts in, once the session has asked the server for it
    // ("/" when it could not be learnt in time).
    std::string WaitForStartDirectory();
    // Issues one command and waits for its end; `whileWaiting` is called about every
    // 20 ms meanwhile. Returns the exit status the command earned.
    int Run(const CSessionCommand& command, const std::function<void()>& whileWaiting = {});
    // Says goodbye (QUIT, bounded by the time-out) and ends the worker.
    void Close();

    CFtpSession& Session() { return m_session; }
    const CliSessionUi& Ui() const { return m_ui; }
    CliSessionUi& Ui() { return m_ui; }

private:
    CSharedSettings m_settings;
    CliSessionUi& m_ui;
    CFtpSession m_session;
};

// Starts the session's worker and waits until it is online: kExitDone, kExitConnect (the
// connection loop gave up) or kExitInterrupted. The worker keeps running either way.
int StartAndWaitOnline(CFtpSession& session, const CliSessionUi& ui);
// The directory the login starts in, once the online session has asked the server for it
// ("/" when it could not be learnt within the time-out).
std::string WaitForLoginDirectory(const CFtpSession& session, const CliSessionUi& ui, int timeoutSeconds);
// Says goodbye to every online session at once (QUIT, bounded by the time-out; skipped
// after Ctrl-C), then ends every worker.
void CloseSessions(const std::vector<CFtpSession*>& sessions, int timeoutSeconds);
