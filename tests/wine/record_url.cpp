// record_url: a stand-in handler for the tencent: links the About box opens.
// Registered by the driver as the scheme's "open" command; writes the link it
// is given, and a newline, to OUT (through a temporary file, so a reader
// never sees half a line).
//
// Usage: record_url.exe OUT LINK
// Exit status: 0 written, 1 cannot write, 2 bad usage.

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    const std::wstring out = argv[1];
    const std::wstring temporary = out + L".part";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (file == nullptr)
        return 1;
    std::fprintf(file, "%ls\n", argv[2]);
    std::fclose(file);
    return MoveFileExW(temporary.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
