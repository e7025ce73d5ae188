// The retry schedule, the one-click read-and-set sequence, and the same with
// the time narrowed down before it is set.

#include "QuorvelDlg.h"

namespace {

// Pauses in milliseconds before the second to fifth attempts.
constexpr DWORD kRetryPausesMs[] = {500, 1000, 1000, 1000};

}  // namespace

void CQuorvelDlg::FetchWithRetries()
{
    FetchInternetTime();
    for (DWORD pause : kRetryPausesMs) {
        if (m_bFetched == 1)
            return;
        Sleep(pause);
        FetchInternetTime();
    }
}

void CQuorvelDlg::FetchAndApply()
{
    FetchWithRetries();
    if (m_bFetched == 1)
        ApplySystemTime();
}

void CQuorvelDlg::FetchRefineAndApply()
{
    FetchWithRetries();
    if (m_bFetched != 1)
        return;
    RefineInternetTime();
    // Carried forward from the very start of a millisecond of the tick, the
    // time written is not late by the part of one that had already passed.
    AfxWaitUntilTick(AfxGetTickMilliseconds() + 1);
    ApplySystemTime();
}
