// The operations that move data over a data connection: the listing, the download and
// the upload, with the overwrite decision and resume that the transfers share.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "ftp/CtrlSocket.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/PartialDownload.h"
#include "ftp/RemotePath.h"
#include "listing/DirectoryCache.h"
#include "listing/MlsdListing.h"
#include "listing/PathRules.h"
#include "platform/SocketErrors.h"

namespace {

struct LocalFileFacts {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
};

LocalFileFacts StatLocalFile(const std::string& path)
{
    LocalFileFacts facts;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        facts.exists = true;
        facts.size = static_cast<std::uint64_t>(info.st_size);
        facts.modified = static_cast<std::int64_t>(info.st_mtime);
    }
    return facts;
}

// The number of a "213 <size>" reply; false when there is none or it does not fit.
bool ParseSizeReply(const std::string& text, std::uint64_t& size)
{
    std::size_t at = 3;
    while (at < text.size() && text[at] == ' ')
        ++at;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        if (digits >= 19)
            return false;
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    if (digits == 0)
        return false;
    size = value;
    return true;
}

// The size in a transfer's opening reply, "150 Opening BINARY mode data connection for
// NAME (N bytes).": the last parenthesis of the first line, which must be a 1xx line.
bool ParseOpeningReplySize(const std::string& text, std::uint64_t& size)
{
    const std::string line = text.substr(0, text.find('\n'));
    if (line.size() < 4 || line[0] != '1')
        return false;
    const std::size_t open = line.rfind('(');
    if (open == std::string::npos)
        return false;
    std::size_t at = open + 1;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
        if (digits >= 19)
            return false;
        value = value * 10 + static_cast<std::uint64_t>(line[at] - '0');
    }
    if (digits == 0 || line.compare(at, 7, " bytes)") != 0)
        return false;
    size = value;
    return true;
}

// The time of an MDTM reply, "213 YYYYMMDDHHMMSS" with an optional fraction, in UTC;
// false for anything else (a reply in another form, words after the time, no calendar
// time).
bool ParseMdtmReply(const std::string& text, std::int64_t& time)
{
    if (text.compare(0, 4, "213 ") != 0)
        return false;
    std::string_view value(text);
    value.remove_prefix(4);
    value = value.substr(0, value.find_first_of("\r\n"));
    return ParseMlsdTime(value, time);
}

}  // namespace

bool CCtrlSocket::CompletedTransfer() const
{
    return replyCount == 2 && replyCodes[0][0] == '1' && replyCodes[1][0] == '2';
}

bool CCtrlSocket::TransferCommandCanGoAlong() const
{
    return session.IsPassive() && epsvAccepted && !epsvRefused && session.CommandsTogetherAllowed();
}

int CCtrlSocket::OpenDataConnection(const std::string& transferCommand, const std::vector<std::string>& leading)
{
    transferSentAlong = false;
    leadingReplies.clear();
    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
    data->UseTls(dataProtected ? &sslLayer : nullptr, session.Host());
    if (!session.IsPassive()) {
        const ProxyOptions proxy = session.Proxy();
        return proxy.Enabled() ? PortThroughProxy(*data, proxy) : PortForListen();
    }
    if (!data->CreateDataSocket()) {
        int error = WSAGetLastError();
        session.Log("Unable to create data socket.", LOG_ERROR);
        session.Log(GetSocketErrorText(error), LOG_ERROR);
        return FTP_CLOSED;
    }
    // The transfer command goes out with EPSV, saving a round trip per file, once this
    // connection has seen EPSV work and the server takes commands sent together.
    const bool together = !transferCommand.empty() && TransferCommandCanGoAlong();
    return together ? PassiveMode(transferCommand, leading) : PassiveMode({}, {});
}

int CCtrlSocket::PassiveMode(const std::string& sendAlong, const std::vector<std::string>& leading)
{
    if (!epsvRefused) {
        const int r = Epsv(sendAlong, leading);
        transferSentAlong = !sendAlong.empty();
        if (transferSentAlong && r != FTP_OK) {
            // The transfer command went out for nothing. After a refusal of EPSV its reply
            // (a refusal without a data connection) is taken before anything else happens;
            // after a stop or a time-out the next command waits for it.
            transferSentAlong = false;
            if (r != FTP_NOT_AVAILABLE && r != FTP_FAILED)
                return r;
            const int caught = CatchUpWithOwedReply();
            return caught != FTP_OK ? caught : FTP_FAILED;
        }
        if (r != FTP_NOT_AVAILABLE)
            return r;
        epsvRefused = true;
        session.Log("The server does not know EPSV; PASV from now on.", LOG_STATE);
    }
    if (ControlIsIpv6()) {
        session.Log("The server refused EPSV, and PASV cannot name an IPv6 address: no passive data "
                    "connection is possible on this connection.",
                    LOG_ERROR);
        return FTP_FAILED;
    }
    return Pasv();
}

int CCtrlSocket::ActiveMode(const std::string& address, int port)
{
    if (!eprtRefused) {
        const int r = Eprt(address, port);
        if (r != FTP_NOT_AVAILABLE)
            return r;
        eprtRefused = true;
        session.Log("The server does not know EPRT; PORT from now on.", LOG_STATE);
    }
    if (address.find(':') != std::string::npos) {
        session.Log("The server refused EPRT, and PORT cannot name an IPv6 address: no active data "
                    "connection is possible on this connection.",
                    LOG_ERROR);
        return FTP_FAILED;
    }
    return Port(address, port);
}

int CCtrlSocket::ConnectPassiveDataSocket()
{
    if (!session.IsPassive())
        return FTP_OK;
    CIncomingDataSocket* data = session.DataSocket();
    // The server may have answered already: a refusal of the transfer closed the data
    // socket, and the reply says the rest.
    if (data->GetSocketHandle() == INVALID_SOCKET && replyEvent.IsSignalled())
        return FTP_OK;
    if (!data->Connect(dataConnectHost.c_str(), static_cast<unsigned>(dataPort))) {
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            session.Log(GetSocketErrorText(error), LOG_ERROR);
            return FTP_FAILED;
        }
    }
    return FTP_OK;
}

int CCtrlSocket::PortThroughProxy(CIncomingDataSocket& data, const ProxyOptions& proxy)
{
    if (proxy.IsHttp()) {
        session.Log("Active mode is not possible through an HTTP proxy: it can't listen for the "
                    "server's data connection. Use passive mode.",
                    LOG_ERROR);
        return FTP_FAILED;
    }
    if (!data.CreateDataSocket()) {
        session.Log("Unable to create data socket.", LOG_ERROR);
        session.Log(GetSocketErrorText(WSAGetLastError()), LOG_ERROR);
        return FTP_CLOSED;
    }
    // The proxy accepts only the server we talk to, when it knows its address.
    sockaddr_in server{};
    socklen_t length = sizeof server;
    const uint32_t serverAddress =
        GetPeerName(reinterpret_cast<sockaddr*>(&server), &length) ? server.sin_addr.s_addr : 0;
    if (!data.ListenThroughProxy(serverAddress)) {
        session.Log(GetSocketErrorText(WSAGetLastError()), LOG_ERROR);
        return FTP_FAILED;
    }
    int r = session.WaitForEvent(&data.ProxyListenEvent(), 0);
    if (r != FTP_OK)
        return r;
    std::string address;
    unsigned port = 0;
    if (!data.ProxyListenAddress(address, port))
        return FTP_FAILED;  // the layer's report is already logged
    return Port(address, static_cast<int>(port));
}

int CCtrlSocket::PortForListen()
{
    unsigned port = session.ListeningPort();
    if (port == 0) {
        session.Log("No listening socket for the data connection.", LOG_ERROR);
        return FTP_FAILED;
    }
    return ActiveMode(session.LocalAddress(), static_cast<int>(port));
}

int CCtrlSocket::List(const std::string& directory, const std::string& arguments, int flags)
{
    session.ListingStarted();
    if (!directory.empty() && !SamePath(directory, session.CurrentRemoteDirectory())) {
        int r = Cwd(directory, OPFLAG_PWD_FIRST);
        if (r != FTP_OK)
            return r;
    } else if (flags & OPFLAG_PWD_FIRST) {
        int r = Pwd();
        if (r != FTP_OK)
            return r;
    }
    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;

    session.SetTransferredBytes(0);
    session.ClearListingText();
    const bool mlsd = UseMlsd(arguments);
    int r = OpenDataConnection();
    if (r == FTP_OK) {
        data->BeginReceive(/*listing=*/true);
        r = SendCommand(mlsd ? "mlsd" : arguments.empty() ? "list" : "list " + arguments, 0);
    }
    if (r == FTP_OK)
        r = ConnectPassiveDataSocket();
    if (r == FTP_OK)
        r = WaitForReply();
    if (r == FTP_OK) {
        if (IsReply550()) {
            r = FTP_NOT_AVAILABLE;
        } else if (CompletedTransfer()) {
            r = session.WaitForTransfer(&data->ReceiveDoneEvent(), 0);
            if (r == FTP_OK && data->TransferError() != 0)
                r = FTP_FAILED;
            if (r == FTP_OK) {
                if (mlsd)
                    ConvertMlsdListing();
                session.Log("Listing Complete", LOG_STATE);
                if (CDirectoryCache* cache = session.DirectoryCache())
                    cache->UpdateDirectoryCache(session.CacheSite(), session.CurrentRemoteDirectory(),
                                                session.ListingText());
                if (session.ListingEnabled())
                    session.ListingComplete();
                return FTP_OK;
            }
            session.Log("Failed to receive file list.", LOG_ERROR);
            if (r == FTP_INTERRUPTED) {
                data->ForceClose(/*sending=*/false);
                Abort();
            }
        } else if (mlsd && ReplyCode(0).compare(0, 2, "50") == 0) {
            // The server offered MLSD but does not take it after all: LIST from now on.
            data->ForceClose(/*sending=*/false);
            mlsdRefused = true;
            session.Log("The server refused MLSD; listing with LIST.", LOG_STATE);
            return List(directory, arguments, flags & ~OPFLAG_PWD_FIRST);
        } else {
            r = FTP_FAILED;
        }
    }
    data->ForceClose(/*sending=*/false);
    return r;
}

bool CCtrlSocket::UseMlsd(const std::string& arguments) const
{
    // LIST arguments ("-a") have no MLSD counterpart: such a listing stays a LIST.
    return features.mlst && !mlsdRefused && arguments.empty();
}

void CCtrlSocket::ConvertMlsdListing()
{
    constexpr int kShownSkips = 10;
    int skipped = 0;
    std::string converted = MlsdTextToListing(session.ListingText(), [&](const std::string& why) {
        if (++skipped <= kShownSkips)
            session.Log("Listing line skipped: " + why + ".", LOG_WARNING);
    });
    if (skipped > kShownSkips)
        session.Log(std::to_string(skipped - kShownSkips) + " more listing lines skipped.", LOG_WARNING);
    session.ReplaceListingText(std::move(converted));
}

int CCtrlSocket::DecideOverwrite(int direction, const CFilePairFacts& facts,
                                 const std::string& source, const std::string& target)
{
    int cls = OverwriteClass(direction, facts);
    int autoAction = AutoOverwriteAction(direction, facts);
    int remembered = overwriteDecisions[cls];
    if (remembered == OVERWRITE_AUTO)
        return autoAction;
    if (remembered != OVERWRITE_UNDECIDED)
        return remembered;

    int proposed = ChooseOverwriteAction(session.DefaultOverwriteActionSetting(), direction, facts);
    bool canResume = session.CanResume();
    if (!canResume) {
        if (proposed == OVERWRITE_RESUME)
            proposed = OVERWRITE_OVERWRITE;
        if (autoAction == OVERWRITE_RESUME)
            autoAction = OVERWRITE_OVERWRITE;
    }
    int action = proposed;
    if (session.OverwritePromptEnabled()) {
        // The answer may take a while: a rename held back does not wait for it.
        if (owedRename)
            SendOwedRename();
        COverwriteRequest request;
        request.sourceFile = source;
        request.targetFile = target;
        request.autoAction = autoAction;
        request.suggestedAction = proposed == OVERWRITE_AUTO ? autoAction : proposed;
        request.canResume = canResume;
        bool applyToAll = false;
        action = session.AskOverwrite(request, applyToAll);
        if (action < OVERWRITE_SKIP || action > OVERWRITE_AUTO)
            action = OVERWRITE_SKIP;
        if (applyToAll)
            overwriteDecisions.fill(action);
    }
    return action == OVERWRITE_AUTO ? autoAction : action;
}

int CCtrlSocket::BeginTransfer(const std::string& remotePath, const std::string& fileName, int flags)
{
    if ((flags & OPFLAG_CHANGE_TO_FILE_DIR) || session.AlwaysRefreshSetting()) {
        int r = Cwd(RemoteDirectoryOf(remotePath), OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
    }
    session.SetCurrentFileName(fileName);
    session.SetTransferredBytes(0);
    return FTP_OK;
}

std::string CCtrlSocket::FullRemotePath(const std::string& remotePath) const
{
    if (!remotePath.empty() && remotePath.front() != '/')
        return JoinPath(session.CurrentRemoteDirectory(), remotePath);
    return remotePath;
}

int CCtrlSocket::TransferAction(const CTransferPair& pair)
{
    if (!pair.targetExists)
        return OVERWRITE_OVERWRITE;  // nothing to compare: the file is sent whole
    int action;
    if (!pair.sourceKnown) {
        // Without the source's entry there is nothing to compare: a size and time of zero
        // would make every target look newer and skip it.
        const int setting = session.DefaultOverwriteActionSetting();
        action = setting == OVERWRITE_AUTO ? OVERWRITE_OVERWRITE : setting;
    } else {
        action = DecideOverwrite(pair.direction, pair.facts, pair.source, pair.target);
    }
    if (action == OVERWRITE_SKIP) {
        std::string reason = pair.sourceKnown ? SkipReason(pair.direction, pair.facts) : std::string();
        session.ReportSkipped(pair.fileName, reason.empty() ? "Skip was chosen" : reason);
        return OVERWRITE_SKIP;
    }
    const bool download = pair.direction == DIRECTION_DOWNLOAD;
    const std::uint64_t sourceSize = download ? pair.facts.remoteSize : pair.facts.localSize;
    const std::uint64_t targetSize = download ? pair.facts.localSize : pair.facts.remoteSize;
    if (action == OVERWRITE_RESUME && pair.sourceKnown && targetSize >= sourceSize) {
        // Nothing is left to send; a longer target is not this file, so it is sent anew.
        if (targetSize == sourceSize) {
            session.ReportSkipped(pair.fileName, "already complete");
            return OVERWRITE_SKIP;
        }
        action = OVERWRITE_OVERWRITE;
    }
    return action;
}

int CCtrlSocket::SendQuietly(const std::string& command)
{
    quietRefusals = true;
    const int r = SendCommand(command, 1);
    quietRefusals = false;
    return r;
}

int CCtrlSocket::RemoteSize(const std::string& remotePath, std::uint64_t& size, bool& known)
{
    // In ASCII mode a server's SIZE is not what the transfer moves (and some refuse it).
    known = false;
    if (sizeUnsupported || transferType != 1)
        return FTP_OK;
    int r = SendQuietly("size " + RemoteName(remotePath));
    if (r != FTP_OK)
        return r;
    const std::string code = ReplyCode(0);
    if (code == "213")
        known = ParseSizeReply(replyText, size);
    else if (code == "500" || code == "502" || code == "202")
        sizeUnsupported = true;
    return FTP_OK;
}

int CCtrlSocket::RemoteModificationTime(const std::string& remotePath, std::int64_t& time, bool& known)
{
    known = false;
    if (!features.mdtm || mdtmUnsupported)
        return FTP_OK;
    const int r = SendQuietly("mdtm " + RemoteName(remotePath));
    if (r != FTP_OK)
        return r;
    TakeMdtmReply(remotePath, ReplyCode(0), replyText, time, known);
    return FTP_OK;
}

void CCtrlSocket::TakeMdtmReply(const std::string& remotePath, const std::string& code, const std::string& text,
                                std::int64_t& time, bool& known)
{
    if (code == "213") {
        known = ParseMdtmReply(text, time);
        if (!known)
            session.Log("The server's modification time of " + FileNamePart(remotePath) +
                            " cannot be read; the listing's is kept.",
                        LOG_WARNING);
    } else if (code == "500" || code == "502") {
        mdtmUnsupported = true;
    }
}

int CCtrlSocket::TransferReplyResult(const std::string& failedLine)
{
    if (replyCount == 1 && replyCodes[0].compare(0, 2, "55") == 0)
        return FTP_NOT_AVAILABLE;
    if (!CompletedTransfer()) {
        // The server ended the transfer itself (425, 426, ...): it is incomplete.
        session.Log(failedLine, LOG_ERROR);
        return FTP_FAILED;
    }
    return FTP_OK;
}

int CCtrlSocket::Download(const std::string& localPath, const std::string& remotePath, int flags)
{
    const std::string fileName = FileNamePart(remotePath);
    int r = BeginTransfer(remotePath, fileName, flags);
    if (r != FTP_OK)
        return r;
    const std::string failedLine = "Failed to receive " + fileName + ".";
    auto owned = std::make_unique<CPartialDownload>();
    CPartialDownload& part = *owned;
    std::string why;
    if (!part.Inspect(localPath, why)) {
        session.Log("Refusing to download " + fileName + ": " + why + ".", LOG_ERROR);
        return FTP_NOT_AVAILABLE;
    }
    if (!part.TargetExists() && (flags & OPFLAG_ONLY_IF_EXISTS))
        return FTP_OK;

    // The remote entry's size and time come from the cached listing of its directory;
    // list the directory when the cache does not know the file yet.
    const std::string fullRemote = FullRemotePath(remotePath);
    RFILE_DATA remote;
    bool remoteKnown = false;
    if (CDirectoryCache* cache = session.DirectoryCache()) {
        remoteKnown = downloadEntries.Find(*cache, session.CacheSite(), fullRemote, remote);
        if (!remoteKnown) {
            std::string directory = RemoteDirectoryOf(fullRemote);
            r = SamePath(directory, session.CurrentRemoteDirectory()) ? RefreshListing()
                                                                      : Cwd(directory, OPFLAG_REFRESH);
            if (r == FTP_INTERRUPTED || r == FTP_CLOSED)
                return r;
            remoteKnown = downloadEntries.Find(*cache, session.CacheSite(), fullRemote, remote);
        }
    }

    // The remote file's time: the listing's, or the server's exact one when downloads are to
    // keep it and the listing has only minutes (or days). An existing target is compared
    // with the exact time: a listing's clock may be another zone's, and the target's time
    // came from MDTM or MLSD. For a new file it is asked right before the data connection.
    std::int64_t remoteTime = remoteKnown ? remote.tmModified : 0;
    const int exactTimes = session.ExactRemoteTimesSetting();
    bool askExactTime = (exactTimes == 2 || (exactTimes == 1 && (flags & OPFLAG_FOLDER_COPY) != 0)) &&
                        !(remoteKnown && remote.bExactTime);
    const auto takeExactTime = [&]() -> int {
        askExactTime = false;
        std::int64_t exact = 0;
        bool exactKnown = false;
        const int result = RemoteModificationTime(remotePath, exact, exactKnown);
        if (result == FTP_OK && exactKnown)
            remoteTime = exact;
        return result;
    };
    if (askExactTime && part.TargetExists()) {
        r = takeExactTime();
        if (r != FTP_OK)
            return r;
    }

    CTransferPair pair{DIRECTION_DOWNLOAD, remotePath, localPath, fileName, part.TargetExists(), remoteKnown,
                       {part.TargetSize(), part.TargetTime(), remote.FileSize(), remoteTime}};
    const int action = TransferAction(pair);
    if (action == OVERWRITE_SKIP)
        return FTP_OK;

    r = SetType(session.TransferTypeFor(fileName));
    if (r != FTP_OK)
        return r;
    const bool binary = transferType == 1;
    // The size the file must have: the server's word when RETR is accepted ("150 ... (N
    // bytes)"), else the listing's, else SIZE. A listed link shows its own length, not the
    // file's, so SIZE asks for that one. Asking SIZE for every file cost a round trip each.
    const bool listedSize = remoteKnown && remote.strAttribute.compare(0, 1, "l") != 0;
    std::int64_t sourceSize = listedSize ? static_cast<std::int64_t>(remote.FileSize()) : -1;
    std::uint64_t stated = 0;
    bool sizeStated = false;
    if (!listedSize) {
        r = RemoteSize(remotePath, stated, sizeStated);
        if (r != FTP_OK)
            return r;
        if (sizeStated)
            sourceSize = static_cast<std::int64_t>(stated);
    }

    CPartialDownload::Mode mode = CPartialDownload::Mode::Fresh;
    if (action == OVERWRITE_RESUME && part.TargetExists())
        mode = CPartialDownload::Mode::ResumeTarget;
    else if (part.PartialSize() > 0 && session.CanResume() && sourceSize >= 0 &&
             part.PartialSize() <= static_cast<std::uint64_t>(sourceSize))
        mode = CPartialDownload::Mode::ResumePartial;  // what an interrupted attempt left
                                                       // (a whole one only wants its name)

    // A new file's exact time is asked in the same write as EPSV and RETR when it can be.
    bool timeAlong = askExactTime && features.mdtm && !mdtmUnsupported &&
                     mode == CPartialDownload::Mode::Fresh && TransferCommandCanGoAlong();
    if (askExactTime && !timeAlong) {
        r = takeExactTime();
        if (r != FTP_OK)
            return r;
    }

    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
    // The file is opened before RETR: when it cannot be, nothing is fetched.
    const int fd = part.Open(mode, why);
    if (fd < 0) {
        session.Log("Unable to open local file: " + why + ".", LOG_ERROR);
        return FTP_FAILED;
    }
    if (!data->AdoptFile(fd, part.PartialPath(), /*forWriting=*/true)) {
        part.Abandon();
        return FTP_FAILED;
    }
    const std::string retrieve = "retr " + RemoteName(remotePath);
    timeAlong = timeAlong && part.ResumeOffset() == 0;
    std::vector<std::string> leading;
    if (timeAlong)
        leading.push_back("mdtm " + RemoteName(remotePath));
    r = OpenDataConnection(part.ResumeOffset() == 0 ? retrieve : std::string(), leading);
    if (r == FTP_OK && timeAlong && !leadingReplies.empty()) {
        askExactTime = false;
        std::int64_t exact = 0;
        bool exactKnown = false;
        TakeMdtmReply(remotePath, leadingReplies[0].code, leadingReplies[0].text, exact, exactKnown);
        if (exactKnown)
            remoteTime = exact;
    }
    if (r == FTP_OK && askExactTime)
        r = takeExactTime();  // not sent along after all: asked before RETR
    if (r == FTP_OK && part.ResumeOffset() > 0) {
        bool canResume = false;
        r = Rest(part.ResumeOffset(), canResume);
        if (r == FTP_OK && canResume) {
            session.SetTransferredBytes(part.ResumeOffset());
        } else if (r == FTP_OK && !part.Restart(why)) {
            session.Log("Unable to open local file: " + why + ".", LOG_ERROR);
            r = FTP_FAILED;
        }
    }
    if (r != FTP_OK) {
        data->ForceClose(false);
        part.Abandon();
        return r;
    }
    data->BeginReceive(/*listing=*/false, /*text=*/!binary);
    if (TransferCommandSentAlong())
        AdvanceToNextReply();
    else
        r = SendCommand(retrieve, 0);
    if (r == FTP_OK)
        r = ConnectPassiveDataSocket();
    if (r == FTP_OK) {
        session.SetTransferring(true);
        r = session.WaitForTransfer(&data->ReceiveDoneEvent(), 0);
        session.SetTransferring(false);
        NoteSilentCommandAhead(r);
        if (r == FTP_OK && data->TransferError() != 0)
            r = FTP_FAILED;
    }
    if (r != FTP_OK) {
        session.Log(failedLine, LOG_ERROR);
        data->ForceClose(false);
        if (r == FTP_INTERRUPTED || r == FTP_TIMEOUT)
            Abort();
    }
    data->CloseFile();
    if (r == FTP_OK && data->TransferError() != 0)
        r = FTP_FAILED;  // the last bytes could not be written
    if (r == FTP_OK)
        r = WaitForReply();
    if (r == FTP_OK)
        r = TransferReplyResult(failedLine);
    // Servers that say the size when they open a whole file say it at the moment it is
    // sent, which beats a listing taken earlier. (After REST some say what is left.)
    if (r == FTP_OK && binary && part.ResumeOffset() == 0 && ParseOpeningReplySize(replyText, stated)) {
        sizeStated = true;
        sourceSize = static_cast<std::int64_t>(stated);
    }
    // A byte count that differs from the source's size is no complete file, whatever the
    // server said (a data connection closed early with "226", or padded). In ASCII mode
    // the line ends change the count.
    if (r == FTP_OK && !part.Verify(binary ? sourceSize : -1, remoteTime, why)) {
        session.Log("Failed to receive " + fileName + ": " + why + ".", LOG_ERROR);
        // A listing that no longer tells the truth is read again by the next attempt.
        if (!sizeStated)
            InvalidateCachedDir(RemoteDirectoryOf(fullRemote));
        r = FTP_FAILED;
    }
    if (r != FTP_OK) {
        part.Abandon();
        return r;
    }
    // Received and checked; the file takes its name with the batch it belongs to.
    session.Log("File " + fileName + " received successfully.", LOG_STATE);
    const std::uint64_t size = part.CurrentSize();
    completedDownloads.Add({std::move(owned), fileName, localPath, size});
    return batchDownloads ? ReportCompletedDownloads(/*finish=*/false) : CommitDownloads();
}

int CCtrlSocket::CommitDownloads()
{
    return ReportCompletedDownloads(/*finish=*/true);
}

int CCtrlSocket::ReportCompletedDownloads(bool finish)
{
    int result = FTP_OK;
    const auto report = [&](const CCompletedDownloads::Download& download, bool ok, const std::string& why) {
        if (!ok) {
            session.Log("Failed to receive " + download.fileName + ": " + why + ".", LOG_ERROR);
            result = FTP_FAILED;
            return;
        }
        session.CountProcessedFile();
        session.LogTransfer("Download:" + download.localPath);
    };
    if (finish)
        completedDownloads.Finish(report);
    else
        completedDownloads.Collect(report);
    return result;
}

int CCtrlSocket::Upload(const std::string& localPath, const std::string& remotePath, int flags)
{
    const std::string fileName = FileNamePart(localPath);
    int r = BeginTransfer(remotePath, fileName, flags);
    if (r != FTP_OK)
        return r;

    const std::string fullRemote = FullRemotePath(remotePath);
    RFILE_DATA remote;
    bool remoteExists = false;
    if (CDirectoryCache* cache = session.DirectoryCache())
        remoteExists = cache->LookupCachedEntry(session.CacheSite(), fullRemote, remote) == 0;
    if (!remoteExists && (flags & OPFLAG_ONLY_IF_EXISTS))
        return FTP_OK;

    LocalFileFacts local = StatLocalFile(localPath);
    CTransferPair pair{DIRECTION_UPLOAD, localPath, remotePath, fileName, remoteExists, /*sourceKnown=*/true,
                       {local.size, local.modified, remote.FileSize(), remote.tmModified}};
    const int action = TransferAction(pair);
    if (action == OVERWRITE_SKIP)
        return FTP_OK;

    r = SetType(session.TransferTypeFor(fileName));
    if (r != FTP_OK)
        return r;
    // Under a temporary name beside the target, renamed once complete: other readers of
    // the server never see half a file, and a later run finds what an interrupted one
    // left. A Resume the user chose goes on with the target itself.
    const bool viaTemporary =
        session.UploadToTemporaryName() && !temporaryRenameRefused && action != OVERWRITE_RESUME;
    r = Store(localPath, remotePath, fullRemote, action == OVERWRITE_RESUME ? remote.FileSize() : 0,
              viaTemporary, flags);
    if (r != FTP_OK || !viaTemporary)
        return r == FTP_OK ? FinishUpload(remotePath, flags) : r;

    const std::string temporary = remotePath + kPartialSuffix;
    if (batchUploads && renameWorked && !heldBackRenameFailed && !(flags & OPFLAG_REFRESH) &&
        TransferCommandCanGoAlong()) {
        // Goes out with the next file's EPSV and STOR; the file counts once it is answered.
        owedRename = OwedRename{RemoteName(temporary), RemoteName(remotePath), remotePath, flags};
        return FTP_OK;
    }
    r = RenameUpload(RemoteName(temporary), RemoteName(remotePath));
    if (r == FTP_OK) {
        renameWorked = true;
        return FinishUpload(remotePath, flags);
    }
    if (r != FTP_FAILED && r != FTP_NOT_AVAILABLE)
        return r;  // interrupted, timed out or the connection is gone
    session.Log("The server refused to rename " + FileNamePart(temporary) + " to " + FileNamePart(remotePath) +
                    "; uploads on this connection now write their final names directly.",
                LOG_WARNING);
    temporaryRenameRefused = true;
    r = SendQuietly("dele " + RemoteName(temporary));
    if (r != FTP_OK)
        return r;
    r = Store(localPath, remotePath, fullRemote, 0, /*viaTemporary=*/false, flags);
    return r == FTP_OK ? FinishUpload(remotePath, flags) : r;
}

int CCtrlSocket::RenameUpload(const std::string& from, const std::string& to)
{
    quietRefusals = true;
    if (!session.CommandsTogetherAllowed()) {
        const int r = Rename(from, to, 0);
        quietRefusals = false;
        return r;
    }
    // RNFR and RNTO in one write: every upload's rename costs one round trip, not two.
    // A server that refuses RNFR answers RNTO with 503; the pair fails as a whole.
    int r = SendCommandsTogether("rnfr " + from, "rnto " + to);
    const std::string fromReply = ReplyCode(0);
    if (r == FTP_OK) {
        AdvanceToNextReply();
        r = WaitForReply();
    }
    quietRefusals = false;
    if (r != FTP_OK)
        return r;
    if (fromReply != "350")
        return fromReply.compare(0, 2, "55") == 0 ? FTP_NOT_AVAILABLE : FTP_FAILED;
    return ReplyCode(0) == "250" ? FTP_OK : RefusedOrFailed();
}

int CCtrlSocket::SendOwedRename()
{
    const OwedRename rename = std::move(*owedRename);
    owedRename.reset();
    const int r = RenameUpload(rename.from, rename.to);
    const bool refused = r == FTP_NOT_AVAILABLE || r == FTP_FAILED;
    SettleRename(rename, r == FTP_OK, refused);
    return refused ? FTP_OK : r;
}

void CCtrlSocket::SettleRename(const OwedRename& rename, bool renamed, bool refused)
{
    if (renamed) {
        FinishUpload(rename.remotePath, rename.flags);
        return;
    }
    session.Log((refused ? "The server refused to rename " : "No reply came to the rename of ") + rename.from +
                    " to " + rename.to + "; the upload of " + FileNamePart(rename.remotePath) + " is not done.",
                LOG_ERROR);
    owedRenameFailed = true;
    // From now on each upload renames on its own, and falls back to the final name when
    // refused: the file walked again must not meet the same refusal with no way out.
    heldBackRenameFailed = true;
}

int CCtrlSocket::CommitTransfers()
{
    const int downloads = CommitDownloads();
    const int uploads = CommitUploads();
    return downloads == FTP_OK && uploads == FTP_OK ? FTP_OK : FTP_FAILED;
}

int CCtrlSocket::CommitUploads()
{
    const int r = owedRename ? SendOwedRename() : FTP_OK;
    const bool failed = owedRenameFailed || r != FTP_OK;
    owedRenameFailed = false;
    return failed ? FTP_FAILED : FTP_OK;
}

int CCtrlSocket::FinishUpload(const std::string& remotePath, int flags)
{
    if (flags & OPFLAG_REFRESH)
        RefreshListing();
    session.CountProcessedFile();
    session.LogTransfer("Upload:" + remotePath);
    return FTP_OK;
}

int CCtrlSocket::Store(const std::string& localPath, const std::string& remotePath, const std::string& fullRemote,
                       std::uint64_t resumeAt, bool viaTemporary, int flags)
{
    const std::string storePath = viaTemporary ? remotePath + kPartialSuffix : remotePath;
    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
    // The file is opened before anything is sent: when it cannot be, nothing is stored.
    // Its size is taken from the open file, the one that is sent.
    const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        session.Log("Unable to open local file " + localPath + ": " + std::strerror(errno) + ".", LOG_ERROR);
        if (fd >= 0)
            ::close(fd);
        return FTP_FAILED;
    }
    if (!data->AdoptFile(fd, localPath, /*forWriting=*/false))
        return FTP_FAILED;
    const std::uint64_t localSize = static_cast<std::uint64_t>(info.st_size);
    const bool binary = transferType == 1;

    // What an interrupted upload left under the temporary name is continued when it can be.
    std::uint64_t offset = resumeAt;
    int r = FTP_OK;
    if (viaTemporary && session.CanResume() && createdFolders.count(RemoteDirectoryOf(fullRemote)) == 0) {
        std::uint64_t stored = 0;
        bool known = false;
        r = RemoteSize(storePath, stored, known);
        if (r == FTP_OK && known && stored > 0 && stored < localSize)
            offset = stored;
    }
    // The folder's listing no longer tells the truth once STOR is on its way.
    if (r == FTP_OK)
        InvalidateCachedDir(RemoteDirectoryOf(fullRemote));
    const std::string store = "stor " + RemoteName(storePath);
    // The previous file's rename, held back, goes out in the same write.
    std::optional<OwedRename> carried;
    std::vector<std::string> leading;
    if (r == FTP_OK && offset == 0 && owedRename && TransferCommandCanGoAlong()) {
        carried = std::move(owedRename);
        owedRename.reset();
        leading = {"rnfr " + carried->from, "rnto " + carried->to};
    }
    if (r == FTP_OK)
        r = OpenDataConnection(offset == 0 ? store : std::string(), leading);
    if (carried) {
        const bool renamed =
            leadingReplies.size() == 2 && leadingReplies[0].code == "350" && leadingReplies[1].code == "250";
        SettleRename(*carried, renamed, /*refused=*/leadingReplies.size() == 2);
    }
    if (r == FTP_OK && offset > 0) {
        bool canResume = false;
        r = Rest(offset, canResume);
        if (r == FTP_OK && !canResume)
            offset = 0;
        if (r == FTP_OK && offset > 0) {
            if (!data->SeekFile(static_cast<std::int64_t>(offset)))
                r = FTP_FAILED;
            else
                session.SetTransferredBytes(offset);
        }
    }
    if (r != FTP_OK) {
        data->ForceClose(/*sending=*/true);
        data->CloseFile();
        return r;
    }
    data->BeginSend();
    if (TransferCommandSentAlong())
        AdvanceToNextReply();
    else
        r = SendCommand(store, 0);
    if (r == FTP_OK)
        r = ConnectPassiveDataSocket();
    if (r != FTP_OK) {
        data->ForceClose(/*sending=*/true);
        data->CloseFile();
        return r;
    }
    if (!session.IsPassive() && !data->SendDoneEvent().IsSignalled()) {
        // Some servers open the active data connection as soon as PORT is accepted,
        // before STOR: that connection is already there and waits for the file.
        std::string peer;
        unsigned peerPort = 0;
        if (data->GetSocketHandle() != INVALID_SOCKET && data->GetPeerName(peer, peerPort))
            data->SendFile();
    }

    // The data socket sends the file itself once connected. The wait ends when it is
    // done, on a stop, a server close or the idle limit; a final refusal of STOR forces
    // the data connection closed, which ends it too.
    session.SetTransferring(true);
    int waited = session.WaitForTransfer(&data->SendDoneEvent(), 0);
    session.SetTransferring(false);
    NoteSilentCommandAhead(waited);
    int sendResult = waited == FTP_OK ? data->SendResult() : waited;
    if (waited != FTP_OK) {
        data->ForceClose(/*sending=*/true);
        if (waited == FTP_INTERRUPTED || waited == FTP_TIMEOUT)
            Abort();
    }
    if (sendResult == FTP_CLOSED)
        return FTP_CLOSED;
    const std::string failedLine = "Failed to send file " + FileNamePart(localPath) + ".";
    if (sendResult != FTP_OK) {
        // The reply tells whether the server refused the file itself.
        WaitForReply();
        if (replyCount == 1 && replyCodes[0].compare(0, 2, "55") == 0)
            sendResult = FTP_NOT_AVAILABLE;
        if (flags & OPFLAG_REFRESH)
            RefreshListing();
        return sendResult;
    }
    r = WaitForReply();
    if (r == FTP_OK)
        r = TransferReplyResult(failedLine);
    if (r != FTP_OK || !binary)
        return r;
    // In binary mode the server must have read exactly the local file's bytes: all of them
    // left here, and the server closed the data connection only after reading the last
    // one (a server that stops early resets it, which fails the send above).
    const std::uint64_t sent = offset + data->BytesMoved();
    if (sent != localSize) {
        session.Log("Failed to send file " + FileNamePart(localPath) + ": " + std::to_string(sent) +
                        " bytes were sent of " + std::to_string(localSize) + " (the file changed meanwhile?).",
                    LOG_ERROR);
        return FTP_FAILED;
    }
    return r;
}
