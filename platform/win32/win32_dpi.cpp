// The one place that knows a window's DPI, and what is drawn in pixels
// because of it: a dialog's picture scaled to its frame, and the move to a
// monitor of another scale (WM_DPICHANGED). The dialog templates are in
// dialog units, so Windows scales the controls themselves.

#include <cstdlib>

#include "afxwin.h"
#include "win32_dpi.h"
#include "win32_module.h"

namespace {

typedef UINT(WINAPI* GetDpiForWindowFunction)(HWND);

// The dialog's fitted picture, kept as a property of the dialog's window.
constexpr wchar_t kPictureProperty[] = L"Quorvel.Picture";

struct FittedPicture {
    UINT idBitmap;
    RECT frame;       // dialog units
    HBITMAP bitmap;   // the scaled copy the control shows; ours
};

// GetDpiForWindow, which user32 has from Windows 10 1607 on; null before.
// Looked up at run time, so that the program still starts on XP.
GetDpiForWindowFunction DpiForWindowFunction()
{
    static const GetDpiForWindowFunction function = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return function;
}

// The DPI of the screen as a whole: the system DPI of Windows before 10.
UINT ScreenDpi()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The dialog's first picture control (a static of style SS_BITMAP), or null.
HWND PictureControl(HWND dialog)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = L"";
        GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    }
    return nullptr;
}

// Bitmap resource `id` scaled to width x height with HALFTONE (each pixel
// the average of the ones it covers, so no blocks and no blur steps), as a
// 24-bit DIB: 32-bit ones are copied by the Common Controls' static. Within
// a pixel of the bitmap's own size it keeps that size. Null on failure.
HBITMAP ScaledBitmap(UINT id, int width, int height)
{
    const HBITMAP source = static_cast<HBITMAP>(LoadImageW(win32_module::ResourceInstance(),
                                                           MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0,
                                                           LR_CREATEDIBSECTION));
    BITMAP size = {};
    if (source == nullptr || GetObjectW(source, sizeof size, &size) == 0) {
        if (source != nullptr)
            DeleteObject(source);
        return nullptr;
    }
    // A frame within a pixel of the picture's own size (the rounding of the
    // dialog units at 96 DPI) takes it as it is: resampling would blur it.
    if (std::abs(width - size.bmWidth) <= 1 && std::abs(height - size.bmHeight) <= 1) {
        width = size.bmWidth;
        height = size.bmHeight;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP scaled = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HDC from = CreateCompatibleDC(nullptr);
    const HDC to = CreateCompatibleDC(nullptr);
    if (scaled != nullptr && from != nullptr && to != nullptr) {
        const HGDIOBJ oldFrom = SelectObject(from, source);
        const HGDIOBJ oldTo = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);  // HALFTONE requires it after the mode is set
        if (!StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY)) {
            SelectObject(to, oldTo);
            DeleteObject(scaled);
            scaled = nullptr;
        } else {
            SelectObject(to, oldTo);
        }
        SelectObject(from, oldFrom);
    } else if (scaled != nullptr) {
        DeleteObject(scaled);
        scaled = nullptr;
    }
    if (from != nullptr)
        DeleteDC(from);
    if (to != nullptr)
        DeleteDC(to);
    DeleteObject(source);
    return scaled;
}

// Shows the picture in its frame at the dialog's present DPI: a copy
// scaled to the frame, which the control then takes as its size.
void ShowFitted(HWND dialog, FittedPicture& picture)
{
    const HWND control = PictureControl(dialog);
    RECT frame = picture.frame;
    if (control == nullptr || !MapDialogRect(dialog, &frame))
        return;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const HBITMAP scaled = ScaledBitmap(picture.idBitmap, width, height);
    BITMAP size = {};
    if (scaled == nullptr || GetObjectW(scaled, sizeof size, &size) == 0)
        return;
    const HBITMAP old = reinterpret_cast<HBITMAP>(
        SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
    // The control's first image, loaded from the template, belongs to no one
    // once replaced; a later one is our previous copy.
    if (old != nullptr && old != scaled)
        DeleteObject(old);
    picture.bitmap = scaled;
    SetWindowPos(control, nullptr, frame.left, frame.top, size.bmWidth, size.bmHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

namespace win32_dpi {

void ReleasePicture(HWND dialog)
{
    FittedPicture* picture = static_cast<FittedPicture*>(RemovePropW(dialog, kPictureProperty));
    if (picture == nullptr)
        return;
    // The control is gone by now (WM_NCDESTROY comes after the children's).
    if (picture->bitmap != nullptr)
        DeleteObject(picture->bitmap);
    delete picture;
}

}  // namespace win32_dpi

UINT CWnd::GetDpi() const
{
    if (const GetDpiForWindowFunction dpiForWindow = DpiForWindowFunction()) {
        const UINT dpi = m_hWnd != nullptr ? dpiForWindow(m_hWnd) : 0;
        if (dpi != 0)
            return dpi;
    }
    return ScreenDpi();
}

void CDialog::FitPicture(UINT idBitmap, const RECT& frame)
{
    if (m_hWnd == nullptr)
        return;
    FittedPicture* picture = static_cast<FittedPicture*>(GetPropW(m_hWnd, kPictureProperty));
    if (picture == nullptr) {
        picture = new FittedPicture{idBitmap, frame, nullptr};
        SetPropW(m_hWnd, kPictureProperty, picture);
    }
    picture->idBitmap = idBitmap;
    picture->frame = frame;
    ShowFitted(m_hWnd, *picture);
}

void CDialog::OnDpiChanged(UINT /*dpi*/, LPARAM suggestedRect)
{
    // Windows 10 1703 and later scale a per-monitor dialog's controls and
    // font in the default processing.
    Default();
    const RECT* r = reinterpret_cast<const RECT*>(suggestedRect);
    if (r != nullptr)
        SetWindowPos(m_hWnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (FittedPicture* picture = static_cast<FittedPicture*>(GetPropW(m_hWnd, kPictureProperty)))
        ShowFitted(m_hWnd, *picture);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}
