// The command-line tail that a Windows program's entry point hands to the
// application. Private to the Win32 backend.
#pragma once

namespace win32_command_line {

// The part of `commandLine` (as GetCommandLineA returns it) after the
// program name: the name ends at the closing quote when it starts with a
// quote (at the end of the line when that quote is missing), else at the
// first character not above the space (code 0x20); the tail then starts at
// the first character above the space. Returns a pointer into
// `commandLine`, to its terminating NUL when there is no tail.
const char* Tail(const char* commandLine);

}  // namespace win32_command_line
