// The backend-independent part of CWinApp: the one application object and
// the command-line switches of an automation start.

#include <cstring>

#include "afxwin.h"

namespace {

CWinApp* g_app = nullptr;
BOOL g_unattended = FALSE;

// True when the command line holds the switch as a word of its own,
// written with '/' or '-', in any case.
bool HasSwitch(const char* commandLine, const char* name)
{
    if (commandLine == nullptr)
        return false;
    const std::size_t n = std::strlen(name);
    for (const char* p = commandLine; *p != '\0'; ++p) {
        const bool wordStart = p == commandLine || p[-1] == ' ' || p[-1] == '\t';
        if (!wordStart || (*p != '/' && *p != '-'))
            continue;
        std::size_t i = 0;
        while (i < n && p[1 + i] != '\0' &&
               (p[1 + i] | 0x20) == (name[i] | 0x20))
            ++i;
        const char after = i == n ? p[1 + n] : 'x';
        if (i == n && (after == '\0' || after == ' ' || after == '\t'))
            return true;
    }
    return false;
}

}  // namespace

// clang-format off
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()
// clang-format on

CWinApp::CWinApp(LPCTSTR /*appName*/)
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return static_cast<int>(m_quitWParam);
}

BOOL CWinApp::RunEmbedded()
{
    return HasSwitch(m_lpCmdLine, "embedding") ? TRUE : FALSE;
}

BOOL CWinApp::RunAutomated()
{
    return HasSwitch(m_lpCmdLine, "automation") ? TRUE : FALSE;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

void AfxSetUnattended(BOOL unattended)
{
    g_unattended = unattended;
}

BOOL AfxIsUnattended()
{
    return g_unattended;
}
