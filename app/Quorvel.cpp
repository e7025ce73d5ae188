// Application start-up: the platform services, automation registration and
// the modal main dialog. When the dialog ends, the program ends.

#include "Quorvel.h"

#include "QuorvelDlg.h"
#include "afxdisp.h"
#include "afxsock.h"
#include "resource.h"

// clang-format off
BEGIN_MESSAGE_MAP(CQuorvelApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()
// clang-format on

CQuorvelApp::CQuorvelApp() = default;

CQuorvelApp theApp;

BOOL CQuorvelApp::InitInstance()
{
    // No message box of an unattended run waits for a person, not even one
    // of these start-up failures.
    if (CQuorvelDlg::IsAutoCommandLine(m_lpCmdLine))
        AfxSetUnattended(TRUE);
    if (!AfxSocketInit()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED, MB_OK, static_cast<UINT>(-1));
        return FALSE;
    }
    if (!AfxOleInit()) {
        AfxMessageBox(IDP_OLE_INIT_FAILED, MB_OK, static_cast<UINT>(-1));
        return FALSE;
    }
    AfxEnableControlContainer();
    g_lpCmdLine = m_lpCmdLine;
    Enable3dControls();

    if (RunEmbedded() || RunAutomated())
        COleObjectFactory::RegisterAll();
    else
        COleObjectFactory::UpdateRegistryAll(TRUE);

    CQuorvelDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    // The dialog object goes with this scope: automation must not find it
    // as the main window any more.
    m_pMainWnd = nullptr;
    return FALSE;
}
