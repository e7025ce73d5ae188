// The executable module: its name, string table entries and icons.

#include <string>

#include "afxwin.h"
#include "win32_module.h"
#include "win32_text.h"

using win32_module::ResourceInstance;

namespace win32_module {

HINSTANCE ResourceInstance()
{
    const CWinApp* app = AfxGetApp();
    return app != nullptr && app->m_hInstance != nullptr ? app->m_hInstance
                                                         : GetModuleHandleW(nullptr);
}

const wchar_t* AppName()
{
    static const std::wstring name = [] {
        wchar_t path[MAX_PATH] = L"";
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring file(path, length < MAX_PATH ? length : 0);
        const std::size_t slash = file.find_last_of(L"\\/");
        if (slash != std::wstring::npos)
            file.erase(0, slash + 1);
        const std::size_t dot = file.rfind(L'.');
        if (dot != std::wstring::npos && dot > 0)
            file.erase(dot);
        return file;
    }();
    return name.c_str();
}

}  // namespace win32_module

BOOL CString::LoadString(UINT id)
{
    // With a zero buffer size LoadStringW returns a read-only pointer to
    // the string in the resource, and its length.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(ResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        m_text.clear();
        return FALSE;
    }
    m_text = win32_text::Narrow(text, length);
    return TRUE;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return ::LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(id));
}
