#include "app/cli/CliSession.h"


#include <cctype>
#include <chrono>
#include <string_view>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 20ms;
constexpr char kConnectGaveUpText[] = "Max errors reached, stop.";
constexpr char kInterruptedText[] = "Interrupted by user";

volatile std::sig_atomic_t g_interrupts = 0;

void OnInterrupt(int)
{
    if (g_interrupts != 0)
        _exit(kExitInterrupted); // a second Ctrl-C: the user does not want to wait
    g_interrupts = 1;
}

// The code of the last complete reply in a reply piece. A piece may hold several replies
// ("150 ...\r\n226 ...") or the middle of a multi-line one; only a line of three digits
// followed by a blank or nothing ends a reply.
void LastReplyCode(const std::string& text, std::string& code)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + start, end - start);
        const bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                            std::isdigit(static_cast<unsigned char>(line[1])) &&
                            std::isdigit(static_cast<unsigned char>(line[2]));
        if (digits && (line.size() == 3 || line[3] == ' ' || line[3] == '\r'))
            code.assign(line.substr(0, 3));
        start = end + 1;
    }
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

int CommandExitCode(const std::vector<CLogLine>& lines, bool interrupted, bool connectionLost)
{
    std::string lastReply;
    bool errorLine = false;
    for (const CLogLine& line : lines) {
        if (line.kind == LOG_ERROR && line.prefix) {
            errorLine = true;
            if (line.text == kInterruptedText)
                interrupted = true;
        }
        if (line.kind == LOG_REPLY)
            LastReplyCode(line.text, lastReply);
    }
    if (interrupted)
        return kExitInterrupted;
    if (lastReply.rfind("55", 0) == 0)
        return kExitRefused;
    if (errorLine || connectionLost)
        return kExitFailed;
    if (!lastReply.empty() && (lastReply[0] == '4' || lastReply[0] == '5'))
        return kExitFailed;
    return kExitDone;
}

// ---- CliSessionUi ----

void CliSessionUi::BeginCommand()
{
    std::lock_guard lock(m_mutex);
    m_collecting = true;
    m_started = false;
    m_listingComplete = false;
    m_commandLines.clear();
}

bool CliSessionUi::CommandStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

std::vector<CLogLine> CliSessionUi::CommandLines() const
{
    std::lock_guard lock(m_mutex);
    return m_commandLines;
}

bool CliSessionUi::CommandListingComplete() const
{
    std::lock_guard lock(m_mutex);
    return m_listingComplete;
}

bool CliSessionUi::ConnectGaveUp() const
{
    std::lock_guard lock(m_mutex);
    return m_connectGaveUp;
}

// Called with m_mutex held, on the worker thread: the worker is busy exactly while it
// carries out a command, and only the driver issues commands.
bool CliSessionUi::InCommand() const
{
    return m_collecting && m_session && m_session->IsBusy() && m_session->IsConnected();
}

void CliSessionUi::AddLogLine(const CLogLine& line)
{
    {
        std::lock_guard lock(m_mutex);
        if (InCommand()) {
            m_started = true;
            m_commandLines.push_back(line);
        }
        if (line.kind == LOG_ERROR && line.text == kConnectGaveUpText && !m_session->IsConnected())
            m_connectGaveUp = true;
    }
    if (m_output.transferLog)
        m_output.transferLog->AddLine(line);

    std::lock_guard print(m_printMutex);
    if (m_output.verbose) {
        const std::string text = FormatLogLine(line);
        WriteErr((m_lineOpen ? std::string() : m_output.label) + text);
        m_lineOpen = !text.empty() && text.back() != '\n';
    } else if (!m_output.quiet && line.prefix && (line.kind == LOG_ERROR || line.kind == LOG_WARNING)) {
        WriteErr(m_output.label + FormatLogLine(CLogLine{line.text, line.kind, 1, 1}));
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

void CliSessionUi::CommandFinished(int code, int)
{
    if (code == CMD_RUN_QUEUE)
        ++m_queueRunsFinished;
    ++m_commandsFinished;
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

CListing CliSessionUi::LastListing() const
{
    std::lock_guard lock(m_mutex);
    return m_listing;
}

void CliSessionUi::ShowLoginMessage(const std::string& host, const std::string& message)
{
    if (m_output.verbose)
        PrintMessage(host + "-Login Message\n" + message);
}

int CliSessionUi::MessageBox(const std::string& caption, const std::string& text, int style)
{
    if (!m_output.quiet)
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

void CliSessionUi::PrintMessage(const std::string& text)
{
    std::lock_guard print(m_printMutex);
    std::string line = "tollvane-cli: " + m_output.label + text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    WriteErr(line);
}

void CliSessionUi::PrintProgress(const std::string& text)
{
    std::lock_guard print(m_printMutex);
    if (m_lineOpen)
        return;
    std::fprintf(m_output.err, "\r%s\033[K", text.c_str());
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
    // The worker reports the end of every command it takes from the mailbox. One that
    // never comes back (the connection is lost, or the worker drops the command) ends
    // the wait through the connection state.
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
    return CommandExitCode(m_ui.CommandLines(), cancelled, !m_session.IsConnected());
}

void CCliSession::Close()
{
    CloseSessions({&m_session}, m_settings.Current()->Timeout);
}

// ---- shared by every driver of sessions ----

int StartAndWaitOnline(CFtpSession& session, const CliSessionUi& ui)
{
    session.Start();
    while (!session.IsConnected()) {
        if (ui.ConnectGaveUp())
            return kExitConnect;
        if (InterruptRequested())
            return kExitInterrupted;
        std::this_thread::sleep_for(kPollInterval);
    }
    return kExitDone;
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
