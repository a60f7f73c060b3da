#pragma once
// Where an offline search result lives on its server. The result's URL is made of cache
// folder names, which keep the cache's escapes ("%37" for "%", "%58" for ":"); a URL
// reader would take those for percent escapes, so the way back to the server goes through
// here instead.

#include <optional>
#include <string>
#include <string_view>

struct CachedEntry {
    std::string address; // the site address (the first folder level)
    std::string folder;  // the remote folder, from "/", ending in "/"
    std::string name;    // the entry's name in it
};

// The entry a result URL ("ftp://" address, folders, name) names; empty when the text is
// not such a URL.
std::optional<CachedEntry> CachedEntryFromUrl(std::string_view url);

// A cache folder name as the server spells it.
std::string UnescapeCacheName(std::string_view name);
