// Lifetime of the automation object and its binding to the main dialog.

#include "DlgProxy.h"

#include "QuorvelDlg.h"
#include "afxdisp.h"

CQuorvelDlgAutoProxy::CQuorvelDlgAutoProxy()
{
    AfxOleLockApp();
    // The application's main window is the main dialog while it runs.
    m_pDialog = static_cast<CQuorvelDlg*>(AfxGetApp()->m_pMainWnd);
    if (m_pDialog != nullptr)
        m_pDialog->m_pAutoProxy = this;
}

CQuorvelDlgAutoProxy::~CQuorvelDlgAutoProxy()
{
    if (m_pDialog != nullptr)
        m_pDialog->m_pAutoProxy = nullptr;
    AfxOleUnlockApp();
}
