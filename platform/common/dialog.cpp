// The backend-independent part of CDialog: its command map and default
// handlers.

#include "afxwin.h"

// clang-format off
BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_WM_DPICHANGED()
    ON_COMMAND(IDOK, CDialog::OnOK)
    ON_COMMAND(IDCANCEL, CDialog::OnCancel)
END_MESSAGE_MAP()
// clang-format on

CDialog::CDialog(UINT idTemplate, CWnd* parent)
    : m_nIDTemplate(idTemplate), m_pParentWnd(parent)
{
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
