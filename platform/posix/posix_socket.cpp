// CAsyncSocket over the POSIX TCP client.

#include <cerrno>
#include <climits>

#include "afxsock.h"
#include "tcp_client.h"

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
    tcp::Failure failure = tcp::Failure::Other;
    const int fd =
        tcp::Connect(host, port, m_connectTimeoutMs, &failure, &m_resolved, &m_connectedAddress);
    if (fd < 0) {
        m_connectFailure = failure == tcp::Failure::NoName        ? ConnectFailure::NoName
                           : failure == tcp::Failure::Unreachable ? ConnectFailure::Unreachable
                                                                  : ConnectFailure::Other;
        return FALSE;
    }
    m_connectFailure = ConnectFailure::None;
    m_hSocket = fd;
    StartReceiveDeadline();
    return TRUE;
}

int CAsyncSocket::Send(const void* data, int length, int /*flags*/)
{
    if (m_hSocket < 0 || length < 0)
        return -1;
    const long sent = tcp::Send(static_cast<int>(m_hSocket), data, static_cast<std::size_t>(length));
    StartReceiveDeadline();
    return static_cast<int>(sent);
}

int CAsyncSocket::Receive(void* buffer, int length, int /*flags*/)
{
    if (m_hSocket < 0 || length < 0)
        return -1;
    unsigned waitMs = 0;
    if (!ReceiveWaitMs(&waitMs))
        return 0;  // the deadline passing ends the response as a close would
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
