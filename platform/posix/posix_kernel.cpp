// Kernel services over POSIX: pauses, the monotonic tick and waiting for it,
// the system clock and the thread's last error code.

#include <cerrno>
#include <ctime>

#include "afxwin.h"
#include "system_time.h"
#include "win32api.h"

namespace {
thread_local DWORD t_lastError = 0;
}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

void Sleep(DWORD milliseconds)
{
    timespec left = {static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

ULONGLONG AfxGetTickMilliseconds()
{
    timespec now = {0, 0};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u +
           static_cast<ULONGLONG>(now.tv_nsec / 1000000L);
}

void AfxWaitUntilTick(ULONGLONG tickMs)
{
    // An absolute wake-up on the clock the tick reads: the kernel wakes the
    // thread right after the millisecond begins, and an interrupted wait
    // resumes towards the same instant.
    const timespec until = {static_cast<time_t>(tickMs / 1000u),
                            static_cast<long>(tickMs % 1000u) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

BOOL SetSystemTime(const SYSTEMTIME* utc)
{
    if (utc == nullptr || !posix_time::IsValid(*utc)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timespec ts = {static_cast<time_t>(posix_time::ToUnixSeconds(*utc)),
                   static_cast<long>(utc->wMilliseconds) * 1000000L};
    if (clock_settime(CLOCK_REALTIME, &ts) != 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    return TRUE;
}
