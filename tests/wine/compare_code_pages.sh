#!/usr/bin/env bash
# compare_code_pages.sh - Chinese renders whatever the system code page: the
# main window and the About box of Quorvel.exe, shot under code page 1252,
# must look as they do under 936. Reading the texts back cannot see a text
# drawn as boxes; the pixels can.
#
# Usage: compare_code_pages.sh BUILD_DIR EXE
#   BUILD_DIR, EXE  as for make_screenshots.sh (the driver and prefix of
#                   BUILD_DIR, showing EXE)
# What Quorvel draws is compared: each window's client area, below the
# caption. Wine draws the caption with a font it picks by the code page
# (Wine 10: Tahoma under 1252, without CJK glyphs, so the About box's caption
# shows boxes there while Windows links Tahoma to SimSun); the caption's text
# itself is read back by the code_page_1252 dialog case.
# The client area is cut into 4 x 4 regions; every region may differ in at
# most $tolerance pixels (by more than 5% of the colour range), so that a few
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
    QUORVEL_WINE_LOCALE=${locale%:*} "$here/make_screenshots.sh" --exe "$exe" --out "$work/${locale#*:}" "$build" \
        > "$work/${locale#*:}.log" || { cat "$work/${locale#*:}.log"; exit 2; }
    cat "$work/${locale#*:}.log"
done
# The first row of WINDOW's client area in the shot under code page PAGE.
client_top() {
    sed -n "s|^wrote $work/$2/$1.png (.*, client area from row \([0-9]*\))\$|\1|p" "$work/$2.log"
}

failed=0
for window in main-window about-box; do
    a=$work/936/$window.png b=$work/1252/$window.png
    size_a=$(identify -format %wx%h "$a") size_b=$(identify -format %wx%h "$b")
    top_a=$(client_top "$window" 936) top_b=$(client_top "$window" 1252)
    if [[ -z "$top_a" || "$top_a" != "$top_b" ]]; then
        echo "FAIL $window: its client area begins at row ${top_a:-?} under 936, ${top_b:-?} under 1252"
        failed=1
        continue
    fi
    if [[ "$size_a" != "$size_b" ]]; then
        echo "FAIL $window: $size_a under 936, $size_b under 1252"
        failed=1
        continue
    fi
    convert "$a" -crop "+0+$top_a" +repage -crop 4x4@ +repage "$work/a-%02d.png"
    convert "$b" -crop "+0+$top_b" +repage -crop 4x4@ +repage "$work/b-%02d.png"
    worst=0
    for tile in "$work"/a-*.png; do
        # compare prints the count on standard error and exits 1 when the
        # images differ.
        differing=$(compare -metric AE -fuzz 5% "$tile" "${tile/a-/b-}" null: 2>&1 || true)
        if [[ ! "$differing" =~ ^[0-9]+$ ]]; then echo "compare failed: $differing" >&2; exit 2; fi
        if ((differing > worst)); then worst=$differing; fi
    done
    if ((worst > tolerance)); then
        echo "FAIL $window ($size_a, client area from row $top_a): a region differs in $worst pixels between 936 and 1252"
        failed=1
    else
        echo "ok   $window ($size_a, client area from row $top_a): every region within $tolerance pixels (at most $worst)"
    fi
    rm -f "$work"/a-*.png "$work"/b-*.png
done
exit "$failed"
