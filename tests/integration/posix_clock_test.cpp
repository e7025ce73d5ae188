// SetSystemTime over clock_settime. Runs only inside a user namespace
// (in_netns.sh), where the kernel refuses to change the clock: a record that
// passes the checks reaches clock_settime and fails with its errno (EPERM),
// while a record the checks refuse fails with 87 and never reaches it. The
// conversion of a record to seconds since 1970 is compared with timegm.

#include <gtest/gtest.h>

#include <ctime>

#include "system_time.h"
#include "win32api.h"

namespace {

SYSTEMTIME Record(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                  int ms = 0)
{
    SYSTEMTIME t = {};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    t.wMilliseconds = static_cast<WORD>(ms);
    t.wDayOfWeek = 6;  // deliberately wrong: the call ignores it
    return t;
}

struct BadRecord {
    const char* what;
    SYSTEMTIME record;
};

class RefusedRecordTest : public ::testing::TestWithParam<BadRecord> {};

TEST_P(RefusedRecordTest, FailsWithInvalidParameterBeforeTheClockCall)
{
    SetLastError(0);
    EXPECT_FALSE(SetSystemTime(&GetParam().record));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

INSTANTIATE_TEST_SUITE_P(
    Records, RefusedRecordTest,
    ::testing::Values(BadRecord{"Year1600", Record(1600, 12, 31, 23, 59, 59)},
                      BadRecord{"Year30828", Record(30828, 1, 1)},
                      BadRecord{"Month0", Record(2025, 0, 1)},
                      BadRecord{"Month13", Record(2025, 13, 1)},
                      BadRecord{"Day0", Record(2025, 1, 0)},
                      BadRecord{"Day32", Record(2025, 1, 32)},
                      BadRecord{"April31", Record(2025, 4, 31)},
                      BadRecord{"February30InALeapYear", Record(2024, 2, 30)},
                      BadRecord{"February29In2025", Record(2025, 2, 29)},
                      BadRecord{"February29In1900", Record(1900, 2, 29)},
                      BadRecord{"Hour24", Record(2025, 2, 13, 24, 0, 0)},
                      BadRecord{"Minute60", Record(2025, 2, 13, 11, 60, 0)},
                      BadRecord{"Second60", Record(2025, 2, 13, 11, 46, 60)},
                      BadRecord{"Milliseconds1000", Record(2025, 2, 13, 11, 46, 19, 1000)},
                      BadRecord{"AllFieldsAtMaximum", Record(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                             0xFFFF, 0xFFFF, 0xFFFF)}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(RefusedRecord, NullRecordFailsWithInvalidParameter)
{
    SetLastError(0);
    EXPECT_FALSE(SetSystemTime(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

// Valid records, edges included, pass the checks: the kernel refuses them
// with EPERM (1) here. Records the Windows range allows but the kernel's
// clock cannot hold (before 1970, beyond 2262) get the kernel's own error.
struct GoodRecord {
    const char* what;
    SYSTEMTIME record;
    DWORD error;
};

class AcceptedRecordTest : public ::testing::TestWithParam<GoodRecord> {};

TEST_P(AcceptedRecordTest, ReachesTheClockCallAndFailsWithItsErrno)
{
    SetLastError(0);
    EXPECT_FALSE(SetSystemTime(&GetParam().record));
    EXPECT_EQ(GetParam().error, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(
    Records, AcceptedRecordTest,
    ::testing::Values(GoodRecord{"Ordinary", Record(2025, 2, 13, 11, 46, 19), 1},
                      GoodRecord{"LastMomentOfADay", Record(2025, 12, 31, 23, 59, 59, 999), 1},
                      GoodRecord{"February29In2024", Record(2024, 2, 29), 1},
                      GoodRecord{"February29In2000", Record(2000, 2, 29), 1},
                      GoodRecord{"April30", Record(2025, 4, 30), 1},
                      GoodRecord{"Year1601", Record(1601, 1, 1), EINVAL},
                      GoodRecord{"Year30827", Record(30827, 12, 31, 23, 59, 59, 999), EINVAL}),
    [](const auto& info) { return std::string(info.param.what); });

// The seconds handed to clock_settime, for dates across the whole range.
TEST(RecordToSeconds, AgreesWithTimegm)
{
    const SYSTEMTIME records[] = {
        Record(1601, 1, 1),           Record(1899, 12, 31, 23, 59, 59), Record(1900, 3, 1),
        Record(1969, 12, 31, 23, 59, 59), Record(1970, 1, 1),       Record(2000, 2, 29, 12),
        Record(2024, 2, 29, 23, 59, 59),  Record(2025, 2, 13, 11, 46, 19), Record(2038, 1, 19, 3, 14, 8),
        Record(2100, 3, 1),           Record(30827, 12, 31, 23, 59, 59)};
    for (const SYSTEMTIME& t : records) {
        std::tm tm = {};
        tm.tm_year = t.wYear - 1900;
        tm.tm_mon = t.wMonth - 1;
        tm.tm_mday = t.wDay;
        tm.tm_hour = t.wHour;
        tm.tm_min = t.wMinute;
        tm.tm_sec = t.wSecond;
        EXPECT_EQ(static_cast<std::int64_t>(timegm(&tm)), posix_time::ToUnixSeconds(t))
            << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    }
}

}  // namespace
