// Message-map dispatch, shared by every backend.

#include "afxwin.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, entries};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

bool CCmdTarget::DispatchFromMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage == message && e->nCode == code && e->nID == id) {
                *result = e->pfn(this, wParam, lParam);
                return true;
            }
        }
    }
    return false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const CurrentMessage saved = m_current;
    m_current = {message, wParam, lParam};
    LRESULT result = 0;
    bool handled = DispatchFromMap(message, wParam, lParam, &result);
    // Commands the window does not handle go on to the application object.
    if (!handled && message == WM_COMMAND && AfxGetApp() != nullptr)
        handled = AfxGetApp()->DispatchFromMap(message, wParam, lParam, &result);
    if (!handled)
        result = Default();
    m_current = saved;
    return result;
}
