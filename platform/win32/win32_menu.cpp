// CMenu over a real menu handle.

#include "afxwin.h"
#include "win32_text.h"

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR idNewItem, LPCTSTR newItem)
{
    if (m_hMenu == nullptr)
        return FALSE;
    // Only a string item carries text; MF_SEPARATOR, MF_BITMAP and
    // MF_OWNERDRAW items pass the last argument through unchanged.
    if ((flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) != 0)
        return ::AppendMenuW(m_hMenu, flags, idNewItem, reinterpret_cast<LPCWSTR>(newItem));
    const std::wstring text = win32_text::Widen(newItem);
    return ::AppendMenuW(m_hMenu, flags, idNewItem, text.c_str());
}

UINT CMenu::CheckMenuItem(UINT id, UINT check)
{
    if (m_hMenu == nullptr)
        return static_cast<UINT>(-1);
    return static_cast<UINT>(::CheckMenuItem(m_hMenu, id, MF_BYCOMMAND | check));
}
