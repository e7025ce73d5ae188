#include "TimeExchange.h"

#include <cstring>
#include <memory>

#include "TimeServer.h"
#include "afxwin.h"

bool ConnectToTimeServer(CSocket& socket, unsigned connectTimeoutMs, unsigned receiveTimeoutMs)
{
    socket.SetTimeouts(connectTimeoutMs, receiveTimeoutMs);
    return socket.Create(0, SOCK_STREAM, 63, nullptr) &&
           socket.Connect(TimeServerHost, kTimeServerPort);
}

ULONGLONG SendTimeRequest(CSocket& socket)
{
    const std::string request = std::string(kRequestLine) + kHostHeaderLine + kClosingHeaderLines;
    const ULONGLONG sentTick = AfxGetTickMilliseconds();
    socket.Send(request.data(), static_cast<int>(request.size()), 0);
    return sentTick;
}

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

HttpDateResult ParseDateLineInWorkArea(const std::string& dateLine, HttpDateFields* utc)
{
    char lineCopy[kDateLineArea];
    const std::size_t copied =
        dateLine.size() < sizeof lineCopy - 1 ? dateLine.size() : sizeof lineCopy - 1;
    std::memcpy(lineCopy, dateLine.data(), copied);
    lineCopy[copied] = '\0';
    return ParseDateLine(lineCopy, utc);
}

bool IsCredibleDate(const HttpDateFields& utc)
{
    // Compared field by field from the year down, as they were written.
    const UtcTime& t = kEarliestCredibleTime;
    const int a[] = {utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second};
    const int b[] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    for (int i = 0; i < 6; ++i) {
        if (a[i] != b[i])
            return a[i] > b[i];
    }
    return true;
}
