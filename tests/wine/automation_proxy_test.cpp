// The automation object in its own process, over the Win32 backend's real
// COM: how the proxy binds to the main dialog and lets go, the interfaces it
// answers (a client in another process can only reach IDispatch), its empty
// dispatch interface, the class object COM hands out, the application locks
// and the registry entries.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DlgProxy.h"
#include "QuorvelDlg.h"

namespace {

const IID kIidQuorvel = {0x3B1EAD75, 0x04A3, 0x4DA9, {0x98, 0xC8, 0x31, 0x93, 0x46, 0x9F, 0x30, 0xB0}};
const CLSID kClsid = {0x4570FEBA, 0x3251, 0x4983, {0xA0, 0x38, 0x75, 0xEB, 0x8D, 0xC2, 0x4F, 0x9D}};

// The application object of this test program.
CWinApp g_app;
char g_normalStart[] = "";
char g_automationStart[] = "/Automation -Embedding";

class AutomationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(AfxOleInit()); }

    void SetUp() override
    {
        g_app.m_lpCmdLine = g_normalStart;
        g_app.m_pMainWnd = &m_dialog;
    }

    void TearDown() override
    {
        g_app.m_pMainWnd = nullptr;
        EXPECT_TRUE(AfxOleCanExitApp()) << "a test left the application locked";
    }

    // A new proxy, as the class factory makes it, with its creator's
    // reference.
    static CQuorvelDlgAutoProxy* NewProxy()
    {
        return static_cast<CQuorvelDlgAutoProxy*>(RUNTIME_CLASS(CQuorvelDlgAutoProxy)->CreateObject());
    }

    static IDispatch* DispatchOf(CQuorvelDlgAutoProxy* proxy)
    {
        void* dispatch = nullptr;
        EXPECT_EQ(S_OK, proxy->InternalQueryInterface(&IID_IDispatch, &dispatch));
        return static_cast<IDispatch*>(dispatch);
    }

    CQuorvelDlg m_dialog;
};

TEST_F(AutomationTest, ProxyBindsToTheMainDialogUntilItsLastReferenceGoes)
{
    EXPECT_STREQ("CQuorvelDlgAutoProxy", RUNTIME_CLASS(CQuorvelDlgAutoProxy)->m_lpszClassName);
    EXPECT_STREQ("CQuorvelDlg", m_dialog.GetRuntimeClass()->m_lpszClassName);
    CQuorvelDlgAutoProxy* proxy = NewProxy();
    ASSERT_NE(nullptr, proxy);
    EXPECT_EQ(RUNTIME_CLASS(CQuorvelDlgAutoProxy), proxy->GetRuntimeClass());
    EXPECT_EQ(proxy, m_dialog.m_pAutoProxy);
    EXPECT_EQ(&m_dialog, proxy->m_pDialog);
    EXPECT_FALSE(AfxOleCanExitApp()) << "the proxy locks the application";
    EXPECT_FALSE(m_dialog.CanExit()) << "the dialog only hides while the proxy exists";

    IDispatch* dispatch = DispatchOf(proxy);
    EXPECT_EQ(1u, proxy->InternalRelease()) << "the creator's reference goes; the client's stays";
    EXPECT_EQ(proxy, m_dialog.m_pAutoProxy);
    EXPECT_EQ(0u, dispatch->Release());
    EXPECT_EQ(nullptr, m_dialog.m_pAutoProxy) << "the deleted proxy let go of the dialog";
    EXPECT_TRUE(AfxOleCanExitApp());
    EXPECT_TRUE(m_dialog.CanExit());
}

TEST_F(AutomationTest, DialogThatGoesFirstLetsGoOfTheProxy)
{
    auto* dialog = new CQuorvelDlg;
    g_app.m_pMainWnd = dialog;
    CQuorvelDlgAutoProxy* proxy = NewProxy();
    EXPECT_EQ(dialog, proxy->m_pDialog);
    delete dialog;
    g_app.m_pMainWnd = nullptr;
    EXPECT_EQ(nullptr, proxy->m_pDialog);
    EXPECT_EQ(0u, proxy->InternalRelease());  // must not touch the deleted dialog
}

TEST_F(AutomationTest, InterfaceMapAnswersUnknownDispatchAndTheDispatchIid)
{
    CQuorvelDlgAutoProxy* proxy = NewProxy();
    IDispatch* dispatch = DispatchOf(proxy);
    proxy->InternalRelease();

    IID nearMiss = kIidQuorvel;
    nearMiss.Data4[7] ^= 1;
    const struct {
        const char* label;
        const IID& iid;
        bool answered;
    } cases[] = {
        {"IUnknown", IID_IUnknown, true},
        {"IDispatch", IID_IDispatch, true},
        {"the dispatch IID", kIidQuorvel, true},
        {"IClassFactory", IID_IClassFactory, false},
        {"IPersist", IID_IPersist, false},
        {"the dispatch IID with one bit changed", nearMiss, false},
    };
    for (const auto& c : cases) {
        void* object = reinterpret_cast<void*>(1);
        const HRESULT result = dispatch->QueryInterface(c.iid, &object);
        if (c.answered) {
            EXPECT_EQ(S_OK, result) << c.label;
            EXPECT_EQ(static_cast<void*>(dispatch), object) << c.label << ": one identity";
            if (object != nullptr) {
                EXPECT_EQ(1u, static_cast<IUnknown*>(object)->Release()) << c.label << ": referenced once more";
            }
        } else {
            EXPECT_EQ(E_NOINTERFACE, result) << c.label;
            EXPECT_EQ(nullptr, object) << c.label;
        }
    }
    EXPECT_EQ(2u, dispatch->AddRef());
    EXPECT_EQ(1u, dispatch->Release());
    EXPECT_EQ(0u, dispatch->Release());
}

TEST_F(AutomationTest, DispatchInterfaceHasNoTypeInformationAndNoMembers)
{
    CQuorvelDlgAutoProxy* proxy = NewProxy();
    IDispatch* dispatch = DispatchOf(proxy);
    proxy->InternalRelease();

    UINT count = 99;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_TRUE(FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)));
    EXPECT_EQ(nullptr, info);

    OLECHAR visible[] = L"Visible";
    OLECHAR quit[] = L"Quit";
    LPOLESTR names[] = {visible, quit};
    DISPID ids[2] = {7, 7};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(DISPID_UNKNOWN, ids[0]);
    EXPECT_EQ(DISPID_UNKNOWN, ids[1]);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->GetIDsOfNames(kIidQuorvel, names, 1, LOCALE_USER_DEFAULT, ids));

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    for (DISPID member : {DISPID_VALUE, 1, 0x7FFF}) {
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, dispatch->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                          &none, nullptr, nullptr, nullptr))
            << member;
    }
    EXPECT_EQ(0u, dispatch->Release());
}

// COM hands a process its own registered class object.
TEST_F(AutomationTest, ClassObjectMakesBoundProxiesOnlyWhileThereIsAMainWindow)
{
    ASSERT_TRUE(COleObjectFactory::RegisterAll());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, CoGetClassObject(kClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)));

    void* object = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IDispatch,
                                                             &object));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, m_dialog.m_pAutoProxy) << "the object of a refused interface is gone again";

    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, kIidQuorvel, &object));
    ASSERT_NE(nullptr, m_dialog.m_pAutoProxy);
    EXPECT_EQ(&m_dialog, m_dialog.m_pAutoProxy->m_pDialog);
    EXPECT_EQ(0u, static_cast<IDispatch*>(object)->Release());
    EXPECT_EQ(nullptr, m_dialog.m_pAutoProxy);

    g_app.m_pMainWnd = nullptr;
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CO_E_SERVER_STOPPING, factory->CreateInstance(nullptr, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_FALSE(AfxOleCanExitApp());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
    COleObjectFactory::RevokeAll();
}

// The command-line switches of a start by COM (Wine adds -Embedding to the
// registered server path) as words of their own, in any case.
TEST_F(AutomationTest, EmbeddingAndAutomationSwitchesAreWordsOfTheirOwn)
{
    const struct {
        const char* line;
        BOOL embedded;
        BOOL automated;
    } cases[] = {
        {"", FALSE, FALSE},
        {"-Embedding", TRUE, FALSE},
        {"/EMBEDDING", TRUE, FALSE},
        {"/Automation -Embedding", TRUE, TRUE},
        {"\t-automation\t", FALSE, TRUE},
        {"auto /Automation", FALSE, TRUE},
        {"auto", FALSE, FALSE},
        {"Embedding Automation", FALSE, FALSE},
        {"-Embeddings /Automatio", FALSE, FALSE},
        {"x-Embedding --Automation", FALSE, FALSE},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        g_app.m_lpCmdLine = &line[0];
        EXPECT_EQ(c.embedded, g_app.RunEmbedded()) << c.line;
        EXPECT_EQ(c.automated, g_app.RunAutomated()) << c.line;
    }
    g_app.m_lpCmdLine = g_normalStart;
}

// The window that the last unlock closes: a plain window standing in for
// the main dialog, whose posted WM_CLOSE stays in the queue to be seen.
class ReleaseAllTest : public AutomationTest {
protected:
    void SetUp() override
    {
        AutomationTest::SetUp();
        m_window.m_hWnd = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_window.m_hWnd);
        g_app.m_pMainWnd = &m_window;
    }

    void TearDown() override
    {
        DestroyWindow(m_window.m_hWnd);
        AutomationTest::TearDown();
    }

    // One lock and its release; whether the release closed the window.
    bool LockAndUnlockCloses()
    {
        AfxOleLockApp();
        AfxOleLockApp();
        AfxOleUnlockApp();
        MSG msg;
        const bool early = PeekMessageW(&msg, m_window.m_hWnd, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
        EXPECT_FALSE(early) << "closed while a lock was still held";
        AfxOleUnlockApp();
        return PeekMessageW(&msg, m_window.m_hWnd, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
    }

    CWnd m_window;
};

// In order: the user's own start, then an automation start, whose window
// closes once; after that the user is in control until told otherwise.
TEST_F(ReleaseAllTest, LastUnlockClosesTheMainWindowOnlyOfAnAutomationStart)
{
    EXPECT_TRUE(AfxOleGetUserCtrl());
    EXPECT_FALSE(LockAndUnlockCloses()) << "a normal start";

    g_app.m_lpCmdLine = g_automationStart;
    EXPECT_FALSE(AfxOleGetUserCtrl());
    EXPECT_TRUE(LockAndUnlockCloses()) << "an automation start";
    EXPECT_TRUE(AfxOleGetUserCtrl());
    EXPECT_FALSE(LockAndUnlockCloses()) << "the second time";

    AfxOleSetUserCtrl(FALSE);
    EXPECT_TRUE(LockAndUnlockCloses()) << "the user gave control back";
    AfxOleSetUserCtrl(TRUE);
}

// Registry entries of this executable, in the test prefix.
TEST_F(AutomationTest, RegistryEntriesNameThisExecutableAndGoAgain)
{
    const std::wstring classKey = L"CLSID\\{4570FEBA-3251-4983-A038-75EB8DC24F9D}";
    const auto value = [](const std::wstring& key) {
        wchar_t text[1024] = L"";
        DWORD size = sizeof text;
        if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) !=
            ERROR_SUCCESS)
            return std::wstring(L"<missing>");
        return std::wstring(text);
    };
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);

    ASSERT_TRUE(COleObjectFactory::UpdateRegistryAll(TRUE));
    EXPECT_EQ(L"Quorvel.Application", value(L"Quorvel.Application"));
    EXPECT_EQ(L"{4570FEBA-3251-4983-A038-75EB8DC24F9D}", value(L"Quorvel.Application\\CLSID"));
    EXPECT_EQ(L"Quorvel.Application", value(classKey + L"\\ProgID"));
    EXPECT_EQ(L"\"" + std::wstring(path) + L"\"", value(classKey + L"\\LocalServer32"));

    ASSERT_TRUE(COleObjectFactory::UpdateRegistryAll(FALSE));
    EXPECT_EQ(L"<missing>", value(L"Quorvel.Application\\CLSID"));
    EXPECT_EQ(L"<missing>", value(classKey + L"\\LocalServer32"));
}

}  // namespace
