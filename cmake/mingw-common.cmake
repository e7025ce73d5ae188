# Shared body of the mingw-w64 toolchain files. The including file sets
# QUORVEL_MINGW_TRIPLET (i686-w64-mingw32 or x86_64-w64-mingw32),
# QUORVEL_WINEARCH (the Wine prefix's architecture: win32 or win64) and
# CMAKE_SYSTEM_PROCESSOR first.
#
# Compilers: g++ and gcc of the win32-threads flavour (Debian package
# g++-mingw-w64-<arch>-win32), resources: windres of the same triplet.
# Executables link statically, so they import system DLLs only.
# Test executables run through tests/wine/wine_run.sh, which runs them under
# Wine in a prefix of this build tree's own, of the build's architecture.

set(CMAKE_SYSTEM_NAME Windows)

set(_quorvel_triplet ${QUORVEL_MINGW_TRIPLET})
string(REGEX REPLACE "-w64-mingw32$" "" _quorvel_debian_arch "${_quorvel_triplet}")
string(REPLACE "_" "-" _quorvel_debian_arch "${_quorvel_debian_arch}")

find_program(QUORVEL_MINGW_CXX NAMES ${_quorvel_triplet}-g++-win32 ${_quorvel_triplet}-g++)
find_program(QUORVEL_MINGW_CC NAMES ${_quorvel_triplet}-gcc-win32 ${_quorvel_triplet}-gcc)
find_program(QUORVEL_MINGW_WINDRES NAMES ${_quorvel_triplet}-windres)
if(NOT QUORVEL_MINGW_CXX OR NOT QUORVEL_MINGW_CC OR NOT QUORVEL_MINGW_WINDRES)
  message(FATAL_ERROR
    "The ${_quorvel_triplet} cross compiler was not found "
    "(looked for ${_quorvel_triplet}-g++-win32, ${_quorvel_triplet}-g++ and "
    "${_quorvel_triplet}-windres). On Debian: "
    "apt-get install g++-mingw-w64-${_quorvel_debian_arch}-win32 (or run scripts/install-deps.sh).")
endif()

set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_CXX})
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_CC})  # GoogleTest's project enables C
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${_quorvel_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc/libstdc++/winpthread DLLs: Wine (and a bare Windows) cannot find
# them next to the executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Each function and object in a section of its own, so that the linker can
# drop what the program never uses (--gc-sections). The standard library's
# bounds checks are on (_GLIBCXX_ASSERTIONS): they guard every string and
# vector access, and with them std::string is compiled into the program's own
# objects, where unused members are dropped, instead of coming whole from the
# library.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections -D_GLIBCXX_ASSERTIONS")

# add_test(NAME ... COMMAND <target>) runs the target under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_run.sh;--prefix;${CMAKE_BINARY_DIR}/wineprefix;--arch;${QUORVEL_WINEARCH}")
