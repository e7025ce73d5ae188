// The POSIX socket backend over real loopback connections: whole exchanges
// over IPv4 and IPv6 and by host name, data that arrives in many small
// pieces, time-outs of a silent or unreachable server, refused connections,
// names that do not resolve, a name's addresses racing, and the socket's
// end of life. The server side
// mostly runs in the test's own thread: the kernel completes loopback
// connections and buffers their data before the server accepts or reads.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "afxsock.h"
#include "loopback.h"

namespace {

constexpr char kRequest[] = "GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n";
constexpr int kRequestLength = sizeof kRequest - 1;

struct Received {
    std::string data;
    int last = 1;    // the result that ended the loop: 0 (closed) or -1
    int calls = 0;
};

// Receives `size` bytes at most per call until the peer closes or an error.
Received ReceiveAll(CSocket& socket, int size = 4096)
{
    Received r;
    std::string buffer(static_cast<std::size_t>(size), '\0');
    for (;;) {
        const int n = socket.Receive(&buffer[0], size);
        ++r.calls;
        if (n <= 0 || n > size) {
            r.last = n;
            return r;
        }
        r.data.append(buffer, 0, static_cast<std::size_t>(n));
    }
}

// Files of this namespace replaced by texts of a test's own (bind mounts),
// until the end of the scope.
class ReplacedFiles {
public:
    ReplacedFiles() = default;
    ReplacedFiles(const ReplacedFiles&) = delete;
    ReplacedFiles& operator=(const ReplacedFiles&) = delete;
    ~ReplacedFiles()
    {
        for (auto target = m_targets.rbegin(); target != m_targets.rend(); ++target)
            umount(target->c_str());
        for (const std::string& file : m_files)
            std::remove(file.c_str());
    }

    bool Replace(const char* target, const std::string& text)
    {
        char path[] = "/tmp/quorvel-replaced.XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0)
            return false;
        m_files.push_back(path);
        const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written || mount(path, target, nullptr, MS_BIND, nullptr) != 0)
            return false;
        m_targets.push_back(target);
        return true;
    }

private:
    std::vector<std::string> m_files;
    std::vector<std::string> m_targets;
};

using namespace loopback;

// The server's end of one accepted connection, closed with the scope.
struct Accepted {
    explicit Accepted(Listener& listener) : fd(listener.Accept()) {}
    ~Accepted() { Close(); }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    int fd;
};

bool OpenAndSend(CSocket& socket, const char* host, UINT port)
{
    return socket.Create(0, SOCK_STREAM, 63, nullptr) && socket.Connect(host, port) &&
           socket.Send(kRequest, kRequestLength, 0) == kRequestLength;
}

const std::string kReply = "HTTP/1.1 200 OK\r\nDate: Thu, 13 Feb 2025 11:46:19 GMT\r\n\r\nbody";

// --- Whole exchanges: the server gets the exact request, the client the
// exact reply and then 0 for the close. Host names go through the resolver:
// "localhost" gives ::1 first, so a server on 127.0.0.1 only is reached
// after a refused first address.
struct ExchangeCase {
    const char* name;
    const char* listenOn;
    const char* connectTo;
};

class ExchangeTest : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeTest, RequestAndReplyArriveWholeAndTheCloseReadsAsZero)
{
    Listener listener(GetParam().listenOn);
    CSocket socket;
    ASSERT_TRUE(AfxSocketInit());
    ASSERT_TRUE(OpenAndSend(socket, GetParam().connectTo, listener.port()));
    Accepted server(listener);
    EXPECT_EQ(kRequest, ReadRequest(server.fd));
    Send(server.fd, kReply);
    server.Close();
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(kReply, r.data);
    EXPECT_EQ(0, r.last);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ExchangeTest,
    ::testing::Values(ExchangeCase{"IPv4Literal", "127.0.0.1", "127.0.0.1"},
                      ExchangeCase{"IPv6Literal", "::1", "::1"},
                      ExchangeCase{"IPv6Name", "::1", "ip6-localhost"},
                      ExchangeCase{"NameWithARefusedFirstAddress", "127.0.0.1", "localhost"},
                      ExchangeCase{"ServerHostName", "127.0.0.1", "www.baidu.com"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Pieces: each Receive gives what has arrived, without waiting for
// more, and never more than was asked for; a send larger than the socket
// buffers goes out whole.
TEST(PosixSocketPieces, ReceiveGivesEachPieceAsItArrivesAndNoMoreThanAskedFor)
{
    Listener listener("127.0.0.1");
    CSocket socket;
    ASSERT_TRUE(socket.Create() && socket.Connect("127.0.0.1", listener.port()));
    Accepted server(listener);
    char buffer[4096];
    for (int size = 1; size <= 64; size *= 2) {
        const std::string piece(static_cast<std::size_t>(size), static_cast<char>('a' + size % 26));
        Send(server.fd, piece);
        ASSERT_EQ(size, socket.Receive(buffer, sizeof buffer)) << "piece of " << size;
        EXPECT_EQ(piece, std::string(buffer, static_cast<std::size_t>(size)));
    }
    Send(server.fd, "0123456789");
    ASSERT_EQ(7, socket.Receive(buffer, 7));
    ASSERT_EQ(3, socket.Receive(buffer + 7, sizeof buffer - 7));
    EXPECT_EQ("0123456789", std::string(buffer, 10));
    server.Close();
    EXPECT_EQ(0, socket.Receive(buffer, sizeof buffer));
}

TEST(PosixSocketPieces, LargeSendGoesOutWhole)
{
    std::string big;
    for (int i = 0; i < 1000000; ++i)
        big += static_cast<char>(i * 7 % 251);
    std::string got;
    CSocket socket;
    {
        Server server("127.0.0.1", 0, [&](int fd) { got = Read(fd, big.size()); });
        ASSERT_TRUE(socket.Create() && socket.Connect("127.0.0.1", server.port()));
        EXPECT_EQ(static_cast<int>(big.size()),
                  socket.Send(big.data(), static_cast<int>(big.size())));
    }
    EXPECT_EQ(big.size(), got.size());
    EXPECT_TRUE(got == big);
}

// --- Time-outs. Receiving ends at the receive deadline, counted from the
// request, however the server trickles its bytes: a server that sends a
// byte every 50 ms for 2 s is cut off at 300 ms, and Receive then returns 0
// as for a close. When every address of a name swallows the connection (a
// full listen queue: the handshake never completes), Connect gives up at the
// connect time-out: not once every attempt has started, nor one time-out per
// address later. (The program's own 10 s values are exercised by the
// hostile-server suite.)
TEST(PosixSocketTimeouts, TricklingServerIsCutOffAtTheDeadlineAsIfItHadClosed)
{
    const std::string head = "HTTP/1.1 200 OK\r\n";
    const std::string trickle(40, 'x');
    Server server("127.0.0.1", 0, [&](int fd) {
        ReadRequest(fd);
        Send(fd, head);
        SendInPieces(fd, trickle, 1, 50);
    });
    CSocket socket;
    socket.SetTimeouts(2000, 300);
    ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", server.port()));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(0, r.last);
    EXPECT_EQ(0u, r.data.find(head));
    EXPECT_LT(r.data.size(), head.size() + trickle.size());
    char c;
    EXPECT_EQ(0, socket.Receive(&c, 1));  // and again
}

TEST(PosixSocketTimeouts, ConnectToAddressesThatNeverCompleteTheHandshakeGivesUpAtTheTimeOut)
{
    Swallower first("127.0.0.1");
    Swallower second("127.0.0.2", first.port());
    Swallower third("127.0.0.3", first.port());
    ReplacedFiles files;
    ASSERT_TRUE(files.Replace("/etc/hosts", "127.0.0.1 race.quorvel.test\n127.0.0.2 race.quorvel.test\n"
                                            "127.0.0.3 race.quorvel.test\n"));
    CSocket socket;
    socket.SetTimeouts(2000, 300);
    ASSERT_TRUE(socket.Create());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.Connect("race.quorvel.test", first.port()));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    char c;
    EXPECT_EQ(-1, socket.Receive(&c, 1));
    EXPECT_EQ(-1, socket.Send("x", 1));
}

// --- Failures to connect: nothing listening (IPv4, IPv6, and a name with
// both addresses) and a name that does not resolve. Each fails at once and
// leaves a socket on which Send and Receive fail rather than block.
class ConnectFailureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConnectFailureTest, ConnectFailsAndTheSocketStaysUnusable)
{
    const std::string host = GetParam();
    const UINT port = host == "::1" ? ClosedPort(AF_INET6) : ClosedPort(AF_INET);
    CSocket socket;
    socket.SetTimeouts(10000, 10000);
    ASSERT_TRUE(socket.Create(0, SOCK_STREAM, 63, nullptr));
    EXPECT_FALSE(socket.Connect(host.c_str(), port));
    char c;
    EXPECT_EQ(-1, socket.Receive(&c, 1));
    EXPECT_EQ(-1, socket.Send(kRequest, kRequestLength));
}

INSTANTIATE_TEST_SUITE_P(Hosts, ConnectFailureTest,
                         ::testing::Values("127.0.0.1", "::1", "localhost", "no-such-host.invalid"),
                         [](const auto& info) {
                             std::string name;
                             for (const char c : std::string(info.param))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// --- Several addresses race: the next attempt starts 250 ms after the one
// before, or at once when one fails, and the first connection wins. With
// the program's 10 s time-out, addresses that swallow the connection (a
// dead server, a firewall that drops) or refuse it come before the one that
// serves: Connect still succeeds within a few seconds, the request reaches
// the server, and nothing is left connected elsewhere. Forty refusals while
// an attempt is in flight, each followed by a 250 ms wait, would pass the
// time-out.
struct RaceCase {
    const char* name;
    std::vector<std::string> swallowing;  // the resolver gives these first,
    std::vector<std::string> refusing;    // then these,
    const char* serveOn;                  // and this one last
};

// The addresses of `host`, in the resolver's order.
std::vector<std::string> Resolve(const char* host)
{
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<std::string> addresses;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0)
        return addresses;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        char text[INET6_ADDRSTRLEN] = "";
        const void* address = ai->ai_family == AF_INET6
                                  ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr)
                                  : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr);
        inet_ntop(ai->ai_family, address, text, sizeof text);
        addresses.push_back(text);
    }
    freeaddrinfo(list);
    return addresses;
}

bool Ipv6Usable()
{
    try {
        ClosedPort(AF_INET6);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void PrintTo(const RaceCase& c, std::ostream* os) { *os << c.name; }

class RaceTest : public ::testing::TestWithParam<RaceCase> {};

TEST_P(RaceTest, AddressesBeforeTheServersCostNoMoreThanTheirDelays)
{
    const RaceCase& c = GetParam();
    if (c.swallowing[0].find(':') != std::string::npos && !Ipv6Usable())
        GTEST_SKIP() << "::1 is unusable here (IPv6 disabled): the IPv6 case cannot run";
    Listener listener(c.serveOn);
    std::vector<std::unique_ptr<Swallower>> swallowers;
    std::string hosts;
    for (const std::string& address : c.swallowing) {
        swallowers.emplace_back(new Swallower(address.c_str(), listener.port()));
        hosts += address + " race.quorvel.test\n";
    }
    for (const std::string& address : c.refusing)
        hosts += address + " race.quorvel.test\n";
    hosts += std::string(c.serveOn) + " race.quorvel.test\n";
    ReplacedFiles files;
    ASSERT_TRUE(files.Replace("/etc/hosts", hosts));
    const std::vector<std::string> order = Resolve("race.quorvel.test");
    ASSERT_EQ(c.swallowing.size() + c.refusing.size() + 1, order.size());
    ASSERT_EQ(c.swallowing[0], order.front()) << "the resolver must give a swallowing address first";
    ASSERT_EQ(c.serveOn, order.back()) << "the resolver must give the serving address last";

    CSocket socket;
    socket.SetTimeouts(10000, 10000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(OpenAndSend(socket, "race.quorvel.test", listener.port()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    Accepted server(listener);
    EXPECT_EQ(kRequest, ReadRequest(server.fd));
    Send(server.fd, kReply);
    server.Close();
    EXPECT_EQ(kReply, ReceiveAll(socket).data);
}

std::vector<std::string> Refusing(int count)
{
    std::vector<std::string> addresses;
    for (int i = 2; i < 2 + count; ++i)
        addresses.push_back("127.0.0." + std::to_string(i));
    return addresses;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, RaceTest,
    ::testing::Values(RaceCase{"FirstIPv4Swallows", {"127.0.0.1"}, {}, "127.0.0.2"},
                      RaceCase{"IPv6SwallowsIPv4Serves", {"::1"}, {}, "127.0.0.1"},
                      RaceCase{"OneSwallowsFortyRefuse", {"127.0.0.1"}, Refusing(40), "127.0.0.200"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A name server that never answers (as at boot, before the network is
// up): the look-up counts in the connect time-out. The resolver alone
// would wait 30 s; Connect must give up near its 300 ms. The namespace's
// resolver files are replaced for this test only.
class SilentNameServer {
public:
    SilentNameServer()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        m_mounted = m_bound && m_files.Replace("/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n") &&
                    m_files.Replace("/etc/nsswitch.conf", "hosts: files dns\n");
    }
    ~SilentNameServer()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool ready() const { return m_mounted; }

private:
    int m_fd = -1;
    bool m_bound = false;
    bool m_mounted = false;
    ReplacedFiles m_files;
};

TEST(PosixSocketTimeouts, NameLookupThatNeverAnswersEndsWithTheConnectTimeout)
{
    SilentNameServer nameServer;
    ASSERT_TRUE(nameServer.ready()) << "cannot set up a name server on 127.0.0.1:53 here";
    CSocket socket;
    socket.SetTimeouts(300, 300);
    ASSERT_TRUE(socket.Create());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.Connect("time.quorvel.test", 80));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// --- End of life: the destructor and Close end the connection (the server
// sees the close), Close twice is harmless, and a send into a connection the
// peer has reset fails with -1 instead of killing the process (SIGPIPE).
TEST(PosixSocketLifetime, DestructorAndCloseEndTheConnection)
{
    Listener listener("127.0.0.1");
    {
        CSocket socket;
        ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", listener.port()));
    }
    Accepted first(listener);
    EXPECT_EQ(kRequest, ReadRequest(first.fd));
    EXPECT_TRUE(PeerCloses(first.fd)) << "the destructor left the connection open";

    CSocket socket;
    ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", listener.port()));
    socket.Close();
    socket.Close();
    Accepted second(listener);
    EXPECT_EQ(kRequest, ReadRequest(second.fd));
    EXPECT_TRUE(PeerCloses(second.fd)) << "Close left the connection open";
}

TEST(PosixSocketLifetime, SendingIntoAResetConnectionFailsWithoutKillingTheProcess)
{
    Listener listener("127.0.0.1");
    CSocket socket;
    ASSERT_TRUE(socket.Create() && socket.Connect("127.0.0.1", listener.port()));
    Accepted server(listener);
    ResetOnClose(server.fd);
    server.Close();
    char c;
    EXPECT_EQ(-1, socket.Receive(&c, 1));  // the reset
    int last = 0;
    for (int i = 0; i < 3 && last >= 0; ++i)
        last = socket.Send(kRequest, kRequestLength);
    EXPECT_EQ(-1, last);
}

}  // namespace
