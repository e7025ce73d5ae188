#include "tcp_client.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <map>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "connect_race.h"

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

// One name look-up on a thread of its own, so that a resolver that never
// answers (a name server not yet reachable at boot) cannot hold Connect
// beyond its deadline. Whichever of the waiter and the look-up thread lets
// go last frees it; a look-up given up on frees its own result.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    std::string host;
    std::string service;
    bool done = false;
    int users = 2;  // the waiter and the thread
    int result = EAI_AGAIN;
    addrinfo* list = nullptr;
};

addrinfo Hints()
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return hints;
}

// Drops one user's hold; the last one frees the look-up and, when nobody
// took it, its result.
void Release(Lookup* lookup)
{
    bool last = false;
    {
        std::lock_guard<std::mutex> hold(lookup->mutex);
        last = --lookup->users == 0;
    }
    if (!last)
        return;
    if (lookup->list != nullptr)
        freeaddrinfo(lookup->list);
    delete lookup;
}

void* RunLookup(void* argument)
{
    Lookup* lookup = static_cast<Lookup*>(argument);
    const addrinfo hints = Hints();
    addrinfo* list = nullptr;
    const int result = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints, &list);
    {
        std::lock_guard<std::mutex> hold(lookup->mutex);
        lookup->result = result;
        lookup->list = result == 0 ? list : nullptr;
        lookup->done = true;
    }
    lookup->finished.notify_one();
    Release(lookup);
    return nullptr;
}

// getaddrinfo for `host`, ended at `deadline` when `limited`: EAI_AGAIN
// then. Without a thread to spare it waits for the resolver as it is.
int Resolve(const char* host, const char* service, bool limited, Clock::time_point deadline,
            addrinfo** list)
{
    const addrinfo hints = Hints();
    if (host == nullptr)
        return EAI_NONAME;
    if (!limited)
        return getaddrinfo(host, service, &hints, list);
    Lookup* lookup = new Lookup;
    lookup->host = host;
    lookup->service = service;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &RunLookup, lookup) != 0) {
        delete lookup;
        return getaddrinfo(host, service, &hints, list);
    }
    int result = EAI_AGAIN;
    bool done = false;
    {
        std::unique_lock<std::mutex> hold(lookup->mutex);
        lookup->finished.wait_until(hold, deadline, [lookup] { return lookup->done; });
        if (lookup->done) {
            result = lookup->result;
            *list = lookup->list;
            lookup->list = nullptr;
            done = true;
        }
    }
    // A lookup that answered is about to end: wait for it, so that no thread
    // (and no resolver state of its own) outlives the attempt. One that is
    // still waiting on the resolver is left to end by itself.
    if (done)
        pthread_join(thread, nullptr);
    else
        pthread_detach(thread);
    Release(lookup);
    return result;
}

// The race's primitives over BSD sockets and poll(), for one resolved list.
class PosixRace : public connect_race::Backend {
public:
    explicit PosixRace(std::vector<const addrinfo*> addresses) : m_addresses(std::move(addresses)) {}

    Started StartConnect(std::size_t index, connect_race::Handle* handle, int* error) override
    {
        const addrinfo* ai = m_addresses[index];
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                              ai->ai_protocol);
        if (fd < 0) {
            m_lastError = *error = errno;
            return Started::Failed;
        }
        *handle = fd;
        m_indexOf[fd] = index;
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
            return Started::Connected;
        // An interrupted non-blocking connect goes on by itself.
        if (errno == EINPROGRESS || errno == EINTR)
            return Started::Pending;
        m_lastError = *error = errno;
        close(fd);
        return Started::Failed;
    }

    int WaitAny(const std::vector<connect_race::Handle>& handles, int timeoutMs,
                std::vector<bool>* finished) override
    {
        std::vector<pollfd> polled;
        for (const connect_race::Handle handle : handles)
            polled.push_back({static_cast<int>(handle), POLLOUT, 0});
        const int ready = poll(polled.data(), polled.size(), timeoutMs);
        if (ready < 0)
            return errno == EINTR ? 0 : -1;
        for (std::size_t i = 0; i < polled.size(); ++i)
            (*finished)[i] = polled[i].revents != 0;
        return ready;
    }

    int ConnectError(connect_race::Handle handle) override
    {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error != 0)
            m_lastError = error;
        return error;
    }

    void Close(connect_race::Handle handle) override { close(static_cast<int>(handle)); }

    bool IsUnreachable(int error) const override
    {
        return error == ENETUNREACH || error == EHOSTUNREACH || error == ENETDOWN || error == EADDRNOTAVAIL;
    }

    // The error of the last attempt that failed; 0 when none has.
    int lastError() const { return m_lastError; }
    // The index of the address a socket was started for.
    std::size_t indexOf(connect_race::Handle handle) const { return m_indexOf.at(handle); }

private:
    std::vector<const addrinfo*> m_addresses;
    std::map<connect_race::Handle, std::size_t> m_indexOf;
    int m_lastError = 0;
};

}  // namespace

int Connect(const char* host, unsigned port, unsigned timeoutMs, Failure* failure,
            std::vector<std::string>* resolved, int* reached)
{
    *failure = Failure::Other;
    resolved->clear();
    *reached = -1;
    const bool limited = timeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    char service[16];
    std::snprintf(service, sizeof service, "%u", port);
    addrinfo* list = nullptr;
    if (Resolve(host, service, limited, deadline, &list) != 0) {
        *failure = Failure::NoName;
        errno = EHOSTUNREACH;
        return -1;
    }
    std::vector<const addrinfo*> addresses;
    std::vector<int> families;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        addresses.push_back(ai);
        families.push_back(ai->ai_family);
        char numeric[NI_MAXHOST];
        const bool named = getnameinfo(ai->ai_addr, ai->ai_addrlen, numeric, sizeof numeric,
                                       nullptr, 0, NI_NUMERICHOST) == 0;
        resolved->push_back(named ? numeric : "");
    }
    // What the look-up left of the time-out, at least 1 ms (0 has no limit).
    unsigned leftMs = 0;
    if (limited) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        leftMs = left > 1 ? static_cast<unsigned>(left) : 1;
    }
    PosixRace race(std::move(addresses));
    connect_race::Handle fd = -1;
    bool unreachable = false;
    const bool connected = connect_race::Race(race, families, leftMs, &fd, &unreachable);
    freeaddrinfo(list);
    if (!connected) {
        if (unreachable)
            *failure = Failure::Unreachable;
        errno = race.lastError() != 0 ? race.lastError() : ETIMEDOUT;
        return -1;
    }
    *reached = static_cast<int>(race.indexOf(fd));
    const int flags = fcntl(static_cast<int>(fd), F_GETFL, 0);
    fcntl(static_cast<int>(fd), F_SETFL, flags & ~O_NONBLOCK);
    return static_cast<int>(fd);
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
