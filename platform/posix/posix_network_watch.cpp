// CNetworkWatch on Linux: a NETLINK_ROUTE socket subscribed to the changes
// of links, addresses and routes gives notice; getifaddrs and the kernel's
// route tables are what the wait compares every second, also where the
// socket cannot be made.

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "afxsock.h"
#include "network_watch.h"

namespace {

// The kernel's text of a file, or "" when it cannot be read.
std::string ReadAll(const char* path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string AddressText(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address == nullptr)
        return "-";
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

}  // namespace

class CNetworkWatch::Impl : public network_watch::Backend {
public:
    Impl()
    {
        m_fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        sockaddr_nl local = {};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                          RTMGRP_IPV6_ROUTE;
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(m_fd);
            m_fd = -1;
        }
        before = Snapshot();
    }

    ~Impl() override
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    bool WaitNotified(unsigned timeoutMs) override
    {
        if (m_fd < 0) {
            poll(nullptr, 0, static_cast<int>(timeoutMs));
            return false;
        }
        pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeoutMs)) <= 0)
            return false;
        // Any message of the groups is a change; an overrun (ENOBUFS) means
        // there were more of them.
        char buffer[8192];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 || (n < 0 && errno == ENOBUFS);
    }

    std::string Snapshot() override
    {
        std::string text;
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) == 0) {
            for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
                const bool up = (a->ifa_flags & IFF_UP) != 0 && (a->ifa_flags & IFF_RUNNING) != 0;
                text += std::string(a->ifa_name) + (up ? " up " : " down ") + AddressText(a->ifa_addr) + "\n";
            }
            freeifaddrs(list);
        }
        return text + ReadAll("/proc/net/route") + ReadAll("/proc/net/ipv6_route");
    }

    std::string before;

private:
    int m_fd = -1;
};

CNetworkWatch::CNetworkWatch() : m_pImpl(new Impl) {}

CNetworkWatch::~CNetworkWatch()
{
    delete m_pImpl;
}

BOOL CNetworkWatch::WaitForChange(UINT timeoutMilliseconds)
{
    return network_watch::WaitForChange(*m_pImpl, m_pImpl->before, timeoutMilliseconds) ? TRUE : FALSE;
}
