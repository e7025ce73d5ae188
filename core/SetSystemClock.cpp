// Writing the UTC time read from the server into the system clock.

#include <cstdint>
#include <cstdio>

#include "QuorvelDlg.h"
#include "UtcTime.h"
#include "console_stream.h"

namespace {

// A field the clock record cannot hold as it is. Such a field must never be
// cut to its low 16 bits: year 67537 would become 2001 and pass as valid.
bool FitsInWord(int value) { return value >= 0 && value <= 0xFFFF; }

}  // namespace

void CQuorvelDlg::ApplySystemTime()
{
    if (!m_bHaveTime) {
        std::printf("No Internet time has been read yet; the system time was not changed.\n");
        return;
    }
    // The best estimate of now: the header's time, plus the part of a
    // second the server's clock most likely showed beyond it (half a second
    // after one read), plus a cache's Age, plus the time passed since then.
    // Fields that are no calendar time are passed on as read, so the clock
    // call refuses them.
    const ULONGLONG now = AfxGetTickMilliseconds();
    const std::int64_t since = now > m_dateTick ? static_cast<std::int64_t>(now - m_dateTick) : 0;
    const std::int64_t advance =
        m_dateMilliseconds + static_cast<std::int64_t>(m_ageSeconds) * 1000 + since;
    UtcTime t = {m_utcYear, m_utcMonth, m_utcDay, m_utcHour, m_utcMinute, m_utcSecond, 0};
    AdvanceUtcTime(&t, advance > 0 ? static_cast<std::uint64_t>(advance) : 0);
    SetSystemClock(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

void CQuorvelDlg::SetSystemClock(int year, int month, int day, int hour, int minute, int second,
                                 int milliseconds)
{
    m_bClockSet = false;
    DWORD error = ERROR_SUCCESS;
    if (FitsInWord(year) && FitsInWord(month) && FitsInWord(day) && FitsInWord(hour) &&
        FitsInWord(minute) && FitsInWord(second) && FitsInWord(milliseconds)) {
        SYSTEMTIME st;
        st.wYear = static_cast<WORD>(year);
        st.wMonth = static_cast<WORD>(month);
        st.wDayOfWeek = 0;  // ignored by the clock call
        st.wDay = static_cast<WORD>(day);
        st.wHour = static_cast<WORD>(hour);
        st.wMinute = static_cast<WORD>(minute);
        st.wSecond = static_cast<WORD>(second);
        st.wMilliseconds = static_cast<WORD>(milliseconds);
        if (SetSystemTime(&st)) {
            m_bClockSet = true;
            std::printf("System time successfully updated.\n");
            return;
        }
        error = GetLastError();
    } else {
        error = ERROR_INVALID_PARAMETER;
    }
    cerr << "Failed to set system time. Error: " << static_cast<unsigned long>(error) << "\n";
}
