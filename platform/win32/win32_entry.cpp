// The program's entry point: hands the command-line tail to the one
// application object and runs its InitInstance. The program ends when
// InitInstance returns; with TRUE (never for Quorvel) a message loop runs
// until WM_QUIT first, as in MFC. The exit code is ExitInstance's: the
// wParam of the WM_QUIT that ended the loops.

#include "afxwin.h"
#include "command_line.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    app->m_hInstance = instance;
    // Computed here from the line as the system keeps it, so the rule the
    // application relies on does not depend on the C runtime's start-up.
    app->m_lpCmdLine = const_cast<LPSTR>(win32_command_line::Tail(GetCommandLineA()));
    if (!app->InitInstance())
        return app->ExitInstance();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    app->m_quitWParam = msg.wParam;
    return app->ExitInstance();
}
