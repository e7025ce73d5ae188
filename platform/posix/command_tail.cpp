#include "command_tail.h"

namespace posix_command_line {

std::string Tail(int argc, const char* const* argv)
{
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    std::size_t start = 0;
    while (start < tail.size() && static_cast<unsigned char>(tail[start]) <= 0x20)
        ++start;
    return tail.substr(start);
}

}  // namespace posix_command_line
