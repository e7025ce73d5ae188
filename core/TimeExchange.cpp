#include "TimeExchange.h"

#include <cstring>
#include <memory>

#include "TimeServer.h"
#include "afxwin.h"

namespace {

constexpr char kBase64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 with padding, as Basic credentials are written.
std::string Base64(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        unsigned value = 0;
        for (std::size_t k = 0; k < 3; ++k)
            value = value << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out.push_back(k <= n ? kBase64Digits[value >> (18 - 6 * k) & 63] : '=');
    }
    return out;
}

}  // namespace

TimeServerRoute FindTimeServerRoute()
{
    TimeServerRoute route;
    route.choice = AfxGetHttpProxy(TimeServerUrl, TimeServerHost, &route.proxy, &route.problem);
    return route;
}

std::string ProxyName(const HttpProxy& proxy)
{
    const bool v6 = proxy.host.find(':') != std::string::npos;
    return (v6 ? "[" + proxy.host + "]" : proxy.host) + ":" + std::to_string(proxy.port) + " (" +
           proxy.source + ")";
}

bool ConnectToTimeServer(CSocket& socket, const TimeServerRoute& route, unsigned connectTimeoutMs,
                         unsigned receiveTimeoutMs)
{
    if (route.choice == ProxyChoice::Unusable)
        return false;
    const bool viaProxy = route.choice == ProxyChoice::Proxy;
    socket.SetTimeouts(connectTimeoutMs, receiveTimeoutMs);
    return socket.Create(0, SOCK_STREAM, 63, nullptr) &&
           socket.Connect(viaProxy ? route.proxy.host.c_str() : TimeServerHost,
                          viaProxy ? route.proxy.port : kTimeServerPort);
}

bool ConnectToServerAddress(CSocket& socket, const TimeServerRoute& route, std::size_t index,
                            unsigned connectTimeoutMs, unsigned receiveTimeoutMs)
{
    socket.SetTimeouts(connectTimeoutMs, receiveTimeoutMs);
    return index < route.addresses.size() && !route.addresses[index].empty() &&
           socket.Create(0, SOCK_STREAM, 63, nullptr) &&
           socket.Connect(route.addresses[index].c_str(), kTimeServerPort);
}

std::string TimeRequest(const TimeServerRoute& route)
{
    if (route.choice != ProxyChoice::Proxy)
        return std::string(kRequestLine) + kHostHeaderLine + kClosingHeaderLines;
    std::string request = std::string(kProxyRequestLine) + kHostHeaderLine;
    if (!route.proxy.userInfo.empty())
        request += "Proxy-Authorization: Basic " + Base64(route.proxy.userInfo) + "\r\n";
    return request + kClosingHeaderLines;
}

ULONGLONG SendTimeRequest(CSocket& socket, const TimeServerRoute& route)
{
    const std::string request = TimeRequest(route);
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

bool IsProxyOwnResponse(const std::string& response, std::string* statusLine)
{
    int code = 0;
    HttpHeaderLine line;
    if (!ReadStatusLine(response.data(), response.size(), &code, &line))
        return false;
    if (code != 407 && (code < 500 || code > 599))
        return false;
    statusLine->assign(line.text, line.length);
    if (!statusLine->empty() && statusLine->back() == '\r')
        statusLine->pop_back();
    return true;
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
