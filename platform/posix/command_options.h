// The options of the console port that the Windows program does not have:
// --help and --version, answered before the application starts, so neither
// opens the window. Every other first word is left to the application.
#pragma once

#include <string>

namespace posix_command_line {

// Answers the option that `tail` (the command-line tail, see Tail) begins
// with: --help and --version print to standard output and return 0; any
// other first word beginning with "--" prints a one-line hint to standard
// error and returns 2. Returns -1, having printed nothing, when the first
// word is no option: the application runs.
int AnswerOption(const std::string& tail);

}  // namespace posix_command_line
