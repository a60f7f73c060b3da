#include "session/FtpSession.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "ftp/CtrlSocket.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/LstnDataSocket.h"
#include "platform/Fatal.h"
#include "session/SessionRegistry.h"
#include "session/TransferType.h"

namespace {

// Anonymous sites log in as "anonymous" with the configured e-mail address, whatever the
// record's own login holds.
std::string LoginUser(const CSessionSite& site) {
    return site.logintype == LOGIN_ANONYMOUS ? std::string("anonymous") : site.username;
}
std::string LoginPassword(const CSessionSite& site, const CSettings& settings) {
    return site.logintype == LOGIN_ANONYMOUS ? settings.AnonymousPass : site.password;
}

CSessionSite SessionSiteOf(const CSiteSetting& record) {
    CSessionSite site;
    site.address = record.address;
    site.port = record.port;
    site.username = record.username;
    site.password = record.password;
    site.logintype = record.logintype;
    site.hosttype = record.hosttype;
    site.passive = record.passive;
    site.defremotedir = record.defremotedir;
    site.encryption = record.encryption;
    return site;
}


}  // namespace

CacheSettings CacheSettingsOf(const CSettings& settings) {
    CacheSettings cache;
    cache.homeDirectory = settings.CacheHomeDirectory;
    cache.enableCache = settings.EnableCache != 0;
    cache.alwaysRefresh = settings.AlwaysRefresh != 0;
    return cache;
}

CFtpSession::CFtpSession(CSharedSettings& settings, const CSessionSite& site)
    : sharedSettings_(settings),
      settings_(settings.Current()),
      host_(site.address),
      port_(site.port),
      user_(LoginUser(site)),
      password_(LoginPassword(site, *settings_)),
      loginType_(site.logintype),
      hostType_(site.hosttype),
      passive_(site.passive),
      tlsMode_(site.encryption),
      stopEvent_(false, false),
      commandEvent_(false, false),
      serverClosedEvent_(false, false),
      idleTimer_(false),
      initialRemoteDirectory_(site.defremotedir),
      cache_(CacheSettingsOf(*settings_), this),
      random_(std::random_device{}()) {
    queue_.SetChangeListener([this](const CQueueChange& change) { Ui().QueueChanged(*this, change); });
    CSessionRegistry::Add(*this);
}

CFtpSession::CFtpSession(CSharedSettings& settings, const CSiteSetting& site)
    : CFtpSession(settings, SessionSiteOf(site)) {}

CFtpSession::~CFtpSession() {
    // A copy that uses this session as its other site ends first; the owner should have
    // asked CloseRefusal() and not closed it at all.
    closing_ = true;
    CSessionRegistry::WaitUntilUnused(*this, {});
    StopThread();
    CSessionRegistry::Remove(*this);
    queue_.SetChangeListener({});
    queue_.DestroyAll();
}

void CFtpSession::SetUi(SessionUi* ui) { ui_ = ui; }

void CFtpSession::TakeSettingsSnapshot() {
    std::shared_ptr<const CSettings> current = sharedSettings_.Current();
    if (current == settings_) return;
    settings_ = std::move(current);
    cache_ = CDirectoryCache(CacheSettingsOf(*settings_), this);
}

bool CFtpSession::Start() {
    sharedSettings_.Edit([this](CSettings& table) {
        table.LastAddress = host_;
        table.LastPort = port_;
        table.LastUser = user_;
        table.LastPassword = password_;
        table.LastPassive = passive_;
    });
    if (HasThread()) {
        // Already running: a start means "connect" to it.
        IssueCommand(SimpleCommand(CMD_CONNECT));
        return true;
    }
    // Cleared here rather than by the worker, so that a StopThread issued right after
    // Start cannot be undone by a worker that has not run yet. A stop meant for an
    // earlier worker must not interrupt this one.
    closing_ = false;
    stopEvent_.Reset();
    {
        std::lock_guard lock(endMutex_);
        workerEnded_ = false;
    }
    IssueCommand(SimpleCommand(CMD_CONNECT));
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        FatalError("Unable to create thread!");
    }
    return true;
}

void CFtpSession::StopThread(const std::function<void()>& keepResponsive) {
    if (!HasThread()) return;
    closing_ = true;
    // Another session's copy may be driving this one's connection: it ends before the
    // connection does.
    CSessionRegistry::WaitUntilUnused(*this, keepResponsive);
    stopEvent_.Set();
    if (keepResponsive) {
        // Once at least: a call the worker sent just before it ended is answered too.
        std::unique_lock lock(endMutex_);
        do {
            lock.unlock();
            keepResponsive();
            lock.lock();
            endChanged_.wait_for(lock, std::chrono::milliseconds(10),
                                 [this] { return workerEnded_; });
        } while (!workerEnded_);
    }
    worker_.join();
}

bool CFtpSession::IssueCommand(const CSessionCommand& command) {
    if (!mailbox_.Put(command)) return false;
    commandEvent_.Set();
    return true;
}

void CFtpSession::StartPartners() {
    std::vector<CFtpSession*> partners;
    queue_.ForEach([&](const CQueueEntry& entry) {
        if (entry.partner != nullptr && entry.partner != this &&
            std::find(partners.begin(), partners.end(), entry.partner) == partners.end())
            partners.push_back(entry.partner);
    });
    // Sessions are created and destroyed on this (the owner's) thread, so one alive now
    // stays alive for the call.
    for (CFtpSession* partner : partners) {
        if (!CSessionRegistry::IfAlive(partner, [](CFtpSession&) {})) continue;
        if (partner->HasThread()) continue;
        if (partner->openRequestHandler_) {
            partner->openRequestHandler_(*partner);
        } else {
            partner->Start();
        }
    }
}

void CFtpSession::StartQueue() {
    StartPartners();
    if (!HasThread()) {
        queueRunPending_ = true;
        if (openRequestHandler_) {
            openRequestHandler_(*this);
        } else {
            Start();
        }
        return;
    }
    RequestQueueRun();
}

void CFtpSession::RequestQueueRun() {
    if (!QueueIsEmpty()) IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
}

void CFtpSession::SetOpenRequestHandler(std::function<void(CFtpSession&)> handler) {
    openRequestHandler_ = std::move(handler);
}

void CFtpSession::CancelOperation() {
    if (!IsBusy()) return;
    // A copy of another session holds this one: the Stop ends that copy. Stopping this
    // worker instead would close its connection under the copy.
    if (CSessionRegistry::StopCopiesUsing(*this)) return;
    CFtpSession* driver = driver_;
    if (pairFlag_ && driver != nullptr) {
        // The copy runs on the driving session's worker: stop that one, once.
        bool expected = true;
        if (driver->pairFlag_.compare_exchange_strong(expected, false)) {
            driver->stopEvent_.Set();
        }
        return;
    }
    stopEvent_.Set();
    pairFlag_ = false;
}

bool CFtpSession::Disconnect() {
    const std::string refusal = CloseRefusal();
    if (!refusal.empty()) {
        Log(refusal, LOG_ERROR);
        return false;
    }
    disconnectRequested_ = true;
    stopEvent_.Set();
    return true;
}

std::string CFtpSession::CloseRefusal() const {
    if (CSessionRegistry::LeasesOn(*this) == 0) return {};
    return "This site is the other site of a site-to-site copy that is running; stop that "
           "queue before closing this site.";
}

void CFtpSession::AntiIdleTick() {
    const int seconds = ++antiIdleSeconds_;
    // The interface thread's own look at the settings: the worker's snapshot is its own.
    if (seconds == sharedSettings_.Current()->AntiIdleCommandInterval && !IsBusy() && connected_) {
        SendAntiIdleCommand();
        antiIdleSeconds_ = 0;
    }
}

CSessionCommand CFtpSession::AntiIdleCommand(int choice) {
    CSessionCommand command;
    switch (choice) {
    case 0:
        command = SimpleCommand(CMD_CWD, CMDFLAG_SEND_ALWAYS);
        break;
    case 1:
        command = SimpleCommand(CMD_LIST);
        break;
    case 2:
        command = SimpleCommand(CMD_PWD);
        break;
    default:
        command = SimpleCommand(CMD_REST);
        break;
    }
    command.origin = CommandOrigin::KeepAlive;
    return command;
}

void CFtpSession::SendAntiIdleCommand() {
    // Varying the command keeps servers that ignore one repeated command from counting
    // the session as idle.
    std::uniform_int_distribution<int> pick(0, 3);
    IssueCommand(AntiIdleCommand(pick(random_)));
}

float CFtpSession::SampleTransferRate() {
    // The meter works on 32-bit differences, which stay right as the counter wraps.
    return rateMeter_.Sample(static_cast<std::uint32_t>(byteCounter_.load()));
}

std::string CFtpSession::CurrentRemoteDirectory() const {
    std::lock_guard lock(textMutex_);
    return currentRemoteDirectory_;
}

std::string CFtpSession::InitialRemoteDirectory() const {
    std::lock_guard lock(textMutex_);
    return initialRemoteDirectory_;
}

std::string CFtpSession::LocalAddress() const {
    std::lock_guard lock(textMutex_);
    return localAddress_;
}

void CFtpSession::SetCurrentRemoteDirectory(const std::string& directory) {
    {
        std::lock_guard lock(textMutex_);
        currentRemoteDirectory_ = directory;
    }
    Ui().DirectoryChanged(directory);
}

bool CFtpSession::TryBeginCommand() {
    bool idle = false;
    return busy_.compare_exchange_strong(idle, true);
}

void CFtpSession::ReleaseHold() {
    busy_ = false;
    commandEvent_.Set();
}

void CFtpSession::Log(const std::string& text, int kind, bool newline, bool prefix) {
    if (closing_) return;
    const CLogLine line{text, kind, newline ? 1 : 0, prefix ? 1 : 0};
    Ui().AddLogLine(line);
}

int CFtpSession::SessionMessageBox(const std::string& text, int style) {
    return Ui().MessageBox(host_, text, style);
}

void CFtpSession::ReportActionFailed(const std::string& replyText) {
    ReportActionFailed(replyText, false);
}

void CFtpSession::ReportActionFailed(const std::string& text, bool modal) {
    Ui().ShowMessageWindow(host_, text, modal);
}

void CFtpSession::OnServerClosed() {
    static const char kText[] = "Control connection closed by server.";
    Log(kText, LOG_ERROR);
    if (Settings().pClose) Ui().ShowMessageWindow(host_, kText, false);
}

void CFtpSession::ReportLogin(const std::string& message) {
    if (Settings().pLogin) Ui().ShowLoginMessage(host_, message);
}

bool CFtpSession::ActionFailedPromptEnabled() const { return Settings().pActionFailed != 0; }

int CFtpSession::ChooseTransferType(const std::string& fileName) const {
    return ChooseTransferTypeFor(fileName, transferType_, Settings().TextFileExtension);
}

void CFtpSession::NoteLastReply() {
    std::string line;
    if (ctrl_) {
        // The last non-empty line of the reply, without its line end.
        std::string_view text = ctrl_->ReplyText();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        const std::size_t start = text.find_last_of("\r\n");
        line = std::string(start == std::string_view::npos ? text : text.substr(start + 1));
    }
    std::lock_guard lock(textMutex_);
    lastReplyLine_ = std::move(line);
}

std::string CFtpSession::LastReplyLine() const {
    std::lock_guard lock(textMutex_);
    return lastReplyLine_;
}

void CFtpSession::ForceDataConnectionClosed(bool sending) {
    if (data_) data_->ForceClose(sending);
}

void CFtpSession::SetTransferredBytes(std::uint64_t count) {
    byteCounter_ = count;
    rateMeter_.Restart();
}

void CFtpSession::AppendListingText(const char* text, std::size_t length) {
    listingText_.append(text, length);
}

void CFtpSession::SetCurrentFileName(const std::string& name) {
    std::lock_guard lock(textMutex_);
    currentFileName_ = name;
}

std::string CFtpSession::CurrentFileName() const {
    std::lock_guard lock(textMutex_);
    return currentFileName_;
}

std::string CFtpSession::ControlPeerAddress() const {
    std::string address;
    unsigned port = 0;
    if (ctrl_ && ctrl_->GetPeerName(address, port)) return address;
    return {};
}

bool CFtpSession::OverwritePromptEnabled() const {
    return Settings().pOverwrite != 0;
}

int CFtpSession::AskOverwrite(const COverwriteRequest& request, bool& applyToAll) {
    COverwriteQuestion question;
    question.sourceFile = request.sourceFile;
    question.targetFile = request.targetFile;
    question.autoAction = request.autoAction;
    question.suggestedAction = request.suggestedAction;
    question.canResume = request.canResume;
    const COverwriteAnswer answer = Ui().AskOverwrite(question);
    applyToAll = answer.applyToAll;
    return answer.action;
}

void CFtpSession::BeginPairing(SessionLink& partnerLink) {
    auto& partner = static_cast<CFtpSession&>(partnerLink);
    partner_ = &partner;
    partner.driver_ = this;
    partner.pairFlag_ = true;
    pairFlag_ = true;
}

void CFtpSession::EndPairing(SessionLink& partnerLink) {
    auto& partner = static_cast<CFtpSession&>(partnerLink);
    partner.pairFlag_ = false;
    pairFlag_ = false;
    // Neither keeps pointing at the other: a later failed reply of the partner, in a copy
    // driven by someone else or none, must not interrupt this session.
    partner.driver_ = nullptr;
    partner_ = nullptr;
    stopEvent_.Reset();
}

void CFtpSession::ShowCacheMessage(const std::string& text) {
    Ui().ShowMessageWindow(host_, text, false);
}

void CFtpSession::ListingStarted() {
    if (!quietListing_) Ui().ListingStarted();
}

void CFtpSession::ListingComplete() {
    if (quietListing_) return;
    Ui().ListingComplete(CListing{CurrentRemoteDirectory(), listingText_});
}
