// OLE Automation on Linux: there is no COM, so start-up always succeeds,
// application locks are only counted and class factories have nothing to
// register.

#include "afxdisp.h"

namespace {

long g_appLocks = 0;  // automation objects keeping the application alive

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

BOOL COleObjectFactory::RegisterAll()
{
    return TRUE;
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL /*registerEntries*/)
{
    return TRUE;
}
