// The main dialog's window behaviour: initialisation, unattended mode, the
// system menu, painting and closing. The time operations are in core/.

#include "QuorvelDlg.h"

#include <cstdio>
#include <cstring>

#include "AboutDlg.h"
#include "ConsoleText.h"
#include "DlgProxy.h"
#include "TimeServer.h"
#include "logon_task.h"
#include "resource.h"

LPTSTR g_lpCmdLine = nullptr;

namespace {

// Size of the buffer for the first command-line word, NUL included.
constexpr int kCommandWordSize = 800;

// The first whitespace-delimited word of `commandLine`, cut to fit `word`.
void FirstWord(const char* commandLine, char (&word)[kCommandWordSize])
{
    word[0] = '\0';
    std::sscanf(commandLine, "%799s", word);
}

// The second word of `commandLine`, cut to fit `word`; empty when there is none.
void SecondWord(const char* commandLine, char (&word)[kCommandWordSize])
{
    word[0] = '\0';
    std::sscanf(commandLine, "%*s %799s", word);
}

// Exit statuses of an `auto` run, for the scheduler that started it.
constexpr WPARAM kExitClockSet = 0;
constexpr WPARAM kExitNoTime = 1;         // no attempt read a time
constexpr WPARAM kExitClockRefused = 2;   // a time was read; the clock call failed
// Exit statuses of `install` and `uninstall`.
constexpr WPARAM kExitTaskDone = 0;
constexpr WPARAM kExitTaskFailed = 1;

// The system menu's item for the logon task.
constexpr char kLogonTaskItem[] = "开机时自动校准时间";

}  // namespace

IMPLEMENT_DYNAMIC(CQuorvelDlg, CDialog)

// clang-format off
BEGIN_MESSAGE_MAP(CQuorvelDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_DESTROY()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_CLOSE()
    ON_BN_CLICKED(IDC_FETCH, CQuorvelDlg::FetchWithRetries)
    ON_BN_CLICKED(IDC_APPLY, CQuorvelDlg::ApplySystemTime)
    ON_BN_CLICKED(IDC_EXIT, CQuorvelDlg::OnExit)
    ON_BN_CLICKED(IDC_ABOUT, CQuorvelDlg::OnAbout)
    ON_BN_CLICKED(IDC_FETCH_AND_APPLY, CQuorvelDlg::FetchAndApply)
END_MESSAGE_MAP()
// clang-format on

CQuorvelDlg::CQuorvelDlg(CWnd* parent)
    : CDialog(IDD_MAIN, parent), m_networkWaitLeftMs(kNetworkWaitMs)
{
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

bool CQuorvelDlg::IsAutoCommandLine(LPCTSTR commandLine)
{
    if (commandLine == nullptr)
        return false;
    char word[kCommandWordSize];
    FirstWord(commandLine, word);
    return std::strncmp(word, "auto", 4) == 0;
}

BOOL CQuorvelDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    char word[kCommandWordSize] = "";
    if (g_lpCmdLine != nullptr)
        FirstWord(g_lpCmdLine, word);
    const bool install = std::strcmp(word, "install") == 0;
    const bool uninstall = std::strcmp(word, "uninstall") == 0;
    const bool autoRun = std::strncmp(word, "auto", 4) == 0;

    CMenu* sysMenu = GetSystemMenu(FALSE);
    if (sysMenu != nullptr) {
        CString aboutMenu;
        aboutMenu.LoadString(IDS_ABOUTBOX);
        if (!aboutMenu.IsEmpty()) {
            sysMenu->AppendMenu(MF_SEPARATOR);
            sysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
        }
        // A run that ends by itself needs no item, nor the time it takes to
        // ask Task Scheduler.
        if (!autoRun && !install && !uninstall && AfxGetLogonTaskState() != LogonTaskState::Unsupported) {
            sysMenu->AppendMenu(MF_STRING, IDM_LOGONTASK, kLogonTaskItem);
            ShowLogonTaskState();
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    AfxReopenStdoutOnConsole();
    SetDlgItemText(IDC_TIME_TEXT, "请点击按钮读取时间。");
    m_bFetched = 0;

    if (g_lpCmdLine != nullptr && g_lpCmdLine[0] != '\0') {
        std::printf("\r\ncmd=%s\r\n", word);
        if (install || uninstall)
            PostMessage(WM_QUIT, RunTaskCommand(install), 0);
        if (autoRun) {
            // The application has told the platform that this run is
            // unattended (IsAutoCommandLine). `auto precise` narrows the
            // time down before setting the clock.
            char mode[kCommandWordSize];
            SecondWord(g_lpCmdLine, mode);
            if (std::strcmp(mode, "precise") == 0)
                FetchRefineAndApply();
            else
                FetchAndApply();
            // The framework ends the program with this wParam as its exit code.
            PostMessage(WM_QUIT, AutoRunStatus(), 0);
        }
    }
    return TRUE;
}

WPARAM CQuorvelDlg::AutoRunStatus() const
{
    if (m_bFetched != 1)
        return kExitNoTime;
    return m_bClockSet ? kExitClockSet : kExitClockRefused;
}

WPARAM CQuorvelDlg::RunTaskCommand(bool install)
{
    std::string report;
    const BOOL done = install ? AfxInstallLogonTask(&report) : AfxUninstallLogonTask(&report);
    cout << report.c_str() << endl;
    return done ? kExitTaskDone : kExitTaskFailed;
}

void CQuorvelDlg::ToggleLogonTask()
{
    std::string report;
    const BOOL done = AfxGetLogonTaskState() == LogonTaskState::Present ? AfxUninstallLogonTask(&report)
                                                                        : AfxInstallLogonTask(&report);
    cout << report.c_str() << endl;
    if (!done)
        AfxMessageBox(report.c_str(), MB_OK, 0);
    ShowLogonTaskState();
}

void CQuorvelDlg::ShowLogonTaskState()
{
    CMenu* sysMenu = GetSystemMenu(FALSE);
    if (sysMenu != nullptr)
        sysMenu->CheckMenuItem(IDM_LOGONTASK, AfxGetLogonTaskState() == LogonTaskState::Present
                                                  ? MF_CHECKED
                                                  : MF_UNCHECKED);
}

void CQuorvelDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else if ((id & 0xFFF0) == IDM_LOGONTASK) {
        ToggleLogonTask();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CQuorvelDlg::OnDestroy()
{
    WinHelp(0L, HELP_QUIT);
    CDialog::OnDestroy();
}

void CQuorvelDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - cxIcon + 1) / 2;
        const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
        return;
    }

    // Row 200 at 96 DPI. The controls scale with the DPI, so the line and
    // its pen do too, to keep its place among them.
    CPaintDC dc(this);
    CPen pen(PS_SOLID, ScaleForDpi(1), RGB(0, 0, 255));
    CPen* oldPen = dc.SelectObject(&pen);
    const int row = ScaleForDpi(200);
    dc.MoveTo(0, row);
    dc.LineTo(GetSystemMetrics(SM_CXSCREEN), row);
    dc.SelectObject(oldPen);
    CDialog::OnPaint();
    pen.DeleteObject();
}

HCURSOR CQuorvelDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

BOOL CQuorvelDlg::CanExit()
{
    if (m_pAutoProxy != nullptr) {
        ShowWindow(SW_HIDE);
        return FALSE;
    }
    return TRUE;
}

void CQuorvelDlg::OnClose()
{
    if (CanExit())
        CDialog::OnClose();
}

void CQuorvelDlg::OnOK()
{
    if (CanExit())
        CDialog::OnOK();
}

void CQuorvelDlg::OnCancel()
{
    if (CanExit())
        CDialog::OnCancel();
}

void CQuorvelDlg::OnExit()
{
    OnOK();
}

void CQuorvelDlg::OnAbout()
{
    CAboutDlg about;
    about.DoModal();
}

CQuorvelDlg::~CQuorvelDlg()
{
    // The proxy may outlive the dialog; it must not point at it any more.
    if (m_pAutoProxy != nullptr)
        m_pAutoProxy->m_pDialog = nullptr;
}
