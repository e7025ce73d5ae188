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

// Delivers the messages other threads and processes have sent to this
// thread, and dispatches WM_PAINT to each of its windows that needs
// painting, once each; takes nothing else off the queue. Returns whether a
// paint is still pending afterwards. What every wait of a blocking call on
// the window's thread does while it waits (win32_socket.cpp).
bool AnswerSentAndPaint();

}  // namespace win32_window
