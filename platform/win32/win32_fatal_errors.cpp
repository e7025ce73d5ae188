// How Quorvel.exe ends when the C++ runtime meets an error it cannot recover
// from: an exception that nobody catches (the program catches none), such as
// running out of memory in a string, or a failed bounds check.
//
// The runtime's own versions would first throw an exception object and then,
// in the default terminate handler, print the exception's demangled type name
// to standard error, which a GUI program does not have. Between them they
// bring in the demangler, the standard exception classes and a second copy
// of std::string: over 150 KB of the statically linked executable. These
// definitions keep the runtime's versions out of the link; the program
// aborts at once, as it would have after the print, and Windows reports the
// crash the same way.
//
// The throw helpers below are all those of the runtime's object file that
// defines them, so that file is never needed: leaving one out would make the
// link fail with duplicate definitions rather than silently grow the program.
// The failed bounds check is the one function the program needs of the
// runtime's debug-mode file, whose version prints the check, demangler and
// all (80 KB); should the program ever need more of that file, the link fails
// the same way.

#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx

namespace std {

[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
[[noreturn]] void __throw_bad_cast() { std::abort(); }
[[noreturn]] void __throw_bad_exception() { std::abort(); }
[[noreturn]] void __throw_bad_typeid() { std::abort(); }
[[noreturn]] void __throw_domain_error(const char*) { std::abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
[[noreturn]] void __throw_overflow_error(const char*) { std::abort(); }
[[noreturn]] void __throw_range_error(const char*) { std::abort(); }
[[noreturn]] void __throw_runtime_error(const char*) { std::abort(); }
[[noreturn]] void __throw_underflow_error(const char*) { std::abort(); }

[[noreturn]] void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept
{
    std::abort();
}

}  // namespace std
