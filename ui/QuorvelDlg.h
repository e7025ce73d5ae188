// The main dialog: the home of the time state and of the operations that read
// the Internet time and set the system clock.
#pragma once

#include "TimeExchange.h"
#include "afxwin.h"

class CQuorvelDlgAutoProxy;

// Command-line tail of the process, set by the application before the main
// dialog is created.
extern LPTSTR g_lpCmdLine;

class CQuorvelDlg : public CDialog {
    DECLARE_DYNAMIC(CQuorvelDlg)

public:
    explicit CQuorvelDlg(CWnd* parent = nullptr);
    ~CQuorvelDlg() override;

    // Time state. The local (UTC+8) and the UTC fields of the last
    // successful attempt: year, month 1-12, day, hour, minute, second.
    int m_localYear = 0;
    int m_localMonth = 0;
    int m_localDay = 0;
    int m_localHour = 0;
    int m_localMinute = 0;
    int m_localSecond = 0;
    int m_utcYear = 0;
    int m_utcMonth = 0;
    int m_utcDay = 0;
    int m_utcHour = 0;
    int m_utcMinute = 0;
    int m_utcSecond = 0;
    int m_bFetched = 0;  // 1 if the latest attempt succeeded, else 0

    CQuorvelDlgAutoProxy* m_pAutoProxy = nullptr;  // bound proxy, not owned
    HICON m_hIcon = nullptr;

    // One attempt to read the time from the web server. Fills the time
    // state and the status text on success; sets m_bFetched.
    void FetchInternetTime();
    // Adds `offsetHours` (-12 to +14) to a calendar time, carrying across
    // days, months and years. Returns 0, or -1 for an offset or month out
    // of range, in which case nothing is written.
    int AdjustTimeZone(int offsetHours, int year, int month, int day, int hour, int minute,
                       int second, int* outYear, int* outMonth, int* outDay, int* outHour,
                       int* outMinute, int* outSecond);
    // Up to five attempts of FetchInternetTime until one succeeds.
    void FetchWithRetries();
    // Writes the stored UTC time, advanced to the moment of the write, into
    // the system clock.
    void ApplySystemTime();
    // Sets the system clock from UTC fields and reports the outcome.
    void SetSystemClock(int year, int month, int day, int hour, int minute, int second,
                        int milliseconds = 0);
    // FetchWithRetries, then ApplySystemTime if it succeeded.
    void FetchAndApply();
    // Narrows the time of the last successful read down to a few
    // milliseconds with up to seven more requests, each sent at a chosen
    // instant on a new connection, then four that check the range, and keeps
    // the result for ApplySystemTime. Keeps the one-request estimate, and
    // says why, when the Date came from a cache, a reply contradicts the
    // others or misses the range, or a request fails.
    void RefineInternetTime();
    // FetchWithRetries; if it succeeded, RefineInternetTime and then
    // ApplySystemTime, at the start of a millisecond of the tick. What
    // `auto precise` runs.
    void FetchRefineAndApply();

    // Whether a command line's first word asks for the unattended run: it
    // begins with "auto".
    static bool IsAutoCommandLine(LPCTSTR commandLine);

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    BOOL CanExit();

protected:
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnDestroy();
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnClose();
    void OnExit();
    void OnAbout();

    DECLARE_MESSAGE_MAP()

private:
    // The exit status of an `auto` run after FetchAndApply: 0 the clock was
    // set, 1 no attempt read a time, 2 a time was read but the clock
    // refused it.
    WPARAM AutoRunStatus() const;
    // `install` and `uninstall`: registers or removes the logon task, prints
    // what was done and returns the exit status, 0 or 1.
    WPARAM RunTaskCommand(bool install);
    // The system menu's item: adds the logon task when there is none,
    // removes it when there is, and ticks the item while it exists.
    void ToggleLogonTask();
    void ShowLogonTaskState();
    // In an unattended run, after an attempt that found no network (the
    // name did not resolve, or no route led to the server): waits until
    // `watch` sees the addresses or routes change, for what is left of
    // kNetworkWaitMs, and says so on the console.
    void WaitForNetwork(CNetworkWatch& watch);

    // True once an attempt has succeeded, so the UTC fields hold a real time.
    bool m_bHaveTime = false;
    // Whether the latest SetSystemClock set the clock.
    bool m_bClockSet = false;
    // AfxGetTickMilliseconds when the last success sent its request, and
    // when the first bytes of its answer arrived.
    ULONGLONG m_requestTick = 0;
    ULONGLONG m_answerTick = 0;
    // AfxGetTickMilliseconds at the moment the server most likely stamped the Date
    // of the last success: halfway between sending the request and the
    // first bytes of the answer, in milliseconds.
    ULONGLONG m_dateTick = 0;
    // How many milliseconds past the stored second the server's clock most
    // likely showed at m_dateTick: half a second after one read, narrowed by
    // RefineInternetTime (slightly outside 0 to 999 when the round trip
    // leaves it there).
    int m_dateMilliseconds = 500;
    // The Age field of that response (seconds a cache had held it), or 0.
    int m_ageSeconds = 0;
    // Whether that response had an Age field at all, well-formed or not: its
    // Date is then a cache's copy and does not tick with a clock.
    bool m_bDateFromCache = false;
    // How the latest attempt reached the time server (directly or through a
    // proxy); the requests that narrow its time down go the same way.
    TimeServerRoute m_route;
    // Why the latest attempt could not connect; None when it did, or made
    // no connection.
    ConnectFailure m_connectFailure = ConnectFailure::None;
    // Milliseconds of waiting for the network that this run has left.
    ULONGLONG m_networkWaitLeftMs;
};
