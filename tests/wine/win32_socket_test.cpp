// The Win32 socket backend (Winsock 2) against stand-in servers on loopback,
// started by with_standin_servers.sh: a whole exchange, name resolution that
// falls back from ::1 to 127.0.0.1, the connect time-out (a stand-in whose
// full listen queue swallows connections), the receive deadline, a peer that
// closes or resets, and a refused connection.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "afxsock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kRequest[] = "GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n";
constexpr char kDateHeader[] = "\r\nDate: Thu, 13 Feb 2025 11:46:19 GMT\r\n";

// The port a stand-in server of the given scenario listens on.
UINT Port(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr ? static_cast<UINT>(std::strtoul(value, nullptr, 10)) : 0;
}

struct Received {
    std::string data;
    int last = 0;  // the Receive result that ended the loop: 0 or -1
    int calls = 0;
};

// Receives until the peer closes or an error, as the core does.
Received ReceiveAll(CSocket& socket)
{
    Received r;
    char buffer[4096];
    for (;;) {
        const int n = socket.Receive(buffer, sizeof buffer);
        ++r.calls;
        if (n <= 0) {
            r.last = n;
            return r;
        }
        r.data.append(buffer, static_cast<std::size_t>(n));
    }
}

class Win32SocketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(AfxSocketInit()); }

    // Connects `socket` to a stand-in server and sends the request.
    void Open(CSocket& socket, const char* host, const char* portVariable)
    {
        const UINT port = Port(portVariable);
        ASSERT_NE(0u, port) << portVariable << " is not set: run under with_standin_servers.sh";
        ASSERT_TRUE(socket.Create());
        ASSERT_TRUE(socket.Connect(host, port));
        const int length = static_cast<int>(sizeof kRequest - 1);
        ASSERT_EQ(length, socket.Send(kRequest, length));
    }
};

TEST_F(Win32SocketTest, ReadsTheWholeResponseUntilThePeerCloses)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_OK_PORT"));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(0, r.last);
    EXPECT_EQ(0u, r.data.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos, r.data.find(kDateHeader));
    EXPECT_NE(std::string::npos, r.data.find("stand-in"));
}

TEST_F(Win32SocketTest, ResponseInManySmallChunksArrivesWhole)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_DRIBBLE_PORT"));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(0, r.last);
    EXPECT_GT(r.calls, 2);
    EXPECT_NE(std::string::npos, r.data.find(kDateHeader));
    EXPECT_EQ(r.data.size() - 1, r.data.rfind("</html>\n") + 7);
}

// "localhost" has ::1 and 127.0.0.1; the server listens on the latter only,
// so the first address is refused and the next one must be tried.
TEST_F(Win32SocketTest, HostNameIsResolvedAndEveryAddressTried)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "localhost", "QUORVEL_STANDIN_OK_PORT"));
    EXPECT_NE(std::string::npos, ReceiveAll(socket).data.find(kDateHeader));
}

TEST_F(Win32SocketTest, ConnectThatNeverCompletesEndsAtTheTimeOut)
{
    const UINT port = Port("QUORVEL_STANDIN_SWALLOW_PORT");
    ASSERT_NE(0u, port);
    CSocket socket;
    socket.SetTimeouts(300, 300);
    ASSERT_TRUE(socket.Create());
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(socket.Connect("127.0.0.1", port));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    char buffer[16];
    EXPECT_EQ(-1, socket.Receive(buffer, sizeof buffer));
}

// The deadline counts from the request; once it has passed, Receive
// returns 0 as for a close, at once and every time.
TEST_F(Win32SocketTest, SilentServerEndsReceiveAtTheDeadlineAsIfItHadClosed)
{
    CSocket socket;
    socket.SetTimeouts(10000, 300);
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_HANG_PORT"));
    char buffer[64];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(0, socket.Receive(buffer, sizeof buffer));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(0, socket.Receive(buffer, sizeof buffer));
}

TEST_F(Win32SocketTest, PeerClosingAtOnceGivesZero)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_CLOSE_AT_ONCE_PORT"));
    const Received r = ReceiveAll(socket);
    EXPECT_EQ(0, r.last);
    EXPECT_EQ("", r.data);
}

// Windows reports the reset as an error; Wine may report it as the end of
// the stream. Either way the loop ends, with the part that arrived.
TEST_F(Win32SocketTest, PeerResettingMidwayEndsReceivingWithThePartThatArrived)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_RESET_MIDWAY_PORT"));
    const Received r = ReceiveAll(socket);
    EXPECT_LE(r.last, 0);
    EXPECT_EQ(0u, r.data.find("HTTP/1.1 200 OK\r\n"));
}

TEST_F(Win32SocketTest, RefusedConnectionFailsAndLeavesTheSocketClosed)
{
    const UINT port = Port("QUORVEL_CLOSED_PORT");
    ASSERT_NE(0u, port);
    CSocket socket;
    socket.SetTimeouts(10000, 10000);
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect("127.0.0.1", port));
    char buffer[16];
    EXPECT_EQ(-1, socket.Send("x", 1));
    EXPECT_EQ(-1, socket.Receive(buffer, sizeof buffer));
}

TEST_F(Win32SocketTest, CreateAcceptsOnlyAnyLocalPortAndStreams)
{
    CSocket socket;
    EXPECT_TRUE(socket.Create(0, SOCK_STREAM));
    EXPECT_FALSE(socket.Create(8080, SOCK_STREAM));
    EXPECT_FALSE(socket.Create(0, SOCK_DGRAM));
}

TEST_F(Win32SocketTest, ClosingTwiceIsHarmless)
{
    CSocket socket;
    ASSERT_NO_FATAL_FAILURE(Open(socket, "127.0.0.1", "QUORVEL_STANDIN_OK_PORT"));
    socket.Close();
    socket.Close();
    char buffer[16];
    EXPECT_EQ(-1, socket.Receive(buffer, sizeof buffer));
}

}  // namespace
