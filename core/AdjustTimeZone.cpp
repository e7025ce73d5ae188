// Shifting a calendar time by whole hours, in plain integer arithmetic.

#include <cstdint>

#include "QuorvelDlg.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

bool IsLeapYear(std::int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

int CQuorvelDlg::AdjustTimeZone(int offsetHours, int year, int month, int day, int hour,
                                int minute, int second, int* outYear, int* outMonth,
                                int* outDay, int* outHour, int* outMinute, int* outSecond)
{
    if (offsetHours < -12 || offsetHours > 14)
        return -1;
    if (month < 1 || month > 12)
        return -1;

    // The leap-year rule is applied to the input year only.
    const int daysInMonth[13] = {0,  31, IsLeapYear(year) ? 29 : 28, 31, 30, 31, 30,
                                 31, 31, 30,                         31, 30, 31};

    // 64-bit: the fields come from the network unchecked, so the sum of
    // seconds and the year may pass the range of int.
    std::int64_t t = ((static_cast<std::int64_t>(offsetHours) + hour) * 60 + minute) * 60 + second;
    std::int64_t y = year;
    int m = month;
    std::int64_t d = day;

    if (t < 0) {
        const std::int64_t k = (kSecondsPerDay - 1 - t) / kSecondsPerDay;
        t += kSecondsPerDay * k;
        for (std::int64_t i = 0; i < k; ++i) {
            if (d - 1 >= 1) {
                --d;
            } else {
                if (m - 1 >= 1) {
                    --m;
                } else {
                    m = 12;
                    --y;
                }
                d = daysInMonth[m];
            }
        }
    }
    if (t >= kSecondsPerDay) {
        const std::int64_t k = t / kSecondsPerDay;
        t %= kSecondsPerDay;
        for (std::int64_t i = 0; i < k; ++i) {
            ++d;
            if (d > daysInMonth[m]) {
                d = 1;
                if (++m > 12) {
                    m = 1;
                    ++y;
                }
            }
        }
    }

    *outYear = static_cast<int>(y);
    *outMonth = m;
    *outDay = static_cast<int>(d);
    *outHour = static_cast<int>(t / 3600);
    *outMinute = static_cast<int>((t % 3600) / 60);
    *outSecond = static_cast<int>(t % 60);
    return 0;
}
