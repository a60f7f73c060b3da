#pragma once
// CCtrlSocket: the FTP control connection of one site session. It carries one command
// at a time: writes the command line, collects the reply lines, decides when the reply
// is complete, keeps the reply codes for the operation that asked, and wakes the
// session's worker thread. Every line sent and every chunk received goes to the site log.
//
// Usage (on the session's worker thread, whose waits pump the socket's notifications):
//   CCtrlSocket ctrl(session);
//   if (ctrl.ConnectAndLogin() != FTP_OK) ...
//   if (ctrl.SendCommand("pwd", 1) == FTP_OK && ctrl.ReplyCode(0) == "257") ...
//
// Commands are passed in lower case ("type i"); the first four characters go out
// upper-cased ("TYPE i") and a password is masked in the log, never on the wire.

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "ftp/SiteToSitePartner.h"
#include "ftp/CachedEntryLookup.h"
#include "ftp/CompletedDownloads.h"
#include "ftp/FtpTypes.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/OverwriteChoice.h"
#include "ftp/ReplyParser.h"
#include "ftp/ServerFeatures.h"
#include "ftp/SessionLink.h"
#include "net/MySocket.h"
#include "platform/Event.h"

// The two sides of a transfer as the overwrite decision sees them. Source and target are
// the paths shown in the question; facts hold the local and remote sides.
struct CTransferPair {
    int direction = DIRECTION_DOWNLOAD;
    std::string source;
    std::string target;
    std::string fileName;  // named in skip reports
    bool targetExists = false;
    bool sourceKnown = false;  // a download without a listing entry knows nothing of it
    CFilePairFacts facts;
};

// How the password command appears in the log, whatever the password.
inline constexpr char kMaskedPasswordCommand[] = "PASS ********";

class CCtrlSocket : public CMySocket {
public:
    explicit CCtrlSocket(SessionLink& session);
    ~CCtrlSocket() override;

    // Sends one command line; with waitForReply non-zero, also waits until its reply is
    // complete. Returns an FtpResult. A command holding CR, LF or NUL is never sent.
    int SendCommand(const std::string& text, int waitForReply);
    // Sends two commands in one write (one round trip instead of two) and, like
    // SendCommand(first, 1), waits for the first one's reply. The second one's reply is
    // then taken up by AdvanceToNextReply() and awaited with WaitForReply(); until then
    // nothing of it takes effect. Only once the server has shown it takes them (see
    // CommandsTogetherAllowed).
    int SendCommandsTogether(const std::string& first, const std::string& second);
    // The reply to the next command sent together with the last one becomes the one
    // awaited (it may be complete at once).
    void AdvanceToNextReply();
    // Waits for the reply to a command sent without waiting.
    int WaitForReply();
    // Forgets the previous reply and marks a reply as awaited.
    void PrepareForReply();
    // True when the reply was exactly one "550".
    bool IsReply550() const;
    // Opens the connection to the session's host, reads the welcome and logs in.
    int ConnectAndLogin();

    // The reply to the current command, read by the thread that waited for it: once the
    // reply is signalled nothing changes it until the next command is sent.
    const std::string& ReplyText() const { return replyText; }
    int ReplyCount() const { return replyCount; }
    // The code of reply i (0 the first); empty when there is none.
    std::string ReplyCode(int i) const;
    // First word of the last command line sent, as sent ("login" while logging in).
    const std::string& CommandVerb() const { return commandVerb; }
    // The last ConnectAndLogin was refused for the connection's security (no TLS where it
    // is required, a certificate not trusted): trying again would not change that.
    bool RefusedForSecurity() const { return refusedForSecurity; }
    // Data connections go through TLS (PROT P was accepted).
    bool DataProtected() const { return dataProtected; }

    // ---- Operations: each sends its commands, checks the codes, returns an FtpResult ----

    int Cwd(const std::string& path, int flags);
    int Cdup(int flags);
    int Pwd();
    int List(const std::string& directory, const std::string& arguments, int flags);
    int Download(const std::string& localPath, const std::string& remotePath, int flags);
    int Upload(const std::string& localPath, const std::string& remotePath, int flags);
    int Delete(const std::string& path, int flags);
    int MakeDir(const std::string& path, int flags);
    int RemoveDir(const std::string& path, int flags);
    int Rename(const std::string& oldPath, const std::string& newPath, int flags);
    int Chmod(const std::string& path, const std::string& mode, int flags);
    int SetType(int type);
    int Pasv();
    // EPSV; the data connection goes to the control connection's peer, at the port the
    // reply names. FTP_NOT_AVAILABLE when the server does not know the command. With
    // sendAlong, that command goes out together with EPSV (see SendCommandsTogether).
    // Leading commands (only with sendAlong) go out first in the same write; their replies,
    // in order, are then in leadingReplies (fewer when the exchange broke off).
    int Epsv(const std::string& sendAlong = {}, const std::vector<std::string>& leading = {});
    int Port(const std::string& address, int port);
    // EPRT with an IPv4 or IPv6 address; FTP_NOT_AVAILABLE when the server does not know it.
    int Eprt(const std::string& address, int port);
    int PortForListen();
    // REST with a 64-bit offset; canResume tells whether the server accepted it.
    int Rest(std::uint64_t offset, bool& canResume);
    int Abort();
    int Quit();
    // Copies source on this connection's server to destination on the partner's server.
    // The partner's connection is driven on its own thread (SiteToSitePartner::Run).
    int SiteToSite(const std::string& source, const std::string& destination,
                   SiteToSitePartner& partner, int flags);
    // The receiving side of a copy, on its own thread. The reply to its transfer command
    // as it stands, read in one piece:
    enum class ReceiverReply { Awaited, CompletedTransfer, Refused550, Failed };
    ReceiverReply ReadReceiverReply();
    // Waits (with the time-out) for that reply: FTP_OK when it completed the transfer,
    // FTP_NOT_AVAILABLE for a 550, FTP_FAILED for another reply, else what ended the wait.
    int AwaitReceiverReply();

    // The transfers of a tree finish in batches; with batching off (the default) each one
    // finishes before it returns.
    // - Downloads take their final names in batches, so that their data reaches the disk
    //   with one flush per batch.
    // - Uploads rename their temporary names in the same write as the next file's EPSV and
    //   STOR, once a rename has worked on this connection: the rename costs no round trip
    //   of its own. Any other command sends a rename still owed first, on its own.
    // A file counts as done only once it has finished. CommitTransfers finishes what waits:
    // FTP_OK, or FTP_FAILED when a file since the last commit could not be finished
    // (logged), so that its tree is walked again.
    void BatchTransfers(bool on) { batchDownloads = batchUploads = on; }
    int CommitTransfers();

    // The file name alone when the path lies in the current remote directory, else the
    // whole path.
    std::string RemoteName(const std::string& path) const;
    // Drops the cached listing of a remote directory of this host.
    void InvalidateCachedDir(const std::string& directory);
    // The refresh listing: the current directory, no arguments, flags 0.
    int RefreshListing();

    // The server's data address from the last PASV reply (what a partner server is
    // told in a site-to-site copy).
    const std::string& DataHost() const { return dataHost; }
    // What the server offered in its FEAT reply after the last login.
    const ServerFeatures& Features() const { return features; }
    // The control connection runs over IPv6, where PASV and PORT cannot name an address.
    bool ControlIsIpv6();
    int DataPort() const { return dataPort; }
    // The representation type the server last accepted: -1 none yet, 0 ASCII, 1 image.
    int TransferType() const { return transferType; }
    // Remembered overwrite decisions, one per comparison class.
    const std::array<int, OVERWRITE_CLASS_COUNT>& OverwriteDecisions() const { return overwriteDecisions; }
    SessionLink& Session() { return session; }

protected:
    void OnClose(int error) override;
    void OnConnect(int error) override;
    void OnReceive(int error) override;
    void OnSend(int error) override;
    int OnLayerCallback(CSocketLayer* layer, int type, intptr_t param1, intptr_t param2) override;

    // Operations built from commands need the session too.
    SessionLink& session;

private:
    int Login();
    // After the login: FEAT, then UTF-8 names and the listing facts when offered. Only a
    // lost connection fails it; a server without FEAT is simply one without features.
    int NegotiateFeatures();
    // Passive mode: EPSV first, PASV when the server refuses it (not over IPv6).
    int PassiveMode(const std::string& sendAlong, const std::vector<std::string>& leading);
    // Active mode: EPRT first, PORT when the server refuses it (not over IPv6).
    int ActiveMode(const std::string& address, int port);
    // The directory listing with MLSD when the server offers it, LIST otherwise; the MLSD
    // text is turned into the exact long-listing form (listing/MlsdListing.h).
    bool UseMlsd(const std::string& arguments) const;
    void ConvertMlsdListing();
    // AUTH TLS on the plain connection, as the site's choice says; TLS is on afterwards
    // unless the server does not offer it and the site allows plain text.
    int NegotiateExplicitTls(int mode);
    // The handshake on the connected socket, then the certificate check.
    int StartTls();
    int CheckCertificate();
    // PBSZ 0 and PROT P after the login on an encrypted connection.
    int ProtectDataConnections(int mode);
    // Before a command: a reply still owed to an interrupted command is awaited (with the
    // time-out) and dropped; FTP_CLOSED, with the connection closed, when it never comes.
    int CatchUpWithOwedReply();
    // The result of a command whose reply was not the expected one: FTP_NOT_AVAILABLE for a
    // 55x refusal, else FTP_FAILED.
    int RefusedOrFailed() const;
    // The action for an existing target (OverwriteAction), asking the user when set to.
    int DecideOverwrite(int direction, const CFilePairFacts& facts, const std::string& source,
                        const std::string& target);
    bool CompletedTransfer() const;

    // ---- What downloads and uploads share ----
    // Into the remote file's folder when asked (or always), the file name for the
    // messages, progress from zero.
    int BeginTransfer(const std::string& remotePath, const std::string& fileName, int flags);
    std::string FullRemotePath(const std::string& remotePath) const;
    // The overwrite decision for the pair; a skip is reported with its reason and comes
    // back as OVERWRITE_SKIP, as does a resume with nothing left to send.
    int TransferAction(const CTransferPair& pair);
    // SIZE of a remote file in binary mode; `known` false when the server does not say.
    int RemoteSize(const std::string& remotePath, std::uint64_t& size, bool& known);
    // MDTM of a remote file when the server offered it: its modification time in seconds
    // since 1970 UTC; `known` false when the server does not say or says it unreadably.
    int RemoteModificationTime(const std::string& remotePath, std::int64_t& time, bool& known);
    void TakeMdtmReply(const std::string& remotePath, const std::string& code, const std::string& text,
                       std::int64_t& time, bool& known);
    // Reports the downloads whose batch was flushed meanwhile, or (finish) flushes and
    // reports all; FTP_FAILED when a file could not take its final name (logged).
    int ReportCompletedDownloads(bool finish);
    int CommitDownloads();
    int CommitUploads();
    // A command whose refusal is an answer (no such file), not a failure to show.
    int SendQuietly(const std::string& command);
    // The final reply of a transfer: FTP_OK completed, FTP_NOT_AVAILABLE refused (55x),
    // FTP_FAILED (logged as failedLine) otherwise.
    int TransferReplyResult(const std::string& failedLine);
    // One STOR of the local file, to the target or its temporary name, resumed at
    // resumeAt (or where an earlier attempt left the temporary file), sizes checked.
    int Store(const std::string& localPath, const std::string& remotePath, const std::string& fullRemote,
              std::uint64_t resumeAt, bool viaTemporary, int flags);
    int FinishUpload(const std::string& remotePath, int flags);
    // Renames a completed upload's temporary name to its final one, RNFR and RNTO in one
    // write. (A rename the user asks for keeps RNTO back until RNFR is accepted.)
    int RenameUpload(const std::string& from, const std::string& to);
    // The rename of an upload held back in a batch (see BatchTransfers).
    struct OwedRename {
        std::string from;  // as sent (RemoteName), valid while the directory stays
        std::string to;
        std::string remotePath;
        int flags = 0;
    };
    // Sends the owed rename on its own and settles it: FTP_OK, also when the server refused
    // it, or what ended the exchange (a stop, a time-out, the connection gone).
    int SendOwedRename();
    // The outcome of a held-back rename: the upload counts as done, or (refused by the
    // server, or not answered) the batch has failed.
    void SettleRename(const OwedRename& rename, bool renamed, bool refused);

    // Opens the data connection's passive or active side. transferCommand, when given,
    // may go out together with EPSV; TransferCommandSentAlong() then tells that it did,
    // and its reply is taken up with AdvanceToNextReply() once the transfer is set up.
    // Leading commands go out first in that write when the transfer command does.
    int OpenDataConnection(const std::string& transferCommand = {}, const std::vector<std::string>& leading = {});
    bool TransferCommandCanGoAlong() const;
    bool TransferCommandSentAlong() const { return transferSentAlong; }
    int ConnectPassiveDataSocket();
    // Active mode through a SOCKS proxy: the proxy listens (BIND) and PORT names it.
    int PortThroughProxy(CIncomingDataSocket& data, const ProxyOptions& proxy);
    void HandleReplyChunk(const std::string& chunk);
    // The members below marked "replyMutex held" expect the caller to hold it.
    void ForgetReply();         // replyMutex held
    // Logs a piece of a reply; `received` is what came of that reply before it.
    void LogReplyChunk(const std::string& chunk, const std::string& received);  // replyMutex held
    void ParseReceivedReply();  // replyMutex held
    bool HasRepliesAhead();
    // A wait's result: a time-out without a word in reply to a command sent together
    // with the one before it stops sending commands together.
    void NoteSilentCommandAhead(int result);
    int SendLines(const std::vector<std::string>& texts, int waitForReply);
    void EndRefusedTransfer();
    void FailReply();           // replyMutex held
    // The connection is gone: a reply still awaited fails.
    void FailAwaitedReply();
    void SignalReply();         // replyMutex held
    // A failed reply of a paired session ends the wait of the session driving the copy;
    // any final reply ends this session's part in the pairing.
    void ApplyPairRule();       // replyMutex held

    // Site-to-site: this connection drives the copy, `receiver` stores the file. The
    // receiver's replies are read on its own thread; pairing and unpairing are done under
    // its replyMutex so that each of its replies is judged against one pairing state.
    void PairWithReceiver(CCtrlSocket& receiver);
    void UnpairFromReceiver(CCtrlSocket& receiver);
    void OnActionFailed();
    // Our side closed the socket after a failure: the session must learn that the
    // connection is gone, as it does when the server closes it.
    void DropConnection();
    void LogCommand(const std::string& line);

    std::string commandVerb;
    // The line being written: the sending thread starts it, this socket's thread may
    // finish it after a would-block. sendMutex guards sendBuffer, sendLength and sentCount.
    std::mutex sendMutex;
    std::string sendBuffer;  // the command line being written, CR LF included
    int sendLength = 0;      // 0: nothing to write
    int sentCount = 0;
    CEvent sentEvent;        // auto-reset: the line was written or the attempt failed
    int lastError = 0;       // socket error of the last connect or send
    CEvent tlsEvent;         // auto-reset: the TLS handshake finished or failed
    bool refusedForSecurity = false;
    bool dataProtected = false;
    CEvent connectEvent;     // auto-reset: a connect attempt completed
    // The thread that owns the socket reads the replies; in a site-to-site copy the
    // driving session's thread sends commands on this connection and waits for them. The
    // mutex guards what both touch: the reply being collected (with commandVerb, which the
    // parser reads), and the moment a reply is signalled against the copy's pairing.
    std::mutex replyMutex;
    CEvent replyEvent;       // manual-reset; set while no reply is outstanding
    int replyStatus = 0;     // 0 complete, -1 failed
    std::string replyText;
    ReplyCodeTable replyCodes;
    int replyCount = 0;
    // Commands sent together with the one awaited, whose replies come after its own, and
    // what already arrived of them (replyMutex held for both).
    std::deque<std::string> verbsAhead;
    std::string textAhead;
    bool replyAheadAwaited = false;  // the awaited reply is to a command sent along

    std::string dataHost;
    int dataPort = 0;
    // Where our own data connection goes: the control connection's peer, whatever
    // address the PASV reply named.
    std::string dataConnectHost;
    int transferType = -1;
    ServerFeatures features;
    bool epsvRefused = false;   // the server does not know EPSV: PASV from now on
    bool eprtRefused = false;
    bool mlsdRefused = false;   // LIST from now on
    bool epsvAccepted = false;  // EPSV worked: a transfer command may go out with it
    bool transferSentAlong = false;
    struct LeadingReply {
        std::string code;
        std::string text;
    };
    std::vector<LeadingReply> leadingReplies;  // to the commands sent ahead of EPSV
    bool sizeUnsupported = false;         // the server knows no SIZE: not asked again
    bool mdtmUnsupported = false;         // the server knows no MDTM after all: not asked again
    bool temporaryRenameRefused = false;  // uploads go straight to their final names
    bool quietRefusals = false;           // a refusal of the command in flight is no failure
    bool batchDownloads = false;
    bool batchUploads = false;
    // Renames of a batch are held back once one answered on its own has worked on this
    // connection, and no longer once one held back has failed.
    bool renameWorked = false;
    bool heldBackRenameFailed = false;
    std::optional<OwedRename> owedRename;
    bool owedRenameFailed = false;   // since the last CommitTransfers
    CCompletedDownloads completedDownloads;
    // Folders this connection made: uploads into them look for no earlier partial file.
    static constexpr std::size_t kMaxCreatedFolders = 100000;
    std::unordered_set<std::string> createdFolders;
    std::array<int, OVERWRITE_CLASS_COUNT> overwriteDecisions;
    CCachedEntryLookup downloadEntries;  // the remote entries a download compares against
};
