// AfxMessageBox: a real modal message box, captioned with the application's
// name, over the application's main window. In an unattended run a thread
// timer, which the box's own modal loop dispatches, presses its OK button
// after kUnattendedMessageBoxMs: the box is still shown, but nobody need be
// there to close it.

#include "afxwin.h"
#include "win32_module.h"
#include "win32_text.h"

namespace {

// The window the box belongs to: the main window's most recently active
// popup (an open About box, say), else the active window; may be null.
HWND OwnerWindow()
{
    const CWinApp* app = AfxGetApp();
    const CWnd* main = app != nullptr ? app->m_pMainWnd : nullptr;
    if (main != nullptr && main->m_hWnd != nullptr && IsWindow(main->m_hWnd))
        return GetLastActivePopup(GetAncestor(main->m_hWnd, GA_ROOT));
    return GetActiveWindow();
}

// Adds the icon MFC adds when the caller gives none: an exclamation mark for
// OK and OK/Cancel boxes, a question mark for Yes/No boxes.
UINT WithDefaultIcon(UINT type)
{
    if ((type & MB_ICONMASK) != 0)
        return type;
    switch (type & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
        return type | MB_ICONEXCLAMATION;
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return type | MB_ICONQUESTION;
    default:
        return type;
    }
}

// The owner of the box the unattended timer is to close, for the timer
// procedure, which gets no argument of its own.
thread_local HWND t_boxOwner = nullptr;

struct BoxSearch {
    HWND owner;
    HWND box;
};

// A message box is a dialog (#32770) of this thread that its owner's
// MessageBox made: owned by that window, and enabled while the owner is
// disabled under it.
BOOL CALLBACK FindBox(HWND hwnd, LPARAM param)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    wchar_t name[16] = L"";
    GetClassNameW(hwnd, name, 16);
    if (lstrcmpW(name, L"#32770") != 0 || GetWindow(hwnd, GW_OWNER) != search->owner ||
        !IsWindowEnabled(hwnd))
        return TRUE;
    search->box = hwnd;
    return FALSE;
}

// Presses OK on the box, as a click on its button would.
void CALLBACK CloseUnattendedBox(HWND /*hwnd*/, UINT /*message*/, UINT_PTR /*id*/, DWORD /*time*/)
{
    BoxSearch search = {t_boxOwner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box != nullptr)
        PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDOK)));
}

}  // namespace

int AfxMessageBox(LPCTSTR text, UINT type, UINT /*idHelp*/)
{
    const std::wstring wide = win32_text::Widen(text);
    const HWND owner = OwnerWindow();
    UINT_PTR timer = 0;
    if (AfxIsUnattended()) {
        t_boxOwner = owner;
        timer = SetTimer(nullptr, 0, kUnattendedMessageBoxMs, &CloseUnattendedBox);
    }
    const int result = MessageBoxW(owner, wide.c_str(), win32_module::AppName(), WithDefaultIcon(type));
    if (timer != 0)
        KillTimer(nullptr, timer);
    return result;
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT idHelp)
{
    CString text;
    text.LoadString(idPrompt);
    return AfxMessageBox(text, type, idHelp);
}
