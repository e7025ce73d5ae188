# Toolchain: 64-bit Windows (x86_64-w64-mingw32). The same sources as the
# 32-bit program, built to run the Windows tests under 64-bit Wine on hosts
# that cannot run 32-bit code.
#   cmake --preset windows-x64
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(QUORVEL_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
