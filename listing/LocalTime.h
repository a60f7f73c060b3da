#pragma once
// Local calendar time to seconds since 1970, as listings carry it: minutes only, daylight
// saving decided by the platform's zone rules.

#include <cstdint>

// Seconds since 1970-01-01 00:00 UTC of the local date and time year-month-day
// hour:minute:00. Returns false when the platform cannot represent it.
bool LocalCalendarToTime(int year, int month, int day, int hour, int minute,
                         std::int64_t& result);

// The year of the local calendar at the given time.
int LocalYearAt(std::int64_t time);

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
