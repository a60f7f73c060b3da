// The per-operation retry loops: each single file operation of a queue run is tried
// again after a pause, up to the "FileRetry" setting.

#include <atomic>
#include <cstdio>
#include <memory>
#include <functional>
#include <initializer_list>

#include "ftp/CtrlSocket.h"
#include "ftp/RemotePath.h"
#include "listing/PathRules.h"
#include "session/FtpSession.h"
#include "session/PartnerStep.h"

namespace {

// How one wrapper treats the results of its operation.
struct RetryPolicy {
    unsigned returnAtOnce;  // bit (1 << result) for each result returned at once
    bool reconnectOnClose;
    const char* retryLine;  // formatted with the attempt number, the first being 0
    bool closedWhenLastTimedOut;  // exhausted after a time-out reports FTP_CLOSED
};

constexpr const char* kRetryTransfer = "Retrying file transfer #%d";

constexpr unsigned Results(std::initializer_list<int> results) {
    unsigned mask = 0;
    for (int r : results) mask |= 1u << r;
    return mask;
}

bool Contains(unsigned mask, int result) { return result >= 0 && result < 32 && (mask >> result) & 1u; }

}  // namespace

// The common loop; `operation` runs one attempt on the current control connection.
static int RunWithRetry(CFtpSession& session, const RetryPolicy& policy, const std::string& what,
                        const std::function<int()>& operation) {
    const int fileRetry = session.FileRetrySetting();
    int r = FTP_FAILED;
    int last = FTP_FAILED;
    for (int attempt = 0; attempt <= fileRetry; ++attempt) {
        r = operation();
        if (Contains(policy.returnAtOnce, r)) return r;
        last = r;
        if (r == FTP_CLOSED && policy.reconnectOnClose) {
            r = session.ConnectWithRetry();
            if (r != FTP_OK) return r;
        }
        if (attempt < fileRetry) {
            session.AnnounceRetry(what, attempt + 1, fileRetry);
            r = session.WaitToRetry();
            if (r != FTP_TIMEOUT) return r;
            char line[96];
            std::snprintf(line, sizeof line, policy.retryLine, attempt);
            session.Log(line, LOG_STATE);
        } else {
            session.Log("Max errors reached, go on to next file", LOG_ERROR);
            if (policy.closedWhenLastTimedOut && last == FTP_TIMEOUT) return FTP_CLOSED;
        }
    }
    // A refusal by the server that stood to the last attempt stays a refusal.
    return last == FTP_NOT_AVAILABLE ? FTP_NOT_AVAILABLE : FTP_FAILED;
}

int CFtpSession::DownloadWithRetry(const std::string& localFolder, const std::string& remoteFile,
                                   int flags) {
    // The local name comes from the server's listing: it must stay inside the folder.
    const std::string name = FileNamePart(remoteFile);
    if (!IsSafeLocalFileName(name) || remoteFile.find('\0') != std::string::npos) {
        Log("Refusing to download " + remoteFile + ": its name is not a plain file name.",
            LOG_ERROR);
        return FTP_NOT_AVAILABLE;
    }
    const std::string localPath = JoinPath(localFolder, name);
    static const RetryPolicy policy{
        Results({FTP_OK, FTP_INTERRUPTED, FTP_NOT_AVAILABLE, FTP_CLOSED}), false, kRetryTransfer, false};
    return RunWithRetry(*this, policy, "download of " + remoteFile, [&]() -> int {
        return ctrl_ ? ctrl_->Download(localPath, remoteFile, flags) : FTP_CLOSED;
    });
}

int CFtpSession::UploadWithRetry(const std::string& localFile, const std::string& remoteFolder,
                                 int flags) {
    const std::string remotePath = JoinPath(remoteFolder, FileNamePart(localFile));
    static const RetryPolicy policy{
        Results({FTP_OK, FTP_INTERRUPTED, FTP_NOT_AVAILABLE, FTP_CLOSED}), false, kRetryTransfer, true};
    return RunWithRetry(*this, policy, "upload of " + localFile, [&]() -> int {
        return ctrl_ ? ctrl_->Upload(localFile, remotePath, flags) : FTP_CLOSED;
    });
}

int CFtpSession::DeleteWithRetry(const std::string& remotePath, int flags) {
    static const RetryPolicy policy{
        Results({FTP_OK, FTP_INTERRUPTED}), true, "Retrying to delete file #%d", false};
    return RunWithRetry(*this, policy, "deletion of " + remotePath, [&]() -> int {
        return ctrl_ ? ctrl_->Delete(remotePath, flags) : FTP_CLOSED;
    });
}

int CFtpSession::RemoveDirWithRetry(const std::string& remotePath, int flags) {
    static const RetryPolicy policy{
        Results({FTP_OK, FTP_INTERRUPTED}), true, "Retrying to delete directory #%d", false};
    return RunWithRetry(*this, policy, "removal of " + remotePath, [&]() -> int {
        return ctrl_ ? ctrl_->RemoveDir(remotePath, flags) : FTP_CLOSED;
    });
}

namespace {

// The other site of a copy as this worker reaches it: through its mailbox, never by
// touching its connection from here.
class CSessionAsPartner final : public SiteToSitePartner {
public:
    CSessionAsPartner(CFtpSession& driver, CFtpSession& partner) : m_driver(driver), m_partner(partner) {}
    int Run(std::function<int(CCtrlSocket&)> step, bool evenIfAbandoned) override {
        return m_driver.RunOnPartner(m_partner, std::move(step), evenIfAbandoned);
    }
    CCtrlSocket* Connection() override {
        // Read on the partner's own thread; the object then outlives the copy (the
        // partner keeps a closed connection while a copy holds it).
        auto connection = std::make_shared<std::atomic<CCtrlSocket*>>(nullptr);
        const int r = m_driver.RunOnPartner(m_partner, [connection](CCtrlSocket& ctrl) {
            *connection = &ctrl;
            return FTP_OK;
        });
        return r == FTP_OK ? connection->load() : nullptr;
    }

private:
    CFtpSession& m_driver;
    CFtpSession& m_partner;
};

}  // namespace

int CFtpSession::RunOnPartner(CFtpSession& partner, std::function<int(CCtrlSocket&)> step,
                              bool evenIfAbandoned) {
    auto shared = std::make_shared<CPartnerStep>();
    shared->work = std::move(step);
    shared->evenIfAbandoned = evenIfAbandoned;
    CSessionCommand command = SimpleCommand(CMD_PARTNER_STEP);
    command.partnerStep = shared;
    partner.IssueCommand(command);
    const int r = WaitForEvent(&shared->done, -1);
    if (r != FTP_OK) {
        shared->abandoned = true;
        return r;
    }
    return shared->result;
}

int CFtpSession::SiteToSiteWithRetry(const std::string& source, const std::string& targetFolder,
                                     CFtpSession& partner, int flags) {
    const std::string destination = JoinPath(targetFolder, FileNamePart(source));
    static const RetryPolicy policy{Results({FTP_OK, FTP_INTERRUPTED}), true, kRetryTransfer, false};
    CSessionAsPartner other(*this, partner);
    return RunWithRetry(*this, policy, "copy of " + source, [&]() -> int {
        if (!ctrl_) return FTP_CLOSED;
        return ctrl_->SiteToSite(source, destination, other, flags);
    });
}
