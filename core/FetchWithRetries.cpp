// The retry schedule and the one-click read-and-set sequence.

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
