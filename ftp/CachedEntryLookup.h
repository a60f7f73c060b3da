#pragma once
// Finds a remote file's entry in the directory cache for a download's overwrite decision.
// A directory download asks for every file of a folder in turn; reading and parsing the
// folder's list file for each one made a folder of n files cost n times n parsed lines.
// The parsed entries of the last list file read are kept and used again for as long as
// that file is unchanged on disk (same file, size and change time), so a listing written
// meanwhile, by this session or another one, is always seen.
//
// Usage:
//   RFILE_DATA remote;
//   bool known = lookup.Find(cache, site, "/pub/a.txt", remote);

#include <string>
#include <unordered_map>

#include <sys/stat.h>

#include "listing/RemoteFileData.h"

class CDirectoryCache;

class CCachedEntryLookup {
public:
    // True with `entry` set when the cached listing of the file's folder has an entry of
    // exactly that name (the first one, as the cache itself answers). `site`: the cache
    // folder of the server and account (CacheSiteName).
    bool Find(const CDirectoryCache& cache, const std::string& site, const std::string& remoteFile,
              RFILE_DATA& entry);

private:
    // Identifies one version of a list file.
    struct FileVersion {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec changed{};
        timespec modified{};
        bool operator==(const FileVersion& other) const;
    };
    static bool VersionOf(const std::string& path, FileVersion& version);

    std::string listPath;  // empty: nothing kept
    FileVersion version;
    std::unordered_map<std::string, RFILE_DATA> entries;
};
