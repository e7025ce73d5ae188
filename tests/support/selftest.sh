#!/usr/bin/env bash
# selftest.sh - proves the tools in tests/support work on this machine.
#
# Usage: tests/support/selftest.sh        (as root or as a normal user)
#
# On plain loopback: the stand-in server with --port 0 delivers exactly the
# bytes of each scenario, logs the request, closes with FIN or RST as told,
# serves a second client while the first stalls and stops at --max-seconds;
# in_netns.sh returns the command's status; nginx_in_netns.sh refuses to run
# outside a namespace; with wine installed, in_netns.sh --wine stops a
# wineserver left outside and wine runs with one inside. Inside in_netns.sh:
# only loopback, www.baidu.com is 127.0.0.1, the clock cannot be set, the
# stand-in server answers on port 80 and nginx answers with a Date header.
# Ends with "N passed, N failed"; the exit status is 0 only when nothing failed.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
server="$here/standin_server.py"
request=$'GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n'

check() {  # check NAME CMD...: runs CMD, records the outcome in $SELFTEST_RESULTS
    local name=$1 status=0; shift
    set +e
    ( set -e; "$@" ) > "$work/check.out" 2>&1   # errexit holds only outside an "if"
    status=$?
    set -e
    if [[ $status == 0 ]]; then
        echo "pass $name" | tee -a "$SELFTEST_RESULTS"
    else
        echo "FAIL $name" | tee -a "$SELFTEST_RESULTS"
        sed 's/^/    /' "$work/check.out"
    fi
}

start_server() {  # start_server ARGS...: sets $port and $spid once it listens
    python3 "$server" "$@" > "$work/server.out" &
    spid=$!
    for _ in $(seq 100); do
        port=$(sed -n 's/^PORT //p' "$work/server.out")
        [[ -n "$port" ]] && return 0
        sleep 0.05
    done
    echo "stand-in server did not start" >&2
    return 1
}

fetch() {  # fetch HOST PORT [SECONDS]: sends the request, prints the whole response
    timeout "${3:-10}" bash -c 'exec 3<>"/dev/tcp/$1/$2"; printf %s "$3" >&3; cat <&3' _ "$1" "$2" "$request"
}

ending() {  # ending PORT: sends the request, prints EOF, RESET or TIMEOUT (> 1 s)
    python3 - "$1" "$request" <<'EOF'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)
s.sendall(sys.argv[2].encode())
time.sleep(0.2)
try:
    while s.recv(65536):
        pass
    print("EOF")
except ConnectionResetError:
    print("RESET")
except socket.timeout:
    print("TIMEOUT")
EOF
}

# --- on plain loopback -----------------------------------------------------

scenarios_deliver_their_bytes() {
    for s in $(python3 "$server" --list); do
        case $s in hang|close-at-once|reset-midway|ok-now) continue ;; esac
        start_server --port 0 --scenario "$s" --connections 1 --max-seconds 20
        fetch 127.0.0.1 "$port" > "$work/got"
        python3 "$server" --dump --scenario "$s" > "$work/want"
        cmp "$work/got" "$work/want" || { echo "scenario $s differs"; return 1; }
        wait "$spid"
    done
}

request_is_logged() {
    start_server --port 0 --scenario ok --connections 1 --max-seconds 20 --log "$work/log"
    fetch 127.0.0.1 "$port" > /dev/null
    wait "$spid"
    python3 -c 'import json, sys
rec = json.loads(open(sys.argv[1]).read())
assert rec["request"] == sys.argv[2] and rec["scenario"] == "ok", rec' "$work/log" "$request"
}

close_sends_fin_with_request_unread() {
    echo '["close"]' > "$work/close.json"
    start_server --port 0 --script "$work/close.json" --connections 1 --max-seconds 20
    [[ $(ending "$port") == EOF ]]
}

reset_sends_rst() {
    start_server --port 0 --scenario reset-midway --connections 1 --max-seconds 20
    [[ $(ending "$port") == RESET ]]
}

stalled_client_does_not_block_others() {
    start_server --port 0 --scenario ok --connections 2 --max-seconds 20
    exec 4<>"/dev/tcp/127.0.0.1/$port"   # connects and never sends a request
    python3 "$server" --dump --scenario ok > "$work/want"
    fetch 127.0.0.1 "$port" 3 > "$work/got"
    cmp "$work/got" "$work/want"
}

hang_ends_at_max_seconds() {
    start_server --port 0 --scenario hang --max-seconds 1
    fetch 127.0.0.1 "$port" > /dev/null &
    for _ in $(seq 30); do
        kill -0 "$spid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill "$spid"
    echo "still running 3 s after it was started with --max-seconds 1"
    return 1
}

wine_uses_a_server_inside() {
    export WINEPREFIX="$work/wine" WINEDEBUG=-all
    mkdir "$WINEPREFIX"
    wineserver -f -p 60 &                   # a server left running outside
    outside=$!
    trap 'kill "$outside" 2>/dev/null || true' EXIT
    wineboot -i > /dev/null 2>&1
    kill -0 "$outside"
    "$here/in_netns.sh" --wine bash -c '
        [[ $(wine cmd /c echo hi 2>/dev/null) == hi* ]]
        ours=$(readlink /proc/self/ns/net)
        for p in $(pgrep -x "wineserver(32|64)?"); do
            [[ $(readlink "/proc/$p/ns/net" 2>/dev/null) == "$ours" ]] && exit 0
        done
        echo "no wineserver in this network namespace"; exit 1'
    for _ in $(seq 20); do
        grep -qs '^State:.*[RSD]' "/proc/$outside/status" || return 0
        sleep 0.1
    done
    echo "the wineserver started outside still runs"; return 1
}

# --- inside in_netns.sh ----------------------------------------------------

only_loopback() {
    read -r _ _ count < /proc/self/uid_map
    [[ "$count" != 4294967295 ]]
    [[ $(ip -o link show | awk -F': ' '{print $2}') == lo ]]
    ip -o link show lo | grep -q 'UP'
    [[ -z $(ip route show; ip -6 route show | grep -v '^::1 ') ]]
}

clock_cannot_be_set() {
    read -r _ _ count < /proc/self/uid_map
    [[ "$count" != 4294967295 ]]    # never try date -s outside a user namespace
    if out=$(LC_ALL=C date -s "@$(date +%s)" 2>&1); then echo "date -s worked"; return 1; fi
    [[ "$out" == *"Operation not permitted"* ]]
}

standin_on_port_80() {
    start_server --scenario ok --connections 1 --max-seconds 20
    [[ $port == 80 ]]
    fetch www.baidu.com 80 > "$work/got"
    python3 "$server" --dump --scenario ok > "$work/want"
    cmp "$work/got" "$work/want"
}

nginx_sends_date() {
    "$here/nginx_in_netns.sh" curl -sSI --max-time 5 http://www.baidu.com/ > "$work/head"
    grep -q '^HTTP/1.1 200' "$work/head"
    grep -Eq '^Date: [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} GMT' "$work/head"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/selftest.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ "${1:-}" == "--inside" ]]; then
    check "in_netns: only loopback, up, no route out" only_loopback
    check "in_netns: www.baidu.com is 127.0.0.1" \
        bash -c '[[ $(getent hosts www.baidu.com) == "127.0.0.1 "* ]]'
    check "in_netns: setting the clock fails with EPERM" clock_cannot_be_set
    check "stand-in server on port 80 reached by name" standin_on_port_80
    check "nginx_in_netns: nginx answers with a Date header" nginx_sends_date
    exit 0
fi

export SELFTEST_RESULTS="$work/results"
: > "$SELFTEST_RESULTS"
check "stand-in: every closing scenario delivers exactly its bytes" scenarios_deliver_their_bytes
check "stand-in: the request is logged byte for byte" request_is_logged
check "stand-in: close sends FIN even with the request unread" close_sends_fin_with_request_unread
check "stand-in: reset-midway ends in a connection reset" reset_sends_rst
check "stand-in: a stalled client does not block the next" stalled_client_does_not_block_others
check "stand-in: hang ends at --max-seconds" hang_ends_at_max_seconds
check "in_netns: exit status is the command's" \
    bash -c '"$1/in_netns.sh" sh -c "exit 7"; [[ $? == 7 ]]' _ "$here"
check "nginx_in_netns: refuses to run outside a namespace" \
    bash -c '! "$1/nginx_in_netns.sh" true' _ "$here"
if command -v wine > /dev/null; then
    check "in_netns --wine: the outside wineserver is stopped, wine uses one inside" \
        wine_uses_a_server_inside
else
    echo "skip in_netns --wine (wine is not installed)"
fi
"$here/in_netns.sh" "$BASH" "$here/selftest.sh" --inside ||
    echo "FAIL in_netns.sh could not run the checks inside" | tee -a "$SELFTEST_RESULTS"

passed=$(grep -c '^pass' "$SELFTEST_RESULTS" || true)
failed=$(grep -c '^FAIL' "$SELFTEST_RESULTS" || true)
echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
