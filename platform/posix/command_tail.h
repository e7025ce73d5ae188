// The command-line tail of the console port, as Windows programs get it.
#pragma once

#include <string>

namespace posix_command_line {

// The arguments after the program name joined by single spaces, starting at
// the first character above the space (code 0x20): empty, or beginning
// with a word. `argv` holds `argc` strings; argv[0] is the program name.
std::string Tail(int argc, const char* const* argv);

}  // namespace posix_command_line
