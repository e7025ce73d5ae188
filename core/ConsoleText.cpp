#include "ConsoleText.h"

#include <string>

void WritePrintable(ConsoleStream& out, const char* data, std::size_t size)
{
    const bool utf8 = AfxConsoleReadsUtf8();
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\r' && c != '\n' && c != '\t') || u == 0x7F) {
            text += '.';
        } else if (utf8 && u == 0xC2 && i + 1 < size &&
                   static_cast<unsigned char>(data[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(data[i + 1]) <= 0x9F) {
            text += '.';
            ++i;
        } else {
            text += c;
        }
    }
    out.write(text.data(), text.size());
}
