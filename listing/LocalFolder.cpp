#include "listing/LocalFolder.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#include "listing/Descriptor.h"
#include "listing/FolderEntries.h"
#include "listing/OfflineSearch.h"
#include "listing/pattern/PatternSearch.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochOffsetSeconds = 11644473600;

// The ";"-separated wildcards as one expression: each alternative in its own group.
std::string FilterToPattern(std::string_view filter)
{
    std::string pattern;
    std::size_t start = 0;
    while (start <= filter.size()) {
        std::size_t end = filter.find(';', start);
        if (end == std::string_view::npos)
            end = filter.size();
        const std::string_view part = filter.substr(start, end - start);
        if (!part.empty()) {
            if (!pattern.empty())
                pattern += '|';
            pattern += '(' + WildcardToPattern(part) + ')';
        }
        start = end + 1;
    }
    return pattern;
}

void Fail(LocalFolderListing& listing, const std::string& folder, int error)
{
    listing.error = error;
    listing.errorText = "Cannot read folder " + folder + ": " + std::strerror(error) + ".";
}

} // namespace

std::int64_t LocalEntryTime(std::int64_t seconds, long nanoseconds)
{
    return (seconds + kEpochOffsetSeconds) * 10'000'000 + nanoseconds / 100;
}

LocalFolderListing ReadLocalFolder(const std::string& folder, std::string_view filter)
{
    LocalFolderListing listing;
    const std::string pattern = FilterToPattern(filter);
    CPatternSearch wildcards;
    if (!pattern.empty()) {
        const PATTERN_ERROR compiled = wildcards.Compile(pattern);
        if (compiled.Failed()) {
            listing.error = EINVAL;
            listing.errorText = "The filter " + std::string(filter) + " cannot be used: " +
                                compiled.message + ".";
            return listing;
        }
    }

    const CDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.IsOpen()) {
        Fail(listing, folder, errno);
        return listing;
    }
    CFolderReader reader;
    reader.Start(handle.Get());
    CFolderReader::Child child;
    std::string name; // the reader's view ends at its next call; fstatat needs a C string
    while (reader.Next(child)) {
        // The folder listing tells the kind: a file the filter leaves out costs no status.
        if (!pattern.empty() && !child.isDirectory && !wildcards.Match(child.name))
            continue;
        name.assign(child.name);
        struct stat info {};
        FILE_DATA entry;
        if (::fstatat(handle.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.bDirectory = S_ISDIR(info.st_mode);
            entry.bLink = S_ISLNK(info.st_mode);
            if (!entry.bDirectory)
                entry.SetFileSize(static_cast<std::uint64_t>(info.st_size));
            entry.ftModified = LocalEntryTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
        } else if (errno == ENOENT) {
            continue; // removed since the folder listing named it
        } else {
            entry.bDirectory = child.isDirectory; // the kind the folder listing told
            ++listing.unreadable;
        }
        if (!pattern.empty() && !entry.bDirectory && !wildcards.Match(name))
            continue;
        entry.strName = std::move(name);
        listing.entries.push_back(std::move(entry));
        name = std::string();
    }
    if (reader.Error() != 0)
        Fail(listing, folder, reader.Error());
    return listing;
}
