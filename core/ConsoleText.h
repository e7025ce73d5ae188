// Writing text that came from the network to the console.
#pragma once

#include <cstddef>
#include "console_stream.h"

// Writes `size` bytes to `out`, with every control character other than CR,
// LF and TAB (and DEL) shown as '.', so a server cannot drive the terminal.
// On a console that reads UTF-8 the two-byte C1 controls (C2 80 to C2 9F)
// are shown as one '.' too; elsewhere those bytes are GBK text and pass.
void WritePrintable(ConsoleStream& out, const char* data, std::size_t size);
