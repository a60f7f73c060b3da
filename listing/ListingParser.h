#pragma once
// The listing-line parser: turns the text of a remote directory listing into RFILE_DATA
// records. Two layouts are understood: the Unix long listing (ten-character permission
// text first) and the DOS/IIS listing (date first, "<DIR>" for directories). Live
// listings and cached list files go through the same line steps, so a cached listing
// reads back as the live one did.

#include <cstdint>
#include <string>
#include <string_view>

#include "listing/RemoteFileData.h"

// Space, tab, LF, VT, FF, CR and the no-break space byte 0xA0.
bool IsListingWhiteSpace(unsigned char c);
std::string_view TrimListingWhiteSpace(std::string_view text);

// Field n (from 0) of the line. With separator 0 any listing white space separates;
// otherwise only that character. Runs of separators count as one and leading ones are
// skipped. A field past the last is empty.
std::string GetField(std::string_view line, int n, char separator = 0);

// Position at which white-space field n begins, or -1 when the line has fewer fields.
int GetFieldPos(std::string_view line, int n);

// "Jan" gives 1 ... "Dec" 12, exact and case-sensitive; anything else 0.
int MonthFromName(std::string_view name);

// Parses one trimmed listing line into the entry. Returns 1 when the line was accepted,
// 0 when it was rejected (the entry is then undefined). `now` is the clock the Unix
// layout uses for the current year and the one-day-in-the-future rule.
int ParseListLine(RFILE_DATA& entry, std::string_view line, std::int64_t now);
int ParseListLine(RFILE_DATA& entry, std::string_view line);

// What one raw line of a listing or list file contributes.
enum class ListLineResult {
    Entry,        // the entry was filled
    Skipped,      // a "total" line or a rejected line
    EndOfListing, // an empty (or white-space only) line: nothing after it is read
};

// The line steps shared by every reader: trim, skip "total", stop at an empty line, parse.
ListLineResult ParseListingLine(std::string_view rawLine, RFILE_DATA& entry);

// Splits a whole listing text at line feeds (runs of them count as one) and inserts every
// accepted entry at the front of the list, so the list holds the entries in reverse
// order. Stops at the first white-space-only line.
void ParseListing(std::string_view text, RFILE_LIST& list);
