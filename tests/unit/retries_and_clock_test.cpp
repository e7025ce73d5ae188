// The retry schedule, writing the clock, the one-click sequence, and narrowing
// the time down before it is written.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <ostream>
#include <string>

#include "ServerSecondSearch.h"
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

// An unattended run waits for a network that is not up yet, 60 s at most in
// all, and only after attempts that found none; the schedule goes on after.
struct NetworkWaitCase {
    const char* label;
    bool unattended;
    ConnectFailure failure;  // of each attempt that fails
    int failures;            // attempts that fail before one succeeds (5: all)
    DWORD changeAfterMs;     // the network changes this long after each watch starts
    std::vector<UINT> waits;
    const char* why;  // in the console line, when it waits
};

const NetworkWaitCase kNetworkWaitCases[] = {
    {"comes_up_after_20s", true, ConnectFailure::Unreachable, 1, 20000, {60000}, "no route to www.baidu.com"},
    {"each_wait_gets_what_is_left", true, ConnectFailure::NoName, 2, 20000, {60000, 40000},
     "www.baidu.com does not resolve"},
    {"never_comes_up_bounded", true, ConnectFailure::Unreachable, 5, 0xFFFFFFFF, {60000}, "no route"},
    {"refused_keeps_the_schedule", true, ConnectFailure::Other, 5, 0, {}, nullptr},
    {"interactive_never_waits", false, ConnectFailure::Unreachable, 5, 0, {}, nullptr},
};

class NetworkWaitTable : public DialogTest, public ::testing::WithParamInterface<NetworkWaitCase> {};

TEST_P(NetworkWaitTable, WaitsBoundedThenKeepsTheSchedule)
{
    const NetworkWaitCase& c = GetParam();
    AfxSetUnattended(c.unattended ? TRUE : FALSE);
    fake::Connection failing;
    failing.connectFails = true;
    failing.failure = c.failure;
    platform().connections.assign(static_cast<std::size_t>(c.failures), failing);
    platform().connections.push_back(Good());
    platform().networkChangeAfterMs = c.changeAfterMs;
    Capture([this] { dlg.FetchWithRetries(); });
    EXPECT_EQ(c.waits, platform().networkWaits);
    EXPECT_EQ(c.failures < 5 ? c.failures + 1 : 5, platform().connects);
    const std::vector<DWORD> schedule = {500, 1000, 1000, 1000};
    EXPECT_EQ(std::vector<DWORD>(schedule.begin(), schedule.begin() + (c.failures < 5 ? c.failures : 4)),
              platform().sleeps);
    EXPECT_EQ(static_cast<std::size_t>(c.failures), platform().messageBoxes.size());
    EXPECT_EQ(c.why != nullptr, out.find(std::string("No network yet (") + (c.why ? c.why : "")) !=
                                    std::string::npos)
        << out;
    // Bounded: the waits and the pauses, the fake's attempts taking no time.
    EXPECT_LE(platform().tickMs, 60000u + 3500u);
}

INSTANTIATE_TEST_SUITE_P(Cases, NetworkWaitTable, ::testing::ValuesIn(kNetworkWaitCases),
                         [](const ::testing::TestParamInfo<NetworkWaitCase>& info) {
                             return std::string(info.param.label);
                         });

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

// The search over a simulated server clock, at a hundred phases of its
// second: each request sent on the millisecond the plan gives, stamped
// halfway through its round trip.
TEST(ServerSecondSearch, NarrowsToTheServersSecondWhateverItsPhase)
{
    for (const std::int64_t roundTripUs : {0, 25000}) {
        for (int phase = 0; phase < 100; ++phase) {
            // The server's clock minus the tick: a real date, a fraction ahead.
            const std::int64_t truth = 1739447179 * kSecondUs + phase * 10007;
            const auto reply = [&](std::int64_t sentUs) {
                return DateReply{sentUs, sentUs + roundTripUs,
                                 (sentUs + roundTripUs / 2 + truth) / kSecondUs};
            };
            const DateReply first = reply(5000000);
            OffsetSearch search = StartOffsetSearch(first);
            const std::int64_t deadline = first.answeredUs + 4800000;
            std::int64_t now = first.answeredUs;
            int requests = 1;
            std::int64_t midpoint = 0;
            while (requests < 8 &&
                   NextProbeMidpoint(KeptOffsets(search),
                                     {8 - requests, now + roundTripUs / 2 + 2000,
                                      deadline - roundTripUs / 2, roundTripUs + 2000},
                                     &midpoint)) {
                const std::int64_t sent =
                    std::max(now, (midpoint - roundTripUs / 2 + 500) / 1000 * 1000);
                const DateReply r = reply(sent);
                ASSERT_NE(ReplyFit::Contradicting, AddDateReply(&search, r));
                now = r.answeredUs;
                ++requests;
            }
            const OffsetRange kept = KeptOffsets(search);
            EXPECT_LE(kept.low, truth) << roundTripUs << " " << phase;
            EXPECT_GT(kept.high, truth) << roundTripUs << " " << phase;
            EXPECT_LE(kept.high - kept.low, roundTripUs == 0 ? 9500 : 11500)
                << roundTripUs << " " << phase;
            EXPECT_LE(now, deadline) << roundTripUs << " " << phase;
        }
    }
}

// The Date line of the second that holds `us` microseconds since 1970 (the
// weekday is not read).
std::string DateLineAt(std::int64_t us)
{
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const UtcTime t = UtcTimeAt(us / 1000);
    char line[64];
    std::snprintf(line, sizeof line, "Date: Thu, %02d %s %d %02d:%02d:%02d GMT", t.day,
                  kMonths[t.month - 1], t.year, t.hour, t.minute, t.second);
    return line;
}

// FetchRefineAndApply (`auto precise`) against a simulated server whose clock
// runs a fraction of a second ahead of the Date of kDateLine at tick 0.
struct PreciseCase {
    const char* label;
    std::int64_t aheadUs;
    DWORD roundTripMs;
    bool age;                // every answer has an Age field
    int stepAfter;           // after this many answers the server's clock
    std::int64_t stepUs;     // steps by this much (0: never)
    const char* line;        // the console line that ends the refinement
    bool refined;            // the clock gets the refined time, not the
                             // one-request estimate
    bool everyOther = false; // the step applies to every other answer only
                             // (a second clock, a Date stamped late): the
                             // run either prints a range holding the first
                             // clock or says that the replies disagree
};

const PreciseCase kPreciseCases[] = {
    {"fraction_ahead_over_a_26ms_link", 370000, 26, false, 0, 0, "Precise time: range ", true},
    {"age_keeps_the_one_request_estimate", 370000, 0, true, 0, 0,
     "Precise time skipped: the Date came from a cache (it has an Age field); "
     "the one-request estimate is kept.\n",
     false},
    {"clock_stepping_2s_is_a_contradiction", 810000, 0, false, 3, 2000000,
     "Precise time abandoned: the Date of request 4 contradicts the earlier replies; "
     "the one-request estimate is kept.\n",
     false},
    {"two_clocks_300ms_apart", 370000, 26, false, 0, 300000, "", false, true},
    {"date_lagging_every_other_reply", 810000, 0, false, 0, -330000, "", false, true},
};

// Names the case in test listings, instead of its bytes.
void PrintTo(const PreciseCase& c, std::ostream* os) { *os << c.label; }

class PreciseTable : public DialogTest, public ::testing::WithParamInterface<PreciseCase> {};

TEST_P(PreciseTable, WritesTheRefinedTimeOrKeepsTheOneRequestEstimate)
{
    const PreciseCase& c = GetParam();
    const std::int64_t serverAtTickZeroUs =
        MillisecondsSince1970({2025, 2, 13, 11, 46, 19, 0}) * 1000 + c.aheadUs;
    int answers = 0;
    platform().server = [&](std::int64_t stampUs) {
        ++answers;
        const std::int64_t step =
            (c.everyOther ? answers % 2 == 0 : answers > c.stepAfter) ? c.stepUs : 0;
        std::vector<std::string> headers = {DateLineAt(serverAtTickZeroUs + stampUs + step)};
        if (c.age)
            headers.push_back("Age: 3");
        return fake::Response(headers);
    };
    platform().serverRoundTripMs = c.roundTripMs;
    const ULONGLONG firstTick = 123456789;
    platform().tickMs = firstTick;
    Capture([this] { dlg.FetchRefineAndApply(); });

    ASSERT_EQ(1u, platform().clockWrites.size());
    const SYSTEMTIME& st = platform().clockWrites[0];
    const std::int64_t written = MillisecondsSince1970(
        {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
    const std::int64_t writeTick = static_cast<std::int64_t>(platform().tickMs);
    if (c.everyOther) {
        const std::size_t at = out.find("Precise time: range ");
        if (at == std::string::npos) {
            EXPECT_NE(std::string::npos, out.find("Precise time abandoned: the server's replies "
                                                  "disagree by up to "))
                << out;
        } else {
            const double width = std::stod(out.substr(at + 20));
            const std::int64_t truth = (serverAtTickZeroUs + writeTick * 1000) / 1000;
            EXPECT_LE(std::llabs(truth - written), width / 2 + 1) << out;
        }
    } else if (c.refined) {
        const std::int64_t truth = (serverAtTickZeroUs + writeTick * 1000 + c.stepUs) / 1000;
        EXPECT_NEAR(truth, written, 5);
        EXPECT_LE(platform().sent.size(), 12u);
        EXPECT_NE(std::string::npos, out.find(" ms wide, " + std::to_string(platform().sent.size()) +
                                              " replies from 1 address agree.\n"))
            << out;
    } else {
        // The first Date, its half second, a cache's Age, and the time since
        // the first request's midpoint.
        const std::int64_t firstMidpoint = firstTick * 1000 + c.roundTripMs * 500;
        const std::int64_t firstDate = (serverAtTickZeroUs + firstMidpoint) / kSecondUs * 1000;
        EXPECT_EQ(firstDate + 500 + (c.age ? 3000 : 0) + writeTick - firstMidpoint / 1000, written);
    }
    EXPECT_NE(std::string::npos, out.find(c.line)) << out;
    EXPECT_EQ("", err);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreciseTable, ::testing::ValuesIn(kPreciseCases),
                         [](const ::testing::TestParamInfo<PreciseCase>& info) {
                             return std::string(info.param.label);
                         });

}  // namespace
