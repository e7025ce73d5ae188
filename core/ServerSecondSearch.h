// Finding where the server's second begins, from the whole-second Date
// headers of replies to requests sent at chosen instants. Pure arithmetic
// over microseconds: no sockets, no clock.
//
// θ (the offset) is the server's clock minus the local monotonic tick. A
// reply whose Date is D, to a request sent at tick t0 and first answered at
// t1, was stamped at some moment between the two, so D - t1 <= θ < D + 1 s
// - t0 whatever the path did (the strict bounds). Stamped at the midpoint
// m = (t0 + t1) / 2, as under symmetric delay (NTP's assumption), it gives
// D - m <= θ < D + 1 s - m. A request whose midpoint falls where the server's
// second most likely begins halves the range the midpoints allow.
#pragma once

#include <cstdint>

// Microseconds in a second.
constexpr std::int64_t kSecondUs = 1000000;

// One request and its reply. The instants are readings of the local
// millisecond tick in microseconds: each event happened within the
// millisecond that begins at its reading. The Date is the server's clock in
// whole seconds since 1970-01-01 00:00:00 GMT.
struct DateReply {
    std::int64_t sentUs;      // the request was sent
    std::int64_t answeredUs;  // the first bytes of the reply arrived
    std::int64_t dateSeconds;
};

// Offsets θ from `low` up to, not including, `high`, in microseconds.
struct OffsetRange {
    std::int64_t low;
    std::int64_t high;
};

// What the replies so far allow for θ.
struct OffsetSearch {
    // By the midpoints. Its low passes its high when the replies disagree by
    // more than their midpoints can tell (an asymmetric path, a coarse tick).
    OffsetRange midpoint;
    // By the strict bounds. Empty only when no one steady clock can have
    // given all the replies.
    OffsetRange strict;
};

// The search after its first reply.
OffsetSearch StartOffsetSearch(const DateReply& first);

enum class ReplyFit {
    Narrowed,       // the midpoints still leave a range
    Disagreeing,    // within the strict bounds, but the midpoints leave no
                    // range: no further reply can narrow it
    Contradicting,  // outside the strict bounds of the earlier replies: the
                    // Dates do not come from one steady clock
};

// Adds a reply. A contradicting one leaves `search` as it was.
ReplyFit AddDateReply(OffsetSearch* search, const DateReply& reply);

// The range kept: what the midpoints allow or, where they disagree, the
// stretch between their bounds; in both cases within the strict bounds.
OffsetRange KeptOffsets(const OffsetSearch& search);

// The middle of the range kept: the estimate of θ.
std::int64_t EstimatedOffset(const OffsetSearch& search);

// When the next request may be made, in microseconds of the tick.
struct ProbeWindow {
    int requests;             // requests still allowed, this one included
    std::int64_t earliestUs;  // its midpoint can be no sooner
    std::int64_t latestUs;    // nor later
    // The least time from one midpoint to the next when the next depends on
    // the first's reply (a round trip, and the time to act on it).
    std::int64_t followUpUs;
};

// The midpoint at which the next request should be stamped, in `midpointUs`;
// false when no request within the window can narrow `kept`.
//
// The server's second begins once every second of the tick, somewhere in a
// stretch as long as `kept` (the arc). A midpoint inside the arc splits it:
// if the reply's Date is the new second, the beginning lies in the earlier
// part, and the next chance to look there is in the next second, most of a
// second away; otherwise it lies in the later part, still ahead. So the
// midpoints are placed to leave, whatever the replies say, the narrowest
// range that the requests left can reach before the window closes: halving
// when there is time for every earlier part to wait for its next second,
// placing the midpoints earlier when there is not, so that the later part,
// searched on at once in the same second, takes more of the arc.
bool NextProbeMidpoint(const OffsetRange& kept, const ProbeWindow& window,
                       std::int64_t* midpointUs);

// A request that checks the final range: sent so that its midpoint falls
// where every offset of the range reads the same second, `marginUs` clear
// of the edge, it must be answered with that second's Date.
struct RangeCheck {
    std::int64_t midpointUs;   // where the midpoint should fall
    std::int64_t dateSeconds;  // the Date the range predicts there
};

// The check `marginUs` after the first edge of the server's second that
// `kept` puts at or after `earliestUs`, or (`beforeEdge`) `marginUs` before
// the first such edge that leaves room for it.
RangeCheck PlanRangeCheck(const OffsetRange& kept, std::int64_t earliestUs,
                          std::int64_t marginUs, bool beforeEdge);

// How far a checking reply puts the server's clock outside `kept`, in
// microseconds at most: 0 when the Dates the range allows at the reply's
// midpoint (give or take a tick) include its Date.
std::int64_t RangeCheckMissUs(const OffsetRange& kept, const DateReply& reply);
