// The race of a server's addresses (connect_race.h), the same for every
// backend: CAsyncSocket::Connect of each one runs it over its primitives.

#include "connect_race.h"

#include <climits>

#include "afxwin.h"

namespace connect_race {

namespace {

void CloseAll(Backend& backend, const std::vector<Handle>& handles)
{
    for (const Handle handle : handles)
        backend.Close(handle);
}

// `ms` as a wait for WaitAny, which takes an int.
int WaitMs(std::int64_t ms)
{
    return ms < 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

std::vector<std::size_t> AttemptOrder(const std::vector<int>& families)
{
    // Each family's addresses in the resolver's order, the families in the
    // order of their first address; then one of each family in turn.
    std::vector<int> familyOf;
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < families.size(); ++i) {
        std::size_t g = 0;
        while (g < familyOf.size() && familyOf[g] != families[i])
            ++g;
        if (g == familyOf.size()) {
            familyOf.push_back(families[i]);
            groups.emplace_back();
        }
        groups[g].push_back(i);
    }
    std::vector<std::size_t> order;
    for (std::size_t round = 0; order.size() < families.size(); ++round) {
        for (const std::vector<std::size_t>& group : groups) {
            if (round < group.size())
                order.push_back(group[round]);
        }
    }
    return order;
}

std::int64_t Backend::NowMs()
{
    return static_cast<std::int64_t>(AfxGetTickMilliseconds());
}

bool Race(Backend& backend, const std::vector<int>& families, unsigned timeoutMs, Handle* winner,
          bool* unreachable)
{
    // Stays true while every attempt that ended failed for want of a route.
    bool allUnreachable = !families.empty();
    const std::vector<std::size_t> order = AttemptOrder(families);
    const bool limited = timeoutMs != 0;
    const std::int64_t deadlineMs = backend.NowMs() + timeoutMs;
    std::vector<Handle> pending;  // in the order they started
    std::vector<bool> finished;
    std::size_t next = 0;          // the next attempt to start, in `order`
    std::int64_t nextStartMs = 0;  // when it starts, unless one fails first
    for (;;) {
        const std::int64_t now = backend.NowMs();
        if (limited && now >= deadlineMs)
            break;
        if (next < order.size() && (pending.empty() || now >= nextStartMs)) {
            Handle handle = -1;
            int error = 0;
            switch (backend.StartConnect(order[next++], &handle, &error)) {
            case Backend::Started::Connected:
                CloseAll(backend, pending);
                *winner = handle;
                return true;
            case Backend::Started::Pending:
                pending.push_back(handle);
                nextStartMs = now + kAttemptDelayMs;
                break;
            case Backend::Started::Failed:
                allUnreachable = allUnreachable && backend.IsUnreachable(error);
                break;  // the next one starts at once
            }
            continue;
        }
        if (pending.empty())
            break;  // every attempt has failed

        std::int64_t waitMs = -1;
        if (next < order.size())
            waitMs = nextStartMs - now;
        if (limited && (waitMs < 0 || deadlineMs - now < waitMs))
            waitMs = deadlineMs - now;
        finished.assign(pending.size(), false);
        const int ready = backend.WaitAny(pending, waitMs < 0 ? -1 : WaitMs(waitMs), &finished);
        if (ready < 0)
            break;
        for (std::size_t i = 0; i < pending.size();) {
            if (!finished[i]) {
                ++i;
                continue;
            }
            const Handle handle = pending[i];
            const int error = backend.ConnectError(handle);
            if (error == 0) {
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                CloseAll(backend, pending);
                *winner = handle;
                return true;
            }
            allUnreachable = allUnreachable && backend.IsUnreachable(error);
            backend.Close(handle);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            finished.erase(finished.begin() + static_cast<std::ptrdiff_t>(i));
            nextStartMs = now;  // a failure starts the next attempt at once
        }
    }
    if (unreachable != nullptr)
        *unreachable = allUnreachable && pending.empty() && next == order.size();
    CloseAll(backend, pending);
    return false;
}

}  // namespace connect_race
