// OLE Automation support: start-up, application locks and class factories.
#pragma once

#include "afxwin.h"

// Initialises OLE for the process. FALSE when it cannot start.
BOOL AfxOleInit();
// Application locks held by automation objects: while any is held the
// application keeps running.
void AfxOleLockApp();
void AfxOleUnlockApp();

class COleObjectFactory {
public:
    // Registers every factory's class object with the system as running.
    static BOOL RegisterAll();
    // Writes every factory's registry entries for this executable.
    static BOOL UpdateRegistryAll(BOOL registerEntries = TRUE);
};
