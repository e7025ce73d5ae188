# Toolchain: 32-bit Windows (i686-w64-mingw32), the program's target.
#   cmake --preset windows         Quorvel.exe
#   cmake --preset windows-i686    the tests, run under 32-bit Wine (wine32)
#                                  against the windows preset's Quorvel.exe
# Kernels without 32-bit execution cannot run wine32; there the tests run
# the x86-64 build of the same sources (mingw-x86_64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUORVEL_MINGW_TRIPLET i686-w64-mingw32)
set(QUORVEL_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
