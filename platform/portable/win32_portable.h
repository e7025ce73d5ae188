// Portable declarations of the Win32 types, constants and calls the program
// uses, with the same names and meanings as on Windows. Implemented by the
// POSIX backend, or by the fake backend of the tests. Never include this
// together with <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint64_t ULONGLONG;
typedef std::int32_t LONG;
typedef unsigned int UINT;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t INT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef char CHAR;
typedef char TCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const char* LPCTSTR;
typedef char* LPTSTR;
typedef DWORD COLORREF;

#ifndef TRUE
#  define TRUE 1
#endif
#ifndef FALSE
#  define FALSE 0
#endif

// Handles are opaque pointers to structures each backend defines privately.
struct HWND__;
struct HICON__;
struct HDC__;
struct HMENU__;
struct HINSTANCE__;
struct HPEN__;
typedef HWND__* HWND;
typedef HICON__* HICON;
typedef HICON HCURSOR;
typedef HDC__* HDC;
typedef HMENU__* HMENU;
typedef HINSTANCE__* HINSTANCE;
typedef HPEN__* HPEN;
typedef void* HGDIOBJ;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// Error codes (GetLastError).
#define ERROR_SUCCESS 0L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_PRIVILEGE_NOT_HELD 1314L

// Message box types and results.
#define MB_OK 0x00000000L
#define IDOK 1
#define IDCANCEL 2

// Socket types, as Windows Sockets numbers them.
#ifndef SOCK_STREAM
#  define SOCK_STREAM 1
#endif

#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | ((DWORD)((WORD)(h))) << 16))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))

// Kernel services.
// Suspends the calling thread for at least `milliseconds`.
void Sleep(DWORD milliseconds);
// Sets the system clock from a UTC calendar time. Returns non-zero on
// success; on failure returns 0 and GetLastError() tells why (87 for a
// record that is not a valid calendar time).
BOOL SetSystemTime(const SYSTEMTIME* utc);
// The calling thread's last error code.
DWORD GetLastError();
void SetLastError(DWORD code);

// Window messages and notifications.
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_CANCELMODE 0x001F
#define WM_ICONERASEBKGND 0x0027
#define WM_QUERYDRAGICON 0x0037
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define BN_CLICKED 0
#define SC_CLOSE 0xF060

#define ICON_SMALL 0
#define ICON_BIG 1
#define SM_CXSCREEN 0
#define SM_CXICON 11
#define SM_CYICON 12
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define PS_SOLID 0
#define MF_STRING 0x00000000L
#define MF_SEPARATOR 0x00000800L
#define MF_UNCHECKED 0x00000000L
#define MF_CHECKED 0x00000008L
#define HELP_QUIT 0x0002

// Window manager and shell calls.
int GetSystemMetrics(int index);
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, int showCommand);
