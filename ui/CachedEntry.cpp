#include "ui/CachedEntry.h"

#include "listing/DirectoryCache.h"
#include "sites/FtpUrl.h"
#include "sites/TextUtil.h"

#include <algorithm>
#include <charconv>

namespace {

// The user part of a site folder name: "%", ":", "/" and "@" were written as "%37", "%58",
// "%47" and "%64" (and "%" first, so every "%" starts one of them).
std::string UnescapeUser(std::string_view user)
{
    std::string plain;
    plain.reserve(user.size());
    for (std::size_t i = 0; i < user.size(); ++i) {
        const std::string_view escape = user.substr(i, 3);
        if (escape == "%37")
            plain += '%';
        else if (escape == "%58")
            plain += ':';
        else if (escape == "%47")
            plain += '/';
        else if (escape == "%64")
            plain += '@';
        else {
            plain += user[i];
            continue;
        }
        i += 2;
    }
    return plain;
}

std::optional<int> PortNumber(std::string_view digits)
{
    int port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

// Reads back what CacheSiteName wrote: ["user@"] host [":" port], an IPv6 host in brackets
// when a port follows. A host without a port is on 21; a user left out is anonymous.
bool ReadSiteFolder(std::string_view name, CachedEntry& entry)
{
    if (const std::size_t at = name.find('@'); at != std::string_view::npos) {
        if (at == 0)
            return false;
        entry.user = UnescapeUser(name.substr(0, at));
        name.remove_prefix(at + 1);
    }
    entry.port = 21;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':')
            return false;
        const std::optional<int> port = PortNumber(name.substr(close + 2));
        if (!port)
            return false;
        entry.host = std::string(name.substr(1, close - 1));
        entry.port = *port;
    } else if (const std::size_t colon = name.find(':');
               colon != std::string_view::npos && name.find(':', colon + 1) == std::string_view::npos) {
        const std::optional<int> port = PortNumber(name.substr(colon + 1));
        if (!port)
            return false;
        entry.host = std::string(name.substr(0, colon));
        entry.port = *port;
    } else {
        entry.host = std::string(name); // a name, an IPv4 address, or an IPv6 address on port 21
    }
    return !entry.host.empty();
}

} // namespace

std::string UnescapeCacheName(std::string_view name)
{
    // "%" was escaped before ":", so every "%" starts one of the two escapes.
    std::string plain;
    plain.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const std::string_view rest = name.substr(i);
        if (rest.substr(0, 3) == "%37") {
            plain += '%';
            i += 2;
        } else if (rest.substr(0, 3) == "%58") {
            plain += ':';
            i += 2;
        } else {
            plain += name[i];
        }
    }
    return plain;
}

std::optional<CachedEntry> CachedEntryFromUrl(std::string_view url)
{
    constexpr std::string_view kPrefix = "ftp://";
    if (url.substr(0, kPrefix.size()) != kPrefix)
        return std::nullopt;
    const std::string_view path = url.substr(kPrefix.size());
    const std::size_t firstSlash = path.find('/');
    const std::size_t lastSlash = path.rfind('/');
    if (firstSlash == std::string_view::npos || firstSlash == 0 || lastSlash + 1 >= path.size())
        return std::nullopt;
    CachedEntry entry;
    entry.siteFolder = std::string(path.substr(0, firstSlash));
    if (!ReadSiteFolder(entry.siteFolder, entry))
        return std::nullopt;
    entry.folder = UnescapeCacheName(path.substr(firstSlash, lastSlash - firstSlash + 1));
    entry.name = std::string(path.substr(lastSlash + 1));
    return entry;
}

CSiteSetting SiteForCachedEntry(const SiteList& sites, const CachedEntry& entry, const std::string& anonymousPass)
{
    // The session names its cache folder the same way, from the login it makes; folder
    // names are compared without regard to case, as the cache does.
    const auto stored = std::find_if(sites.begin(), sites.end(), [&entry](const auto& record) {
        const std::string user = record->logintype == CSiteSetting::LOGIN_ANONYMOUS ? "anonymous" : record->username;
        return sites::EqualsNoCase(CacheSiteName(record->address, record->port, user), entry.siteFolder);
    });
    CSiteSetting site;
    if (stored != sites.end()) {
        site = **stored;
    } else if (entry.user.empty()) {
        site = OpenSiteFromFields(entry.host, {}, "anonymous", anonymousPass, entry.port, true);
    } else {
        site = OpenSiteFromFields(entry.host, {}, entry.user, {}, entry.port, true);
    }
    site.defremotedir = entry.folder;
    return site;
}
