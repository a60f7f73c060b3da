// One queue entry at a time: a single transfer, or a directory tree walked level by level
// through the entry's pending items. Items that fail stay pending for the next cycle.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "ftp/CtrlSocket.h"
#include "listing/ListingParser.h"
#include "listing/PathRules.h"
#include "platform/TextLineReader.h"
#include "session/FtpSession.h"
#include "session/LocalExpansion.h"

namespace {

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

enum class LocalFolder { Ready, Link, Failed };

// Creates the local folder unless it exists. A link found in its place is refused: a
// download never writes through a link it did not make. Only the folder the user chose
// may be one (linkAllowed).
LocalFolder EnsureLocalDirectory(const std::string& path, bool linkAllowed) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return LocalFolder::Failed;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return LocalFolder::Failed;
    if (S_ISLNK(info.st_mode)) {
        if (!linkAllowed) return LocalFolder::Link;
        if (::stat(path.c_str(), &info) != 0) return LocalFolder::Failed;
    }
    return S_ISDIR(info.st_mode) ? LocalFolder::Ready : LocalFolder::Failed;
}

// The first folder beneath base on the way to base/relativeFolder that is a link (the
// folder may have been swapped for one since it was made); empty when there is none.
std::string LinkOnTheWay(const std::string& base, const std::string& relativeFolder) {
    std::string path = base;
    std::size_t start = 0;
    while (start < relativeFolder.size()) {
        std::size_t end = relativeFolder.find('/', start);
        if (end == std::string::npos) end = relativeFolder.size();
        if (end > start) {
            path = JoinPath(path, relativeFolder.substr(start, end - start));
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return path;
        }
        start = end + 1;
    }
    return {};
}

// The path part of a site-to-site target "ftp://host/path": from the first "/" after the
// scheme's slashes, the whole text when there is none.
std::string SiteToSitePath(const std::string& url) {
    const std::size_t slash = url.size() > 6 ? url.find('/', 6) : std::string::npos;
    return slash == std::string::npos ? url : url.substr(slash);
}

std::string Joined(const std::string& base, const std::string& relative) {
    return relative.empty() ? base : JoinPath(base, relative);
}

// What a rejected listing line is expected to be: a "total" line, or "." and "..".
bool IsQuietlySkippedLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return line.starts_with("total") || line == "." || line == ".." || line.ends_with(" .") ||
           line.ends_with(" ..");
}

}  // namespace

// The listing in the server's order. A line the parser refuses (an unreadable layout, or
// a name such as "../x" or "a/b" that must never become part of a local path) is left
// out with a warning, so the user learns that the tree was not taken whole.
void CFtpSession::ParseLiveListing(std::string_view text, RFILE_LIST& listing) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        RFILE_DATA entry;
        const ListLineResult result = line.size() > CTextLineReader::kMaxLineLength + 2
                                          ? ListLineResult::Skipped
                                          : ParseListingLine(line, entry);
        if (result == ListLineResult::EndOfListing) return;
        if (result == ListLineResult::Entry) {
            listing.push_back(std::move(entry));
        } else if (!IsQuietlySkippedLine(line)) {
            std::string_view trimmed = line;
            while (!trimmed.empty() && trimmed.back() == '\r') trimmed.remove_suffix(1);
            std::string shown(trimmed.substr(0, 200));
            for (char& c : shown)
                if (static_cast<unsigned char>(c) < 0x20) c = '?';
            Log("Listing line skipped (unreadable, or a name that cannot be used as a file "
                "name): " + shown,
                LOG_WARNING);
        }
    }
}

bool CFtpSession::IsRemoteDirCached(const std::string& path) const {
    // Any thread (the driver of a site-to-site copy asks its partner): a reader of its own
    // over the current settings, never the worker's cache object.
    const std::shared_ptr<const CSettings> settings = sharedSettings_.Current();
    if (settings->CacheHomeDirectory.empty()) return false;
    const CDirectoryCache cache(CacheSettingsOf(*settings));
    std::string full = path;
    if (full.empty() || full.front() != '/') full = Joined(CurrentRemoteDirectory(), path);
    RFILE_LIST list;
    return cache.LoadCachedList(CacheSite(), full, list) == 0;
}

int CFtpSession::ExpandRemoteDirectory(std::list<CQueueFile>& pending, const std::string& remoteBase,
                                       const std::string& relativeDirectory,
                                       const std::string& pattern, int includeSubdirectories) {
    const std::string directory = Joined(remoteBase, relativeDirectory);
    if (PathDepth(relativeDirectory) >= kMaxExpansionDepth) {
        Log(directory + " not expanded: more than " + std::to_string(kMaxExpansionDepth) +
                " directory levels.",
            LOG_ERROR);
        return FTP_NOT_AVAILABLE;
    }

    RFILE_LIST listing;
    CDirectoryCache* cache = DirectoryCache();
    const bool cached = cache != nullptr && !AlwaysRefreshSetting() &&
                        cache->LoadCachedList(CacheSite(), directory, listing) == 0;
    if (!cached) {
        listing.clear();
        for (int n = 0;; ++n) {
            // Sent even when the session already stands there: the listing must be fresh.
            int r = ctrl_ ? ctrl_->Cwd(directory, OPFLAG_REFRESH | OPFLAG_SEND_ALWAYS) : FTP_CLOSED;
            if (r == FTP_INTERRUPTED || r == FTP_NOT_AVAILABLE || r == FTP_CLOSED) return r;
            if (r == FTP_OK) break;
            if (n >= Settings().FileRetry) {
                Log("Max errors reached, go on to next file", LOG_ERROR);
                return FTP_NOT_AVAILABLE;
            }
            AnnounceRetry("listing of " + directory, n + 1, Settings().FileRetry);
            r = WaitToRetry();
            if (r != FTP_TIMEOUT) return r;
            char line[64];
            std::snprintf(line, sizeof line, "Retrying to expand remote directory #%d", n);
            Log(line, LOG_STATE);
        }
        ParseLiveListing(ListingText(), listing);
    }

    std::vector<std::string> messages;
    AppendListedEntries(pending, relativeDirectory, listing, pattern, includeSubdirectories,
                        &messages);
    for (const std::string& message : messages) Log(message, LOG_WARNING);
    return FTP_OK;
}

int CFtpSession::ExpandLocal(std::list<CQueueFile>& pending, const std::string& localBase,
                             const std::string& relativeDirectory, const std::string& pattern,
                             int includeSubdirectories) {
    std::vector<std::string> messages;
    const int r = ExpandLocalDirectory(pending, localBase, relativeDirectory, pattern,
                                       includeSubdirectories, &messages);
    static const std::string kNotAccessible = " not accessible! Check privilege!";
    for (const std::string& message : messages) {
        if (message.ends_with(kNotAccessible)) {
            SessionMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
        } else {
            Log(message, r == FTP_OK ? LOG_WARNING : LOG_ERROR);
        }
    }
    return r;
}

int CFtpSession::WalkInBatches(CQueueEntry& entry, const std::function<int()>& walk) {
    // A file's item is dropped before the file has finished (it takes its final name with
    // its batch); every file finishes before the entry counts as done.
    if (ctrl_) ctrl_->BatchTransfers(true);
    int r = walk();
    if (ctrl_) {
        ctrl_->BatchTransfers(false);
        if (ctrl_->CommitTransfers() != FTP_OK) {
            // Files of the entry are not finished although their items are gone: the next
            // cycle walks the whole tree again (what arrived whole is skipped).
            entry.expanded = 0;
            if (r == FTP_OK) r = FTP_FAILED;
        }
    }
    return r;
}

int CFtpSession::ProcessDownloadEntry(CQueueEntry& entry, int flags) {
    return WalkInBatches(entry, [&] { return WalkDownloadEntry(entry, flags); });
}

int CFtpSession::WalkDownloadEntry(CQueueEntry& entry, int flags) {
    const bool cacheOnly = (flags & 0x10) != 0;
    CFtpSession* partner = entry.partner;
    const int transferFlags = (entry.updateOnly ? OPFLAG_ONLY_IF_EXISTS : 0) |
                              (entry.kind == KIND_DIRECTORY ? OPFLAG_FOLDER_COPY : 0);
    // Whether the receiving directory exists: locally, or for a site-to-site copy in the
    // partner's directory cache.
    auto destinationExists = [&](const std::string& path) {
        return partner != nullptr ? partner->IsRemoteDirCached(path) : PathExists(path);
    };
    // Links in the local tree are refused, not retried: the walk drops them and the entry
    // ends as not done.
    bool refused = false;
    bool linkRefused = false;  // the last folder to make was a link
    // Creates the receiving directory; FTP_OK when it is there.
    auto makeDestination = [&](const std::string& path, bool linkAllowed) -> int {
        linkRefused = false;
        if (cacheOnly) return FTP_OK;
        if (partner != nullptr) {
            return RunOnPartner(*partner, [path](CCtrlSocket& ctrl) {
                return ctrl.MakeDir(path, OPFLAG_LIST_PARENT_FIRST);
            });
        }
        switch (EnsureLocalDirectory(path, linkAllowed)) {
        case LocalFolder::Ready: return FTP_OK;
        case LocalFolder::Link:
            Log("Refusing to download into " + path + ": it is a link; it is left alone.", LOG_ERROR);
            refused = linkRefused = true;
            return FTP_NOT_AVAILABLE;
        case LocalFolder::Failed: break;
        }
        Log("Unable to create the local folder " + path, LOG_ERROR);
        return FTP_NOT_AVAILABLE;
    };
    auto transfer = [&](const std::string& localFolder, const std::string& remoteFile) -> int {
        if (partner == nullptr) return DownloadWithRetry(localFolder, remoteFile, transferFlags);
        if (entry.updateOnly && !partner->IsRemoteDirCached(localFolder)) return FTP_OK;
        return SiteToSiteWithRetry(remoteFile, localFolder, *partner, 8);
    };

    if (!entry.expanded) {
        entry.remoteBase = entry.remotePath;
        entry.localBase = entry.localPath;
        if (partner != nullptr) {
            entry.localBase = SiteToSitePath(entry.localPath);
            // The copy needs the other site's control connection; until it has logged in
            // the entry waits for the next cycle. Its owner starts it (StartQueue), never
            // this worker.
            if (!partner->HasThread()) {
                Log(partner->HostName() + " is not open; open it to copy " + entry.remotePath + ".",
                    LOG_ERROR);
                return FTP_FAILED;
            }
            if (!partner->IsLoggedIn()) {
                Log("Waiting for " + partner->HostName() + " to log in before copying " +
                        entry.remotePath + ".",
                    LOG_STATE);
                return FTP_FAILED;
            }
        }
        entry.pending.clear();
        int r = FTP_OK;
        if (entry.kind == KIND_DIRECTORY) {
            // The root folder has no name of its own: its contents go straight into the
            // receiving folder.
            const bool root = entry.remoteBase == "/" && partner == nullptr;
            const std::string name = root ? std::string() : FileNamePart(entry.remoteBase);
            if (!root && !IsSafeLocalName(name)) {
                Log("Refusing to download " + entry.remoteBase +
                        ": its name is not a plain folder name.",
                    LOG_ERROR);
                return FTP_NOT_AVAILABLE;
            }
            if (!root) entry.remoteBase = ParentPath(entry.remoteBase);
            const std::string destination = root ? entry.localBase : JoinPath(entry.localBase, name);
            if (entry.updateOnly && !destinationExists(destination)) return FTP_OK;
            r = makeDestination(destination, root);
            if (r == FTP_OK)
                r = ExpandRemoteDirectory(entry.pending, entry.remoteBase, name, entry.pattern,
                                          entry.includeSubdirectories);
        } else if (!cacheOnly) {
            expectedTransferSize_ = entry.ExpectedSize();
            r = transfer(entry.localBase, entry.remoteBase);
        }
        if (r != FTP_OK) return r;
        entry.expanded = 1;
    }

    for (auto item = entry.pending.begin(); item != entry.pending.end();) {
        int r = FTP_OK;
        if (!item->directory) {
            expectedTransferSize_ = std::int64_t(item->Size());
            const std::string folder = ParentPath(item->relativePath);
            const std::string link = partner == nullptr && !cacheOnly ? LinkOnTheWay(entry.localBase, folder)
                                                                      : std::string();
            if (!link.empty()) {
                Log("Refusing to download " + item->relativePath + ": " + link +
                        " is a link; it is left alone.",
                    LOG_ERROR);
                refused = true;
                item = entry.pending.erase(item);
                continue;
            }
            if (!cacheOnly)
                r = transfer(Joined(entry.localBase, folder),
                             JoinPath(entry.remoteBase, item->relativePath));
        } else {
            const std::string destination = JoinPath(entry.localBase, item->relativePath);
            if (!entry.updateOnly || cacheOnly || destinationExists(destination)) {
                r = makeDestination(destination, false);
                if (r != FTP_OK && partner != nullptr) return r;
                if (linkRefused) {
                    item = entry.pending.erase(item);
                    continue;
                }
                if (r == FTP_OK)
                    r = ExpandRemoteDirectory(entry.pending, entry.remoteBase, item->relativePath,
                                              entry.pattern, entry.includeSubdirectories);
            }
        }
        if (r == FTP_OK) {
            item = entry.pending.erase(item);
            continue;
        }
        if (r == FTP_INTERRUPTED || r == FTP_CLOSED) return r;
        ++item;
    }
    if (!entry.pending.empty()) return FTP_FAILED;
    return refused ? FTP_NOT_AVAILABLE : FTP_OK;
}

int CFtpSession::ProcessUploadEntry(CQueueEntry& entry) {
    return WalkInBatches(entry, [&] { return WalkUploadEntry(entry); });
}

int CFtpSession::WalkUploadEntry(CQueueEntry& entry) {
    const int transferFlags = OPFLAG_CHANGE_TO_FILE_DIR | (entry.updateOnly ? OPFLAG_ONLY_IF_EXISTS : 0);
    if (!entry.expanded) {
        entry.remoteBase = entry.remotePath;
        entry.localBase = entry.localPath;
        entry.pending.clear();
        if (entry.kind == KIND_DIRECTORY) {
            const std::string name = FileNamePart(entry.localBase);
            entry.localBase = ParentPath(entry.localBase);
            const std::string destination = JoinPath(entry.remoteBase, name);
            if (entry.updateOnly && !IsRemoteDirCached(destination)) return FTP_OK;
            int r = ctrl_ ? ctrl_->MakeDir(destination, OPFLAG_LIST_PARENT_FIRST) : FTP_CLOSED;
            if (r != FTP_OK) return r;
            r = ExpandLocal(entry.pending, entry.localBase, name, entry.pattern,
                            entry.includeSubdirectories);
            if (r != FTP_OK) return r;
        } else {
            expectedTransferSize_ = entry.ExpectedSize();
            const int r = UploadWithRetry(entry.localBase, entry.remoteBase, transferFlags);
            if (r != FTP_OK) return r;
        }
        entry.expanded = 1;
    }

    for (auto item = entry.pending.begin(); item != entry.pending.end();) {
        int r = FTP_OK;
        const std::string remotePath = JoinPath(entry.remoteBase, item->relativePath);
        if (!item->directory) {
            expectedTransferSize_ = std::int64_t(item->Size());
            r = UploadWithRetry(JoinPath(entry.localBase, item->relativePath),
                                ParentPath(remotePath), transferFlags);
        } else if (!entry.updateOnly || IsRemoteDirCached(remotePath)) {
            // A refused MKD shows up in the uploads into it.
            if (ctrl_) ctrl_->MakeDir(remotePath, OPFLAG_LIST_PARENT_FIRST);
            r = ExpandLocal(entry.pending, entry.localBase, item->relativePath, entry.pattern,
                            entry.includeSubdirectories);
        }
        if (r == FTP_OK) {
            item = entry.pending.erase(item);
            continue;
        }
        if (r == FTP_INTERRUPTED || r == FTP_CLOSED) return r;
        ++item;
    }
    return entry.pending.empty() ? FTP_OK : FTP_FAILED;
}

int CFtpSession::ProcessDeleteEntry(CQueueEntry& entry) {
    if (!entry.expanded) {
        entry.remoteBase = entry.remotePath;
        entry.pending.clear();
        int r = FTP_OK;
        if (entry.kind == KIND_FILE) {
            r = DeleteWithRetry(entry.remoteBase, 0);
        } else {
            const CDeleteExpansion plan = PlanDeleteExpansion(entry);
            entry.remoteBase = plan.remoteBase;
            if (plan.directoryIsItem) {
                CQueueFile directory;
                directory.relativePath = plan.relativeDirectory;
                directory.directory = 1;
                entry.pending.push_back(directory);
            }
            r = ExpandRemoteDirectory(entry.pending, plan.remoteBase, plan.relativeDirectory,
                                      plan.pattern, plan.includeSubdirectories);
            if (r == FTP_OK && plan.directoryIsItem) entry.pending.front().expanded = 1;
        }
        if (r != FTP_OK) return r;
        entry.expanded = 1;
    }

    // Depth first: the last item is taken first, so a directory's contents, appended
    // after it, are gone before it is removed.
    while (!entry.pending.empty()) {
        CQueueFile& item = entry.pending.back();
        const std::string path = JoinPath(entry.remoteBase, item.relativePath);
        int r;
        if (!item.directory) {
            r = DeleteWithRetry(path, 0);
            if (r == FTP_OK) entry.pending.pop_back();
        } else if (!item.expanded) {
            // List nodes stay put as items are appended behind this one.
            r = ExpandRemoteDirectory(entry.pending, entry.remoteBase, item.relativePath, "*", 1);
            if (r == FTP_OK) item.expanded = 1;
        } else {
            r = RemoveDirWithRetry(path, 0);
            if (r == FTP_OK) entry.pending.pop_back();
        }
        if (r != FTP_OK) return r;
    }
    return FTP_OK;
}
