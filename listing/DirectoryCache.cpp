#include "listing/DirectoryCache.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <ctime>
#include <unordered_map>

#include "listing/AsciiCase.h"
#include "listing/FolderEntries.h"
#include "listing/ListingParser.h"
#include "listing/PathRules.h"
#include "platform/TextLineReader.h"

namespace {

// A list file is written under this prefix in its own folder and then renamed over the
// old one, so readers never see half a listing. Leftovers of a crash carry the prefix.
constexpr std::string_view kTempListPrefix = ".files.lis.";

bool HasUnsafeComponent(std::string_view path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(kPathSeparator, start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component == "." || component == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// Calls onEntry for every accepted entry of a list file, in file order, until it returns
// false. Returns false when the file cannot be opened.
template <class OnEntry>
bool ForEachListFileEntry(const std::string& path, OnEntry onEntry)
{
    CTextLineReader reader;
    if (!reader.Open(path))
        return false;
    std::string_view line;
    while (reader.ReadLine(line)) {
        RFILE_DATA entry;
        const ListLineResult result = ParseListingLine(line, entry);
        if (result == ListLineResult::EndOfListing)
            break;
        if (result == ListLineResult::Entry && !onEntry(std::move(entry)))
            break;
    }
    return true;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(std::size_t(written));
    }
    return true;
}

} // namespace

std::string CacheKey(std::string_view address, std::string_view remoteDirectory)
{
    std::string key(address);
    key.reserve(address.size() + remoteDirectory.size() + 8);
    for (char c : remoteDirectory) {
        if (c == '%')
            key += "%37";
        else if (c == ':')
            key += "%58";
        else
            key += c; // "/" is already this platform's separator
    }
    return key;
}

std::string CacheSiteName(std::string_view host, int port, std::string_view user)
{
    std::string name;
    if (!user.empty() && user != "anonymous" && user != "ftp") {
        for (char c : user) {
            switch (c) {
            case '%': name += "%37"; break;
            case ':': name += "%58"; break;
            case '/': name += "%47"; break;
            case '@': name += "%64"; break;
            default: name += c;
            }
        }
        name += '@';
    }
    const bool otherPort = port != 21 && port > 0;
    // An IPv6 address is bracketed, so the name reads as a URL's host part (no cache of
    // one predates this: such hosts could not be reached before).
    const bool bracket = host.find(':') != std::string_view::npos;
    if (bracket)
        name += '[';
    name += host;
    if (bracket)
        name += ']';
    if (otherPort)
        name += ':' + std::to_string(port);
    return name;
}

int ReadListFile(const std::string& path, RFILE_LIST& list)
{
    if (path.empty())
        return -1;
    const bool opened = ForEachListFileEntry(path, [&list](RFILE_DATA&& entry) {
        list.push_back(std::move(entry));
        return true;
    });
    return opened ? 0 : -1;
}

bool DeleteCacheFolder(const std::string& folder)
{
    for (const FolderChild& child : ReadFolder(folder)) {
        const std::string path = JoinPath(folder, child.name);
        if (child.isDirectory) {
            if (!DeleteCacheFolder(path))
                return false;
        } else if (child.name == kListFileName ||
                   std::string_view(child.name).substr(0, kTempListPrefix.size()) == kTempListPrefix) {
            if (::unlink(path.c_str()) != 0)
                return false;
        }
    }
    return ::rmdir(folder.c_str()) == 0;
}

CDirectoryCache::CDirectoryCache(CacheSettings settings, ICacheMessageSink* messages)
    : m_settings(std::move(settings)), m_messages(messages)
{
}

void CDirectoryCache::Show(const std::string& text) const
{
    if (m_messages)
        m_messages->ShowCacheMessage(text);
}

std::string CDirectoryCache::GetCacheListPath(std::string_view address,
                                              std::string_view remoteDirectory) const
{
    if (address.empty() || address.find(kPathSeparator) != std::string_view::npos ||
        address.find('\0') != std::string_view::npos ||
        remoteDirectory.find('\0') != std::string_view::npos)
        return {};
    const std::string key = CacheKey(address, remoteDirectory);
    if (HasUnsafeComponent(key))
        return {};
    const std::string folder = TrimTrailingSeparator(JoinPath(m_settings.homeDirectory, key));
    return folder + kPathSeparator + std::string(kListFileName);
}

int CDirectoryCache::UpdateDirectoryCache(std::string_view address,
                                          std::string_view remoteDirectory,
                                          std::string_view listingText)
{
    if (!m_settings.enableCache)
        return -2;
    const std::string listPath = GetCacheListPath(address, remoteDirectory);
    if (listPath.empty()) {
        Show("Can't open file " + JoinPath(m_settings.homeDirectory, CacheKey(address, remoteDirectory)));
        return -1;
    }
    const std::string folder = ParentPath(listPath);
    // A failure here shows up as the list file that cannot be opened.
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    if (!WriteListFile(folder, listPath, listingText))
        return -1;
    PruneVanishedFolders(folder, listingText);
    return 1;
}

// Only a list file that cannot be created fails the update; a failed write is reported
// and the update goes on.
bool CDirectoryCache::WriteListFile(const std::string& folder, const std::string& listPath,
                                    std::string_view text)
{
    std::string tempPath = JoinPath(folder, std::string(kTempListPrefix) + "XXXXXX");
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        Show("Can't open file " + listPath);
        return false;
    }
    const bool written = WriteAll(fd, text);
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(tempPath.c_str(), listPath.c_str()) == 0)
        return true;
    // The old list file no longer matches the server: drop it too, so the directory is
    // listed live next time.
    ::unlink(tempPath.c_str());
    ::unlink(listPath.c_str());
    Show("Error when updating directory cache!");
    return true;
}

void CDirectoryCache::PruneVanishedFolders(const std::string& folder, std::string_view listingText)
{
    // Only the few subfolders are kept in memory, never the entries of a big listing.
    std::unordered_multimap<std::string, std::string> vanished; // lower-case name -> folder name
    for (const FolderChild& child : ReadFolder(folder))
        if (child.isDirectory)
            vanished.emplace(AsciiLower(child.name), child.name);
    if (vanished.empty())
        return;
    const std::int64_t now = std::time(nullptr);
    ForEachListingLine(listingText, [&](std::string_view line) {
        ListedEntry entry;
        const ListLineResult result = ParseListingLine(line, entry, now);
        if (result == ListLineResult::Entry)
            vanished.erase(AsciiLower(CacheKey("", entry.name))); // folder names are escaped
        return result != ListLineResult::EndOfListing && !vanished.empty();
    });
    for (const auto& [lower, name] : vanished)
        DeleteCacheFolder(JoinPath(folder, name));
}

bool CDirectoryCache::DeleteCachedList(std::string_view address, std::string_view remoteDirectory)
{
    const std::string listPath = GetCacheListPath(address, remoteDirectory);
    return !listPath.empty() && ::unlink(listPath.c_str()) == 0;
}

int CDirectoryCache::LoadCachedList(std::string_view address, std::string_view remoteDirectory,
                                    RFILE_LIST& list) const
{
    return ReadListFile(GetCacheListPath(address, remoteDirectory), list);
}

int CDirectoryCache::LookupCachedEntry(std::string_view address, std::string_view remoteFilePath,
                                       RFILE_DATA& entry) const
{
    const std::string listPath = GetCacheListPath(address, ParentPath(remoteFilePath));
    if (listPath.empty())
        return -1;
    const std::string name = FileNamePart(remoteFilePath);
    bool found = false;
    ForEachListFileEntry(listPath, [&](RFILE_DATA&& candidate) {
        if (candidate.strName != name)
            return true;
        entry = std::move(candidate);
        found = true;
        return false;
    });
    return found ? 0 : -1;
}
