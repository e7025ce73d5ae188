#!/usr/bin/env bash
# check_install.sh - what the Linux program installs, and where.
#
# Usage: tests/e2e/check_install.sh --tree BUILD_DIR   (cmake --install into a temp prefix)
#        tests/e2e/check_install.sh --deb PACKAGE.deb  (the Debian package)
#
# The installed files are exactly bin/quorvel, the gzipped manual page, the
# systemd service and timer, and the copyright and gzipped changelog under the
# prefix (a temp dir, or /usr for the package); the service runs
# PREFIX/bin/quorvel auto precise; the manual page renders without warnings
# (when man-db is installed). Where systemd is installed, in the tree only
# (the package's binary is not at /usr/bin here): the service and the timer
# together pass systemd-analyze verify, which also finds an ordering cycle
# between them, and the service's exposure (systemd-analyze security
# --offline=true) is printed and must be at most 2.0. The package depends on
# the C library only. Nothing is run from the installed files.
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
lib/systemd/system/quorvel.timer
share/doc/quorvel/changelog.gz
share/doc/quorvel/copyright
share/man/man1/quorvel.1.gz"
files=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $files == "$expected" ]] || fail "installed files:
$files
expected:
$expected"
[[ -x $root/bin/quorvel ]] || fail "bin/quorvel is not executable"

unit=$root/lib/systemd/system/quorvel.service
exec_start=$(grep '^ExecStart=' "$unit")
[[ $exec_start == "ExecStart=$prefix/bin/quorvel auto precise" ]] ||
    fail "the unit has \"$exec_start\", expected ExecStart=$prefix/bin/quorvel auto precise"
if [[ $1 == --tree ]] && command -v systemd-analyze >/dev/null; then
    out=$(systemd-analyze verify --man=no "$unit" "${unit%.service}.timer" 2>&1) ||
        fail "systemd-analyze verify: $out"
    echo "quorvel.service and quorvel.timer pass systemd-analyze verify"
    out=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) ||
        fail "systemd-analyze security: $out"
    exposure=$(sed -n 's/.*Overall exposure level for quorvel\.service: \([0-9.]*\).*/\1/p' <<<"$out")
    [[ -n $exposure ]] || fail "no exposure level in: $out"
    echo "quorvel.service exposure (systemd-analyze security --offline=true): $exposure, at most 2.0 allowed"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
        fail "the service's exposure is $exposure, above 2.0:
$out"
elif [[ $1 == --tree ]]; then
    echo "systemd-analyze is missing: the units are checked by the service's ExecStart line only"
else
    echo "units checked by the service's ExecStart line only"
fi

if command -v man >/dev/null; then
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
          man --warnings -E UTF-8 -l -Tutf8 -Z "$root/share/man/man1/quorvel.1.gz" 2>&1 >/dev/null)
    [[ -z $out ]] || fail "the manual page renders with warnings: $out"
    echo "manual page rendered by man --warnings"
fi
echo "pass check_install $1"
