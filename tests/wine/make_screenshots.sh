#!/usr/bin/env bash
# make_screenshots.sh - remakes docs/main-window.png and docs/about-box.png:
# Quorvel.exe under Wine on a virtual display (Xvfb, 800x600, 24 bits), each
# window cut out of a shot of the screen.
#
# Usage: tests/wine/make_screenshots.sh [BUILD_DIR]
#   BUILD_DIR  a Windows build with the tests (default build/windows-x64:
#              cmake --preset windows-x64 && cmake --build --preset windows-x64)
# Needs Xvfb and ImageMagick's import; fonts-wqy-microhei for the Chinese
# texts (Wine then draws 宋体 with it).
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
build=$(readlink -f "${1:-$root/build/windows-x64}")
exe=$build/app/Quorvel.exe
driver=$build/tests/wine/quorvel_driver.exe
die() { echo "make_screenshots.sh: $*" >&2; exit 1; }
[[ -f "$exe" && -f "$driver" ]] || die "$build has no Quorvel.exe or quorvel_driver.exe; build the windows-x64 preset"
command -v Xvfb >/dev/null || die "Xvfb is missing (Debian: xvfb)"
command -v import >/dev/null || die "import is missing (Debian: imagemagick)"

export WINEPREFIX=$build/wineprefix
work=$(mktemp -d "${TMPDIR:-/tmp}/screenshots.XXXXXX")
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
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
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

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
    read -r left top right bottom <<< "$rect"
    import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage -strip "$file"
    touch "$work/done"
    wait "$driver_pid" || { cat "$work/driver.log" >&2; die "the driver failed"; }
    echo "wrote $file ($((right - left))x$((bottom - top)))"
}

mkdir -p "$root/docs"
shoot main "$root/docs/main-window.png"
shoot about "$root/docs/about-box.png"
