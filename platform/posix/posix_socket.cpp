// CAsyncSocket over the POSIX TCP client.

#include <cerrno>
#include <chrono>
#include <climits>

#include "afxsock.h"
#include "tcp_client.h"

namespace {

// Milliseconds on the monotonic clock, for the receive deadline.
std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

BOOL AfxSocketInit()
{
    return TRUE;  // BSD sockets need no start-up
}

CAsyncSocket::~CAsyncSocket()
{
    Close();
}

BOOL CAsyncSocket::Create(UINT port, int socketType, long /*eventMask*/, LPCTSTR socketAddress)
{
    // The descriptor is made by Connect, once the address family is known.
    return port == 0 && socketType == SOCK_STREAM && socketAddress == nullptr ? TRUE : FALSE;
}

BOOL CAsyncSocket::Connect(LPCTSTR host, UINT port)
{
    Close();
    const int fd = tcp::Connect(host, port, m_connectTimeoutMs);
    if (fd < 0)
        return FALSE;
    m_hSocket = fd;
    m_receiveDeadlineMs = NowMs() + m_receiveTimeoutMs;
    return TRUE;
}

int CAsyncSocket::Send(const void* data, int length, int /*flags*/)
{
    if (m_hSocket < 0 || length < 0)
        return -1;
    const long sent = tcp::Send(static_cast<int>(m_hSocket), data, static_cast<std::size_t>(length));
    m_receiveDeadlineMs = NowMs() + m_receiveTimeoutMs;
    return static_cast<int>(sent);
}

int CAsyncSocket::Receive(void* buffer, int length, int /*flags*/)
{
    if (m_hSocket < 0 || length < 0)
        return -1;
    unsigned waitMs = 0;  // no limit
    if (m_receiveTimeoutMs != 0) {
        const std::int64_t left = m_receiveDeadlineMs - NowMs();
        if (left <= 0)
            return 0;
        waitMs = static_cast<unsigned>(left);
    }
    const long n =
        tcp::Receive(static_cast<int>(m_hSocket), buffer, static_cast<std::size_t>(length), waitMs);
    // The deadline passing ends the response as the peer closing would.
    if (n < 0 && errno == ETIMEDOUT && m_receiveTimeoutMs != 0)
        return 0;
    return static_cast<int>(n);
}

void CAsyncSocket::Close()
{
    if (m_hSocket >= 0)
        tcp::Close(static_cast<int>(m_hSocket));
    m_hSocket = -1;
}

void CAsyncSocket::SetTimeouts(UINT connectMilliseconds, UINT receiveMilliseconds)
{
    m_connectTimeoutMs = connectMilliseconds;
    m_receiveTimeoutMs = receiveMilliseconds;
}
