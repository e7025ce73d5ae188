// CPaintDC and CPen over BeginPaint/EndPaint and GDI pens.

#include "afxwin.h"

namespace {

// What a CPaintDC keeps between its constructor and destructor.
struct PaintState {
    PAINTSTRUCT paint = {};
    // Stands for whatever pen was selected before: SelectObject returns it,
    // so that selecting it again restores that pen. It never owns the pen.
    CPen previous{PS_NULL, 0, 0};
};

}  // namespace

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_paint(new PaintState)
{
    m_hDC = ::BeginPaint(m_pWnd->m_hWnd, &static_cast<PaintState*>(m_paint)->paint);
}

CPaintDC::~CPaintDC()
{
    PaintState* state = static_cast<PaintState*>(m_paint);
    ::EndPaint(m_pWnd->m_hWnd, &state->paint);
    state->previous.m_hPen = nullptr;
    delete state;
}

CPen* CPaintDC::SelectObject(CPen* pen)
{
    PaintState* state = static_cast<PaintState*>(m_paint);
    const HGDIOBJ old = ::SelectObject(m_hDC, pen->m_hPen);
    if (pen == &state->previous)
        return pen;
    state->previous.m_hPen = static_cast<HPEN>(old);
    return &state->previous;
}

void CPaintDC::MoveTo(int x, int y)
{
    ::MoveToEx(m_hDC, x, y, nullptr);
}

void CPaintDC::LineTo(int x, int y)
{
    ::LineTo(m_hDC, x, y);
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon)
{
    return ::DrawIcon(m_hDC, x, y, icon);
}

// A PS_NULL pen is the stock null pen: nothing is created, and deleting it
// does nothing.
CPen::CPen(int style, int width, COLORREF color) : m_hPen(::CreatePen(style, width, color)) {}

CPen::~CPen()
{
    DeleteObject();
}

BOOL CPen::DeleteObject()
{
    if (m_hPen == nullptr)
        return FALSE;
    const BOOL deleted = ::DeleteObject(m_hPen);
    m_hPen = nullptr;
    return deleted;
}
