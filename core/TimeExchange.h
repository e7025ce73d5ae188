// One exchange with the time server, as every read makes it: the connection,
// the request, the answer, and the Date read from it.
#pragma once

#include <string>

#include "HttpDate.h"
#include "afxsock.h"

// Creates `socket` and connects it to the time server, with the given
// time-outs in milliseconds. False when either step fails.
bool ConnectToTimeServer(CSocket& socket, unsigned connectTimeoutMs, unsigned receiveTimeoutMs);

// Sends the request on a connected socket. Returns AfxGetTickMilliseconds()
// at the moment it was handed to the socket.
ULONGLONG SendTimeRequest(CSocket& socket);

// Receives until the server closes, an error or time-out, or enough bytes
// for the headers have arrived. `firstDataTick` gets AfxGetTickMilliseconds()
// at the return of the first receive that brought data (left alone when none
// did).
std::string ReceiveResponse(CSocket& socket, ULONGLONG* firstDataTick);

// Parses a Date line found in the response, as far as it fits the line work
// area (a longer line is cut to it).
HttpDateResult ParseDateLineInWorkArea(const std::string& dateLine, HttpDateFields* utc);

// Whether the parsed Date can be the true time: not earlier than the day this
// program was made. An earlier one comes from a portal or proxy whose own
// clock sits at its factory date.
bool IsCredibleDate(const HttpDateFields& utc);
