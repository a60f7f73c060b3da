#pragma once
// The listing-line parser: turns the text of a remote directory listing into RFILE_DATA
// records. Two layouts are understood: the Unix long listing (ten-character permission
// text first) and the DOS/IIS listing (date first, "<DIR>" for directories). Live
// listings and cached list files go through the same line steps, so a cached listing
// reads back as the live one did.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "listing/RemoteFileData.h"

// Space, tab, LF, VT, FF, CR and the no-break space byte 0xA0.
bool IsListingWhiteSpace(unsigned char c);
std::string_view TrimListingWhiteSpace(std::string_view text);
// How many white-space characters the text starts with.
std::size_t LeadingWhiteSpace(std::string_view text);
// The line without its line end (any run of CR and LF at its end); other white space at the
// end stays, since it belongs to the last field (a name may end in blanks).
std::string_view WithoutLineEnd(std::string_view line);

// Field n (from 0) of the line. With separator 0 any listing white space separates;
// otherwise only that character. Runs of separators count as one and leading ones are
// skipped. A field past the last is empty.
std::string GetField(std::string_view line, int n, char separator = 0);

// Position at which white-space field n begins, or -1 when the line has fewer fields.
int GetFieldPos(std::string_view line, int n);

// "Jan" gives 1 ... "Dec" 12, exact and case-sensitive; anything else 0.
int MonthFromName(std::string_view name);

// Parses one listing line into the entry; leading white space and the line end are
// ignored, blanks before the line end belong to the name. Returns 1 when the line was accepted,
// 0 when it was rejected (the entry is then undefined). `now` is the clock the Unix
// layout uses for the current year and the one-day-in-the-future rule.
int ParseListLine(RFILE_DATA& entry, std::string_view line, std::int64_t now);

// An entry as it stands in the listing text: the texts point into the line, so it costs a
// few words of memory and lives as long as the text does.
struct ListedEntry {
    std::string_view name;
    std::string_view attribute; // Unix permission text, empty for DOS listings
    std::int64_t modified = 0;
    std::uint64_t size = 0;
    bool directory = false;
    bool exactTime = false;     // modified is the server's time to the second (an exact line)
};
int ParseListLine(ListedEntry& entry, std::string_view line, std::int64_t now);
int ParseListLine(RFILE_DATA& entry, std::string_view line);

// What one raw line of a listing or list file contributes.
enum class ListLineResult {
    Entry,        // the entry was filled
    Skipped,      // a "total" line or a rejected line
    EndOfListing, // an empty (or white-space only) line: nothing after it is read
};

// The line steps shared by every reader: drop the line end (and leading white space), skip
// "total", stop at an empty (or white-space only) line, parse.
ListLineResult ParseListingLine(std::string_view rawLine, RFILE_DATA& entry);
ListLineResult ParseListingLine(std::string_view rawLine, ListedEntry& entry, std::int64_t now);

// Calls onLine with every line of a listing text (split at line feeds, runs of them count as
// one; lines too long for the list-file reader are left out) until it returns false.
void ForEachListingLine(std::string_view text, const std::function<bool(std::string_view)>& onLine);

// Splits a whole listing text at line feeds (runs of them count as one) and inserts every
// accepted entry at the front of the list, so the list holds the entries in reverse
// order. Stops at the first white-space-only line.
void ParseListing(std::string_view text, RFILE_LIST& list);
