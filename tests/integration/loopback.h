// The server side of the tests' loopback connections, on the system's own
// socket API. Every wait is bounded (5 s of silence), so a faulty client
// fails a test instead of hanging it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace loopback {

// A listening socket on `address` (an IPv4 or IPv6 literal) and `port`
// (0: any free port), with a listen queue of `backlog`.
class Listener {
public:
    explicit Listener(const char* address, std::uint16_t port = 0, int backlog = 16);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t port() const { return m_port; }
    // The next connection's descriptor, or -1 after 5 s without one.
    int Accept();

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A listening socket on `address` and `port` (0: any free port) that takes
// no connection: its listen queue of one place is filled by a connection of
// its own, so the kernel drops every further SYN and a client's connect
// neither completes nor fails, as with a dead server or a firewall that
// drops.
class Swallower {
public:
    explicit Swallower(const char* address, std::uint16_t port = 0);
    ~Swallower();
    Swallower(const Swallower&) = delete;
    Swallower& operator=(const Swallower&) = delete;

    std::uint16_t port() const { return m_listener.port(); }

private:
    Listener m_listener;
    int m_filler = -1;
};

// One connection served by `script` in a thread of its own; the script's
// descriptor is closed when it returns. The destructor waits for that.
class Server {
public:
    Server(const char* address, std::uint16_t port, std::function<void(int fd)> script);
    ~Server();
    std::uint16_t port() const { return m_listener.port(); }

private:
    Listener m_listener;
    std::thread m_thread;
};

// Reads until the end of the request headers (CR LF CR LF), `limit` bytes,
// the peer's close, or 5 s of silence.
std::string ReadRequest(int fd, std::size_t limit = 65536);
// Reads until `count` bytes, the peer's close, or 5 s of silence.
std::string Read(int fd, std::size_t count);
void Send(int fd, const std::string& data);
// Sends `data` in pieces of `size` bytes, `pauseMs` apart.
void SendInPieces(int fd, const std::string& data, std::size_t size, int pauseMs);
// Whether the peer closes (or resets) its end within `seconds`; what it
// sends until then is read and dropped.
bool PeerCloses(int fd, int seconds = 5);
// Makes the close of `fd` a reset (RST) instead of the orderly FIN.
void ResetOnClose(int fd);

// A loopback port of `family` (AF_INET or AF_INET6) that nothing listens
// on: a connection to it is refused.
std::uint16_t ClosedPort(int family);

}  // namespace loopback
