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

// Requests that search, the first read's included; four more check the range (12 in all:
// with 6 that search, the range is four times as wide).
constexpr int kPreciseRequests = 8;
constexpr int kCheckRequests = 4;
// The search's last reply arrives at the latest this long after the first
// read's answer (less would cost accuracy over a slow path: see
// docs/BENCHMARKS.md); the checks then take up to a second more.
constexpr unsigned kSearchBudgetMs = 4800;
// The last reply arrives at the latest this long after the first read's
// answer; it also bounds each refinement request's connect and receive.
constexpr unsigned kRefineBudgetMs = 5800;
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

    // The checks: two requests just before the edge the range puts the
    // server's second at and two just after it, each far enough from it that
    // every offset of the range predicts its Date. They are in flight
    // together, each on its own connection, so that all four fit in one
    // second; and whichever replies come from one clock of two that take
    // turns, that clock is asked on both sides of the edge. Replies from one
    // steady clock match; a reply from another clock, or a Date stamped
    // late, shows that the range cannot be trusted.
    const OffsetRange kept = KeptOffsets(search);
    const std::int64_t marginUs = (kept.high - kept.low) + 2 * kTickUs;
    std::unique_ptr<CSocket> sockets[kCheckRequests];
    for (int c = 0; c < kCheckRequests; ++c) {
        sockets[c] = c == 0 && ready ? std::move(ready) : Connect(m_route, &longestConnectMs);
        if (!sockets[c]) {
            std::snprintf(why, sizeof why, "request %d failed (no connection)", requests + 1 + c);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
    }
    const std::int64_t earliest =
        Us(AfxGetTickMilliseconds()) + roundTripUs / 2 + kMarginUs + kTickUs;
    const RangeCheck before = PlanRangeCheck(kept, earliest, marginUs, true);
    // The same edge, seen from after it.
    const std::int64_t afterUs = before.midpointUs + (kept.high - kept.low) + 2 * marginUs;
    const std::int64_t midpoints[kCheckRequests] = {before.midpointUs - kTickUs,
                                                    before.midpointUs, afterUs,
                                                    afterUs + kTickUs};
    if (midpoints[kCheckRequests - 1] + roundTripUs / 2 > Us(m_answerTick + kRefineBudgetMs)) {
        KeepOneRequestEstimate("abandoned", "no time was left to check the range");
        return;
    }
    ULONGLONG sent[kCheckRequests];
    for (int c = 0; c < kCheckRequests; ++c) {
        const std::int64_t sendMs = NearestMs(midpoints[c] - roundTripUs / 2);
        const ULONGLONG now = AfxGetTickMilliseconds();
        AfxWaitUntilTick(sendMs > static_cast<std::int64_t>(now) ? static_cast<ULONGLONG>(sendMs)
                                                                 : now);
        sent[c] = SendTimeRequest(*sockets[c], m_route);
    }
    for (int c = 0; c < kCheckRequests; ++c) {
        ULONGLONG answered = sent[c];
        const std::string response = ReceiveResponse(*sockets[c], &answered);
        sockets[c]->Close();
        ++requests;
        std::string line;
        std::int64_t dateSeconds = 0;
        const bool viaProxy = m_route.choice == ProxyChoice::Proxy;
        if (const char* problem = ReadReplyDate(response, viaProxy, &line, &dateSeconds)) {
            std::snprintf(why, sizeof why, "request %d failed (%s)", requests, problem);
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        // A reply read after the others waited for its reading: its midpoint
        // is taken from the round trip the search measured.
        const DateReply reply = {Us(sent[c]), Us(sent[c]) + roundTripUs, dateSeconds};
        if (const std::int64_t missUs = RangeCheckMissUs(kept, reply)) {
            std::snprintf(why, sizeof why, "the server's replies disagree by up to %lld ms",
                          static_cast<long long>((missUs + 999) / 1000));
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        PrintRequest(requests, line, EstimatedOffset(search) + reply.sentUs + roundTripUs / 2,
                     kept);
    }

    m_dateMilliseconds =
        static_cast<int>(NearestMs(EstimatedOffset(search) + Us(m_dateTick) - firstSecondUs));
    std::printf("Precise time: range %.1f ms wide, %d replies agree.\n",
                static_cast<double>(kept.high - kept.low) / 1000.0, requests);
}
