// A copy between two servers: one server sends, the other receives, and the data flows
// between them directly.

#include <atomic>
#include <memory>
#include <utility>

#include "ftp/CtrlSocket.h"
#include "ftp/RemotePath.h"
#include "listing/PathRules.h"

int CCtrlSocket::SiteToSite(const std::string& source, const std::string& destination,
                            SiteToSitePartner& other, int flags)
{
    if (flags & OPFLAG_CHANGE_TO_FILE_DIR) {
        int r = Cwd(RemoteDirectoryOf(source), OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
        const std::string targetDirectory = RemoteDirectoryOf(destination);
        r = other.Run([targetDirectory](CCtrlSocket& p) { return p.Cwd(targetDirectory, OPFLAG_REFRESH); });
        if (r != FTP_OK)
            return r;
    }
    session.SetTransferredBytes(0);
    std::string fileName = FileNamePart(source);
    int type = session.TransferTypeFor(fileName);
    int r = SetType(type);
    if (r == FTP_OK)
        r = other.Run([type](CCtrlSocket& p) {
            p.session.SetTransferredBytes(0);
            return p.SetType(type);
        });
    if (r != FTP_OK)
        return r;

    // The receiving server is told the address the sending one named, not the address we
    // reach it by: the two servers talk to each other.
    r = Pasv();
    if (r == FTP_OK) {
        const std::string host = dataHost;
        const int port = dataPort;
        r = other.Run([host, port](CCtrlSocket& p) { return p.Port(host, port); });
    }
    if (r == FTP_INTERRUPTED || r == FTP_CLOSED)
        return r;
    if (r != FTP_OK) {
        auto address = std::make_shared<std::pair<std::string, int>>();
        r = other.Run([address](CCtrlSocket& p) {
            const int result = p.Pasv();
            *address = {p.dataHost, p.dataPort};
            return result;
        });
        if (r == FTP_OK)
            r = Port(address->first, address->second);
        if (r != FTP_OK)
            return r;
    }

    const std::string target = destination;
    // The receiving server gets its STOR first: a server that opens the data connection
    // at PORT would otherwise be sent the whole file before it knows where to store it,
    // and the bytes would be lost while the sender reports success.
    r = other.Run([target](CCtrlSocket& p) { return p.SendCommand("stor " + p.RemoteName(target), 0); });
    if (r != FTP_OK)
        return r;
    auto abortPartner = [&other] { other.Run([](CCtrlSocket& p) { return p.Abort(); }, true); };
    r = SendCommand("retr " + RemoteName(source), 0);
    if (r != FTP_OK) {
        abortPartner();
        return r;
    }

    CCtrlSocket* partner = other.Connection();
    if (partner == nullptr) {
        Abort();
        return FTP_CLOSED;
    }
    PairWithReceiver(*partner);
    r = WaitForReply();
    if (r == FTP_OK && CompletedTransfer()) {
        // This side is done, so a failure of the receiver no longer needs to cut a wait
        // here short. Its final reply is awaited on its own thread, through its mailbox.
        UnpairFromReceiver(*partner);
        r = other.Run([](CCtrlSocket& p) { return p.AwaitReceiverReply(); });
        if (r != FTP_OK)
            return r == FTP_NOT_AVAILABLE ? FTP_FAILED : r;
        const std::string targetDirectory = RemoteDirectoryOf(target);
        const bool refresh = (flags & OPFLAG_REFRESH) != 0;
        other.Run([targetDirectory, refresh](CCtrlSocket& p) {
            p.InvalidateCachedDir(targetDirectory);
            return refresh ? p.RefreshListing() : FTP_OK;
        });
        session.CountProcessedFile();
        return FTP_OK;
    }
    // A refusal on the receiving side interrupts this wait as a stop would; it is a
    // failure of the copy, not the user's doing, and is retried like one. The receiver's
    // reply is read on its own thread.
    auto received = std::make_shared<std::atomic<ReceiverReply>>(ReceiverReply::Awaited);
    other.Run([received](CCtrlSocket& p) {
        *received = p.ReadReceiverReply();
        return FTP_OK;
    });
    const ReceiverReply answer = *received;
    bool partnerRefused = r == FTP_INTERRUPTED && answer != ReceiverReply::Awaited &&
                          answer != ReceiverReply::CompletedTransfer;
    if (r == FTP_INTERRUPTED)
        Abort();
    const bool partnerStillPaired = partner->session.PairFlag();
    UnpairFromReceiver(*partner);
    if (partnerStillPaired)
        abortPartner();
    if (partnerRefused) {
        session.Log("The receiving server refused the copy.", LOG_ERROR);
        return answer == ReceiverReply::Refused550 ? FTP_NOT_AVAILABLE : FTP_FAILED;
    }
    return r == FTP_OK ? FTP_FAILED : r;
}

void CCtrlSocket::PairWithReceiver(CCtrlSocket& receiver)
{
    std::lock_guard lock(receiver.replyMutex);
    session.BeginPairing(receiver.session);
    // The receiver's thread may have read its final reply before the pairing: it counts
    // as if it had come during the copy, so a refusal still ends this side's wait.
    if (receiver.replyEvent.IsSignalled())
        receiver.ApplyPairRule();
}

void CCtrlSocket::UnpairFromReceiver(CCtrlSocket& receiver)
{
    // A failure the receiver reads at this moment either interrupts this side before the
    // pairing ends (and the stop is cleared with it) or finds no pairing left: it never
    // leaves a stop behind for this session's next operation.
    std::lock_guard lock(receiver.replyMutex);
    session.EndPairing(receiver.session);
}

int CCtrlSocket::AwaitReceiverReply()
{
    const int r = session.WaitForEvent(&replyEvent, 0);
    if (r != FTP_OK)
        return r;
    switch (ReadReceiverReply()) {
    case ReceiverReply::CompletedTransfer:
        return FTP_OK;
    case ReceiverReply::Refused550:
        return FTP_NOT_AVAILABLE;
    default:
        return FTP_FAILED;
    }
}

CCtrlSocket::ReceiverReply CCtrlSocket::ReadReceiverReply()
{
    std::lock_guard lock(replyMutex);
    if (!replyEvent.IsSignalled())
        return ReceiverReply::Awaited;
    if (replyStatus == 0 && CompletedTransfer())
        return ReceiverReply::CompletedTransfer;
    return IsReply550() ? ReceiverReply::Refused550 : ReceiverReply::Failed;
}
