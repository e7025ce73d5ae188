// Narrowing the time of a successful read down to a few milliseconds: more
// requests, each sent at a chosen instant on a new connection, whose Dates
// tell on which side of the server's second their midpoints fell.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "ConsoleText.h"
#include "HttpDate.h"
#include "QuorvelDlg.h"
#include "ServerSecondSearch.h"
#include "TimeExchange.h"
#include "UtcTime.h"

namespace {

// Requests that search, the first read's included; two more check the range.
constexpr int kPreciseRequests = 8;
constexpr int kCheckRequests = 2;
// The search's last reply arrives at the latest this long after the first
// read's answer, leaving the checks a second and their round trips.
constexpr unsigned kSearchBudgetMs = 3600;
// The last reply arrives at the latest this long after the first read's
// answer; it also bounds each refinement request's connect and receive.
constexpr unsigned kRefineBudgetMs = 4800;
// A reading of the tick: an event read at t happened before t + 1 ms.
constexpr std::int64_t kTickUs = 1000;
// A range of offsets narrower than this is not narrowed further.
constexpr std::int64_t kSettledWidthUs = 4000;
// What a request needs beyond its round trip to be sent on time: planning
// it, and the wait's own precision.
constexpr std::int64_t kMarginUs = 2000;

std::int64_t Us(ULONGLONG tickMs) { return static_cast<std::int64_t>(tickMs) * 1000; }

// The nearest whole millisecond, halves upwards.
std::int64_t NearestMs(std::int64_t us)
{
    const std::int64_t shifted = us + 500;
    return shifted / 1000 - (shifted % 1000 < 0 ? 1 : 0);
}

// A new connection to the time server, or null. `longestMs` keeps the
// longest time a connection has taken.
std::unique_ptr<CSocket> Connect(const TimeServerRoute& route, ULONGLONG* longestMs)
{
    const ULONGLONG start = AfxGetTickMilliseconds();
    auto socket = std::make_unique<CSocket>();
    if (!ConnectToTimeServer(*socket, route, kRefineBudgetMs, kRefineBudgetMs))
        return nullptr;
    *longestMs = std::max(*longestMs, AfxGetTickMilliseconds() - start);
    return socket;
}

// Why a reply gives no usable Date, or null when it does; `viaProxy`: it came
// through a proxy. `line` gets its
// Date line (without the CR) and `seconds` its time since 1970.
const char* ReadReplyDate(const std::string& response, bool viaProxy, std::string* line,
                          std::int64_t* seconds)
{
    std::string statusLine;
    if (viaProxy && IsProxyOwnResponse(response, &statusLine))
        return "the proxy answered it itself";
    HttpHeaderLine found;
    if (!FindDateHeader(response.data(), response.size(), &found))
        return "no Date";
    line->assign(found.text, found.length);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    HttpDateFields f;
    if (ParseDateLineInWorkArea(*line, &f) != HttpDateResult::Ok || !IsCredibleDate(f))
        return "no valid Date";
    const UtcTime read = {f.year, f.month, f.day, f.hour, f.minute, f.second, 0};
    if (!IsClockTime(read))
        return "no valid Date";
    HttpHeaderLine age;
    if (FindHeaderField(response.data(), response.size(), "age", &age))
        return "its Date came from a cache";
    *seconds = MillisecondsSince1970(read) / 1000;
    return nullptr;
}

void KeepOneRequestEstimate(const char* verb, const char* why)
{
    std::printf("Precise time %s: %s; the one-request estimate is kept.\n", verb, why);
}

// The line of one request: its Date, where its midpoint fell on the server's
// clock as estimated when it was sent (the Date tells on which side of the
// second that was), and the range of offsets left.
void PrintRequest(int number, const std::string& dateLine, std::int64_t serverUsAtMidpoint,
                  const OffsetRange& left)
{
    const UtcTime at = UtcTimeAt(serverUsAtMidpoint / 1000);
    std::printf("Request %d: ", number);
    WritePrintable(cout, dateLine.data(), dateLine.size());
    std::printf("; midpoint at %02d:%02d:%02d.%03d by the estimate; range %.1f ms\n", at.hour,
                at.minute, at.second, at.millisecond,
                static_cast<double>(left.high - left.low) / 1000.0);
}

}  // namespace

void CQuorvelDlg::RefineInternetTime()
{
    if (m_bDateFromCache) {
        KeepOneRequestEstimate("skipped", "the Date came from a cache (it has an Age field)");
        return;
    }
    const UtcTime first = {m_utcYear, m_utcMonth, m_utcDay, m_utcHour, m_utcMinute, m_utcSecond, 0};
    if (!IsClockTime(first)) {
        KeepOneRequestEstimate("skipped", "the Date is no valid time");
        return;
    }
    const std::int64_t firstSecondUs = MillisecondsSince1970(first) * 1000;
    OffsetSearch search =
        StartOffsetSearch({Us(m_requestTick), Us(m_answerTick), firstSecondUs / kSecondUs});
    const ULONGLONG deadline = m_answerTick + kSearchBudgetMs;
    std::int64_t roundTripUs = Us(m_answerTick - m_requestTick);
    ULONGLONG longestConnectMs = 0;
    std::unique_ptr<CSocket> ready;  // connected, its request not yet sent
    int requests = 1;
    char why[96];

    for (;;) {
        const OffsetRange kept = KeptOffsets(search);
        if (requests >= kPreciseRequests || kept.high - kept.low < kSettledWidthUs)
            break;
        if (!ready) {
            ready = Connect(m_route, &longestConnectMs);
            if (!ready) {
                std::snprintf(why, sizeof why, "request %d failed (no connection)", requests + 1);
                KeepOneRequestEstimate("abandoned", why);
                return;
            }
        }
        const ULONGLONG now = AfxGetTickMilliseconds();
        const ProbeWindow window = {kPreciseRequests - requests,
                                    Us(now) + roundTripUs / 2 + kMarginUs,
                                    Us(deadline) - roundTripUs / 2, roundTripUs + kMarginUs};
        std::int64_t midpoint = 0;
        if (!NextProbeMidpoint(kept, window, &midpoint))
            break;
        const std::int64_t sendMs = NearestMs(midpoint - roundTripUs / 2);
        const ULONGLONG sendTick = sendMs > static_cast<std::int64_t>(now)
                                       ? static_cast<ULONGLONG>(sendMs)
                                       : now;

        // The connection of the next request is made while this one waits,
        // when there is time for it, so that the next can follow this one's
        // reply within a round trip.
        const std::unique_ptr<CSocket> socket = std::move(ready);
        if (requests + 1 < kPreciseRequests &&
            sendTick > now + 2 * longestConnectMs + kMarginUs / 1000) {
            ready = Connect(m_route, &longestConnectMs);
            if (!ready) {
                std::snprintf(why, sizeof why, "request %d failed (no connection)", requests + 2);
                KeepOneRequestEstimate("abandoned", why);
                return;
            }
        }
        const std::int64_t estimateBefore = EstimatedOffset(search);
        AfxWaitUntilTick(sendTick);
        const ULONGLONG sent = SendTimeRequest(*socket, m_route);
        ULONGLONG answered = sent;
        const std::string response = ReceiveResponse(*socket, &answered);
        socket->Close();
        ++requests;

        std::string line;
        std::int64_t dateSeconds = 0;
        const bool viaProxy = m_route.choice == ProxyChoice::Proxy;
        if (const char* problem = ReadReplyDate(response, viaProxy, &line, &dateSeconds)) {
            std::snprintf(why, sizeof why, "request %d failed (%s)", requests, problem);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        const DateReply reply = {Us(sent), Us(answered), dateSeconds};
        const ReplyFit fit = AddDateReply(&search, reply);
        if (fit == ReplyFit::Contradicting) {
            std::snprintf(why, sizeof why, "the Date of request %d contradicts the earlier replies",
                          requests);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        PrintRequest(requests, line,
                     estimateBefore + reply.sentUs + (reply.answeredUs - reply.sentUs) / 2,
                     KeptOffsets(search));
        roundTripUs = reply.answeredUs - reply.sentUs;
        if (fit == ReplyFit::Disagreeing)
            break;
    }

    // The checks: one request just after the edge the range puts the
    // server's second at, one just before it, each far enough from it that
    // every offset of the range predicts its Date. Replies from one steady
    // clock match; a reply from another clock, or a Date stamped late,
    // shows that the range cannot be trusted.
    const OffsetRange kept = KeptOffsets(search);
    const std::int64_t marginUs = (kept.high - kept.low) + kTickUs;
    const ULONGLONG checkDeadline = m_answerTick + kRefineBudgetMs;
    bool checked[kCheckRequests] = {false, false};
    for (int c = 0; c < kCheckRequests; ++c) {
        const ULONGLONG now = AfxGetTickMilliseconds();
        const std::int64_t earliest = Us(now) + roundTripUs / 2 + kMarginUs;
        // The sooner of the checks not yet made goes first.
        int side = checked[0] ? 1 : 0;
        if (!checked[0] && !checked[1] &&
            PlanRangeCheck(kept, earliest, marginUs, true).midpointUs <
                PlanRangeCheck(kept, earliest, marginUs, false).midpointUs)
            side = 1;
        checked[side] = true;
        const RangeCheck check = PlanRangeCheck(kept, earliest, marginUs, side == 1);
        if (check.midpointUs + roundTripUs / 2 > Us(checkDeadline)) {
            KeepOneRequestEstimate("abandoned", "no time was left to check the range");
            return;
        }
        if (!ready)
            ready = Connect(m_route, &longestConnectMs);
        const std::unique_ptr<CSocket> socket = std::move(ready);
        if (!socket) {
            std::snprintf(why, sizeof why, "request %d failed (no connection)", requests + 1);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        const std::int64_t sendMs = NearestMs(check.midpointUs - roundTripUs / 2);
        AfxWaitUntilTick(static_cast<ULONGLONG>(std::max<std::int64_t>(sendMs, Us(now) / 1000)));
        const ULONGLONG sent = SendTimeRequest(*socket, m_route);
        ULONGLONG answered = sent;
        const std::string response = ReceiveResponse(*socket, &answered);
        socket->Close();
        ++requests;
        std::string line;
        std::int64_t dateSeconds = 0;
        const bool viaProxy = m_route.choice == ProxyChoice::Proxy;
        if (const char* problem = ReadReplyDate(response, viaProxy, &line, &dateSeconds)) {
            std::snprintf(why, sizeof why, "request %d failed (%s)", requests, problem);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        const DateReply reply = {Us(sent), Us(answered), dateSeconds};
        if (const std::int64_t missUs = RangeCheckMissUs(kept, reply)) {
            std::snprintf(why, sizeof why, "the server's replies disagree by up to %lld ms",
                          static_cast<long long>((missUs + 999) / 1000));
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        PrintRequest(requests, line,
                     EstimatedOffset(search) + reply.sentUs + (reply.answeredUs - reply.sentUs) / 2,
                     kept);
    }

    m_dateMilliseconds =
        static_cast<int>(NearestMs(EstimatedOffset(search) + Us(m_dateTick) - firstSecondUs));
    std::printf("Precise time: range %.1f ms wide, %d replies agree.\n",
                static_cast<double>(kept.high - kept.low) / 1000.0, requests);
}
