#include "listing/OfflineSearch.h"

#include <deque>

#include "listing/DirectoryCache.h"
#include "listing/FolderEntries.h"
#include "listing/PathRules.h"

namespace {

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
    for (const std::string& site : sites)
        if (SearchSite(site, callbacks, stop) == Outcome::Stopped)
            return Outcome::Stopped;
    return Outcome::Completed;
}

COfflineSearchWalk::Outcome COfflineSearchWalk::SearchSite(const std::string& site,
                                                           const Callbacks& callbacks,
                                                           const std::atomic<bool>& stop)
{
    // A site is one folder directly under the cache home.
    if (site.empty() || site == "." || site == ".." || site.find(kPathSeparator) != std::string::npos)
        return Outcome::Completed;
    std::deque<std::string> folders{JoinPath(m_cacheHome, site)};
    while (!folders.empty()) {
        if (stop.load(std::memory_order_relaxed))
            return Outcome::Stopped;
        const std::string folder = std::move(folders.front());
        folders.pop_front();
        SearchFolder(folder, callbacks);
        for (const FolderChild& child : ReadFolder(folder))
            if (child.isDirectory)
                folders.push_back(JoinPath(folder, child.name));
    }
    return Outcome::Completed;
}

void COfflineSearchWalk::SearchFolder(const std::string& folder, const Callbacks& callbacks)
{
    if (callbacks.onFolder)
        callbacks.onFolder(folder);
    RFILE_LIST entries;
    // A folder without a list file is skipped; its subfolders are still searched.
    if (ReadListFile(JoinPath(folder, kListFileName), entries) != 0)
        return;
    for (const RFILE_DATA& entry : entries) {
        if (!m_pattern.Match(entry.strName))
            continue;
        ++m_resultCount;
        if (callbacks.onResult)
            callbacks.onResult(UrlOf(folder, entry.strName));
    }
}

std::string COfflineSearchWalk::UrlOf(const std::string& folder, const std::string& name) const
{
    // Cache folder names keep their "%37"/"%58" escapes in the URL.
    const std::string_view relative = std::string_view(folder).substr(m_homePrefix.size());
    return "ftp://" + JoinPath(relative, name);
}
