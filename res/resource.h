// Resource identifiers of Quorvel.
//
// Shared by the resource script (res/Quorvel.rc, read by windres with
// RC_INVOKED defined) and by the C++ sources.  Plain #defines only, so both
// can read it; nothing here depends on a Windows header.
//
// Some values repeat on purpose: IDs of different kinds live in different
// name spaces (dialog templates, strings, controls of one dialog), so
// IDD_ABOUTBOX and IDP_OLE_INIT_FAILED may both be 100, and the About box's
// controls reuse the main dialog's control IDs.

#ifndef QUORVEL_RES_RESOURCE_H
#define QUORVEL_RES_RESOURCE_H

// Dialog templates.
#define IDD_ABOUTBOX                    100
#define IDD_MAIN                        102

// Application icon (icon group), also shown in the About box.
#define IDR_MAINFRAME                   128

// Bitmaps.
#define IDB_ABOUT_PICTURE               134

// String table: prompts shown at start-up and the system-menu item text.
#define IDP_OLE_INIT_FAILED             100
#define IDS_ABOUTBOX                    101
#define IDP_SOCKETS_INIT_FAILED         103

// System-menu command of the About item.  The window manager uses the low
// four bits of WM_SYSCOMMAND's wParam, so the ID must keep them clear.
#define IDM_ABOUTBOX                    0x0010
// System-menu command of the check item that adds or removes the logon task.
#define IDM_LOGONTASK                   0x0020

// Controls of IDD_MAIN.
#define IDC_FETCH                       1000
#define IDC_TIME_TEXT                   1001
#define IDC_APPLY                       1002
#define IDC_EXIT                        1003
#define IDC_ABOUT                       1004
#define IDC_FETCH_AND_APPLY             1005

// Controls of IDD_ABOUTBOX.
#define IDC_CONTACT                     1000
#define IDC_ABOUT_TEXT                  1001

// The framework's Help command; its headers may already define it.
#ifndef ID_HELP
#define ID_HELP                         57670
#endif

#ifndef RC_INVOKED
#ifdef __cplusplus
// System-menu commands are compared after masking with 0xFFF0 and must stay
// below the range the system reserves for its own commands (SC_SIZE and up).
static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX, "IDM_ABOUTBOX must keep its low four bits clear");
static_assert(IDM_ABOUTBOX < 0xF000, "IDM_ABOUTBOX must lie below the system commands");
static_assert((IDM_LOGONTASK & 0xFFF0) == IDM_LOGONTASK && IDM_LOGONTASK < 0xF000 &&
                  IDM_LOGONTASK != IDM_ABOUTBOX,
              "IDM_LOGONTASK must keep its low four bits clear, below the system commands");

// Resource names and string IDs are 16-bit ordinals; 0 is not a valid name.
static_assert(IDD_ABOUTBOX > 0 && IDD_ABOUTBOX <= 0xFFFF, "dialog IDs are 16-bit ordinals");
static_assert(IDD_MAIN > 0 && IDD_MAIN <= 0xFFFF, "dialog IDs are 16-bit ordinals");
static_assert(IDR_MAINFRAME > 0 && IDR_MAINFRAME <= 0xFFFF, "icon IDs are 16-bit ordinals");
static_assert(IDB_ABOUT_PICTURE > 0 && IDB_ABOUT_PICTURE <= 0xFFFF, "bitmap IDs are 16-bit ordinals");
static_assert(IDD_ABOUTBOX != IDD_MAIN, "dialog templates need distinct IDs");
static_assert(IDP_OLE_INIT_FAILED != IDS_ABOUTBOX && IDS_ABOUTBOX != IDP_SOCKETS_INIT_FAILED &&
                  IDP_OLE_INIT_FAILED != IDP_SOCKETS_INIT_FAILED,
              "strings need distinct IDs");

// Controls of one dialog need distinct IDs, clear of IDOK (1), IDCANCEL (2)
// and the framework's command range (0xE000 and up, where ID_HELP lives).
static_assert(IDC_FETCH > 2 && IDC_FETCH_AND_APPLY < 0xE000, "IDD_MAIN control IDs out of range");
static_assert(IDC_FETCH != IDC_TIME_TEXT && IDC_FETCH != IDC_APPLY && IDC_FETCH != IDC_EXIT &&
                  IDC_FETCH != IDC_ABOUT && IDC_FETCH != IDC_FETCH_AND_APPLY &&
                  IDC_TIME_TEXT != IDC_APPLY && IDC_TIME_TEXT != IDC_EXIT &&
                  IDC_TIME_TEXT != IDC_ABOUT && IDC_TIME_TEXT != IDC_FETCH_AND_APPLY &&
                  IDC_APPLY != IDC_EXIT && IDC_APPLY != IDC_ABOUT && IDC_APPLY != IDC_FETCH_AND_APPLY &&
                  IDC_EXIT != IDC_ABOUT && IDC_EXIT != IDC_FETCH_AND_APPLY &&
                  IDC_ABOUT != IDC_FETCH_AND_APPLY,
              "IDD_MAIN control IDs must be distinct");
static_assert(IDC_CONTACT > 2 && IDC_ABOUT_TEXT > 2 && IDC_CONTACT != IDC_ABOUT_TEXT,
              "IDD_ABOUTBOX control IDs must be distinct and clear of IDOK/IDCANCEL");
static_assert(ID_HELP >= 0xE000 && ID_HELP <= 0xFFFF, "ID_HELP belongs to the framework's command range");
#endif
#endif

#endif
