#include "loopback.h"

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

namespace loopback {

namespace {

// Fills `storage` with `address`:`port`; returns the address length.
socklen_t MakeAddress(const char* address, std::uint16_t port, sockaddr_storage* storage)
{
    std::memset(storage, 0, sizeof *storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
    if (inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return sizeof *v4;
    }
    if (inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return sizeof *v6;
    }
    throw std::invalid_argument(std::string("not an address: ") + address);
}

// A socket bound to `address`:`port`; its port is stored in `*bound`.
int Bind(const char* address, std::uint16_t port, std::uint16_t* bound)
{
    sockaddr_storage storage;
    socklen_t length = MakeAddress(address, port, &storage);
    const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (storage.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0)
        throw std::runtime_error(std::string("cannot bind: ") + std::strerror(errno));
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    *bound = storage.ss_family == AF_INET6
                 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                 : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return fd;
}

bool Readable(int fd, int milliseconds)
{
    pollfd p = {fd, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return r > 0;
}

// Reads what is there into `data`, waiting up to `milliseconds` for it.
// False at the peer's close, an error or the end of the wait.
bool ReadSome(int fd, std::string* data, std::size_t most, int milliseconds)
{
    char buffer[65536];
    if (!Readable(fd, milliseconds))
        return false;
    const ssize_t n = recv(fd, buffer, std::min(most, sizeof buffer), 0);
    if (n <= 0)
        return false;
    data->append(buffer, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

Listener::Listener(const char* address, std::uint16_t port, int backlog)
{
    m_fd = Bind(address, port, &m_port);
    if (listen(m_fd, backlog) != 0)
        throw std::runtime_error(std::string("cannot listen: ") + std::strerror(errno));
}

Listener::~Listener()
{
    close(m_fd);
}

int Listener::Accept()
{
    return Readable(m_fd, 5000) ? accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

Swallower::Swallower(const char* address, std::uint16_t port) : m_listener(address, port, 0)
{
    sockaddr_storage storage;
    const socklen_t length = MakeAddress(address, m_listener.port(), &storage);
    m_filler = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_filler < 0 || connect(m_filler, reinterpret_cast<sockaddr*>(&storage), length) != 0)
        throw std::runtime_error(std::string("cannot fill the listen queue: ") + std::strerror(errno));
}

Swallower::~Swallower()
{
    close(m_filler);
}

Server::Server(const char* address, std::uint16_t port, std::function<void(int fd)> script)
    : m_listener(address, port)
{
    m_thread = std::thread([this, script] {
        const int fd = m_listener.Accept();
        if (fd < 0)
            return;
        script(fd);
        close(fd);
    });
}

Server::~Server()
{
    m_thread.join();
}

std::string ReadRequest(int fd, std::size_t limit)
{
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < limit &&
           ReadSome(fd, &request, limit - request.size(), 5000)) {
    }
    return request;
}

std::string Read(int fd, std::size_t count)
{
    std::string data;
    while (data.size() < count && ReadSome(fd, &data, count - data.size(), 5000)) {
    }
    return data;
}

void Send(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void SendInPieces(int fd, const std::string& data, std::size_t size, int pauseMs)
{
    for (std::size_t i = 0; i < data.size(); i += size) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Send(fd, data.substr(i, size));
    }
}

bool PeerCloses(int fd, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Readable(fd, static_cast<int>(left.count())))
            return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return n == 0 || errno == ECONNRESET;
    }
}

void ResetOnClose(int fd)
{
    const linger reset = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

std::uint16_t ClosedPort(int family)
{
    std::uint16_t port = 0;
    close(Bind(family == AF_INET6 ? "::1" : "127.0.0.1", 0, &port));
    return port;
}

}  // namespace loopback
