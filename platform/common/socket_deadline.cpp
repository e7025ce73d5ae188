// The receive deadline of CAsyncSocket, the same for every backend: it
// starts when a connection is made and again with every Send, and each
// Receive waits only for what is left of it.

#include "afxsock.h"
#include "afxwin.h"

namespace {

// Milliseconds on the platform's monotonic tick: the wall clock is what the
// program is about to change. (Not std::chrono::steady_clock: in the
// win32-threads C++ library of mingw-w64 it reads the wall clock.)
std::int64_t NowMs()
{
    return static_cast<std::int64_t>(AfxGetTickMilliseconds());
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
