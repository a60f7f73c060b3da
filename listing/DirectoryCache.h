#pragma once
// The directory cache: every remote directory listed successfully is kept on disk as the
// listing text ("files.lis") in a folder of its own under the cache home, one folder
// level per remote directory level, the site address first. The folder tree is the whole
// state; list files are parsed again whenever they are read.

#include <string>
#include <string_view>

#include "listing/RemoteFileData.h"

// The settings the cache follows. The session fills them from the settings table.
struct CacheSettings {
    std::string homeDirectory; // "CacheHomeDirectory"
    bool enableCache = true;   // "EnableCache": when off, listings are not written
    bool alwaysRefresh = true; // "AlwaysRefresh": when on, readers always list live
};

// How the cache writer reaches the user. Called on the thread that writes the cache (a
// session's worker); the implementation decides how the text is shown.
class ICacheMessageSink {
public:
    virtual ~ICacheMessageSink() = default;
    virtual void ShowCacheMessage(const std::string& text) = 0;
};

inline constexpr std::string_view kListFileName = "files.lis";

// The cache folder of one server and account, so that two servers on one host or two
// accounts on one server never share listings: the host alone for port 21 and an
// anonymous login (the form caches had before ports and accounts were told apart, so those
// stay valid); else "user@" before the host and ":port" after it when the port is not 21
// (an IPv6 host is always in brackets). "%", ":", "/" and "@" in the user name are written as
// "%37", "%58", "%47" and "%64". The offline search shows this as the URL's host part.
std::string CacheSiteName(std::string_view host, int port, std::string_view user);

// The site address followed by the remote directory with "%" written as "%37" and ":" as
// "%58" (in that order, so an escape is never escaped again).
std::string CacheKey(std::string_view address, std::string_view remoteDirectory);

// Appends every accepted entry of a list file in file order ("." and ".." are never
// accepted). Returns 0, or -1 when the path is empty or the file cannot be opened.
int ReadListFile(const std::string& path, RFILE_LIST& list);

// Removes a cache folder tree: its list files and then the folders. A folder holding any
// other file (or a link) survives with it, and then the result is false.
bool DeleteCacheFolder(const std::string& folder);

class CDirectoryCache {
public:
    explicit CDirectoryCache(CacheSettings settings, ICacheMessageSink* messages = nullptr);

    const CacheSettings& Settings() const { return m_settings; }

    // When false ("AlwaysRefresh" on), readers must list live even if a list file exists.
    bool UseCachedListings() const { return !m_settings.alwaysRefresh; }

    // The list file of a remote directory. Empty when the address or directory would put
    // the file outside its site's folder (a "." or ".." component, a "/" in the address,
    // a NUL byte), so such a directory is simply never cached.
    std::string GetCacheListPath(std::string_view address, std::string_view remoteDirectory) const;

    // Stores a listing text as the directory's list file and prunes the cache folders of
    // subdirectories the listing no longer shows (names compared without case). Returns
    // 1 on success, -2 when caching is disabled, -1 when the list file cannot be written.
    int UpdateDirectoryCache(std::string_view address, std::string_view remoteDirectory,
                             std::string_view listingText);

    // Deletes the directory's list file, so its next visit lists live.
    bool DeleteCachedList(std::string_view address, std::string_view remoteDirectory);

    // 0 after appending the cached entries of the directory, -1 when it has no list file.
    int LoadCachedList(std::string_view address, std::string_view remoteDirectory,
                       RFILE_LIST& list) const;

    // 0 when the cached listing of the file's parent directory has an entry of exactly
    // that name (case-sensitive), which is copied to `entry`; -1 otherwise.
    int LookupCachedEntry(std::string_view address, std::string_view remoteFilePath,
                          RFILE_DATA& entry) const;

private:
    void Show(const std::string& text) const;
    bool WriteListFile(const std::string& folder, const std::string& listPath,
                       std::string_view text);
    void PruneVanishedFolders(const std::string& folder, std::string_view listingText);

    CacheSettings m_settings;
    ICacheMessageSink* m_messages;
};
