// Shifting a calendar time by whole hours.

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

#include "dialog_fixture.h"

namespace {

struct Fields {
    int year, month, day, hour, minute, second;
    bool operator==(const Fields& o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour &&
               minute == o.minute && second == o.second;
    }
};

std::ostream& operator<<(std::ostream& os, const Fields& f)
{
    return os << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute
              << ':' << f.second;
}

struct Case {
    const char* label;
    int offset;
    Fields in;
    Fields out;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

const Case kCases[] = {
    {"plain +8", 8, {2025, 2, 13, 11, 46, 19}, {2025, 2, 13, 19, 46, 19}},
    {"into 29 Feb of a leap year", 8, {2024, 2, 28, 16, 0, 0}, {2024, 2, 29, 0, 0, 0}},
    {"past 28 Feb of a common year", 8, {2023, 2, 28, 16, 0, 0}, {2023, 3, 1, 0, 0, 0}},
    {"into the next year", 8, {2024, 12, 31, 20, 30, 0}, {2025, 1, 1, 4, 30, 0}},
    {"last second of a 30-day month", 8, {2025, 4, 30, 15, 59, 59}, {2025, 4, 30, 23, 59, 59}},
    {"back into 28 Feb", -5, {2025, 3, 1, 3, 0, 0}, {2025, 2, 28, 22, 0, 0}},
    {"back into 29 Feb", -5, {2024, 3, 1, 3, 0, 0}, {2024, 2, 29, 22, 0, 0}},
    {"back into the previous year", -5, {2025, 1, 1, 0, 0, 0}, {2024, 12, 31, 19, 0, 0}},
    {"lowest offset", -12, {2025, 6, 1, 0, 0, 0}, {2025, 5, 31, 12, 0, 0}},
    {"highest offset", 14, {2025, 6, 30, 10, 0, 0}, {2025, 7, 1, 0, 0, 0}},
    {"second 60 carries", 0, {2025, 6, 30, 23, 59, 60}, {2025, 7, 1, 0, 0, 0}},
    {"1900 is not a leap year", 8, {1900, 2, 28, 16, 0, 0}, {1900, 3, 1, 0, 0, 0}},
    {"2000 is a leap year", 8, {2000, 2, 28, 16, 0, 0}, {2000, 2, 29, 0, 0, 0}},
    {"several days forward", 0, {2025, 1, 30, 72, 0, 0}, {2025, 2, 2, 0, 0, 0}},
    {"several days back", 0, {2025, 3, 2, -49, 0, 0}, {2025, 2, 27, 23, 0, 0}},
};

class AdjustTimeZoneTable : public DialogTest, public ::testing::WithParamInterface<Case> {};

TEST_P(AdjustTimeZoneTable, CarriesAcrossDaysMonthsAndYears)
{
    const Case& c = GetParam();
    Fields got = {-1, -1, -1, -1, -1, -1};
    ASSERT_EQ(0, dlg.AdjustTimeZone(c.offset, c.in.year, c.in.month, c.in.day, c.in.hour,
                                    c.in.minute, c.in.second, &got.year, &got.month, &got.day,
                                    &got.hour, &got.minute, &got.second));
    EXPECT_EQ(c.out, got) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Calendar, AdjustTimeZoneTable, ::testing::ValuesIn(kCases));

class AdjustTimeZoneRefusal : public DialogTest {
protected:
    // Calls with the given offset and month; returns the result and checks
    // that a refusal leaves every output untouched.
    int Call(int offset, int month)
    {
        Fields got = {-7, -7, -7, -7, -7, -7};
        const int r = dlg.AdjustTimeZone(offset, 2025, month, 1, 0, 0, 0, &got.year, &got.month,
                                         &got.day, &got.hour, &got.minute, &got.second);
        if (r != 0) {
            EXPECT_EQ((Fields{-7, -7, -7, -7, -7, -7}), got);
        }
        return r;
    }
};

TEST_F(AdjustTimeZoneRefusal, OffsetsOutsideMinus12ToPlus14AreRefused)
{
    EXPECT_EQ(-1, Call(15, 6));
    EXPECT_EQ(-1, Call(-13, 6));
}

TEST_F(AdjustTimeZoneRefusal, MonthOutsideTheTableIsRefusedNotReadPastIt)
{
    EXPECT_EQ(-1, Call(8, 0));
    EXPECT_EQ(-1, Call(8, 13));
    EXPECT_EQ(-1, Call(8, -1));
}

TEST_F(DialogTest, HostileFieldsFromTheNetworkDoNotOverflow)
{
    // The fields are not range-checked before they get here; with the
    // sanitizers on, any signed overflow would fail this test.
    int y, mo, d, h, mi, s;
    EXPECT_EQ(0, dlg.AdjustTimeZone(8, INT_MAX, 12, 31, 23, 59, 59, &y, &mo, &d, &h, &mi, &s));
    EXPECT_EQ(0, dlg.AdjustTimeZone(8, INT_MIN, 1, 1, INT_MIN, INT_MIN, INT_MIN, &y, &mo, &d, &h,
                                    &mi, &s));
    EXPECT_GE(h, 0);
    EXPECT_LT(h, 24);
}

}  // namespace
