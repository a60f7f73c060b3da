#include "listing/ListingParser.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <functional>
#include <limits>

#include "listing/LocalTime.h"
#include "listing/MlsdListing.h"
#include "platform/TextLineReader.h"

namespace {

constexpr std::int64_t kOneDay = 86400;

// Looked up per byte of every line, so a table rather than comparisons.
constexpr std::array<bool, 256> kWhiteSpace = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        table[c] = true;
    table[0xA0] = true;
    return table;
}();

struct FieldSpan {
    std::size_t pos = 0;
    std::size_t len = 0;
};

// The first fields of a line in one pass; returns how many were found (at most max).
template <std::size_t N>
std::size_t SplitFields(std::string_view line, std::array<FieldSpan, N>& fields)
{
    std::size_t count = 0;
    std::size_t i = 0;
    while (count < N) {
        while (i < line.size() && kWhiteSpace[static_cast<unsigned char>(line[i])])
            ++i;
        if (i == line.size())
            break;
        const std::size_t start = i;
        while (i < line.size() && !kWhiteSpace[static_cast<unsigned char>(line[i])])
            ++i;
        fields[count++] = {start, i - start};
    }
    return count;
}

std::string_view FieldText(std::string_view line, const FieldSpan& span)
{
    return line.substr(span.pos, span.len);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a number the way a string-to-long conversion does: leading white space, an
// optional sign, then digits only; 0 when there are none; saturated at the limits.
std::int64_t ReadDecimal(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsListingWhiteSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) {
            value = kMax;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

// A listed size: the full 64-bit value, so files of 2 GiB and more keep their true size.
// A negative size is nonsense from the server and reads as 0.
std::uint64_t ReadSize(std::string_view text)
{
    const std::int64_t value = ReadDecimal(text);
    return value < 0 ? 0 : std::uint64_t(value);
}

int ClampToInt(std::int64_t value)
{
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(value);
}

// A name a later download could follow out of its folder is never accepted: no real
// server lists a name with "/" or a NUL byte, and "." and ".." are not entries.
bool IsSafeEntryName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// The name column: everything after the single blank that ends the field before it, so
// names keep leading and trailing blanks (and a name of blanks only is a name). A line
// that ends with that field has no name and is not an entry.
bool NameAfterField(std::string_view line, std::size_t fieldCount, std::size_t field,
                    const std::array<FieldSpan, 9>& fields, std::string_view& name)
{
    if (field >= fieldCount)
        return false;
    const std::size_t start = fields[field].pos + fields[field].len + 1;
    if (start >= line.size())
        return false;
    name = line.substr(start);
    return true;
}

int ParseUnixLine(ListedEntry& entry, std::string_view line, std::int64_t now)
{
    std::array<FieldSpan, 9> fields{};
    const std::size_t count = SplitFields(line, fields);
    auto field = [&](std::size_t n) {
        return n < count ? FieldText(line, fields[n]) : std::string_view();
    };

    const std::string_view permissions = field(0);
    if (permissions.size() != 10)
        return 0;
    // Listings without a group column have the size one column earlier.
    const std::size_t shift = (field(4).empty() || !IsDigit(field(4)[0])) ? 1 : 0;

    const int month = MonthFromName(field(5 - shift));
    const std::int64_t day = ReadDecimal(field(6 - shift));
    if (month == 0 || day < 1 || day > 31)
        return 0;

    const std::string_view yearOrTime = field(7 - shift);
    std::int64_t year = 0;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    const std::size_t colon = yearOrTime.find(':');
    if (colon != std::string_view::npos) {
        hour = ReadDecimal(yearOrTime.substr(0, colon));
        minute = ReadDecimal(yearOrTime.substr(colon + 1));
        year = LocalYearAt(now);
    } else {
        year = ReadDecimal(yearOrTime);
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || year > 9999)
        return 0;
    if (year < 1970)
        year = 1970;

    std::int64_t modified = 0;
    if (!LocalCalendarToTime(int(year), month, int(day), int(hour), int(minute), modified))
        return 0;
    // Listings leave out the year of recent files; a date more than a day ahead belongs
    // to the year before.
    if (modified > now + kOneDay &&
        !LocalCalendarToTime(int(year) - 1, month, int(day), int(hour), int(minute), modified))
        return 0;

    // A line written from a machine-readable listing carries the exact time in UTC as
    // its group, under the owner "mlsd"; the date columns hold only its day.
    std::int64_t exact = 0;
    const bool exactTime = shift == 0 && field(2) == "mlsd" && ParseMlsdTime(field(3), exact);
    if (exactTime)
        modified = exact;

    std::string_view name;
    if (!NameAfterField(line, count, 7 - shift, fields, name))
        return 0;
    // Only a link carries its target after " -> "; any other name is taken whole.
    const std::size_t arrow = permissions[0] == 'l' ? name.find(" -> ") : std::string_view::npos;
    if (arrow != std::string_view::npos)
        name = name.substr(0, arrow);
    if (!IsSafeEntryName(name))
        return 0;

    entry.attribute = permissions;
    entry.size = ReadSize(field(4 - shift));
    entry.directory = permissions[0] != '-';
    entry.modified = modified;
    entry.exactTime = exactTime;
    entry.name = name;
    return 1;
}

// Month, day and year of an MM-DD-YY date (IIS may also write a four-digit year).
bool ReadDosDate(std::string_view date, int& year, int& month, int& day)
{
    if (date.find('-') == std::string_view::npos)
        return false;
    const std::string monthText = GetField(date, 0, '-');
    const std::string dayText = GetField(date, 1, '-');
    const std::string yearText = GetField(date, 2, '-');
    const std::int64_t m = ReadDecimal(monthText);
    const std::int64_t d = ReadDecimal(dayText);
    std::int64_t y = ReadDecimal(yearText);
    if (m < 1 || m > 12 || d < 1 || d > 31 || y < 0)
        return false;
    std::size_t digits = 0;
    while (digits < yearText.size() && IsDigit(yearText[digits]))
        ++digits;
    if (digits <= 2)
        y += y < 69 ? 2000 : 1900;
    else if (digits != 4)
        return false;
    year = int(y);
    month = int(m);
    day = int(d);
    return true;
}

// hh:mm with an optional AM/PM suffix, read at fixed positions.
bool ReadDosTime(std::string_view time, int& hour, int& minute)
{
    std::int64_t h = ReadDecimal(time.substr(0, 2));
    const std::int64_t m = time.size() > 3 ? ReadDecimal(time.substr(3, 2)) : 0;
    const std::string_view suffix = time.size() >= 2 ? time.substr(time.size() - 2) : "";
    if (suffix == "PM") {
        if (h >= 1 && h <= 11)
            h += 12;
    } else if (h == 12 && suffix == "AM") {
        h = 0;
    }
    if (h < 0 || h > 23 || m < 0 || m > 59)
        return false;
    hour = int(h);
    minute = int(m);
    return true;
}

int ParseDosLine(ListedEntry& entry, std::string_view line)
{
    std::array<FieldSpan, 9> fields{};
    const std::size_t count = SplitFields(line, fields);
    auto field = [&](std::size_t n) {
        return n < count ? FieldText(line, fields[n]) : std::string_view();
    };

    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!ReadDosDate(field(0), year, month, day) || !ReadDosTime(field(1), hour, minute))
        return 0;
    std::int64_t modified = 0;
    if (!LocalCalendarToTime(year, month, day, hour, minute, modified))
        return 0;

    const std::string_view sizeOrDir = field(2);
    const bool directory = sizeOrDir == "<DIR>";
    std::string_view name;
    if (!NameAfterField(line, count, 2, fields, name))
        return 0;
    if (directory) {
        // "<DIR>" stands padded in the size column; the name starts where a size line's
        // name does (22 columns after the time) when the blanks reach that far, else at
        // the first character after the blanks.
        const std::size_t column = fields[1].pos + fields[1].len + 22;
        const std::size_t afterDir = fields[2].pos + fields[2].len;
        std::size_t blanksEnd = afterDir;
        while (blanksEnd < line.size() && IsListingWhiteSpace(line[blanksEnd]))
            ++blanksEnd;
        if (column > afterDir && column < line.size() && blanksEnd >= column)
            name = line.substr(column);
        else if (blanksEnd < line.size())
            name = line.substr(blanksEnd);
    }
    if (!IsSafeEntryName(name))
        return 0;

    entry.directory = directory;
    entry.size = directory ? 0 : ReadSize(sizeOrDir);
    entry.attribute = {};
    entry.modified = modified;
    entry.exactTime = false;
    entry.name = name;
    return 1;
}

} // namespace

bool IsListingWhiteSpace(unsigned char c)
{
    return kWhiteSpace[c];
}

std::size_t LeadingWhiteSpace(std::string_view text)
{
    std::size_t count = 0;
    while (count < text.size() && IsListingWhiteSpace(text[count]))
        ++count;
    return count;
}

std::string_view WithoutLineEnd(std::string_view line)
{
    // A cached line may end in CR CR LF (a CR LF written through a text-mode translation).
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::string_view TrimListingWhiteSpace(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsListingWhiteSpace(text[begin]))
        ++begin;
    while (end > begin && IsListingWhiteSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string GetField(std::string_view line, int n, char separator)
{
    auto isSeparator = [separator](unsigned char c) {
        return separator ? c == static_cast<unsigned char>(separator) : IsListingWhiteSpace(c);
    };
    std::size_t i = 0;
    for (int field = 0;; ++field) {
        while (i < line.size() && isSeparator(line[i]))
            ++i;
        if (i == line.size())
            return {};
        const std::size_t start = i;
        while (i < line.size() && !isSeparator(line[i]))
            ++i;
        if (field == n)
            return std::string(line.substr(start, i - start));
    }
}

int GetFieldPos(std::string_view line, int n)
{
    if (n < 0)
        return -1;
    std::size_t i = 0;
    for (int field = 0;; ++field) {
        while (i < line.size() && kWhiteSpace[static_cast<unsigned char>(line[i])])
            ++i;
        if (i == line.size())
            return -1;
        if (field == n)
            return ClampToInt(std::int64_t(i));
        while (i < line.size() && !kWhiteSpace[static_cast<unsigned char>(line[i])])
            ++i;
    }
}

int MonthFromName(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (name == kMonths[i])
            return int(i) + 1;
    return 0;
}

int ParseListLine(ListedEntry& entry, std::string_view line, std::int64_t now)
{
    // Leading white space is not expected, but the layout is chosen by field 0. At the
    // end only the line end goes: blanks there belong to the name.
    const std::string_view trimmed = WithoutLineEnd(line.substr(LeadingWhiteSpace(line)));
    if (TrimListingWhiteSpace(trimmed).empty())
        return 0;
    if (IsDigit(trimmed[0]))
        return ParseDosLine(entry, trimmed);
    return ParseUnixLine(entry, trimmed, now);
}

int ParseListLine(RFILE_DATA& entry, std::string_view line, std::int64_t now)
{
    ListedEntry listed;
    if (!ParseListLine(listed, line, now))
        return 0;
    entry.strName.assign(listed.name);
    entry.strAttribute.assign(listed.attribute);
    entry.tmModified = listed.modified;
    entry.bExactTime = listed.exactTime;
    entry.SetFileSize(listed.size);
    entry.bDirectory = listed.directory;
    return 1;
}

int ParseListLine(RFILE_DATA& entry, std::string_view line)
{
    return ParseListLine(entry, line, std::int64_t(std::time(nullptr)));
}

template <class Entry>
static ListLineResult ParseListingLineInto(std::string_view rawLine, Entry& entry, std::int64_t now)
{
    const std::string_view line = WithoutLineEnd(rawLine.substr(LeadingWhiteSpace(rawLine)));
    if (line.substr(0, 5) == "total")
        return ListLineResult::Skipped;
    if (TrimListingWhiteSpace(line).empty())
        return ListLineResult::EndOfListing;
    return ParseListLine(entry, line, now) ? ListLineResult::Entry : ListLineResult::Skipped;
}

ListLineResult ParseListingLine(std::string_view rawLine, RFILE_DATA& entry)
{
    return ParseListingLineInto(rawLine, entry, std::int64_t(std::time(nullptr)));
}

ListLineResult ParseListingLine(std::string_view rawLine, ListedEntry& entry, std::int64_t now)
{
    return ParseListingLineInto(rawLine, entry, now);
}

void ForEachListingLine(std::string_view text, const std::function<bool(std::string_view)>& onLine)
{
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && text[i] == '\n')
            ++i;
        if (i == text.size())
            return;
        std::size_t end = text.find('\n', i);
        if (end == std::string_view::npos)
            end = text.size();
        // A line too long for the list-file reader is skipped here too, so the cached
        // listing reads back as the live one.
        if (end - i <= CTextLineReader::kMaxLineLength + 2 && !onLine(text.substr(i, end - i)))
            return;
        i = end;
    }
}

void ParseListing(std::string_view text, RFILE_LIST& list)
{
    const std::int64_t now = std::time(nullptr);
    ForEachListingLine(text, [&](std::string_view line) {
        ListedEntry listed;
        const ListLineResult result = ParseListingLine(line, listed, now);
        if (result == ListLineResult::Entry) {
            // "." and ".." are rejected by the line parser itself.
            RFILE_DATA& entry = list.emplace_front();
            entry.strName.assign(listed.name);
            entry.strAttribute.assign(listed.attribute);
            entry.tmModified = listed.modified;
            entry.bExactTime = listed.exactTime;
            entry.SetFileSize(listed.size);
            entry.bDirectory = listed.directory;
        }
        return result != ListLineResult::EndOfListing;
    });
}
