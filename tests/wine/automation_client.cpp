// automation_client: checks of the "Quorvel.Application" server over real
// COM: its registration, which process serves each object, what its
// dispatch interface answers, how its main window behaves while the object
// is held, and that the process ends when it is released. The object is
// created either here or by a client that is none of our code: VBScript
// (automation_client.vbs) under Wine's cscript.exe, watched from here.
//
// Usage: automation_client.exe SCENARIO QUORVEL_EXE [SCRIPT]
// Scenarios (see kScenarios below):
//   registry          a normal start rewrites stale registry entries: ProgID,
//                     class ID, local server path, and no type library
//   create            creating the object starts a new process with its main
//                     window, apart from a running user instance; the
//                     dispatch interface has no type information and no
//                     members; releasing it ends that process
// With SCRIPT, automation_client.vbs, as the client:
//   vbscript-create   the object's new process shows its main window and
//                     stays while the script holds it; released, it ends
//   vbscript-close-while-held
//                     the Exit button, the close box and the Cancel command
//                     only hide the window of a held object; the process
//                     ends once the object is released
//   vbscript-two-objects
//                     two objects, two processes, each ending with its own
// Every scenario but registry first starts QUORVEL_EXE normally once, so
// that the registry names this build's executable.
// Reports go to standard error. Exit status: 0 all checks passed, 1 a check
// failed, 2 bad usage.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>

namespace {

const wchar_t kMainCaption[] = L"Ostrevin";
const wchar_t kProgID[] = L"Quorvel.Application";
const wchar_t kClsidText[] = L"{4570FEBA-3251-4983-A038-75EB8DC24F9D}";
const wchar_t kIidText[] = L"{3B1EAD75-04A3-4DA9-98C8-3193469F30B0}";
const CLSID kClsid = {0x4570FEBA, 0x3251, 0x4983, {0xA0, 0x38, 0x75, 0xEB, 0x8D, 0xC2, 0x4F, 0x9D}};

constexpr int kIdExit = 1003;  // res/resource.h
constexpr DWORD kWindowWaitMs = 20000;
// How long a released server may take to end. It takes milliseconds; the
// bound only tells "ends" from "stays", with room for a loaded machine and a
// script that must first notice its release file. The time is reported.
constexpr DWORD kServerExitMs = 15000;
// How long a hidden server must stay.
constexpr DWORD kStayMs = 1500;
constexpr DWORD kPollMs = 50;

int g_failures = 0;

void Report(bool ok, const std::wstring& what)
{
    if (!ok)
        ++g_failures;
    std::fwprintf(stderr, L"client: %ls %ls\n", ok ? L"ok  " : L"FAIL", what.c_str());
}

std::wstring Hex(HRESULT value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

// --- Processes and windows -----------------------------------------------------

// One Quorvel.exe: its main window and a handle to wait for its end.
struct Server {
    HWND window = nullptr;
    DWORD processId = 0;
    HANDLE process = nullptr;
};

void Close(Server& server)
{
    if (server.process != nullptr) {
        if (WaitForSingleObject(server.process, 0) != WAIT_OBJECT_0)
            TerminateProcess(server.process, 99);
        CloseHandle(server.process);
    }
    server = Server();
}

struct Search {
    const std::set<DWORD>* known;  // processes to pass over
    DWORD wanted;                  // the one process to look at, or 0
    Server found;
};

BOOL CALLBACK MatchMainWindow(HWND hwnd, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    wchar_t name[16] = L"";
    wchar_t caption[64] = L"";
    GetClassNameW(hwnd, name, 16);
    DWORD_PTR length = 0;
    if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(hwnd) ||
        !SendMessageTimeoutW(hwnd, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(caption), SMTO_ABORTIFHUNG, 5000,
                             &length) ||
        std::wcscmp(caption, kMainCaption) != 0)
        return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    if (search->known->count(processId) != 0 || (search->wanted != 0 && processId != search->wanted))
        return TRUE;
    search->found.window = hwnd;
    search->found.processId = processId;
    return FALSE;
}

// Waits for a visible main window of a process not in `known` (of process
// `wanted` when that is not 0).
Server WaitForNewServer(const std::set<DWORD>& known, DWORD wanted = 0)
{
    const ULONGLONG deadline = GetTickCount64() + kWindowWaitMs;
    Search search = {&known, wanted, Server()};
    while (search.found.window == nullptr && GetTickCount64() < deadline) {
        EnumWindows(&MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found.window == nullptr)
            Sleep(kPollMs);
    }
    if (search.found.window != nullptr)
        search.found.process =
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                        search.found.processId);
    return search.found;
}

bool Ended(const Server& server, DWORD ms)
{
    return server.process != nullptr && WaitForSingleObject(server.process, ms) == WAIT_OBJECT_0;
}

// Releases `object` and reports whether `server` then ends within
// kServerExitMs, and how long it took.
void ReleaseAndExpectEnd(IDispatch* object, const Server& server, const std::wstring& what)
{
    const ULONGLONG start = GetTickCount64();
    object->Release();
    const bool ended = Ended(server, kServerExitMs);
    Report(ended, what + L" (" + std::to_wstring(GetTickCount64() - start) + L" ms)");
}

// Starts QUORVEL_EXE with no arguments, as a user would.
Server StartUserInstance(const std::wstring& exe)
{
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        Report(false, L"start " + exe + L" (error " + std::to_wstring(GetLastError()) + L")");
        return Server();
    }
    CloseHandle(info.hThread);
    Server server = WaitForNewServer({}, info.dwProcessId);
    if (server.process != nullptr)
        CloseHandle(server.process);
    server.process = info.hProcess;
    if (server.window == nullptr) {
        Report(false, L"the started program shows its main window");
        Close(server);
    }
    return server;
}

void ClickExit(HWND window)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kIdExit, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, kIdExit)));
}

// A normal start and the Exit button: the program registers itself.
bool RegisterByNormalStart(const std::wstring& exe)
{
    Server server = StartUserInstance(exe);
    if (server.window == nullptr)
        return false;
    ClickExit(server.window);
    const bool ended = Ended(server, kWindowWaitMs);
    Report(ended, L"a normal start ends with the Exit button");
    Close(server);
    return ended;
}

// --- Registry ------------------------------------------------------------------

// The string value `name` (null: default) of HKEY_CLASSES_ROOT\`key`;
// "<missing>" when there is none.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t value[1024] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

bool ClassesKeyExists(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void ExpectValue(const std::wstring& key, const wchar_t* name, const std::wstring& expected)
{
    const std::wstring actual = ClassesValue(key, name);
    Report(Lower(actual) == Lower(expected),
           L"HKCR\\" + key + (name ? L" " + std::wstring(name) : L"") + L" = " + actual +
               (Lower(actual) == Lower(expected) ? L"" : L", want " + expected));
}

// --- The object ------------------------------------------------------------------

IDispatch* CreateObject()
{
    CLSID clsid = {};
    const HRESULT found = CLSIDFromProgID(kProgID, &clsid);
    Report(SUCCEEDED(found) && IsEqualCLSID(clsid, kClsid), L"the ProgID names the class (" + Hex(found) + L")");
    IDispatch* object = nullptr;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    Report(SUCCEEDED(created) && object != nullptr, L"CoCreateInstance by ProgID (" + Hex(created) + L")");
    return SUCCEEDED(created) ? object : nullptr;
}

// The dispatch interface has no type information and no members.
void CheckEmptyDispatch(IDispatch* object)
{
    UINT count = 99;
    HRESULT result = object->GetTypeInfoCount(&count);
    Report(result == S_OK && count == 0, L"GetTypeInfoCount gives 0 (" + Hex(result) + L", " +
                                             std::to_wstring(count) + L")");

    OLECHAR name[] = L"Visible";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    result = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    Report(result == DISP_E_UNKNOWNNAME && id == DISPID_UNKNOWN,
           L"GetIDsOfNames(\"Visible\") gives DISP_E_UNKNOWNNAME (" + Hex(result) + L")");

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT out;
    VariantInit(&out);
    result = object->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &out,
                            nullptr, nullptr);
    Report(result == DISP_E_MEMBERNOTFOUND, L"Invoke(1) gives DISP_E_MEMBERNOTFOUND (" + Hex(result) + L")");
    VariantClear(&out);
}

// --- Scenarios ---------------------------------------------------------------------

int Registry(const std::wstring& exe)
{
    // Entries another copy of the program left behind.
    const std::wstring classKey = std::wstring(L"CLSID\\") + kClsidText;
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgID);
    HKEY stale = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\LocalServer32").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &stale, nullptr) == ERROR_SUCCESS) {
        const wchar_t old[] = L"C:\\old\\Quorvel.exe";
        RegSetValueExW(stale, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
        RegCloseKey(stale);
    }

    if (!RegisterByNormalStart(exe))
        return 0;
    ExpectValue(kProgID, nullptr, kProgID);
    ExpectValue(std::wstring(kProgID) + L"\\CLSID", nullptr, kClsidText);
    ExpectValue(classKey + L"\\ProgID", nullptr, kProgID);
    ExpectValue(classKey + L"\\LocalServer32", nullptr, L"\"" + exe + L"\"");
    Report(!ClassesKeyExists(classKey + L"\\TypeLib") && !ClassesKeyExists(std::wstring(L"Interface\\") + kIidText),
           L"no type library and no interface are registered");
    return 0;
}

int Create(const std::wstring& exe)
{
    if (!RegisterByNormalStart(exe))
        return 0;
    Server user = StartUserInstance(exe);
    if (user.window == nullptr)
        return 0;
    IDispatch* object = CreateObject();
    if (object != nullptr) {
        Server server = WaitForNewServer({user.processId});
        Report(server.window != nullptr, L"a new process shows its main window for the object");
        CheckEmptyDispatch(object);
        IUnknown* unknown = nullptr;
        const HRESULT result = object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
        Report(result == S_OK, L"the object answers IUnknown (" + Hex(result) + L")");
        if (unknown != nullptr)
            unknown->Release();

        ClickExit(user.window);
        Report(Ended(user, kWindowWaitMs), L"the user's instance still ends with its Exit button");
        Report(server.window != nullptr && !Ended(server, 0), L"the object's process keeps running");

        ReleaseAndExpectEnd(object, server, L"releasing the object ends its process");
        Close(server);
    }
    Close(user);
    return 0;
}

// --- The script as client ------------------------------------------------------

std::wstring g_script;  // automation_client.vbs

// cscript.exe running the script, and the folder of its signal files.
struct ScriptClient {
    PROCESS_INFORMATION process = {};
    std::wstring folder;
};

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Starts the script with `count` objects and waits until it holds them.
// False (reported) when it cannot start, or ends or times out first.
bool StartScript(ScriptClient& client, int count)
{
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    client.folder = std::wstring(folder) + L"quorvel-vbs-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(client.folder.c_str(), nullptr);
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring cscript = std::wstring(system) + L"\\cscript.exe";
    std::wstring line = L"\"" + cscript + L"\" //nologo \"" + g_script + L"\" " + std::to_wstring(count) + L" \"" +
                        client.folder + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(cscript.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &client.process)) {
        Report(false, L"start " + cscript + L" (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    const ULONGLONG deadline = GetTickCount64() + kWindowWaitMs * count;
    while (!Exists(client.folder + L"\\held")) {
        if (GetTickCount64() >= deadline || WaitForSingleObject(client.process.hProcess, kPollMs) == WAIT_OBJECT_0) {
            Report(false, L"the script creates " + std::to_wstring(count) + L" object(s) and holds them");
            return false;
        }
    }
    return true;
}

// Lets the script release its object `number` (1: the first it made).
void ReleaseInScript(const ScriptClient& client, int number)
{
    const std::wstring path = client.folder + L"\\release" + std::to_wstring(number);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// Waits for the script to end (it is stopped after a while) and removes its
// files.
void EndScript(ScriptClient& client, int count)
{
    if (client.process.hProcess != nullptr) {
        for (int number = 1; number <= count; ++number)
            ReleaseInScript(client, number);
        if (WaitForSingleObject(client.process.hProcess, kWindowWaitMs) != WAIT_OBJECT_0)
            TerminateProcess(client.process.hProcess, 99);
        CloseHandle(client.process.hThread);
        CloseHandle(client.process.hProcess);
    }
    DeleteFileW((client.folder + L"\\held").c_str());
    for (int number = 1; number <= count; ++number)
        DeleteFileW((client.folder + L"\\release" + std::to_wstring(number)).c_str());
    RemoveDirectoryW(client.folder.c_str());
    client = ScriptClient();
}

// Releases the script's object `number` and reports whether `server` then
// ends within kServerExitMs, and how long it took.
void ReleaseInScriptAndExpectEnd(const ScriptClient& client, int number, const Server& server,
                                 const std::wstring& what)
{
    const ULONGLONG start = GetTickCount64();
    ReleaseInScript(client, number);
    const bool ended = Ended(server, kServerExitMs);
    Report(ended, what + L" (" + std::to_wstring(GetTickCount64() - start) + L" ms)");
}

int VbscriptCreate(const std::wstring& exe)
{
    if (!RegisterByNormalStart(exe))
        return 0;
    ScriptClient client;
    if (StartScript(client, 1)) {
        Server server = WaitForNewServer({});
        Report(server.window != nullptr, L"a new process shows its main window for the script's object");
        Report(server.window != nullptr && !Ended(server, kStayMs), L"the process stays while the object is held");
        ReleaseInScriptAndExpectEnd(client, 1, server, L"released by the script, the object's process ends");
        Close(server);
    }
    EndScript(client, 1);
    return 0;
}

struct CloseWay {
    const wchar_t* name;
    UINT message;
    WPARAM wParam;
};

const CloseWay kCloseWays[] = {
    {L"the Exit button", WM_COMMAND, MAKEWPARAM(kIdExit, BN_CLICKED)},
    {L"the close box", WM_SYSCOMMAND, SC_CLOSE},
    {L"the Cancel command", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
};

int VbscriptCloseWhileHeld(const std::wstring& exe)
{
    if (!RegisterByNormalStart(exe))
        return 0;
    for (const CloseWay& way : kCloseWays) {
        ScriptClient client;
        if (StartScript(client, 1)) {
            Server server = WaitForNewServer({});
            Report(server.window != nullptr, L"the object's process shows its main window");
            if (server.window != nullptr) {
                PostMessageW(server.window, way.message, way.wParam, 0);
                const ULONGLONG deadline = GetTickCount64() + kWindowWaitMs;
                while (IsWindowVisible(server.window) && GetTickCount64() < deadline)
                    Sleep(kPollMs);
                Report(IsWindow(server.window) && !IsWindowVisible(server.window),
                       std::wstring(way.name) + L" hides the main window while the object is held");
                Report(!Ended(server, kStayMs), L"the hidden process stays");
            }
            ReleaseInScriptAndExpectEnd(client, 1, server, L"releasing the object ends the hidden process");
            Close(server);
        }
        EndScript(client, 1);
    }
    return 0;
}

int VbscriptTwoObjects(const std::wstring& exe)
{
    if (!RegisterByNormalStart(exe))
        return 0;
    ScriptClient client;
    if (StartScript(client, 2)) {
        Server one = WaitForNewServer({});
        Server other = WaitForNewServer({one.processId});
        Report(one.window != nullptr && other.window != nullptr,
               L"two objects, two processes (" + std::to_wstring(one.processId) + L", " +
                   std::to_wstring(other.processId) + L")");
        if (one.window != nullptr && other.window != nullptr) {
            // Which process serves the first object is not known here: the
            // first release must end exactly one of them.
            ReleaseInScript(client, 1);
            const HANDLE both[] = {one.process, other.process};
            const DWORD first = WaitForMultipleObjects(2, both, FALSE, kServerExitMs);
            Report(first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1,
                   L"releasing the first object ends one process");
            const Server& remaining = first == WAIT_OBJECT_0 ? other : one;
            Report(!Ended(remaining, kStayMs), L"the other process still serves its object");
            ReleaseInScriptAndExpectEnd(client, 2, remaining, L"releasing the second object ends the other process");
        }
        Close(one);
        Close(other);
    }
    EndScript(client, 2);
    return 0;
}

struct Scenario {
    const wchar_t* name;
    int (*run)(const std::wstring& exe);
};

const Scenario kScenarios[] = {
    {L"registry", &Registry},
    {L"create", &Create},
    {L"vbscript-create", &VbscriptCreate},
    {L"vbscript-close-while-held", &VbscriptCloseWhileHeld},
    {L"vbscript-two-objects", &VbscriptTwoObjects},
};

// A Unix path (as the build system knows it) on Wine's Z: drive.
std::wstring WindowsPath(std::wstring path)
{
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 && argc != 4) {
        std::fwprintf(stderr, L"usage: automation_client.exe SCENARIO QUORVEL_EXE [SCRIPT]\n");
        return 2;
    }
    if (argc == 4)
        g_script = WindowsPath(argv[3]);
    for (const Scenario& scenario : kScenarios) {
        if (std::wcscmp(scenario.name, argv[1]) != 0)
            continue;
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            std::fwprintf(stderr, L"client: COM does not start\n");
            return 2;
        }
        scenario.run(WindowsPath(argv[2]));
        CoUninitialize();
        std::fwprintf(stderr, L"client: %ls: %d failed\n", argv[1], g_failures);
        return g_failures == 0 ? 0 : 1;
    }
    std::fwprintf(stderr, L"client: unknown scenario %ls\n", argv[1]);
    return 2;
}
