#include "command_line.h"

namespace win32_command_line {

namespace {

bool AboveSpace(char c)
{
    return static_cast<unsigned char>(c) > 0x20;
}

}  // namespace

const char* Tail(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (AboveSpace(*p))
            ++p;
    }
    while (*p != '\0' && !AboveSpace(*p))
        ++p;
    return p;
}

}  // namespace win32_command_line
