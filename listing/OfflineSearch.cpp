#include "listing/OfflineSearch.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#endif

#include "listing/DirectoryCache.h"
#include "listing/FolderHandle.h"
#include "listing/PathRules.h"

namespace {

constexpr int kFolderOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// A folder below the cache home, opened through its parent's descriptor; a link in its
// place is never followed.
int OpenRealFolder(int parentFd, const std::string& name)
{
    return ::openat(parentFd, name.c_str(), kFolderOpenFlags | O_NOFOLLOW);
}

// A folder several levels below the cache home. Where the kernel can refuse a link at any
// level it is asked to; elsewhere only the last level is checked, the others having been
// seen as real folders when they were listed.
int OpenRealFolderPath(int homeFd, const std::string& relative)
{
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    open_how how{};
    how.flags = kFolderOpenFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const long fd = ::syscall(SYS_openat2, homeFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return int(fd);
#endif
    return OpenRealFolder(homeFd, relative);
}

bool IsPlainCharacter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string WildcardToPattern(std::string_view wildcard)
{
    std::string pattern;
    pattern.reserve(wildcard.size() * 2);
    for (char c : wildcard) {
        if (c == '*') {
            pattern += ".*";
        } else if (c == '?') {
            pattern += '.';
        } else {
            // A backslash before anything but a letter or digit stands for that character.
            if (!IsPlainCharacter(static_cast<unsigned char>(c)))
                pattern += '\\';
            pattern += c;
        }
    }
    return pattern;
}

PATTERN_ERROR CompileSearchPattern(CPatternSearch& pattern, std::string_view text,
                                   bool regularExpression)
{
    return pattern.Compile(regularExpression ? std::string(text) : WildcardToPattern(text));
}

std::vector<std::string> CachedSites(const std::string& cacheHome)
{
    std::vector<std::string> sites;
    for (const FolderChild& child : ReadFolder(cacheHome))
        if (child.isDirectory)
            sites.push_back(child.name);
    return sites;
}

COfflineSearchWalk::COfflineSearchWalk(std::string cacheHome, const CPatternSearch& pattern)
    : m_cacheHome(std::move(cacheHome)), m_homePrefix(JoinPath(m_cacheHome, "")), m_pattern(pattern)
{
}

COfflineSearchWalk::Outcome COfflineSearchWalk::SearchSites(const std::vector<std::string>& sites,
                                                            const Callbacks& callbacks,
                                                            const std::atomic<bool>& stop)
{
    m_resultCount = 0;
    // The cache home is the user's choice and may itself be a link; below it nothing is
    // followed. A home that cannot be opened still shows its site folders, with nothing found.
    const CFolderHandle home(::open(m_cacheHome.empty() ? "." : m_cacheHome.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& site : sites)
        if (SearchSite(home.Get(), site, callbacks, stop) == Outcome::Stopped)
            return Outcome::Stopped;
    return Outcome::Completed;
}

COfflineSearchWalk::Outcome COfflineSearchWalk::SearchSite(int homeFd, const std::string& site,
                                                           const Callbacks& callbacks,
                                                           const std::atomic<bool>& stop)
{
    // A site is one folder directly under the cache home.
    if (site.empty() || site == "." || site == ".." || site.find(kPathSeparator) != std::string::npos ||
        site.find('\0') != std::string::npos)
        return Outcome::Completed;
    // Breadth-first: a folder's subfolders wait behind every folder already waiting.
    std::deque<PendingFolders> queue;
    queue.push_back({std::string(), {site}});
    while (!queue.empty()) {
        const PendingFolders group = std::move(queue.front());
        queue.pop_front();
        // Only the site's own group has the home as its parent, and that is already open.
        CFolderHandle parent;
        if (!group.parent.empty())
            parent = CFolderHandle(OpenRealFolderPath(homeFd, group.parent));
        const int parentFd = group.parent.empty() ? homeFd : parent.Get();
        for (const std::string& name : group.names) {
            if (stop.load(std::memory_order_relaxed))
                return Outcome::Stopped;
            SearchFolder(parentFd, name, JoinPath(group.parent, name), callbacks, queue);
        }
    }
    return Outcome::Completed;
}

void COfflineSearchWalk::SearchFolder(int parentFd, const std::string& name,
                                      const std::string& relative, const Callbacks& callbacks,
                                      std::deque<PendingFolders>& queue)
{
    const std::string path = m_homePrefix + relative;
    if (callbacks.onFolder)
        callbacks.onFolder(path);
    const CFolderHandle folder(OpenRealFolder(parentFd, name));
    if (!folder.IsOpen())
        return;

    std::vector<std::string> subfolders;
    bool hasListFile = false;
    bool listFileIsRegular = false;
    m_folderReader.Start(folder.Get());
    CFolderReader::Child child;
    while (m_folderReader.Next(child)) {
        if (child.isDirectory) {
            subfolders.emplace_back(child.name);
        } else if (child.name == kListFileName) {
            hasListFile = true;
            listFileIsRegular = child.isRegularFile;
        }
    }

    // A folder without a list file is skipped; its subfolders are still searched. A list
    // file that is not a plain file (a link, a pipe) counts as missing.
    if (hasListFile) {
        m_listFile.Scan(folder.Get(), path, listFileIsRegular, [&](const RFILE_DATA& entry) {
            if (!m_pattern.Match(entry.strName))
                return;
            ++m_resultCount;
            if (callbacks.onResult)
                callbacks.onResult(UrlOf(relative, entry.strName));
        });
    }
    if (!subfolders.empty())
        queue.push_back({relative, std::move(subfolders)});
}

std::string COfflineSearchWalk::UrlOf(const std::string& relative, const std::string& name) const
{
    // Cache folder names keep their "%37"/"%58" escapes in the URL.
    return "ftp://" + JoinPath(relative, name);
}
