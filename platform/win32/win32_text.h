// Text conversion between the program's multibyte code page and the UTF-16
// of the wide Windows functions. Private to the Win32 backend.
#pragma once

#include <string>

namespace win32_text {

// The program's multibyte code page: 936, Simplified Chinese (GBK). Its
// narrow texts are in this code page whatever the system's ANSI code page
// is, so they are converted with it explicitly.
constexpr unsigned kProgramCodePage = 936;

// `text` (NUL-terminated, code page 936) in UTF-16. Null gives "". Bytes
// that are not valid GBK become U+FFFD or the system's default character.
std::wstring Widen(const char* text);

// `length` UTF-16 units of `text` in code page 936; characters GBK lacks
// become '?'.
std::string Narrow(const wchar_t* text, int length);

}  // namespace win32_text
