#!/usr/bin/env bash
# compare_code_pages.sh - Chinese renders whatever the system code page: the
# main window and the About box of Quorvel.exe, shot under code page 1252,
# must look as they do under 936. Reading the texts back cannot see a text
# drawn as boxes; the pixels can.
#
# Usage: compare_code_pages.sh BUILD_DIR EXE
#   BUILD_DIR, EXE  as for make_screenshots.sh (the driver and prefix of
#                   BUILD_DIR, showing EXE)
# Each window is cut into 4 x 4 regions; every region may differ in at most
# $tolerance pixels (by more than 5% of the colour range), so that a few
# texts drawn as boxes cannot hide in a large window. Exit status: 0 the
# shots match, 1 they differ, 2 they could not be taken.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
[[ $# -eq 2 ]] || { echo "usage: compare_code_pages.sh BUILD_DIR EXE" >&2; exit 2; }
build=$1 exe=$2
tolerance=8
work=$(mktemp -d "${TMPDIR:-/tmp}/code_pages.XXXXXX")
trap 'rm -rf "$work"' EXIT

for locale in zh_CN.UTF-8:936 en_US.UTF-8:1252; do
    QUORVEL_WINE_LOCALE=${locale%:*} "$here/make_screenshots.sh" --exe "$exe" --out "$work/${locale#*:}" "$build" ||
        exit 2
done

failed=0
for window in main-window about-box; do
    a=$work/936/$window.png b=$work/1252/$window.png
    size_a=$(identify -format %wx%h "$a") size_b=$(identify -format %wx%h "$b")
    if [[ "$size_a" != "$size_b" ]]; then
        echo "FAIL $window: $size_a under 936, $size_b under 1252"
        failed=1
        continue
    fi
    convert "$a" -crop 4x4@ +repage "$work/a-%02d.png"
    convert "$b" -crop 4x4@ +repage "$work/b-%02d.png"
    worst=0
    for tile in "$work"/a-*.png; do
        # compare prints the count on standard error and exits 1 when the
        # images differ.
        differing=$(compare -metric AE -fuzz 5% "$tile" "${tile/a-/b-}" null: 2>&1 || true)
        if [[ ! "$differing" =~ ^[0-9]+$ ]]; then echo "compare failed: $differing" >&2; exit 2; fi
        if ((differing > worst)); then worst=$differing; fi
    done
    if ((worst > tolerance)); then
        echo "FAIL $window ($size_a): a region differs in $worst pixels between 936 and 1252"
        failed=1
    else
        echo "ok   $window ($size_a): every region within $tolerance pixels (at most $worst)"
    fi
    rm -f "$work"/a-*.png "$work"/b-*.png
done
exit "$failed"
