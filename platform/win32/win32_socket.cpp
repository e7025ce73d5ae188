// AfxSocketInit and CAsyncSocket over Windows Sockets 2: name resolution by
// getaddrinfo (IPv4 and IPv6), the race of the server's addresses within the
// connect time-out (connect_race.h; non-blocking connects, then select), and
// a receive deadline (select before each recv, for what is left of it).

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "afxsock.h"
#include "afxwin.h"
#include "connect_race.h"

namespace {

SOCKET Handle(std::intptr_t value)
{
    return static_cast<SOCKET>(value);
}

// Whether select() reports `s` in its exception set now: a non-blocking
// connect that failed.
bool ConnectFailed(SOCKET s)
{
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval now = {0, 0};
    return select(0, nullptr, nullptr, &failed, &now) == 1;
}

// The race's primitives over Winsock and select(), for one resolved list.
// Only what Windows XP has: ioctlsocket(FIONBIO), select, SO_ERROR.
class Win32Race : public connect_race::Backend {
public:
    explicit Win32Race(std::vector<const addrinfo*> addresses) : m_addresses(std::move(addresses)) {}

    Started StartConnect(std::size_t index, connect_race::Handle* handle) override
    {
        const addrinfo* address = m_addresses[index];
        const SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (s == INVALID_SOCKET)
            return Started::Failed;
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
            closesocket(s);
            return Started::Failed;
        }
        *handle = static_cast<connect_race::Handle>(s);
        if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0)
            return Started::Connected;
        if (WSAGetLastError() == WSAEWOULDBLOCK)
            return Started::Pending;
        closesocket(s);
        return Started::Failed;
    }

    // select() watches at most FD_SETSIZE (64) sockets: with attempts 250 ms
    // apart, more are never in flight within the connect time-out.
    int WaitAny(const std::vector<connect_race::Handle>& handles, int timeoutMs,
                std::vector<bool>* finished) override
    {
        const std::size_t watched = handles.size() < FD_SETSIZE ? handles.size() : FD_SETSIZE;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (std::size_t i = 0; i < watched; ++i) {
            FD_SET(Handle(handles[i]), &writable);
            FD_SET(Handle(handles[i]), &failed);
        }
        timeval limit = {timeoutMs / 1000, timeoutMs % 1000 * 1000};
        const int ready = select(0, nullptr, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
        if (ready == SOCKET_ERROR)
            return -1;
        for (std::size_t i = 0; i < watched; ++i) {
            const SOCKET s = Handle(handles[i]);
            (*finished)[i] = FD_ISSET(s, &writable) || FD_ISSET(s, &failed);
        }
        return ready;
    }

    // SO_ERROR tells why a connect failed; should it tell nothing, the
    // exception set still shows the failure.
    int ConnectError(connect_race::Handle handle) override
    {
        const SOCKET s = Handle(handle);
        int error = 0;
        int size = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            return WSAGetLastError();
        if (error == 0 && ConnectFailed(s))
            error = WSAECONNREFUSED;
        return error;
    }

    void Close(connect_race::Handle handle) override { closesocket(Handle(handle)); }

private:
    std::vector<const addrinfo*> m_addresses;
};

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
    const ULONGLONG startMs = AfxGetTickMilliseconds();
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    char service[16];
    std::snprintf(service, sizeof service, "%u", port);
    addrinfo* list = nullptr;
    if (host == nullptr || getaddrinfo(host, service, &hints, &list) != 0)
        return FALSE;
    std::vector<const addrinfo*> addresses;
    std::vector<int> families;
    for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
        addresses.push_back(address);
        families.push_back(address->ai_family);
    }
    // The look-up counts in the time-out; at least 1 ms is left (0 has no
    // limit).
    unsigned leftMs = 0;
    if (m_connectTimeoutMs != 0) {
        const ULONGLONG spentMs = AfxGetTickMilliseconds() - startMs;
        leftMs = spentMs < m_connectTimeoutMs ? m_connectTimeoutMs - static_cast<unsigned>(spentMs) : 1;
    }
    Win32Race race(std::move(addresses));
    connect_race::Handle winner = -1;
    const bool connected = connect_race::Race(race, families, leftMs, &winner);
    freeaddrinfo(list);
    if (!connected)
        return FALSE;
    u_long blocking = 0;
    ioctlsocket(Handle(winner), FIONBIO, &blocking);
    m_hSocket = winner;
    StartReceiveDeadline();
    return TRUE;
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
