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

bool AfxConsoleReadsUtf8()
{
    // Terminals and the journal read UTF-8 on every system this port runs
    // on; the program's own texts are UTF-8 here too.
    return true;
}
