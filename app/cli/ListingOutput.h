#pragma once
// Printing a listing: the text as the server sent it, or the entries in the remote pane's
// columns (Name, Size, Type, Modified, Attribute), tab-separated, ordered as the pane
// orders them by name.

#include "listing/RemoteFileData.h"

#include <cstdio>
#include <string>

// One entry as a line of `ls --long`, without the line end.
std::string LongListingLine(const RFILE_DATA& entry);

// Prints the list file; false when it cannot be read.
bool PrintListFile(const std::string& listFile, bool longListing, std::FILE* out);

// Prints a listing text as received from the server.
void PrintListingText(const std::string& text, bool longListing, std::FILE* out);
