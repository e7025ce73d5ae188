// Narrowing the time of a successful read down to a few milliseconds: more
// requests, each sent at a chosen instant on a new connection, whose Dates
// tell on which side of the server's second their midpoints fell; then
// requests that check the range before it is claimed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

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
// The last reply, the checks' included, arrives at the latest this long
// after the first read's answer; it also bounds each request's connect and
// receive.
constexpr unsigned kRunBudgetMs = 4800;
// The search's last request and the checks share one second, the last one
// the search can use: from the middle of the arc where the range before it
// puts the server's second, the after-checks' midpoints come at most this
// much later (one and a half times the range's width, a range's width and
// two ticks clear of the edge: the range is then well under 30 ms wide).
constexpr std::int64_t kLastPassUs = 80000;
// A reading of the tick: an event read at t happened before t + 1 ms.
constexpr std::int64_t kTickUs = 1000;
// A range of offsets narrower than this is not narrowed further.
constexpr std::int64_t kSettledWidthUs = 4000;
// What a request needs beyond its round trip to be sent on time: planning
// it, and the wait's own precision.
constexpr std::int64_t kMarginUs = 2000;
// How long a connection to one of several addresses may take, at least, and
// in round trips of the first read: one that takes longer (an address that
// swallows connections) is left out, as one that refuses is.
constexpr unsigned kAddressConnectMs = 500;
constexpr unsigned kAddressConnectRoundTrips = 3;

std::int64_t Us(ULONGLONG tickMs) { return static_cast<std::int64_t>(tickMs) * 1000; }

// The nearest whole millisecond, halves upwards.
std::int64_t NearestMs(std::int64_t us)
{
    const std::int64_t shifted = us + 500;
    return shifted / 1000 - (shifted % 1000 < 0 ? 1 : 0);
}

// Waits until the tick `us` (rounded to its millisecond), unless it has passed.
void WaitUntilUs(std::int64_t us)
{
    const std::int64_t ms = NearestMs(us);
    const ULONGLONG now = AfxGetTickMilliseconds();
    AfxWaitUntilTick(ms > static_cast<std::int64_t>(now) ? static_cast<ULONGLONG>(ms) : now);
}

// A connection made for a request not yet sent, and the address it reached
// (-1: by the server's name, or through the proxy).
struct Link {
    std::unique_ptr<CSocket> socket;
    int address = -1;
};

// The connections of the requests. When the server's name has several
// addresses, they take the addresses in turn, from the one after the first
// read's; an address that does not connect is left out for the rest of the
// run. With one address, or through a proxy, each connects as the first
// read did.
class Links {
public:
    Links(const TimeServerRoute& route, ULONGLONG deadline, unsigned addressConnectMs)
        : m_route(route), m_deadline(deadline), m_addressConnectMs(addressConnectMs),
          m_alive(route.addresses.size(), true), m_replied(route.addresses.size(), false)
    {
        const int count = static_cast<int>(route.addresses.size());
        m_turn = route.reached >= 0 && count > 0 ? (route.reached + 1) % count : 0;
        if (count > 1 && route.reached >= 0 && route.reached < count)
            m_replied[route.reached] = true;
    }

    // A new connection, or one with no socket when none can be made.
    Link Connect()
    {
        Link link;
        const ULONGLONG start = AfxGetTickMilliseconds();
        const unsigned leftMs = start < m_deadline ? static_cast<unsigned>(m_deadline - start) : 1;
        const int count = static_cast<int>(m_route.addresses.size());
        if (count <= 1) {
            link.socket = std::make_unique<CSocket>();
            if (!ConnectToTimeServer(*link.socket, m_route, leftMs, leftMs))
                link.socket.reset();
        }
        for (int tried = 0; count > 1 && tried < count && !link.socket; ++tried) {
            const int address = m_turn;
            m_turn = (m_turn + 1) % count;
            if (!m_alive[address])
                continue;
            link.socket = std::make_unique<CSocket>();
            link.address = address;
            const ULONGLONG now = AfxGetTickMilliseconds();
            const unsigned ms = now < m_deadline ? static_cast<unsigned>(m_deadline - now) : 1;
            if (!ConnectToServerAddress(*link.socket, m_route, static_cast<std::size_t>(address),
                                        std::min(ms, m_addressConnectMs), leftMs)) {
                link.socket.reset();
                m_alive[address] = false;
            }
        }
        if (link.socket)
            m_longestMs = std::max(m_longestMs, AfxGetTickMilliseconds() - start);
        return link;
    }

    // The longest a connection has taken.
    ULONGLONG LongestMs() const { return m_longestMs; }
    // A usable reply came from `address`.
    void Replied(int address)
    {
        if (address >= 0)
            m_replied[address] = true;
    }
    // The addresses whose replies were used, the first read's included.
    int AddressesReplied() const
    {
        const int n = static_cast<int>(std::count(m_replied.begin(), m_replied.end(), true));
        return n > 0 ? n : 1;
    }

private:
    const TimeServerRoute& m_route;
    ULONGLONG m_deadline;
    unsigned m_addressConnectMs;
    std::vector<bool> m_alive;
    std::vector<bool> m_replied;
    int m_turn = 0;
    ULONGLONG m_longestMs = 0;
};

// Why a reply gives no usable Date, or null when it does; `viaProxy`: it came
// through a proxy. `line` gets its Date line (without the CR) and `seconds`
// its time since 1970.
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

// Receives the reply of request `number` on `socket` and closes it: the
// tick its first bytes were read in `answered` (left alone when none came),
// its Date line in `line` and its Date in `seconds`. False, the run
// abandoned and why said, when it has no usable Date.
bool ReceiveReply(CSocket& socket, const TimeServerRoute& route, int number,
                  ULONGLONG* answered, std::string* line, std::int64_t* seconds)
{
    const std::string response = ReceiveResponse(socket, answered);
    socket.Close();
    const char* problem =
        ReadReplyDate(response, route.choice == ProxyChoice::Proxy, line, seconds);
    if (problem == nullptr)
        return true;
    char why[96];
    std::snprintf(why, sizeof why, "request %d failed (%s)", number, problem);
    KeepOneRequestEstimate("abandoned", why);
    return false;
}

void SayNoConnection(int number)
{
    char why[96];
    std::snprintf(why, sizeof why, "request %d failed (no connection)", number);
    KeepOneRequestEstimate("abandoned", why);
}

void SayContradiction(int number)
{
    char why[96];
    std::snprintf(why, sizeof why, "the Date of request %d contradicts the earlier replies", number);
    KeepOneRequestEstimate("abandoned", why);
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
    const ULONGLONG deadline = m_answerTick + kRunBudgetMs;
    std::int64_t roundTripUs = Us(m_answerTick - m_requestTick);
    Links links(m_route, deadline,
                std::max(kAddressConnectMs,
                         kAddressConnectRoundTrips * static_cast<unsigned>(m_answerTick - m_requestTick)));
    // Connected, their requests not yet sent, in the order they were made.
    std::deque<Link> ready;
    int requests = 1;

    // The search, but for its last request.
    for (;;) {
        const OffsetRange kept = KeptOffsets(search);
        if (requests >= kPreciseRequests - 1 || kept.high - kept.low < kSettledWidthUs)
            break;
        if (ready.empty()) {
            ready.push_back(links.Connect());
            if (!ready.back().socket) {
                SayNoConnection(requests + 1);
                return;
            }
        }
        // The last pass comes a second after the last of these requests,
        // in the next arc; its connections are made while they wait.
        const ULONGLONG now = AfxGetTickMilliseconds();
        const ProbeWindow window = {kPreciseRequests - 1 - requests,
                                    Us(now) + roundTripUs / 2 + kMarginUs,
                                    Us(deadline) - kSecondUs - kLastPassUs - roundTripUs / 2,
                                    roundTripUs + kMarginUs};
        std::int64_t midpoint = 0;
        if (!NextProbeMidpoint(kept, window, &midpoint))
            break;
        const std::int64_t sendUs = midpoint - roundTripUs / 2;

        // The connections of the next requests are made while this one
        // waits, when there is time for them, so that the next can follow
        // this one's reply within a round trip: of the next search request,
        // or, while the last one before the last pass waits, of all five
        // requests of that pass.
        const std::size_t wanted = requests + 2 < kPreciseRequests ? 2 : kCheckRequests + 2;
        while (ready.size() < wanted &&
               sendUs > Us(AfxGetTickMilliseconds() + 2 * links.LongestMs()) + kMarginUs) {
            ready.push_back(links.Connect());
            if (!ready.back().socket) {
                SayNoConnection(requests + static_cast<int>(ready.size()));
                return;
            }
        }
        const Link link = std::move(ready.front());
        ready.pop_front();
        const std::int64_t estimateBefore = EstimatedOffset(search);
        WaitUntilUs(sendUs);
        const ULONGLONG sent = SendTimeRequest(*link.socket, m_route);
        ULONGLONG answered = sent;
        std::string line;
        std::int64_t dateSeconds = 0;
        if (!ReceiveReply(*link.socket, m_route, ++requests, &answered, &line, &dateSeconds))
            return;
        const DateReply reply = {Us(sent), Us(answered), dateSeconds};
        const ReplyFit fit = AddDateReply(&search, reply);
        if (fit == ReplyFit::Contradicting) {
            SayContradiction(requests);
            return;
        }
        links.Replied(link.address);
        PrintRequest(requests, line,
                     estimateBefore + reply.sentUs + (reply.answeredUs - reply.sentUs) / 2,
                     KeptOffsets(search));
        roundTripUs = reply.answeredUs - reply.sentUs;
        if (fit == ReplyFit::Disagreeing)
            break;
    }

    // The last pass: the search's last request, splitting the arc where the
    // range puts the server's second, and the checks: two requests just
    // before that arc and two just after it, each far enough from it that
    // every offset of the range as it stands predicts its Date. All are in
    // flight together, each on its own connection, so that they fit in one
    // second; and whichever replies come from one clock of two that take
    // turns, that clock is asked on both sides of the edge. Replies from one
    // steady clock match, as the final range lies within the one checked; a
    // reply from another clock, or a Date stamped late, shows that the range
    // cannot be trusted.
    const OffsetRange checked = KeptOffsets(search);
    const std::int64_t widthUs = checked.high - checked.low;
    while (ready.size() < kCheckRequests + 1) {
        ready.push_back(links.Connect());
        if (!ready.back().socket) {
            SayNoConnection(requests + static_cast<int>(ready.size()));
            return;
        }
    }
    // The connections serve in the order they were made, which is the
    // order of sending: two checks before the edge, the search's last
    // request, two checks after it. Whichever of two clocks a connection
    // reaches, by the address it took in turn or by a load balancer's turn,
    // the next one reaches the other: each clock is asked on both sides.
    enum { kBefore1, kBefore2, kLast, kAfter1, kAfter2 };
    Link roles[kAfter2 + 1];
    for (int role = kBefore1; role <= kAfter2; ++role) {
        roles[role] = std::move(ready.front());
        ready.pop_front();
    }

    const std::int64_t marginUs = widthUs + 2 * kTickUs;
    const std::int64_t earliest =
        Us(AfxGetTickMilliseconds()) + roundTripUs / 2 + kMarginUs + kTickUs;
    const std::int64_t beforeUs = PlanRangeCheck(checked, earliest, marginUs, true).midpointUs;
    // The same edge, seen from after it; and the middle of its arc between.
    const std::int64_t afterUs = beforeUs + widthUs + 2 * marginUs;
    const std::int64_t middleUs = beforeUs + marginUs + widthUs / 2;
    if (afterUs + kTickUs + roundTripUs / 2 > Us(deadline)) {
        KeepOneRequestEstimate("abandoned", "no time was left to check the range");
        return;
    }
    const std::int64_t midpoints[kAfter2 + 1] = {beforeUs - kTickUs, beforeUs, middleUs, afterUs,
                                                 afterUs + kTickUs};
    ULONGLONG sent[kAfter2 + 1] = {};
    for (int role = kBefore1; role <= kAfter2; ++role) {
        WaitUntilUs(midpoints[role] - roundTripUs / 2);
        sent[role] = SendTimeRequest(*roles[role].socket, m_route);
    }

    const std::int64_t estimateBefore = EstimatedOffset(search);
    std::string line;
    std::int64_t dateSeconds = 0;
    {
        // Read first, as its reply may still be on its way; one that came
        // while the checks were sent is taken as having come a round trip
        // after its request.
        const ULONGLONG reading = AfxGetTickMilliseconds();
        ULONGLONG answered = sent[kLast];
        if (!ReceiveReply(*roles[kLast].socket, m_route, ++requests, &answered, &line,
                          &dateSeconds))
            return;
        if (answered <= reading)
            answered = std::min(answered, sent[kLast] + static_cast<ULONGLONG>(roundTripUs / 1000));
        const DateReply reply = {Us(sent[kLast]), Us(answered), dateSeconds};
        if (AddDateReply(&search, reply) == ReplyFit::Contradicting) {
            SayContradiction(requests);
            return;
        }
        links.Replied(roles[kLast].address);
        PrintRequest(requests, line,
                     estimateBefore + reply.sentUs + (reply.answeredUs - reply.sentUs) / 2,
                     KeptOffsets(search));
    }
    for (const int role : {kBefore1, kBefore2, kAfter1, kAfter2}) {
        ULONGLONG answered = sent[role];
        if (!ReceiveReply(*roles[role].socket, m_route, ++requests, &answered, &line, &dateSeconds))
            return;
        // A reply read after the others waited for its reading: its midpoint
        // is taken from the round trip the search measured.
        const DateReply reply = {Us(sent[role]), Us(sent[role]) + roundTripUs, dateSeconds};
        if (const std::int64_t missUs = RangeCheckMissUs(checked, reply)) {
            char why[96];
            std::snprintf(why, sizeof why, "the server's replies disagree by up to %lld ms",
                          static_cast<long long>((missUs + 999) / 1000));
            KeepOneRequestEstimate("abandoned", why);
            return;
        }
        links.Replied(roles[role].address);
        PrintRequest(requests, line, estimateBefore + reply.sentUs + roundTripUs / 2, checked);
    }

    const OffsetRange kept = KeptOffsets(search);
    const int addresses = links.AddressesReplied();
    m_dateMilliseconds =
        static_cast<int>(NearestMs(EstimatedOffset(search) + Us(m_dateTick) - firstSecondUs));
    std::printf("Precise time: range %.1f ms wide, %d replies from %d address%s agree.\n",
                static_cast<double>(kept.high - kept.low) / 1000.0, requests, addresses,
                addresses == 1 ? "" : "es");
}
