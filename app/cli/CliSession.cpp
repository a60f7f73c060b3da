#include "app/cli/CliSession.h"
#include "app/cli/TerminalText.h"


#include <atomic>
#include <utility>
#include <cctype>
#include <chrono>
#include <ctime>
#include <string_view>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 20ms;

// Set by the signal handler and read by the worker threads too: a lock-free atomic is
// both safe in a handler and seen by every thread (a volatile sig_atomic_t is only the
// former).
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_interrupts{0};
std::atomic<int> g_terminated{0};

void OnInterrupt(int signal)
{
    if (g_interrupts != 0)
        _exit(kExitInterrupted); // a second Ctrl-C: the user does not want to wait
    if (signal == SIGTERM)
        g_terminated = 1;
    g_interrupts = 1;
}

} // namespace

void InstallInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested()
{
    return g_interrupts > 0;
}

bool TerminationRequested()
{
    return g_terminated > 0;
}

CliExitCode ExitCodeOfResult(int ftpResult)
{
    switch (ftpResult) {
    case FTP_OK:
        return kExitDone;
    case FTP_INTERRUPTED:
        return kExitInterrupted;
    case FTP_NOT_AVAILABLE:
        return kExitRefused;
    default: // failed, timed out, connection closed or lost
        return kExitFailed;
    }
}

// ---- CliSessionUi ----

void CliSessionUi::BeginCommand()
{
    std::lock_guard lock(m_mutex);
    m_collecting = true;
    m_listingComplete = false;
    m_lastCommandResult = FTP_OK;
}

bool CliSessionUi::CommandListingComplete() const
{
    std::lock_guard lock(m_mutex);
    return m_listingComplete;
}

int CliSessionUi::LastCommandResult() const
{
    std::lock_guard lock(m_mutex);
    return m_lastCommandResult;
}

int CliSessionUi::LastConnectResult() const
{
    std::lock_guard lock(m_mutex);
    return m_lastConnectResult;
}

bool CliSessionUi::ConnectFailed() const
{
    std::lock_guard lock(m_mutex);
    return m_connectsFinished > 0 && m_lastConnectResult != FTP_OK;
}

// Called with m_mutex held, on the worker thread: the worker is busy exactly while it
// carries out a command, and only the driver issues commands.
bool CliSessionUi::InCommand() const
{
    return m_collecting && m_session && m_session->IsBusy() && m_session->IsConnected();
}

void CliSessionUi::AddLogLine(const CLogLine& line)
{
    if (m_output.transferLog)
        m_output.transferLog->AddLine(line);

    std::lock_guard print(m_printMutex);
    // Server text reaches these lines: shown escaped, never obeyed by the terminal.
    if (m_output.verbose) {
        const std::string text = FormatLogLine(line);
        WriteErr((m_lineOpen ? std::string() : m_output.label) + EscapeForTerminal(text, true));
        m_lineOpen = !text.empty() && text.back() != '\n';
    } else if (!m_output.quiet && !TerminationRequested() && line.prefix &&
               (line.kind == LOG_ERROR || line.kind == LOG_WARNING)) {
        // After SIGTERM the lines that follow tell of this program's own stop, which the
        // driver reports as such.
        WriteErr(m_output.label + EscapeForTerminal(FormatLogLine(CLogLine{line.text, line.kind, 1, 1}), true));
    }
}

void CliSessionUi::AddTransferLogLine(const std::string& text)
{
    ++m_filesDone;
    if (m_output.transferLog)
        m_output.transferLog->AppendText(text + "\n");
}

void CliSessionUi::FileSkipped(const std::string& fileName, const std::string& reason)
{
    ++m_filesSkipped;
    // With -v the log line has said it already.
    if (!m_output.quiet && !m_output.verbose)
        PrintMessage("skipped " + fileName + ": " + reason);
}

void CliSessionUi::QueueChanged(const CFtpSession&, const CQueueChange&)
{
    if (m_output.queueChanged)
        m_output.queueChanged();
}

void CliSessionUi::CommandFinished(int code, int result)
{
    std::lock_guard lock(m_mutex);
    if (code == CMD_CONNECT) {
        m_lastConnectResult = result;
        ++m_connectsFinished;
        return;
    }
    m_lastCommandResult = result;
    if (code == CMD_RUN_QUEUE)
        ++m_queueRunsFinished;
    ++m_commandsFinished;
}

std::string RetryNoticeText(const CRetryNotice& notice, std::time_t now)
{
    std::string text = "retry " + std::to_string(notice.retry);
    if (notice.retries >= 0)
        text += " of " + std::to_string(notice.retries);
    text += " of the " + notice.what;
    if (notice.delaySeconds <= 0)
        return text + " now";
    const std::time_t at = now + notice.delaySeconds;
    std::tm local = {};
    char clock[16] = "";
    if (localtime_r(&at, &local))
        std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    return text + " in " + std::to_string(notice.delaySeconds) + " s (at " + clock + ")";
}

void CliSessionUi::RetryWaiting(const CRetryNotice& notice)
{
    if (!m_output.quiet)
        PrintMessage(RetryNoticeText(notice, std::time(nullptr)));
}

void CliSessionUi::DirectoryChanged(const std::string& directory)
{
    std::lock_guard lock(m_mutex);
    m_directory = directory;
}

std::string CliSessionUi::ReportedDirectory() const
{
    std::lock_guard lock(m_mutex);
    return m_directory;
}

void CliSessionUi::ListingComplete(const CListing& listing)
{
    std::lock_guard lock(m_mutex);
    m_listing = listing;
    if (InCommand())
        m_listingComplete = true;
}

CListing CliSessionUi::TakeLastListing()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_listing, {});
}

void CliSessionUi::ShowLoginMessage(const std::string& host, const std::string& message)
{
    if (m_output.verbose)
        PrintMessage(host + "-Login Message\n" + message);
}

int CliSessionUi::MessageBox(const std::string& caption, const std::string& text, int style)
{
    // A question is meant for a window's user; the log line beside it tells what happened.
    if (!m_output.quiet && (style & MB_BUTTONS_MASK) == MB_OK)
        PrintMessage(caption + ": " + text);
    // Nobody is there to answer: take the cautious button.
    switch (style & MB_BUTTONS_MASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
    }
}

void CliSessionUi::ShowMessageWindow(const std::string& caption, const std::string& text, bool)
{
    if (!m_output.quiet)
        PrintMessage(caption + ": " + text);
}

COverwriteAnswer CliSessionUi::AskOverwrite(const COverwriteQuestion& question)
{
    int action = m_output.overwriteAction >= 0 ? m_output.overwriteAction : question.suggestedAction;
    if (action == 1 && !question.canResume)
        action = 2;
    if (action == 3)
        action = question.autoAction;
    return {action, false};
}

int CliSessionUi::AskCertificateTrust(const CCertificateQuestion& question)
{
    if (!m_output.trustedCertificate.empty() && question.fingerprint == "SHA256:" + m_output.trustedCertificate)
        return CERT_TRUST_ALWAYS;
    // Always said, also when quiet: it is why the command fails.
    std::string text = "the certificate of " + question.host + ":" + std::to_string(question.port) +
                       (question.replaces.empty() ? " is not trusted"
                                                  : " HAS CHANGED since you trusted " + question.replaces +
                                                        "; someone may be intercepting the connection");
    if (!question.problem.empty())
        text += " (" + question.problem + ")";
    text += "\n  fingerprint: " + question.fingerprint + "\n  subject: " + question.subject +
            "\n  issuer: " + question.issuer + "\n  valid from " + question.notBefore + " to " +
            question.notAfter + "\nIf you know it is the server's, trust it with --trust-certificate " +
            question.fingerprint + (question.replaces.empty() ? "" : " (it replaces the one trusted before)");
    if (!m_output.trustedCertificate.empty())
        text += "\n(--trust-certificate named another certificate: SHA256:" + m_output.trustedCertificate + ")";
    PrintMessage(text);
    return CERT_REFUSE;
}

void CliSessionUi::PrintMessage(const std::string& text)
{
    std::lock_guard print(m_printMutex);
    std::string line = "tollvane-cli: " + m_output.label + EscapeForTerminal(text, true);
    if (line.empty() || line.back() != '\n')
        line += '\n';
    WriteErr(line);
}

void CliSessionUi::PrintProgress(const std::string& text)
{
    std::lock_guard print(m_printMutex);
    if (m_lineOpen)
        return;
    std::fprintf(m_output.err, "\r%s\033[K", EscapeForTerminal(text).c_str());
    std::fflush(m_output.err);
    m_progressShown = true;
}

void CliSessionUi::EndProgress()
{
    std::lock_guard print(m_printMutex);
    if (m_progressShown)
        std::fputs("\r\033[K", m_output.err);
    m_progressShown = false;
}

void CliSessionUi::WriteErr(const std::string& text)
{
    if (m_progressShown) {
        std::fputs("\r\033[K", m_output.err);
        m_progressShown = false;
    }
    std::fwrite(text.data(), 1, text.size(), m_output.err);
    std::fflush(m_output.err);
}

// ---- CCliSession ----

namespace {

// Nothing but the user's command is sent: no anti-idle commands of the session's own.
CSettings WithoutAntiIdle(CSettings settings)
{
    settings.AntiIdleCommandInterval = 0;
    // The command's own error line quotes a refusal; no second message for it.
    settings.pActionFailed = 0;
    return settings;
}

} // namespace

CCliSession::CCliSession(const CSettings& settings, const CSessionSite& site, CliSessionUi& ui)
    : m_settings(WithoutAntiIdle(settings)), m_ui(ui), m_session(m_settings, site)
{
    m_ui.Attach(&m_session);
    m_session.SetUi(&m_ui);
}

CCliSession::~CCliSession()
{
    m_session.StopThread();
}

int CCliSession::Connect()
{
    const int status = StartAndWaitOnline(m_session, m_ui);
    if (status != kExitDone)
        m_session.StopThread();
    return status;
}

std::string CCliSession::WaitForStartDirectory()
{
    return WaitForLoginDirectory(m_session, m_ui, m_settings.Current()->Timeout);
}

int CCliSession::Run(const CSessionCommand& command, const std::function<void()>& whileWaiting)
{
    // The worker reports the end of every command it takes from the mailbox, also of one
    // it drops while offline; a lost connection reports the command's end before the
    // session goes offline.
    m_ui.BeginCommand();
    const int finishedBefore = m_ui.CommandsFinished();
    m_session.IssueCommand(command);
    bool cancelled = false;
    while (m_ui.CommandsFinished() == finishedBefore && m_session.IsConnected()) {
        if (InterruptRequested() && !cancelled) {
            cancelled = true;
            if (!m_session.IsBusy()) {
                m_session.StopThread();
                return kExitInterrupted;
            }
            // The running operation ends its wait, aborts its transfer and returns.
            m_session.CancelOperation();
        }
        if (whileWaiting)
            whileWaiting();
        std::this_thread::sleep_for(kPollInterval);
    }
    m_ui.EndProgress();
    if (cancelled)
        return kExitInterrupted;
    if (m_ui.CommandsFinished() == finishedBefore)
        return kExitFailed; // the connection ended without the command
    return ExitCodeOfResult(m_ui.LastCommandResult());
}

void CCliSession::Close()
{
    CloseSessions({&m_session}, m_settings.Current()->Timeout);
}

// ---- shared by every driver of sessions ----

int StartAndWaitOnline(CFtpSession& session, const CliSessionUi& ui)
{
    // The worker reports the end of the connection attempt (with its retries) either way.
    const int before = ui.ConnectsFinished();
    session.Start();
    while (ui.ConnectsFinished() == before) {
        if (InterruptRequested())
            return kExitInterrupted;
        std::this_thread::sleep_for(kPollInterval);
    }
    switch (ui.LastConnectResult()) {
    case FTP_OK:
        return kExitDone;
    case FTP_INTERRUPTED:
        return kExitInterrupted;
    default:
        return kExitConnect;
    }
}

std::string WaitForLoginDirectory(const CFtpSession& session, const CliSessionUi& ui, int timeoutSeconds)
{
    // The online set-up asks for the directory first thing; its reply is bounded by the
    // time-out like any other.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(timeoutSeconds, 1) + 1);
    std::string directory = ui.ReportedDirectory();
    while (directory.empty() && session.IsConnected() && !InterruptRequested() &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(kPollInterval);
        directory = ui.ReportedDirectory();
    }
    return directory.empty() ? "/" : directory;
}

void CloseSessions(const std::vector<CFtpSession*>& sessions, int timeoutSeconds)
{
    if (!InterruptRequested()) {
        for (CFtpSession* session : sessions)
            if (session->HasThread() && session->IsConnected())
                session->IssueCommand(SimpleCommand(CMD_QUIT));
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(timeoutSeconds, 1));
        for (CFtpSession* session : sessions)
            while (session->HasThread() && session->IsConnected() && std::chrono::steady_clock::now() < limit &&
                   !InterruptRequested())
                std::this_thread::sleep_for(kPollInterval);
    }
    for (CFtpSession* session : sessions)
        session->StopThread();
}
