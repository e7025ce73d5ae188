// A UTC calendar time with milliseconds, and advancing it by a number of
// milliseconds. Pure integer calendar arithmetic (proleptic Gregorian): no
// mktime, no time zone.
#pragma once

#include <cstdint>

struct UtcTime {
    int year;
    int month;  // 1 to 12
    int day;    // 1 to the length of the month
    int hour;
    int minute;
    int second;
    int millisecond;
};

// Whether `t` is a time the system clock accepts: year 1601 to 30827, month
// 1 to 12, a day of that month, hour below 24, minute and second below 60
// (a leap second 60 is not one), millisecond below 1000.
bool IsClockTime(const UtcTime& t);

// Advances `t` by `milliseconds`, carrying into seconds, minutes, hours,
// days, months and years, leap days included. A `t` that is not a clock
// time is left exactly as it is, never normalised into a valid date; the
// result is false then. The result may lie beyond year 30827.
bool AdvanceUtcTime(UtcTime* t, std::uint64_t milliseconds);

// Milliseconds from 1970-01-01 00:00:00 to `t`, a clock time (IsClockTime),
// negative before 1970.
std::int64_t MillisecondsSince1970(const UtcTime& t);

// The UTC time `milliseconds` after 1970-01-01 00:00:00 (before it when
// negative).
UtcTime UtcTimeAt(std::int64_t milliseconds);
