#include "tcp_client.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tcp {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(): -1 for no deadline.
int PollTimeout(bool limited, Clock::time_point deadline)
{
    if (!limited)
        return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd`, retrying on EINTR. Returns >0 when ready, 0
// on time-out, -1 on error.
int WaitFor(int fd, short events, bool limited, Clock::time_point deadline)
{
    for (;;) {
        pollfd p = {fd, events, 0};
        const int r = poll(&p, 1, PollTimeout(limited, deadline));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

int ConnectOne(const addrinfo* ai, bool limited, Clock::time_point deadline)
{
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0)
        return -1;
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return -1;
        }
        if (WaitFor(fd, POLLOUT, limited, deadline) <= 0) {
            close(fd);
            errno = ETIMEDOUT;
            return -1;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            close(fd);
            errno = error ? error : EIO;
            return -1;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return fd;
}

}  // namespace

int Connect(const char* host, unsigned port, unsigned timeoutMs)
{
    const bool limited = timeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    char service[16];
    std::snprintf(service, sizeof service, "%u", port);
    addrinfo* list = nullptr;
    if (getaddrinfo(host, service, &hints, &list) != 0) {
        errno = EHOSTUNREACH;
        return -1;
    }
    int fd = -1;
    for (const addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ConnectOne(ai, limited, deadline);
        if (limited && Clock::now() >= deadline)
            break;
    }
    freeaddrinfo(list);
    return fd;
}

long Receive(int fd, void* buffer, std::size_t length, unsigned timeoutMs)
{
    const bool limited = timeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int ready = WaitFor(fd, POLLIN, limited, deadline);
    if (ready <= 0) {
        if (ready == 0)
            errno = ETIMEDOUT;
        return -1;
    }
    for (;;) {
        const ssize_t n = recv(fd, buffer, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<long>(n);
    }
}

long Send(int fd, const void* data, std::size_t length)
{
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = send(fd, p + sent, length - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<long>(sent);
}

void Close(int fd)
{
    if (fd >= 0)
        close(fd);
}

}  // namespace tcp
