// AfxMessageBox on the console: the text under the program's name. It waits
// for Enter only when a person types the input and the run is not an
// unattended one; otherwise (a script, a boot service, `auto`) it goes on at
// once, as if OK had been pressed: the text stays on the console.

#include <cerrno>

#include "afxwin.h"
#include "console_io.h"
#include "console_view.h"

int AfxMessageBox(LPCTSTR text, UINT /*type*/, UINT /*idHelp*/)
{
    posix_console::Io& io = posix_console::Current();
    io.Write(posix_console::RenderMessageBox(program_invocation_short_name, text != nullptr ? text : ""));
    if (io.InputIsTerminal() && !AfxIsUnattended()) {
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
