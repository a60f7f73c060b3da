// The queue run: the entries in queue order, cycle after cycle, until everything
// succeeded, everything left is stopped, the cycle limit is reached or the user stops it.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "listing/PathRules.h"
#include "session/FtpSession.h"
#include "session/SessionRegistry.h"

void CFtpSession::SetQueueRunner(std::function<int(CFtpSession&)> runner) {
    queueRunner_ = std::move(runner);
}

bool CFtpSession::QueueIsEmpty() const { return !queueRunner_ && queue_.IsEmpty(); }

void CFtpSession::ResetQueue(bool includeStopped) {
    queue_.ResetQueue(includeStopped);
    Log(includeStopped ? "Reset entire queue including stopped items."
                       : "Reset entire queue excluding stopped items.",
        LOG_STATE);
}

int CFtpSession::RunQueue() {
    if (queueRunner_) {
        const int result = queueRunner_(*this);
        queueRunPending_ = false;
        return result;
    }

    ResetFilesProcessed();
    bool includeStopped = Settings().AutoReset != 0;
    if (!includeStopped && queue_.HasStoppedEntries()) {
        includeStopped = SessionMessageBox("Do you want to transfer the stopped items again?",
                                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    ResetQueue(includeStopped);

    SetListingEnabled(false);
    Log("Starting to transfer queued files...", LOG_STATE);
    std::vector<CFtpSession*> partnersUsed;
    bool partnerBusy = false;
    int r = RunQueueCycles(partnersUsed, partnerBusy);
    FinishQueueRun(partnersUsed);

    // A run that cannot go on by itself ends here; after a lost connection the pending
    // flag makes the session reconnect and run the queue again. A run that stopped for a
    // busy partner waits for the user to start it again.
    if (queue_.AllStopped() || r == FTP_INTERRUPTED || partnerBusy) queueRunPending_ = false;
    if (r == FTP_CLOSED && queueRunPending_) {
        AnnounceRetry("queue run on a new connection to " + host_ + ":" + std::to_string(port_),
                      reconnectsWithoutProgress_ + 1, Settings().AlwaysRetry ? -1 : Settings().ErrorRetry);
        if (WaitToRetry() == FTP_INTERRUPTED) return FTP_INTERRUPTED;
    }
    return r;
}

int CFtpSession::RunQueueCycles(std::vector<CFtpSession*>& partnersUsed, bool& partnerBusy) {
    const bool alwaysRetry = Settings().AlwaysRetry != 0;
    const int limit = queueCycleLimit_;
    const int maxCycles = limit >= 0 ? limit : Settings().ErrorRetry;
    int cycle = 0;
    int r = FTP_OK;
    while (true) {
        // The entry is taken and marked transferring in one step, so the interface can
        // neither free nor change it meanwhile; the run works on its own copy.
        while (std::optional<CQueueEntry> taken = queue_.BeginNext()) {
            CQueueEntry& entry = *taken;
            CFtpSession* partner = entry.partner;
            // The other site is used only while it is known to live: the lease keeps it
            // from going away until this entry is done.
            const CPartnerLease lease = CSessionRegistry::Lease(*this, entry.id, partner);
            if ((partner != nullptr && !lease) ||
                (partner == nullptr && entry.operation == QUEUE_DOWNLOAD &&
                 IsSiteToSiteTarget(entry.localPath))) {
                Log("The other site of the site-to-site entry " + entry.remotePath +
                        " is closed; the entry is stopped.",
                    LOG_ERROR);
                queue_.SetAside(entry, STATUS_STOPPED);
                continue;
            }
            if (partner != nullptr) {
                if (std::find(partnersUsed.begin(), partnersUsed.end(), partner) == partnersUsed.end())
                    partnersUsed.push_back(partner);
                if (!partner->TryBeginCommand()) {
                    // The other site is in use: the entry waits for a later run, and
                    // this run still ends properly.
                    queue_.SetAside(entry, STATUS_QUEUED);
                    Log("The other site of a site-to-site entry is busy; the queue run stops "
                        "here.",
                        LOG_STATE);
                    partnerBusy = true;
                    return FTP_OK;
                }
            }
            Ui().QueueEntryStarted(entry.id);

            switch (entry.operation) {
            case QUEUE_DOWNLOAD:
            case QUEUE_CACHEDIR:
                r = ProcessDownloadEntry(entry, entry.operation == QUEUE_CACHEDIR ? 0x10 : 0);
                if (r == FTP_OK && entry.operation == QUEUE_DOWNLOAD) RunAfterDownloadAction(entry);
                break;
            case QUEUE_UPLOAD:
                r = ProcessUploadEntry(entry);
                break;
            case QUEUE_DELETE:
                r = ProcessDeleteEntry(entry);
                break;
            default:
                Log("Unknown queue operation " + std::to_string(entry.operation) +
                        "; the entry is stopped.",
                    LOG_ERROR);
                r = FTP_NOT_AVAILABLE;
                break;
            }
            if (partner != nullptr) partner->ReleaseHold();

            if (r == FTP_OK) {
                queue_.Complete(entry.id);  // tells the queue view
            } else {
                const bool lastCycle = cycle >= maxCycles && !alwaysRetry;
                queue_.SetAside(entry, (r == FTP_INTERRUPTED || r == FTP_NOT_AVAILABLE || lastCycle)
                                           ? STATUS_STOPPED
                                           : STATUS_ERROR);
                if (r == FTP_INTERRUPTED || r == FTP_CONNECT_FAILED || r == FTP_CLOSED) return r;
            }
        }

        // The end of the queue.
        if (queue_.IsEmpty()) {
            Log("All queue file transferred successfully.", LOG_STATE);
            return r;
        }
        if (queue_.AllStopped()) {
            Log("Transfer stopped. Some files remain in queue.", LOG_ERROR);
            return r;
        }
        ++cycle;
        if (cycle > maxCycles && !alwaysRetry) {
            Log("Max cycles reached, stop queue transfer.", LOG_ERROR);
            return r;
        }
        AnnounceRetry("pass over the queue's failed entries", cycle, alwaysRetry ? -1 : maxCycles);
        r = WaitToRetry();
        if (r != FTP_TIMEOUT) return r;
        char line[80];
        std::snprintf(line, sizeof line, "Retrying to transfer entire queue. Cycle #%d...", cycle);
        Log(line, LOG_STATE);
        ResetQueue(false);
    }
}

void CFtpSession::FinishQueueRun(const std::vector<CFtpSession*>& partnersUsed) {
    Log(std::to_string(FilesProcessed()) + " files processed successfully", LOG_STATE);
    if (FilesSkipped() > 0) Log(std::to_string(FilesSkipped()) + " files skipped", LOG_STATE);
    SetListingEnabled(true);
    for (CFtpSession* partner : partnersUsed)
        CSessionRegistry::IfAlive(partner, [](CFtpSession& alive) { alive.Ui().Refresh(); });
    if (IsLoggedIn()) Ui().Refresh();
    Ui().QueueRunFinished();
}

void CFtpSession::ReportSkipped(const std::string& fileName, const std::string& reason) {
    ++filesSkipped_;
    Log("Skipped " + fileName + ": " + reason + ".", LOG_STATE);
    Ui().FileSkipped(fileName, reason);
}

void CFtpSession::RunAfterDownloadAction(const CQueueEntry& entry) {
    if (IsSiteToSiteTarget(entry.localPath)) return;
    if (entry.afterDownloadAction != OPEN_WITH_ASSOCIATED_PROGRAM &&
        entry.afterDownloadAction != OPEN_WITH_VIEWER)
        return;
    const std::string name = DownloadNameOf(entry.remotePath);
    if (!IsSafeLocalName(name)) return;
    // The viewer program and the file are handed over apart: the path never passes
    // through a command line.
    Ui().OpenDownloadedFile(JoinPath(entry.localPath, name), entry.afterDownloadAction);
}
