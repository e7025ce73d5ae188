// The windows of the console port: what a window handle points to, the
// windows that exist, and the thread's queue of posted messages.
#pragma once

#include "afxwin.h"
#include "console_view.h"

// A system menu: its items, shown by the console dialog as choices.
struct HMENU__ {
    std::vector<posix_console::MenuItemView>* items;
};

// A window of the console port: a dialog made from its template.
struct HWND__ {
    CWnd* wnd;
    posix_console::DialogView view;
    HMENU__ menu;
    bool visible;  // false after ShowWindow(SW_HIDE)
    bool shown;    // the console has shown it since it became visible
    HICON bigIcon;
    HICON smallIcon;
};

namespace posix_window {

// Makes `hwnd` the window of `wnd` until Detach.
void Attach(CWnd* wnd, HWND hwnd);
void Detach(CWnd* wnd);
// The object of a window that exists, or null.
CWnd* FromHandle(HWND hwnd);

struct PostedMessage {
    HWND hwnd;  // may be null: a message to the thread, such as WM_QUIT
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
void Post(const PostedMessage& message);
// Takes the oldest posted message; false when there is none.
bool TakePosted(PostedMessage* message);

}  // namespace posix_window
