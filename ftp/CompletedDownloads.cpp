#include "ftp/CompletedDownloads.h"

void CCompletedDownloads::Add(Download download)
{
    if (waiting.empty())
        firstAdded = std::chrono::steady_clock::now();
    bytes += download.size;
    waiting.push_back(std::move(download));
}

bool CCompletedDownloads::Due() const
{
    if (waiting.empty())
        return false;
    return waiting.size() >= kMaxFiles || bytes >= kMaxBytes ||
           std::chrono::steady_clock::now() - firstAdded >= kMaxWait;
}

void CCompletedDownloads::Finish(
    const std::function<void(const Download&, bool ok, const std::string& why)>& report)
{
    std::vector<Download> batch;
    batch.swap(waiting);
    bytes = 0;
    for (Download& download : batch) {
        std::string why;
        const bool ok = download.part->Finish(why);
        if (!ok)
            download.part->Abandon();
        report(download, ok, why);
    }
}
