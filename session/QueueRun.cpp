// The queue run: the entries in queue order, cycle after cycle, until everything
// succeeded, everything left is stopped, the cycle limit is reached or the user stops it.

#include <cstdio>
#include <string>
#include <vector>

#include "listing/PathRules.h"
#include "session/FtpSession.h"

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
    bool includeStopped = settings_.AutoReset != 0;
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
                      reconnectsWithoutProgress_ + 1, settings_.AlwaysRetry ? -1 : settings_.ErrorRetry);
        if (WaitToRetry() == FTP_INTERRUPTED) return FTP_INTERRUPTED;
    }
    return r;
}

int CFtpSession::RunQueueCycles(std::vector<CFtpSession*>& partnersUsed, bool& partnerBusy) {
    const bool alwaysRetry = settings_.AlwaysRetry != 0;
    const int limit = queueCycleLimit_;
    const int maxCycles = limit >= 0 ? limit : settings_.ErrorRetry;
    int cycle = 0;
    int r = FTP_OK;
    CQueueEntry* entry = queue_.First();
    while (true) {
        if (entry != nullptr) {
            if (entry->status == STATUS_STOPPED) {
                entry = queue_.Next(entry);
                if (entry != nullptr) continue;
            } else {
                entry->status = STATUS_TRANSFERRING;
                CFtpSession* partner = entry->partner;
                if (partner != nullptr) {
                    partnersUsed.push_back(partner);
                    if (!partner->TryBeginCommand()) {
                        // The other site is in use: the entry waits for a later run, and
                        // this run still ends properly.
                        entry->status = STATUS_QUEUED;
                        queue_.NotifyChanged();
                        Log("The other site of a site-to-site entry is busy; the queue run stops "
                            "here.",
                            LOG_STATE);
                        partnerBusy = true;
                        return FTP_OK;
                    }
                }
                Ui().QueueEntryStarted(queue_.IndexOf(entry));

                switch (entry->operation) {
                case QUEUE_DOWNLOAD:
                case QUEUE_CACHEDIR:
                    r = ProcessDownloadEntry(*entry, entry->operation == QUEUE_CACHEDIR ? 0x10 : 0);
                    if (r == FTP_OK && entry->operation == QUEUE_DOWNLOAD) RunAfterDownloadAction(*entry);
                    break;
                case QUEUE_UPLOAD:
                    r = ProcessUploadEntry(*entry);
                    break;
                case QUEUE_DELETE:
                    r = ProcessDeleteEntry(*entry);
                    break;
                default:
                    Log("Unknown queue operation " + std::to_string(entry->operation) +
                            "; the entry is stopped.",
                        LOG_ERROR);
                    r = FTP_NOT_AVAILABLE;
                    break;
                }
                if (partner != nullptr) partner->busy_ = false;

                CQueueEntry* next = queue_.Next(entry);
                if (r == FTP_OK) {
                    queue_.Remove(entry);  // tells the queue view
                } else {
                    const bool lastCycle = cycle >= maxCycles && !alwaysRetry;
                    entry->status = (r == FTP_INTERRUPTED || r == FTP_NOT_AVAILABLE || lastCycle)
                                        ? STATUS_STOPPED
                                        : STATUS_ERROR;
                    queue_.NotifyChanged();
                    if (r == FTP_INTERRUPTED || r == FTP_CONNECT_FAILED || r == FTP_CLOSED) return r;
                }
                entry = next;
                if (entry != nullptr) continue;
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
        entry = queue_.First();
    }
}

void CFtpSession::FinishQueueRun(const std::vector<CFtpSession*>& partnersUsed) {
    Log(std::to_string(FilesProcessed()) + " files processed successfully", LOG_STATE);
    SetListingEnabled(true);
    for (CFtpSession* partner : partnersUsed) partner->Ui().Refresh();
    if (IsLoggedIn()) Ui().Refresh();
    Ui().QueueRunFinished();
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
