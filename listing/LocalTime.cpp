#include "listing/LocalTime.h"

#include <array>
#include <ctime>

namespace {

// One hour of local time: the conversion of hh:00, to which the minutes are added. Within
// an hour the offset from UTC does not change (time-zone switches fall on whole hours).
struct HourSlot {
    std::uint64_t key = 0; // 0 marks an empty slot
    std::int64_t start = 0;
    bool valid = false;
};

constexpr std::size_t kHourSlots = 8192;

std::uint64_t HourKey(int year, int month, int day, int hour)
{
    // year fits 32 bits, month 4, day 5, hour 5; +1 keeps the key of a real hour non-zero.
    return ((((std::uint64_t(std::uint32_t(year)) << 4 | unsigned(month)) << 5 | unsigned(day))
             << 5) | unsigned(hour)) + 1;
}

bool ConvertHour(int year, int month, int day, int hour, std::int64_t& start)
{
    std::tm calendar{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = day;
    calendar.tm_hour = hour;
    calendar.tm_isdst = -1;
    const std::time_t converted = std::mktime(&calendar);
    // A listed time has no seconds, so -1 (one second before 1970) is only ever the
    // failure value.
    if (converted == std::time_t(-1))
        return false;
    start = converted;
    return true;
}

} // namespace

bool LocalCalendarToTime(int year, int month, int day, int hour, int minute,
                         std::int64_t& result)
{
    if (year < -1000000 || year > 1000000 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    thread_local std::array<HourSlot, kHourSlots> slots;
    const std::uint64_t key = HourKey(year, month, day, hour);
    HourSlot& slot = slots[(key * 0x9E3779B97F4A7C15ull) >> 51];
    if (slot.key != key) {
        slot.key = key;
        slot.valid = ConvertHour(year, month, day, hour, slot.start);
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
