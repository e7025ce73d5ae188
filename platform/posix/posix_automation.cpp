// OLE Automation on Linux: there is no COM, so start-up always succeeds,
// application locks are only counted, objects answer no dispatch interface
// and class factories have nothing to register.

#include "afxdisp.h"

namespace {

long g_appLocks = 0;  // automation objects keeping the application alive
BOOL g_userCtrl = TRUE;

}  // namespace

BOOL AfxOleInit()
{
    return TRUE;
}

void AfxOleLockApp()
{
    ++g_appLocks;
}

void AfxOleUnlockApp()
{
    if (g_appLocks > 0)
        --g_appLocks;
}

BOOL AfxOleCanExitApp()
{
    return g_appLocks == 0 ? TRUE : FALSE;
}

BOOL AfxOleGetUserCtrl()
{
    return g_userCtrl;
}

void AfxOleSetUserCtrl(BOOL userCtrl)
{
    g_userCtrl = userCtrl;
}

void CCmdTarget::EnableAutomation()
{
}

BOOL COleObjectFactory::RegisterAll()
{
    return TRUE;
}

void COleObjectFactory::RevokeAll()
{
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL /*registerEntries*/)
{
    return TRUE;
}
