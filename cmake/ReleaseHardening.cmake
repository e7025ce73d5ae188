# The hardening flags Debian builds its packages with (dpkg-buildflags with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all on Debian 12), for the Release
# build of the Linux program: a root-run program that parses bytes from the
# network. They are written out here rather than read from dpkg-buildflags
# at configure time so that every Release build gets the same ones, with or
# without dpkg-dev installed (the package, cmake --install, scripts/try.sh),
# and so that the build flags stay CMake's (-O3 -DNDEBUG, no -g).
#   -fstack-protector-strong             canaries in functions with arrays
#                                        or address-taken locals
#   -D_FORTIFY_SOURCE=2                  bounds-checked string and memory
#                                        calls where sizes are known
#   -Wformat -Werror=format-security     no format string from data
#   -fPIE, -pie                          a position-independent executable,
#                                        loaded at a random address
#   -Wl,-z,relro -Wl,-z,now              all symbols bound at start, then
#                                        the relocations made read-only
# The sanitizer and fuzz builds (Debug, RelWithDebInfo) and the Windows build
# keep their own flags.
if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()
add_compile_options(
  "$<$<CONFIG:Release>:-fstack-protector-strong;-Wformat;-Werror=format-security;-fPIE>")
add_compile_definitions("$<$<CONFIG:Release>:_FORTIFY_SOURCE=2>")
add_link_options("$<$<CONFIG:Release>:-pie;LINKER:-z,relro;LINKER:-z,now>")
