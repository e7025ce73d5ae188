// One attempt to read the current time from the web server's Date header.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ConsoleText.h"
#include "HttpDate.h"
#include "QuorvelDlg.h"
#include "TimeServer.h"
#include "afxsock.h"
#include "resource.h"

namespace {

// Receives until the server closes, an error or time-out, or enough bytes
// for the headers have arrived. `firstDataTick` gets AfxGetTickMilliseconds at the
// return of the first receive that brought data (left alone when none did).
std::string ReceiveResponse(CSocket& socket, ULONGLONG* firstDataTick)
{
    // Left uninitialised: only the bytes a receive wrote are ever read, and
    // clearing 100 KB would cost more than the rest of an attempt.
    const std::unique_ptr<char[]> buffer(new char[kReceiveBufferSize]);
    std::string response;
    int total = 0;
    int n = socket.Receive(buffer.get(), kReceiveChunkMax, 0);
    if (n > 0)
        *firstDataTick = AfxGetTickMilliseconds();
    while (n > 0) {
        buffer[n] = '\0';
        response.append(buffer.get(), static_cast<std::size_t>(n));
        total += n;
        if (total >= kReceiveEnough)
            break;
        n = socket.Receive(buffer.get(), kReceiveChunkMax, 0);
    }
    return response;
}

void EchoResponse(const std::string& response)
{
    std::printf("Received (first 2000 characters):\n");
    const std::size_t shown = response.size() < kEchoLimit ? response.size() : kEchoLimit;
    WritePrintable(cout, response.data(), shown);
    cout << endl;
}

// Whether the parsed GMT fields come before `t`, compared field by field
// from the year down, as they were written.
bool IsEarlierThan(const HttpDateFields& f, const UtcTime& t)
{
    const int a[] = {f.year, f.month, f.day, f.hour, f.minute, f.second};
    const int b[] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    for (int i = 0; i < 6; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i];
    }
    return false;
}

}  // namespace

void CQuorvelDlg::FetchInternetTime()
{
    if (!AfxSocketInit()) {
        AfxMessageBox("Socket Initialization failed", MB_OK, 0);
        m_bFetched = 0;
        return;
    }

    CSocket socket;
    socket.SetTimeouts(kConnectTimeoutMs, kReceiveTimeoutMs);
    if (!socket.Create(0, SOCK_STREAM, 63, nullptr) ||
        !socket.Connect(TimeServerHost, kTimeServerPort)) {
        AfxMessageBox("Failed to connect to server", MB_OK, 0);
        m_bFetched = 0;
        return;
    }

    const std::string request = std::string(kRequestLine) + kHostHeaderLine + kClosingHeaderLines;
    const ULONGLONG sentTick = AfxGetTickMilliseconds();
    socket.Send(request.data(), static_cast<int>(request.size()), 0);
    ULONGLONG firstDataTick = sentTick;
    const std::string response = ReceiveResponse(socket, &firstDataTick);
    EchoResponse(response);
    socket.Close();
    cout << "-------------------------------------------------------------" << endl;

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

    // A bounded copy: an over-long line is cut to fit the work area.
    char lineCopy[kDateLineArea];
    const std::size_t copied =
        dateLine.size() < sizeof lineCopy - 1 ? dateLine.size() : sizeof lineCopy - 1;
    std::memcpy(lineCopy, dateLine.data(), copied);
    lineCopy[copied] = '\0';

    HttpDateFields utc;
    switch (ParseDateLine(lineCopy, &utc)) {
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
    if (IsEarlierThan(utc, kEarliestCredibleTime)) {
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
    // malformed one is ignored.
    int ageSeconds = 0;
    HttpHeaderLine ageLine;
    if (FindHeaderField(response.data(), response.size(), "age", &ageLine))
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
    m_dateTick = sentTick + (firstDataTick - sentTick) / 2;
    m_ageSeconds = ageSeconds;
    m_bHaveTime = true;

    char status[200];
    std::snprintf(status, sizeof status, "%d年%d月%d日%d点%d分%d秒", year, month, day, hour,
                  minute, second);
    SetDlgItemText(IDC_TIME_TEXT, status);
    m_bFetched = 1;
}
