#include "listing/LocalTime.h"

#include <array>
#include <ctime>

namespace {


bool UtcOffsetAt(std::int64_t time, long& offset)
{
    const std::time_t instant = std::time_t(time);
    std::tm calendar{};
    if (!localtime_r(&instant, &calendar))
        return false;
    offset = calendar.tm_gmtoff;
    return true;
}

// The wall-clock value is first read as UTC, then moved by the offset from UTC in force
// at that instant; when that lands on the other side of a daylight-saving switch the
// offset found there is used instead. This asks the zone rules only through the
// reentrant local-time conversion, which, unlike mktime, does not re-read the zone file
// on every call - that alone made a big listing several times slower.
bool ConvertWallClock(int year, int month, int day, int hour, int minute, std::int64_t& result)
{
    const std::int64_t wallAsUtc =
        DaysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60;
    long firstOffset = 0;
    if (!UtcOffsetAt(wallAsUtc, firstOffset))
        return false;
    const std::int64_t first = wallAsUtc - firstOffset;
    long secondOffset = 0;
    if (!UtcOffsetAt(first, secondOffset))
        return false;
    if (secondOffset == firstOffset) {
        result = first;
        return true;
    }
    const std::int64_t second = wallAsUtc - secondOffset;
    long thirdOffset = 0;
    if (!UtcOffsetAt(second, thirdOffset))
        return false;
    // In the hour skipped by a switch neither offset fits; the earlier reading is kept.
    result = thirdOffset == secondOffset ? second : first;
    return true;
}

// The last conversions of whole hours, since the entries of one listing share few dates.
// Zone switches fall on whole hours, so the minutes are simply added.
struct HourSlot {
    std::uint64_t key = 0; // 0 marks an empty slot
    std::int64_t start = 0;
    bool valid = false;
};

} // namespace

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + std::int64_t(dayOfEra) - 719468;
}

bool LocalCalendarToTime(int year, int month, int day, int hour, int minute,
                         std::int64_t& result)
{
    if (year < -1000000 || year > 1000000 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    // year fits 21 bits after the offset, month 4, day 5, hour 5; +1 keeps a key non-zero.
    const std::uint64_t key =
        ((((std::uint64_t(year + 1000000) << 4 | unsigned(month)) << 5 | unsigned(day)) << 5) |
         unsigned(hour)) + 1;
    thread_local std::array<HourSlot, 4096> slots;
    HourSlot& slot = slots[(key * 0x9E3779B97F4A7C15ull) >> 52];
    if (slot.key != key) {
        slot.key = key;
        slot.valid = ConvertWallClock(year, month, day, hour, 0, slot.start);
    }
    if (!slot.valid)
        return false;
    result = slot.start + std::int64_t(minute) * 60;
    return true;
}

int LocalYearAt(std::int64_t time)
{
    // Read once per second of clock at most: the year changes rarely.
    thread_local std::int64_t cachedTime = -1;
    thread_local int cachedYear = 1970;
    if (time != cachedTime) {
        const std::time_t converted = std::time_t(time);
        std::tm calendar{};
        if (localtime_r(&converted, &calendar))
            cachedYear = calendar.tm_year + 1900;
        cachedTime = time;
    }
    return cachedYear;
}
