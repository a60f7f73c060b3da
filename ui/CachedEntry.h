#pragma once
// Where an offline search result lives on its server. The result's URL is made of cache
// folder names, which keep the cache's escapes ("%37" for "%", "%58" for ":"); a URL
// reader would take those for percent escapes, so the way back to the server goes through
// here instead.

#include "sites/SiteSetting.h"

#include <optional>
#include <string>
#include <string_view>

struct CachedEntry {
    // The server and account of the site folder (the first folder level, named by
    // CacheSiteName): an empty user for an anonymous login.
    std::string host;
    int port = 21;
    std::string user;
    std::string siteFolder; // the site folder's name as the cache wrote it
    std::string folder;  // the remote folder, from "/", ending in "/"
    std::string name;    // the entry's name in it
};

// The entry a result URL ("ftp://" site folder, folders, name) names; empty when the text
// is not such a URL or its site folder names no server.
std::optional<CachedEntry> CachedEntryFromUrl(std::string_view url);

// A cache folder name as the server spells it.
std::string UnescapeCacheName(std::string_view name);

// The site record that opens `entry`: the stored site whose server and account name the
// entry's site folder (its own password, login and settings), else a transient record
// for that host, port and user (anonymous with `anonymousPass` when the folder names no
// user; a named user then has no password). It starts in the entry's folder.
CSiteSetting SiteForCachedEntry(const SiteList& sites, const CachedEntry& entry, const std::string& anonymousPass);
