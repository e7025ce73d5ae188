// OLE start-up, application locks and class-factory registration.
//
// Minimal for now: OLE is initialised for real, but no class factory exists
// yet, so registering factories and refreshing their registry entries have
// nothing to do. The automation server replaces this file.

#include <cstdlib>

#include "afxdisp.h"

namespace {

long g_appLocks = 0;  // automation objects keeping the application alive

void UninitializeOle()
{
    OleUninitialize();
}

}  // namespace

BOOL AfxOleInit()
{
    static const bool started = [] {
        if (FAILED(OleInitialize(nullptr)))
            return false;
        std::atexit(&UninitializeOle);
        return true;
    }();
    return started ? TRUE : FALSE;
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
