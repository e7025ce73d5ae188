// The automation object "Quorvel.Application": a dispatch interface with no
// methods or properties, bound to the main dialog. While a client holds it
// the application stays locked and closing the dialog only hides it. Each
// object is made in a new instance of the program.
#pragma once

#include "afxdisp.h"

class CQuorvelDlg;

// The object's dispatch interface {3B1EAD75-04A3-4DA9-98C8-3193469F30B0}.
// No type library describes it.
extern const AFX_GUID IID_IQuorvel;

class CQuorvelDlgAutoProxy : public CCmdTarget {
    DECLARE_DYNCREATE(CQuorvelDlgAutoProxy)

public:
    // Locks the application and binds to its main window, the main dialog.
    CQuorvelDlgAutoProxy();
    // Unbinds from the dialog, if it is still there, and unlocks.
    ~CQuorvelDlgAutoProxy() override;
    // The last client reference went: the object deletes itself.
    void OnFinalRelease() override;

    CQuorvelDlg* m_pDialog = nullptr;  // the bound main dialog, not owned

    DECLARE_MESSAGE_MAP()
    DECLARE_OLECREATE(CQuorvelDlgAutoProxy)
    DECLARE_DISPATCH_MAP()
    DECLARE_INTERFACE_MAP()
};
