#pragma once
// Turns a selection of a file pane into queue entries: downloads of remote entries into
// a local folder, uploads of local entries into a remote folder, site-to-site copies and
// deletes. Each entry is added with AddEntry, so queueing the same job twice leaves one
// entry at the first one's position. Starting the queue afterwards (unless the user chose
// "Add to queue only") is the caller's StartQueue.

#include <functional>
#include <string>
#include <vector>

#include "listing/RemoteFileData.h"

class CFtpSession;
class CTransferQueue;

// The remote pane's FindEntry: the record of a remote entry by its full path, from the
// pane's list or the directory cache. False when neither knows it.
using RemoteEntryFinder = std::function<bool(const std::string& fullPath, RFILE_DATA& entry)>;

struct CQueueBuildResult {
    int appended = 0;
    int replaced = 0;
    // Selected entries left out, one line each: a name that cannot become a file name.
    std::vector<std::string> warnings;
};

// One download per selected remote entry: remote path = remoteFolder joined with the
// name, local path = localFolder; size and kind from `find` (unknown size and a single
// file when it does not know the entry). `action`: 0 none, 1 open, 2 view afterwards.
CQueueBuildResult QueueDownloads(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                                 const std::string& remoteFolder, const std::string& localFolder,
                                 int action, const RemoteEntryFinder& find);

// One upload per selected local entry: local path = localFolder joined with the name,
// remote path = remoteFolder; size and kind from the file system (from the record when
// the file cannot be examined).
CQueueBuildResult QueueUploads(CTransferQueue& queue, const std::vector<FILE_DATA>& selection,
                               const std::string& localFolder, const std::string& remoteFolder);

// Site-to-site: one download per selected entry into the queue of the source session,
// with the local path "ftp://" + partnerHost + targetFolder and the partner session set.
CQueueBuildResult QueueSiteToSite(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                                  const std::string& remoteFolder, CFtpSession* partner,
                                  const std::string& partnerHost, const std::string& targetFolder,
                                  const RemoteEntryFinder& find);

// One delete per selected remote entry (full path), a directory deleted with everything
// in it; size and kind from `find`.
CQueueBuildResult QueueDeletes(CTransferQueue& queue, const std::vector<RFILE_DATA>& selection,
                               const std::string& remoteFolder, const RemoteEntryFinder& find);

// One recursive cache entry: the queue run lists `remoteFolder` and every folder beneath
// it, and each listing is written to the directory cache.
CQueueBuildResult QueueCacheDirectory(CTransferQueue& queue, const std::string& remoteFolder);
