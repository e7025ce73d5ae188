// CWnd over a real window: the subclassing window procedure that feeds the
// message maps, default processing, and the window calls of the layer.

#include "win32_window.h"

#include "win32_dpi.h"
#include "win32_text.h"

namespace {

// Window properties that hold the binding: the CWnd, and the procedure the
// window had before it was subclassed.
constexpr wchar_t kObjectProperty[] = L"Quorvel.CWnd";
constexpr wchar_t kProcedureProperty[] = L"Quorvel.WndProc";

WNDPROC OriginalProcedure(HWND hwnd)
{
    return reinterpret_cast<WNDPROC>(GetPropW(hwnd, kProcedureProperty));
}

LRESULT CallOriginal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WNDPROC original = OriginalProcedure(hwnd);
    return original != nullptr ? CallWindowProcW(original, hwnd, message, wParam, lParam)
                               : DefWindowProcW(hwnd, message, wParam, lParam);
}

void Detach(CWnd* wnd, HWND hwnd)
{
    const WNDPROC original = OriginalProcedure(hwnd);
    if (original != nullptr)
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(hwnd, kObjectProperty);
    RemovePropW(hwnd, kProcedureProperty);
    win32_dpi::ReleasePicture(hwnd);
    wnd->m_hWnd = nullptr;
}

LRESULT CALLBACK SubclassProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = win32_window::FromHandle(hwnd);
    if (wnd == nullptr)
        return CallOriginal(hwnd, message, wParam, lParam);
    const LRESULT result = wnd->WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        Detach(wnd, hwnd);
    return result;
}

}  // namespace

namespace win32_window {

void Attach(CWnd* wnd, HWND hwnd)
{
    wnd->m_hWnd = hwnd;
    SetPropW(hwnd, kObjectProperty, wnd);
    const LONG_PTR original =
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProcedure));
    SetPropW(hwnd, kProcedureProperty, reinterpret_cast<HANDLE>(original));
}

CWnd* FromHandle(HWND hwnd)
{
    return hwnd != nullptr ? static_cast<CWnd*>(GetPropW(hwnd, kObjectProperty)) : nullptr;
}

}  // namespace win32_window

LRESULT CWnd::Default()
{
    if (m_hWnd == nullptr)
        return 0;
    return CallOriginal(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::SetDlgItemText(int id, LPCTSTR text)
{
    // The wide call shows the code page 936 text on any system code page.
    if (m_hWnd != nullptr)
        SetDlgItemTextW(m_hWnd, id, win32_text::Widen(text).c_str());
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ShowWindow(int showCommand)
{
    return ::ShowWindow(m_hWnd, showCommand);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(RECT* rect) const
{
    ::GetClientRect(m_hWnd, rect);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(::SendMessageW(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                  reinterpret_cast<LPARAM>(icon)));
}

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    const HMENU menu = ::GetSystemMenu(m_hWnd, revert);
    if (menu == nullptr)
        return nullptr;
    m_systemMenu.m_hMenu = menu;
    return &m_systemMenu;
}

void CWnd::WinHelp(DWORD_PTR /*data*/, UINT /*command*/)
{
    // The program has no help file and never opens a help window, so there
    // is none to close.
}
