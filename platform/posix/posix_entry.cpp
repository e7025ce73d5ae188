// The console port's entry point: hands the command-line tail to the one
// application object and runs its InitInstance. The program ends when
// InitInstance returns (Quorvel's always returns FALSE once its dialog has
// ended); there is no message loop of the application's own. The exit
// status is ExitInstance's: the wParam of the WM_QUIT that ended the loops.

#include <csignal>
#include <string>

#include "afxwin.h"
#include "command_options.h"
#include "command_tail.h"

int main(int argc, char** argv)
{
    // A reader that went away (quorvel auto | head) must not kill the
    // program before it has set the clock: writes to such a pipe fail with
    // EPIPE and the diagnostics are lost, as on Windows.
    std::signal(SIGPIPE, SIG_IGN);
    // --help and --version are answered, and other options refused, before
    // the application starts: none of them opens the window.
    const int answered = posix_command_line::AnswerOption(posix_command_line::Tail(argc, argv));
    if (answered >= 0)
        return answered;
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    // Lives until the process ends: the application keeps a pointer to it.
    static std::string tail;
    tail = posix_command_line::Tail(argc, argv);
    app->m_lpCmdLine = tail.data();
    app->InitInstance();
    return app->ExitInstance();
}
