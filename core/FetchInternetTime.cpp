// One attempt to read the current time from the web server's Date header.

#include <cstdio>
#include <string>

#include "ConsoleText.h"
#include "HttpDate.h"
#include "QuorvelDlg.h"
#include "TimeExchange.h"
#include "TimeServer.h"
#include "resource.h"

namespace {

void EchoResponse(const std::string& response)
{
    std::printf("Received (first 2000 characters):\n");
    const std::size_t shown = response.size() < kEchoLimit ? response.size() : kEchoLimit;
    WritePrintable(cout, response.data(), shown);
    cout << endl;
}

}  // namespace

void CQuorvelDlg::FetchInternetTime()
{
    if (!AfxSocketInit()) {
        AfxMessageBox("Socket Initialization failed", MB_OK, 0);
        m_bFetched = 0;
        return;
    }

    // The proxy settings are read anew for each attempt, so a change made
    // between two attempts is used by the next one.
    m_route = FindTimeServerRoute();
    const bool viaProxy = m_route.choice == ProxyChoice::Proxy;
    if (m_route.choice == ProxyChoice::Unusable)
        cout << m_route.problem.c_str() << endl;
    else if (viaProxy)
        cout << "Using proxy " << ProxyName(m_route.proxy).c_str() << endl;

    CSocket socket;
    const bool connected = ConnectToTimeServer(socket, m_route, kConnectTimeoutMs, kReceiveTimeoutMs);
    m_connectFailure = socket.GetConnectFailure();
    if (!connected) {
        if (viaProxy)
            cout << "Failed to connect to proxy " << ProxyName(m_route.proxy).c_str() << "." << endl;
        AfxMessageBox("Failed to connect to server", MB_OK, 0);
        m_bFetched = 0;
        return;
    }
    if (!viaProxy) {
        m_route.addresses = socket.GetResolvedAddresses();
        m_route.reached = socket.GetConnectedAddress();
    }

    const ULONGLONG sentTick = SendTimeRequest(socket, m_route);
    ULONGLONG firstDataTick = sentTick;
    const std::string response = ReceiveResponse(socket, &firstDataTick);
    EchoResponse(response);
    socket.Close();
    cout << "-------------------------------------------------------------" << endl;

    std::string statusLine;
    if (viaProxy && IsProxyOwnResponse(response, &statusLine)) {
        cout << "The proxy answered ";
        WritePrintable(cout, statusLine.data(), statusLine.size());
        cout << " itself: its Date is not the time server's." << endl;
        SetDlgItemText(IDC_TIME_TEXT, "读取失败，请重试。");
        m_bFetched = 0;
        return;
    }

    HttpHeaderLine found;
    if (!FindDateHeader(response.data(), response.size(), &found)) {
        cout << "Date not found in the buffer!" << endl;
        SetDlgItemText(IDC_TIME_TEXT, "读取失败，请重试。");
        m_bFetched = 0;
        return;
    }

    const std::string dateLine(found.text, found.length);
    cout << "Date line extracted: ";
    WritePrintable(cout, dateLine.data(), dateLine.size());
    cout << endl;
    SetDlgItemText(IDC_TIME_TEXT, dateLine.c_str());

    HttpDateFields utc;
    switch (ParseDateLineInWorkArea(dateLine, &utc)) {
    case HttpDateResult::InvalidFormat:
        std::printf("Invalid input format.\n");
        m_bFetched = 0;
        return;
    case HttpDateResult::InvalidMonth:
        std::printf("Invalid month.\n");
        m_bFetched = 0;
        return;
    case HttpDateResult::Ok:
        break;
    }
    if (!IsCredibleDate(utc)) {
        const UtcTime& t = kEarliestCredibleTime;
        std::printf("Date earlier than %04d-%02d-%02d %02d:%02d:%02d GMT: not the true time.\n",
                    t.year, t.month, t.day, t.hour, t.minute, t.second);
        SetDlgItemText(IDC_TIME_TEXT, "读取失败，请重试。");
        m_bFetched = 0;
        return;
    }

    std::printf("Year: %d\n", utc.year);
    std::printf("Month: %d\n", utc.month);
    std::printf("Day: %d\n", utc.day);
    std::printf("Hour: %d\n", utc.hour);
    std::printf("Minute: %d\n", utc.minute);
    std::printf("Second: %d\n", utc.second);

    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    AdjustTimeZone(kDisplayOffsetHours, utc.year, utc.month, utc.day, utc.hour, utc.minute,
                   utc.second, &year, &month, &day, &hour, &minute, &second);
    std::printf("\r\nAdjusted Time: %04d-%02d-%02d %02d:%02d:%02d\n", year, month, day, hour,
                minute, second);

    // A cache's Age tells how much older the Date is than the answer; a
    // malformed one is ignored, but still marks the Date as a cache's.
    int ageSeconds = 0;
    HttpHeaderLine ageLine;
    const bool fromCache = FindHeaderField(response.data(), response.size(), "age", &ageLine);
    if (fromCache)
        ReadAgeSeconds(ageLine, &ageSeconds);

    m_utcYear = utc.year;
    m_utcMonth = utc.month;
    m_utcDay = utc.day;
    m_utcHour = utc.hour;
    m_utcMinute = utc.minute;
    m_utcSecond = utc.second;
    m_localYear = year;
    m_localMonth = month;
    m_localDay = day;
    m_localHour = hour;
    m_localMinute = minute;
    m_localSecond = second;
    m_requestTick = sentTick;
    m_answerTick = firstDataTick;
    m_dateTick = sentTick + (firstDataTick - sentTick) / 2;
    m_dateMilliseconds = kHalfSecondMs;
    m_ageSeconds = ageSeconds;
    m_bDateFromCache = fromCache;
    m_bHaveTime = true;

    char status[200];
    std::snprintf(status, sizeof status, "%d年%d月%d日%d点%d分%d秒", year, month, day, hour,
                  minute, second);
    SetDlgItemText(IDC_TIME_TEXT, status);
    m_bFetched = 1;
}
