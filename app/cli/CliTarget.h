#pragma once
// What a remote command's URL or path names: the connection to open and the remote path.
// A URL is ftp://[user[:password]@]host[:port]/path ("ftp://" may be left out); with
// --site NAME the stored site gives the connection and the argument names only the path.

#include "app/cli/CliOptions.h"
#include "session/SessionSite.h"
#include "sites/Settings.h"
#include "sites/SiteSetting.h"

#include <string>

inline constexpr char kPasswordVariable[] = "TOLLVANE_PASSWORD";

struct CliTarget {
    CSessionSite site;
    std::string path; // decoded remote path; empty: the directory the login starts in
};

// Fills `target` from the argument and the options. The password is, in this order:
// --password, the URL's, $TOLLVANE_PASSWORD (`environmentPassword`, null when unset),
// the stored site's. False with the reason in *error (never showing a password).
bool ResolveCliTarget(const std::string& argument, const CliOptions& options, const SiteList& sites,
                      const char* environmentPassword, CliTarget& target, std::string* error);

// The URL with any password replaced by "****", for messages.
std::string MaskUrlPassword(const std::string& url);
