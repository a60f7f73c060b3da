// The operations that move data over a data connection: the listing, the download and
// the upload, with the overwrite decision and resume that the transfers share.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utime.h>

#include "ftp/CtrlSocket.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/RemotePath.h"
#include "listing/DirectoryCache.h"
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

void SetLocalFileTime(const std::string& path, std::int64_t modified)
{
    struct utimbuf times {};
    times.actime = static_cast<time_t>(modified);
    times.modtime = static_cast<time_t>(modified);
    ::utime(path.c_str(), &times);
}

}  // namespace

bool CCtrlSocket::CompletedTransfer() const
{
    return replyCount == 2 && replyCodes[0][0] == '1' && replyCodes[1][0] == '2';
}

int CCtrlSocket::OpenDataConnection()
{
    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
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
    return Pasv();
}

int CCtrlSocket::ConnectPassiveDataSocket()
{
    if (!session.IsPassive())
        return FTP_OK;
    CIncomingDataSocket* data = session.DataSocket();
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
    return Port(session.LocalAddress(), static_cast<int>(port));
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
    int r = OpenDataConnection();
    if (r == FTP_OK) {
        data->BeginReceive(/*listing=*/true);
        r = SendCommand(arguments.empty() ? "list" : "list " + arguments, 0);
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
        } else {
            r = FTP_FAILED;
        }
    }
    data->ForceClose(/*sending=*/false);
    return r;
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

int CCtrlSocket::Download(const std::string& localPath, const std::string& remotePath, int flags)
{
    std::string remoteDirectory = RemoteDirectoryOf(remotePath);
    if ((flags & OPFLAG_CHANGE_TO_FILE_DIR) || session.AlwaysRefreshSetting()) {
        int r = Cwd(remoteDirectory, OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
    }
    std::string fileName = FileNamePart(remotePath);
    session.SetCurrentFileName(fileName);
    session.SetTransferredBytes(0);
    LocalFileFacts local = StatLocalFile(localPath);
    if (!local.exists && (flags & OPFLAG_ONLY_IF_EXISTS))
        return FTP_OK;

    // The remote entry's size and time come from the cached listing of its directory;
    // list the directory when the cache does not know the file yet.
    std::string fullRemote = remotePath;
    if (!fullRemote.empty() && fullRemote.front() != '/')
        fullRemote = JoinPath(session.CurrentRemoteDirectory(), remotePath);
    RFILE_DATA remote;
    bool remoteKnown = false;
    if (CDirectoryCache* cache = session.DirectoryCache()) {
        remoteKnown = downloadEntries.Find(*cache, session.CacheSite(), fullRemote, remote);
        if (!remoteKnown) {
            std::string directory = RemoteDirectoryOf(fullRemote);
            int r = SamePath(directory, session.CurrentRemoteDirectory())
                        ? RefreshListing()
                        : Cwd(directory, OPFLAG_REFRESH);
            if (r == FTP_INTERRUPTED || r == FTP_CLOSED)
                return r;
            remoteKnown = downloadEntries.Find(*cache, session.CacheSite(), fullRemote, remote);
        }
    }

    int action = OVERWRITE_OVERWRITE;
    if (!local.exists) {
        // Nothing to compare: the file is fetched whole.
    } else if (!remoteKnown) {
        // Without the remote entry there is nothing to compare: a size and time of zero
        // would make every local file look newer and skip it.
        action = session.DefaultOverwriteActionSetting() == OVERWRITE_AUTO
                     ? OVERWRITE_OVERWRITE
                     : session.DefaultOverwriteActionSetting();
    } else {
        CFilePairFacts facts{local.size, local.modified, remote.FileSize(), remote.tmModified};
        action = DecideOverwrite(DIRECTION_DOWNLOAD, facts, remotePath, localPath);
    }
    if (action == OVERWRITE_SKIP)
        return FTP_OK;
    if (action == OVERWRITE_RESUME && remoteKnown && local.size >= remote.FileSize()) {
        // Nothing is left to fetch; a longer local file is not this one, so fetch it anew.
        if (local.size == remote.FileSize()) {
            session.Log("File " + fileName + " is already complete.", LOG_STATE);
            return FTP_OK;
        }
        action = OVERWRITE_OVERWRITE;
    }

    int r = SetType(session.TransferTypeFor(fileName));
    if (r != FTP_OK)
        return r;
    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
    r = OpenDataConnection();
    if (r != FTP_OK) {
        data->ForceClose(false);
        return r;
    }
    const char* mode = "wb";
    if (action == OVERWRITE_RESUME) {
        bool canResume = false;
        r = Rest(local.size, canResume);
        if (r != FTP_OK) {
            data->ForceClose(false);
            return r;
        }
        if (canResume) {
            mode = "ab";
            session.SetTransferredBytes(local.size);
        }
    }
    // The file is opened before RETR: when it cannot be, nothing is fetched.
    if (!data->OpenFile(localPath, mode)) {
        data->ForceClose(false);
        return FTP_FAILED;
    }
    data->BeginReceive(/*listing=*/false, /*text=*/transferType == 0);
    r = SendCommand("retr " + RemoteName(remotePath), 0);
    if (r == FTP_OK)
        r = ConnectPassiveDataSocket();
    if (r == FTP_OK) {
        session.SetTransferring(true);
        r = session.WaitForTransfer(&data->ReceiveDoneEvent(), 0);
        session.SetTransferring(false);
        if (r == FTP_OK && data->TransferError() != 0)
            r = FTP_FAILED;
    }
    if (r != FTP_OK) {
        session.Log("Failed to receive " + fileName + ".", LOG_ERROR);
        data->ForceClose(false);
        if (r == FTP_INTERRUPTED || r == FTP_TIMEOUT)
            Abort();
    }
    data->CloseFile();
    if (remoteKnown && remote.tmModified != 0)
        SetLocalFileTime(localPath, remote.tmModified);
    if (r != FTP_OK)
        return r;
    r = WaitForReply();
    if (r != FTP_OK)
        return r;
    if (replyCount == 1 && replyCodes[0].compare(0, 2, "55") == 0)
        return FTP_NOT_AVAILABLE;
    if (!CompletedTransfer()) {
        // The server ended the transfer itself (425, 426, ...): the file is incomplete.
        session.Log("Failed to receive " + fileName + ".", LOG_ERROR);
        return FTP_FAILED;
    }
    session.Log("File " + fileName + " received successfully.", LOG_STATE);
    session.CountProcessedFile();
    session.LogTransfer("Download:" + localPath);
    return FTP_OK;
}

int CCtrlSocket::Upload(const std::string& localPath, const std::string& remotePath, int flags)
{
    std::string remoteDirectory = RemoteDirectoryOf(remotePath);
    if ((flags & OPFLAG_CHANGE_TO_FILE_DIR) || session.AlwaysRefreshSetting()) {
        int r = Cwd(remoteDirectory, OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
    }
    std::string fileName = FileNamePart(localPath);
    session.SetCurrentFileName(fileName);
    session.SetTransferredBytes(0);

    std::string fullRemote = remotePath;
    if (!fullRemote.empty() && fullRemote.front() != '/')
        fullRemote = JoinPath(session.CurrentRemoteDirectory(), remotePath);
    RFILE_DATA remote;
    bool remoteExists = false;
    if (CDirectoryCache* cache = session.DirectoryCache())
        remoteExists = cache->LookupCachedEntry(session.CacheSite(), fullRemote, remote) == 0;

    LocalFileFacts local = StatLocalFile(localPath);
    int action = OVERWRITE_OVERWRITE;
    if (!remoteExists) {
        if (flags & OPFLAG_ONLY_IF_EXISTS)
            return FTP_OK;
    } else {
        CFilePairFacts facts{local.size, local.modified, remote.FileSize(), remote.tmModified};
        action = DecideOverwrite(DIRECTION_UPLOAD, facts, localPath, remotePath);
    }
    if (action == OVERWRITE_SKIP)
        return FTP_OK;
    if (action == OVERWRITE_RESUME && remoteExists && remote.FileSize() >= local.size) {
        if (remote.FileSize() == local.size) {
            session.Log("File " + fileName + " is already complete.", LOG_STATE);
            return FTP_OK;
        }
        action = OVERWRITE_OVERWRITE;
    }

    CIncomingDataSocket* data = session.DataSocket();
    if (data == nullptr)
        return FTP_FAILED;
    // The file is opened before anything is sent: when it cannot be, nothing is stored.
    if (!data->OpenFile(localPath, "rb"))
        return FTP_FAILED;

    int r = SetType(session.TransferTypeFor(fileName));
    if (r == FTP_OK)
        r = OpenDataConnection();
    if (r == FTP_OK && action == OVERWRITE_RESUME) {
        bool canResume = false;
        r = Rest(remote.FileSize(), canResume);
        if (r == FTP_OK && canResume) {
            if (!data->SeekFile(static_cast<std::int64_t>(remote.FileSize())))
                r = FTP_FAILED;
            else
                session.SetTransferredBytes(remote.FileSize());
        }
    }
    if (r != FTP_OK) {
        data->ForceClose(/*sending=*/true);
        data->CloseFile();
        return r;
    }
    InvalidateCachedDir(RemoteDirectoryOf(fullRemote));
    data->BeginSend();
    r = SendCommand("stor " + RemoteName(remotePath), 0);
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
    int sendResult = waited == FTP_OK ? data->SendResult() : waited;
    if (waited != FTP_OK) {
        data->ForceClose(/*sending=*/true);
        if (waited == FTP_INTERRUPTED || waited == FTP_TIMEOUT)
            Abort();
    }
    if (sendResult == FTP_CLOSED)
        return FTP_CLOSED;
    if (sendResult == FTP_OK) {
        r = WaitForReply();
        if (r != FTP_OK)
            return r;
        if (replyCount == 1 && replyCodes[0].compare(0, 2, "55") == 0)
            return FTP_NOT_AVAILABLE;
        if (!CompletedTransfer())
            return FTP_FAILED;
        if (flags & OPFLAG_REFRESH)
            RefreshListing();
        session.CountProcessedFile();
        session.LogTransfer("Upload:" + remotePath);
        return FTP_OK;
    }
    // The reply tells whether the server refused the file itself.
    WaitForReply();
    if (replyCount == 1 && replyCodes[0].compare(0, 2, "55") == 0)
        sendResult = FTP_NOT_AVAILABLE;
    if (flags & OPFLAG_REFRESH)
        RefreshListing();
    return sendResult;
}
