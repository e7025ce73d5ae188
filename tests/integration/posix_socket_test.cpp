// The POSIX socket backend over real loopback connections: whole exchanges
// over IPv4 and IPv6 and by host name, data that arrives in many small
// pieces, time-outs of a silent or unreachable server, refused connections,
// names that do not resolve, and the socket's end of life.

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "afxsock.h"
#include "loopback_server.h"

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

// Sends `reply` once the request has arrived, then closes.
LoopbackServer::Script Answer(const std::string& reply)
{
    return [reply](LoopbackServer::Peer& peer) {
        peer.ReadRequest();
        peer.Send(reply);
    };
}

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
    LoopbackServer server(GetParam().listenOn, 0, Answer(kReply));
    CSocket socket;
    ASSERT_TRUE(AfxSocketInit());
    ASSERT_TRUE(OpenAndSend(socket, GetParam().connectTo, server.port()));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(kReply, r.data);
    EXPECT_EQ(0, r.last);
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(std::vector<std::string>{kRequest}, server.Received());
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ExchangeTest,
    ::testing::Values(ExchangeCase{"IPv4Literal", "127.0.0.1", "127.0.0.1"},
                      ExchangeCase{"IPv6Literal", "::1", "::1"},
                      ExchangeCase{"IPv6Name", "::1", "ip6-localhost"},
                      ExchangeCase{"NameWithARefusedFirstAddress", "127.0.0.1", "localhost"},
                      ExchangeCase{"ServerHostName", "127.0.0.1", "www.baidu.com"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Pieces: a reply dribbled a byte at a time arrives in order and whole;
// a large reply read in small pieces never gives more than was asked for.
TEST(PosixSocketPieces, ReplyDribbledAByteAtATimeArrivesWholeAndInOrder)
{
    std::string reply;
    for (int i = 0; i < 300; ++i)
        reply += static_cast<char>('a' + i % 26);
    LoopbackServer server("127.0.0.1", 0, [&](LoopbackServer::Peer& peer) {
        peer.ReadRequest();
        peer.SendInPieces(reply, 1, 1);
    });
    CSocket socket;
    ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", server.port()));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(reply, r.data);
    EXPECT_EQ(0, r.last);
    EXPECT_GT(r.calls, 3);  // really in pieces, not in one read
}

TEST(PosixSocketPieces, LargeSendAndLargeReplyReadSevenBytesAtATimeBothComplete)
{
    std::string big;
    for (int i = 0; i < 300000; ++i)
        big += static_cast<char>(i * 7 % 251);
    LoopbackServer server("127.0.0.1", 0, [&](LoopbackServer::Peer& peer) {
        peer.Send(peer.Read(big.size()));  // echo the upload
    });
    CSocket socket;
    ASSERT_TRUE(socket.Create() && socket.Connect("127.0.0.1", server.port()));
    // More than the socket buffers hold: Send goes on until all is out.
    ASSERT_EQ(static_cast<int>(big.size()), socket.Send(big.data(), static_cast<int>(big.size())));
    const Received r = ReceiveAll(socket, 7);
    EXPECT_EQ(big.size(), r.data.size());
    EXPECT_TRUE(r.data == big);
    EXPECT_EQ(0, r.last);
}

// --- Time-outs. A server that takes the connection and never answers ends
// each Receive with -1 once the receive time-out has passed, also after a
// first piece of data; a server whose listen queue is full never completes
// the handshake, and Connect gives up after the connect time-out. (The
// program's own 10 s values are exercised by the fetch tests.)
TEST(PosixSocketTimeouts, SilentServerEndsReceiveWithAnErrorAfterTheTimeout)
{
    LoopbackServer server("127.0.0.1", 0, [](LoopbackServer::Peer& peer) {
        peer.ReadRequest();
        peer.Send("HTTP/1.1 200 OK\r\n");
        peer.Hang();
    });
    CSocket socket;
    socket.SetTimeouts(2000, 300);
    ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", server.port()));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ("HTTP/1.1 200 OK\r\n", r.data);
    EXPECT_EQ(-1, r.last);
    // The socket is still usable for a second wait of the same kind.
    char c;
    EXPECT_EQ(-1, socket.Receive(&c, 1));
}

TEST(PosixSocketTimeouts, ConnectToAServerThatNeverCompletesTheHandshakeGivesUp)
{
    LoopbackServer server("127.0.0.1", 0, nullptr, 0);  // never accepts
    CSocket first;
    ASSERT_TRUE(first.Create() && first.Connect("127.0.0.1", server.port()));  // fills the queue
    CSocket socket;
    socket.SetTimeouts(300, 300);
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect("127.0.0.1", server.port()));
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

// --- End of life: the destructor and Close end the connection (the server
// sees the close), Close twice is harmless, and a send into a connection the
// peer has reset fails with -1 instead of killing the process (SIGPIPE).
TEST(PosixSocketLifetime, DestructorAndCloseEndTheConnection)
{
    LoopbackServer server("127.0.0.1", 0, [](LoopbackServer::Peer& peer) {
        peer.ReadRequest();
        peer.Note(peer.ClientCloses(5000) ? "closed" : "still open");
    });
    {
        CSocket socket;
        ASSERT_TRUE(OpenAndSend(socket, "127.0.0.1", server.port()));
    }
    CSocket reused;
    ASSERT_TRUE(OpenAndSend(reused, "127.0.0.1", server.port()));
    reused.Close();
    reused.Close();
    ASSERT_TRUE(server.WaitForConnections(2));
    EXPECT_EQ((std::vector<std::string>{"closed", "closed"}), server.Notes());
}

TEST(PosixSocketLifetime, SendingIntoAResetConnectionFailsWithoutKillingTheProcess)
{
    LoopbackServer server("127.0.0.1", 0, [](LoopbackServer::Peer& peer) {
        const linger reset = {1, 0};
        setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    });
    CSocket socket;
    ASSERT_TRUE(socket.Create() && socket.Connect("127.0.0.1", server.port()));
    ASSERT_TRUE(server.WaitForConnections(1));
    char c;
    EXPECT_EQ(-1, socket.Receive(&c, 1));  // the reset
    int last = 0;
    for (int i = 0; i < 3 && last >= 0; ++i)
        last = socket.Send(kRequest, kRequestLength);
    EXPECT_EQ(-1, last);
}

}  // namespace
