// The application object.
#pragma once

#include "afxwin.h"

class CQuorvelApp : public CWinApp {
public:
    CQuorvelApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
