#!/usr/bin/env bash
# make_screenshots.sh - remakes docs/main-window.png, docs/about-box.png and
# docs/main-window-150.png (the main window at 150 % display scaling, 144
# DPI): Quorvel.exe under Wine on a virtual display (Xvfb, 800x600, 24
# bits), each window cut out of a shot of the screen.
#
# Usage: tests/wine/make_screenshots.sh [--exe EXE] [--out DIR] [BUILD_DIR]
#   BUILD_DIR  a Windows build with the tests, whose driver and Wine prefix
#              are used (default build/windows-i686: cmake --preset
#              windows-i686 && cmake --build --preset windows-i686; where
#              32-bit programs cannot run, build/windows-x64)
#   --exe      the Quorvel.exe to show (default: the one BUILD_DIR's tests
#              run, the windows preset's for build/windows-i686)
#   --out      where the pictures go (default docs/)
# QUORVEL_WINE_LOCALE chooses the code page, as for every Wine case
# (wine_run.sh; 936 by default).
# Needs Xvfb and ImageMagick's import; fonts-wqy-microhei for the Chinese
# texts (Wine then draws 宋体 with it).
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
die() { echo "make_screenshots.sh: $*" >&2; exit 1; }
exe= out=$root/docs
while [[ $# -gt 0 ]]; do
    case "$1" in
        --exe) exe=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) break ;;
    esac
done
build=$(readlink -f "${1:-$root/build/windows-i686}")
if [[ -z "$exe" ]]; then exe=$(cat "$build/tests/wine/tested_exe.txt" 2>/dev/null || true); fi
driver=$build/tests/wine/quorvel_driver.exe
[[ -n "$exe" && -f "$exe" ]] || die "Quorvel.exe ($exe) is not built"
[[ -f "$driver" ]] || die "$build has no quorvel_driver.exe; build a Windows test preset (windows-i686 or windows-x64)"
command -v Xvfb >/dev/null || die "Xvfb is missing (Debian: xvfb)"
command -v import >/dev/null || die "import is missing (Debian: imagemagick)"

export WINEPREFIX=$build/wineprefix
# The display scaling case's prefix, whose user's DPI (LogPixels) may change.
dpi_prefix=$build/wineprefix-dpi
work=$(mktemp -d "${TMPDIR:-/tmp}/screenshots.XXXXXX")
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    WINEPREFIX=$dpi_prefix wineserver -k 2>/dev/null || true
    if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3> "$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || die "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
# A wineserver started for another display would keep Wine's desktop there.
for prefix in "$WINEPREFIX" "$dpi_prefix"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
done

# shoot WHAT FILE: the driver shows WHAT (main or about) and prints its
# rectangle; the shot is taken, then the driver closes the program.
shoot() {
    local what=$1 file=$2 rect= driver_pid
    rm -f "$work/done" "$work/rect"
    "$here/wine_run.sh" "$driver" pose "$exe" "$what" "$work/done" > "$work/rect" 2> "$work/driver.log" &
    driver_pid=$!
    for _ in $(seq 600); do
        rect=$(sed -n 's/^RECT //p' "$work/rect" | tr -d '\r')
        [[ -n "$rect" ]] && break
        kill -0 "$driver_pid" 2>/dev/null || break
        sleep 0.05
    done
    [[ -n "$rect" ]] || { cat "$work/driver.log" >&2; die "the $what window did not show"; }
    read -r left top right bottom client_top <<< "$rect"
    import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage -strip "$file"
    touch "$work/done"
    wait "$driver_pid" || { cat "$work/driver.log" >&2; die "the driver failed"; }
    echo "wrote $file ($((right - left))x$((bottom - top)), client area from row $client_top)"
}

mkdir -p "$out"
shoot main "$out/main-window.png"
shoot about "$out/about-box.png"
# Each Wine process reads the DPI (LogPixels) when it starts.
WINEPREFIX=$dpi_prefix "$here/wine_run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d 144 /f > /dev/null
WINEPREFIX=$dpi_prefix shoot main "$out/main-window-150.png"
