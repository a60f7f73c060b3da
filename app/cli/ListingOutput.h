#pragma once
// Printing a listing: the text as the server sent it, or the entries in the remote pane's
// columns (Name, Size, Type, Modified, Attribute), tab-separated, ordered as the pane
// orders them by name. Entries are kept as views into the listing text, so a listing of
// a million lines costs little more than its text.

#include "listing/ListingParser.h"

#include <cstdio>
#include <string>

// One entry as a line of `ls --long`, without the line end. Server text in it is escaped
// for the terminal; sizes are shown in full, 4 GiB and more too.
std::string LongListingLine(const ListedEntry& entry);

// Prints the list file; false when it cannot be read. `escape`: the raw text is for a
// person (a terminal) and its control characters are shown escaped; the long form always
// escapes.
bool PrintListFile(const std::string& listFile, bool longListing, bool escape, std::FILE* out);

// Prints a listing text as received from the server, as PrintListFile does.
void PrintListingText(std::string_view text, bool longListing, bool escape, std::FILE* out);
