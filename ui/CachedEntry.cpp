#include "ui/CachedEntry.h"

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
    entry.address = UnescapeCacheName(path.substr(0, firstSlash));
    entry.folder = UnescapeCacheName(path.substr(firstSlash, lastSlash - firstSlash + 1));
    entry.name = std::string(path.substr(lastSlash + 1));
    return entry;
}
