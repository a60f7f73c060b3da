#include "listing/MlsdListing.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "listing/AsciiCase.h"
#include "listing/LocalTime.h"
#include "platform/TextLineReader.h"

namespace {

// A fact list longer than this is no server's honest listing line.
constexpr std::size_t kMaxFactsLength = 1024;
constexpr int kMaxFacts = 32;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[std::size_t(month - 1)];
}

int Number(std::string_view digits)
{
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

bool SafeName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || c == '\0' || c == '\r' || c == '\n')
            return false;
    return true;
}

// "0644", "644", "100755" or "0o644" (as some servers write octal): the permission bits
// as "rwxr-xr-x".
bool PermissionText(std::string_view mode, MlsdEntry::Type type, std::string& text)
{
    if (mode.size() > 2 && mode[0] == '0' && (mode[1] == 'o' || mode[1] == 'O'))
        mode.remove_prefix(2);
    if (mode.empty() || mode.size() > 7)
        return false;
    unsigned bits = 0;
    for (char c : mode) {
        if (c < '0' || c > '7')
            return false;
        bits = bits * 8 + unsigned(c - '0');
    }
    text = type == MlsdEntry::Type::Directory ? "d" : type == MlsdEntry::Type::Link ? "l" : "-";
    static constexpr char kLetters[] = "rwx";
    for (int i = 8; i >= 0; --i)
        text += (bits >> i) & 1 ? kLetters[(8 - i) % 3] : '-';
    return true;
}

} // namespace

bool ParseMlsdTime(std::string_view text, std::int64_t& seconds)
{
    const std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        const std::string_view fraction = text.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 9 || !AllDigits(fraction))
            return false;
        text = text.substr(0, dot);
    }
    if (text.size() != 14 || !AllDigits(text))
        return false;
    const int year = Number(text.substr(0, 4));
    const int month = Number(text.substr(4, 2));
    const int day = Number(text.substr(6, 2));
    const int hour = Number(text.substr(8, 2));
    const int minute = Number(text.substr(10, 2));
    const int second = Number(text.substr(12, 2));
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 60)
        return false;
    seconds = DaysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

MlsdLineResult ParseMlsdLine(std::string_view line, MlsdEntry& entry, std::string& problem)
{
    entry = MlsdEntry{};
    if (line.size() > CTextLineReader::kMaxLineLength) {
        problem = "line too long";
        return MlsdLineResult::Rejected;
    }
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        problem = "no name";
        return MlsdLineResult::Rejected;
    }
    std::string_view facts = line.substr(0, blank);
    const std::string_view name = line.substr(blank + 1);
    if (facts.size() > kMaxFactsLength) {
        problem = "too many facts";
        return MlsdLineResult::Rejected;
    }
    if (!facts.empty() && facts.back() != ';') {
        problem = "facts do not end with \";\"";
        return MlsdLineResult::Rejected;
    }

    std::string_view type, size, modify, mode;
    int count = 0;
    while (!facts.empty()) {
        const std::size_t end = facts.find(';');
        const std::string_view fact = facts.substr(0, end);
        facts.remove_prefix(end + 1);
        const std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos || equals == 0 || ++count > kMaxFacts) {
            problem = "malformed fact \"" + std::string(fact) + "\"";
            return MlsdLineResult::Rejected;
        }
        const std::string factName = AsciiLower(fact.substr(0, equals));
        const std::string_view value = fact.substr(equals + 1);
        std::string_view* slot = factName == "type"        ? &type
                                 : factName == "size"      ? &size
                                 : factName == "modify"    ? &modify
                                 : factName == "unix.mode" ? &mode
                                                           : nullptr;
        if (slot == nullptr)
            continue;  // facts we do not use
        if (slot->data() != nullptr) {
            problem = "repeated fact \"" + factName + "\"";
            return MlsdLineResult::Rejected;
        }
        *slot = value.data() ? value : std::string_view("", 0);
    }

    const std::string lowerType = AsciiLower(type);
    if (lowerType == "cdir" || lowerType == "pdir")
        return MlsdLineResult::NotEntry;
    if (lowerType == "file") {
        entry.type = MlsdEntry::Type::File;
    } else if (lowerType == "dir") {
        entry.type = MlsdEntry::Type::Directory;
    } else if (lowerType.starts_with("os.unix=slink") || lowerType == "os.unix=symlink") {
        entry.type = MlsdEntry::Type::Link;
    } else if (type.data() == nullptr) {
        problem = "no type";
        return MlsdLineResult::Rejected;
    } else {
        problem = "unknown type \"" + std::string(type) + "\"";
        return MlsdLineResult::Rejected;
    }

    if (size.data() != nullptr) {
        if (!AllDigits(size) || size.size() > 19) {
            problem = "absurd size \"" + std::string(size) + "\"";
            return MlsdLineResult::Rejected;
        }
        for (char c : size)
            entry.size = entry.size * 10 + std::uint64_t(c - '0');
    } else if (entry.type == MlsdEntry::Type::File) {
        problem = "no size";
        return MlsdLineResult::Rejected;
    }

    if (modify.data() != nullptr) {
        if (!ParseMlsdTime(modify, entry.modified)) {
            problem = "absurd time \"" + std::string(modify) + "\"";
            return MlsdLineResult::Rejected;
        }
        entry.modifiedKnown = true;
    }
    // The mode is only shown: one that cannot be read leaves the permissions unknown.
    if (mode.data() != nullptr && !PermissionText(mode, entry.type, entry.permissions))
        entry.permissions.clear();
    if (!SafeName(name)) {
        problem = "unusable name";
        return MlsdLineResult::Rejected;
    }
    entry.name.assign(name);
    return MlsdLineResult::Entry;
}

std::string ExactListingLine(const MlsdEntry& entry)
{
    std::string line = entry.permissions;
    if (line.size() != 10) {
        // Without UNIX.mode the permissions are not known; "?" says so.
        line = entry.type == MlsdEntry::Type::Directory ? "d" : entry.type == MlsdEntry::Type::Link ? "l" : "-";
        line += "?????????";
    }
    const std::int64_t modified = entry.modifiedKnown ? entry.modified : 0;
    const std::time_t at = static_cast<std::time_t>(modified);
    std::tm utc{};
    std::tm local{};
    gmtime_r(&at, &utc);
    if (localtime_r(&at, &local) == nullptr || local.tm_year < 70)
        local = utc;  // before 1970 in local time: the old layout has no such date
    char exact[32];
    std::snprintf(exact, sizeof exact, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char date[32];
    std::snprintf(date, sizeof date, "%s %d %d", kMonths[local.tm_mon], local.tm_mday, local.tm_year + 1900);
    line += " 1 mlsd ";
    line += exact;
    line += ' ';
    line += std::to_string(entry.type == MlsdEntry::Type::File ? entry.size : 0);
    line += ' ';
    line += date;
    line += ' ';
    line += entry.name;
    return line;
}

std::string MlsdTextToListing(std::string_view text, const std::function<void(const std::string&)>& onRejected)
{
    std::string listing;
    listing.reserve(text.size() + text.size() / 2);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        MlsdEntry entry;
        std::string problem;
        switch (ParseMlsdLine(line, entry, problem)) {
        case MlsdLineResult::Entry:
            listing += ExactListingLine(entry);
            listing += '\n';
            break;
        case MlsdLineResult::NotEntry:
            break;
        case MlsdLineResult::Rejected:
            if (onRejected)
                onRejected(problem);
            break;
        }
    }
    return listing;
}
