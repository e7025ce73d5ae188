// The About box: product line, credit, contact details and contact link.
#pragma once

#include "afxwin.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

    BOOL OnInitDialog() override;

protected:
    void OnCancelMode();
    void OnContact();

    DECLARE_MESSAGE_MAP()
};

// The maker's contact link, opened through the shell.
extern const char kAboutContactLink[];
// The text of the credit box: three lines joined by CR LF.
extern const char kAboutText[];
