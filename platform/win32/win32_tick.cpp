// The monotonic millisecond tick, over the performance counter: it exists on
// every Windows from XP on and counts far finer than the system timer, whose
// ~15.6 ms steps are all GetTickCount gives.

#include "afxwin.h"

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
