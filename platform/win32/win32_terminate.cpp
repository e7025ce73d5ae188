// What happens when the C++ runtime has to terminate the program (an
// exception nobody catches, such as running out of memory in a string).
//
// The runtime's default handler prints the exception's demangled type name
// to standard error before aborting. A GUI program has no standard error to
// print to, and the demangler it needs is the largest single piece of the
// statically linked C++ runtime (about 50 KB of Quorvel.exe). Defining the
// handler here keeps the runtime's version out of the link; the program
// still aborts, which is what Windows reports as a crash.

#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx
