#pragma once
// The offline search: walks the cache folders of the chosen sites breadth-first and turns
// every cached entry whose whole name matches the pattern into its "ftp://" URL. The
// dialog drives it from a thread of its own and stops it through the stop flag.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "listing/CacheFolderWalker.h"
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
    // every folder; a set flag ends the whole search. Folders are opened and listed a little
    // ahead on a helper thread; the callbacks are called on the caller's thread only.
    Outcome SearchSites(const std::vector<std::string>& sites, const Callbacks& callbacks,
                        const std::atomic<bool>& stop);

    std::size_t ResultCount() const { return m_resultCount; }

private:
    void SearchFolder(const CachedFolder& folder, const Callbacks& callbacks);
    std::string UrlOf(const std::string& relative, const std::string& name) const;

    std::string m_cacheHome;
    std::string m_homePrefix; // the cache home with its trailing separator
    const CPatternSearch& m_pattern;
    std::size_t m_resultCount = 0;
    CListFileScanner m_listFile;
};
