// Kernel services over POSIX: pauses, the system clock and the thread's
// last error code.

#include <cerrno>
#include <ctime>

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
