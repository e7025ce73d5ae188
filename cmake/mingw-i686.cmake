# Toolchain: 32-bit Windows (i686-w64-mingw32), the program's target.
#   cmake --preset windows
# 32-bit executables need 32-bit Wine (wine32) to run; where only 64-bit
# Wine works, test the x86-64 build instead (mingw-x86_64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUORVEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
