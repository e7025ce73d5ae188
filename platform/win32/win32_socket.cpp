// AfxSocketInit and CAsyncSocket over Windows Sockets 2: name resolution by
// getaddrinfo (IPv4 and IPv6), a connect time-out (non-blocking connect,
// then select), and a receive deadline (select before each recv, for what
// is left of it).

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "afxsock.h"

namespace {

using Clock = std::chrono::steady_clock;

SOCKET Handle(std::intptr_t value)
{
    return static_cast<SOCKET>(value);
}

// The select() time-out for what is left until `deadline`; null (wait
// without limit) when `limited` is false.
timeval* TimeLeft(bool limited, Clock::time_point deadline, timeval* storage)
{
    if (!limited)
        return nullptr;
    long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (ms < 0)
        ms = 0;
    storage->tv_sec = static_cast<long>(ms / 1000);
    storage->tv_usec = static_cast<long>(ms % 1000) * 1000;
    return storage;
}

// Connects `s` to `address`; false on refusal, error or time-out. A failed
// non-blocking connect is reported in the exception set, not as writable.
bool ConnectWithin(SOCKET s, const addrinfo* address, bool limited, Clock::time_point deadline)
{
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval storage;
        const int ready = select(0, nullptr, &writable, &failed, TimeLeft(limited, deadline, &storage));
        if (ready <= 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable))
            return false;
        int error = 0;
        int size = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0)
            return false;
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return true;
}

// Waits until `s` has data or the peer closed: > 0 ready, 0 time-out,
// < 0 error. `timeoutMs` 0 waits without limit.
int WaitReadable(SOCKET s, unsigned timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, timeoutMs != 0 ? &limit : nullptr);
}

void CleanUpWinsock()
{
    WSACleanup();
}

}  // namespace

BOOL AfxSocketInit()
{
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        std::atexit(&CleanUpWinsock);
        return true;
    }();
    return started ? TRUE : FALSE;
}

CAsyncSocket::~CAsyncSocket()
{
    Close();
}

BOOL CAsyncSocket::Create(UINT port, int socketType, long /*eventMask*/, LPCTSTR socketAddress)
{
    // The socket itself is made by Connect, once the address family of the
    // server is known.
    return port == 0 && socketType == SOCK_STREAM && socketAddress == nullptr ? TRUE : FALSE;
}

BOOL CAsyncSocket::Connect(LPCTSTR host, UINT port)
{
    Close();
    const bool limited = m_connectTimeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_connectTimeoutMs);

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    char service[16];
    std::snprintf(service, sizeof service, "%u", port);
    addrinfo* list = nullptr;
    if (host == nullptr || getaddrinfo(host, service, &hints, &list) != 0)
        return FALSE;
    for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
        const SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (s == INVALID_SOCKET)
            continue;
        if (ConnectWithin(s, address, limited, deadline)) {
            m_hSocket = static_cast<std::intptr_t>(s);
            StartReceiveDeadline();
            break;
        }
        closesocket(s);
        if (limited && Clock::now() >= deadline)
            break;
    }
    freeaddrinfo(list);
    return m_hSocket != -1 ? TRUE : FALSE;
}

int CAsyncSocket::Send(const void* data, int length, int flags)
{
    if (m_hSocket == -1 || length < 0)
        return -1;
    const char* bytes = static_cast<const char*>(data);
    int sent = 0;
    while (sent < length) {
        const int n = send(Handle(m_hSocket), bytes + sent, length - sent, flags);
        if (n == SOCKET_ERROR)
            return -1;
        sent += n;
    }
    StartReceiveDeadline();
    return sent;
}

int CAsyncSocket::Receive(void* buffer, int length, int flags)
{
    if (m_hSocket == -1 || length < 0)
        return -1;
    unsigned waitMs = 0;
    if (!ReceiveWaitMs(&waitMs))
        return 0;  // the deadline passing ends the response as a close would
    // The deadline passing ends the response as the peer closing would.
    const int ready = WaitReadable(Handle(m_hSocket), waitMs);
    if (ready == 0)
        return 0;
    if (ready < 0)
        return -1;
    const int n = recv(Handle(m_hSocket), static_cast<char*>(buffer), length, flags);
    return n == SOCKET_ERROR ? -1 : n;
}

void CAsyncSocket::Close()
{
    if (m_hSocket != -1)
        closesocket(Handle(m_hSocket));
    m_hSocket = -1;
}

void CAsyncSocket::SetTimeouts(UINT connectMilliseconds, UINT receiveMilliseconds)
{
    m_connectTimeoutMs = connectMilliseconds;
    m_receiveTimeoutMs = receiveMilliseconds;
}
