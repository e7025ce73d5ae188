// Application services with nothing to do on a console.

#include "afxwin.h"

void AfxEnableControlContainer()
{
    // No ActiveX controls on Linux.
}

void AfxReopenStdoutOnConsole()
{
    // Standard output already goes wherever the user sent it: the terminal,
    // a pipe, a file or the journal. Reopening it would lose a redirection.
}
