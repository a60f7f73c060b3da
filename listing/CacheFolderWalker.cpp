#include "listing/CacheFolderWalker.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#endif

#include "listing/DirectoryCache.h"
#include "listing/PathRules.h"

namespace {

constexpr int kFolderOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// A folder opened through its parent's descriptor; a link in its place is never followed.
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

bool IsSiteName(const std::string& site)
{
    return !site.empty() && site != "." && site != ".." &&
           site.find(kPathSeparator) == std::string::npos && site.find('\0') == std::string::npos;
}

} // namespace

CCacheFolderWalker::CCacheFolderWalker(const std::string& cacheHome, std::vector<std::string> sites)
    // The cache home is the user's choice and may itself be a link. A home that cannot be
    // opened still hands over its site folders, with nothing to read.
    : m_home(::open(cacheHome.empty() ? "." : cacheHome.c_str(), kFolderOpenFlags)),
      m_sites(std::move(sites))
{
}

bool CCacheFolderWalker::Next(CachedFolder& folder)
{
    while (m_nextInGroup >= m_group.names.size())
        if (!StartNextGroup())
            return false;
    ListFolder(m_group.names[m_nextInGroup++], folder);
    return true;
}

bool CCacheFolderWalker::StartNextGroup()
{
    m_nextInGroup = 0;
    m_groupParent.Reset();
    if (!m_queue.empty()) {
        m_group = std::move(m_queue.front());
        m_queue.pop_front();
        m_groupParent = CDescriptor(OpenRealFolderPath(m_home.Get(), m_group.parent));
        return true;
    }
    // This site is done: the next one starts with its own folder.
    while (m_nextSite < m_sites.size()) {
        std::string& site = m_sites[m_nextSite++];
        if (IsSiteName(site)) {
            m_group = {std::string(), {std::move(site)}};
            return true;
        }
    }
    m_group = {};
    return false;
}

void CCacheFolderWalker::ListFolder(const std::string& name, CachedFolder& folder)
{
    folder.relative = JoinPath(m_group.parent, name);
    folder.hasListFile = false;
    const int parentFd = m_group.parent.empty() ? m_home.Get() : m_groupParent.Get();
    folder.handle = CDescriptor(OpenRealFolder(parentFd, name));
    if (!folder.handle.IsOpen())
        return;

    std::vector<std::string> subfolders;
    m_reader.Start(folder.handle.Get());
    CFolderReader::Child child;
    while (m_reader.Next(child)) {
        if (child.isDirectory) {
            subfolders.emplace_back(child.name);
        } else if (child.isRegularFile && child.name == kListFileName) {
            folder.hasListFile = true;
        }
    }
    // Breadth-first: these wait behind every folder already waiting.
    if (!subfolders.empty())
        m_queue.push_back({folder.relative, std::move(subfolders)});
}
