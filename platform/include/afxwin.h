// A small MFC-style application framework: application object, windows,
// modal dialogs, static message maps, menus and painting. The declarations
// are shared; each backend (win32/, posix/, the tests' fake) implements them.
#pragma once

#include <string>
#include <type_traits>

#include "win32api.h"

// Sent to a per-monitor DPI-aware window whose DPI changed (moved to a
// monitor of another scale): wParam the new DPI, lParam the suggested
// window RECT. Windows 8.1 and later; XP's headers lack it.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

class CWnd;
class CWinApp;

// ---------------------------------------------------------------------------
// Message maps: static tables of message (or command ID) to member handler.
// Each entry stores a thunk instantiated for the handler's exact signature, so
// a handler of the wrong type fails to compile.

class CCmdTarget;
typedef LRESULT (*AFX_PMSG_THUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message, or WM_COMMAND for notifications
    UINT nCode;     // notification code (WM_COMMAND only)
    UINT nID;       // control or command ID (WM_COMMAND only)
    AFX_PMSG_THUNK pfn;  // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

namespace afx_thunk {
// F may be a member of T or of one of its bases.
template <class T, auto F>
LRESULT vv(CCmdTarget* p, WPARAM, LPARAM)
{
    static_assert(std::is_same_v<std::invoke_result_t<decltype(F), T*>, void>,
                  "handler must be void ()");
    (static_cast<T*>(p)->*F)();
    return 0;
}
template <class T, auto F>
LRESULT vwl(CCmdTarget* p, WPARAM w, LPARAM l)
{
    static_assert(std::is_same_v<std::invoke_result_t<decltype(F), T*, UINT, LPARAM>, void>,
                  "handler must be void (UINT, LPARAM)");
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), l);
    return 0;
}
template <class T, auto F>
LRESULT hv(CCmdTarget* p, WPARAM, LPARAM)
{
    static_assert(std::is_same_v<std::invoke_result_t<decltype(F), T*>, HCURSOR>,
                  "handler must be HCURSOR ()");
    return reinterpret_cast<LRESULT>((static_cast<T*>(p)->*F)());
}
}  // namespace afx_thunk

#define DECLARE_MESSAGE_MAP()                                   \
protected:                                                      \
    static const AFX_MSGMAP* GetThisMessageMap();               \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                    \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                               \
    {                                                                             \
        typedef theClass ThisClass;                                               \
        typedef baseClass TheBaseClass;                                           \
        (void)sizeof(ThisClass);                                                  \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                         \
            { 0, 0, 0, nullptr }                                                  \
        };                                                                        \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, entries }; \
        return &messageMap;                                                       \
    }

#define ON_WM_SYSCOMMAND() { WM_SYSCOMMAND, 0, 0, &afx_thunk::vwl<ThisClass, &ThisClass::OnSysCommand> },
#define ON_WM_DESTROY() { WM_DESTROY, 0, 0, &afx_thunk::vv<ThisClass, &ThisClass::OnDestroy> },
#define ON_WM_PAINT() { WM_PAINT, 0, 0, &afx_thunk::vv<ThisClass, &ThisClass::OnPaint> },
#define ON_WM_QUERYDRAGICON() { WM_QUERYDRAGICON, 0, 0, &afx_thunk::hv<ThisClass, &ThisClass::OnQueryDragIcon> },
#define ON_WM_CLOSE() { WM_CLOSE, 0, 0, &afx_thunk::vv<ThisClass, &ThisClass::OnClose> },
#define ON_WM_DPICHANGED() { WM_DPICHANGED, 0, 0, &afx_thunk::vwl<ThisClass, &ThisClass::OnDpiChanged> },
#define ON_WM_CANCELMODE() { WM_CANCELMODE, 0, 0, &afx_thunk::vv<ThisClass, &ThisClass::OnCancelMode> },
#define ON_COMMAND(id, memberFxn) { WM_COMMAND, 0, (id), &afx_thunk::vv<ThisClass, &memberFxn> },
#define ON_BN_CLICKED(id, memberFxn) { WM_COMMAND, BN_CLICKED, (id), &afx_thunk::vv<ThisClass, &memberFxn> },

// ---------------------------------------------------------------------------

// Run-time class record: the class's name and, for classes declared with
// DECLARE_DYNCREATE (not DECLARE_DYNAMIC), how to make a new object of it on
// the heap.
struct CRuntimeClass {
    const char* m_lpszClassName;
    CCmdTarget* (*m_pfnCreateObject)();  // null when not dynamically creatable

    // A new object, or null when the class is not dynamically creatable.
    CCmdTarget* CreateObject() const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                      \
public:                                                                  \
    static const CRuntimeClass class##class_name;                        \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                 \
    static_assert(std::is_base_of_v<base_class_name, class_name>, "wrong base class"); \
    const CRuntimeClass class_name::class##class_name = {#class_name, nullptr};          \
    const CRuntimeClass* class_name::GetRuntimeClass() const { return &class##class_name; }

#define DECLARE_DYNCREATE(class_name)                                    \
public:                                                                  \
    static const CRuntimeClass class##class_name;                        \
    static CCmdTarget* CreateObject();                                   \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                    \
    static_assert(std::is_base_of_v<base_class_name, class_name>, "wrong base class");      \
    const CRuntimeClass class_name::class##class_name = {#class_name, &class_name::CreateObject}; \
    CCmdTarget* class_name::CreateObject() { return new class_name; }                        \
    const CRuntimeClass* class_name::GetRuntimeClass() const { return &class##class_name; }

// Interface and dispatch maps of automation objects (afxdisp.h).
struct AFX_INTERFACEMAP;
struct AFX_DISPMAP;

// Base of every class that handles messages or commands, and of automation
// objects: those count references, answer the interfaces of their interface
// map, and have a built-in dispatch interface once EnableAutomation was
// called (on a backend with COM; elsewhere they answer no interface).
class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    static const CRuntimeClass classCCmdTarget;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CCmdTarget() = default;
    // Called when the last reference goes: deletes the object.
    virtual void OnFinalRelease();

    // Runs the first handler for the message found in this object's map
    // chain. Returns false when no entry matches.
    bool DispatchFromMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Sets up the built-in dispatch interface. Implemented by the backend.
    void EnableAutomation();
    // Reference counting. An object starts with one reference, its
    // creator's. Both return the new count; the release that reaches 0
    // calls OnFinalRelease.
    DWORD InternalAddRef();
    DWORD InternalRelease();
    // Looks the interface `iid` (a GUID) up in the interface map chain. On
    // success returns 0 (S_OK) with the interface, referenced once more, in
    // *object; else E_NOINTERFACE with null.
    LONG InternalQueryInterface(const void* iid, void** object);

    // The built-in dispatch interface: a COM object whose first field is
    // its function table (the backend's), followed by the object it
    // belongs to.
    struct XDispatch {
        const void* m_pVtbl;
        CCmdTarget* m_pOwner;
    };
    // Interface map part of the built-in dispatch interface: its address,
    // or null while automation is not enabled.
    static void* InterfacePartDispatch(CCmdTarget* target);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_DISPMAP* GetThisDispatchMap();
    virtual const AFX_DISPMAP* GetDispatchMap() const;
    static const AFX_INTERFACEMAP* GetThisInterfaceMap();
    virtual const AFX_INTERFACEMAP* GetInterfaceMap() const;

    DWORD m_dwRef = 1;
    XDispatch m_xDispatch = {nullptr, nullptr};
};

// A menu, as returned by CWnd::GetSystemMenu.
class CMenu {
public:
    HMENU m_hMenu = nullptr;
    BOOL AppendMenu(UINT flags, UINT_PTR idNewItem = 0, LPCTSTR newItem = nullptr);
    // Ticks (MF_CHECKED) or clears (MF_UNCHECKED) the item of command `id`.
    // Returns its previous state, or (UINT)-1 when there is no such item.
    UINT CheckMenuItem(UINT id, UINT check);
};

// A string loaded from the string table, in the multibyte code page.
class CString {
public:
    CString() = default;
    CString(LPCTSTR text) : m_text(text ? text : "") {}
    BOOL LoadString(UINT id);  // FALSE when the string table has no such ID
    BOOL IsEmpty() const { return m_text.empty(); }
    operator LPCTSTR() const { return m_text.c_str(); }

private:
    std::string m_text;
};

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    ~CWnd() override = default;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Sets the text of child control `id` from a NUL-terminated multibyte
    // string. Does nothing while the window does not exist.
    void SetDlgItemText(int id, LPCTSTR text);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL ShowWindow(int showCommand);
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;
    HICON SetIcon(HICON icon, BOOL bigIcon);
    // The window's system menu, or null. The menu object lives as long as
    // the window object.
    CMenu* GetSystemMenu(BOOL revert);
    // The window's dots per inch: 96 at 100 % display scaling, 144 at
    // 150 %. What the window is drawn at, so pixel lengths scale by it.
    UINT GetDpi() const;
    // `px96`, a length in pixels at 96 DPI, at the window's DPI (rounded).
    int ScaleForDpi(int px96) const
    {
        return static_cast<int>((static_cast<long long>(px96) * GetDpi() + 48) / 96);
    }
    // Closes any help window the application opened.
    void WinHelp(DWORD_PTR data, UINT command = 0);

    // Entry point of the backends: handles one message through the message
    // map and falls back to Default().
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Default processing of the message being handled.
    LRESULT Default();
    void OnSysCommand(UINT id, LPARAM lParam) { (void)id; (void)lParam; Default(); }
    void OnDestroy() { Default(); }
    void OnPaint() { Default(); }
    void OnClose() { Default(); }
    void OnCancelMode() { Default(); }

    // Message currently being handled, for Default().
    struct CurrentMessage { UINT message; WPARAM wParam; LPARAM lParam; };
    CurrentMessage m_current = {0, 0, 0};
    CMenu m_systemMenu;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT idTemplate, CWnd* parent = nullptr);
    ~CDialog() override = default;

    // Creates the dialog from its template and runs it until EndDialog or
    // WM_QUIT. Returns the EndDialog result (IDOK, IDCANCEL...), or -1 when
    // the dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Shows bitmap resource `idBitmap` in the dialog's picture control
    // (its static of style SS_BITMAP), scaled smoothly to fill `frame`, the
    // control's rectangle in dialog units, at the window's DPI; again
    // whenever the DPI changes. The scaled copy lives as long as the window.
    void FitPicture(UINT idBitmap, const RECT& frame);

protected:
    // WM_DPICHANGED: takes the suggested rectangle, fits the picture again
    // and repaints, so that what is drawn in pixels follows the scale.
    void OnDpiChanged(UINT dpi, LPARAM suggestedRect);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};

// Paint context of one WM_PAINT; opened in the constructor, closed in the
// destructor.
class CPen;
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    CPen* SelectObject(CPen* pen);  // returns the pen it replaced
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    BOOL DrawIcon(int x, int y, HICON icon);

    HDC m_hDC = nullptr;

private:
    CWnd* m_pWnd;
    void* m_paint;  // backend paint state
};

class CPen {
public:
    CPen(int style, int width, COLORREF color);
    ~CPen();
    CPen(const CPen&) = delete;
    CPen& operator=(const CPen&) = delete;
    BOOL DeleteObject();

    HPEN m_hPen = nullptr;
};

// The application object. Exactly one exists; the backend's entry point runs
// its InitInstance and, when that returns TRUE, a message loop.
class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCTSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // Called by the entry point as the program ends; returns the process
    // exit code: the wParam of the WM_QUIT that ended the message loops (a
    // program posts its exit status with it), 0 when none did.
    virtual int ExitInstance();
    HICON LoadIcon(UINT id) const;
    void Enable3dControls() {}
    // Whether the command line asks for an embedding or automation start.
    BOOL RunEmbedded();
    BOOL RunAutomated();
    void OnHelp() {}

    LPTSTR m_lpCmdLine = nullptr;  // command-line tail, after the program name
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    // wParam of the WM_QUIT that ended the message loops, set by the loop
    // that took it.
    WPARAM m_quitWParam = 0;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
void AfxEnableControlContainer();

// Modal message box with the given text; returns the button pressed. In an
// unattended run (AfxSetUnattended) no box waits for a person: on Windows
// each one closes itself after kUnattendedMessageBoxMs as if OK had been
// pressed, and the console shows its text and goes on.
int AfxMessageBox(LPCTSTR text, UINT type = MB_OK, UINT idHelp = 0);
// The same with a string from the string table.
int AfxMessageBox(UINT idPrompt, UINT type = MB_OK, UINT idHelp = static_cast<UINT>(-1));

// Tells the platform whether the program runs unattended (started by a
// task or a shortcut, with nobody to click), which changes how message
// boxes behave (AfxMessageBox). Off until set.
void AfxSetUnattended(BOOL unattended);
BOOL AfxIsUnattended();
// How long an unattended message box stays open on Windows, in milliseconds.
constexpr UINT kUnattendedMessageBoxMs = 10000;

// Milliseconds since an arbitrary fixed start: monotonic, never stepped when
// the system clock is set, and exact to the millisecond (not the ~15.6 ms
// steps of the Windows system timer).
ULONGLONG AfxGetTickMilliseconds();

// Blocks until AfxGetTickMilliseconds() has reached `tickMs`, and returns
// within about a millisecond of the moment it did (at once when it already
// has). Never returns early.
void AfxWaitUntilTick(ULONGLONG tickMs);

// Reopens standard output on the process's console so diagnostics appear
// there. Where there is no console, the inherited standard output is kept.
void AfxReopenStdoutOnConsole();
