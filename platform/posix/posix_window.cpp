// CWnd and CMenu over the console port's windows: control texts (a change of
// a shown window is shown at once), messages, icons, the system menu and the
// default processing of the messages a dialog gets.

#include <deque>
#include <map>

#include "console_io.h"
#include "console_window.h"

namespace posix_window {

namespace {

std::map<HWND, CWnd*> g_windows;
std::deque<PostedMessage> g_posted;

}  // namespace

void Attach(CWnd* wnd, HWND hwnd)
{
    wnd->m_hWnd = hwnd;
    hwnd->wnd = wnd;
    g_windows[hwnd] = wnd;
}

void Detach(CWnd* wnd)
{
    if (wnd->m_hWnd != nullptr)
        g_windows.erase(wnd->m_hWnd);
    wnd->m_hWnd = nullptr;
}

CWnd* FromHandle(HWND hwnd)
{
    const auto it = g_windows.find(hwnd);
    return it != g_windows.end() ? it->second : nullptr;
}

void Post(const PostedMessage& message)
{
    g_posted.push_back(message);
}

bool TakePosted(PostedMessage* message)
{
    if (g_posted.empty())
        return false;
    *message = g_posted.front();
    g_posted.pop_front();
    return true;
}

}  // namespace posix_window

void CWnd::SetDlgItemText(int id, LPCTSTR text)
{
    if (m_hWnd == nullptr)
        return;
    for (posix_console::ControlView& control : m_hWnd->view.controls) {
        if (control.id != id)
            continue;
        const std::string newText = text != nullptr ? text : "";
        if (control.text == newText)
            return;
        control.text = newText;
        if (m_hWnd->shown && m_hWnd->visible) {
            const std::string row = posix_console::RenderRowOf(m_hWnd->view, id);
            if (!row.empty())
                posix_console::Current().Write(row);
        }
        return;
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return m_hWnd != nullptr ? WindowProc(message, wParam, lParam) : 0;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    posix_window::Post({m_hWnd, message, wParam, lParam});
    return TRUE;
}

BOOL CWnd::ShowWindow(int showCommand)
{
    if (m_hWnd == nullptr)
        return FALSE;
    const BOOL wasVisible = m_hWnd->visible ? TRUE : FALSE;
    m_hWnd->visible = showCommand != SW_HIDE;
    if (!m_hWnd->visible)
        m_hWnd->shown = false;
    return wasVisible;
}

BOOL CWnd::IsIconic() const
{
    return FALSE;  // a console dialog cannot be minimised
}

void CWnd::GetClientRect(RECT* rect) const
{
    *rect = RECT{0, 0, 0, 0};  // no pixels on a console
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    if (m_hWnd == nullptr)
        return nullptr;
    HICON& slot = bigIcon ? m_hWnd->bigIcon : m_hWnd->smallIcon;
    const HICON previous = slot;
    slot = icon;
    return previous;
}

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    if (m_hWnd == nullptr || !m_hWnd->view.hasSystemMenu)
        return nullptr;
    if (revert) {
        // Back to the menu the window started with: its Close item.
        auto& items = m_hWnd->view.systemMenu;
        items.erase(items.begin() + 1, items.end());
        return nullptr;
    }
    m_hWnd->menu.items = &m_hWnd->view.systemMenu;
    m_systemMenu.m_hMenu = &m_hWnd->menu;
    return &m_systemMenu;
}

void CWnd::WinHelp(DWORD_PTR /*data*/, UINT /*command*/)
{
    // The console port opens no help window, so there is none to close.
}

LRESULT CWnd::Default()
{
    if (m_hWnd == nullptr)
        return 0;
    switch (m_current.message) {
    case WM_CLOSE:
        // A dialog closes as if its Cancel button had been clicked.
        PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((m_current.wParam & 0xFFF0) == SC_CLOSE)
            return SendMessage(WM_CLOSE);
        return 0;
    default:
        return 0;
    }
}

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR idNewItem, LPCTSTR newItem)
{
    if (m_hMenu == nullptr || m_hMenu->items == nullptr)
        return FALSE;
    const bool separator = (flags & MF_SEPARATOR) != 0;
    m_hMenu->items->push_back({static_cast<UINT>(idNewItem),
                               separator || newItem == nullptr ? "" : newItem, separator});
    return TRUE;
}

UINT CMenu::CheckMenuItem(UINT id, UINT /*check*/)
{
    // The console's menu shows no ticks; it only knows whether the item is there.
    if (m_hMenu == nullptr || m_hMenu->items == nullptr)
        return static_cast<UINT>(-1);
    for (const posix_console::MenuItemView& item : *m_hMenu->items) {
        if (item.id == id)
            return MF_UNCHECKED;
    }
    return static_cast<UINT>(-1);
}
