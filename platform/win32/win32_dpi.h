// What the backend keeps for a window's DPI. Private to the Win32 backend.
#pragma once

#include "win32api.h"

namespace win32_dpi {

// Frees the scaled picture CDialog::FitPicture made for `dialog`, if any.
// Called once the window's children are gone (WM_NCDESTROY).
void ReleasePicture(HWND dialog);

}  // namespace win32_dpi
