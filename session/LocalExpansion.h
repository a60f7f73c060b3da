#pragma once
// Expanding a directory entry of the queue into pending items, one directory level at a
// time: the local side for uploads, the filter over a remote listing for downloads,
// deletes and cache jobs, and the wildcard patterns both sides apply.

#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "listing/RemoteFileData.h"
#include "session/QueueEntry.h"

// Directory levels beneath an entry's base that are expanded; a directory at this depth
// is reported and not listed, so a link farm or a hostile tree cannot grow the walk
// without end.
inline constexpr int kMaxExpansionDepth = 64;

// True when the whole name matches one of the ";"-separated wildcard patterns, tried
// from the first: "*" any run of bytes (also none), "?" exactly one byte, anything else
// itself, case-sensitive. An empty pattern list matches every name, as "*" does.
bool MatchPatternList(std::string_view name, std::string_view pattern);

// Number of components of a relative path ("a/b" gives 2, "" gives 0).
int PathDepth(std::string_view relativePath);

// The relative path of an item found in `relativeDirectory` (the name alone at the base).
std::string RelativeItemPath(std::string_view relativeDirectory, std::string_view name);

// Appends the items of the local directory `localBase`/`relativeDirectory`: files that
// match the pattern, and directories (all of them with includeSubdirectories 1, else only
// matching ones). Messages for the user are appended to `messages`:
// - a directory that cannot be read: "<dir> not accessible! Check privilege!", and
//   FTP_OK (it counts as done);
// - a directory kMaxExpansionDepth levels down, or one that is its own ancestor:
//   FTP_NOT_AVAILABLE, nothing appended;
// - a link back to the directory or one of its ancestors, a dangling link, or a special
//   file (pipe, socket, device) is left out with a message.
int ExpandLocalDirectory(std::list<CQueueFile>& pending, const std::string& localBase,
                         const std::string& relativeDirectory, const std::string& pattern,
                         int includeSubdirectories, std::vector<std::string>* messages = nullptr);

// The remote counterpart's filter over a listing of `relativeDirectory`: appends the
// entries taken by the same pattern rules. "." and ".." are passed over; a name that
// could not be used as a path component (IsSafeLocalName) is left out with a message.
// Returns the number of items appended.
int AppendListedEntries(std::list<CQueueFile>& pending, const std::string& relativeDirectory,
                        const RFILE_LIST& listing, const std::string& pattern,
                        int includeSubdirectories, std::vector<std::string>* messages = nullptr);

// Where a delete entry of kind 1 or 2 starts its walk.
struct CDeleteExpansion {
    std::string remoteBase;         // the folder the relative paths start from
    std::string relativeDirectory;  // the directory to list first
    std::string pattern;
    int includeSubdirectories = 1;
    bool directoryIsItem = false;   // kind 1: the directory itself is the first item, removed last
};
// Kind 1: the directory with everything in it. Kind 2: only the items of the parent whose
// names match the last component taken as a pattern, directories included only when they
// match; the parent itself stays.
CDeleteExpansion PlanDeleteExpansion(const CQueueEntry& entry);
