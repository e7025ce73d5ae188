#include "UtcTime.h"

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Far beyond any year the clock accepts, and far from overflowing: an
// advance this long always leaves the clock's range.
constexpr std::uint64_t kMaxAdvanceMs = 1000000000000000ULL;  // about 31,700 years

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to a date, and back (H. Hinnant's civil algorithms).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, int* m, int* d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

}  // namespace

bool IsClockTime(const UtcTime& t)
{
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12)
        return false;
    return t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour < 24 &&
           t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60 &&
           t.millisecond >= 0 && t.millisecond < 1000;
}

bool AdvanceUtcTime(UtcTime* t, std::uint64_t milliseconds)
{
    if (!IsClockTime(*t))
        return false;
    if (milliseconds > kMaxAdvanceMs)
        milliseconds = kMaxAdvanceMs;
    const std::int64_t inDay =
        ((static_cast<std::int64_t>(t->hour) * 60 + t->minute) * 60 + t->second) * 1000 +
        t->millisecond + static_cast<std::int64_t>(milliseconds);
    const std::int64_t days = DaysFromCivil(t->year, t->month, t->day) + inDay / kMsPerDay;
    const std::int64_t rest = inDay % kMsPerDay;

    std::int64_t year = 0;
    CivilFromDays(days, &year, &t->month, &t->day);
    t->year = static_cast<int>(year);
    t->hour = static_cast<int>(rest / 3600000);
    t->minute = static_cast<int>(rest / 60000 % 60);
    t->second = static_cast<int>(rest / 1000 % 60);
    t->millisecond = static_cast<int>(rest % 1000);
    return true;
}

std::int64_t MillisecondsSince1970(const UtcTime& t)
{
    const std::int64_t inDay =
        ((static_cast<std::int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 +
        t.millisecond;
    return DaysFromCivil(t.year, t.month, t.day) * kMsPerDay + inDay;
}

UtcTime UtcTimeAt(std::int64_t milliseconds)
{
    std::int64_t days = milliseconds / kMsPerDay;
    std::int64_t rest = milliseconds % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    UtcTime t = {};
    std::int64_t year = 0;
    CivilFromDays(days, &year, &t.month, &t.day);
    t.year = static_cast<int>(year);
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}
