// A fake backend for the platform layer: scripted sockets, a recording clock,
// a scripted tick, recorded sleeps, message boxes and window texts. Tests
// set the script, run the unchanged application code, and read the record.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "afxsock.h"
#include "afxwin.h"
#include "http_proxy.h"

namespace fake {

// What one Receive call returns: `data` when not empty, else `result`
// (0 for the peer closing, -1 for an error or time-out).
struct Chunk {
    std::string data;
    int result = 0;
    DWORD delayMs = 0;  // how long the Receive waits before it returns
    ULONGLONG readyAtMs = 0;  // or the tick until which it waits, when later
};

// The behaviour of one connection: taken in order by each Connect call.
struct Connection {
    bool connectFails = false;
    ConnectFailure failure = ConnectFailure::Other;  // why, when it fails
    std::vector<Chunk> chunks;  // after the last one, Receive returns 0
};

struct State {
    // Script.
    bool socketInitFails = false;
    std::deque<Connection> connections;  // when empty, Connect fails
    BOOL clockResult = TRUE;             // what SetSystemTime returns
    DWORD clockError = 1;                // and its error code on failure
    bool consoleReadsUtf8 = true;        // else GBK, as on Windows
    ULONGLONG tickMs = 0;                // AfxGetTickMilliseconds; Sleep, waits and chunk delays advance it
    // A simulated server, for connections beyond the scripted ones when set:
    // each request is answered serverRoundTripMs after it was sent, with the
    // text `server` gives for the moment halfway between, in microseconds of
    // the tick.
    std::function<std::string(std::int64_t stampUs)> server;
    DWORD serverRoundTripMs = 0;
    // What AfxGetHttpProxy answers.
    ProxyChoice proxyChoice = ProxyChoice::Direct;
    HttpProxy proxy;
    std::string proxyProblem;
    // When the network changes, in milliseconds after each CNetworkWatch is
    // made (a wait longer than that sees the change); never by default.
    DWORD networkChangeAfterMs = 0xFFFFFFFF;

    // Record.
    int connects = 0;
    std::vector<std::string> connectHosts;
    std::vector<UINT> connectPorts;
    std::vector<std::string> sent;
    std::vector<int> receiveLengths;  // the length asked for by each Receive
    int socketsOpen = 0;              // created and not yet closed
    unsigned connectTimeoutMs = 0;
    unsigned receiveTimeoutMs = 0;
    std::vector<DWORD> sleeps;
    std::vector<UINT> networkWaits;  // the time-out of each WaitForChange
    std::vector<SYSTEMTIME> clockWrites;
    std::vector<std::string> messageBoxes;
    std::vector<std::pair<int, std::string>> dlgItemTexts;

    // The last text set on a control, or "" when none was.
    std::string LastText(int id) const;
    // Every text set on a control, in order.
    std::vector<std::string> Texts(int id) const;
};

// The state of the current test; Reset() starts a new one.
State& Get();
void Reset();

// A response with the given header lines (CR LF added), in one chunk.
std::string Response(const std::vector<std::string>& headerLines, const std::string& body = "");
// A connection that answers with `data` split into the given chunks and
// then closes.
Connection Serve(const std::vector<std::string>& chunks);

}  // namespace fake
