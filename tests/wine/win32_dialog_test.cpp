// The Win32 backend's windows, in-process, over the program's real
// resources (this test links res/Quorvel.rc): the main dialog's
// initialisation and system menu (which another process cannot read under
// Wine), the modal loop (EndDialog, WM_QUIT, nesting), painting, message
// boxes, the string table and standard output.
//
// While a dialog runs modally, a thread timer plays a script of steps; each
// step returns true when done, false to be tried again at the next tick.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "AboutDlg.h"
#include "QuorvelDlg.h"
#include "resource.h"
#include "win32_text.h"

namespace {

using Step = std::function<bool()>;

constexpr UINT kTickMs = 20;
constexpr ULONGLONG kScriptLimitMs = 15000;

std::vector<Step> g_steps;
std::size_t g_next = 0;
ULONGLONG g_deadline = 0;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_next >= g_steps.size())
        return;
    if (GetTickCount64() > g_deadline) {
        ADD_FAILURE() << "the script is stuck at step " << g_next;
        g_steps.clear();
        PostQuitMessage(0);
        return;
    }
    // A step may block in a modal loop of its own, where later ticks play
    // the following steps.
    const std::size_t step = g_next++;
    if (!g_steps[step]() && g_next == step + 1)
        g_next = step;
}

// Runs `dialog` modally while the timer plays `steps`; returns DoModal's
// result.
INT_PTR RunWithScript(CDialog& dialog, std::vector<Step> steps)
{
    g_steps = std::move(steps);
    g_next = 0;
    g_deadline = GetTickCount64() + kScriptLimitMs;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, &Tick);
    const INT_PTR result = dialog.DoModal();
    KillTimer(nullptr, timer);
    EXPECT_EQ(g_steps.size(), g_next) << "the dialog ended before the script did";
    g_steps.clear();
    return result;
}

// A visible top-level dialog of this process with this caption, or null.
HWND FindOwnDialog(const wchar_t* caption)
{
    for (HWND hwnd = FindWindowW(L"#32770", caption); hwnd != nullptr;
         hwnd = FindWindowExW(nullptr, hwnd, L"#32770", caption)) {
        DWORD processId = 0;
        GetWindowThreadProcessId(hwnd, &processId);
        if (processId == GetCurrentProcessId() && IsWindowVisible(hwnd))
            return hwnd;
    }
    return nullptr;
}

std::wstring ItemText(HWND dialog, int id)
{
    wchar_t text[512] = L"";
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

// The name message boxes carry: this executable's name without extension.
std::wstring ExecutableName()
{
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name.erase(0, name.find_last_of(L"\\/") + 1);
    return name.substr(0, name.rfind(L'.'));
}

class Win32DialogTest : public ::testing::Test {
protected:
    void SetUp() override { app.m_pMainWnd = &dlg; }

    void TearDown() override
    {
        // DoModal posts a WM_QUIT that ended it again; drop it and anything
        // else left for the next test.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // A step that waits until the main dialog shows.
    Step Shown()
    {
        return [this] { return dlg.m_hWnd != nullptr && IsWindowVisible(dlg.m_hWnd); };
    }
    Step End(int result)
    {
        return [this, result] {
            dlg.EndDialog(result);
            return true;
        };
    }

    CWinApp app;
    CQuorvelDlg dlg;
};

TEST_F(Win32DialogTest, MainDialogShowsItsCaptionAndThePromptInUtf16)
{
    std::wstring caption;
    std::wstring status;
    const INT_PTR result = RunWithScript(dlg, {Shown(),
                                               [&] {
                                                   wchar_t text[64] = L"";
                                                   GetWindowTextW(dlg.m_hWnd, text, 64);
                                                   caption = text;
                                                   status = ItemText(dlg.m_hWnd, IDC_TIME_TEXT);
                                                   return true;
                                               },
                                               End(IDOK)});
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(L"Ostrevin", caption);
    EXPECT_EQ(L"请点击按钮读取时间。", status);
    EXPECT_EQ(nullptr, dlg.m_hWnd) << "the window is destroyed when DoModal returns";
}

TEST_F(Win32DialogTest, SystemMenuEndsWithASeparatorAndTheAboutItem)
{
    int count = -1;
    UINT separatorState = 0;
    std::wstring lastText;
    UINT lastId = 0;
    RunWithScript(dlg, {Shown(),
                        [&] {
                            const HMENU menu = GetSystemMenu(dlg.m_hWnd, FALSE);
                            count = GetMenuItemCount(menu);
                            if (count >= 2) {
                                separatorState = GetMenuState(menu, count - 2, MF_BYPOSITION);
                                wchar_t text[128] = L"";
                                GetMenuStringW(menu, count - 1, text, 128, MF_BYPOSITION);
                                lastText = text;
                                lastId = GetMenuItemID(menu, count - 1);
                            }
                            return true;
                        },
                        End(IDOK)});
    ASSERT_GE(count, 2);
    EXPECT_NE(0u, separatorState & MF_SEPARATOR);
    EXPECT_EQ(L"关于 Quorvel(&A)...", lastText);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), lastId);
}

TEST_F(Win32DialogTest, ApplicationIconIsTheBigAndTheSmallIcon)
{
    HICON big = nullptr;
    HICON small = nullptr;
    RunWithScript(dlg, {Shown(),
                        [&] {
                            big = reinterpret_cast<HICON>(SendMessageW(dlg.m_hWnd, WM_GETICON, ICON_BIG, 0));
                            small = reinterpret_cast<HICON>(SendMessageW(dlg.m_hWnd, WM_GETICON, ICON_SMALL, 0));
                            return true;
                        },
                        End(IDOK)});
    ASSERT_NE(nullptr, dlg.m_hIcon);
    EXPECT_EQ(dlg.m_hIcon, big);
    EXPECT_EQ(dlg.m_hIcon, small);
}

TEST_F(Win32DialogTest, AboutCommandOpensTheAboutBoxOverTheDisabledMainWindow)
{
    HWND about = nullptr;
    HWND owner = nullptr;
    HWND main = nullptr;
    BOOL mainEnabledDuring = TRUE;
    BOOL mainEnabledAfter = FALSE;
    std::wstring text;
    LONG editStyle = 0;
    RunWithScript(dlg, {Shown(),
                        [&] {
                            dlg.PostMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
                            return true;
                        },
                        [&] {
                            about = FindOwnDialog(L"关于");
                            if (about == nullptr)
                                return false;
                            owner = GetWindow(about, GW_OWNER);
                            main = dlg.m_hWnd;
                            mainEnabledDuring = IsWindowEnabled(dlg.m_hWnd);
                            text = ItemText(about, IDC_ABOUT_TEXT);
                            editStyle = GetWindowLongW(GetDlgItem(about, IDC_ABOUT_TEXT), GWL_STYLE);
                            PostMessageW(about, WM_COMMAND, IDOK, 0);
                            return true;
                        },
                        [&] {
                            if (IsWindow(about))
                                return false;
                            mainEnabledAfter = IsWindowEnabled(dlg.m_hWnd);
                            return true;
                        },
                        End(IDOK)});
    ASSERT_NE(nullptr, about);
    EXPECT_EQ(main, owner);
    EXPECT_FALSE(mainEnabledDuring);
    EXPECT_TRUE(mainEnabledAfter);
    EXPECT_EQ(win32_text::Widen(kAboutText), text);
    EXPECT_NE(0, editStyle & ES_READONLY);
}

struct EndingCase {
    const char* label;
    UINT message;
    WPARAM wParam;
    INT_PTR result;
};

const EndingCase kEndingCases[] = {
    {"Exit button", WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), IDOK},
    {"OK command", WM_COMMAND, IDOK, IDOK},
    {"Cancel command", WM_COMMAND, IDCANCEL, IDCANCEL},
    {"close box", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
    {"WM_CLOSE", WM_CLOSE, 0, IDCANCEL},
    {"WM_QUIT", WM_QUIT, 0, -1},
};

TEST_F(Win32DialogTest, EachWayOfEndingGivesItsResult)
{
    for (const EndingCase& c : kEndingCases) {
        CQuorvelDlg dialog;
        app.m_pMainWnd = &dialog;
        const INT_PTR result = RunWithScript(dialog, {[&] {
                                                          if (dialog.m_hWnd == nullptr)
                                                              return false;
                                                          dialog.PostMessage(c.message, c.wParam, 0);
                                                          return true;
                                                      }});
        EXPECT_EQ(c.result, result) << c.label;
        EXPECT_EQ(nullptr, dialog.m_hWnd) << c.label;
        MSG msg;
        EXPECT_EQ(c.message == WM_QUIT, PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE)
            << c.label << ": a WM_QUIT that ends the loop is posted again, and only then";
    }
}

TEST_F(Win32DialogTest, WmQuitInTheAboutBoxEndsBothLoops)
{
    const INT_PTR result = RunWithScript(dlg, {Shown(),
                                               [&] {
                                                   dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
                                                   return true;
                                               },
                                               [&] {
                                                   if (FindOwnDialog(L"关于") == nullptr)
                                                       return false;
                                                   PostQuitMessage(0);
                                                   return true;
                                               }});
    EXPECT_EQ(-1, result);
    EXPECT_EQ(nullptr, FindOwnDialog(L"关于"));
}

// A dialog that ends itself during initialisation.
class EndsAtOnce : public CDialog {
public:
    EndsAtOnce() : CDialog(IDD_ABOUTBOX) {}
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        EndDialog(7);
        return TRUE;
    }
};

TEST_F(Win32DialogTest, EndDialogDuringInitialisationSkipsTheLoop)
{
    EndsAtOnce dialog;
    EXPECT_EQ(7, dialog.DoModal());
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(nullptr, FindOwnDialog(L"关于"));
}

TEST_F(Win32DialogTest, MissingTemplateGivesMinusOne)
{
    CDialog dialog(999);
    EXPECT_EQ(-1, dialog.DoModal());
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

TEST_F(Win32DialogTest, PaintingDrawsTheBlueLineAtY200)
{
    COLORREF onLine = 0;
    COLORREF above = 0;
    RunWithScript(dlg, {Shown(),
                        [&] {
                            UpdateWindow(dlg.m_hWnd);
                            const HDC dc = GetDC(dlg.m_hWnd);
                            onLine = GetPixel(dc, 2, 200);
                            above = GetPixel(dc, 2, 198);
                            ReleaseDC(dlg.m_hWnd, dc);
                            return true;
                        },
                        End(IDOK)});
    EXPECT_EQ(RGB(0, 0, 255), onLine);
    EXPECT_NE(RGB(0, 0, 255), above);
}

TEST_F(Win32DialogTest, MessageBoxesShowTheirTextCaptionedWithTheProgramName)
{
    std::vector<int> results;
    std::vector<std::wstring> texts;
    std::vector<HWND> owners;
    auto closeBox = [&] {
        const HWND box = FindOwnDialog(ExecutableName().c_str());
        if (box == nullptr)
            return false;
        texts.push_back(ItemText(box, 0xFFFF));
        owners.push_back(GetWindow(box, GW_OWNER));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
    };
    RunWithScript(dlg, {Shown(),
                        [&] {
                            results.push_back(AfxMessageBox("Failed to connect to server", MB_OK, 0));
                            return true;
                        },
                        closeBox,
                        [&] {
                            results.push_back(AfxMessageBox(IDP_SOCKETS_INIT_FAILED));
                            return true;
                        },
                        closeBox, End(IDOK)});
    EXPECT_EQ((std::vector<int>{IDOK, IDOK}), results);
    EXPECT_EQ((std::vector<std::wstring>{L"Failed to connect to server", L"Windows 通信端口初始化失败。"}), texts);
    ASSERT_EQ(2u, owners.size());
    EXPECT_NE(nullptr, owners[0]) << "the main window owns the box";
}

TEST(Win32Resources, StringTableEntriesLoadInTheProgramCodePage)
{
    CString text;
    EXPECT_TRUE(text.LoadString(IDS_ABOUTBOX));
    EXPECT_STREQ("关于 Quorvel(&A)...", static_cast<LPCTSTR>(text));
    EXPECT_TRUE(text.LoadString(IDP_OLE_INIT_FAILED));
    EXPECT_STREQ("OLE 程序初始化失败。请确认 OLE 库程序是正确的版本。", static_cast<LPCTSTR>(text));
    EXPECT_FALSE(text.LoadString(555));
    EXPECT_TRUE(text.IsEmpty());
}

// Reopening must not lose a standard output that was redirected (ctest
// reads this one through a pipe): freopen of "CONOUT$" without a console
// would close it.
TEST(Win32Console, RedirectedStandardOutputSurvivesTheReopening)
{
    AfxReopenStdoutOnConsole();
    EXPECT_GT(std::printf("standard output still works\n"), 0);
    EXPECT_EQ(0, std::fflush(stdout));
}

}  // namespace
