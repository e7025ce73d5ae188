// The automation object "Quorvel.Application": a dispatch interface with no
// methods or properties, bound to the main dialog. While a client holds it
// the application stays locked and closing the dialog only hides it.
#pragma once

#include "afxwin.h"

class CQuorvelDlg;

class CQuorvelDlgAutoProxy : public CCmdTarget {
public:
    CQuorvelDlgAutoProxy();
    ~CQuorvelDlgAutoProxy() override;

    CQuorvelDlg* m_pDialog = nullptr;  // the bound main dialog, not owned
};
