#include "ServerSecondSearch.h"

#include <algorithm>
#include <cstdlib>

namespace {

// The instants are readings of a millisecond tick: an event read at t
// happened before t + kReadingUs.
constexpr std::int64_t kReadingUs = 1000;

// Requests and passes that a plan looks ahead; more of either than this
// never changes where the next midpoint goes.
constexpr int kMaxPlanned = 16;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0))
        --q;
    return q;
}

OffsetRange MidpointBounds(const DateReply& reply)
{
    const std::int64_t date = reply.dateSeconds * kSecondUs;
    const std::int64_t midpoint = reply.sentUs + (reply.answeredUs - reply.sentUs) / 2;
    return {date - midpoint, date + kSecondUs - midpoint};
}

OffsetRange StrictBounds(const DateReply& reply)
{
    const std::int64_t date = reply.dateSeconds * kSecondUs;
    return {date - reply.answeredUs - kReadingUs, date + kSecondUs - reply.sentUs};
}

OffsetRange Intersection(const OffsetRange& a, const OffsetRange& b)
{
    return {std::max(a.low, b.low), std::min(a.high, b.high)};
}

// How many stretches of `cell` microseconds the requests left can tell
// apart, whatever the replies say. A pass is one of the seconds in which the
// arc comes round again; `r` counts those after the current one. The
// earlier part of a split can only be searched on in a later pass, the
// later part in the same one, no sooner than the follow-up time after the
// split, or in a later pass too.
class Capacity {
public:
    Capacity(int requests, int passes, std::int64_t cell, std::int64_t followUpUs)
    {
        for (int r = 0; r <= passes; ++r)
            m_fresh[0][r] = m_following[0][r] = 1;
        for (int n = 1; n <= requests; ++n) {
            for (int r = 0; r <= passes; ++r) {
                const std::int64_t split = Early(n - 1, r) + m_following[n - 1][r];
                const std::int64_t wait = r >= 1 ? m_fresh[n][r - 1] : 1;
                m_fresh[n][r] = std::max(split, wait);
                m_following[n][r] =
                    std::max(Early(n - 1, r) * cell >= followUpUs ? split : 1, wait);
            }
        }
    }

    // With `n` requests, the whole arc still ahead in the current pass.
    std::int64_t Fresh(int n, int r) const { return m_fresh[n][r]; }
    // The same, with the first midpoint at least the follow-up time into
    // the arc.
    std::int64_t Following(int n, int r) const { return m_following[n][r]; }
    // The earlier part of a split, with `n` requests left after it.
    std::int64_t Early(int n, int r) const { return r >= 1 ? m_fresh[n][r - 1] : 1; }

private:
    std::int64_t m_fresh[kMaxPlanned + 1][kMaxPlanned + 1];
    std::int64_t m_following[kMaxPlanned + 1][kMaxPlanned + 1];
};

// The plan for an arc of `width` whose first `unusableUs` are already past
// in the current pass: the stretches the requests can tell apart, and how
// the arc is split now (or not, when waiting for the next pass is better).
struct Plan {
    std::int64_t cell;   // the narrowest stretch every outcome reaches
    bool split;          // split the arc in this pass
    std::int64_t early;  // stretches of the earlier part (when split)
    std::int64_t later;  // stretches of the later part (when split)
};

Plan PlanFor(int requests, int passes, std::int64_t width, std::int64_t unusableUs,
             std::int64_t followUpUs)
{
    // The narrowest cell whose count covers the arc. The counts only grow as
    // the cell widens, so the product does too.
    std::int64_t low = 1;
    std::int64_t high = width;
    Plan plan = {width, false, 1, 1};
    while (low <= high) {
        const std::int64_t cell = low + (high - low) / 2;
        const Capacity capacity(requests, passes, cell, followUpUs);
        const std::int64_t early = capacity.Early(requests - 1, passes);
        const std::int64_t later = capacity.Following(requests - 1, passes);
        const bool canSplit = early * cell >= unusableUs;
        const std::int64_t wait = passes >= 1 ? capacity.Fresh(requests, passes - 1) : 1;
        const std::int64_t count = std::max(canSplit ? early + later : 1, wait);
        if (count * cell >= width) {
            plan = {cell, canSplit && early + later >= wait, early, later};
            high = cell - 1;
        } else {
            low = cell + 1;
        }
    }
    return plan;
}

}  // namespace

OffsetSearch StartOffsetSearch(const DateReply& first)
{
    return {MidpointBounds(first), StrictBounds(first)};
}

ReplyFit AddDateReply(OffsetSearch* search, const DateReply& reply)
{
    const OffsetRange strict = Intersection(search->strict, StrictBounds(reply));
    if (strict.low >= strict.high)
        return ReplyFit::Contradicting;
    search->strict = strict;
    search->midpoint = Intersection(search->midpoint, MidpointBounds(reply));
    return search->midpoint.low < search->midpoint.high ? ReplyFit::Narrowed
                                                        : ReplyFit::Disagreeing;
}

OffsetRange KeptOffsets(const OffsetSearch& search)
{
    // Each midpoint bound lies within its reply's strict bound, so the
    // stretch is never empty while the strict bounds are not.
    const OffsetRange& m = search.midpoint;
    const OffsetRange between = {std::min(m.low, m.high), std::max(m.low, m.high)};
    return Intersection(between, search.strict);
}

std::int64_t EstimatedOffset(const OffsetSearch& search)
{
    const OffsetRange kept = KeptOffsets(search);
    return kept.low + (kept.high - kept.low) / 2;
}

bool NextProbeMidpoint(const OffsetRange& kept, const ProbeWindow& window,
                       std::int64_t* midpointUs)
{
    const std::int64_t width = kept.high - kept.low;
    if (width <= 0 || window.requests < 1)
        return false;
    const int requests = std::min(window.requests, kMaxPlanned);
    // The second of the server that begins at tick k s - θ: the arc of its
    // beginnings is [k s - high, k s - low). The first pass is the first arc
    // that has not passed yet.
    std::int64_t start = (FloorDiv(window.earliestUs + kept.low, kSecondUs) + 1) * kSecondUs -
                         kept.high;
    for (;;) {
        int passes = 0;
        while (passes < requests &&
               start + (passes + 1) * kSecondUs + width / 2 <= window.latestUs)
            ++passes;
        const std::int64_t unusable = std::max<std::int64_t>(0, window.earliestUs - start);
        const Plan plan = PlanFor(requests, passes, width, unusable, window.followUpUs);
        if (plan.split) {
            // As early as leaves the later part no more than its requests can
            // search, which makes the wait for the next pass least likely.
            const std::int64_t at = std::min(
                start + std::max(unusable, width - plan.later * plan.cell),
                start + plan.early * plan.cell);
            if (at > window.latestUs)
                return false;
            *midpointUs = at;
            return true;
        }
        if (passes == 0)
            return false;
        start += kSecondUs;
    }
}

RangeCheck PlanRangeCheck(const OffsetRange& kept, std::int64_t earliestUs,
                          std::int64_t marginUs, bool beforeEdge)
{
    // The server's clock reads m + θ at tick m, θ within [low, high). After
    // edge k: m + low >= k s + margin. Before edge k: m + high <= k s - margin.
    const std::int64_t shift = beforeEdge ? -kept.high - marginUs : -kept.low + marginUs;
    const std::int64_t k = FloorDiv(earliestUs - shift - 1, kSecondUs) + 1;
    return {k * kSecondUs + shift, beforeEdge ? k - 1 : k};
}

std::int64_t RangeCheckMissUs(const OffsetRange& kept, const DateReply& reply)
{
    const std::int64_t midpoint = reply.sentUs + (reply.answeredUs - reply.sentUs) / 2;
    const std::int64_t earliest = FloorDiv(midpoint + kept.low - kReadingUs, kSecondUs);
    const std::int64_t latest = FloorDiv(midpoint + kept.high - 1 + kReadingUs, kSecondUs);
    if (reply.dateSeconds >= earliest && reply.dateSeconds <= latest)
        return 0;
    // The reply allows the offsets [D s - m, D s + 1 s - m): the farthest
    // of them from the range's middle is how far apart the clocks can be.
    const OffsetRange said = MidpointBounds(reply);
    const std::int64_t middle = kept.low + (kept.high - kept.low) / 2;
    return std::max(std::abs(said.low - middle), std::abs(said.high - middle));
}
