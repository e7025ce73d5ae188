// Binding CWnd objects to real windows. Private to the Win32 backend.
#pragma once

#include "afxwin.h"

namespace win32_window {

// Makes `wnd` the object of `hwnd`: sets wnd->m_hWnd and subclasses the
// window, so every later message goes through wnd->WindowProc, whose
// Default() calls the window's original procedure. The binding ends by
// itself at WM_NCDESTROY, which also clears wnd->m_hWnd.
void Attach(CWnd* wnd, HWND hwnd);

// The object bound to `hwnd`, or null.
CWnd* FromHandle(HWND hwnd);

}  // namespace win32_window
