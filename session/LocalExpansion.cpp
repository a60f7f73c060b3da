#include "session/LocalExpansion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "ftp/FtpTypes.h"
#include "listing/PathRules.h"

namespace {

// Whole-name wildcard match. Greedy with one back-track point per "*", so a hostile
// pattern costs at most name length times pattern length steps.
bool MatchWildcard(std::string_view name, std::string_view pattern)
{
    std::size_t n = 0, p = 0;
    std::size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool Taken(std::string_view name, bool isDirectory, const std::string& pattern,
           int includeSubdirectories)
{
    if (isDirectory && includeSubdirectories != 0)
        return true;
    return MatchPatternList(name, pattern);
}

void Note(std::vector<std::string>* messages, std::string text)
{
    if (messages)
        messages->push_back(std::move(text));
}

using FileId = std::pair<dev_t, ino_t>;

// The identities of the base and of every directory on the way down to `relative`,
// the directory itself last. Empty when one of them cannot be reached.
std::vector<FileId> DirectoryChain(const std::string& base, std::string_view relative)
{
    std::vector<FileId> chain;
    struct stat info {};
    std::string path = base;
    if (::stat(path.c_str(), &info) != 0)
        return {};
    chain.emplace_back(info.st_dev, info.st_ino);
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == std::string_view::npos)
            slash = relative.size();
        if (slash > start) {
            path = JoinPath(path, relative.substr(start, slash - start));
            if (::stat(path.c_str(), &info) != 0)
                return {};
            chain.emplace_back(info.st_dev, info.st_ino);
        }
        start = slash + 1;
    }
    return chain;
}

} // namespace

bool MatchPatternList(std::string_view name, std::string_view pattern)
{
    if (pattern.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t semicolon = pattern.find(';', start);
        const std::string_view one = pattern.substr(
            start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start);
        if (MatchWildcard(name, one))
            return true;
        if (semicolon == std::string_view::npos)
            return false;
        start = semicolon + 1;
    }
}

int PathDepth(std::string_view relativePath)
{
    int depth = 0;
    bool inComponent = false;
    for (char c : relativePath) {
        if (c == '/') {
            inComponent = false;
        } else if (!inComponent) {
            inComponent = true;
            ++depth;
        }
    }
    return depth;
}

std::string RelativeItemPath(std::string_view relativeDirectory, std::string_view name)
{
    if (relativeDirectory.empty())
        return std::string(name);
    return JoinPath(relativeDirectory, name);
}

int ExpandLocalDirectory(std::list<CQueueFile>& pending, const std::string& localBase,
                         const std::string& relativeDirectory, const std::string& pattern,
                         int includeSubdirectories, std::vector<std::string>* messages)
{
    const std::string directory =
        relativeDirectory.empty() ? localBase : JoinPath(localBase, relativeDirectory);

    if (PathDepth(relativeDirectory) >= kMaxExpansionDepth) {
        Note(messages, directory + " not expanded: more than " +
                           std::to_string(kMaxExpansionDepth) + " directory levels.");
        return FTP_NOT_AVAILABLE;
    }

    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        Note(messages, directory + " not accessible! Check privilege!");
        return FTP_OK;
    }
    const std::vector<FileId> chain = DirectoryChain(localBase, relativeDirectory);
    if (chain.empty()) {
        ::closedir(dir);
        Note(messages, directory + " not accessible! Check privilege!");
        return FTP_OK;
    }
    if (std::find(chain.begin(), chain.end() - 1, chain.back()) != chain.end() - 1) {
        ::closedir(dir);
        Note(messages, directory + " not expanded: it leads back into its own folder tree.");
        return FTP_NOT_AVAILABLE;
    }

    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = JoinPath(directory, name);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            Note(messages, path + " skipped: the link leads nowhere.");
            continue;
        }
        const bool isDirectory = S_ISDIR(info.st_mode);
        if (!isDirectory && !S_ISREG(info.st_mode)) {
            Note(messages, path + " skipped: not a regular file.");
            continue;
        }
        if (!Taken(name, isDirectory, pattern, includeSubdirectories))
            continue;
        if (isDirectory &&
            std::find(chain.begin(), chain.end(), FileId(info.st_dev, info.st_ino)) != chain.end()) {
            Note(messages, path + " skipped: it leads back into its own folder tree.");
            continue;
        }
        CQueueFile file;
        file.relativePath = RelativeItemPath(relativeDirectory, name);
        file.directory = isDirectory ? 1 : 0;
        file.SetSize(isDirectory ? 0 : std::uint64_t(info.st_size));
        pending.push_back(std::move(file));
    }
    ::closedir(dir);
    return FTP_OK;
}

int AppendListedEntries(std::list<CQueueFile>& pending, const std::string& relativeDirectory,
                        const RFILE_LIST& listing, const std::string& pattern,
                        int includeSubdirectories, std::vector<std::string>* messages)
{
    int appended = 0;
    for (const RFILE_DATA& entry : listing) {
        if (entry.strName == "." || entry.strName == "..")
            continue;
        if (!IsSafeLocalName(entry.strName)) {
            Note(messages, "Listed name \"" + entry.strName + "\" in " +
                               (relativeDirectory.empty() ? std::string(".") : relativeDirectory) +
                               " skipped: it cannot be used as a file name.");
            continue;
        }
        if (!Taken(entry.strName, entry.bDirectory, pattern, includeSubdirectories))
            continue;
        CQueueFile file;
        file.relativePath = RelativeItemPath(relativeDirectory, entry.strName);
        file.sizeHigh = entry.nFileSizeHigh;
        file.sizeLow = entry.nFileSizeLow;
        file.directory = entry.bDirectory ? 1 : 0;
        pending.push_back(std::move(file));
        ++appended;
    }
    return appended;
}

CDeleteExpansion PlanDeleteExpansion(const CQueueEntry& entry)
{
    CDeleteExpansion plan;
    const std::string name = FileNamePart(entry.remotePath);
    if (entry.kind == KIND_PATTERN) {
        plan.remoteBase = ParentPath(entry.remotePath);
        plan.pattern = name;
        plan.includeSubdirectories = 0;
        return plan;
    }
    plan.remoteBase = ParentPath(entry.remotePath);
    plan.relativeDirectory = name;
    plan.pattern = "*";
    plan.includeSubdirectories = 1;
    plan.directoryIsItem = true;
    return plan;
}
