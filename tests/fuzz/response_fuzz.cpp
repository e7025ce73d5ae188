// Fuzz entry point over response handling: one input describes what the
// server does on each connection (receive chunks, closes, errors, refused
// connections); the unchanged core runs the one-click sequence over the fake
// platform, and the outcome is checked against properties that must hold
// whatever the server sends.
//
// Input format, read record by record after a first flags byte (ignored, kept
// so that seeds can grow options without changing their layout):
//   L = 1..0xFC   a chunk of the next L bytes (fewer at the end of the input)
//   L = 0xFD      a chunk whose length is the next two bytes (big-endian)
//   L = 0x00      the server closes: Receive returns 0, the next records
//                 belong to the next connection
//   L = 0xFF      Receive fails (error or time-out); next connection
//   L = 0xFE      the next connection is refused
// The end of the input closes the connection being described. Connections
// beyond those described are refused.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "HttpDate.h"
#include "QuorvelDlg.h"
#include "resource.h"

namespace {

constexpr std::size_t kEnough = 2000;  // receiving stops at this total
constexpr int kMaxAttempts = 5;
const std::string kFailedStatus = "读取失败，请重试。";

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

std::vector<fake::Connection> Decode(const std::uint8_t* data, std::size_t size)
{
    std::vector<fake::Connection> connections(1);
    std::size_t i = size > 0 ? 1 : 0;
    auto next = [&connections] { connections.emplace_back(); };
    while (i < size) {
        const std::uint8_t l = data[i++];
        std::size_t length = l;
        if (l == 0x00 || l == 0xFF) {
            connections.back().chunks.push_back(fake::Chunk{"", l == 0 ? 0 : -1});
            next();
            continue;
        }
        if (l == 0xFE) {
            if (!connections.back().chunks.empty())
                next();
            connections.back().connectFails = true;
            next();
            continue;
        }
        if (l == 0xFD) {
            if (size - i < 2)
                break;
            length = static_cast<std::size_t>(data[i]) << 8 | data[i + 1];
            i += 2;
            if (length == 0)
                continue;
        }
        if (length > size - i)
            length = size - i;
        if (length == 0)
            break;
        connections.back().chunks.push_back(
            fake::Chunk{std::string(reinterpret_cast<const char*>(data + i), length), 0});
        i += length;
    }
    return connections;
}

// What the core can have received on a connection: the chunks up to the
// close, error or time-out, stopping once kEnough bytes have arrived.
std::string Received(const fake::Connection& c)
{
    std::string text;
    for (const fake::Chunk& chunk : c.chunks) {
        if (chunk.data.empty() || text.size() >= kEnough)
            break;
        text += chunk.data;
    }
    return text;
}

bool StartsWithNoCase(const std::string& line, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (line.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = line[i] >= 'A' && line[i] <= 'Z' ? line[i] - 'A' + 'a' : line[i];
        if (c != prefix[i])
            return false;
    }
    return true;
}

// The lines of the header block (after the status line, before the first
// empty line), each without its LF.
std::vector<std::string> HeaderLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line))
        return lines;
    while (std::getline(in, line) && !line.empty() && line != "\r")
        lines.push_back(line);
    return lines;
}

// The first Date field of the header block, or "" when there is none.
std::string DateField(const std::string& received)
{
    for (const std::string& line : HeaderLines(received)) {
        if (StartsWithNoCase(line, "date:"))
            return line;
    }
    return "";
}

// The seconds of the first Age field of the header block when its value is
// 1 to 9 digits with optional blanks around them, else 0.
long long AgeSeconds(const std::string& received)
{
    for (const std::string& line : HeaderLines(received)) {
        if (!StartsWithNoCase(line, "age:"))
            continue;
        std::string value = line.substr(4);
        if (!value.empty() && value.back() == '\r')
            value.pop_back();
        const std::size_t first = value.find_first_not_of(" \t");
        const std::size_t last = value.find_last_not_of(" \t");
        if (first == std::string::npos)
            return 0;
        value = value.substr(first, last - first + 1);
        if (value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        return std::atoll(value.c_str());
    }
    return 0;
}

struct Fields {
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
};

// Whether a Date field gives a time: within the 799 bytes that fit the work
// area and before any NUL, ", " and then day, month name, year and time.
bool ReadsTime(const std::string& field, Fields* f)
{
    const std::string kept = field.substr(0, 799);
    const char* text = kept.c_str();
    const char* comma = std::strstr(text, ", ");
    if (field.empty() || comma == nullptr)
        return false;
    char month[4] = "";
    int end = 0;
    // Numbers of more than nine characters are malformed, never cut to fit;
    // so is a date whose seconds run on into more digits.
    if (std::sscanf(comma + 2, "%9d %3s %9d %9d:%9d:%9d%n", &f->day, month, &f->year, &f->hour,
                    &f->minute, &f->second, &end) != 6 ||
        std::isdigit(static_cast<unsigned char>(comma[2 + end])))
        return false;
    // No true time lies before 2024: such a Date is a portal's or proxy's.
    const int got[] = {f->year, 0, f->day, f->hour, f->minute, f->second};
    const int earliest[] = {2024, 1, 1, 0, 0, 0};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m) {
        if (std::strcmp(month, kMonths[m]) == 0) {
            f->month = m + 1;
            for (int i = 0; i < 6; ++i) {
                const int a = i == 1 ? f->month : got[i];
                if (a != earliest[i])
                    return a > earliest[i];
            }
            return true;
        }
    }
    return false;
}

// What the clock should get for header fields `f` advanced by `ms`: the C
// library's own calendar (timegm, gmtime_r), independent of the core's. A
// record that is no time the clock accepts stays as read, milliseconds 0.
struct Written {
    int year, month, day, hour, minute, second, millisecond;
};
Written Expected(const Fields& f, long long ms)
{
    Written w = {f.year, f.month, f.day, f.hour, f.minute, f.second, 0};
    if (f.year < 1601 || f.year > 30827 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59)
        return w;
    std::tm tm = {};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    const time_t at = timegm(&tm);
    if (tm.tm_mday != f.day)
        return w;  // a day the month does not have
    const time_t later = at + static_cast<time_t>(ms / 1000);
    std::tm out = {};
    gmtime_r(&later, &out);
    return Written{out.tm_year + 1900, out.tm_mon + 1, out.tm_mday, out.tm_hour, out.tm_min,
                   out.tm_sec, static_cast<int>(ms % 1000)};
}

bool IsControl(unsigned char c) { return (c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F; }

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Standard output goes to a temporary file, read back after each input. The
// error stream, whether written through the C stream or std::cerr, goes to
// another file and a string while the core runs; fd 2 itself stays as it is,
// so that sanitizer and libFuzzer reports still reach the terminal.
int g_outFd = -1;
std::FILE* g_errFile = nullptr;
std::ostringstream g_err;

void CaptureStreams()
{
    if (g_outFd >= 0)
        return;
    std::FILE* out = std::tmpfile();
    g_errFile = std::tmpfile();
    if (!out || !g_errFile)
        Fail("no temporary file for the console streams");
    g_outFd = fileno(out);
    std::fflush(stdout);
    dup2(g_outFd, STDOUT_FILENO);
    std::cerr.rdbuf(g_err.rdbuf());
}

std::string ReadBackAndRewind(int fd)
{
    const off_t size = lseek(fd, 0, SEEK_CUR);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (!text.empty() && pread(fd, &text[0], text.size(), 0) != size)
        Fail("console output could not be read back");
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
        Fail("console output could not be rewound");
    return text;
}

// Runs `action` with the error streams captured; returns what they got.
template <typename Action>
std::string WithErrorCaptured(Action action)
{
    g_err.str("");
    std::FILE* const saved = stderr;
    stderr = g_errFile;
    action();
    std::fflush(g_errFile);
    stderr = saved;
    return ReadBackAndRewind(fileno(g_errFile)) + g_err.str();
}

std::string TakeOutput()
{
    std::cout.flush();
    std::fflush(stdout);
    std::cout.clear();
    return ReadBackAndRewind(STDOUT_FILENO);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CaptureStreams();
    // The status line reader, which only a response through a proxy meets,
    // over the raw bytes: every read within them.
    int code = 0;
    HttpHeaderLine statusLine;
    if (ReadStatusLine(reinterpret_cast<const char*>(data), size, &code, &statusLine))
        Check(code >= 0 && code <= 999 && statusLine.length <= size, "status line");
    const std::vector<fake::Connection> script = Decode(data, size);
    fake::Reset();
    for (const fake::Connection& c : script)
        fake::Get().connections.push_back(c);

    {
        CWinApp app;
        CQuorvelDlg dlg;
        const std::string err = WithErrorCaptured([&dlg] { dlg.FetchAndApply(); });
        const std::string out = TakeOutput();
        const fake::State& s = fake::Get();

        // The schedule: at most five attempts, the fixed pauses between them,
        // and every socket closed.
        Check(s.connects >= 1 && s.connects <= kMaxAttempts, "attempt count");
        Check(s.sleeps.size() == static_cast<std::size_t>(s.connects - 1), "one pause per retry");
        for (std::size_t k = 0; k < s.sleeps.size(); ++k)
            Check(s.sleeps[k] == (k == 0 ? 500u : 1000u), "pause length");
        Check(s.socketsOpen == 0, "socket left open");
        Check(s.connectTimeoutMs > 0 && s.receiveTimeoutMs > 0, "time-outs set");
        for (int length : s.receiveLengths)
            Check(length == 102399, "receive size");

        // The console: an echo for every connection made (the echoed text
        // may hold more), and nothing that can drive a terminal.
        const std::size_t answered = static_cast<std::size_t>(s.connects) - s.messageBoxes.size();
        Check(Count(out, "Received (first 2000 characters):\n") >= answered, "one echo per connection");
        for (char c : out)
            Check(!IsControl(static_cast<unsigned char>(c)), "control character on the console");
        for (const std::string& box : s.messageBoxes)
            Check(box == "Failed to connect to server", "message box text");

        // The attempt that reads the time is the first whose connection
        // brings a Date field of the header block that reads; attempt k uses
        // the k-th connection described.
        int reading = -1;
        Fields f;
        for (int k = 0; k < kMaxAttempts && reading < 0; ++k) {
            const std::size_t i = static_cast<std::size_t>(k);
            if (i < script.size() && !script[i].connectFails &&
                ReadsTime(DateField(Received(script[i])), &f))
                reading = k;
        }

        if (reading < 0) {
            Check(dlg.m_bFetched == 0, "time read without a readable Date field");
            Check(s.connects == kMaxAttempts, "a failure is retried");
            Check(s.clockWrites.empty() && err.empty(), "no clock write after five failures");
            return 0;
        }
        Check(dlg.m_bFetched == 1, "a readable Date field was not read");
        Check(s.connects == reading + 1, "attempts stop at the first success");

        // The stored and written fields are those of that Date field.
        const int year = f.year, day = f.day, hour = f.hour, minute = f.minute, second = f.second;
        Check(dlg.m_utcYear == year && dlg.m_utcMonth == f.month && dlg.m_utcDay == day &&
                  dlg.m_utcHour == hour && dlg.m_utcMinute == minute && dlg.m_utcSecond == second,
              "stored fields are the header's");

        const std::string status = s.LastText(IDC_TIME_TEXT);
        Check(status.size() < 200 && status != kFailedStatus, "status text of a success");

        // No time passes on the fake tick between the answer and the write, so
        // the clock gets the header's time plus half a second and the Age.
        const Written e =
            Expected(f, 500 + 1000 * AgeSeconds(Received(script[static_cast<std::size_t>(reading)])));
        const bool fits = e.year >= 0 && e.year <= 0xFFFF && e.day >= 0 && e.day <= 0xFFFF &&
                          e.hour >= 0 && e.hour <= 0xFFFF && e.minute >= 0 && e.minute <= 0xFFFF &&
                          e.second >= 0 && e.second <= 0xFFFF && e.month >= 0 && e.month <= 0xFFFF;
        if (!fits) {
            Check(s.clockWrites.empty(), "a field that does not fit reached the clock");
            Check(err == "Failed to set system time. Error: 87\n", "refusal line");
            return 0;
        }
        Check(s.clockWrites.size() == 1 && err.empty(), "one clock write");
        const SYSTEMTIME& w = s.clockWrites[0];
        Check(w.wYear == e.year && w.wMonth == e.month && w.wDay == e.day && w.wHour == e.hour &&
                  w.wMinute == e.minute && w.wSecond == e.second && w.wMilliseconds == e.millisecond,
              "the clock gets the header's UTC time, advanced");
        Check(Count(out, "System time successfully updated.\n") >= 1, "success line");
    }
    return 0;
}
