// The automation object, its class factory, and its binding to the main
// dialog.

#include "DlgProxy.h"

#include "QuorvelDlg.h"

const AFX_GUID IID_IQuorvel = {0x3B1EAD75, 0x04A3, 0x4DA9, {0x98, 0xC8, 0x31, 0x93, 0x46, 0x9F, 0x30, 0xB0}};

IMPLEMENT_DYNCREATE(CQuorvelDlgAutoProxy, CCmdTarget)

// clang-format off
BEGIN_MESSAGE_MAP(CQuorvelDlgAutoProxy, CCmdTarget)
END_MESSAGE_MAP()

BEGIN_DISPATCH_MAP(CQuorvelDlgAutoProxy, CCmdTarget)
END_DISPATCH_MAP()

BEGIN_INTERFACE_MAP(CQuorvelDlgAutoProxy, CCmdTarget)
    INTERFACE_PART(CQuorvelDlgAutoProxy, IID_IQuorvel, Dispatch)
END_INTERFACE_MAP()

// {4570FEBA-3251-4983-A038-75EB8DC24F9D}; every object in a new instance.
IMPLEMENT_OLECREATE2(CQuorvelDlgAutoProxy, "Quorvel.Application",
    0x4570FEBA, 0x3251, 0x4983, 0xA0, 0x38, 0x75, 0xEB, 0x8D, 0xC2, 0x4F, 0x9D)
// clang-format on

CQuorvelDlgAutoProxy::CQuorvelDlgAutoProxy()
{
    EnableAutomation();
    AfxOleLockApp();
    // The application's main window is the main dialog while it runs; the
    // class factory makes no object when there is none.
    m_pDialog = dynamic_cast<CQuorvelDlg*>(AfxGetApp() != nullptr ? AfxGetApp()->m_pMainWnd : nullptr);
    if (m_pDialog != nullptr)
        m_pDialog->m_pAutoProxy = this;
}

CQuorvelDlgAutoProxy::~CQuorvelDlgAutoProxy()
{
    if (m_pDialog != nullptr)
        m_pDialog->m_pAutoProxy = nullptr;
    AfxOleUnlockApp();
}

void CQuorvelDlgAutoProxy::OnFinalRelease()
{
    CCmdTarget::OnFinalRelease();
}
