// Waiting for the network to change (CNetworkWatch), the same on every
// backend: the system's notice of a change ends the wait at once, and a
// comparison of the addresses and routes every second finds a change where
// no notice comes. Each backend supplies only the primitives.
#pragma once

#include <cstdint>
#include <string>

namespace network_watch {

// How often, in milliseconds, the addresses and routes are compared.
constexpr unsigned kPollMs = 1000;

class Backend {
public:
    virtual ~Backend() = default;
    // Waits up to `timeoutMs` milliseconds for the system's notice of a
    // change, and returns whether one came. Without notices it only waits.
    virtual bool WaitNotified(unsigned timeoutMs) = 0;
    // The addresses and routes, as text that differs when they differ.
    virtual std::string Snapshot() = 0;
    // Milliseconds on a monotonic clock; by default AfxGetTickMilliseconds.
    virtual std::int64_t NowMs();
};

// Waits until `backend` gives notice of a change, or its Snapshot differs
// from `before`, or `timeoutMs` milliseconds have passed. True for a change.
bool WaitForChange(Backend& backend, const std::string& before, unsigned timeoutMs);

}  // namespace network_watch
