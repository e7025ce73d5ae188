#!/usr/bin/env bash
# wine_run.sh - run a Windows program under Wine, the way the tests need it.
#
# Usage: wine_run.sh [--prefix DIR] [--arch win32|win64] PROGRAM.exe [ARGS...]
#
# The cross toolchains make this the emulator of every test executable.
#   - WINEPREFIX is DIR (default: $WINEPREFIX, else ./wineprefix). On first
#     use the prefix is created with "wineboot -i", as WINEARCH (--arch; by
#     default Wine's choice; an existing prefix's own otherwise) for 32-bit
#     (win32) or 64-bit programs, and gets
#       - Wine's marlett and tahoma fonts (caption buttons need them);
#       - the X11 driver value Managed=N (no window manager: no 2 s wait when
#         a window closes, and Wine draws the caption);
#       - the system fonts of a Chinese Windows: caption, menu and message
#         box texts in SimSun with the GB2312 character set. Wine's default
#         fonts there have no Chinese, so the caption "关于", the system
#         menu's About item and Chinese message boxes would show boxes.
#     DIR/.quorvel-prefix-2 marks a finished prefix (remade when the mark is
#     missing). Creation holds DIR.lock, so concurrent first uses wait. The
#     wineserver is restarted after the set-up: in a prefix just made, the
#     first out-of-process COM activation otherwise hangs.
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
#   - A 64-bit prefix runs under Wine's 64-bit loader itself, so it works on
#     kernels that cannot execute 32-bit programs, wine32 installed or not.
# The exit status is the program's.
set -euo pipefail

prefix=${WINEPREFIX:-$PWD/wineprefix}
if [[ "${1:-}" == "--prefix" ]]; then
    prefix=$2
    shift 2
fi
arch=
if [[ "${1:-}" == "--arch" ]]; then
    arch=$2
    shift 2
fi
[[ $# -ge 1 ]] || { echo "usage: wine_run.sh [--prefix DIR] [--arch win32|win64] PROGRAM [ARGS...]" >&2; exit 2; }
command -v wine >/dev/null || { echo "wine_run.sh: wine is missing (Debian: wine wine64)" >&2; exit 2; }

# An existing prefix keeps the architecture it was made with.
if [[ -z "$arch" && -f "$prefix/system.reg" ]]; then
    arch=$(sed -n 's/^#arch=//p' "$prefix/system.reg" | head -n1)
fi

# The loader. Debian's `wine` starts the 32-bit loader whenever wine32 is
# installed, and that one hands 64-bit programs on to the 64-bit loader; a
# kernel that cannot execute 32-bit programs cannot start it at all. So a
# 64-bit prefix uses the 64-bit loader directly, on every machine.
wine=wine
if [[ "$arch" == win64 && -x /usr/lib/wine/wine64 ]]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
fi

export WINEPREFIX=$prefix
export WINEDEBUG=${QUORVEL_WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

ready=$WINEPREFIX/.quorvel-prefix-2

# A LOGFONTW (hex) for SimSun, 9 points at 96 dpi, GB2312, of weight $1.
simsun_logfont() {
    python3 -c 'import struct, sys
face = "SimSun".encode("utf-16-le").ljust(64, b"\0")
print((struct.pack("<5l8B", -12, 0, 0, 0, int(sys.argv[1]), 0, 0, 0, 134, 0, 0, 0, 0) + face).hex())' "$1"
}

create_prefix() {
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if [[ -n "$arch" ]]; then export WINEARCH=$arch; fi
    "$wine" wineboot -i >/dev/null 2>&1
    local fonts=/usr/share/wine/fonts f metrics='HKCU\Control Panel\Desktop\WindowMetrics'
    for f in marlett.ttf tahoma.ttf tahomabd.ttf; do
        if [[ -f $fonts/$f ]]; then cp "$fonts/$f" "$WINEPREFIX/drive_c/windows/Fonts/"; fi
    done
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$wine" reg add "$metrics" /v CaptionFont /t REG_BINARY /d "$(simsun_logfont 700)" /f >/dev/null 2>&1
    for f in SmCaptionFont MenuFont MessageFont StatusFont IconFont; do
        "$wine" reg add "$metrics" /v "$f" /t REG_BINARY /d "$(simsun_logfont 400)" /f >/dev/null 2>&1
    done
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    touch "$ready"
}

if [[ ! -f "$ready" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f "$ready" ]]; then create_prefix; fi
    flock -u 9
    exec 9>&-
fi

# wineserver exits with 2 when a server already runs for the prefix.
if wineserver -p5 </dev/null >/dev/null 2>&1; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

exec env LC_ALL="${QUORVEL_WINE_LOCALE:-zh_CN.UTF-8}" "$wine" "$@"
