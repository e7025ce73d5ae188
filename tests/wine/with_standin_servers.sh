#!/usr/bin/env bash
# with_standin_servers.sh - run a command while stand-in HTTP servers listen
# on loopback ports of their own.
#
# Usage: with_standin_servers.sh SCENARIO... -- CMD [ARGS...]
#
# Starts tests/support/standin_server.py --port 0 once per SCENARIO (a
# built-in scenario name, or "swallow" for a port whose connects never
# complete: --swallow) on 127.0.0.1 and exports its port as
# QUORVEL_STANDIN_<SCENARIO>_PORT (upper case, '-' as '_'), and
# QUORVEL_CLOSED_PORT, a loopback port nothing listens on (connections to it
# are refused). Wine hands the variables to Windows programs. The servers
# stop after CMD, and by themselves after 120 s in any case.
# The exit status is CMD's; 125 when a server cannot be started.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
standin=$here/../support/standin_server.py
scenarios=()
while [[ $# -gt 0 && "$1" != "--" ]]; do scenarios+=("$1"); shift; done
[[ $# -ge 2 ]] || { echo "usage: with_standin_servers.sh SCENARIO... -- CMD [ARGS...]" >&2; exit 2; }
shift

dir=$(mktemp -d "${TMPDIR:-/tmp}/standins.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT

for scenario in "${scenarios[@]}"; do
    what=(--scenario "$scenario")
    if [[ $scenario == swallow ]]; then what=(--swallow); fi
    python3 "$standin" --port 0 "${what[@]}" --max-seconds 120 > "$dir/$scenario.out" &
    pids+=($!)
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$dir/$scenario.out")
        [[ -n "$port" ]] && break
        sleep 0.05
    done
    [[ -n "$port" ]] || { echo "with_standin_servers.sh: $scenario did not start" >&2; exit 125; }
    name=${scenario^^}
    export "QUORVEL_STANDIN_${name//-/_}_PORT=$port"
done

# A port that was free a moment ago: bound, then closed without listening.
QUORVEL_CLOSED_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export QUORVEL_CLOSED_PORT

status=0
"$@" || status=$?
exit "$status"
