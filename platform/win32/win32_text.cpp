#include "win32_text.h"

#include <windows.h>

namespace win32_text {

std::wstring Widen(const char* text)
{
    if (text == nullptr || text[0] == '\0')
        return std::wstring();
    const int length = MultiByteToWideChar(kProgramCodePage, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(kProgramCodePage, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length - 1));  // the converted NUL
    return wide;
}

std::string Narrow(const wchar_t* text, int length)
{
    if (text == nullptr || length <= 0)
        return std::string();
    const int size =
        WideCharToMultiByte(kProgramCodePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(kProgramCodePage, 0, text, length, &narrow[0], size, nullptr, nullptr);
    return narrow;
}

}  // namespace win32_text
