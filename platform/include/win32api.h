// The Win32 API subset the program is written against.
//
// On Windows this is the real API. Everywhere else, and in the test build on
// Windows (QUORVEL_PORTABLE_API), it is our own portable declaration of the
// same names, implemented by a backend chosen at link time.
#pragma once

#if defined(_WIN32) && !defined(QUORVEL_PORTABLE_API)
#  include <winsock2.h>
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__) || defined(QUORVEL_PORTABLE_API)
#  include "../portable/win32_portable.h"
#else
#  error "No Win32 API for this platform"
#endif
