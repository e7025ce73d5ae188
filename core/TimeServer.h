// The web server whose Date header gives the time, and how it is asked.
// All compile-time constants.
#pragma once

#include "UtcTime.h"

// The site named by the fetch button; its home page answers plain HTTP on
// port 80 with a Date header.
#define TimeServerHost "www.baidu.com"

constexpr unsigned kTimeServerPort = 80;

constexpr char kRequestLine[] = "GET / HTTP/1.1\r\n";
// The same request to a proxy names the whole URL (the absolute form).
#define TimeServerUrl "http://www.baidu.com/"
constexpr char kProxyRequestLine[] = "GET " TimeServerUrl " HTTP/1.1\r\n";
constexpr char kHostHeaderLine[] = "Host: www.baidu.com\r\n";
constexpr char kClosingHeaderLines[] = "Connection: close\r\n\r\n";

// One receive may fill the whole buffer but its last byte, kept for a NUL.
constexpr int kReceiveBufferSize = 102400;
constexpr int kReceiveChunkMax = kReceiveBufferSize - 1;
// Receiving stops once this many bytes have arrived; the headers are in them.
constexpr int kReceiveEnough = 2000;
// How much of the response is echoed on the console.
constexpr int kEchoLimit = 2000;
// Size of the work area that holds a copy of the Date line, NUL included.
constexpr int kDateLineArea = 800;

// Time-outs in milliseconds: for the whole connection attempt, and the
// deadline by which receiving ends, counted from the sending of the request.
// Whatever the server does, one attempt cannot hold the window much longer
// than their sum.
constexpr unsigned kConnectTimeoutMs = 10000;
constexpr unsigned kReceiveTimeoutMs = 10000;
// In an unattended run, how long in all, in milliseconds, the attempts that
// find no network yet may wait for it to come up.
constexpr unsigned kNetworkWaitMs = 60000;

// The earliest Date taken as the true time (GMT): the true time is never
// earlier than the day this program was made. An earlier one comes from a
// portal or proxy whose own clock sits at its factory date.
constexpr UtcTime kEarliestCredibleTime = {2024, 1, 1, 0, 0, 0, 0};

// The Date header cuts the server's moment to its second: on average that
// moment was this many milliseconds later than the header says.
constexpr int kHalfSecondMs = 500;

// The zone shown in the window: UTC+8 (China Standard Time).
constexpr int kDisplayOffsetHours = 8;
