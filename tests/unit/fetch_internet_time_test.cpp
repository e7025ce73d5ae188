// One attempt of reading the time: the request, the console commentary, the
// status texts, the stored fields, and every way an attempt can fail.

#include <gtest/gtest.h>

#include <string>

#include "dialog_fixture.h"
#include "resource.h"

namespace {

const std::string kDashes(61, '-');

const std::string kOkResponse =
    fake::Response({"Server: nginx", std::string(kDateLine), "Content-Length: 0"});

// The console lines of a success for kDateLine, after the separator.
const std::string kSuccessTail =
    "Date line extracted: Date: Thu, 13 Feb 2025 11:46:19 GMT\r\n"
    "Year: 2025\nMonth: 2\nDay: 13\nHour: 11\nMinute: 46\nSecond: 19\n"
    "\r\nAdjusted Time: 2025-02-13 19:46:19\n";

class FetchTest : public DialogTest {
protected:
    void Fetch() { Capture([this] { dlg.FetchInternetTime(); }); }
    void ExpectFailedWithoutTouchingTheTime()
    {
        EXPECT_EQ(0, dlg.m_bFetched);
        EXPECT_EQ(0, dlg.m_utcYear);
        EXPECT_EQ(0, dlg.m_localYear);
    }
};

TEST_F(FetchTest, SuccessSendsTheExactRequestAndStoresBothTimes)
{
    platform().connections.push_back(fake::Serve({kOkResponse}));
    Fetch();

    EXPECT_EQ(std::vector<std::string>{"www.baidu.com"}, platform().connectHosts);
    EXPECT_EQ(std::vector<UINT>{80}, platform().connectPorts);
    EXPECT_EQ(std::vector<std::string>{"GET / HTTP/1.1\r\nHost: www.baidu.com\r\n"
                                       "Connection: close\r\n\r\n"},
              platform().sent);
    EXPECT_EQ("Received (first 2000 characters):\n" + kOkResponse + "\n" + kDashes + "\n" +
                  kSuccessTail,
              out);
    EXPECT_EQ("", err);

    EXPECT_EQ(1, dlg.m_bFetched);
    EXPECT_EQ(2025, dlg.m_utcYear);
    EXPECT_EQ(2, dlg.m_utcMonth);
    EXPECT_EQ(13, dlg.m_utcDay);
    EXPECT_EQ(11, dlg.m_utcHour);
    EXPECT_EQ(46, dlg.m_utcMinute);
    EXPECT_EQ(19, dlg.m_utcSecond);
    EXPECT_EQ(19, dlg.m_localHour);
    EXPECT_EQ(13, dlg.m_localDay);
    // The raw line first, then the local time replaces it.
    EXPECT_EQ((std::vector<std::string>{"Date: Thu, 13 Feb 2025 11:46:19 GMT\r",
                                        "2025年2月13日19点46分19秒"}),
              platform().Texts(IDC_TIME_TEXT));
    EXPECT_TRUE(platform().messageBoxes.empty());
    EXPECT_EQ(0, platform().socketsOpen);
}

TEST_F(FetchTest, LocalTimeCrossesIntoTheNextYear)
{
    platform().connections.push_back(
        fake::Serve({fake::Response({"Date: Tue, 31 Dec 2024 20:30:00 GMT"})}));
    Fetch();
    EXPECT_EQ("2025年1月1日4点30分0秒", platform().LastText(IDC_TIME_TEXT));
    EXPECT_EQ(2024, dlg.m_utcYear);
    EXPECT_EQ(2025, dlg.m_localYear);
}

TEST_F(FetchTest, SocketsGetTimeoutsAndReceivesAskForTheBufferButOneByte)
{
    platform().connections.push_back(fake::Serve({kOkResponse}));
    Fetch();
    EXPECT_EQ(10000u, platform().connectTimeoutMs);
    EXPECT_EQ(10000u, platform().receiveTimeoutMs);
    ASSERT_FALSE(platform().receiveLengths.empty());
    EXPECT_EQ(102399, platform().receiveLengths[0]);
}

TEST_F(FetchTest, ReceivingStopsOnceTwoThousandBytesHaveArrived)
{
    const std::string body(3000, 'x');
    const std::string big = fake::Response({kDateLine}, body);
    platform().connections.push_back(fake::Serve({big, "never read"}));
    Fetch();
    EXPECT_EQ(1u, platform().receiveLengths.size());
    EXPECT_EQ(1, dlg.m_bFetched);
    // Only the first 2000 bytes are echoed.
    EXPECT_NE(std::string::npos, out.find(big.substr(0, 2000) + "\n" + kDashes));
    EXPECT_EQ(std::string::npos, out.find(big.substr(0, 2001)));
}

TEST_F(FetchTest, HeadersInAnEarlierChunkAreStillFound)
{
    // Headers in a first small chunk, the total passing 2000 only with a
    // later body chunk: the Date header must not be lost with that chunk.
    const std::string headers = fake::Response({"Server: nginx", kDateLine});
    platform().connections.push_back(fake::Serve({headers, std::string(1000, 'a'), std::string(1500, 'b')}));
    Fetch();
    EXPECT_EQ(3u, platform().receiveLengths.size());
    EXPECT_EQ(1, dlg.m_bFetched);
    EXPECT_EQ(2025, dlg.m_utcYear);
}

TEST_F(FetchTest, EveryChunkSplitOfAResponseGivesTheSameResult)
{
    for (std::size_t cut = 1; cut < kOkResponse.size(); ++cut) {
        fake::Reset();
        dlg.m_bFetched = 0;
        platform().connections.push_back(
            fake::Serve({kOkResponse.substr(0, cut), kOkResponse.substr(cut)}));
        Fetch();
        ASSERT_EQ(1, dlg.m_bFetched) << "split at " << cut;
        ASSERT_EQ("2025年2月13日19点46分19秒", platform().LastText(IDC_TIME_TEXT)) << cut;
    }
}

TEST_F(FetchTest, ReceiveErrorOrCloseEndsTheLoopAndKeepsWhatArrived)
{
    for (int ending : {0, -1}) {
        fake::Reset();
        dlg.m_bFetched = 0;
        fake::Connection c = fake::Serve({kOkResponse.substr(0, 40), kOkResponse.substr(40)});
        c.chunks.push_back(fake::Chunk{"", ending});
        c.chunks.push_back(fake::Chunk{"never read", 0});
        platform().connections.push_back(c);
        Fetch();
        EXPECT_EQ(3u, platform().receiveLengths.size()) << ending;
        EXPECT_EQ(1, dlg.m_bFetched) << ending;
    }
}

struct FailureCase {
    const char* label;
    std::vector<fake::Chunk> chunks;
    std::string consoleTail;  // after the separator line
    std::string status;
};

// The ways an attempt ends without a time. Which line is the Date header
// and how a line reads are the tables of http_date_test.
std::vector<FailureCase> FailureCases()
{
    const std::string notFound = "Date not found in the buffer!\n";
    const std::string failed = "读取失败，请重试。";
    return {
        {"first receive closes", {{"", 0}}, notFound, failed},
        {"first receive fails", {{"", -1}}, notFound, failed},
        {"no Date header", {{fake::Response({"Server: x"}), 0}}, notFound, failed},
        {"asctime form",
         {{fake::Response({"Date: Thu Feb 13 11:46:19 2025"}), 0}},
         "Date line extracted: Date: Thu Feb 13 11:46:19 2025\r\nInvalid input format.\n",
         "Date: Thu Feb 13 11:46:19 2025\r"},
        {"RFC 850 form",
         {{fake::Response({"Date: Thursday, 13-Feb-25 11:46:19 GMT"}), 0}},
         "Date line extracted: Date: Thursday, 13-Feb-25 11:46:19 GMT\r\nInvalid month.\n",
         "Date: Thursday, 13-Feb-25 11:46:19 GMT\r"},
        // Earlier than any true time: a portal's or proxy's clock left at its
        // factory date. (2024-01-01 00:00:00 itself is read by the hostile
        // suite's two-date-headers.)
        {"Date before 2024",
         {{fake::Response({"Date: Sun, 31 Dec 2023 23:59:59 GMT"}), 0}},
         "Date line extracted: Date: Sun, 31 Dec 2023 23:59:59 GMT\r\n"
         "Date earlier than 2024-01-01 00:00:00 GMT: not the true time.\n",
         failed},
    };
}

TEST_F(FetchTest, FailuresReportTheirLineAndStatusAndKeepTheTime)
{
    for (const FailureCase& c : FailureCases()) {
        fake::Reset();
        fake::Connection conn;
        conn.chunks = c.chunks;
        platform().connections.push_back(conn);
        dlg.m_bFetched = 1;  // a failure must clear a previous success
        Fetch();
        const std::size_t sep = out.find(kDashes + "\n");
        ASSERT_NE(std::string::npos, sep) << c.label;
        EXPECT_EQ(c.consoleTail, out.substr(sep + kDashes.size() + 1)) << c.label;
        EXPECT_EQ(c.status, platform().LastText(IDC_TIME_TEXT)) << c.label;
        ExpectFailedWithoutTouchingTheTime();
        EXPECT_TRUE(platform().messageBoxes.empty()) << c.label;
        EXPECT_EQ(0, platform().socketsOpen) << c.label;
    }
}

TEST_F(FetchTest, ConnectionFailureShowsAMessageBoxAndLeavesTheStatus)
{
    fake::Connection refused;
    refused.connectFails = true;
    platform().connections.push_back(refused);
    dlg.m_bFetched = 1;
    Fetch();
    EXPECT_EQ(std::vector<std::string>{"Failed to connect to server"}, platform().messageBoxes);
    EXPECT_TRUE(platform().dlgItemTexts.empty());
    EXPECT_TRUE(platform().sent.empty());
    EXPECT_EQ("", out);
    ExpectFailedWithoutTouchingTheTime();
    EXPECT_EQ(0, platform().socketsOpen);
}

TEST_F(FetchTest, ThroughAProxyTheRequestNamesTheUrlAndTheProxysOwnAnswerIsNoTime)
{
    platform().proxyChoice = ProxyChoice::Proxy;
    platform().proxy = {"::1", 3128, "user:p@ss", "http_proxy"};
    const std::string own = "HTTP/1.1 503 Service Unavailable\r\nServer: squid\r\n" +
                            std::string(kDateLine) + "\r\n\r\n";
    platform().connections.push_back(fake::Serve({own}));
    platform().connections.push_back(fake::Serve({kOkResponse}));
    Fetch();
    EXPECT_EQ("Using proxy [::1]:3128 (http_proxy)\nReceived (first 2000 characters):\n" + own +
                  "\n" + kDashes + "\nThe proxy answered HTTP/1.1 503 Service Unavailable itself: "
                  "its Date is not the time server's.\n",
              out);
    EXPECT_EQ("读取失败，请重试。", platform().LastText(IDC_TIME_TEXT));
    ExpectFailedWithoutTouchingTheTime();

    Fetch();
    EXPECT_EQ(1, dlg.m_bFetched);
    EXPECT_EQ((std::vector<std::string>{"::1", "::1"}), platform().connectHosts);
    EXPECT_EQ((std::vector<UINT>{3128, 3128}), platform().connectPorts);
    EXPECT_EQ("GET http://www.baidu.com/ HTTP/1.1\r\nHost: www.baidu.com\r\n"
              "Proxy-Authorization: Basic dXNlcjpwQHNz\r\nConnection: close\r\n\r\n",
              platform().sent.at(1));
}

TEST_F(FetchTest, SocketLayerFailureShowsAMessageBoxBeforeAnyConnection)
{
    platform().socketInitFails = true;
    platform().connections.push_back(fake::Serve({kOkResponse}));
    dlg.m_bFetched = 1;
    Fetch();
    EXPECT_EQ(std::vector<std::string>{"Socket Initialization failed"}, platform().messageBoxes);
    EXPECT_EQ(0, platform().connects);
    ExpectFailedWithoutTouchingTheTime();
}

TEST_F(FetchTest, ControlCharactersFromTheServerNeverReachTheTerminal)
{
    // C2 9B is CSI to a UTF-8 terminal; to a GBK console, C2 9B is a
    // character, as is D6 D0; C3 A9 is UTF-8 for e-acute.
    const std::string hostile =
        fake::Response({"X-Evil: \x1b]0;owned\x07\x1b[2J \xc2\x9b" "2J \xc2\x85|\xc2\xa0\xc3\xa9\xd6\xd0",
                        "Date: Thu, 13 Feb 2025 11:46:19 GMT\x1b[31m"});
    for (bool utf8 : {true, false}) {
        fake::Reset();
        platform().consoleReadsUtf8 = utf8;
        platform().connections.push_back(fake::Serve({hostile}));
        Fetch();
        EXPECT_EQ(std::string::npos, out.find('\x1b'));
        EXPECT_EQ(std::string::npos, out.find('\x07'));
        const std::string shown = utf8 ? "X-Evil: .]0;owned..[2J .2J .|\xc2\xa0\xc3\xa9\xd6\xd0\r\n"
                                       : "X-Evil: .]0;owned..[2J \xc2\x9b" "2J \xc2\x85|\xc2\xa0\xc3\xa9\xd6\xd0\r\n";
        EXPECT_NE(std::string::npos, out.find(shown))
            << (utf8 ? "UTF-8" : "GBK");
        EXPECT_EQ(1, dlg.m_bFetched);
    }
}

TEST_F(FetchTest, OverlongDateLineIsCutToTheWorkAreaNotOverflowingIt)
{
    // The fields sit beyond the 799 bytes that fit the work area.
    const std::string longLine = "Date: " + std::string(5000, ' ') + "Thu, 13 Feb 2025 11:46:19 GMT";
    platform().connections.push_back(fake::Serve({fake::Response({longLine})}));
    Fetch();
    EXPECT_EQ(0, dlg.m_bFetched);
    EXPECT_NE(std::string::npos, out.find("Invalid input format.\n"));
    EXPECT_EQ(longLine + "\r", platform().LastText(IDC_TIME_TEXT));

    // A line whose fields fit is still read, however long the rest of it.
    fake::Reset();
    const std::string padded = std::string(kDateLine) + std::string(3000, 'z');
    platform().connections.push_back(fake::Serve({fake::Response({padded})}));
    Fetch();
    EXPECT_EQ(1, dlg.m_bFetched);
}

TEST_F(FetchTest, DateLineWithoutLineEndEndsAtTheData)
{
    platform().connections.push_back(
        fake::Serve({"HTTP/1.1 200 OK\r\nDate: Thu, 13 Feb 2025 11:46:19 GMT"}));
    Fetch();
    EXPECT_EQ(1, dlg.m_bFetched);
    EXPECT_NE(std::string::npos, out.find("Date line extracted: Date: Thu, 13 Feb 2025 11:46:19 GMT\n"));
}

TEST_F(FetchTest, NulBytesInTheResponseNeitherCutItNorEscapeTheBuffer)
{
    std::string withNul = fake::Response({"X-Bin: a", kDateLine});
    withNul.insert(withNul.find("X-Bin: a") + 7, 1, '\0');
    platform().connections.push_back(fake::Serve({withNul}));
    Fetch();
    EXPECT_EQ(1, dlg.m_bFetched);
    EXPECT_NE(std::string::npos, out.find("X-Bin: .a"));
}

}  // namespace
