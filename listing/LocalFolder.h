#pragma once
// The local pane's view of one folder: every entry with its size, time and kind, read
// with one status call per entry relative to the open folder, so a folder of 100,000
// files costs no path look-ups. Links are reported as links and never followed.
//
// Usage:
//   LocalFolderListing listing = ReadLocalFolder("/home/me/src", "*.cpp;*.h");
//   if (!listing.Ok()) show(listing.errorText);
//   for (const FILE_DATA& entry : listing.entries) ...

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "listing/RemoteFileData.h"

struct LocalFolderListing {
    std::vector<FILE_DATA> entries; // in the order the file system returns them
    int error = 0;                  // errno of opening or reading the folder; 0 when read whole
    std::string errorText;          // for the user, naming the folder; empty when read whole
    std::size_t unreadable = 0;     // entries listed by name and kind only: their status
                                    // could not be read (a folder without search permission)

    bool Ok() const { return error == 0; }
};

// Reads `folder` without "." and "..". Names are the bytes the file system holds, in no
// particular encoding. `filter` is a ";"-separated list of wildcards ("*" any run of bytes,
// "?" one byte, case-sensitive) for files and links; folders are always listed, so the pane
// can still move through the tree. An empty filter takes every entry. An entry removed
// while the folder is read is left out. A folder that cannot be read gives the entries
// read so far and the error; so does a filter that cannot be compiled (no entries).
LocalFolderListing ReadLocalFolder(const std::string& folder, std::string_view filter = {});

// Seconds and nanoseconds since 1970 as the local entries carry time: 100 ns units since
// 1601-01-01 00:00 UTC.
std::int64_t LocalEntryTime(std::int64_t seconds, long nanoseconds);
