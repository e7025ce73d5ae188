// OLE Automation support: start-up, application locks, interface and
// dispatch maps, and class factories.
#pragma once

#include <cstdint>

#include "afxwin.h"

// A GUID (class ID, interface ID) in the system's layout.
struct AFX_GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// Initialises OLE for the process. FALSE when it cannot start. Class
// factories are revoked and OLE is shut down when the process exits.
BOOL AfxOleInit();

// Application locks, held by automation objects and by clients that lock
// the server. When the last lock goes in a process that automation started
// and the user has not taken over (AfxOleGetUserCtrl), the main window is
// closed, so that no process nobody can reach is left running.
void AfxOleLockApp();
void AfxOleUnlockApp();
// TRUE when no lock is held.
BOOL AfxOleCanExitApp();
// Whether the user is in control of the application: TRUE unless the
// command line asks for an embedding or automation start, until set.
BOOL AfxOleGetUserCtrl();
void AfxOleSetUserCtrl(BOOL userCtrl);

// ---------------------------------------------------------------------------
// Interface maps: the interfaces an automation object answers, each an IID
// and the part of the object that implements it.

struct AFX_INTERFACEMAP_ENTRY {
    const AFX_GUID* piid;                     // null ends the table
    void* (*pfnGetInterface)(CCmdTarget*);    // the interface, or null
};

struct AFX_INTERFACEMAP {
    const AFX_INTERFACEMAP* (*pfnGetBaseMap)();  // null for the root
    const AFX_INTERFACEMAP_ENTRY* pEntries;
};

#define DECLARE_INTERFACE_MAP()                                 \
protected:                                                      \
    static const AFX_INTERFACEMAP* GetThisInterfaceMap();       \
    const AFX_INTERFACEMAP* GetInterfaceMap() const override;

#define BEGIN_INTERFACE_MAP(theClass, baseClass)                                        \
    const AFX_INTERFACEMAP* theClass::GetInterfaceMap() const { return GetThisInterfaceMap(); } \
    const AFX_INTERFACEMAP* theClass::GetThisInterfaceMap()                             \
    {                                                                                   \
        typedef baseClass TheBaseClass;                                                 \
        static const AFX_INTERFACEMAP_ENTRY entries[] = {

// Maps `iid` to the part `localClass` of the object; the built-in dispatch
// interface is the part Dispatch.
#define INTERFACE_PART(theClass, iid, localClass) {&(iid), &theClass::InterfacePart##localClass},

#define END_INTERFACE_MAP()                                                             \
            {nullptr, nullptr}                                                          \
        };                                                                              \
        static const AFX_INTERFACEMAP interfaceMap = {&TheBaseClass::GetThisInterfaceMap, entries}; \
        return &interfaceMap;                                                           \
    }

// ---------------------------------------------------------------------------
// Dispatch maps: the methods and properties of an automation object. This
// layer supports objects that have none, so a map holds only its end marker
// and the built-in dispatch interface answers every name lookup with
// DISP_E_UNKNOWNNAME and every call with DISP_E_MEMBERNOTFOUND.

struct AFX_DISPMAP_ENTRY {
    const char* lpszName;  // null ends the table
};

struct AFX_DISPMAP {
    const AFX_DISPMAP* (*pfnGetBaseMap)();  // null for the root
    const AFX_DISPMAP_ENTRY* lpEntries;
};

#define DECLARE_DISPATCH_MAP()                                  \
protected:                                                      \
    static const AFX_DISPMAP* GetThisDispatchMap();             \
    const AFX_DISPMAP* GetDispatchMap() const override;

#define BEGIN_DISPATCH_MAP(theClass, baseClass)                                         \
    const AFX_DISPMAP* theClass::GetDispatchMap() const { return GetThisDispatchMap(); } \
    const AFX_DISPMAP* theClass::GetThisDispatchMap()                                   \
    {                                                                                   \
        typedef baseClass TheBaseClass;                                                 \
        static const AFX_DISPMAP_ENTRY entries[] = {

#define END_DISPATCH_MAP()                                                              \
            {nullptr}                                                                   \
        };                                                                              \
        static const AFX_DISPMAP dispatchMap = {&TheBaseClass::GetThisDispatchMap, entries}; \
        return &dispatchMap;                                                            \
    }

// ---------------------------------------------------------------------------
// Class factories: a class that automation clients create by its class ID or
// ProgID. Each factory is a static object; all of them are registered with
// the system together.

class COleObjectFactory {
public:
    // Creation requests make a new object of `runtimeClass` (which must be
    // dynamically creatable). With `multiInstance`, every request is served
    // by a new instance of the program: the class object is registered for
    // one use only. `progID` must outlive the factory.
    COleObjectFactory(const AFX_GUID& clsid, const CRuntimeClass* runtimeClass, BOOL multiInstance,
                      LPCTSTR progID);
    ~COleObjectFactory();
    COleObjectFactory(const COleObjectFactory&) = delete;
    COleObjectFactory& operator=(const COleObjectFactory&) = delete;

    // Registers every factory's class object with the system as running.
    // FALSE when one could not be registered.
    static BOOL RegisterAll();
    // Withdraws every registered class object.
    static void RevokeAll();
    // Writes every factory's registry entries for this executable
    // (ProgID → class ID, the class ID's ProgID and local server path), or
    // removes them when `registerEntries` is FALSE. FALSE on failure.
    static BOOL UpdateRegistryAll(BOOL registerEntries = TRUE);

    // The program's factories, in construction order.
    static COleObjectFactory* GetFirst();
    COleObjectFactory* m_pNextFactory = nullptr;

    const AFX_GUID m_clsid;
    const CRuntimeClass* const m_pRuntimeClass;
    const BOOL m_bMultiInstance;
    const LPCTSTR m_lpszProgID;
    DWORD m_dwRegister = 0;  // the system's registration cookie, 0 when not registered
};

// A class's factory and class ID, as static members `factory` and `guid`.
#define DECLARE_OLECREATE(class_name)      \
public:                                    \
    static const AFX_GUID guid;            \
    static COleObjectFactory factory;

// Defines them for a multiple-instance class: each object in a new instance
// of the program.
#define IMPLEMENT_OLECREATE2(class_name, external_name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    const AFX_GUID class_name::guid = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};                \
    COleObjectFactory class_name::factory(class_name::guid, RUNTIME_CLASS(class_name), TRUE, external_name);
