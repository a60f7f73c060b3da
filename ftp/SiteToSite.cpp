// A copy between two servers: one server sends, the other receives, and the data flows
// between them directly.

#include "ftp/CtrlSocket.h"
#include "ftp/RemotePath.h"
#include "listing/PathRules.h"

int CCtrlSocket::SiteToSite(const std::string& source, const std::string& destination,
                            CCtrlSocket& partner, int flags)
{
    if (flags & OPFLAG_CHANGE_TO_FILE_DIR) {
        int r = Cwd(RemoteDirectoryOf(source), OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
        r = partner.Cwd(RemoteDirectoryOf(destination), OPFLAG_REFRESH);
        if (r != FTP_OK)
            return r;
    }
    session.SetTransferredBytes(0);
    partner.session.SetTransferredBytes(0);
    std::string fileName = FileNamePart(source);
    int type = session.TransferTypeFor(fileName);
    int r = SetType(type);
    if (r == FTP_OK)
        r = partner.SetType(type);
    if (r != FTP_OK)
        return r;

    // The receiving server is told the address the sending one named, not the address we
    // reach it by: the two servers talk to each other.
    r = Pasv();
    if (r == FTP_OK)
        r = partner.Port(dataHost, dataPort);
    if (r == FTP_INTERRUPTED || r == FTP_CLOSED)
        return r;
    if (r != FTP_OK) {
        r = partner.Pasv();
        if (r == FTP_OK)
            r = Port(partner.dataHost, partner.dataPort);
        if (r != FTP_OK)
            return r;
    }

    const std::string& target = destination;
    // The receiving server gets its STOR first: a server that opens the data connection
    // at PORT would otherwise be sent the whole file before it knows where to store it,
    // and the bytes would be lost while the sender reports success.
    r = partner.SendCommand("stor " + partner.RemoteName(target), 0);
    if (r != FTP_OK)
        return r;
    r = SendCommand("retr " + RemoteName(source), 0);
    if (r != FTP_OK) {
        partner.Abort();
        return r;
    }

    session.BeginPairing(partner.session);
    r = WaitForReply();
    if (r == FTP_OK && CompletedTransfer()) {
        r = session.WaitForEvent(&partner.replyEvent, -1);
        bool bothDone = r == FTP_OK && partner.replyStatus == 0 && partner.CompletedTransfer();
        session.EndPairing(partner.session);
        if (!bothDone)
            return r == FTP_OK ? FTP_FAILED : r;
        partner.InvalidateCachedDir(RemoteDirectoryOf(target));
        if (flags & OPFLAG_REFRESH)
            partner.RefreshListing();
        session.CountProcessedFile();
        return FTP_OK;
    }
    // A refusal on the receiving side interrupts this wait as a stop would; it is a
    // failure of the copy, not the user's doing, and is retried like one.
    bool partnerRefused = r == FTP_INTERRUPTED && partner.replyEvent.IsSignalled() &&
                          !partner.CompletedTransfer();
    if (r == FTP_INTERRUPTED)
        Abort();
    if (partner.session.PairFlag())
        partner.Abort();
    session.EndPairing(partner.session);
    if (partnerRefused) {
        session.Log("The receiving server refused the copy.", LOG_ERROR);
        return partner.IsReply550() ? FTP_NOT_AVAILABLE : FTP_FAILED;
    }
    return r == FTP_OK ? FTP_FAILED : r;
}
