// The streams of the console front end, kept apart from the program's
// diagnostics: the front end (dialogs, message boxes, prompts) writes to the
// controlling terminal when the process has one, else to standard error, and
// reads the user's choices from standard input. Standard output carries only
// the diagnostics, so scripts can read them alone.
#pragma once

#include <string>

namespace posix_console {

class Io {
public:
    virtual ~Io() = default;
    // Writes front-end text (UTF-8) as it is.
    virtual void Write(const std::string& text) = 0;
    // Reads one line of input without its line end. Returns false at the
    // end of input, and from then on.
    virtual bool ReadLine(std::string* line) = 0;
    // Whether a person types the input: message boxes wait for Enter only
    // then.
    virtual bool InputIsTerminal() = 0;
};

// The front end's streams: the terminal/standard error and standard input,
// unless a test installed its own.
Io& Current();
// Makes `io` the front end's streams and returns the previous ones; null
// goes back to the process's own streams.
Io* Install(Io* io);

}  // namespace posix_console
