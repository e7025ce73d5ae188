#!/usr/bin/env bash
# check_install.sh - what the Linux program installs, and where.
#
# Usage: tests/e2e/check_install.sh --tree BUILD_DIR   (cmake --install into a temp prefix)
#        tests/e2e/check_install.sh --deb PACKAGE.deb  (the Debian package)
#
# The installed files are exactly bin/quorvel, the manual page, the systemd
# unit and the copyright file under the prefix (a temp dir, or /usr for the
# package); the unit runs PREFIX/bin/quorvel auto; the manual page renders
# without warnings (when man-db is installed) and the unit passes
# systemd-analyze verify (when systemd is installed; the tree only, since the
# package's binary is not at /usr/bin here). The package depends on the C
# library only. Nothing is run from the installed files.
set -euo pipefail

fail() { echo "FAIL check_install: $*"; exit 1; }

[[ $# == 2 && ( $1 == --tree || $1 == --deb ) ]] ||
    { echo "usage: check_install.sh --tree BUILD_DIR | --deb PACKAGE.deb" >&2; exit 2; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/check_install.XXXXXX")
trap 'rm -rf "$dir"' EXIT

if [[ $1 == --tree ]]; then
    cmake --install "$2" --prefix "$dir/prefix" >/dev/null
    root=$dir/prefix prefix=$dir/prefix
else
    dpkg-deb -x "$2" "$dir/root"
    root=$dir/root/usr prefix=/usr
    depends=$(dpkg-deb -f "$2" Depends)
    [[ $depends =~ ^libc6(\ \(\>=\ [0-9.]+\))?$ ]] ||
        fail "the package depends on \"$depends\", expected the C library only"
fi

expected="bin/quorvel
lib/systemd/system/quorvel.service
share/doc/quorvel/copyright
share/man/man1/quorvel.1"
files=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $files == "$expected" ]] || fail "installed files:
$files
expected:
$expected"
[[ -x $root/bin/quorvel ]] || fail "bin/quorvel is not executable"

unit=$root/lib/systemd/system/quorvel.service
exec_start=$(grep '^ExecStart=' "$unit")
[[ $exec_start == "ExecStart=$prefix/bin/quorvel auto" ]] ||
    fail "the unit has \"$exec_start\", expected ExecStart=$prefix/bin/quorvel auto"
if [[ $1 == --tree ]] && command -v systemd-analyze >/dev/null; then
    out=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "systemd-analyze verify: $out"
    echo "unit checked by systemd-analyze verify"
else
    echo "unit checked by its ExecStart line only"
fi

if command -v man >/dev/null; then
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
          man --warnings -E UTF-8 -l -Tutf8 -Z "$root/share/man/man1/quorvel.1" 2>&1 >/dev/null)
    [[ -z $out ]] || fail "the manual page renders with warnings: $out"
    echo "manual page rendered by man --warnings"
fi
echo "pass check_install $1"
