#!/usr/bin/env bash
# check_imports.sh - checks that a Windows executable is a GUI program that
# imports system DLLs only (the static link left no libgcc, libstdc++ or
# winpthread DLL behind), and that it is built for the expected machine.
#
# Usage: check_imports.sh OBJDUMP EXE MACHINE
#   OBJDUMP  the cross toolchain's objdump (i686-w64-mingw32-objdump...)
#   MACHINE  pei-i386 or pei-x86-64 (objdump's names of the formats)
# Exit status: 0 ok, 1 a check failed, 77 EXE does not exist (not built).
set -euo pipefail

[[ $# -eq 3 ]] || { echo "usage: check_imports.sh OBJDUMP EXE MACHINE" >&2; exit 2; }
objdump=$1 exe=$2 machine=$3
[[ -f "$exe" ]] || { echo "check_imports.sh: $exe is not built; skipped"; exit 77; }

# DLLs every Windows has (the C runtime msvcrt.dll included).
system_dlls="advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 shell32 user32 ws2_32"

headers=$("$objdump" -p "$exe")
failed=0
grep -q "file format $machine$" <<< "$headers" || { echo "FAIL $exe is not $machine"; failed=1; }
grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<< "$headers" ||
    { echo "FAIL $exe is not a GUI (subsystem 2) program"; failed=1; }
while read -r dll; do
    name=${dll,,}
    name=${name%.dll}
    if [[ " $system_dlls " == *" $name "* ]]; then
        echo "ok   imports $dll"
    else
        echo "FAIL imports $dll, which is not a system DLL"
        failed=1
    fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers")
exit "$failed"
