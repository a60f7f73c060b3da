#pragma once
// "site.dat": eleven lines per record, read by position. A record whose encryption is not
// plain has one more line, "encryption=N", after "passive": readers that know only eleven
// lines skip it as they skip the blank line, and files without encrypted sites are
// written exactly as before.

#include "sites/SiteSetting.h"

#include <string>

// Appends the records of the file to `list`. A missing file adds nothing; a truncated last
// record is dropped; duplicate names are kept.
void LoadSiteFile(const std::string& path, SiteList& list);

// The file text for `list`, passwords encoded.
std::string FormatSiteFile(const SiteList& list);

// Replaces the file as a whole (readable by its owner only: it holds passwords). On failure
// the old file stays and *error tells why.
bool SaveSiteFile(const std::string& path, const SiteList& list, std::string* error = nullptr);

// The message the user sees when the site file cannot be written.
std::string SiteFileWriteFailedMessage(const std::string& path, const std::string& reason);
