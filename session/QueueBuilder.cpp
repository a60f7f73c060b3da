#include "session/QueueBuilder.h"

#include <memory>
#include <sys/stat.h>

#include "listing/PathRules.h"
#include "sites/FtpUrl.h"
#include "session/QueueEntry.h"
#include "session/TransferQueue.h"

namespace {

void Add(CTransferQueue& queue, std::unique_ptr<CQueueEntry> entry, CQueueBuildResult& result)
{
    if (queue.AddEntry(std::move(entry)) == 0)
        ++result.appended;
    else
        ++result.replaced;
}

bool UsableName(const std::string& name, CQueueBuildResult& result)
{
    if (IsSafeLocalName(name))
        return true;
    result.warnings.push_back("\"" + name + "\" skipped: it cannot be used as a file name.");
    return false;
}

// Size and kind of a remote entry as the pane or the cache know it.
void TakeRemoteSizeAndKind(CQueueEntry& entry, const RemoteEntryFinder& find)
{
    RFILE_DATA found;
    if (find && find(entry.remotePath, found)) {
        entry.SetSize(found.FileSize());
        entry.kind = found.bDirectory ? KIND_DIRECTORY : KIND_FILE;
    } else {
        entry.SetSizeUnknown();
        entry.kind = KIND_FILE;
    }
}

CQueueBuildResult QueueRemoteEntries(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                                     const std::string& remoteFolder, const RemoteEntryFinder& find,
                                     const std::function<void(CQueueEntry&)>& complete)
{
    CQueueBuildResult result;
    for (const RFILE_DATA& selected : selection) {
        if (!UsableName(selected.strName, result))
            continue;
        auto entry = std::make_unique<CQueueEntry>();
        entry->remotePath = JoinPath(remoteFolder, selected.strName);
        TakeRemoteSizeAndKind(*entry, find);
        complete(*entry);
        Add(queue, std::move(entry), result);
    }
    return result;
}

} // namespace

CQueueBuildResult QueueDownloads(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                                 const std::string& remoteFolder, const std::string& localFolder,
                                 int action, const RemoteEntryFinder& find)
{
    return QueueRemoteEntries(queue, selection, remoteFolder, find, [&](CQueueEntry& entry) {
        entry.operation = QUEUE_DOWNLOAD;
        entry.localPath = localFolder;
        entry.afterDownloadAction = action;
    });
}

CQueueBuildResult QueueSiteToSite(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                                  const std::string& remoteFolder, CFtpSession* partner,
                                  const std::string& partnerHost, const std::string& targetFolder,
                                  const RemoteEntryFinder& find)
{
    return QueueRemoteEntries(queue, selection, remoteFolder, find, [&](CQueueEntry& entry) {
        entry.operation = QUEUE_DOWNLOAD;
        entry.localPath = "ftp://" + UrlHostPort(partnerHost, 0) + targetFolder;
        entry.partner = partner;
    });
}

CQueueBuildResult QueueDeletes(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                               const std::string& remoteFolder, const RemoteEntryFinder& find)
{
    return QueueRemoteEntries(queue, selection, remoteFolder, find,
                              [](CQueueEntry& entry) { entry.operation = QUEUE_DELETE; });
}

CQueueBuildResult QueueUploads(CTransferQueue& queue, const std::vector<FILE_DATA>& selection,
                               const std::string& localFolder, const std::string& remoteFolder)
{
    CQueueBuildResult result;
    for (const FILE_DATA& selected : selection) {
        if (!UsableName(selected.strName, result))
            continue;
        auto entry = std::make_unique<CQueueEntry>();
        entry->operation = QUEUE_UPLOAD;
        entry->localPath = JoinPath(localFolder, selected.strName);
        entry->remotePath = remoteFolder;
        struct stat info {};
        bool isDirectory = selected.bDirectory;
        std::uint64_t size = selected.FileSize();
        if (::stat(entry->localPath.c_str(), &info) == 0) {
            isDirectory = S_ISDIR(info.st_mode);
            size = isDirectory ? 0 : std::uint64_t(info.st_size);
        }
        entry->kind = isDirectory ? KIND_DIRECTORY : KIND_FILE;
        entry->SetSize(size);
        Add(queue, std::move(entry), result);
    }
    return result;
}

CQueueBuildResult QueueCacheDirectory(CTransferQueue& queue, const std::string& remoteFolder)
{
    CQueueBuildResult result;
    auto entry = std::make_unique<CQueueEntry>();
    entry->operation = QUEUE_CACHEDIR;
    entry->kind = KIND_DIRECTORY;
    entry->remotePath = remoteFolder.empty() ? std::string("/") : remoteFolder;
    entry->SetSizeUnknown();
    Add(queue, std::move(entry), result);
    return result;
}
