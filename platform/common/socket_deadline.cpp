// The receive deadline of CAsyncSocket, the same for every backend: it
// starts when a connection is made and again with every Send, and each
// Receive waits only for what is left of it.

#include <chrono>

#include "afxsock.h"

namespace {

// Milliseconds on the monotonic clock: the wall clock is what the program
// is about to change.
std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void CAsyncSocket::StartReceiveDeadline()
{
    m_receiveDeadlineMs = NowMs() + m_receiveTimeoutMs;
}

bool CAsyncSocket::ReceiveWaitMs(unsigned* waitMs) const
{
    *waitMs = 0;  // no limit
    if (m_receiveTimeoutMs == 0)
        return true;
    const std::int64_t left = m_receiveDeadlineMs - NowMs();
    if (left <= 0)
        return false;
    *waitMs = static_cast<unsigned>(left);
    return true;
}
