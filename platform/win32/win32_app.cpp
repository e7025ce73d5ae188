// Application services of the framework that need no work on this backend.

#include "afxwin.h"

void AfxEnableControlContainer()
{
    // The program's dialogs hold no ActiveX controls, so there is no
    // control container to set up.
}
