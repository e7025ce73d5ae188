// The logon task on Windows. Vista and later: a Task Scheduler 2.0 task
// "Quorvel" that starts this executable with "auto precise" 30 s after each
// logon, with the highest privileges (no consent prompt), only when a
// network connection is there, for at most 5 minutes, and never twice at
// once; registered from its XML through the COM interface, as
// `schtasks /Create /XML` does. Wine 8 implements that interface too and
// stores the task under C:\windows\system32\tasks, but keeps only the
// settings: its reader drops the triggers and the action, and it has no
// logon trigger at all.
// Windows XP has no Task Scheduler 2.0 (its class cannot be created): there
// a shortcut in the user's Startup folder does the same, since XP starts
// programs that ask for administrator rights from there.

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <taskschd.h>

#include <cstdio>
#include <string>

#include "logon_task.h"
#include "win32_text.h"

namespace {

const wchar_t kTaskName[] = L"Quorvel";
const wchar_t kShortcutName[] = L"\\Quorvel.lnk";
const wchar_t kArguments[] = L"auto precise";

// Task Scheduler 2.0's class and its service interface (taskschd.h).
const CLSID kClsidTaskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID kIidTaskService = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_text(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_text; }

private:
    BSTR m_text;
};

std::wstring ExecutablePath()
{
    wchar_t path[MAX_PATH] = L"";
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n < MAX_PATH ? n : 0);
}

std::wstring XmlEscaped(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// The task in Task Scheduler's XML (schema version 1.2, Vista and later).
std::wstring TaskXml(const std::wstring& exe)
{
    return L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
           L"<RegistrationInfo><Description>Sets the clock from the Internet at logon: Quorvel auto "
           L"precise.</Description></RegistrationInfo>"
           L"<Triggers><LogonTrigger><Enabled>true</Enabled><Delay>PT30S</Delay></LogonTrigger></Triggers>"
           L"<Principals><Principal id=\"Author\"><LogonType>InteractiveToken</LogonType>"
           L"<RunLevel>HighestAvailable</RunLevel></Principal></Principals>"
           L"<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
           L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
           L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
           L"<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>"
           L"<ExecutionTimeLimit>PT5M</ExecutionTimeLimit><Enabled>true</Enabled></Settings>"
           L"<Actions Context=\"Author\"><Exec><Command>" +
           XmlEscaped(exe) + L"</Command><Arguments>" + kArguments +
           L"</Arguments></Exec></Actions></Task>";
}

std::string Narrow(const std::wstring& text)
{
    return win32_text::Narrow(text.c_str(), static_cast<int>(text.size()));
}

std::string ErrorText(const char* what, HRESULT hr)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s (error 0x%08lX%s).", what, static_cast<unsigned long>(hr),
                  hr == E_ACCESSDENIED || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)
                      ? ": administrator rights are needed"
                      : "");
    return text;
}

// Task Scheduler 2.0's root folder in `*folder`. `*available` false when
// the system has no Task Scheduler 2.0 (Windows XP).
HRESULT OpenRootFolder(ITaskFolder** folder, bool* available)
{
    *folder = nullptr;
    ITaskService* service = nullptr;
    HRESULT hr = CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskService,
                                  reinterpret_cast<void**>(&service));
    *available = SUCCEEDED(hr);
    if (FAILED(hr))
        return hr;
    VARIANT none = {};
    none.vt = VT_EMPTY;
    hr = service->Connect(none, none, none, none);
    if (SUCCEEDED(hr))
        hr = service->GetFolder(Bstr(L"\\"), folder);
    service->Release();
    return hr;
}

// The shortcut in the user's Startup folder (Windows XP); empty when the
// folder is unknown.
std::wstring ShortcutPath()
{
    wchar_t folder[MAX_PATH] = L"";
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE))
        return L"";
    return folder + std::wstring(kShortcutName);
}

HRESULT SaveShortcut(const std::wstring& path, const std::wstring& exe)
{
    IShellLinkW* link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link));
    if (FAILED(hr))
        return hr;
    link->SetPath(exe.c_str());
    link->SetArguments(kArguments);
    IPersistFile* file = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
        hr = file->Save(path.c_str(), TRUE);
        file->Release();
    }
    link->Release();
    return hr;
}

}  // namespace

LogonTaskState AfxGetLogonTaskState()
{
    ITaskFolder* folder = nullptr;
    bool available = false;
    const HRESULT hr = OpenRootFolder(&folder, &available);
    if (!available) {
        const std::wstring shortcut = ShortcutPath();
        return !shortcut.empty() && GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES
                   ? LogonTaskState::Present
                   : LogonTaskState::Absent;
    }
    if (FAILED(hr))
        return LogonTaskState::Absent;
    IRegisteredTask* task = nullptr;
    const bool present = SUCCEEDED(folder->GetTask(Bstr(kTaskName), &task)) && task != nullptr;
    if (task != nullptr)
        task->Release();
    folder->Release();
    return present ? LogonTaskState::Present : LogonTaskState::Absent;
}

BOOL AfxInstallLogonTask(std::string* report)
{
    const std::wstring exe = ExecutablePath();
    const std::string command = "\"" + Narrow(exe) + "\" auto precise";
    ITaskFolder* folder = nullptr;
    bool available = false;
    HRESULT hr = OpenRootFolder(&folder, &available);
    if (!available) {
        const std::wstring shortcut = ShortcutPath();
        hr = shortcut.empty() ? E_FAIL : SaveShortcut(shortcut, exe);
        *report = SUCCEEDED(hr) ? "Added the shortcut " + Narrow(shortcut) + " to the Startup folder: " +
                                      command + " at every logon."
                                : ErrorText("Cannot add a shortcut to the Startup folder", hr);
        return SUCCEEDED(hr) ? TRUE : FALSE;
    }
    if (SUCCEEDED(hr)) {
        VARIANT none = {};
        none.vt = VT_EMPTY;
        IRegisteredTask* task = nullptr;
        hr = folder->RegisterTask(Bstr(kTaskName), Bstr(TaskXml(exe)), TASK_CREATE_OR_UPDATE, none, none,
                                  TASK_LOGON_INTERACTIVE_TOKEN, none, &task);
        if (task != nullptr)
            task->Release();
        folder->Release();
    }
    *report = SUCCEEDED(hr) ? "Registered the scheduled task Quorvel: " + command +
                                  " at every logon, with the highest privileges."
                            : ErrorText("Cannot register the scheduled task Quorvel", hr);
    return SUCCEEDED(hr) ? TRUE : FALSE;
}

BOOL AfxUninstallLogonTask(std::string* report)
{
    ITaskFolder* folder = nullptr;
    bool available = false;
    HRESULT hr = OpenRootFolder(&folder, &available);
    if (!available) {
        const std::wstring shortcut = ShortcutPath();
        if (shortcut.empty() || GetFileAttributesW(shortcut.c_str()) == INVALID_FILE_ATTRIBUTES) {
            *report = "There is no Quorvel shortcut in the Startup folder; nothing to remove.";
            return TRUE;
        }
        const bool removed = DeleteFileW(shortcut.c_str()) != FALSE;
        *report = removed ? "Removed the shortcut " + Narrow(shortcut) + " from the Startup folder."
                          : ErrorText("Cannot remove the shortcut from the Startup folder",
                                      HRESULT_FROM_WIN32(GetLastError()));
        return removed ? TRUE : FALSE;
    }
    if (SUCCEEDED(hr)) {
        hr = folder->DeleteTask(Bstr(kTaskName), 0);
        folder->Release();
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        *report = "There is no scheduled task Quorvel; nothing to remove.";
        return TRUE;
    }
    *report = SUCCEEDED(hr) ? "Removed the scheduled task Quorvel."
                            : ErrorText("Cannot remove the scheduled task Quorvel", hr);
    return SUCCEEDED(hr) ? TRUE : FALSE;
}
