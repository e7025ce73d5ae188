// Blocking TCP client sockets in the style of MFC's CAsyncSocket/CSocket.
// While a call waits for the network, the Windows backend answers messages
// sent to the calling thread and paints its windows, as CSocket does; input
// and posted messages wait in the queue until the call returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win32api.h"

// Starts the socket layer. Safe to call more than once. Returns FALSE when
// the layer cannot start.
BOOL AfxSocketInit();

// Why a Connect failed, as far as it tells whether the network is up yet.
enum class ConnectFailure {
    None,         // no failed Connect since the socket was made
    NoName,       // the host name did not resolve
    Unreachable,  // no route leads to any of the host's addresses
    Other,        // refused, no answer in time, or anything else
};

class CAsyncSocket {
public:
    CAsyncSocket() = default;
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;
    // Closes the socket if it is still open.
    virtual ~CAsyncSocket();

    // Creates the socket. `eventMask` is accepted for compatibility; the
    // socket always works in blocking mode. Only `port` 0 with no local
    // address is supported: the system picks the local end.
    BOOL Create(UINT port = 0, int socketType = SOCK_STREAM, long eventMask = 63,
                LPCTSTR socketAddress = nullptr);
    // Resolves `host` (IPv4 and IPv6) and races connections to its
    // addresses: the next attempt starts 250 ms after the one before, or at
    // once when one fails, and the first connection to complete is kept,
    // every other one closed. All within the connect time-out; FALSE when
    // no address connects by then. The name look-up counts in the time-out;
    // the POSIX backend also ends a look-up that outlasts it, while on
    // Windows the look-up is bounded by the system resolver's own time-outs.
    BOOL Connect(LPCTSTR host, UINT port);
    // Returns bytes sent, or -1 on error. Starts the receive deadline.
    int Send(const void* data, int length, int flags = 0);
    // Returns bytes read (at most `length`), 0 when the peer closed or the
    // receive deadline has passed, -1 on error. Waits at most until the
    // deadline, however the bytes trickle in: what arrived by then is all
    // the caller gets, as if the peer had closed.
    int Receive(void* buffer, int length, int flags = 0);
    void Close();
    // Why the last Connect failed; None after one that succeeded.
    ConnectFailure GetConnectFailure() const { return m_connectFailure; }
    // The addresses the last Connect resolved its host to, numeric
    // ("127.0.0.2", "::1"), in the resolver's order, and the index of the
    // one it connected to (-1: none). A Connect given one of them as its
    // host connects to that address alone.
    const std::vector<std::string>& GetResolvedAddresses() const { return m_resolved; }
    int GetConnectedAddress() const { return m_connectedAddress; }

    // Time-outs in milliseconds; 0 waits without limit. Takes effect for
    // calls made after it.
    // `connectMilliseconds` bounds Connect (see there for the look-up).
    // `receiveMilliseconds` is the receive deadline: receiving ends at the
    // latest this long after the last Send (or after Connect, when nothing
    // was sent).
    void SetTimeouts(UINT connectMilliseconds, UINT receiveMilliseconds);

protected:
    // Restarts the receive deadline: receiving ends this socket's receive
    // time-out from now.
    void StartReceiveDeadline();
    // How long the next Receive may wait, in milliseconds, in `waitMs` (0:
    // without limit). False when the deadline has passed.
    bool ReceiveWaitMs(unsigned* waitMs) const;

    std::intptr_t m_hSocket = -1;  // backend socket handle, -1 when closed
    UINT m_connectTimeoutMs = 0;
    UINT m_receiveTimeoutMs = 0;
    // The receive deadline on the backend's monotonic clock, in
    // milliseconds; meaningful while m_receiveTimeoutMs is not 0.
    std::int64_t m_receiveDeadlineMs = 0;
    ConnectFailure m_connectFailure = ConnectFailure::None;
    std::vector<std::string> m_resolved;
    int m_connectedAddress = -1;
};

class CSocket : public CAsyncSocket {
public:
    CSocket() = default;
};

// Watches the system's network addresses and routes for a change: an
// interface coming up, an address or a route added or taken away. A change
// counts from the moment the watch is made.
class CNetworkWatch {
public:
    CNetworkWatch();
    ~CNetworkWatch();
    CNetworkWatch(const CNetworkWatch&) = delete;
    CNetworkWatch& operator=(const CNetworkWatch&) = delete;

    // Blocks until a change has been seen since the watch was made, or
    // `timeoutMilliseconds` have passed. TRUE for a change. The system's
    // notice of a change ends the wait at once; where there is none (Wine's
    // NotifyAddrChange is a stub), a comparison of the addresses and routes
    // every second finds it. On Windows the wait answers sent messages and
    // paints, as the socket calls do.
    BOOL WaitForChange(UINT timeoutMilliseconds);

    class Impl;  // the backend's

private:
    Impl* m_pImpl;
};
