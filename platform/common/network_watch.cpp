// CNetworkWatch's wait, the same for every backend (network_watch.h).

#include "network_watch.h"

#include "afxwin.h"

namespace network_watch {

std::int64_t Backend::NowMs()
{
    return static_cast<std::int64_t>(AfxGetTickMilliseconds());
}

bool WaitForChange(Backend& backend, const std::string& before, unsigned timeoutMs)
{
    const std::int64_t deadline = backend.NowMs() + timeoutMs;
    for (;;) {
        if (backend.Snapshot() != before)
            return true;
        const std::int64_t left = deadline - backend.NowMs();
        if (left <= 0)
            return false;
        if (backend.WaitNotified(left < kPollMs ? static_cast<unsigned>(left) : kPollMs))
            return true;
    }
}

}  // namespace network_watch
