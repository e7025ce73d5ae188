// The retry schedule, with the wait for a network that is not up yet in an
// unattended run, the one-click read-and-set sequence, and the same with the
// time narrowed down before it is set.

#include <memory>
#include <string>

#include "ConsoleText.h"
#include "QuorvelDlg.h"
#include "TimeServer.h"

namespace {

// Pauses in milliseconds before the second to fifth attempts.
constexpr DWORD kRetryPausesMs[] = {500, 1000, 1000, 1000};

}  // namespace

void CQuorvelDlg::FetchWithRetries()
{
    // In an unattended run each attempt is watched from before it starts, so
    // that a network that comes up while it fails, or while its message box
    // is open, ends the wait after it at once.
    std::unique_ptr<CNetworkWatch> watch;
    const auto attempt = [this, &watch] {
        watch.reset(AfxIsUnattended() && m_networkWaitLeftMs > 0 ? new CNetworkWatch : nullptr);
        FetchInternetTime();
    };
    attempt();
    for (DWORD pause : kRetryPausesMs) {
        if (m_bFetched == 1)
            return;
        if (watch)
            WaitForNetwork(*watch);
        Sleep(pause);
        attempt();
    }
}

void CQuorvelDlg::WaitForNetwork(CNetworkWatch& watch)
{
    const bool noName = m_connectFailure == ConnectFailure::NoName;
    if ((!noName && m_connectFailure != ConnectFailure::Unreachable) || m_networkWaitLeftMs == 0)
        return;
    const std::string host =
        m_route.choice == ProxyChoice::Proxy ? m_route.proxy.host : std::string(TimeServerHost);
    const std::string why = noName ? host + " does not resolve" : "no route to " + host;
    const std::string seconds = std::to_string((m_networkWaitLeftMs + 999) / 1000);
    cout << ("No network yet (" + why + "): waiting up to " + seconds + " s for it to come up.").c_str() << endl;
    const ULONGLONG startMs = AfxGetTickMilliseconds();
    watch.WaitForChange(static_cast<UINT>(m_networkWaitLeftMs));
    const ULONGLONG spentMs = AfxGetTickMilliseconds() - startMs;
    m_networkWaitLeftMs = spentMs < m_networkWaitLeftMs ? m_networkWaitLeftMs - spentMs : 0;
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
