#!/usr/bin/env bash
# check_imports.sh - checks that a Windows executable is a GUI program that
# imports system DLLs only (the static link left no libgcc, libstdc++ or
# winpthread DLL behind), and that it is built for the expected machine.
# Given the list of functions Windows XP SP3 has, it also checks that the
# executable imports nothing else and that its PE header asks for no later
# Windows: XP would refuse to start it.
#
# Usage: check_imports.sh OBJDUMP EXE MACHINE [XP_FUNCTIONS]
#   OBJDUMP       the cross toolchain's objdump (i686-w64-mingw32-objdump...)
#   MACHINE       pei-i386 or pei-x86-64 (objdump's names of the formats)
#   XP_FUNCTIONS  tests/wine/xp_sp3_imports.txt: "DLL FUNCTION" lines
# Exit status: 0 ok, 1 a check failed, 77 EXE does not exist (not built).
set -euo pipefail

[[ $# -eq 3 || $# -eq 4 ]] || { echo "usage: check_imports.sh OBJDUMP EXE MACHINE [XP_FUNCTIONS]" >&2; exit 2; }
objdump=$1 exe=$2 machine=$3 xp_functions=${4:-}
[[ -f "$exe" ]] || { echo "check_imports.sh: $exe is not built; skipped"; exit 77; }

# DLLs every Windows has (the C runtime msvcrt.dll included; iphlpapi.dll
# since Windows 2000; winhttp.dll since XP SP1).
system_dlls="advapi32 comctl32 comdlg32 gdi32 iphlpapi kernel32 msvcrt ole32 oleaut32 shell32 shlwapi user32 winhttp ws2_32"

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

if [[ -n "$xp_functions" ]]; then
    # XP's loader refuses an image that asks for a later Windows (5.1).
    for field in OSystem Subsystem; do
        major=$(sed -n "s/^Major${field}Version[[:space:]]*//p" <<< "$headers")
        minor=$(sed -n "s/^Minor${field}Version[[:space:]]*//p" <<< "$headers")
        if (( major * 100 + minor <= 501 )); then
            echo "ok   ${field} version $major.$minor"
        else
            echo "FAIL ${field} version $major.$minor: Windows XP (5.1) refuses to start it"
            failed=1
        fi
    done

    # objdump lists each DLL's imports under its "DLL Name:" line, one line
    # each below a "vma:" line that names the columns: binutils 2.40 prints
    # "vma:  Hint/Ord Member-Name Bound-To", 2.44 "vma:  Ordinal  Hint
    # Member-Name  Bound-To", so the name's column is read from that line.
    # An import by ordinal has no name, and no documentation to check it
    # against.
    imported=$(awk '/^[[:space:]]*DLL Name:/ { dll = tolower($3); column = 0; next }
                    /^[[:space:]]*$/ { dll = "" }
                    dll != "" && $1 == "vma:" { for (i = 2; i <= NF; i++) if ($i == "Member-Name") column = i; next }
                    dll != "" && column && $1 ~ /^[0-9a-f]+$/ {
                        print dll, (NF >= column && $column != "<none>" ? $column : "ordinal-" $2) }' <<< "$headers")
    allowed=$(sed 's/#.*//' "$xp_functions" | awk 'NF == 2 { print tolower($1), $2 }')
    count=0 unlisted=0
    while read -r dll function; do
        count=$((count + 1))
        if ! grep -qxF "$dll $function" <<< "$allowed"; then
            echo "FAIL imports $function from $dll, which is not on the list of functions Windows XP SP3 has:" \
                 "add it to $xp_functions if Microsoft's documentation gives XP or earlier as its minimum supported client"
            unlisted=$((unlisted + 1))
        fi
    done <<< "$imported"
    if (( count == 0 )); then
        echo "FAIL no imported functions found in $exe"
        failed=1
    elif (( unlisted == 0 )); then
        echo "ok   all $count imported functions are on the list of functions Windows XP SP3 has"
    else
        failed=1
    fi
fi
exit "$failed"
