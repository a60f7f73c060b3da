#pragma once
// Machine-readable listings (MLSD lines, the fact lines of an MLST reply) and how they are
// kept: every accepted MLSD line becomes one "exact" long-listing line, so the directory
// cache, the panes, the offline search and older readers of list files all read the same
// text. An exact line is an ordinary Unix long-listing line whose owner is "mlsd" and
// whose group is the modification time in UTC to the second ("YYYYMMDDHHMMSS"):
//
//   -rw-r--r-- 1 mlsd 20240115123456 1234 Jan 15 2024 report; final.pdf
//
// A reader that knows the form takes the exact time from the group column; a reader that
// does not still gets the name, the size, the type and the day (written in local time, as
// every listing's dates are).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct MlsdEntry {
    enum class Type { File, Directory, Link };
    std::string name;
    Type type = Type::File;
    std::uint64_t size = 0;
    std::int64_t modified = 0;     // seconds since 1970-01-01 00:00 UTC
    bool modifiedKnown = false;
    std::string permissions;       // ten characters from UNIX.mode, empty when not given
};

enum class MlsdLineResult {
    Entry,     // the entry was filled
    NotEntry,  // the listed directory itself or its parent (cdir, pdir): left out quietly
    Rejected,  // malformed, hostile or absurd: left out, with the reason given
};

// Facts and name of one line (without its line end). The facts are "name=value;" pairs
// before the first blank, the name is everything after it (blanks and semicolons
// included). A line is rejected when it is longer than a list-file line may be, when a
// fact is malformed, repeated or absurd (size with anything but digits, a time that is
// no calendar time; a mode that cannot be read only leaves the permissions unknown),
// when type is missing, a file has no size, or the name is one a
// listing never shows ("", ".", "..", "/" or NUL inside, a line break).
MlsdLineResult ParseMlsdLine(std::string_view line, MlsdEntry& entry, std::string& problem);

// The exact long-listing line of an entry (no line end).
std::string ExactListingLine(const MlsdEntry& entry);

// The whole MLSD text as exact long-listing lines ("\n" after each); onRejected hears of
// every line left out with its reason (bounded by the caller if it wishes).
std::string MlsdTextToListing(std::string_view mlsdText,
                              const std::function<void(const std::string&)>& onRejected);

// "YYYYMMDDHHMMSS" (optionally followed by ".fraction", which is ignored) as seconds since
// 1970 UTC; false when it is not such a time or lies before 1970.
bool ParseMlsdTime(std::string_view text, std::int64_t& seconds);
