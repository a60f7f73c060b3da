#include "ftp/CachedEntryLookup.h"

#include "listing/DirectoryCache.h"
#include "listing/PathRules.h"

bool CCachedEntryLookup::FileVersion::operator==(const FileVersion& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

bool CCachedEntryLookup::VersionOf(const std::string& path, FileVersion& version)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    version.device = info.st_dev;
    version.inode = info.st_ino;
    version.size = info.st_size;
    version.changed = info.st_ctim;
    version.modified = info.st_mtim;
    return true;
}

bool CCachedEntryLookup::Find(const CDirectoryCache& cache, const std::string& site,
                              const std::string& remoteFile, RFILE_DATA& entry)
{
    const std::string path = cache.GetCacheListPath(site, ParentPath(remoteFile));
    FileVersion current;
    if (path.empty() || !VersionOf(path, current)) {
        listPath.clear();
        entries.clear();
        return false;
    }
    if (path != listPath || !(current == version)) {
        // The version is taken before reading: a file rewritten during the read differs
        // from it next time and is read again.
        listPath.clear();
        entries.clear();
        RFILE_LIST list;
        if (ReadListFile(path, list) != 0)
            return false;
        for (RFILE_DATA& listed : list)
            entries.try_emplace(listed.strName, std::move(listed));
        listPath = path;
        version = current;
    }
    auto found = entries.find(FileNamePart(remoteFile));
    if (found == entries.end())
        return false;
    entry = found->second;
    return true;
}
