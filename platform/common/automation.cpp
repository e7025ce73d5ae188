// The backend-independent part of automation: run-time class records,
// reference counting, interface and dispatch maps, and the list of class
// factories. The COM side (the dispatch interface's function table, class
// objects, the registry) is the backend's.

#include <cstring>

#include "afxdisp.h"

namespace {

constexpr LONG kOk = 0;
constexpr LONG kNoInterface = static_cast<LONG>(0x80004002UL);  // E_NOINTERFACE

// {00000000-0000-0000-C000-000000000046} and {00020400-0000-0000-C000-000000000046}.
const AFX_GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const AFX_GUID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

COleObjectFactory* g_firstFactory = nullptr;

}  // namespace

CCmdTarget* CRuntimeClass::CreateObject() const
{
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", nullptr};

const CRuntimeClass* CCmdTarget::GetRuntimeClass() const
{
    return &classCCmdTarget;
}

void CCmdTarget::OnFinalRelease()
{
    delete this;
}

DWORD CCmdTarget::InternalAddRef()
{
    return ++m_dwRef;
}

DWORD CCmdTarget::InternalRelease()
{
    if (m_dwRef == 0)
        return 0;
    if (--m_dwRef == 0) {
        OnFinalRelease();
        return 0;
    }
    return m_dwRef;
}

LONG CCmdTarget::InternalQueryInterface(const void* iid, void** object)
{
    *object = nullptr;
    for (const AFX_INTERFACEMAP* map = GetInterfaceMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_INTERFACEMAP_ENTRY* e = map->pEntries; e->piid != nullptr; ++e) {
            if (std::memcmp(e->piid, iid, sizeof(AFX_GUID)) != 0)
                continue;
            void* part = e->pfnGetInterface(this);
            if (part == nullptr)
                continue;
            InternalAddRef();
            *object = part;
            return kOk;
        }
    }
    return kNoInterface;
}

void* CCmdTarget::InterfacePartDispatch(CCmdTarget* target)
{
    return target->m_xDispatch.m_pVtbl != nullptr ? &target->m_xDispatch : nullptr;
}

// Every automation object answers IUnknown and IDispatch with its built-in
// dispatch interface, which is also its identity.
const AFX_INTERFACEMAP* CCmdTarget::GetThisInterfaceMap()
{
    static const AFX_INTERFACEMAP_ENTRY entries[] = {
        {&kIidUnknown, &CCmdTarget::InterfacePartDispatch},
        {&kIidDispatch, &CCmdTarget::InterfacePartDispatch},
        {nullptr, nullptr},
    };
    static const AFX_INTERFACEMAP interfaceMap = {nullptr, entries};
    return &interfaceMap;
}

const AFX_INTERFACEMAP* CCmdTarget::GetInterfaceMap() const
{
    return GetThisInterfaceMap();
}

const AFX_DISPMAP* CCmdTarget::GetThisDispatchMap()
{
    static const AFX_DISPMAP_ENTRY entries[] = {{nullptr}};
    static const AFX_DISPMAP dispatchMap = {nullptr, entries};
    return &dispatchMap;
}

const AFX_DISPMAP* CCmdTarget::GetDispatchMap() const
{
    return GetThisDispatchMap();
}

COleObjectFactory::COleObjectFactory(const AFX_GUID& clsid, const CRuntimeClass* runtimeClass,
                                     BOOL multiInstance, LPCTSTR progID)
    : m_clsid(clsid), m_pRuntimeClass(runtimeClass), m_bMultiInstance(multiInstance), m_lpszProgID(progID)
{
    COleObjectFactory** last = &g_firstFactory;
    while (*last != nullptr)
        last = &(*last)->m_pNextFactory;
    *last = this;
}

COleObjectFactory::~COleObjectFactory()
{
    for (COleObjectFactory** p = &g_firstFactory; *p != nullptr; p = &(*p)->m_pNextFactory) {
        if (*p == this) {
            *p = m_pNextFactory;
            break;
        }
    }
}

COleObjectFactory* COleObjectFactory::GetFirst()
{
    return g_firstFactory;
}
