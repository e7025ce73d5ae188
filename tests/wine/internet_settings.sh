#!/usr/bin/env bash
# internet_settings.sh - sets the proxy settings of the current user in the
# Wine prefix $WINEPREFIX as Windows' Internet Options write them, then runs
# a command.
#
# Usage: internet_settings.sh [--auto-detect] [--script URL] [--proxy LIST]
#                             [--bypass LIST] [--winhttp LIST] -- CMD [ARGS...]
#
#   --auto-detect   "Automatically detect settings"
#   --script URL    "Use automatic configuration script", at URL
#   --serve-script FILE  the same, served from FILE by python3's http.server
#                   on 127.0.0.1:8080 while CMD runs (in a private namespace)
#   --proxy LIST    "Use a proxy server": "host:port" or "http=host:port;..."
#   --bypass LIST   its exceptions ("<local>;*.example.com"); with --proxy
#   --winhttp LIST  the machine-wide proxy, as "netsh winhttp set proxy LIST"
#                   writes it: HKLM\...\Internet Settings\Connections\
#                   WinHttpSettings, laid out as DefaultConnectionSettings
#                   without the script URL, version 0x18 (XP's, the only
#                   one Wine reads)
# What is not given is switched off. Internet Options write the values under
# HKCU\...\Internet Settings (ProxyEnable, ProxyServer, ProxyOverride,
# AutoConfigURL) and the same settings as the binary value
# Connections\DefaultConnectionSettings, which is what WinHTTP reads (Wine's
# only): a DWORD version 0x46, a change counter, flags (1 direct, 2 proxy,
# 4 script, 8 detection), then the proxy list, the bypass list and the
# script URL, each a DWORD length and that many ANSI bytes, then zeros.
# Written in one "reg import" through wine_run.sh. The exit status is CMD's;
# 125 when the settings cannot be written.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
die() { echo "internet_settings.sh: $*" >&2; exit 125; }

detect=0 script= served= proxy= bypass= winhttp=
while [[ $# -gt 0 && "$1" != "--" ]]; do
    case "$1" in
        --auto-detect) detect=1; shift; continue ;;
        --script) script=$2 ;;
        --proxy) proxy=$2 ;;
        --serve-script) served=$2; script=http://127.0.0.1:8080/$(basename "$2") ;;
        --bypass) bypass=$2 ;;
        --winhttp) winhttp=$2 ;;
        *) die "unknown option $1" ;;
    esac
    shift 2
done
[[ $# -ge 2 && -n "${WINEPREFIX:-}" ]] || die "usage: WINEPREFIX=DIR internet_settings.sh [options] -- CMD [ARGS...]"
shift

file=$(mktemp "${TMPDIR:-/tmp}/internet_settings.XXXXXX.reg")
server=
trap 'if [[ -n "$server" ]]; then kill "$server"; fi; rm -f "$file"' EXIT
python3 - "$file" "$detect" "$script" "$proxy" "$bypass" "$winhttp" <<'PY'
import struct, sys
path, detect, script, proxy, bypass, winhttp = sys.argv[1:]
flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if detect == "1" else 0)
blob = struct.pack("<3L", 0x46, 1, flags)
for text in (proxy, bypass if proxy else "", script):
    blob += struct.pack("<L", len(text)) + text.encode("ascii")
blob += bytes(32)
machine = struct.pack("<5L", 0x18, 0, 3 if winhttp else 1, len(winhttp), 0)
machine = machine[:16] + winhttp.encode("ascii") + machine[16:]
def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
def value(name, text):
    return f'"{name}"=' + (quoted(text) if text else "-")
key = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
lines = ["REGEDIT4", "", f"[{key}]",
         f'"ProxyEnable"=dword:{1 if proxy else 0:08x}',
         value("ProxyServer", proxy), value("ProxyOverride", bypass if proxy else ""),
         value("AutoConfigURL", script), "", f"[{key}\\Connections]",
         '"DefaultConnectionSettings"=hex:' + ",".join(f"{b:02x}" for b in blob), "",
         f"[{key.replace('HKEY_CURRENT_USER', 'HKEY_LOCAL_MACHINE')}\\Connections]",
         '"WinHttpSettings"=hex:' + ",".join(f"{b:02x}" for b in machine), ""]
open(path, "w", newline="\r\n").write("\n".join(lines))
PY
"$here/wine_run.sh" reg import "Z:${file//\//\\}" >/dev/null 2>&1 || die "reg import failed"
if [[ -n "$served" ]]; then
    python3 -m http.server --bind 127.0.0.1 --directory "$(dirname "$(readlink -f "$served")")" 8080 \
        >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 100); do
        if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then break; fi
        sleep 0.05
    done
fi
status=0
"$@" || status=$?
exit "$status"
