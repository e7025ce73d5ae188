// Painting on a console: there is nothing to draw on, so paint contexts and
// pens only keep the state the drawing code reads back, and there is no
// display scaling: 96 DPI, pictures as they are.

#include "afxwin.h"

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_paint(nullptr) {}

CPaintDC::~CPaintDC() = default;

CPen* CPaintDC::SelectObject(CPen* pen)
{
    CPen* previous = static_cast<CPen*>(m_paint);
    m_paint = pen;
    return previous;
}

void CPaintDC::MoveTo(int /*x*/, int /*y*/) {}

void CPaintDC::LineTo(int /*x*/, int /*y*/) {}

BOOL CPaintDC::DrawIcon(int /*x*/, int /*y*/, HICON /*icon*/)
{
    return TRUE;
}

CPen::CPen(int /*style*/, int /*width*/, COLORREF /*color*/) {}

CPen::~CPen() = default;

BOOL CPen::DeleteObject()
{
    return TRUE;
}

UINT CWnd::GetDpi() const
{
    return 96;
}

void CDialog::FitPicture(UINT /*idBitmap*/, const RECT& /*frame*/) {}

void CDialog::OnDpiChanged(UINT /*dpi*/, LPARAM /*suggestedRect*/)
{
    Default();
}
