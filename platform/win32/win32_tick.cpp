// The monotonic millisecond tick, over the performance counter, and waiting
// for it. The counter exists on every Windows from XP on (where it never
// fails) and counts far finer than the system timer, whose ~15.6 ms steps are
// all GetTickCount gives.

#include "afxwin.h"

namespace {

// Sleep wakes on the system timer's ticks, up to one tick (about 15.6 ms)
// after the time asked for: it takes all of a wait but this much, and the
// tick is watched for the rest.
constexpr ULONGLONG kWatchedMs = 20;

}  // namespace

ULONGLONG AfxGetTickMilliseconds()
{
    // The frequency is fixed at system start.
    static const ULONGLONG perSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<ULONGLONG>(frequency.QuadPart);
    }();
    static ULONGLONG last = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const ULONGLONG counts = static_cast<ULONGLONG>(now.QuadPart);
    // counts * 1000 would overflow after about 70 days of uptime where the
    // counter runs at a 3 GHz processor's clock, as it may on XP: whole
    // seconds and the rest are scaled apart.
    const ULONGLONG ms = counts / perSecond * 1000u + counts % perSecond * 1000u / perSecond;
    // On XP a counter over processor time stamps that the firmware left
    // unsynchronised can read lower on another core: never step back. (The
    // layer runs on the UI thread only, so `last` needs no lock.)
    if (ms > last)
        last = ms;
    return last;
}

void AfxWaitUntilTick(ULONGLONG tickMs)
{
    for (;;) {
        const ULONGLONG now = AfxGetTickMilliseconds();
        if (now >= tickMs)
            return;
        // Sleep(0) only gives the processor to another ready thread between
        // two looks at the tick.
        Sleep(tickMs - now > kWatchedMs ? static_cast<DWORD>(tickMs - now - kWatchedMs) : 0);
    }
}
