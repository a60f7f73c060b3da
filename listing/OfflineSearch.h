#pragma once
// The offline search: walks the cache folders of the chosen sites breadth-first and turns
// every cached entry whose whole name matches the pattern into its "ftp://" URL. The
// dialog drives it from a thread of its own and stops it through the stop flag.

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "listing/FolderEntries.h"
#include "listing/ListFileScanner.h"
#include "listing/pattern/PatternSearch.h"

// The engine expression for a wildcard pattern: "*" any run of bytes, "?" any one byte,
// every other character stands for itself (escaped, since blanks and most punctuation
// mean something to the engine).
std::string WildcardToPattern(std::string_view wildcard);

// Compiles the text typed by the user: taken as an expression when `regularExpression`
// is set, else as wildcards. A failed compile leaves a pattern that matches nothing.
PATTERN_ERROR CompileSearchPattern(CPatternSearch& pattern, std::string_view text,
                                   bool regularExpression);

// The site folders of the cache home (one per cached site address).
std::vector<std::string> CachedSites(const std::string& cacheHome);

class COfflineSearchWalk {
public:
    enum class Outcome { Completed, Stopped };

    struct Callbacks {
        std::function<void(const std::string& folder)> onFolder; // before a folder is read
        std::function<void(const std::string& url)> onResult;   // each match, in order
    };

    // The compiled pattern must outlive the walk; it is only read, so the dialog may keep
    // it while the walk runs on another thread.
    COfflineSearchWalk(std::string cacheHome, const CPatternSearch& pattern);

    // Searches the sites one after another, in order. The stop flag is looked at before
    // every folder; a set flag ends the whole search.
    Outcome SearchSites(const std::vector<std::string>& sites, const Callbacks& callbacks,
                        const std::atomic<bool>& stop);

    std::size_t ResultCount() const { return m_resultCount; }

private:
    // The subfolders of one folder, waiting for their turn. They are opened through their
    // parent's descriptor, which is opened again once for the group, so the walk never
    // holds more than a few descriptors however wide the tree is.
    struct PendingFolders {
        std::string parent; // relative to the cache home
        std::vector<std::string> names;
    };

    Outcome SearchSite(int homeFd, const std::string& site, const Callbacks& callbacks,
                       const std::atomic<bool>& stop);
    // Reads one folder: its list file is matched and its real subfolders join the queue.
    void SearchFolder(int parentFd, const std::string& name, const std::string& relative,
                      const Callbacks& callbacks, std::deque<PendingFolders>& queue);
    std::string UrlOf(const std::string& relative, const std::string& name) const;

    std::string m_cacheHome;
    std::string m_homePrefix; // the cache home with its trailing separator
    const CPatternSearch& m_pattern;
    std::size_t m_resultCount = 0;
    CFolderReader m_folderReader;
    CListFileScanner m_listFile;
};
