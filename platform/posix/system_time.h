// Checking and converting the calendar record of SetSystemTime, in plain
// integer arithmetic (no time zone, no mktime).
#pragma once

#include <cstdint>

#include "win32api.h"

namespace posix_time {

// Whether `t` is a calendar time Windows accepts: year 1601 to 30827,
// month 1 to 12, a day that exists in that month, hour below 24, minute and
// second below 60, milliseconds below 1000. The day of the week is ignored.
bool IsValid(const SYSTEMTIME& t);

// Seconds since 1970-01-01 00:00:00 UTC of a valid record (milliseconds
// are left out).
std::int64_t ToUnixSeconds(const SYSTEMTIME& t);

}  // namespace posix_time
