#include "app/cli/ListingOutput.h"

#include "app/cli/CommandArgs.h"
#include "app/cli/TerminalText.h"
#include "listing/AsciiCase.h"
#include "listing/EntryOrder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

// Days since 1970-01-01 to year, month and day of the Gregorian calendar.
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = int(std::int64_t(yearOfEra) + era * 400 + (month <= 2));
}

// "MM/DD/YY hh:mm" in local time, "MM/DD/YY hh:mm:ss" for a time known to the second.
// The offset from UTC is asked of the zone rules once per hour of time (they change only
// on whole hours), so a listing of a million entries is not a million conversions.
void AppendLocalTime(std::string& out, std::int64_t time, bool withSeconds)
{
    struct Slot {
        std::int64_t hour = INT64_MIN;
        long offset = 0;
        bool valid = false;
    };
    thread_local std::array<Slot, 16384> slots;
    const std::int64_t hour = time >= 0 ? time / 3600 : (time - 3599) / 3600;
    Slot& slot = slots[std::uint64_t(hour) * 0x9E3779B97F4A7C15ull >> 50];
    if (slot.hour != hour) {
        const std::time_t at = static_cast<std::time_t>(hour * 3600);
        std::tm local = {};
        slot.hour = hour;
        slot.valid = localtime_r(&at, &local) != nullptr;
        slot.offset = local.tm_gmtoff;
    }
    if (!slot.valid)
        return;
    const std::int64_t wall = time + slot.offset;
    const std::int64_t days = wall >= 0 ? wall / 86400 : (wall - 86399) / 86400;
    const std::int64_t seconds = wall - days * 86400;
    int year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    const unsigned fields[] = {month, day, unsigned(((year % 100) + 100) % 100), unsigned(seconds / 3600),
                               unsigned(seconds / 60 % 60), unsigned(seconds % 60)};
    const char separators[] = {'/', '/', ' ', ':', withSeconds ? ':' : '\0', '\0'};
    const int count = withSeconds ? 6 : 5;
    for (int i = 0; i < count; ++i) {
        out += char('0' + fields[i] / 10 % 10);
        out += char('0' + fields[i] % 10);
        if (separators[i])
            out += separators[i];
    }
}

void AppendLongListingLine(std::string& out, const ListedEntry& entry)
{
    AppendEscapedForTerminal(out, entry.name);
    out += '\t';
    out += ByteCount(entry.size);
    out += '\t';
    if (entry.directory) {
        out += kDirectoryTypeText;
    } else {
        const std::size_t dot = entry.name.rfind('.');
        if (dot != std::string_view::npos)
            AppendEscapedForTerminal(out, entry.name.substr(dot + 1));
    }
    out += '\t';
    AppendLocalTime(out, entry.modified, entry.exactTime);
    out += '\t';
    AppendEscapedForTerminal(out, entry.attribute);
}

} // namespace

std::string LongListingLine(const ListedEntry& entry)
{
    std::string line;
    AppendLongListingLine(line, entry);
    return line;
}

namespace {

// One entry of a listing as the long form keeps it while sorting: offsets into the text
// instead of copies, and the first 16 bytes of the name folded to lower case as two
// numbers that order as the name does, so most comparisons never touch the text. 48 bytes
// an entry.
struct SortedEntry {
    std::uint64_t key[2];
    std::uint32_t nameOffset;
    std::uint32_t nameLength;
    std::uint32_t attributeOffset; // the attribute is 10 bytes long, or absent (kNoAttribute)
    bool directory;
    bool exactTime;
    std::int64_t modified;
    std::uint64_t size;
};
constexpr std::uint32_t kNoAttribute = 0xFFFFFFFF;
constexpr std::size_t kKeyBytes = sizeof(SortedEntry::key);

// Names hold no NUL byte, so the zeros after a short name order it before longer ones,
// as the byte-wise comparison does.
void FillSortKey(SortedEntry& entry, std::string_view name)
{
    for (std::size_t word = 0; word < 2; ++word) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t at = word * 8 + i;
            const unsigned char c = at < name.size() ? static_cast<unsigned char>(AsciiLower(name[at])) : 0;
            value = (value << 8) | c;
        }
        entry.key[word] = value;
    }
}

// The entries in the pane's order by name (folders first, then names without regard to
// case), "." and ".." left out as the pane does.
void PrintEntries(std::string_view text, std::FILE* out)
{
    // A text too big for 32-bit offsets is listed in pieces of the long form never seen:
    // listings are bounded well below that by the data connection.
    if (text.size() >= kNoAttribute)
        text = text.substr(0, kNoAttribute - 1);
    std::vector<SortedEntry> entries;
    entries.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    const std::int64_t now = std::time(nullptr);
    const auto offsetOf = [&](std::string_view part) { return std::uint32_t(part.data() - text.data()); };
    ForEachListingLine(text, [&](std::string_view line) {
        ListedEntry entry;
        const ListLineResult result = ParseListingLine(line, entry, now);
        if (result == ListLineResult::Entry) {
            SortedEntry& sorted = entries.emplace_back();
            FillSortKey(sorted, entry.name);
            sorted.nameOffset = offsetOf(entry.name);
            sorted.nameLength = std::uint32_t(entry.name.size());
            sorted.attributeOffset = entry.attribute.size() == 10 ? offsetOf(entry.attribute) : kNoAttribute;
            sorted.directory = entry.directory;
            sorted.exactTime = entry.exactTime;
            sorted.modified = entry.modified;
            sorted.size = entry.size;
        }
        return result != ListLineResult::EndOfListing;
    });
    const auto nameOf = [&](const SortedEntry& entry) { return text.substr(entry.nameOffset, entry.nameLength); };
    // Equal names keep their listing order (the offsets), without the extra buffer a
    // stable sort takes.
    std::sort(entries.begin(), entries.end(), [&](const SortedEntry& a, const SortedEntry& b) {
        if (a.directory != b.directory)
            return a.directory;
        if (a.key[0] != b.key[0])
            return a.key[0] < b.key[0];
        if (a.key[1] != b.key[1])
            return a.key[1] < b.key[1];
        // Equal first 16 bytes: the rest of the names decides.
        const int order = (a.nameLength > kKeyBytes || b.nameLength > kKeyBytes)
                              ? CompareNoCase(nameOf(a), nameOf(b))
                              : (a.nameLength > b.nameLength) - (a.nameLength < b.nameLength);
        return order != 0 ? order < 0 : a.nameOffset < b.nameOffset;
    });
    std::string lines;
    for (const SortedEntry& sorted : entries) {
        ListedEntry entry;
        entry.name = nameOf(sorted);
        if (sorted.attributeOffset != kNoAttribute)
            entry.attribute = text.substr(sorted.attributeOffset, 10);
        entry.directory = sorted.directory;
        entry.exactTime = sorted.exactTime;
        entry.modified = sorted.modified;
        entry.size = sorted.size;
        AppendLongListingLine(lines, entry);
        lines += '\n';
        if (lines.size() >= 64 * 1024) {
            std::fwrite(lines.data(), 1, lines.size(), out);
            lines.clear();
        }
    }
    std::fwrite(lines.data(), 1, lines.size(), out);
}

void PrintRaw(std::string_view text, bool escape, std::FILE* out)
{
    if (!escape) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    // Line by line, so a big listing is not copied whole.
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string shown = EscapeForTerminal(text.substr(0, end), true);
        std::fwrite(shown.data(), 1, shown.size(), out);
        text.remove_prefix(end);
    }
}

} // namespace

bool PrintListFile(const std::string& listFile, bool longListing, bool escape, std::FILE* out)
{
    std::ifstream in(listFile, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        return false;
    PrintListingText(text, longListing, escape, out);
    return true;
}

void PrintListingText(std::string_view text, bool longListing, bool escape, std::FILE* out)
{
    if (longListing)
        PrintEntries(text, out);
    else
        PrintRaw(text, escape, out);
}
