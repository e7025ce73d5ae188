// The executable module whose resources the backend loads. Private to the
// Win32 backend.
#pragma once

#include "win32api.h"

namespace win32_module {

// The application's instance handle, or the executable's when the
// application object has none yet.
HINSTANCE ResourceInstance();

// The application's name as the framework derives it: the executable's file
// name without folder and extension ("Quorvel"), in UTF-16.
const wchar_t* AppName();

}  // namespace win32_module
