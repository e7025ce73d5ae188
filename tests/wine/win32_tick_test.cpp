// The Win32 backend's millisecond tick against the real clock: it counts
// milliseconds (not seconds, not the counter's own units), forward only,
// and in steps of a millisecond rather than the system timer's ~15.6 ms.

#include <gtest/gtest.h>

#include <algorithm>

#include "afxwin.h"

TEST(Win32Tick, CountsMillisecondsForwardAcrossASleepInMillisecondSteps)
{
    const ULONGLONG start = AfxGetTickMilliseconds();
    Sleep(200);
    // Unsigned: a tick that went back would show as a huge span. Sleep may
    // end up to one system timer step early.
    const ULONGLONG slept = AfxGetTickMilliseconds() - start;
    EXPECT_GE(slept, 180u);
    EXPECT_LT(slept, 5000u);

    // The smallest of 20 steps: 1 ms unless the thread lost the processor
    // at every one of them.
    ULONGLONG smallest = ~0ull;
    ULONGLONG last = AfxGetTickMilliseconds();
    for (int steps = 0; steps < 20 && AfxGetTickMilliseconds() - start < 3000;) {
        const ULONGLONG now = AfxGetTickMilliseconds();
        if (now != last) {
            smallest = std::min(smallest, now - last);
            last = now;
            ++steps;
        }
    }
    EXPECT_LT(smallest, 10u);
}
