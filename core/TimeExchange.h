// One exchange with the time server, as every read makes it: the way there
// (directly, or through the proxy the system names), the connection, the
// request, the answer, and the Date read from it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "HttpDate.h"
#include "afxsock.h"
#include "http_proxy.h"

// How the requests of one read reach the time server.
struct TimeServerRoute {
    ProxyChoice choice = ProxyChoice::Direct;
    HttpProxy proxy;      // the proxy, when choice is Proxy
    std::string problem;  // why no request can be made, when choice is Unusable
    // Directly: the time server's addresses as the read's connection
    // resolved them (numeric, in the resolver's order), and the index of the
    // one it reached. Empty through a proxy.
    std::vector<std::string> addresses;
    int reached = -1;
};

// Asks the system's proxy settings how requests for the time server go.
TimeServerRoute FindTimeServerRoute();

// The proxy as the console names it: "host:port (source)", an IPv6
// address in brackets.
std::string ProxyName(const HttpProxy& proxy);

// Creates `socket` and connects it to the time server, or to the proxy of
// `route`, with the given time-outs in milliseconds. False when either step
// fails, or when the route is Unusable.
bool ConnectToTimeServer(CSocket& socket, const TimeServerRoute& route, unsigned connectTimeoutMs,
                         unsigned receiveTimeoutMs);

// Creates `socket` and connects it to the time server's address `index` of
// `route.addresses` alone, with the given time-outs in milliseconds.
bool ConnectToServerAddress(CSocket& socket, const TimeServerRoute& route, std::size_t index,
                            unsigned connectTimeoutMs, unsigned receiveTimeoutMs);

// The request for the time server's home page: "GET / HTTP/1.1" directly;
// through a proxy the absolute URL, and Proxy-Authorization (Basic) when the
// proxy has credentials.
std::string TimeRequest(const TimeServerRoute& route);

// Sends TimeRequest(route) on a connected socket. Returns
// AfxGetTickMilliseconds() at the moment it was handed to the socket.
ULONGLONG SendTimeRequest(CSocket& socket, const TimeServerRoute& route);

// Receives until the server closes, an error or time-out, or enough bytes
// for the headers have arrived. `firstDataTick` gets AfxGetTickMilliseconds()
// at the return of the first receive that brought data (left alone when none
// did).
std::string ReceiveResponse(CSocket& socket, ULONGLONG* firstDataTick);

// Whether a response that came through a proxy is one the proxy made itself:
// 407 (it wants credentials) or any 5xx: 502, 503 and 504 (it could not
// reach the time server), and 500, which tinyproxy, among others, answers
// when its connection fails. Its Date is the proxy's clock, not the
// server's; a time server whose own page fails is not worth reading either. `statusLine`
// gets the status line, without CR, for the console.
bool IsProxyOwnResponse(const std::string& response, std::string* statusLine);

// Parses a Date line found in the response, as far as it fits the line work
// area (a longer line is cut to it).
HttpDateResult ParseDateLineInWorkArea(const std::string& dateLine, HttpDateFields* utc);

// Whether the parsed Date can be the true time: not earlier than the day this
// program was made. An earlier one comes from a portal or proxy whose own
// clock sits at its factory date.
bool IsCredibleDate(const HttpDateFields& utc);
