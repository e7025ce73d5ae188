// The race of a server's addresses over a scripted backend on a simulated
// clock: the order of the attempts, when each one starts, which one wins,
// and that every other socket is closed.

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "connect_race.h"

namespace {

constexpr int kV4 = 2;   // address family labels; the race only compares them
constexpr int kV6 = 23;

// --- The order: the resolver's, with the families interleaved, the family
// of the first address first.
struct OrderCase {
    const char* name;
    std::vector<int> families;
    std::vector<std::size_t> order;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

class AttemptOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(AttemptOrderTest, InterleavesTheFamiliesStartingWithThatOfTheFirstAddress)
{
    EXPECT_EQ(GetParam().order, connect_race::AttemptOrder(GetParam().families));
}

INSTANTIATE_TEST_SUITE_P(
    Families, AttemptOrderTest,
    ::testing::Values(OrderCase{"None", {}, {}},
                      OrderCase{"One", {kV4}, {0}},
                      OrderCase{"OneFamily", {kV4, kV4, kV4}, {0, 1, 2}},
                      OrderCase{"TwoOfEach", {kV6, kV6, kV4, kV4}, {0, 2, 1, 3}},
                      OrderCase{"IPv4First", {kV4, kV6, kV6, kV6}, {0, 1, 2, 3}},
                      OrderCase{"MoreOfTheSecondFamily", {kV6, kV4, kV4, kV4, kV6}, {0, 1, 4, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The race. Each address connects, is refused, or swallows the
// connection (never finishes), `afterMs` after its attempt starts (0: at
// once, from the connect call itself).
struct Address {
    enum Outcome { Connects, Refused, Unreachable, Swallows } outcome;
    int afterMs;
    int family;
};

Address Connects(int afterMs, int family = kV4) { return {Address::Connects, afterMs, family}; }
Address Refused(int afterMs, int family = kV4) { return {Address::Refused, afterMs, family}; }
Address Unreachable(int afterMs, int family = kV4) { return {Address::Unreachable, afterMs, family}; }
Address Swallows(int family = kV4) { return {Address::Swallows, 0, family}; }

constexpr int kRefused = 111;  // error codes; the race only passes them on
constexpr int kUnreachable = 101;

int ErrorOf(const Address& a)
{
    return a.outcome == Address::Connects ? 0 : a.outcome == Address::Unreachable ? kUnreachable : kRefused;
}

// The backend: a socket is the index of its address; time passes only in
// WaitAny, to the next connect that finishes or to the end of the wait.
class ScriptedBackend : public connect_race::Backend {
public:
    explicit ScriptedBackend(std::vector<Address> addresses) : m_addresses(std::move(addresses)) {}

    Started StartConnect(std::size_t index, connect_race::Handle* handle, int* error) override
    {
        starts.emplace_back(index, m_nowMs);
        const Address& a = m_addresses[index];
        const bool atOnce = a.outcome != Address::Swallows && a.afterMs == 0;
        if (atOnce && a.outcome != Address::Connects) {
            *error = ErrorOf(a);
            return Started::Failed;
        }
        *handle = Open(index);
        return atOnce ? Started::Connected : Started::Pending;
    }

    int WaitAny(const std::vector<connect_race::Handle>& handles, int timeoutMs,
                std::vector<bool>* finished) override
    {
        EXPECT_EQ(handles.size(), finished->size());
        std::int64_t first = -1;
        for (const connect_race::Handle h : handles) {
            EXPECT_EQ(1u, m_open.count(h)) << "waits on socket " << h << ", which is not open";
            const std::int64_t at = FinishMs(h);
            if (at >= 0 && (first < 0 || at < first))
                first = at;
        }
        if (first < 0 || (timeoutMs >= 0 && first > m_nowMs + timeoutMs)) {
            if (timeoutMs < 0) {
                ADD_FAILURE() << "waits without limit on sockets that never finish";
                return -1;
            }
            m_nowMs += timeoutMs;
            return 0;
        }
        m_nowMs = first > m_nowMs ? first : m_nowMs;
        int count = 0;
        for (std::size_t i = 0; i < handles.size(); ++i) {
            const std::int64_t at = FinishMs(handles[i]);
            (*finished)[i] = at >= 0 && at <= m_nowMs;
            count += (*finished)[i] ? 1 : 0;
        }
        return count;
    }

    int ConnectError(connect_race::Handle handle) override
    {
        return ErrorOf(m_addresses[static_cast<std::size_t>(handle)]);
    }

    bool IsUnreachable(int error) const override { return error == kUnreachable; }

    void Close(connect_race::Handle handle) override
    {
        EXPECT_EQ(1u, m_open.erase(handle)) << "closes socket " << handle << ", which is not open";
    }

    std::int64_t NowMs() override { return m_nowMs; }

    std::vector<std::pair<std::size_t, std::int64_t>> starts;  // address, start time

    std::vector<connect_race::Handle> OpenSockets() const
    {
        std::vector<connect_race::Handle> open;
        for (const auto& entry : m_open)
            open.push_back(entry.first);
        return open;
    }

private:
    connect_race::Handle Open(std::size_t index)
    {
        m_open[static_cast<connect_race::Handle>(index)] = m_nowMs;
        return static_cast<connect_race::Handle>(index);
    }
    // When the connect of `handle` finishes; -1 never.
    std::int64_t FinishMs(connect_race::Handle handle) const
    {
        const Address& a = m_addresses[static_cast<std::size_t>(handle)];
        return a.outcome == Address::Swallows ? -1 : m_open.at(handle) + a.afterMs;
    }

    std::vector<Address> m_addresses;
    std::map<connect_race::Handle, std::int64_t> m_open;  // socket, start time
    std::int64_t m_nowMs = 1000;
};

struct RaceCase {
    const char* name;
    std::vector<Address> addresses;
    unsigned timeoutMs;
    int winner;  // the address that wins; -1 for none
    std::vector<std::pair<std::size_t, std::int64_t>> starts;  // address, ms from the start
    std::int64_t endMs;  // when Race returns, ms from the start
    bool unreachable = false;  // when nothing connects: every address unreachable
};

void PrintTo(const RaceCase& c, std::ostream* os) { *os << c.name; }

class RaceTest : public ::testing::TestWithParam<RaceCase> {};

TEST_P(RaceTest, StartsEachAttemptInTimeAndKeepsOnlyTheWinnerOpen)
{
    const RaceCase& c = GetParam();
    ScriptedBackend backend(c.addresses);
    std::vector<int> families;
    for (const Address& a : c.addresses)
        families.push_back(a.family);
    const std::int64_t start = backend.NowMs();
    connect_race::Handle winner = -1;
    bool unreachable = !c.unreachable;
    const bool won = connect_race::Race(backend, families, c.timeoutMs, &winner, &unreachable);
    if (!won) {
        EXPECT_EQ(c.unreachable, unreachable);
    }

    EXPECT_EQ(c.winner >= 0, won);
    std::vector<std::pair<std::size_t, std::int64_t>> starts;
    for (const auto& s : backend.starts)
        starts.emplace_back(s.first, s.second - start);
    EXPECT_EQ(c.starts, starts);
    EXPECT_EQ(c.endMs, backend.NowMs() - start);
    std::vector<connect_race::Handle> open;
    if (won) {
        EXPECT_EQ(c.winner, winner);
        open.push_back(winner);
    }
    EXPECT_EQ(open, backend.OpenSockets()) << "only the winner stays open";
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, RaceTest,
    ::testing::Values(
        // With one address that answers: one attempt, nothing else.
        RaceCase{"OneAddressAnswers", {Connects(40)}, 10000, 0, {{0, 0}}, 40},
        RaceCase{"OneAddressConnectsAtOnce", {Connects(0), Connects(1)}, 10000, 0, {{0, 0}}, 0},
        // A swallowing first address costs the attempt delay.
        RaceCase{"FirstSwallowsSecondAnswers", {Swallows(), Connects(1)}, 10000, 1,
                 {{0, 0}, {1, 250}}, 251},
        RaceCase{"IPv6SwallowsIPv4Answers", {Swallows(kV6), Swallows(kV6), Connects(1)}, 10000, 2,
                 {{0, 0}, {2, 250}}, 251},
        RaceCase{"WithoutTimeOut", {Swallows(), Connects(1)}, 0, 1, {{0, 0}, {1, 250}}, 251},
        // A failure starts the next attempt at once.
        RaceCase{"FirstRefusedAtOnce", {Refused(0), Connects(5)}, 10000, 1, {{0, 0}, {1, 0}}, 5},
        RaceCase{"FirstRefusedLater", {Refused(30), Connects(5)}, 10000, 1, {{0, 0}, {1, 30}}, 35},
        RaceCase{"RefusedWhileTheNextIsPending", {Swallows(), Refused(100), Connects(5)}, 10000, 2,
                 {{0, 0}, {1, 250}, {2, 350}}, 355},
        // Earlier attempts stay in flight and may still win.
        RaceCase{"SlowFirstStillWins", {Connects(400), Swallows()}, 10000, 0, {{0, 0}, {1, 250}}, 400},
        RaceCase{"SameMomentTheFirstStartedWins", {Connects(300), Connects(50)}, 10000, 0,
                 {{0, 0}, {1, 250}}, 300},
        // Nothing connects.
        RaceCase{"AllRefused", {Refused(0), Refused(10), Refused(0)}, 10000, -1,
                 {{0, 0}, {1, 0}, {2, 10}}, 10},
        // No route to any address: the network is not up yet. One that
        // refuses or never answers means it is.
        RaceCase{"AllUnreachable", {Unreachable(0, kV6), Unreachable(20)}, 10000, -1,
                 {{0, 0}, {1, 0}}, 20, true},
        RaceCase{"UnreachableAndRefused", {Unreachable(0, kV6), Refused(0)}, 10000, -1,
                 {{0, 0}, {1, 0}}, 0, false},
        RaceCase{"UnreachableAndSwallowed", {Unreachable(0, kV6), Swallows()}, 1000, -1,
                 {{0, 0}, {1, 0}}, 1000, false},
        RaceCase{"AllSwallowUntilTheDeadline", {Swallows(), Swallows(), Swallows()}, 10000, -1,
                 {{0, 0}, {1, 250}, {2, 500}}, 10000},
        RaceCase{"DeadlineBeforeTheNextAttempt", {Swallows(), Connects(1)}, 200, -1, {{0, 0}}, 200},
        RaceCase{"NoAddress", {}, 10000, -1, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
