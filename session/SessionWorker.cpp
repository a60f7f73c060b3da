// The worker thread's loop: offline, connecting, online, closed.

#include <sys/resource.h>
#include <unistd.h>

#include "ftp/CtrlSocket.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/LstnDataSocket.h"
#include "platform/SocketErrors.h"
#include "session/FtpSession.h"
#include "session/PartnerStep.h"
#include "session/SessionRegistry.h"

namespace {

// The worker runs below the interface thread, yet not so low that background jobs on a
// busy machine starve it past its servers' time-outs.
constexpr int kWorkerNiceIncrement = 4;

void LowerThisThreadsPriority() {
    const pid_t tid = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current + kWorkerNiceIncrement);
}

}  // namespace

void CFtpSession::Run() {
    LowerThisThreadsPriority();
    TakeSettingsSnapshot();
    CreateDataSockets();
    CSessionCommand command;  // the last command taken from the mailbox
    int result = FTP_OK;
    Step step = Step::Offline;
    bool setUpFailed = false;  // the last connection did not get through its set-up
    while (true) {
        switch (step) {
        case Step::Offline:
            step = WaitOffline(command, result);
            break;
        case Step::Connect:
            result = ConnectWithRetry();
            if (result == FTP_INTERRUPTED) {
                Ui().CommandFinished(CMD_CONNECT, result);
                step = Step::Close;
            } else if (result != FTP_OK) {
                // Only a successful login goes online; a connection left half-open by
                // the last attempt is dropped so that its late close cannot wake the
                // offline wait.
                CloseConnections();
                Ui().CommandFinished(CMD_CONNECT, result);
                step = Step::Offline;
            } else {
                step = Step::Online;
            }
            break;
        case Step::Online:
            // The connection counts as made once the session has set itself up online;
            // a server that drops it at the first command has refused it.
            result = SetUpOnline();
            setUpFailed = result != FTP_OK;
            if (!setUpFailed) {
                Ui().CommandFinished(CMD_CONNECT, FTP_OK);
                result = RunOnlineLoop(command);
            }
            step = Step::Close;
            break;
        case Step::Close:
            step = CloseSession(command, result, setUpFailed);
            // A set-up that failed ends the connection attempt unless the session tries
            // again (that attempt reports its own end).
            if (setUpFailed && step != Step::Connect)
                Ui().CommandFinished(CMD_CONNECT, result == FTP_INTERRUPTED ? result : FTP_CONNECT_FAILED);
            setUpFailed = false;
            if (closing_) {
                DestroyDataSockets();
                std::lock_guard lock(endMutex_);
                workerEnded_ = true;
                endChanged_.notify_all();
                return;
            }
            break;
        }
    }
}

CFtpSession::Step CFtpSession::WaitOffline(CSessionCommand& command, int& result) {
    result = NextCommand(command);
    if (result == FTP_INTERRUPTED) return Step::Close;
    // A close notice from a connection that is already gone carries no command.
    if (result != FTP_OK) return Step::Offline;
    TakeSettingsSnapshot();
    // Another session's copy finds this one offline.
    if (command.code == CMD_PARTNER_STEP) {
        if (command.partnerStep) command.partnerStep->Finish(FTP_CLOSED);
        return Step::Offline;
    }
    // A refresh or keep-alive has nothing to do offline.
    if (command.code != CMD_CONNECT && command.origin != CommandOrigin::User &&
        command.code != CMD_RUN_QUEUE)
        return Step::Offline;
    // A connection the user asks for starts a new count of reconnects.
    reconnectsWithoutProgress_ = 0;
    if (command.code != CMD_CONNECT) {
        Log("Not logged in, can't execute command!", LOG_ERROR);
        const int answer = SessionMessageBox(
            "This site is currently offline.\n Do you wish to get online now?",
            MB_OKCANCEL | MB_ICONQUESTION);
        // Either way the command itself is dropped, and its issuer learns so.
        {
            std::lock_guard lock(textMutex_);
            lastReplyLine_.clear();
        }
        Ui().CommandFinished(command.code, FTP_CONNECT_FAILED);
        if (answer != IDOK) return Step::Offline;
    }
    return Step::Connect;
}

int CFtpSession::NextCommand(CSessionCommand& command) {
    while (true) {
        // A stop already asked for (a disconnect, the end of the worker) goes before any
        // waiting command: the wait below reports it.
        if (!closing_ && !stopEvent_.IsSignalled()) {
            // While another session's copy holds this one (the busy flag is never this
            // worker's own here), only the copy's steps run; every other command waits in
            // its place until the hold ends (ReleaseHold wakes this wait).
            const bool held = busy_;
            std::optional<CSessionCommand> next =
                held ? mailbox_.TryTakeFirst(CMD_PARTNER_STEP) : mailbox_.TryTake();
            if (next) {
                command = std::move(*next);
                if (command.code != CMD_PARTNER_STEP) waitNoticeGiven_ = false;
                return FTP_OK;
            }
            if (held && !waitNoticeGiven_ && !mailbox_.IsEmpty()) {
                Log("A site-to-site copy is using this site; the next command runs when the "
                    "copy's current entry is done.",
                    LOG_STATE);
                waitNoticeGiven_ = true;
            }
        }
        const int result = WaitForEvent(&commandEvent_, -1);
        if (result != FTP_OK) return result;
    }
}

int CFtpSession::SetUpOnline() {
    disconnectRequested_ = false;
    connected_ = true;
    // The listening socket for active-mode data connections; the local address is what
    // the PORT command announces.
    StartListening();
    std::string address;
    unsigned port = 0;
    if (ctrl_ && ctrl_->GetSockName(address, port)) {
        std::lock_guard lock(textMutex_);
        localAddress_ = address;
    }
    // The results are not checked: the session is online even when the server refuses
    // the start directory. Only a lost connection or a disconnect ends it here, since the
    // wait that saw either consumed the signal the online loop would otherwise see.
    // A "421" reply says the server is closing the connection, whether or not the close
    // has been seen yet.
    auto ends = [this](int result) {
        return result == FTP_CLOSED || (ctrl_ && ctrl_->ReplyCode(0) == "421") ||
               (result == FTP_INTERRUPTED && (disconnectRequested_ || closing_));
    };
    if (!ctrl_) return FTP_CLOSED;
    int result = ctrl_->Pwd();
    const std::string initial = InitialRemoteDirectory();
    if (!ends(result) && initial != "/") result = ctrl_->Cwd(initial, 0);
    if (!ends(result) && listOnLogin_) result = ctrl_->List("", "", 0);
    if (ends(result)) {
        NoteLastReply();
        return result == FTP_INTERRUPTED ? result : FTP_CLOSED;
    }
    if (queueRunPending_) {
        CSessionCommand resume = SimpleCommand(CMD_RUN_QUEUE);
        resume.origin = CommandOrigin::Session;
        IssueCommand(resume);
    }
    return FTP_OK;
}

int CFtpSession::RunOnlineLoop(CSessionCommand& command) {
    while (true) {
        if (!IsBusy()) antiIdleSeconds_ = 0;
        int result = NextCommand(command);
        if (result == FTP_INTERRUPTED || result == FTP_CLOSED) return result;
        if (result != FTP_OK) continue;
        // Settings edited since the last command hold from this one on.
        TakeSettingsSnapshot();
        // A step of the copy that holds this session: carried out on its connection here,
        // its own thread, while the driving session waits for it.
        if (command.code == CMD_PARTNER_STEP) {
            if (command.partnerStep) command.partnerStep->Carry(ctrl_.get());
            // The step's waits are this session's own: a lost connection they saw ends it.
            if (command.partnerStep && command.partnerStep->result == FTP_CLOSED) return FTP_CLOSED;
            if (closing_ || disconnectRequested_) return FTP_INTERRUPTED;
            continue;
        }
        // A copy of another session claimed this one since the command was taken: the
        // command goes back to the front of the mailbox and runs when the copy lets go.
        if (!TryBeginCommand()) {
            mailbox_.PutBack(std::move(command));
            continue;
        }
        if (command.code == CMD_RUN_QUEUE) queueRunPending_ = true;
        quietListing_ = command.origin == CommandOrigin::KeepAlive;
        result = ExecuteCommand(command);
        quietListing_ = false;
        NoteLastReply();
        busy_ = false;
        if (result == FTP_OK && command.code != CMD_RUN_QUEUE) reconnectsWithoutProgress_ = 0;
        Ui().CommandFinished(command.code, result);
        if (command.code == CMD_CONNECT || command.code == CMD_DISCONNECT ||
            command.code == CMD_QUIT || closing_ || disconnectRequested_ ||
            result == FTP_CLOSED) {
            return result;
        }
    }
}

void CFtpSession::CloseConnections() {
    if (ctrl_) {
        ctrl_->Close();
        // A copy of another session's queue may still wait on this connection's pairing
        // state: the object is kept, closed, until no copy holds this session.
        retiredCtrl_.push_back(std::move(ctrl_));
    }
    if (CSessionRegistry::LeasesOn(*this) == 0) retiredCtrl_.clear();
    loggedIn_ = false;
}

void CFtpSession::CreateDataSockets() {
    data_ = std::make_unique<CIncomingDataSocket>(static_cast<DataSocketLink&>(*this));
    listener_ = std::make_unique<CLstnDataSocket>(static_cast<DataSocketLink&>(*this), *data_);
}

void CFtpSession::DestroyDataSockets() {
    listener_.reset();
    data_.reset();
}

void CFtpSession::StartListening() {
    if (!listener_) return;
    if (!listener_->StartListening()) {
        const int error = WSAGetLastError();
        Log("Unable to create the listening socket for data connections.", LOG_ERROR);
        Log(GetSocketErrorText(error), LOG_ERROR);
    }
}

unsigned CFtpSession::ListeningPort() { return listener_ ? listener_->ListeningPort() : 0; }

CFtpSession::Step CFtpSession::CloseSession(const CSessionCommand& command, int result, bool setUpFailed) {
    TakeSettingsSnapshot();
    CloseConnections();
    if (data_ && data_->GetSocketHandle() != INVALID_SOCKET) data_->ForceClose(false);
    if (listener_) listener_->Close();
    connected_ = false;
    Log("Session Closed.", LOG_STATE);
    if (closing_) return Step::Offline;
    if (command.code == CMD_CONNECT && reconnectIntoCurrentDirectory_) {
        // A reconnect asked for by the user starts where the remote pane stands.
        const std::string current = CurrentRemoteDirectory();
        if (!current.empty()) {
            std::lock_guard lock(textMutex_);
            initialRemoteDirectory_ = current;
        }
    }
    if (result == FTP_INTERRUPTED) return Step::Offline;
    // A server that drops the connection at the first command after the login ("421")
    // failed the connection: it is tried again like a failed login, after the pause.
    if (setUpFailed) return MayReconnectByItself(true) ? Step::Connect : Step::Offline;
    if (command.code == CMD_CONNECT && result == FTP_OK) return Step::Connect;
    if ((queueRunPending_ && !QueueIsEmpty()) || Settings().KeepAlive)
        return MayReconnectByItself(false) ? Step::Connect : Step::Offline;
    return Step::Offline;
}

bool CFtpSession::MayReconnectByItself(bool pauseFirst) {
    // A server that drops every connection soon after the login (a "421" to the first
    // command, or to every transfer) would otherwise be reconnected to for ever. Going on
    // after a connection that worked was lost is no retry; each reconnect after that
    // without a file done, and each after a failed set-up, is one.
    const int made = reconnectsWithoutProgress_;
    const bool limited = !Settings().AlwaysRetry;
    const int allowed = pauseFirst ? Settings().ErrorRetry : Settings().ErrorRetry + 1;
    if (made >= allowed && limited) {
        Log("Max errors reached, stop.", LOG_ERROR);
        reconnectsWithoutProgress_ = 0;
        queueRunPending_ = false;
        return false;
    }
    reconnectsWithoutProgress_ = made + 1;
    if (pauseFirst) {
        serverClosedEvent_.Reset();
        AnnounceRetry("connection to " + host_ + ":" + std::to_string(port_), made + 1,
                      limited ? Settings().ErrorRetry : -1);
        if (WaitToRetry() != FTP_TIMEOUT) {
            reconnectsWithoutProgress_ = 0;
            return false;
        }
        Log("Connection retry #" + std::to_string(made + 1) + "...", LOG_STATE);
    }
    return true;
}
