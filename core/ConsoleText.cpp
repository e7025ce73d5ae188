#include "ConsoleText.h"

#include <string>

void WritePrintable(ConsoleStream& out, const char* data, std::size_t size)
{
    std::string text(data, size);
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\r' && c != '\n' && c != '\t') || u == 0x7F)
            c = '.';
    }
    out.write(text.data(), text.size());
}
