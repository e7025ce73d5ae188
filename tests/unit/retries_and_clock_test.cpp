// The retry schedule, writing the clock, and the one-click sequence.

#include <gtest/gtest.h>

#include <string>

#include "UtcTime.h"
#include "dialog_fixture.h"

namespace {

fake::Connection Good()
{
    return fake::Serve({fake::Response({kDateLine})});
}

fake::Connection Bad()
{
    return fake::Serve({fake::Response({"Server: no date"})});
}

class RetryTest : public DialogTest {};

TEST_F(RetryTest, FirstSuccessMeansOneAttemptAndNoPause)
{
    platform().connections = {Good(), Good()};
    Capture([this] { dlg.FetchWithRetries(); });
    EXPECT_EQ(1, platform().connects);
    EXPECT_TRUE(platform().sleeps.empty());
    EXPECT_EQ(1, dlg.m_bFetched);
}

TEST_F(RetryTest, ThreeFailuresThenSuccessPauseTwoAndAHalfSeconds)
{
    platform().connections = {Bad(), Bad(), Bad(), Good(), Good()};
    Capture([this] { dlg.FetchWithRetries(); });
    EXPECT_EQ(4, platform().connects);
    EXPECT_EQ((std::vector<DWORD>{500, 1000, 1000}), platform().sleeps);
    EXPECT_EQ(1, dlg.m_bFetched);
}

TEST_F(RetryTest, FiveFailuresStopAfterThreeAndAHalfSecondsAndSetNothing)
{
    platform().connections = {Bad(), Bad(), Bad(), Bad(), Bad(), Good()};
    Capture([this] { dlg.FetchAndApply(); });
    EXPECT_EQ(5, platform().connects);
    EXPECT_EQ((std::vector<DWORD>{500, 1000, 1000, 1000}), platform().sleeps);
    EXPECT_EQ(0, dlg.m_bFetched);
    EXPECT_TRUE(platform().clockWrites.empty());
}

TEST_F(RetryTest, ConnectionFailuresAreRetriedWithAMessageBoxEach)
{
    fake::Connection refused;
    refused.connectFails = true;
    platform().connections = {refused, refused, Good()};
    Capture([this] { dlg.FetchWithRetries(); });
    EXPECT_EQ(2u, platform().messageBoxes.size());
    EXPECT_EQ(1, dlg.m_bFetched);
}

class ClockTest : public DialogTest {};

TEST_F(ClockTest, FetchAndApplyWritesTheGmtTimeNotTheLocalOne)
{
    platform().connections = {Good()};
    Capture([this] { dlg.FetchAndApply(); });
    ASSERT_EQ(1u, platform().clockWrites.size());
    const SYSTEMTIME& st = platform().clockWrites[0];
    EXPECT_EQ(2025, st.wYear);
    EXPECT_EQ(2, st.wMonth);
    EXPECT_EQ(13, st.wDay);
    EXPECT_EQ(11, st.wHour);
    EXPECT_EQ(46, st.wMinute);
    EXPECT_EQ(19, st.wSecond);
    EXPECT_EQ(500, st.wMilliseconds);
    EXPECT_NE(std::string::npos, out.find("Adjusted Time: 2025-02-13 19:46:19\nSystem time successfully updated.\n"));
    EXPECT_EQ("", err);
}

// What the clock gets for the Date 11:46:19 read on one connection, when the
// answer takes its time and the set button is pressed some time later.
struct WriteCase {
    const char* label;
    std::vector<std::string> extraHeaders;
    std::vector<DWORD> chunkDelaysMs;  // before each chunk of the answer
    DWORD setAfterMs;                  // from the end of the read to the write
    int minute, second, millisecond;   // written at 11:mm:ss.ms
};

const WriteCase kWriteCases[] = {
    {"at_once_the_half_second", {}, {0}, 0, 46, 19, 500},
    {"round_trip_80ms_adds_half_of_it", {}, {80}, 0, 46, 19, 540},
    {"only_the_first_bytes_time_the_answer", {}, {80, 900}, 0, 46, 20, 440},
    {"set_pressed_3s_after_the_read", {}, {0}, 3000, 46, 22, 500},
    {"set_pressed_an_hour_later", {}, {20}, 3600000, 46, 19, 510},
    {"age_is_added", {"Age: 75"}, {0}, 0, 47, 34, 500},
    {"age_with_blanks", {"age:\t 7 "}, {0}, 0, 46, 26, 500},
    {"first_age_wins", {"Age: 1", "Age: 30"}, {0}, 0, 46, 20, 500},
    {"negative_age_ignored", {"Age: -5"}, {0}, 0, 46, 19, 500},
    {"fractional_age_ignored", {"Age: 1.5"}, {0}, 0, 46, 19, 500},
    {"ten_digit_age_ignored", {"Age: 1000000000"}, {0}, 0, 46, 19, 500},
    {"empty_age_ignored", {"Age:"}, {0}, 0, 46, 19, 500},
};

class WriteTable : public DialogTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTable, WritesTheMomentOfTheWrite)
{
    const WriteCase& c = GetParam();
    std::vector<std::string> headers = {kDateLine};
    headers.insert(headers.end(), c.extraHeaders.begin(), c.extraHeaders.end());
    const std::string answer = fake::Response(headers, "<html></html>");
    fake::Connection connection;
    const std::size_t piece = answer.size() / c.chunkDelaysMs.size() + 1;
    for (std::size_t i = 0; i < c.chunkDelaysMs.size(); ++i)
        connection.chunks.push_back(fake::Chunk{answer.substr(i * piece, piece), 0, c.chunkDelaysMs[i]});
    platform().connections = {connection};
    platform().tickMs = 123456789;
    Capture([this, &c] {
        dlg.FetchWithRetries();
        platform().tickMs += c.setAfterMs;
        dlg.ApplySystemTime();
    });
    ASSERT_EQ(1u, platform().clockWrites.size());
    const SYSTEMTIME& st = platform().clockWrites[0];
    const int hours = static_cast<int>(c.setAfterMs / 3600000);
    EXPECT_EQ((std::vector<int>{2025, 2, 13, 11 + hours, c.minute, c.second, c.millisecond}),
              (std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                st.wMilliseconds}));
    EXPECT_EQ(11, dlg.m_utcHour);  // the stored time stays the header's
    EXPECT_EQ("", err);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteTable, ::testing::ValuesIn(kWriteCases),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                             return std::string(info.param.label);
                         });

// Advancing a UTC time: the carries, and records left alone.
struct AdvanceCase {
    UtcTime from;
    std::uint64_t ms;
    UtcTime to;
    bool advanced;
};

const AdvanceCase kAdvanceCases[] = {
    {{2024, 2, 28, 23, 59, 59, 700}, 400, {2024, 2, 29, 0, 0, 0, 100}, true},
    {{2023, 2, 28, 23, 59, 59, 700}, 400, {2023, 3, 1, 0, 0, 0, 100}, true},
    {{2024, 12, 31, 23, 59, 59, 900}, 200, {2025, 1, 1, 0, 0, 0, 100}, true},
    {{2100, 2, 28, 12, 0, 0, 0}, 86400000, {2100, 3, 1, 12, 0, 0, 0}, true},
    {{2000, 2, 28, 12, 0, 0, 0}, 86400000, {2000, 2, 29, 12, 0, 0, 0}, true},
    {{2025, 2, 13, 11, 46, 19, 0}, 0, {2025, 2, 13, 11, 46, 19, 0}, true},
    {{2025, 2, 13, 11, 46, 19, 0}, 366ULL * 86400000, {2026, 2, 14, 11, 46, 19, 0}, true},
    {{30827, 12, 31, 23, 59, 59, 0}, 1000, {30828, 1, 1, 0, 0, 0, 0}, true},
    // Not a clock time: left exactly as read, whatever the advance.
    {{2025, 2, 32, 11, 46, 19, 0}, 500, {2025, 2, 32, 11, 46, 19, 0}, false},
    {{2025, 2, 29, 11, 46, 19, 0}, 500, {2025, 2, 29, 11, 46, 19, 0}, false},
    {{2025, 13, 1, 0, 0, 0, 0}, 500, {2025, 13, 1, 0, 0, 0, 0}, false},
    {{2025, 0, 1, 0, 0, 0, 0}, 500, {2025, 0, 1, 0, 0, 0, 0}, false},
    {{2025, 2, 13, 25, 0, 0, 0}, 500, {2025, 2, 13, 25, 0, 0, 0}, false},
    {{2025, 2, 13, 23, 59, 60, 0}, 500, {2025, 2, 13, 23, 59, 60, 0}, false},
    {{2025, 2, 13, 11, -1, 0, 0}, 500, {2025, 2, 13, 11, -1, 0, 0}, false},
    {{1600, 12, 31, 23, 59, 59, 0}, 1000, {1600, 12, 31, 23, 59, 59, 0}, false},
    {{70000, 1, 1, 0, 0, 0, 0}, 500, {70000, 1, 1, 0, 0, 0, 0}, false},
};

class AdvanceTable : public ::testing::TestWithParam<AdvanceCase> {};

TEST_P(AdvanceTable, CarriesOrLeavesAlone)
{
    const AdvanceCase& c = GetParam();
    UtcTime t = c.from;
    EXPECT_EQ(c.advanced, AdvanceUtcTime(&t, c.ms));
    EXPECT_EQ((std::vector<int>{c.to.year, c.to.month, c.to.day, c.to.hour, c.to.minute,
                                c.to.second, c.to.millisecond}),
              (std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}));
}

INSTANTIATE_TEST_SUITE_P(Cases, AdvanceTable, ::testing::ValuesIn(kAdvanceCases));

TEST_F(ClockTest, RefusedClockWritesTheErrorCodeOnStandardError)
{
    platform().clockResult = FALSE;
    platform().clockError = 1314;
    Capture([this] { dlg.SetSystemClock(2025, 2, 13, 11, 46, 19); });
    EXPECT_EQ("Failed to set system time. Error: 1314\n", err);
    EXPECT_EQ("", out);
    EXPECT_TRUE(platform().dlgItemTexts.empty());
    EXPECT_TRUE(platform().messageBoxes.empty());
}

TEST_F(ClockTest, ApplyBeforeAnyTimeWasReadLeavesTheClockAlone)
{
    Capture([this] { dlg.ApplySystemTime(); });
    EXPECT_TRUE(platform().clockWrites.empty());
    EXPECT_EQ("No Internet time has been read yet; the system time was not changed.\n", out);
}

TEST_F(ClockTest, ApplyAfterALaterFailureStillWritesTheLastTimeRead)
{
    platform().connections = {Good(), Bad()};
    Capture([this] {
        dlg.FetchInternetTime();
        dlg.FetchInternetTime();
        dlg.ApplySystemTime();
    });
    EXPECT_EQ(0, dlg.m_bFetched);
    ASSERT_EQ(1u, platform().clockWrites.size());
    EXPECT_EQ(11, platform().clockWrites[0].wHour);
}

TEST_F(ClockTest, FieldsBeyondSixteenBitsAreRefusedNotWrappedIntoAValidDate)
{
    // 67537 would wrap to 2001 and -65535 to 1 if cut to their low bits.
    Capture([this] {
        dlg.SetSystemClock(67537, 2, 13, 11, 46, 19);
        dlg.SetSystemClock(2025, -65535, 13, 11, 46, 19);
    });
    EXPECT_TRUE(platform().clockWrites.empty());
    EXPECT_EQ("Failed to set system time. Error: 87\nFailed to set system time. Error: 87\n", err);
}

TEST_F(ClockTest, OutOfRangeFieldsAreLeftToTheClockCallToRefuse)
{
    platform().clockResult = FALSE;
    platform().clockError = 87;
    platform().connections = {fake::Serve({fake::Response({"Date: Mon, 31 Feb 2025 24:00:61 GMT"})})};
    Capture([this] { dlg.FetchAndApply(); });
    ASSERT_EQ(1u, platform().clockWrites.size());
    const SYSTEMTIME& st = platform().clockWrites[0];
    EXPECT_EQ((std::vector<int>{2025, 2, 31, 24, 0, 61, 0}),
              (std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                st.wMilliseconds}));
    EXPECT_EQ("Failed to set system time. Error: 87\n", err);
}

}  // namespace
