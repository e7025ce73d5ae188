// Writing text that came from the network to the console.
#pragma once

#include <cstddef>
#include "console_stream.h"

// Writes `size` bytes to `out`, with every control character other than CR,
// LF and TAB (and DEL) shown as '.', so a server cannot drive the terminal.
void WritePrintable(ConsoleStream& out, const char* data, std::size_t size);
