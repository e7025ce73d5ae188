// The monotonic millisecond tick, over the performance counter, and waiting
// for it. The counter exists on every Windows from XP on and counts far finer
// than the system timer, whose ~15.6 ms steps are all GetTickCount gives.

#include "afxwin.h"

namespace {

// Sleep wakes on the system timer's ticks, up to one tick (about 15.6 ms)
// after the time asked for: it takes all of a wait but this much, and the
// tick is watched for the rest.
constexpr ULONGLONG kWatchedMs = 20;

}  // namespace

ULONGLONG AfxGetTickMilliseconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
    const ULONGLONG counts = static_cast<ULONGLONG>(now.QuadPart);
    // counts * 1000 / perSecond would overflow after a few weeks of uptime at
    // a 10 MHz counter: whole seconds and the rest are scaled apart.
    return counts / perSecond * 1000u + counts % perSecond * 1000u / perSecond;
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
