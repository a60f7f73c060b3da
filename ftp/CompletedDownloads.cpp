#include "ftp/CompletedDownloads.h"

#include <memory>
#include <system_error>
#include <utility>

CCompletedDownloads::~CCompletedDownloads()
{
    if (flushing.valid())
        flushing.wait();
}

void CCompletedDownloads::Add(Download download)
{
    if (waiting.empty())
        firstAdded = std::chrono::steady_clock::now();
    bytes += download.size;
    waiting.push_back(std::move(download));
    if (Due())
        StartFlush();
}

bool CCompletedDownloads::Due() const
{
    if (waiting.empty())
        return false;
    return waiting.size() >= kMaxFiles || bytes >= kMaxBytes ||
           std::chrono::steady_clock::now() - firstAdded >= kMaxWait;
}

void CCompletedDownloads::Collect(const Report& report)
{
    TakeFlushed(/*wait=*/false);
    if (Due())
        StartFlush();
    ReportFlushed(report);
}

void CCompletedDownloads::Finish(const Report& report)
{
    if (!waiting.empty())
        StartFlush();
    TakeFlushed(/*wait=*/true);
    ReportFlushed(report);
}

void CCompletedDownloads::StartFlush()
{
    // One batch at a time: the one before is finished first.
    TakeFlushed(/*wait=*/true);
    auto batch = std::make_shared<std::vector<Download>>();
    batch->swap(waiting);
    bytes = 0;
    try {
        flushing = std::async(std::launch::async, [batch] { return FlushAndRename(std::move(*batch)); });
    } catch (const std::system_error&) {
        // No thread to be had: the batch is flushed here and now.
        for (Outcome& outcome : FlushAndRename(std::move(*batch)))
            flushed.push_back(std::move(outcome));
    }
}

void CCompletedDownloads::TakeFlushed(bool wait)
{
    if (!flushing.valid())
        return;
    if (!wait && flushing.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    for (Outcome& outcome : flushing.get())
        flushed.push_back(std::move(outcome));
}

void CCompletedDownloads::ReportFlushed(const Report& report)
{
    std::vector<Outcome> done;
    done.swap(flushed);
    for (const Outcome& outcome : done)
        report(outcome.download, outcome.ok, outcome.why);
}

std::vector<CCompletedDownloads::Outcome> CCompletedDownloads::FlushAndRename(std::vector<Download> batch)
{
    // One flush of the file system writes and commits them all; a single file, or all of
    // them when that fails, is flushed on its own.
    std::string ignored;
    const bool flushedAll = batch.size() > 1 && batch.front().part->FlushFileSystem(ignored);
    std::vector<Outcome> outcomes;
    outcomes.reserve(batch.size());
    for (Download& download : batch) {
        Outcome outcome{std::move(download), false, {}};
        outcome.ok = outcome.download.part->Finish(outcome.why, flushedAll);
        if (!outcome.ok)
            outcome.download.part->Abandon();
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}
