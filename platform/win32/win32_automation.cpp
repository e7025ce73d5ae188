// OLE Automation over COM: start-up and shut-down, application locks, the
// built-in dispatch interface of automation objects, class objects
// registered with COM, and the registry entries of a local server.

#include <cstdlib>
#include <string>

#include "afxdisp.h"
#include "win32_text.h"

#include <shlwapi.h>  // after windows.h, which afxdisp.h includes after winsock2.h

namespace {

static_assert(sizeof(AFX_GUID) == sizeof(GUID), "AFX_GUID has the layout of GUID");

const GUID& AsGuid(const AFX_GUID& guid)
{
    return *reinterpret_cast<const GUID*>(&guid);
}

// --- Start-up and application locks -------------------------------------------

long g_appLocks = 0;
// -1 until set: then the user is in control unless the command line asks
// for an embedding or automation start.
int g_userCtrl = -1;

void TerminateOle()
{
    COleObjectFactory::RevokeAll();
    OleUninitialize();
}

// The last lock went. A process that automation started ends with its
// client: its main window is closed the way the user would close it, and
// the program ends when that window has gone.
void OnReleaseAllObjects()
{
    if (AfxOleGetUserCtrl())
        return;
    // Once only: the closing window may take and release locks again.
    AfxOleSetUserCtrl(TRUE);
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd->GetSafeHwnd() != nullptr)
        app->m_pMainWnd->PostMessage(WM_CLOSE);
}

// --- The built-in dispatch interface --------------------------------------------
// A dispatch interface without type information or members, written as a
// plain function table so that it can live inside CCmdTarget, whose
// declaration knows no COM types.

CCmdTarget* Owner(IDispatch* self)
{
    return reinterpret_cast<CCmdTarget::XDispatch*>(self)->m_pOwner;
}

HRESULT STDMETHODCALLTYPE DispatchQueryInterface(IDispatch* self, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    return Owner(self)->InternalQueryInterface(&iid, object);
}

ULONG STDMETHODCALLTYPE DispatchAddRef(IDispatch* self)
{
    return Owner(self)->InternalAddRef();
}

ULONG STDMETHODCALLTYPE DispatchRelease(IDispatch* self)
{
    return Owner(self)->InternalRelease();
}

HRESULT STDMETHODCALLTYPE DispatchGetTypeInfoCount(IDispatch* /*self*/, UINT* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchGetTypeInfo(IDispatch* /*self*/, UINT /*index*/, LCID /*locale*/,
                                              ITypeInfo** info)
{
    if (info == nullptr)
        return E_POINTER;
    *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE DispatchGetIDsOfNames(IDispatch* /*self*/, REFIID iid, LPOLESTR* /*names*/,
                                                UINT count, LCID /*locale*/, DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (ids == nullptr && count > 0)
        return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE DispatchInvoke(IDispatch* /*self*/, DISPID /*member*/, REFIID iid, LCID /*locale*/,
                                         WORD /*flags*/, DISPPARAMS* /*params*/, VARIANT* /*result*/,
                                         EXCEPINFO* /*exception*/, UINT* /*argumentError*/)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return DISP_E_MEMBERNOTFOUND;
}

// IDispatch's function table, in the interface's order.
struct DispatchFunctions {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(IDispatch*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(IDispatch*);
    ULONG(STDMETHODCALLTYPE* release)(IDispatch*);
    HRESULT(STDMETHODCALLTYPE* getTypeInfoCount)(IDispatch*, UINT*);
    HRESULT(STDMETHODCALLTYPE* getTypeInfo)(IDispatch*, UINT, LCID, ITypeInfo**);
    HRESULT(STDMETHODCALLTYPE* getIDsOfNames)(IDispatch*, REFIID, LPOLESTR*, UINT, LCID, DISPID*);
    HRESULT(STDMETHODCALLTYPE* invoke)(IDispatch*, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                       EXCEPINFO*, UINT*);
};

const DispatchFunctions kDispatchFunctions = {
    &DispatchQueryInterface, &DispatchAddRef,        &DispatchRelease, &DispatchGetTypeInfoCount,
    &DispatchGetTypeInfo,    &DispatchGetIDsOfNames, &DispatchInvoke,
};

// --- Class objects ---------------------------------------------------------------

// The class object COM hands to clients of one factory: makes a new object
// of the factory's run-time class per request.
class ClassObject final : public IClassFactory {
public:
    explicit ClassObject(const COleObjectFactory* factory) : m_factory(factory) {}
    virtual ~ClassObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    // A new object needs the main window to bind to: none before the
    // application has made it or after it has gone.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        const CWinApp* app = AfxGetApp();
        if (app == nullptr || app->m_pMainWnd == nullptr)
            return CO_E_SERVER_STOPPING;
        CCmdTarget* target = m_factory->m_pRuntimeClass->CreateObject();
        if (target == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = target->InternalQueryInterface(&iid, object);
        target->InternalRelease();  // the creator's reference
        return result;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            AfxOleLockApp();
        else
            AfxOleUnlockApp();
        return S_OK;
    }

private:
    const COleObjectFactory* m_factory;
    ULONG m_references = 1;
};

// --- Registry ---------------------------------------------------------------------

// Sets the value `name` (null: the key's default value) of `key` under
// `root`, creating the key.
bool SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

std::wstring GuidText(const AFX_GUID& guid)
{
    wchar_t text[40] = L"";
    StringFromGUID2(AsGuid(guid), text, 40);
    return text;
}

// The executable's full path, quoted, as a command line names the program.
std::wstring QuotedModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return L"";
        if (length < path.size()) {
            path.resize(length);
            return L"\"" + path + L"\"";
        }
        path.resize(path.size() * 2);
    }
}

// The standard entries of a local server class under `classes` (a Classes
// key): ProgID\CLSID, CLSID\{clsid}\ProgID and CLSID\{clsid}\LocalServer32,
// with the ProgID as the class's name.
bool WriteEntries(HKEY classes, const COleObjectFactory& factory, const std::wstring& server)
{
    const std::wstring progID = win32_text::Widen(factory.m_lpszProgID);
    const std::wstring clsid = GuidText(factory.m_clsid);
    const std::wstring classKey = L"CLSID\\" + clsid;
    return SetString(classes, progID, nullptr, progID) && SetString(classes, progID + L"\\CLSID", nullptr, clsid) &&
           SetString(classes, classKey, nullptr, progID) &&
           SetString(classes, classKey + L"\\ProgID", nullptr, progID) &&
           SetString(classes, classKey + L"\\LocalServer32", nullptr, server);
}

// Removes the ProgID and CLSID keys of the class under `classes`, each with
// all its subkeys (SHDeleteKeyW: RegDeleteTreeW is not on XP).
void RemoveEntries(HKEY classes, const COleObjectFactory& factory)
{
    SHDeleteKeyW(classes, win32_text::Widen(factory.m_lpszProgID).c_str());
    SHDeleteKeyW(classes, (L"CLSID\\" + GuidText(factory.m_clsid)).c_str());
}

// The Classes key under `root` (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER),
// opened for writing; null when that is refused.
HKEY OpenClasses(HKEY root)
{
    HKEY classes = nullptr;
    if (RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return classes;
}

}  // namespace

// --- The layer's functions -----------------------------------------------------------

BOOL AfxOleInit()
{
    static const bool started = [] {
        if (FAILED(OleInitialize(nullptr)))
            return false;
        std::atexit(&TerminateOle);
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
    if (g_appLocks > 0 && --g_appLocks == 0)
        OnReleaseAllObjects();
}

BOOL AfxOleCanExitApp()
{
    return g_appLocks == 0 ? TRUE : FALSE;
}

BOOL AfxOleGetUserCtrl()
{
    if (g_userCtrl < 0) {
        CWinApp* app = AfxGetApp();
        return app != nullptr && (app->RunEmbedded() || app->RunAutomated()) ? FALSE : TRUE;
    }
    return g_userCtrl != 0 ? TRUE : FALSE;
}

void AfxOleSetUserCtrl(BOOL userCtrl)
{
    g_userCtrl = userCtrl ? 1 : 0;
}

void CCmdTarget::EnableAutomation()
{
    m_xDispatch.m_pVtbl = &kDispatchFunctions;
    m_xDispatch.m_pOwner = this;
}

BOOL COleObjectFactory::RegisterAll()
{
    BOOL all = TRUE;
    for (COleObjectFactory* factory = GetFirst(); factory != nullptr; factory = factory->m_pNextFactory) {
        if (factory->m_dwRegister != 0)
            continue;
        ClassObject* object = new ClassObject(factory);
        // One use per registration: COM starts a new instance of the
        // program for the next request.
        const DWORD use = factory->m_bMultiInstance ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE;
        DWORD cookie = 0;
        if (FAILED(CoRegisterClassObject(AsGuid(factory->m_clsid), object, CLSCTX_LOCAL_SERVER, use, &cookie)))
            all = FALSE;
        else
            factory->m_dwRegister = cookie;
        object->Release();  // COM holds its own reference while registered
    }
    return all;
}

void COleObjectFactory::RevokeAll()
{
    for (COleObjectFactory* factory = GetFirst(); factory != nullptr; factory = factory->m_pNextFactory) {
        if (factory->m_dwRegister != 0) {
            CoRevokeClassObject(factory->m_dwRegister);
            factory->m_dwRegister = 0;
        }
    }
}

// The entries go to the machine's classes (HKEY_CLASSES_ROOT, which the
// program may write as it runs as administrator); where that is refused,
// to the user's own (HKEY_CURRENT_USER\Software\Classes), which COM reads
// as well. Removal clears both.
BOOL COleObjectFactory::UpdateRegistryAll(BOOL registerEntries)
{
    const std::wstring server = QuotedModulePath();
    if (registerEntries && server.empty())
        return FALSE;
    HKEY machineClasses = OpenClasses(HKEY_LOCAL_MACHINE);
    HKEY userClasses = OpenClasses(HKEY_CURRENT_USER);
    BOOL all = TRUE;
    for (COleObjectFactory* factory = GetFirst(); factory != nullptr; factory = factory->m_pNextFactory) {
        if (registerEntries) {
            if (!WriteEntries(HKEY_CLASSES_ROOT, *factory, server) &&
                (userClasses == nullptr || !WriteEntries(userClasses, *factory, server)))
                all = FALSE;
        } else {
            for (HKEY classes : {machineClasses, userClasses}) {
                if (classes != nullptr)
                    RemoveEntries(classes, *factory);
            }
        }
    }
    for (HKEY classes : {machineClasses, userClasses}) {
        if (classes != nullptr)
            RegCloseKey(classes);
    }
    return all;
}
