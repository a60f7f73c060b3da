#include "listing/OfflineSearch.h"

#include "listing/CacheFolderFeed.h"
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
    CCacheFolderFeed feed(m_cacheHome, sites);
    CachedFolder folder;
    while (feed.Next(folder)) {
        if (stop.load(std::memory_order_relaxed))
            return Outcome::Stopped;
        SearchFolder(folder, callbacks);
        folder.handle.Reset(); // closed before the next folder, not when it is replaced
    }
    return Outcome::Completed;
}

void COfflineSearchWalk::SearchFolder(const CachedFolder& folder, const Callbacks& callbacks)
{
    const std::string path = m_homePrefix + folder.relative;
    if (callbacks.onFolder)
        callbacks.onFolder(path);
    // A folder without a list file is skipped; its subfolders are still searched.
    if (!folder.hasListFile)
        return;
    const CDescriptor listFile = CListFileScanner::OpenListFile(folder.handle.Get());
    m_listFile.Scan(listFile.Get(), path, [&](const RFILE_DATA& entry) {
        if (!m_pattern.Match(entry.strName))
            return;
        ++m_resultCount;
        if (callbacks.onResult)
            callbacks.onResult(UrlOf(folder.relative, entry.strName));
    });
}

std::string COfflineSearchWalk::UrlOf(const std::string& relative, const std::string& name) const
{
    // Cache folder names keep their "%37"/"%58" escapes in the URL.
    return "ftp://" + JoinPath(relative, name);
}
