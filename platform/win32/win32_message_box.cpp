// AfxMessageBox: a real modal message box, captioned with the application's
// name, over the application's main window.

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

}  // namespace

int AfxMessageBox(LPCTSTR text, UINT type, UINT /*idHelp*/)
{
    const std::wstring wide = win32_text::Widen(text);
    return MessageBoxW(OwnerWindow(), wide.c_str(), win32_module::AppName(), WithDefaultIcon(type));
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT idHelp)
{
    CString text;
    text.LoadString(idPrompt);
    return AfxMessageBox(text, type, idHelp);
}
