// Standard output on the console of a GUI program.

#include <cstdio>

#include "afxwin.h"

void AfxReopenStdoutOnConsole()
{
    // A GUI program started from a console gets no usable standard output:
    // its handle is missing or unknown. One started with its output
    // redirected (a pipe, a file) has one, and reopening would throw it
    // away: freopen of "CONOUT$" without a console fails and closes stdout.
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN)
        return;
    // Attach to the console of the program that started this one; "access
    // denied" means the process already has a console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return;
    std::fflush(stdout);
    std::freopen("CONOUT$", "w", stdout);
}

bool AfxConsoleReadsUtf8()
{
    // The program writes GBK (code page 936), and the console reads it so.
    return false;
}
