// AfxMessageBox on the console: the text under the program's name. It waits
// for Enter only when a person types the input; otherwise (a script, a boot
// service) it goes on at once, as if OK had been pressed.

#include <cerrno>

#include "afxwin.h"
#include "console_io.h"
#include "console_view.h"

int AfxMessageBox(LPCTSTR text, UINT /*type*/, UINT /*idHelp*/)
{
    posix_console::Io& io = posix_console::Current();
    io.Write(posix_console::RenderMessageBox(program_invocation_short_name, text != nullptr ? text : ""));
    if (io.InputIsTerminal()) {
        io.Write(posix_console::RenderWaitForEnter());
        std::string line;
        if (!io.ReadLine(&line))
            io.Write("\n");
    }
    return IDOK;
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT idHelp)
{
    CString text;
    text.LoadString(idPrompt);
    return AfxMessageBox(text, type, idHelp);
}
