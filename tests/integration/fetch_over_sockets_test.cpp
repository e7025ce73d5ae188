// The unchanged core (FetchInternetTime) over the real POSIX backend, inside
// a private network namespace where www.baidu.com is 127.0.0.1 and a server
// of the test listens on port 80. The answers come the way real servers send
// them: whole, in separate pieces, a byte at a time, without an end, not at
// all; or nothing listens.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "QuorvelDlg.h"
#include "console_io.h"
#include "loopback.h"

namespace {

const std::string kRequest = "GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n";
const std::string kHeaders =
    "HTTP/1.1 200 OK\r\nServer: BWS/1.1\r\nContent-Type: text/html\r\n"
    "Date: Thu, 13 Feb 2025 11:46:19 GMT\r\nConnection: close\r\n\r\n";

std::string Body(std::size_t size)
{
    std::string body;
    while (body.size() < size)
        body += "<p>line " + std::to_string(body.size()) + "</p>\n";
    return body;
}

// The front end's texts (message boxes), kept instead of shown.
class RecordingIo : public posix_console::Io {
public:
    void Write(const std::string& text) override { written += text; }
    bool ReadLine(std::string*) override { return false; }
    bool InputIsTerminal() override { return false; }
    std::string written;
};

using namespace loopback;

// The server's part of a case, once the request has been read; returns
// what the test checks besides the request (empty for nothing).
using Script = std::string (*)(int fd);

struct FetchCase {
    const char* name;
    Script script;            // null: nothing listens on port 80
    bool fetched;
    const char* consoleLine;  // a line the console must show, or null
    const char* note;         // what the script must return, or null
};

class FetchOverSocketsTest : public ::testing::TestWithParam<FetchCase> {
protected:
    void SetUp() override { m_previousIo = posix_console::Install(&m_io); }
    void TearDown() override { posix_console::Install(m_previousIo); }

    std::string Fetch()
    {
        testing::internal::CaptureStdout();
        dlg.FetchInternetTime();
        std::cout.flush();
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    CWinApp app;  // the dialog loads its icon through the application
    CQuorvelDlg dlg;
    RecordingIo m_io;
    posix_console::Io* m_previousIo = nullptr;
};

TEST_P(FetchOverSocketsTest, ReadsTheDateHeaderAsItArrives)
{
    const FetchCase& c = GetParam();
    std::string request;
    std::string note;
    std::string out;
    if (c.script != nullptr) {
        Server server("127.0.0.1", 80, [&](int fd) {
            request = ReadRequest(fd);
            note = c.script(fd);
        });
        out = Fetch();
    } else {
        out = Fetch();
    }

    EXPECT_EQ(c.fetched ? 1 : 0, dlg.m_bFetched);
    if (c.consoleLine != nullptr) {
        EXPECT_NE(std::string::npos, out.find(std::string(c.consoleLine) + "\n")) << out;
    }
    if (c.fetched) {
        EXPECT_EQ(2025, dlg.m_utcYear);
        EXPECT_EQ(11, dlg.m_utcHour);
        EXPECT_EQ(19, dlg.m_localHour);
        EXPECT_EQ(19, dlg.m_utcSecond);
    } else {
        EXPECT_EQ(0, dlg.m_utcYear);  // untouched
    }
    if (c.script != nullptr) {
        EXPECT_TRUE(m_io.written.empty()) << m_io.written;
        EXPECT_EQ(kRequest, request);
        EXPECT_EQ(c.note != nullptr ? c.note : "", note);
    } else {
        EXPECT_EQ(std::string("== ") + program_invocation_short_name +
                      " ==\nFailed to connect to server\n",
                  m_io.written);
        EXPECT_EQ("", out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FetchOverSocketsTest,
    ::testing::Values(
        FetchCase{"WholeAnswer",
                  [](int fd) {
                      Send(fd, kHeaders + Body(100));
                      return std::string();
                  },
                  true, "Adjusted Time: 2025-02-13 19:46:19", nullptr},
        // Headers in a first piece, 3000 bytes of body later: the Date
        // header is still found although the last piece has none.
        FetchCase{"HeadersThenBodyInLaterPieces",
                  [](int fd) {
                      Send(fd, kHeaders);
                      std::this_thread::sleep_for(std::chrono::milliseconds(200));
                      SendInPieces(fd, Body(3000), 1000, 100);
                      return std::string();
                  },
                  true, "Year: 2025", nullptr},
        FetchCase{"AByteAtATime",
                  [](int fd) {
                      SendInPieces(fd, kHeaders, 1, 1);
                      return std::string();
                  },
                  true, "Second: 19", nullptr},
        // More than 2000 bytes, then the server stays silent without
        // closing: receiving stops at 2000 and the client closes at once,
        // long before its receive time-out.
        FetchCase{"EnoughBytesFromAServerThatDoesNotClose",
                  [](int fd) {
                      Send(fd, kHeaders + Body(2500));
                      return std::string(PeerCloses(fd, 5) ? "client closed" : "client waited");
                  },
                  true, "Day: 13", "client closed"},
        // Silent after the request: the receive time-out ends the wait.
        FetchCase{"SilentServer",
                  [](int fd) {
                      return std::string(PeerCloses(fd, 30) ? "" : "client never closed");
                  },
                  false, "Date not found in the buffer!", nullptr},
        FetchCase{"NothingListening", nullptr, false, nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
