#!/usr/bin/env bash
# try.sh - see quorvel read the time from a real web server without letting
# it touch this machine's clock.
#
# Builds the release quorvel if needed (build/linux-release) and runs the
# real "quorvel auto" once inside a private user and network namespace
# (tests/support/in_netns.sh): only loopback exists there, www.baidu.com is
# 127.0.0.1, served by Debian's nginx (tests/support/nginx_in_netns.sh), and
# the kernel refuses clock changes. Shows what the program printed, then one
# line on the clock error it gets. Standard input is /dev/null, so no
# message box can wait for Enter. Fails when no time was read.
set -euo pipefail
cd "$(dirname "$0")/.."

binary=build/linux-release/app/quorvel
echo "== Building the release quorvel ($binary)"
if [[ ! -f build/linux-release/CMakeCache.txt ]]; then
    cmake --preset linux-release >/dev/null
fi
cmake --build --preset linux-release --target quorvel >/dev/null

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
echo "== quorvel auto against nginx in a private namespace (www.baidu.com is 127.0.0.1 there)"
status=0
tests/support/in_netns.sh tests/support/nginx_in_netns.sh "$binary" auto \
    </dev/null >"$out" 2>"$err" || status=$?
echo "-- standard output (the diagnostics):"
cat "$out"
echo "-- standard error:"
cat "$err"
echo "-- exit status $status"

if [[ $status -ge 125 ]]; then
    echo "The namespace or nginx could not be set up (see above); nothing was run." >&2
    exit 1
fi
if ! grep -q '^Adjusted Time: ' "$out"; then
    echo "No time was read from nginx (see above)." >&2
    exit 1
fi
if ! grep -q '^Failed to set system time. Error: 1$' "$err"; then
    echo "The clock did not refuse with EPERM (see above)." >&2
    exit 1
fi
echo "The time was read from a real web server. \"Error: 1\" is EPERM: the private" \
     "namespace forbids clock changes, by design, so this machine's clock was not touched;" \
     "\"sudo quorvel auto\" sets it for real."
