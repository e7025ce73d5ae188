#!/usr/bin/env bash
# wine_run.sh - run a Windows program under Wine, the way the tests need it.
#
# Usage: wine_run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#
# The cross toolchains make this the emulator of every test executable.
#   - WINEPREFIX is DIR (default: $WINEPREFIX, else ./wineprefix). On first
#     use the prefix is created with "wineboot -i", gets Wine's marlett and
#     tahoma fonts (caption buttons and dialog texts need them) and the X11
#     driver value Managed=N (no window manager: no 2 s wait when a window
#     closes, and Wine draws the caption). Creation holds DIR.lock, so
#     concurrent first uses wait for one another.
#   - WINEDEBUG=-all (QUORVEL_WINEDEBUG overrides it, to debug a test).
#   - LC_ALL=zh_CN.UTF-8 for the Wine process only: Wine then uses code page
#     936 as its ANSI and OEM code page, the program's own, without any
#     generated locale. QUORVEL_WINE_LOCALE names another (en_US.UTF-8 gives
#     code page 1252).
#   - The wineserver and Wine's services (started by the first program of a
#     session) inherit the standard streams of whoever starts them and keep
#     them open for seconds after the program ends, so a caller reading the
#     program's output through a pipe (ctest) would wait for them. When no
#     wineserver runs for the prefix, both are started first here, with
#     their streams on /dev/null.
# The exit status is the program's.
set -euo pipefail

prefix=${WINEPREFIX:-$PWD/wineprefix}
if [[ "${1:-}" == "--prefix" ]]; then
    prefix=$2
    shift 2
fi
[[ $# -ge 1 ]] || { echo "usage: wine_run.sh [--prefix DIR] PROGRAM [ARGS...]" >&2; exit 2; }
command -v wine >/dev/null || { echo "wine_run.sh: wine is missing (Debian: wine wine64)" >&2; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=${QUORVEL_WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

create_prefix() {
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1
    local fonts=/usr/share/wine/fonts f
    for f in marlett.ttf tahoma.ttf tahomabd.ttf; do
        if [[ -f $fonts/$f ]]; then cp "$fonts/$f" "$WINEPREFIX/drive_c/windows/Fonts/"; fi
    done
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    touch "$WINEPREFIX/.quorvel-ready"
}

if [[ ! -f "$WINEPREFIX/.quorvel-ready" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f "$WINEPREFIX/.quorvel-ready" ]]; then create_prefix; fi
    flock -u 9
    exec 9>&-
fi

# wineserver exits with 2 when a server already runs for the prefix.
if wineserver -p5 </dev/null >/dev/null 2>&1; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

exec env LC_ALL="${QUORVEL_WINE_LOCALE:-zh_CN.UTF-8}" wine "$@"
