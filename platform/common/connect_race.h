// Connecting to a server that has several addresses: they race ("Happy
// Eyeballs", RFC 8305), the same on every backend. The race decides when
// to start which attempt and which one wins; each backend supplies only
// the primitives (connect_race::Backend).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace connect_race {

// Milliseconds from the start of one attempt to the start of the next
// while the earlier ones are still pending (RFC 8305's Connection Attempt
// Delay).
constexpr unsigned kAttemptDelayMs = 250;

// The order in which to try the addresses, as indices into `families`
// (the address family of each address, in the resolver's order): the
// resolver's order with the families interleaved, starting with the family
// of the first address (RFC 8305, section 4). {6, 6, 4, 4} gives
// {0, 2, 1, 3}.
std::vector<std::size_t> AttemptOrder(const std::vector<int>& families);

// A backend's socket, as the race holds it.
using Handle = std::intptr_t;

// The primitives of one backend, over one resolved list of addresses.
class Backend {
public:
    enum class Started { Failed, Pending, Connected };

    virtual ~Backend() = default;
    // Starts a non-blocking connect to address `index` of the list.
    // Pending or Connected put the socket in `*handle`; Failed (refused,
    // unreachable, no socket) leaves none and puts the system's error code
    // in `*error`.
    virtual Started StartConnect(std::size_t index, Handle* handle, int* error) = 0;
    // Waits until at least one of `handles` has finished connecting, either
    // way, or `timeoutMs` milliseconds have passed (negative: without
    // limit). `*finished` comes with one false per handle; sets
    // (*finished)[i] for each one that has finished. Returns how many have,
    // 0 at the time-out or when interrupted, negative when the wait itself
    // fails.
    virtual int WaitAny(const std::vector<Handle>& handles, int timeoutMs,
                        std::vector<bool>* finished) = 0;
    // The outcome of a connect that has finished: 0 connected, else the
    // system's error code.
    virtual int ConnectError(Handle handle) = 0;
    virtual void Close(Handle handle) = 0;
    // Whether the system's error code `error` says that no route leads to
    // the address (network or host unreachable, network down, no source
    // address): the network is not up yet, rather than the server refusing.
    virtual bool IsUnreachable(int error) const = 0;
    // Milliseconds on a monotonic clock; by default AfxGetTickMilliseconds.
    virtual std::int64_t NowMs();
};

// Connects to one of the addresses whose families are `families` (the
// backend's list, in the resolver's order), within `timeoutMs` milliseconds
// (0: without limit). Attempts start in AttemptOrder, the first at once and
// each next one kAttemptDelayMs after the one before, or at once when an
// attempt fails; earlier attempts stay in flight. The first connection to
// complete wins (of several at the same moment, the one started first): it
// is put in `*winner`, still non-blocking, and every other socket is closed
// at once. False, every socket closed, when all attempts failed or the time
// ran out; then `*unreachable` (when given) tells whether every attempt
// failed as unreachable (IsUnreachable), none refused or left pending.
bool Race(Backend& backend, const std::vector<int>& families, unsigned timeoutMs,
          Handle* winner, bool* unreachable = nullptr);

}  // namespace connect_race
