#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

// Fills `storage` with `address`:`port`; returns the address length.
socklen_t MakeAddress(const char* address, std::uint16_t port, sockaddr_storage* storage)
{
    std::memset(storage, 0, sizeof *storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
    if (inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return sizeof *v4;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
    if (inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return sizeof *v6;
    }
    throw std::invalid_argument(std::string("not an address: ") + address);
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_storage bound = {};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

// Waits up to `milliseconds` for input on `fd`; true when some is there.
bool Readable(int fd, int milliseconds)
{
    pollfd p = {fd, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return r > 0;
}

}  // namespace

std::string LoopbackServer::Peer::ReadRequest()
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && Readable(m_fd, 5000)) {
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    m_received += request;
    return request;
}

std::string LoopbackServer::Peer::Read(std::size_t count)
{
    std::string data;
    char buffer[65536];
    while (data.size() < count && Readable(m_fd, 5000)) {
        const std::size_t want = std::min(sizeof buffer, count - data.size());
        const ssize_t n = recv(m_fd, buffer, want, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    m_received += data;
    return data;
}

void LoopbackServer::Peer::Send(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void LoopbackServer::Peer::SendInPieces(const std::string& data, std::size_t size, int pauseMs)
{
    for (std::size_t i = 0; i < data.size(); i += size) {
        if (i > 0)
            Pause(pauseMs);
        Send(data.substr(i, size));
    }
}

void LoopbackServer::Peer::Pause(int milliseconds)
{
    m_server.WaitForStop(milliseconds);
}

void LoopbackServer::Peer::Hang()
{
    char buffer[4096];
    while (!m_server.WaitForStop(50)) {
        if (!Readable(m_fd, 0))
            continue;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        m_received.append(buffer, static_cast<std::size_t>(n));
    }
}

bool LoopbackServer::Peer::ClientCloses(int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !Readable(m_fd, static_cast<int>(left)))
            return false;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET;
        m_received.append(buffer, static_cast<std::size_t>(n));
    }
}

LoopbackServer::LoopbackServer(const char* address, std::uint16_t port, Script script, int backlog)
    : m_script(std::move(script))
{
    sockaddr_storage storage;
    const socklen_t length = MakeAddress(address, port, &storage);
    m_listener = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (storage.ss_family == AF_INET6)
        setsockopt(m_listener, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        listen(m_listener, backlog) != 0)
        throw std::runtime_error(std::string("cannot listen: ") + std::strerror(errno));
    m_port = LocalPort(m_listener);
    if (m_script)
        m_thread = std::thread(&LoopbackServer::Run, this);
}

LoopbackServer::~LoopbackServer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    close(m_listener);
}

void LoopbackServer::Run()
{
    while (!Stopping()) {
        if (!Readable(m_listener, 50))
            continue;
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Peer peer(*this, fd);
        m_script(peer);
        close(fd);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.push_back(peer.m_received);
        }
        m_changed.notify_all();
    }
}

bool LoopbackServer::Stopping()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

bool LoopbackServer::WaitForStop(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stop; });
}

std::vector<std::string> LoopbackServer::Received()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::vector<std::string> LoopbackServer::Notes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notes;
}

void LoopbackServer::Note(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notes.push_back(text);
    }
    m_changed.notify_all();
}

bool LoopbackServer::WaitForConnections(std::size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(15),
                              [&] { return m_received.size() >= count; });
}

std::uint16_t ClosedPort(int family)
{
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage;
    const socklen_t length =
        MakeAddress(family == AF_INET6 ? "::1" : "127.0.0.1", 0, &storage);
    bind(fd, reinterpret_cast<sockaddr*>(&storage), length);
    const std::uint16_t port = LocalPort(fd);
    close(fd);
    return port;
}
