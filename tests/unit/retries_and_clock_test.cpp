// The retry schedule, writing the clock, and the one-click sequence.

#include <gtest/gtest.h>

#include <numeric>
#include <string>

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

DWORD TotalPause(const std::vector<DWORD>& sleeps)
{
    return std::accumulate(sleeps.begin(), sleeps.end(), DWORD{0});
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
    EXPECT_EQ(2500u, TotalPause(platform().sleeps));
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
    EXPECT_EQ(0, st.wMilliseconds);
    EXPECT_NE(std::string::npos, out.find("Adjusted Time: 2025-02-13 19:46:19\nSystem time successfully updated.\n"));
    EXPECT_EQ("", err);
}

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
    EXPECT_EQ(31, platform().clockWrites[0].wDay);
    EXPECT_EQ("Failed to set system time. Error: 87\n", err);
}

}  // namespace
