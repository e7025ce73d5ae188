// AfxSocketInit and CAsyncSocket over Windows Sockets 2: name resolution by
// getaddrinfo (IPv4 and IPv6), the race of the server's addresses within the
// connect time-out (connect_race.h; non-blocking connects), and a receive
// deadline (a wait before each recv, for what is left of it).
//
// The calls are blocking and run on the window's thread, so, as MFC's
// CSocket does, every wait for the network also watches the thread's message
// queue: it answers messages sent by other threads and processes and paints
// its windows, but takes no input or posted message off the queue, so no
// button handler runs again inside a call. One primitive, WaitSockets, does
// this for the race and the receive.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "afxsock.h"
#include "afxwin.h"
#include "connect_race.h"
#include "win32_window.h"

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

// What a wait watches its sockets for.
enum class Awaited {
    Readable,   // data, or the peer closed: select's read set
    Connected,  // a non-blocking connect finished, either way: the write
                // set (connected) or the exception set (failed)
};

// Longest a wait goes, in milliseconds, without looking at the thread's
// queue (PeekMessage). Input stays queued until the call returns, and
// Windows judges a window hung, and ghosts it, when its thread has not
// looked at its queue for 5 s.
constexpr DWORD kQueueLookMs = 1000;
// How often, in milliseconds, a paint that painting did not clear (a window
// that does not validate itself) is tried again; a wait that woke for it at
// once would spin.
constexpr DWORD kPaintRetryMs = 100;
// Windows painted in one look at the queue, at most.
constexpr std::size_t kPaintsAtOnce = 64;

// select() over `count` sockets (at most FD_SETSIZE) for `what`, waiting at
// most `limit` (null: without limit). Fills `ready` (the read or write set)
// and, for Connected, `failed`. Returns how many are reported, 0 at the
// time-out, SOCKET_ERROR on error.
int Select(const SOCKET* sockets, std::size_t count, Awaited what, timeval* limit, fd_set* ready,
           fd_set* failed)
{
    FD_ZERO(ready);
    FD_ZERO(failed);
    for (std::size_t i = 0; i < count; ++i) {
        FD_SET(sockets[i], ready);
        if (what == Awaited::Connected)
            FD_SET(sockets[i], failed);
    }
    const bool reading = what == Awaited::Readable;
    return select(0, reading ? ready : nullptr, reading ? nullptr : ready, reading ? nullptr : failed, limit);
}

// Waits until select() reports one of `count` sockets (at most FD_SETSIZE)
// for `what`, or `timeoutMs` milliseconds have passed (negative: without
// limit), and fills `ready` and `failed` as Select does. Meanwhile it
// answers sent messages and paints (AnswerSentAndPaint), in MsgWait-
// ForMultipleObjects over one WSAEventSelect event for all the sockets.
// A socket may be left non-blocking (WSAEventSelect makes it so).
// Returns how many are ready, 0 at the time-out, SOCKET_ERROR on error.
int WaitSockets(const SOCKET* sockets, std::size_t count, Awaited what, int timeoutMs, fd_set* ready,
                fd_set* failed)
{
    timeval now = {0, 0};
    int result = Select(sockets, count, what, &now, ready, failed);
    if (result != 0 || timeoutMs == 0)
        return result;

    const WSAEVENT event = WSACreateEvent();
    const long events = what == Awaited::Readable ? FD_READ | FD_CLOSE : FD_CONNECT;
    std::size_t selected = 0;
    if (event != WSA_INVALID_EVENT) {
        while (selected < count && WSAEventSelect(sockets[selected], event, events) == 0)
            ++selected;
    }
    if (selected < count) {
        // Without the event the wait cannot watch the queue: select alone.
        for (std::size_t i = 0; i < selected; ++i)
            WSAEventSelect(sockets[i], nullptr, 0);
        if (event != WSA_INVALID_EVENT)
            WSACloseEvent(event);
        timeval limit = {timeoutMs / 1000, timeoutMs % 1000 * 1000};
        return Select(sockets, count, what, timeoutMs < 0 ? nullptr : &limit, ready, failed);
    }

    const ULONGLONG startMs = AfxGetTickMilliseconds();
    for (;;) {
        const bool paintPending = win32_window::AnswerSentAndPaint();
        // The event says only that something happened since it was reset
        // (and FD_READ is recorded once until the next recv): the sockets
        // themselves are asked, after the reset, so that nothing is missed.
        WSAResetEvent(event);
        result = Select(sockets, count, what, &now, ready, failed);
        if (result != 0)
            break;
        DWORD sliceMs = paintPending ? kPaintRetryMs : kQueueLookMs;
        if (timeoutMs > 0) {
            const ULONGLONG spentMs = AfxGetTickMilliseconds() - startMs;
            if (spentMs >= static_cast<ULONGLONG>(timeoutMs))
                break;
            sliceMs = std::min(sliceMs, static_cast<DWORD>(timeoutMs - spentMs));
        }
        // Wakes for the sockets, a sent message or a new paint; a paint that
        // stays pending is left to the next slice.
        const DWORD wake = paintPending ? QS_SENDMESSAGE : QS_SENDMESSAGE | QS_PAINT;
        if (MsgWaitForMultipleObjects(1, &event, FALSE, sliceMs, wake) == WAIT_FAILED) {
            result = SOCKET_ERROR;
            break;
        }
    }
    for (std::size_t i = 0; i < count; ++i)
        WSAEventSelect(sockets[i], nullptr, 0);
    WSACloseEvent(event);
    return result;
}

// The race's primitives over Winsock, for one resolved list. Only what
// Windows XP has: ioctlsocket(FIONBIO), WaitSockets, SO_ERROR.
class Win32Race : public connect_race::Backend {
public:
    explicit Win32Race(std::vector<const addrinfo*> addresses) : m_addresses(std::move(addresses)) {}

    Started StartConnect(std::size_t index, connect_race::Handle* handle, int* error) override
    {
        const addrinfo* address = m_addresses[index];
        const SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (s == INVALID_SOCKET) {
            *error = WSAGetLastError();
            return Started::Failed;
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
            *error = WSAGetLastError();
            closesocket(s);
            return Started::Failed;
        }
        *handle = static_cast<connect_race::Handle>(s);
        m_indexOf[*handle] = index;
        if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0)
            return Started::Connected;
        *error = WSAGetLastError();
        if (*error == WSAEWOULDBLOCK)
            return Started::Pending;
        closesocket(s);
        return Started::Failed;
    }

    // A wait watches at most FD_SETSIZE (64) sockets: with attempts 250 ms
    // apart, more are never in flight within the connect time-out.
    int WaitAny(const std::vector<connect_race::Handle>& handles, int timeoutMs,
                std::vector<bool>* finished) override
    {
        const std::size_t watched = handles.size() < FD_SETSIZE ? handles.size() : FD_SETSIZE;
        SOCKET sockets[FD_SETSIZE];
        for (std::size_t i = 0; i < watched; ++i)
            sockets[i] = Handle(handles[i]);
        fd_set writable;
        fd_set failed;
        const int ready = WaitSockets(sockets, watched, Awaited::Connected, timeoutMs, &writable, &failed);
        if (ready == SOCKET_ERROR)
            return -1;
        for (std::size_t i = 0; i < watched; ++i)
            (*finished)[i] = FD_ISSET(sockets[i], &writable) || FD_ISSET(sockets[i], &failed);
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

    bool IsUnreachable(int error) const override
    {
        return error == WSAENETUNREACH || error == WSAEHOSTUNREACH || error == WSAENETDOWN ||
               error == WSAEADDRNOTAVAIL;
    }

    // The index of the address a socket was started for.
    std::size_t indexOf(connect_race::Handle handle) const { return m_indexOf.at(handle); }

private:
    std::vector<const addrinfo*> m_addresses;
    std::map<connect_race::Handle, std::size_t> m_indexOf;
};

// Waits until `s` has data or the peer closed: > 0 ready, 0 time-out,
// < 0 error. `timeoutMs` 0 waits without limit. `s` stays blocking, as
// Send expects.
int WaitReadable(SOCKET s, unsigned timeoutMs)
{
    fd_set readable;
    fd_set unused;
    const int limitMs = timeoutMs == 0 ? -1 : static_cast<int>(std::min(timeoutMs, static_cast<unsigned>(INT_MAX)));
    const int ready = WaitSockets(&s, 1, Awaited::Readable, limitMs, &readable, &unused);
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return ready;
}

void CleanUpWinsock()
{
    WSACleanup();
}

}  // namespace

bool win32_window::AnswerSentAndPaint()
{
    HWND painted[kPaintsAtOnce];
    std::size_t count = 0;
    MSG msg;
    while (count < kPaintsAtOnce &&
           PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        // A window whose painting left it invalid gets its next WM_PAINT at
        // the next look.
        if (std::find(painted, painted + count, msg.hwnd) != painted + count)
            break;
        painted[count++] = msg.hwnd;
        DispatchMessageW(&msg);
    }
    return (HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) != 0;
}

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
    m_connectFailure = ConnectFailure::NoName;
    m_resolved.clear();
    m_connectedAddress = -1;
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
        char numeric[NI_MAXHOST];
        const bool named = getnameinfo(address->ai_addr, static_cast<socklen_t>(address->ai_addrlen),
                                       numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST) == 0;
        m_resolved.push_back(named ? numeric : "");
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
    bool unreachable = false;
    const bool connected = connect_race::Race(race, families, leftMs, &winner, &unreachable);
    freeaddrinfo(list);
    if (!connected) {
        m_connectFailure = unreachable ? ConnectFailure::Unreachable : ConnectFailure::Other;
        return FALSE;
    }
    m_connectFailure = ConnectFailure::None;
    m_connectedAddress = static_cast<int>(race.indexOf(winner));
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
