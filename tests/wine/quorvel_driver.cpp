// quorvel_driver: starts Quorvel.exe and drives it as a user would, through
// window messages only: finds its dialogs by class (#32770) and caption,
// clicks buttons by control ID, reads texts with WM_GETTEXT, opens the
// system menu's About item, and checks how the program ends.
//
// Usage: quorvel_driver.exe SCENARIO QUORVEL_EXE [SCENARIO ARGUMENTS...]
// Scenarios (see kScenarios below):
//   wait ARGS...          started with ARGS (may be none), the window shows
//                         the prompt and waits; WM_CLOSE then ends it
//   close-box | cancel-command
//                         SC_CLOSE, WM_COMMAND IDCANCEL; the Exit button
//                         ends each of system-menu to fetch-fails
//   system-menu           the About item of the system menu (the one above
//                         the last, the logon task's), chosen from
//                         the keyboard, and the IDM_ABOUTBOX command open
//                         the About box; IDOK closes it again
//   about-box             the About button opens the About box: texts,
//                         read-only credit box, its close box
//   contact-link RECORDER OUT
//                         with RECORDER registered for the tencent: scheme
//                         (it writes its argument to OUT), WM_CANCELMODE
//                         and the contact button open the contact link
//   contact-link-fails    with no handler for tencent:, WM_CANCELMODE
//                         leaves the About box and the program working
//   buttons               (needs the stand-in server as www.baidu.com)
//                         fetch, apply and the one-click button
//   responsive-read DIR   (needs the stand-in that answers after 8 s) while
//                         the fetch button's read waits, a message sent from
//                         here is answered within a second, the window
//                         repaints after another X window covered it (shots
//                         in DIR, taken by the host's ImageMagick), and a
//                         click made meanwhile is handled after the read
//   fetch-fails           (no server) each of the five attempts shows
//                         "Failed to connect to server"; the text stays
//   auto-fails            (no server) "auto": five message boxes, each of
//                         which closes itself (nobody clicks), then the
//                         program ends by itself with status 1
//   logon-task            `install` registers the logon task (the file
//                         Wine keeps under system32\tasks), the system
//                         menu's item removes and adds it again, and
//                         `uninstall` removes it
//   scaling DIR           at the DPI the Wine session started with
//                         (run_case.sh --dpi): the blue line's row as a
//                         share of the client height (read from shots of
//                         the X screen in DIR), kept in DIR at 96 DPI;
//                         above it, that share stays within 2 % of the one
//                         at 96 and the About picture fills its frame
//   pose WHAT DONEFILE    shows the main window (WHAT=main) or the About
//                         box (WHAT=about), prints "RECT l t r b c" of it
//                         (c: the client area's first row, below the
//                         caption) and waits until DONEFILE exists
//                         (screenshots)
// Paths may be Unix paths; they are taken as Wine's Z: drive.
// Quorvel.exe's standard streams are the driver's. The driver reports on
// standard error. Exit status: 0 all checks passed, 1 a check failed,
// 2 bad usage or the program could not be started.

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Texts of the program, as its windows show them.
const wchar_t kMainCaption[] = L"Ostrevin";
const wchar_t kAboutCaption[] = L"关于";
const wchar_t kMessageBoxCaption[] = L"Quorvel";
const wchar_t kPrompt[] = L"请点击按钮读取时间。";
// Thu, 13 Feb 2025 11:46:19 GMT, the stand-in server's date, at UTC+8.
const wchar_t kFetchedText[] = L"2025年2月13日19点46分19秒";
const wchar_t kConnectFailed[] = L"Failed to connect to server";

// Control and command IDs (res/resource.h).
constexpr int kIdFetch = 1000;
constexpr int kIdTimeText = 1001;
constexpr int kIdApply = 1002;
constexpr int kIdExit = 1003;
constexpr int kIdAbout = 1004;
constexpr int kIdFetchAndApply = 1005;
constexpr int kIdContact = 1000;
constexpr int kIdAboutText = 1001;
constexpr UINT kIdmAboutBox = 0x0010;
// The static control that holds a message box's text.
constexpr int kIdMessageBoxText = 0xFFFF;

constexpr DWORD kWindowWaitMs = 20000;
constexpr DWORD kExitWaitMs = 20000;
constexpr DWORD kPollMs = 50;

int g_failures = 0;

void Report(bool ok, const std::wstring& what)
{
    if (!ok)
        ++g_failures;
    std::fwprintf(stderr, L"driver: %ls %ls\n", ok ? L"ok  " : L"FAIL", what.c_str());
}

// Escapes non-ASCII characters, so reports survive any console code page.
std::wstring Show(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += c;
        } else {
            wchar_t buffer[16];
            std::swprintf(buffer, 16, L"\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out + L"\"";
}

void ExpectText(const std::wstring& what, const std::wstring& actual, const std::wstring& expected)
{
    Report(actual == expected, what + L": " + Show(actual) +
                                   (actual == expected ? L"" : L", want " + Show(expected)));
}

// --- The program under test --------------------------------------------------

// A Unix path (as the build system knows it) on Wine's Z: drive; other
// paths unchanged.
std::wstring WindowsPath(const std::wstring& path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    std::wstring windows = L"Z:" + path;
    for (wchar_t& c : windows) {
        if (c == L'/')
            c = L'\\';
    }
    return windows;
}

struct Program {
    PROCESS_INFORMATION process = {};
    bool running = false;
};

bool Start(Program& program, const std::wstring& exe, const std::vector<std::wstring>& args)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    for (const std::wstring& arg : args)
        commandLine += L" " + arg;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &program.process)) {
        Report(false, L"start " + exe + L" (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    program.running = true;
    return true;
}

// Waits for the program to end; its exit code, or -1 when it did not end
// within `ms`.
long WaitForExit(Program& program, DWORD ms)
{
    if (WaitForSingleObject(program.process.hProcess, ms) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(program.process.hProcess, &code);
    program.running = false;
    return static_cast<long>(code);
}

void Stop(Program& program)
{
    if (program.running) {
        TerminateProcess(program.process.hProcess, 99);
        WaitForSingleObject(program.process.hProcess, 5000);
        program.running = false;
    }
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
}

// --- Windows -----------------------------------------------------------------

std::wstring WindowText(HWND hwnd)
{
    wchar_t buffer[1024] = L"";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                             5000, &length))
        return L"<no answer>";
    return std::wstring(buffer, length < 1024 ? length : 1023);
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t name[64] = L"";
    GetClassNameW(hwnd, name, 64);
    return name;
}

struct Search {
    DWORD processId;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    if (processId != search->processId || !IsWindowVisible(hwnd) || ClassName(hwnd) != L"#32770" ||
        WindowText(hwnd) != search->caption)
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

// The program's visible dialog with this caption, or null.
HWND FindDialog(const Program& program, const wchar_t* caption)
{
    Search search = {program.process.dwProcessId, caption, nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for that dialog; null when it does not show within `ms` or the
// program ends first.
HWND WaitForDialog(const Program& program, const wchar_t* caption, DWORD ms = kWindowWaitMs)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        if (HWND hwnd = FindDialog(program, caption))
            return hwnd;
        if (GetTickCount64() >= deadline ||
            WaitForSingleObject(program.process.hProcess, kPollMs) == WAIT_OBJECT_0)
            return nullptr;
    }
}

// Waits until `hwnd` is gone (or hidden).
bool WaitForClose(HWND hwnd, DWORD ms = kWindowWaitMs)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

std::wstring ControlText(HWND dialog, int id)
{
    const HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : L"<no control>";
}

// Waits until control `id` shows `expected`; returns the last text seen.
std::wstring WaitForText(HWND dialog, int id, const std::wstring& expected, DWORD ms)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    std::wstring text = ControlText(dialog, id);
    while (text != expected && GetTickCount64() < deadline) {
        Sleep(kPollMs);
        text = ControlText(dialog, id);
    }
    return text;
}

// A click on button `id`: its BN_CLICKED notification, posted, so that a
// handler that opens a modal box does not block the driver.
void Click(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Whether the window answers messages (its thread is not stuck).
bool Responds(HWND hwnd)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

// --- Steps shared by the scenarios -------------------------------------------

HWND StartAndFindMain(Program& program, const std::wstring& exe, const std::vector<std::wstring>& args)
{
    if (!Start(program, exe, args))
        return nullptr;
    const HWND main = WaitForDialog(program, kMainCaption);
    Report(main != nullptr, L"the main window shows");
    return main;
}

void ExpectExit(Program& program, const std::wstring& how)
{
    const long code = WaitForExit(program, kExitWaitMs);
    Report(code != -1, how + L" ends the program (exit code " + std::to_wstring(code) + L")");
}

// Checks the About box that is open over `main`, then closes it with `close`
// (a command ID, or 0 for the close box).
void CheckAboutBox(const Program& program, HWND main, int close)
{
    const HWND about = WaitForDialog(program, kAboutCaption);
    Report(about != nullptr, L"the About box shows");
    if (about == nullptr)
        return;
    Report(GetWindow(about, GW_OWNER) == main, L"the About box belongs to the main window");
    Report(!IsWindowEnabled(main), L"the main window is disabled while the About box is open");

    const std::wstring text = ControlText(about, kIdAboutText);
    const std::size_t first = text.find(L"\r\n");
    const std::size_t second = first == std::wstring::npos ? first : text.find(L"\r\n", first + 2);
    Report(second != std::wstring::npos && text.find(L"\r\n", second + 2) == std::wstring::npos &&
               text.compare(first + 2, 3, L"QQ:") == 0 && text.compare(second + 2, 6, L"Email：") == 0,
           L"control 1001 holds the three-line credit: " + Show(text));

    const HWND edit = GetDlgItem(about, kIdAboutText);
    Report((GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0, L"control 1001 is read-only");
    SendMessageTimeoutW(edit, WM_CHAR, L'X', 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    SendMessageTimeoutW(edit, WM_KEYDOWN, VK_DELETE, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    ExpectText(L"control 1001 after typing", ControlText(about, kIdAboutText), text);

    if (close != 0)
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
    else
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
    Report(WaitForClose(about), L"the About box closes");
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!IsWindowEnabled(main) && GetTickCount64() < deadline)
        Sleep(kPollMs);
    Report(IsWindowEnabled(main), L"the main window is enabled again");
}

// --- The tencent: protocol handler of the test prefix ------------------------

const wchar_t kProtocolKey[] = L"Software\\Classes\\tencent";

void UnregisterProtocol()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kProtocolKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProtocolKey);
}

bool SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// Registers `recorder` as the handler of tencent: links, with `out` as its
// first argument and the link as its second.
bool RegisterProtocol(const std::wstring& recorder, const std::wstring& out)
{
    const std::wstring key = kProtocolKey;
    const std::wstring command = L"\"" + recorder + L"\" \"" + out + L"\" \"%1\"";
    return SetValue(HKEY_LOCAL_MACHINE, key, nullptr, L"URL:tencent Protocol") &&
           SetValue(HKEY_LOCAL_MACHINE, key, L"URL Protocol", L"") &&
           SetValue(HKEY_LOCAL_MACHINE, key + L"\\shell\\open\\command", nullptr, command);
}

// The file's text (ASCII), once it exists and is complete; "" on time-out.
std::wstring WaitForFile(const std::wstring& path, DWORD ms)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        if (FILE* file = _wfopen(path.c_str(), L"rb")) {
            std::string bytes;
            char buffer[512];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                bytes.append(buffer, n);
            std::fclose(file);
            if (!bytes.empty() && bytes.back() == '\n') {
                bytes.pop_back();
                return std::wstring(bytes.begin(), bytes.end());
            }
        }
        if (GetTickCount64() >= deadline)
            return L"";
        Sleep(kPollMs);
    }
}

bool AllHex(const std::wstring& text, std::size_t from, std::size_t count)
{
    if (text.size() < from + count)
        return false;
    for (std::size_t i = from; i < from + count; ++i) {
        const wchar_t c = text[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    }
    return true;
}

// tencent://message/?Menu=yes&uin=<digits>&Site=&Service=201&sigT=<96 hex>&sigU=<80 hex>
void CheckContactLink(const std::wstring& what, const std::wstring& link, const std::wstring& account)
{
    const std::wstring head = L"tencent://message/?Menu=yes&uin=" + account + L"&Site=&Service=201&sigT=";
    const std::size_t sigT = head.size();
    const std::size_t sigU = sigT + 96 + 6;
    const bool ok = link.compare(0, head.size(), head) == 0 && AllHex(link, sigT, 96) &&
                    link.compare(sigT + 96, 6, L"&sigU=") == 0 && AllHex(link, sigU, 80) &&
                    link.size() == sigU + 80;
    Report(ok, what + L" opens the contact link " + Show(link));
}

// The account number after "QQ:" in the About box's credit.
std::wstring AccountInCredit(HWND about)
{
    const std::wstring text = ControlText(about, kIdAboutText);
    const std::size_t at = text.find(L"QQ:");
    if (at == std::wstring::npos)
        return L"<none>";
    std::size_t end = at + 3;
    while (end < text.size() && text[end] >= L'0' && text[end] <= L'9')
        ++end;
    return text.substr(at + 3, end - at - 3);
}

// --- Programs of the host ------------------------------------------------------

// Runs `command` (no double quotes in it) with the host's /bin/sh, with DIR
// (a Unix path) as its working folder, and waits up to `ms` for it to end.
// Wine starts a Unix program from CreateProcess but gives no handle to wait
// on: the shell writes the command's exit status to a file, which is
// waited for. Returns that status, or -1 when it did not end in time.
int RunOnHost(const std::wstring& dir, const std::wstring& command, DWORD ms = 20000)
{
    static int runs = 0;
    const std::wstring status = dir + L"/status-" + std::to_wstring(++runs);
    DeleteFileW(WindowsPath(status).c_str());  // left by an earlier run
    std::wstring line = L"Z:\\bin\\sh -c \"cd " + dir + L" && " + command + L"; echo $? > " + status + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    const std::wstring text = WaitForFile(WindowsPath(status), ms);
    return text.empty() ? -1 : std::wcstol(text.c_str(), nullptr, 10);
}

// A shot of the screen's rectangle `r` into DIR/NAME.png.
bool Shoot(const std::wstring& dir, const RECT& r, const std::wstring& name)
{
    return RunOnHost(dir, L"import -window root -crop " + std::to_wstring(r.right - r.left) + L"x" +
                              std::to_wstring(r.bottom - r.top) + L"+" + std::to_wstring(r.left) + L"+" +
                              std::to_wstring(r.top) + L" +repage " + name + L".png") == 0;
}

// How many pixels differ (by more than 5% of the colour range) between
// DIR/A.png and DIR/B.png; -1 when they cannot be compared.
long DifferingPixels(const std::wstring& dir, const std::wstring& a, const std::wstring& b)
{
    const std::wstring out = a + L"-" + b + L".txt";
    DeleteFileW(WindowsPath(dir + L"/" + out).c_str());
    // compare prints the count on standard error and exits 1 when they differ.
    if (RunOnHost(dir, L"echo $(compare -metric AE -fuzz 5% " + a + L".png " + b + L".png null: 2>&1) > " + out) != 0)
        return -1;
    const std::wstring count = WaitForFile(WindowsPath(dir + L"/" + out), 5000);
    wchar_t* end = nullptr;
    const long n = std::wcstol(count.c_str(), &end, 10);
    return !count.empty() && *end == L'\0' ? n : -1;
}

// --- Scenarios -----------------------------------------------------------------

struct Context {
    std::wstring exe;
    std::vector<std::wstring> args;  // after QUORVEL_EXE
};

int Wait(const Context& c)
{
    Program program;
    const HWND main = StartAndFindMain(program, c.exe, c.args);
    if (main != nullptr) {
        ExpectText(L"status text", ControlText(main, kIdTimeText), kPrompt);
        Sleep(500);
        Report(WaitForSingleObject(program.process.hProcess, 0) == WAIT_TIMEOUT,
               L"the program waits for the user");
        PostMessageW(main, WM_CLOSE, 0, 0);
        ExpectExit(program, L"WM_CLOSE");
    }
    Stop(program);
    return 0;
}

int Ending(const Context& c, void (*end)(HWND), const wchar_t* how)
{
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        end(main);
        ExpectExit(program, how);
    }
    Stop(program);
    return 0;
}

int CloseBox(const Context& c)
{
    return Ending(c, [](HWND main) { PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0); },
                  L"the close box (WM_SYSCOMMAND SC_CLOSE)");
}

int CancelCommand(const Context& c)
{
    return Ending(c, [](HWND main) { PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); },
                  L"the Cancel command (WM_COMMAND IDCANCEL)");
}

struct MenuSearch {
    DWORD processId;
    bool found;
};

BOOL CALLBACK MatchMenu(HWND hwnd, LPARAM param)
{
    MenuSearch* search = reinterpret_cast<MenuSearch*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    if (processId == search->processId && IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32768")
        search->found = true;
    return !search->found;
}

// Whether the program shows a popup menu (class #32768).
bool MenuIsOpen(const Program& program)
{
    MenuSearch search = {program.process.dwProcessId, false};
    EnumWindows(&MatchMenu, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void PostKey(HWND hwnd, WPARAM key)
{
    PostMessageW(hwnd, WM_KEYDOWN, key, 1);
    PostMessageW(hwnd, WM_KEYUP, key, 1 | (3u << 30));
}

// Menus are private to their process under Wine, so the driver cannot read
// the system menu's items (the Win32 dialog test checks them in-process).
// It opens the menu from the keyboard instead, chooses the About item (the
// one above the last, the logon task's), and expects the About box; then
// sends the About command itself.
int SystemMenu(const Context& c)
{
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        PostMessageW(main, WM_SYSCOMMAND, SC_KEYMENU, L' ');
        const ULONGLONG deadline = GetTickCount64() + kWindowWaitMs;
        while (!MenuIsOpen(program) && GetTickCount64() < deadline)
            Sleep(kPollMs);
        Report(MenuIsOpen(program), L"the system menu opens");
        PostKey(main, VK_END);
        PostKey(main, VK_UP);
        PostKey(main, VK_RETURN);
        CheckAboutBox(program, main, IDOK);

        PostMessageW(main, WM_SYSCOMMAND, kIdmAboutBox, 0);
        CheckAboutBox(program, main, IDOK);
        Report(Responds(main), L"the main window works after the About box");
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

int AboutBox(const Context& c)
{
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Click(main, kIdAbout);
        CheckAboutBox(program, main, 0);
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

int ContactLink(const Context& c)
{
    if (c.args.size() != 2)
        return 2;
    const std::wstring recorder = WindowsPath(c.args[0]);
    const std::wstring out = WindowsPath(c.args[1]);
    UnregisterProtocol();
    Report(RegisterProtocol(recorder, out), L"the tencent: handler is registered");
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Click(main, kIdAbout);
        if (const HWND about = WaitForDialog(program, kAboutCaption)) {
            const std::wstring account = AccountInCredit(about);
            DeleteFileW(out.c_str());
            SendMessageTimeoutW(about, WM_CANCELMODE, 0, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
            CheckContactLink(L"WM_CANCELMODE", WaitForFile(out, 15000), account);
            DeleteFileW(out.c_str());
            Click(about, kIdContact);
            CheckContactLink(L"the contact button", WaitForFile(out, 15000), account);
            Report(Responds(about), L"the About box still works");
            PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Report(WaitForClose(about), L"the About box closes");
        } else {
            Report(false, L"the About box shows");
        }
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    UnregisterProtocol();
    return 0;
}

int ContactLinkFails(const Context& c)
{
    UnregisterProtocol();
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Click(main, kIdAbout);
        if (const HWND about = WaitForDialog(program, kAboutCaption)) {
            DWORD_PTR result = 0;
            Report(SendMessageTimeoutW(about, WM_CANCELMODE, 0, 0, SMTO_ABORTIFHUNG, 10000, &result) != 0,
                   L"WM_CANCELMODE returns with no handler for the link");
            Report(Responds(about), L"the About box still works");
            Report(FindDialog(program, kMessageBoxCaption) == nullptr, L"no message box appears");
            PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Report(WaitForClose(about), L"the About box closes");
        } else {
            Report(false, L"the About box shows");
        }
        ExpectText(L"status text", ControlText(main, kIdTimeText), kPrompt);
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

int Buttons(const Context& c)
{
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Click(main, kIdFetch);
        ExpectText(L"after the fetch button (1000)", WaitForText(main, kIdTimeText, kFetchedText, 20000),
                   kFetchedText);
        Click(main, kIdApply);
        Report(Responds(main), L"the apply button (1002) returns");
        SetDlgItemTextW(main, kIdTimeText, L"");
        Click(main, kIdFetchAndApply);
        ExpectText(L"after the one-click button (1005)",
                   WaitForText(main, kIdTimeText, kFetchedText, 20000), kFetchedText);
        Report(Responds(main), L"the one-click button returns");
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

// Closes the "Failed to connect to server" boxes as they come; returns how
// many there were, once `done` holds or no box came for a while: the time of
// one attempt and its pause, or a short while once `expected` boxes came.
int CloseConnectFailureBoxes(const Program& program, bool (*done)(const Program&), int expected)
{
    int boxes = 0;
    for (;;) {
        const HWND box = WaitForDialog(program, kMessageBoxCaption, boxes < expected ? 8000 : 1500);
        if (box == nullptr)
            return boxes;
        ++boxes;
        ExpectText(L"message box " + std::to_wstring(boxes), ControlText(box, kIdMessageBoxText),
                   kConnectFailed);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitForClose(box);
        if (done(program))
            return boxes;
    }
}

// Reads stay on the window's thread, so a read that waits for the server
// must not stop the window: messages sent to it are answered and it
// repaints, while input (a click) waits until the read is done.
int ResponsiveRead(const Context& c)
{
    if (c.args.size() != 1)
        return 2;
    const std::wstring dir = c.args[0];
    CreateDirectoryW(WindowsPath(dir).c_str(), nullptr);
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Sleep(1000);  // let every control paint
        RECT r;
        GetWindowRect(main, &r);
        const long pixels = (r.right - r.left) * (r.bottom - r.top);
        Report(Shoot(dir, r, L"before"), L"a shot of the window before the click");

        const ULONGLONG clicked = GetTickCount64();
        Click(main, kIdFetch);
        Sleep(300);
        // A black X window over the dialog for a second; once it is gone,
        // the dialog has 1.5 s to paint itself again.
        const std::wstring geometry = std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top) +
                                      L"+" + std::to_wstring(r.left) + L"+" + std::to_wstring(r.top);
        Report(RunOnHost(dir, L"xmessage -geometry " + geometry + L" -bg black -fg black -timeout 1 cover") == 0,
               L"xmessage covered the window for a second");
        Sleep(1500);
        Report(Shoot(dir, r, L"uncovered"), L"a shot of the window 1.5 s after");
        const long differing = DifferingPixels(dir, L"before", L"uncovered");
        Report(differing >= 0 && differing * 100 <= pixels,
               L"the window repainted during the read: " + std::to_wstring(differing) + L" of " +
                   std::to_wstring(pixels) + L" pixels differ from before the click (at most 1%)");

        const ULONGLONG sent = GetTickCount64();
        wchar_t caption[64] = L"";
        const bool answered = SendMessageTimeoutW(main, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(caption),
                                                  SMTO_NORMAL, 1000, nullptr) != 0;
        Report(answered && std::wcscmp(caption, kMainCaption) == 0,
               L"WM_GETTEXT sent during the read is answered in " + std::to_wstring(GetTickCount64() - sent) +
                   L" ms (within 1000 ms): " + Show(caption));

        Click(main, kIdAbout);
        Sleep(500);
        // The server answers 8 s after the fetch button's request.
        const ULONGLONG since = GetTickCount64() - clicked;
        Report(FindDialog(program, kAboutCaption) == nullptr && since < 7500,
               L"the About button clicked during the read waits for it (" + std::to_wstring(since) +
                   L" ms after the fetch button)");
        const HWND about = WaitForDialog(program, kAboutCaption);
        ExpectText(L"when the About box opens", ControlText(main, kIdTimeText), kFetchedText);
        if (about != nullptr) {
            PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Report(WaitForClose(about), L"the About box closes");
        }
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

int FetchFails(const Context& c)
{
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Click(main, kIdFetch);
        const int boxes = CloseConnectFailureBoxes(
            program, [](const Program&) { return false; }, 5);
        Report(boxes == 5, L"five attempts, five message boxes (" + std::to_wstring(boxes) + L")");
        ExpectText(L"status text", ControlText(main, kIdTimeText), kPrompt);
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

// Nobody clicks: each "Failed to connect to server" box of the unattended
// run must close by itself, and the program end by itself.
int AutoFails(const Context& c)
{
    Program program;
    const ULONGLONG started = GetTickCount64();
    if (Start(program, c.exe, {L"auto"})) {
        int boxes = 0;
        while (const HWND box = WaitForDialog(program, kMessageBoxCaption, 15000)) {
            ++boxes;
            ExpectText(L"message box " + std::to_wstring(boxes) + L", shown " +
                           std::to_wstring(GetTickCount64() - started) + L" ms after the start",
                       ControlText(box, kIdMessageBoxText), kConnectFailed);
            // Found again until it has gone: the box of the next attempt is
            // another window.
            const ULONGLONG deadline = GetTickCount64() + 30000;
            while (FindDialog(program, kMessageBoxCaption) == box && GetTickCount64() < deadline)
                Sleep(kPollMs);
            Report(FindDialog(program, kMessageBoxCaption) != box, L"message box " + std::to_wstring(boxes) +
                                                                    L" closes by itself");
        }
        Report(boxes == 5, L"five attempts, five message boxes (" + std::to_wstring(boxes) + L")");
        const long code = WaitForExit(program, kExitWaitMs);
        Report(code == 1, L"auto mode ends the program by itself with status 1, no time read, " +
                              std::to_wstring(GetTickCount64() - started) + L" ms after the start (exit code " +
                              std::to_wstring(code) + L")");
    }
    Stop(program);
    return 0;
}

// Where Wine's Task Scheduler keeps the task "Quorvel".
std::wstring TaskFile()
{
    wchar_t folder[MAX_PATH] = L"";
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\tasks\\Quorvel";
}

bool TaskFileExists()
{
    return GetFileAttributesW(TaskFile().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs Quorvel.exe with `word` and expects status 0.
void RunTaskCommand(const std::wstring& exe, const wchar_t* word)
{
    Program program;
    if (!Start(program, exe, {word}))
        return;
    const long code = WaitForExit(program, 60000);
    Report(code == 0, std::wstring(word) + L" ends with status 0 (" + std::to_wstring(code) + L")");
    Stop(program);
}

// Waits until the task file is there (or gone).
bool WaitForTaskFile(bool exists)
{
    const ULONGLONG deadline = GetTickCount64() + kWindowWaitMs;
    while (TaskFileExists() != exists && GetTickCount64() < deadline)
        Sleep(kPollMs);
    return TaskFileExists() == exists;
}

int LogonTask(const Context& c)
{
    constexpr UINT kIdmLogonTask = 0x0020;
    RunTaskCommand(c.exe, L"uninstall");
    Report(!TaskFileExists(), L"no task before install");
    RunTaskCommand(c.exe, L"install");
    Report(TaskFileExists(), L"install leaves " + TaskFile());
    const std::wstring text = WaitForFile(TaskFile(), 5000);
    // What Wine keeps of the definition: its settings.
    for (const wchar_t* setting : {L"<RunOnlyIfNetworkAvailable>true<", L"<ExecutionTimeLimit>PT5M<",
                                   L"<MultipleInstancesPolicy>IgnoreNew<"})
        Report(text.find(setting) != std::wstring::npos, L"the task has " + Show(setting));

    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        PostMessageW(main, WM_SYSCOMMAND, kIdmLogonTask, 0);
        Report(WaitForTaskFile(false), L"the system menu's item removes the task");
        PostMessageW(main, WM_SYSCOMMAND, kIdmLogonTask, 0);
        Report(WaitForTaskFile(true), L"and adds it again");
        Report(Responds(main), L"the main window works after the item");
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    RunTaskCommand(c.exe, L"uninstall");
    Report(!TaskFileExists(), L"uninstall removes the task");
    return 0;
}

// The first row of client column `x` that the screen shows in `colour`, or -1.
// The column is read from a shot of the X screen (in DIR), what a user sees:
// Wine 10's screen DC (GetDC(nullptr)) does not show other processes'
// windows, so GetPixel there finds nothing.
int FirstRowOfColour(const std::wstring& dir, HWND hwnd, int x, COLORREF colour)
{
    RECT client;
    GetClientRect(hwnd, &client);
    POINT origin = {x, 0};
    ClientToScreen(hwnd, &origin);
    const RECT column = {origin.x, origin.y, origin.x + 1, origin.y + client.bottom};
    if (!Shoot(dir, column, L"column"))
        return -1;
    wchar_t hex[8];
    std::swprintf(hex, 8, L"%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    const std::wstring out = L"column-row.txt";
    DeleteFileW(WindowsPath(dir + L"/" + out).c_str());
    // ImageMagick's txt: format has a line "0,ROW: (r,g,b)  #RRGGBB ..." per pixel.
    if (RunOnHost(dir, L"row=$(convert column.png txt:- | grep -m1 '#" + std::wstring(hex) +
                           L"' | cut -d, -f2 | cut -d: -f1); echo ${row:--1} > " + out) != 0)
        return -1;
    const std::wstring row = WaitForFile(WindowsPath(dir + L"/" + out), 5000);
    return row.empty() ? -1 : static_cast<int>(std::wcstol(row.c_str(), nullptr, 10));
}

// Starts the program at the session's DPI; returns the blue line's row over
// the client height, and that height in `*height` (0 when the window did not
// show). Above 96 DPI it also checks the About picture against its frame:
// 200 x 177 of the box's 206 x 273 dialog units, from 3, 26.
double LineShareAt(const Context& c, int dpi, long* height)
{
    const std::wstring& dir = c.args[0];
    double share = -1;
    RECT client = {};
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        Sleep(1000);  // let every control paint
        GetClientRect(main, &client);
        const int row = FirstRowOfColour(dir, main, 3, RGB(0, 0, 255));
        share = row < 0 ? -1.0 : static_cast<double>(row) / client.bottom;
        std::fwprintf(stderr, L"driver: at %d DPI the line is at row %d of %ld\n", dpi, row, client.bottom);
        if (dpi > 96) {
            Click(main, kIdAbout);
            const HWND about = WaitForDialog(program, kAboutCaption);
            Sleep(1000);
            RECT box = {}, shown = {};
            GetClientRect(about, &box);
            const long width = box.right * 200 / 206, height = box.bottom * 177 / 273;
            // The picture control, which takes the size of its bitmap.
            GetWindowRect(ChildWindowFromPoint(about, {box.right / 2, box.bottom * 114 / 273}), &shown);
            Report(about != nullptr && std::abs(shown.right - shown.left - width) <= 2 &&
                       std::abs(shown.bottom - shown.top - height) <= 2,
                   L"the About picture at " + std::to_wstring(dpi) + L" DPI is " +
                       std::to_wstring(shown.right - shown.left) + L" x " + std::to_wstring(shown.bottom - shown.top) +
                       L", its frame " + std::to_wstring(width) + L" x " + std::to_wstring(height));
            PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            WaitForClose(about);
        }
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    *height = client.bottom;
    return share;
}

int Scaling(const Context& c)
{
    if (c.args.size() != 1)
        return 2;
    // In pixels of the screen: Wine 10 shows a DPI-unaware program another
    // process's windows scaled to 96 DPI, and the shots are in pixels.
    SetProcessDPIAware();
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    CreateDirectoryW(WindowsPath(c.args[0]).c_str(), nullptr);
    long height = 0;
    const double share = LineShareAt(c, dpi, &height);
    const std::wstring at96 = WindowsPath(c.args[0] + L"/at-96dpi.txt");
    if (dpi == 96) {
        Report(share > 0, L"the line shows at 96 DPI");
        if (FILE* file = _wfopen(at96.c_str(), L"w")) {
            std::fwprintf(file, L"%f %ld\n", share, height);
            std::fclose(file);
        }
        return 0;
    }
    double share96 = -1;
    long height96 = 0;
    if (FILE* file = _wfopen(at96.c_str(), L"r")) {
        if (std::fwscanf(file, L"%lf %ld", &share96, &height96) != 2)
            share96 = -1;
        std::fclose(file);
    }
    // The window grew with the DPI: Wine drew it at the session's DPI.
    Report(share96 > 0 && share > 0 && std::abs(share - share96) <= 0.02 && height * 96 >= height96 * dpi - 4 * 96,
           L"the line's share of the client height at " + std::to_wstring(dpi) + L" DPI (" +
               std::to_wstring(share * 100) + L" % of " + std::to_wstring(height) + L") is that at 96 DPI (" +
               std::to_wstring(share96 * 100) + L" % of " + std::to_wstring(height96) + L") within 2 %");
    return 0;
}

int Pose(const Context& c)
{
    if (c.args.size() != 2)
        return 2;
    const bool about = c.args[0] == L"about";
    Program program;
    if (const HWND main = StartAndFindMain(program, c.exe, {})) {
        HWND shown = main;
        if (about) {
            Click(main, kIdAbout);
            shown = WaitForDialog(program, kAboutCaption);
            Report(shown != nullptr, L"the About box shows");
        }
        if (shown != nullptr) {
            Sleep(1000);  // let every control paint
            RECT r;
            GetWindowRect(shown, &r);
            POINT client = {0, 0};
            ClientToScreen(shown, &client);
            std::printf("RECT %ld %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom, client.y - r.top);
            std::fflush(stdout);
            const ULONGLONG deadline = GetTickCount64() + 60000;
            while (GetFileAttributesW(WindowsPath(c.args[1]).c_str()) == INVALID_FILE_ATTRIBUTES &&
                   GetTickCount64() < deadline)
                Sleep(kPollMs);
        }
        if (about && shown != nullptr) {
            PostMessageW(shown, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            WaitForClose(shown);
        }
        Click(main, kIdExit);
        ExpectExit(program, L"the Exit button");
    }
    Stop(program);
    return 0;
}

struct Scenario {
    const wchar_t* name;
    int (*run)(const Context&);
};

const Scenario kScenarios[] = {
    {L"wait", &Wait},
    {L"close-box", &CloseBox},
    {L"cancel-command", &CancelCommand},
    {L"system-menu", &SystemMenu},
    {L"about-box", &AboutBox},
    {L"contact-link", &ContactLink},
    {L"contact-link-fails", &ContactLinkFails},
    {L"buttons", &Buttons},
    {L"responsive-read", &ResponsiveRead},
    {L"fetch-fails", &FetchFails},
    {L"auto-fails", &AutoFails},
    {L"logon-task", &LogonTask},
    {L"scaling", &Scaling},
    {L"pose", &Pose},
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: quorvel_driver.exe SCENARIO QUORVEL_EXE [ARGS...]\n");
        return 2;
    }
    Context context;
    context.exe = WindowsPath(argv[2]);
    context.args.assign(argv + 3, argv + argc);
    for (const Scenario& scenario : kScenarios) {
        if (std::wcscmp(scenario.name, argv[1]) != 0)
            continue;
        const int usage = scenario.run(context);
        if (usage != 0) {
            std::fwprintf(stderr, L"driver: bad arguments for %ls\n", argv[1]);
            return 2;
        }
        std::fwprintf(stderr, L"driver: %ls: %d failed\n", argv[1], g_failures);
        return g_failures == 0 ? 0 : 1;
    }
    std::fwprintf(stderr, L"driver: unknown scenario %ls\n", argv[1]);
    return 2;
}
