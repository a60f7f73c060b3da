#pragma once
// One job of a session's transfer queue (CQueueEntry) and the items still to do beneath
// a directory entry (CQueueFile), with the entry's line in a queue file.
//
// Sizes are kept as two 32-bit halves because queue files store them that way; code that
// computes with a size uses the 64-bit accessors.

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

class CFtpSession;

// An entry's identity in its queue, stable while it moves, is edited or other entries come
// and go; never reused within a process. 0 names no entry.
using QueueEntryId = std::uint64_t;

enum QueueOperation : int {
    QUEUE_DOWNLOAD = 0,
    QUEUE_UPLOAD = 1,
    QUEUE_DELETE = 2,
    QUEUE_CACHEDIR = 3,
};

enum QueueStatus : int {
    STATUS_QUEUED = 0,
    STATUS_TRANSFERRING = 1,
    STATUS_ERROR = 2,
    STATUS_STOPPED = 3,
};

enum QueueKind : int {
    KIND_FILE = 0,       // a single file
    KIND_DIRECTORY = 1,  // a directory with everything beneath it
    KIND_PATTERN = 2,    // only from a queue file: the last component is a pattern
};

// All bits of the low half set, high half 0: the size is not known.
inline constexpr std::uint32_t kUnknownSizeLow = 0xFFFFFFFFu;

// One file or directory still to do beneath a directory entry. The relative path runs
// from the entry's base with "/" between components.
struct CQueueFile {
    std::string relativePath;
    int reserved = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    int directory = 0;
    int expanded = 0;  // deletes only: the directory's contents are in the list

    std::uint64_t Size() const { return (std::uint64_t(sizeHigh) << 32) | sizeLow; }
    void SetSize(std::uint64_t size)
    {
        sizeHigh = std::uint32_t(size >> 32);
        sizeLow = std::uint32_t(size);
    }
};

// What reading one line of a queue file gave.
enum class QueueLineResult {
    Entry,     // the entry was filled
    Empty,     // a blank line: the entry is unchanged
    Rejected,  // the line names something unsafe; the message says what, the entry is unusable
};

class CQueueEntry {
public:
    QueueEntryId id = 0;     // given by the queue that holds the entry
    int operation = QUEUE_DOWNLOAD;
    std::string localBase;   // working copies made when the run first takes the entry
    std::string remoteBase;
    std::string localPath;   // download: receiving folder (or an ftp:// URL site-to-site); upload: the source
    std::string remotePath;  // download, delete, cache: the remote item; upload: receiving folder
    int status = STATUS_QUEUED;
    int afterDownloadAction = 0;  // 0 none, 1 open, 2 view
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    int includeSubdirectories = 1;
    std::string pattern = "*";
    int updateOnly = 0;
    int kind = KIND_FILE;
    std::list<CQueueFile> pending;
    int expanded = 0;
    CFtpSession* partner = nullptr;  // site-to-site: the other site, not owned

    std::uint64_t Size() const { return (std::uint64_t(sizeHigh) << 32) | sizeLow; }
    void SetSize(std::uint64_t size)
    {
        sizeHigh = std::uint32_t(size >> 32);
        sizeLow = std::uint32_t(size);
    }
    bool SizeUnknown() const { return sizeHigh == 0 && sizeLow == kUnknownSizeLow; }
    void SetSizeUnknown()
    {
        sizeHigh = 0;
        sizeLow = kUnknownSizeLow;
    }
    // The size a transfer should expect: -1 when unknown.
    std::int64_t ExpectedSize() const { return SizeUnknown() ? -1 : std::int64_t(Size()); }

    // Same job: equal local path, remote path (exact) and operation.
    bool SameJob(const CQueueEntry& other) const
    {
        return operation == other.operation && localPath == other.localPath &&
               remotePath == other.remotePath;
    }

    // Appends the entry's line ("%d\t%s\t%d\t%s\t%d\t%d\t%s\t%d\t%d\n": kind, remote path,
    // operation, local path, size high, size low, pattern, update-only,
    // include-subdirectories). False, and nothing appended, when a text field holds a tab,
    // a line break or NUL: such a line could not be read back as the same entry.
    bool WriteLine(std::string& out) const;

    // Fills the entry from one line of a queue file. An upload whose local path exists
    // takes its size from the file system. A download whose remote path ends in a name
    // that must never become a local file name (see IsSafeLocalName) is rejected, and so
    // is any field holding NUL; `message` then says why.
    QueueLineResult ReadLine(std::string_view line, std::string* message = nullptr);
};

// True when `name` may be used as one component of a local path: not empty, not "." or
// "..", and free of "/" and NUL. Names from a listing or a queue file pass this before
// they are joined to a local folder.
bool IsSafeLocalName(std::string_view name);

// The local file or folder name a download of `remotePath` creates: its last component.
std::string DownloadNameOf(std::string_view remotePath);

// True when a download's local path is an ftp:// URL (a site-to-site copy).
bool IsSiteToSiteTarget(std::string_view localPath);
// The host of such a URL: the text after "ftp://" up to the next "/".
std::string SiteToSiteHost(std::string_view localPath);
