// CDialog::DoModal over a dialog created from its resource template, run by
// the framework's own modal loop (as MFC's RunModalLoop does) rather than by
// DialogBox, so that every message of the dialog passes through its message
// map and WM_QUIT can end the loop.

#include "afxwin.h"
#include "win32_module.h"
#include "win32_window.h"

namespace {

// One running modal loop. Loops nest: a dialog opened from a handler of
// another runs its loop inside the other's.
struct ModalLoop {
    CDialog* dialog;
    bool running;
    INT_PTR result;
    ModalLoop* outer;
    HFONT chineseFont;  // the controls' font made by UseChineseFont, or null
};

thread_local ModalLoop* t_innermostLoop = nullptr;
// The dialog whose window CreateDialogParamW is making; bound to the window
// at the first message that reaches the dialog procedure.
thread_local CDialog* t_dialogBeingCreated = nullptr;

ModalLoop* FindLoop(const CDialog* dialog)
{
    for (ModalLoop* loop = t_innermostLoop; loop != nullptr; loop = loop->outer) {
        if (loop->dialog == dialog)
            return loop;
    }
    return nullptr;
}

// The window that owns a modal dialog: the given parent, else the
// application's main window; its top-level window, as MFC's GetSafeOwner
// chooses it. Null when there is none.
HWND OwnerWindow(const CWnd* parent, const CDialog* dialog)
{
    const CWnd* candidate = parent;
    if (candidate == nullptr && AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd != dialog)
        candidate = AfxGetApp()->m_pMainWnd;
    const HWND hwnd = candidate != nullptr ? candidate->m_hWnd : nullptr;
    if (hwnd == nullptr || !IsWindow(hwnd))
        return nullptr;
    return GetAncestor(hwnd, GA_ROOT);
}

// Centres the dialog over its owner, or over the work area of its monitor
// when it has none or the owner is hidden.
void CenterWindow(HWND hwnd)
{
    RECT window;
    GetWindowRect(hwnd, &window);
    RECT area;
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = (area.left + area.right - width) / 2;
    const int y = (area.top + area.bottom - height) / 2;
    SetWindowPos(hwnd, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK SetControlFont(HWND control, LPARAM font)
{
    SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

// The templates name their face (宋体) with no character set, and a dialog
// font is created with DEFAULT_CHARSET: under a system code page other than
// 936 that maps to a font without Chinese glyphs, and every Chinese text of
// the controls shows as boxes. The same face and size with GB2312_CHARSET
// maps to a Chinese font on any code page; the controls get that one.
// Returns the font made (the caller deletes it once the dialog is
// destroyed), or null when the dialog's font names a character set.
HFONT UseChineseFont(HWND hwnd)
{
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    LOGFONTW description;
    if (font == nullptr || GetObjectW(font, sizeof description, &description) != sizeof description ||
        description.lfCharSet != DEFAULT_CHARSET)
        return nullptr;
    description.lfCharSet = GB2312_CHARSET;
    const HFONT chinese = CreateFontIndirectW(&description);
    if (chinese != nullptr)
        EnumChildWindows(hwnd, &SetControlFont, reinterpret_cast<LPARAM>(chinese));
    return chinese;
}

// Runs OnInitDialog. Like MFC, centres a dialog that initialisation left
// hidden and unmoved, when it has no owner or its owner is disabled.
INT_PTR InitDialog(CDialog* dialog, HWND hwnd)
{
    ModalLoop* loop = FindLoop(dialog);
    if (loop != nullptr && loop->chineseFont == nullptr)
        loop->chineseFont = UseChineseFont(hwnd);
    RECT before;
    GetWindowRect(hwnd, &before);
    const INT_PTR result = dialog->OnInitDialog();
    RECT after;
    if (!IsWindow(hwnd) || !GetWindowRect(hwnd, &after))
        return result;
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    if ((style & (WS_VISIBLE | WS_CHILD)) == 0 && before.left == after.left &&
        before.top == after.top && (owner == nullptr || !IsWindowEnabled(owner)))
        CenterWindow(hwnd);
    return result;
}

// The dialog procedure. Every message already went through the dialog's
// message map (the window is subclassed); this only binds the window to its
// object and delivers WM_INITDIALOG to the virtual OnInitDialog. FALSE lets
// the system's dialog procedure do the rest.
INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    if (t_dialogBeingCreated != nullptr && win32_window::FromHandle(hwnd) == nullptr) {
        CDialog* dialog = t_dialogBeingCreated;
        t_dialogBeingCreated = nullptr;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        win32_window::Attach(dialog, hwnd);
    }
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return dialog != nullptr ? InitDialog(dialog, hwnd) : TRUE;
}

// Dispatches messages until the dialog ends or WM_QUIT arrives. A WM_QUIT
// is posted again, so that every enclosing loop ends too. Shows a dialog
// that is still hidden once its first messages are handled.
void RunModalLoop(HWND hwnd, ModalLoop& loop)
{
    bool shown = IsWindowVisible(hwnd) != FALSE;
    MSG msg;
    while (loop.running) {
        if (!shown && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            ShowWindow(hwnd, SW_SHOWNORMAL);
            UpdateWindow(hwnd);
            shown = true;
        }
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            if (CWinApp* app = AfxGetApp())
                app->m_quitWParam = msg.wParam;
            PostQuitMessage(static_cast<int>(msg.wParam));
            loop.result = -1;
            return;
        }
        if (got < 0)
            return;
        if (!IsDialogMessageW(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace

INT_PTR CDialog::DoModal()
{
    const HWND owner = OwnerWindow(m_pParentWnd, this);
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner)
        EnableWindow(owner, FALSE);

    ModalLoop loop = {this, true, -1, t_innermostLoop, nullptr};
    t_innermostLoop = &loop;
    t_dialogBeingCreated = this;
    const HWND hwnd = CreateDialogParamW(win32_module::ResourceInstance(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                         &DialogProcedure, reinterpret_cast<LPARAM>(this));
    t_dialogBeingCreated = nullptr;
    if (hwnd != nullptr && loop.running)
        RunModalLoop(hwnd, loop);
    t_innermostLoop = loop.outer;

    // Hide before the owner comes back, so that activation returns to it.
    if (m_hWnd != nullptr)
        SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    if (disableOwner)
        EnableWindow(owner, TRUE);
    if (owner != nullptr && GetActiveWindow() == m_hWnd)
        SetActiveWindow(owner);
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
    if (loop.chineseFont != nullptr)
        DeleteObject(loop.chineseFont);
    return hwnd != nullptr ? loop.result : -1;
}

void CDialog::EndDialog(int result)
{
    ModalLoop* loop = FindLoop(this);
    if (loop != nullptr) {
        loop->running = false;
        loop->result = result;
        // Wakes the loop if it is waiting for a message.
        if (m_hWnd != nullptr)
            PostMessageW(m_hWnd, WM_NULL, 0, 0);
    } else if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, result);
    }
}
