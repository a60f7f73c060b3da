#pragma once
// CFtpSession: one open FTP site. The interface thread writes a command into the
// session's mailbox and signals the command event; the session's own worker thread,
// which owns the site's sockets, carries the command out through the control connection
// and reports back through SessionUi. Every wait of the worker pumps the thread's socket
// notifications, so the control connection's handlers run nested inside those waits.
//
// Usage (interface thread):
//   CSharedSettings settings(table);                  // the application keeps it
//   CFtpSession session(settings, site);
//   session.SetUi(&ui);
//   session.Start();                                  // worker connects and logs in
//   session.IssueCommand(SimpleCommand(CMD_PWD));
//   session.StopThread([] { /* keep the interface responsive */ });

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <list>
#include <vector>

#include "ftp/DataSocketLink.h"
#include "ftp/FtpTypes.h"
#include "ftp/SessionLink.h"
#include "listing/DirectoryCache.h"
#include "platform/Event.h"
#include "platform/WaitHandle.h"
#include "platform/WaitableTimer.h"
#include "session/SessionCommand.h"
#include "session/SessionSite.h"
#include "session/SessionUi.h"
#include "session/TransferQueue.h"
#include "session/TransferRateMeter.h"
#include "sites/SharedSettings.h"
#include "sites/SiteSetting.h"

class CCtrlSocket;
class CIncomingDataSocket;
class CLstnDataSocket;
class CWaitHandle;

// The cache settings of a settings table.
CacheSettings CacheSettingsOf(const CSettings& settings);

class CFtpSession final : public SessionLink, public DataSocketLink, public ICacheMessageSink {
public:
    // The session follows `settings` for as long as it lives (the caller keeps the
    // object): the worker takes its current table at the start of each operation.
    CFtpSession(CSharedSettings& settings, const CSessionSite& site);
    // A session for a site record: anonymous sites log in as "anonymous" with the
    // "AnonymousPass" setting.
    CFtpSession(CSharedSettings& settings, const CSiteSetting& site);
    ~CFtpSession() override;
    CFtpSession(const CFtpSession&) = delete;
    CFtpSession& operator=(const CFtpSession&) = delete;

    // ---- Interface thread ----

    // The windows that show this session; null detaches them. Only while no worker runs.
    void SetUi(SessionUi* ui);
    // Remembers the connection as the last one used, starts the worker and asks it to
    // connect. True; a worker that cannot be created ends the process.
    bool Start();
    // Ends the worker: interrupts whatever it waits for and waits until it has ended. A copy
    // of another session's queue that uses this one as its other site is ended first.
    // `keepResponsive`, when given, is called at least once and then repeatedly until the
    // worker has ended, so that a caller whose own thread must answer the worker's sent
    // calls (a UI event loop) keeps doing so.
    void StopThread(const std::function<void()>& keepResponsive = {});
    bool HasThread() const { return worker_.joinable(); }

    // Queues the command in the mailbox and wakes the worker; commands run in the order
    // they were issued. False when it was dropped as a second copy of a pending refresh,
    // keep-alive or resumed queue run (see CommandOrigin); a user command is never dropped.
    bool IssueCommand(const CSessionCommand& command);
    // The remote pane's Refresh: lists the current folder again.
    bool RequestRefresh() { return IssueCommand(RefreshCommand()); }
    // Runs the transfer queue: at once when the worker runs, else right after connecting.
    // The other sites of site-to-site entries that have no worker are opened first, here
    // on the owner's thread (by their open-request handler, else Start).
    void StartQueue();
    void RequestQueueRun();
    // Who opens a session that has no worker when its queue is started (the site view:
    // a new tab, then Start). Without one the session starts itself.
    void SetOpenRequestHandler(std::function<void(CFtpSession&)> handler);
    // What a queue run does, on the worker thread; none: the queue is empty. Only while no
    // worker runs.
    void SetQueueRunner(std::function<int(CFtpSession&)> runner);
    // The Stop command: interrupts the running operation (or the driving session of a
    // site-to-site copy this session takes part in).
    void CancelOperation();
    // The Disconnect command (already confirmed by the user): ends the session. Refused,
    // with CloseRefusal() in the log, while another session's copy uses this one.
    bool Disconnect();
    // Why the session may not be closed now (it is the other site of a running site-to-site
    // copy), or empty. The owner asks before it disconnects, stops or destroys the session:
    // destroying one that is in use interrupts the copy and waits for it.
    std::string CloseRefusal() const;

    // The session's transfer queue. Any thread may change it at any time: the run works on
    // a copy of the entry it transfers, and nobody else touches that entry (see
    // CTransferQueue).
    CTransferQueue& Queue() { return queue_; }
    const CTransferQueue& Queue() const { return queue_; }
    bool QueueRunPending() const { return queueRunPending_; }

    bool IsBusy() const { return busy_ || queueRunPending_; }
    bool CanStartQueue() const { return !QueueIsEmpty() && !IsBusy(); }
    // Once a second while "KeepAlive" is on: counts idle seconds and sends an anti-idle
    // command when the "AntiIdleCommandInterval" is reached.
    void AntiIdleTick();
    // Puts one of the four anti-idle commands, chosen at random, into the mailbox.
    void SendAntiIdleCommand();
    // Anti-idle command number `choice` (0 to 3): CWD ".", the refresh listing, PWD, REST 0.
    static CSessionCommand AntiIdleCommand(int choice);
    // Every 500 ms for the current session: the transfer rate in KB/s, -1 while unknown.
    float SampleTransferRate();

    // Session state, readable from any thread.
    const std::string& HostName() const { return host_; }
    bool IsConnected() const { return connected_; }
    bool IsLoggedIn() const { return loggedIn_; }
    bool IsTransferring() const { return transferring_; }
    bool IsClosing() const { return closing_; }
    int AntiIdleSeconds() const { return antiIdleSeconds_; }
    int FilesProcessed() const { return filesProcessed_; }
    // The last line of the server's last reply to the command the worker finished last
    // (or to the login that failed); empty when there was none. Set before CommandFinished.
    std::string LastReplyLine() const;
    // Whether going online lists the start directory (the remote pane shows it). A caller
    // that lists by itself turns it off, so each listing is fetched once. Only while no
    // worker runs.
    void SetListOnLogin(bool on) { listOnLogin_ = on; }
    // How many extra cycles a queue run makes over the entries that failed; -1 (the
    // default) follows "ErrorRetry". Only while no worker runs.
    void SetQueueCycleLimit(int cycles) { queueCycleLimit_ = cycles; }
    // The size of the file a queue run is transferring, for the progress display; -1 when
    // it is not known. The whole 64-bit size: progress past 4 GB stays right.
    std::int64_t ExpectedTransferSize() const { return expectedTransferSize_; }
    std::string CurrentRemoteDirectory() const override;
    std::string InitialRemoteDirectory() const;
    std::string LocalAddress() const override;
    bool IsPassive() const override { return passive_ != 0; }
    int LoginType() const { return loginType_; }
    int HostType() const { return hostType_; }
    // 0 ASCII, 1 binary, 2 automatic by extension.
    int TransferTypeSetting() const { return transferType_; }
    void SetTransferTypeSetting(int type) { transferType_ = type; }

    // ---- Worker thread: services of the control and data connections ----

    // Claims the busy flag unless it is taken. A copy of another session claims its other
    // site this way (any thread) and lets go with ReleaseHold; meanwhile this worker runs
    // only the copy's steps, and the commands issued to it wait in order.
    bool TryBeginCommand();
    // Ends a claim made with TryBeginCommand from another session and wakes this worker
    // for the commands that waited.
    void ReleaseHold();
    int WaitForEvent(CEvent* event, int seconds) override;
    int WaitForTransfer(CEvent* event, int seconds) override;
    // (Re)starts the inactivity limit of a transfer; 0: the "Timeout" setting.
    void ArmIdleTimer(int seconds) override;
    // Waits for one of `handles` for `seconds` (-1: no limit), dispatching this thread's
    // socket notifications meanwhile; the index of the handle or WAIT_TIMEOUT.
    int MessageWait(std::span<CWaitHandle* const> handles, int seconds);
    void Log(const std::string& text, int kind, bool newline = true,
             bool prefix = true) override;
    // A message box with the host as caption; the pressed button.
    int SessionMessageBox(const std::string& text, int style);
    void ReportActionFailed(const std::string& replyText) override;
    void ReportActionFailed(const std::string& text, bool modal);
    void OnServerClosed();
    void ReportLogin(const std::string& message) override;
    bool ActionFailedPromptEnabled() const override;
    int ChooseTransferType(const std::string& fileName) const;

    std::string Host() const override { return host_; }
    int Port() const override { return port_; }
    std::string UserName() const override { return user_; }
    std::string Password() const override { return password_; }
    void SetLoggedIn(bool loggedIn) override { loggedIn_ = loggedIn; }
    void SignalServerClosed() override { serverClosedEvent_.Set(); }

    bool PairFlag() const override { return pairFlag_; }
    void ClearPairFlag() override { pairFlag_ = false; }
    SessionLink* PartnerToInterrupt() override { return driver_; }
    void SignalStop() override { stopEvent_.Set(); }
    // Takes back a stop meant for a copy that has ended (this session's worker).
    void ClearStop() { stopEvent_.Reset(); }
    void ForceDataConnectionClosed(bool sending) override;

    // Site-to-site pairing, set up by the copy that drives `partner`.
    void SetPairFlag(bool on) { pairFlag_ = on; }
    void SetPartner(CFtpSession* partner) { partner_ = partner; }
    void SetDrivingSession(CFtpSession* driver) { driver_ = driver; }

    // Sets every entry back to queued (stopped ones only when asked; the entry being
    // transferred keeps its state) and logs it. Any thread: the log line arrives on it.
    void ResetQueue(bool includeStopped);
    // The remote directory has a listing in the directory cache of this session's host; a
    // relative path is taken from the current remote directory. Any thread.
    bool IsRemoteDirCached(const std::string& path) const;

    // The pause between two attempts ("RetryDelay"); FTP_TIMEOUT when it ran out.
    int WaitToRetry();
    // Tells the user what is retried, which retry of how many (-1: no limit) and when.
    void AnnounceRetry(const std::string& what, int retry, int retries);
    // Creates the control connection, connects and logs in, retrying by "ErrorRetry".
    int ConnectWithRetry();

    int FileRetrySetting() const { return Settings().FileRetry; }
    // One file operation with its retries ("FileRetry"). The download keeps the remote
    // file's name in localFolder; the upload stores the local file in remoteFolder; the
    // site-to-site copy puts the source file into targetFolder on the partner's server.
    int DownloadWithRetry(const std::string& localFolder, const std::string& remoteFile, int flags);
    int UploadWithRetry(const std::string& localFile, const std::string& remoteFolder, int flags);
    int DeleteWithRetry(const std::string& remotePath, int flags);
    int RemoveDirWithRetry(const std::string& remotePath, int flags);
    int SiteToSiteWithRetry(const std::string& source, const std::string& targetFolder,
                            CFtpSession& partner, int flags);
    // Has `partner`'s worker run `step` on its control connection and waits for it, this
    // worker's own stop and lost connection ending the wait (see SiteToSitePartner::Run).
    int RunOnPartner(CFtpSession& partner, std::function<int(CCtrlSocket&)> step,
                     bool evenIfAbandoned = false);

    // Transfer progress: the data connection counts bytes; a transfer restarts the meter.
    void AddTransferredBytes(std::uint64_t count) override { byteCounter_ += count; }
    void SetTransferredBytes(std::uint64_t count) override;
    std::uint64_t TransferredBytes() const { return byteCounter_; }
    void ResetTransferredBytes() { byteCounter_ = 0; }
    void RestartTransferRate() { rateMeter_.Restart(); }
    void SetTransferring(bool on) override { transferring_ = on; }
    // Queue items completed in the current queue run.
    void CountProcessedFile() override {
        ++filesProcessed_;
        reconnectsWithoutProgress_ = 0;
    }
    void ResetFilesProcessed() { filesProcessed_ = 0; filesSkipped_ = 0; }
    // Files the overwrite rules skipped in the current queue run.
    int FilesSkipped() const { return filesSkipped_; }
    void ReportSkipped(const std::string& fileName, const std::string& reason) override;
    bool UploadToTemporaryName() const override { return Settings().UploadTemporaryName != 0; }
    bool CommandsTogetherAllowed() const override { return commandsTogether_; }
    void RefuseCommandsTogether() override { commandsTogether_ = false; }
    int ExactRemoteTimesSetting() const override { return Settings().ExactRemoteTimes; }
    void SetListingEnabled(bool on) { listingEnabled_ = on; }
    bool ListingEnabled() const override { return listingEnabled_; }

    // ---- Worker thread: what the operations and the data connection use ----
    void SetCurrentRemoteDirectory(const std::string& directory) override;
    CIncomingDataSocket* DataSocket() override { return data_.get(); }
    unsigned ListeningPort() override;
    // None without a cache home: list files are never written relative to the process.
    CDirectoryCache* DirectoryCache() override {
        return cache_.Settings().homeDirectory.empty() ? nullptr : &cache_;
    }
    void ClearListingText() override { listingText_.clear(); }
    // The text of the listing under way or last received (worker thread; the interface
    // gets each listing as a value through SessionUi::ListingComplete).
    std::string_view ListingText() const override { return listingText_; }
    void ReplaceListingText(std::string text) override { listingText_ = std::move(text); }
    void AppendListingText(const char* text, std::size_t length) override;
    void ListingStarted() override;
    // Hands the listing text over as a value with the folder it lists.
    void ListingComplete() override;
    void SetCurrentFileName(const std::string& name) override;
    std::string CurrentFileName() const override;
    std::string ControlPeerAddress() const override;
    void LogTransfer(const std::string& text) override { Ui().AddTransferLogLine(text); }
    bool AlwaysRefreshSetting() const override { return Settings().AlwaysRefresh != 0; }
    ProxyOptions Proxy() const override;
    bool OverwritePromptEnabled() const override;
    int DefaultOverwriteActionSetting() const override { return Settings().DefaultOverwriteAction; }
    int TransferTypeFor(const std::string& fileName) const override { return ChooseTransferType(fileName); }
    int AskOverwrite(const COverwriteRequest& request, bool& applyToAll) override;
    // Encryption (SessionTls.cpp): the site's choice, and the certificates the user
    // trusted, kept in the data folder by host and port.
    int TlsModeSetting() const override { return tlsMode_; }
    std::string PinnedCertificate() const override;
    int AskCertificateTrust(const CTlsCertificate& certificate, const std::string& pinned) override;
    void RememberCertificate(const std::string& sha256) override;
    void BeginPairing(SessionLink& partner) override;
    void EndPairing(SessionLink& partner) override;
    void ShowCacheMessage(const std::string& text) override;

    // The control connection while one exists (worker thread only).
    CCtrlSocket* ControlConnection() { return ctrl_.get(); }

private:
    enum class Step { Offline, Connect, Online, Close };

    SessionUi& Ui() { return ui_ ? *ui_ : nullUi_; }
    // The settings of the running operation (worker thread).
    const CSettings& Settings() const { return *settings_; }
    // Takes the current settings table for the operation that starts now, and points the
    // directory cache at it (worker thread).
    void TakeSettingsSnapshot();
    void Run();
    Step WaitOffline(CSessionCommand& command, int& result);
    // Takes the oldest waiting command, or waits for one: FTP_OK, or what ended the wait.
    int NextCommand(CSessionCommand& command);
    int SetUpOnline();
    int RunOnlineLoop(CSessionCommand& command);
    // After the connection ended: where the worker goes next. `setUpFailed`: the server
    // dropped the connection during the online set-up.
    Step CloseSession(const CSessionCommand& command, int result, bool setUpFailed);
    void CloseConnections();
    int Interrupted();
    // The idle timer fired before the recorded deadline: sets it for the rest; false when
    // the deadline has passed (or there is none).
    bool RearmIdleTimerIfEarly();
    int ExecuteCommand(const CSessionCommand& command);
    // Keeps the last line of the control connection's current reply for LastReplyLine.
    void NoteLastReply();
    // A reconnect the session makes by itself (a queue run or keep-alive after a lost
    // connection) is bounded like the connection loop: false when the limit is reached.
    bool MayReconnectByItself(bool pauseFirst);

    // The data connection and the listening socket live on the worker thread.
    void CreateDataSockets();
    void DestroyDataSockets();
    void StartListening();

    // The transfer queue's run (worker thread).
    bool QueueIsEmpty() const;
    int RunQueue();
    int RunQueueCycles(std::vector<CFtpSession*>& partnersUsed, bool& partnerBusy);
    void FinishQueueRun(const std::vector<CFtpSession*>& partnersUsed);
    // Opens the other sites named by the queue that have no worker (owner's thread).
    void StartPartners();
    void RunAfterDownloadAction(const CQueueEntry& entry);
    // Runs an entry's walk with its files finishing in batches (see
    // CCtrlSocket::BatchTransfers).
    int WalkInBatches(CQueueEntry& entry, const std::function<int()>& walk);
    int ProcessDownloadEntry(CQueueEntry& entry, int flags);
    int WalkDownloadEntry(CQueueEntry& entry, int flags);
    int ProcessUploadEntry(CQueueEntry& entry);
    int WalkUploadEntry(CQueueEntry& entry);
    int ProcessDeleteEntry(CQueueEntry& entry);
    // Appends the items of remoteBase/relativeDirectory, from the cache unless
    // "AlwaysRefresh" is on, else listed live with retries.
    int ExpandRemoteDirectory(std::list<CQueueFile>& pending, const std::string& remoteBase,
                              const std::string& relativeDirectory, const std::string& pattern,
                              int includeSubdirectories);
    void ParseLiveListing(std::string_view text, RFILE_LIST& listing);
    // The local counterpart: messages go to the log or, for an unreadable folder, to a
    // message box.
    int ExpandLocal(std::list<CQueueFile>& pending, const std::string& localBase,
                    const std::string& relativeDirectory, const std::string& pattern,
                    int includeSubdirectories);

    CSharedSettings& sharedSettings_;
    // The table the running operation follows; worker thread only once the worker runs.
    std::shared_ptr<const CSettings> settings_;
    NullSessionUi nullUi_;
    SessionUi* ui_ = nullptr;

    // Connection identity.
    const std::string host_;
    const int port_;
    const std::string user_;
    const std::string password_;
    const int loginType_;
    const int hostType_;
    const int passive_;
    const int tlsMode_;  // a TlsMode

    CCommandMailbox mailbox_;
    CEvent stopEvent_;
    CEvent commandEvent_;
    CEvent serverClosedEvent_;
    CWaitableTimer idleTimer_;
    // When the running transfer times out; the timer may be due earlier (ArmIdleTimer).
    std::optional<CWaitHandle::Clock::time_point> idleDeadline_;  // worker thread only

    std::atomic<bool> busy_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> loggedIn_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> disconnectRequested_{false};
    std::atomic<bool> queueRunPending_{false};
    std::atomic<bool> reconnectIntoCurrentDirectory_{true};
    std::atomic<bool> listingEnabled_{true};
    std::atomic<int> transferType_{2};
    std::atomic<bool> transferring_{false};
    std::atomic<int> antiIdleSeconds_{0};
    std::atomic<int> filesProcessed_{0};
    std::atomic<int> filesSkipped_{0};
    std::atomic<std::int64_t> expectedTransferSize_{-1};
    std::atomic<bool> pairFlag_{false};
    std::atomic<bool> listOnLogin_{true};
    std::atomic<int> queueCycleLimit_{-1};
    // Reconnects in a row that the session made by itself without a file completing in
    // between (worker thread).
    std::atomic<int> reconnectsWithoutProgress_{0};

    mutable std::mutex textMutex_;  // guards the directory and address texts below
    std::string initialRemoteDirectory_;
    std::string currentRemoteDirectory_;
    std::string localAddress_;
    std::string lastReplyLine_;

    std::atomic<std::uint64_t> byteCounter_{0};
    CTransferRateMeter rateMeter_;

    CFtpSession* partner_ = nullptr;  // the session this one drives in a site-to-site copy
    // The session that drives this one; read by the interface thread's Stop, so atomic.
    std::atomic<CFtpSession*> driver_{nullptr};

    std::unique_ptr<CCtrlSocket> ctrl_;  // created and destroyed on the worker thread
    // Closed connections a partner's copy may still look at (worker thread).
    std::vector<std::unique_ptr<CCtrlSocket>> retiredCtrl_;
    std::unique_ptr<CIncomingDataSocket> data_;  // worker thread, for the worker's life
    std::unique_ptr<CLstnDataSocket> listener_;
    CDirectoryCache cache_;
    std::string listingText_;      // worker thread only
    // The running command is the keep-alive: its listing is no news for the pane.
    bool quietListing_ = false;    // worker thread only
    bool commandsTogether_ = true;  // worker thread only
    // The log already says that commands wait for a copy that holds this session (worker
    // thread only).
    bool waitNoticeGiven_ = false;
    std::string currentFileName_;  // guarded by textMutex_

    std::thread worker_;
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool workerEnded_ = false;

    std::function<void(CFtpSession&)> openRequestHandler_;
    std::function<int(CFtpSession&)> queueRunner_;
    CTransferQueue queue_;
    std::minstd_rand random_;
};
