#!/usr/bin/env bash
# run_case.sh - one Wine test case: runs a command (Quorvel.exe, or the driver
# that starts it) on an X display, optionally in a private network namespace
# where a local server stands in for www.baidu.com, and checks its exit status
# and output.
#
# Usage: run_case.sh --prefix DIR [--netns SERVER] [--dpi N]
#                    [--exit N] [--stdout-has TEXT]... [--stdout-lacks TEXT]...
#                    [--stderr-has TEXT]... [--stderr-lacks TEXT]...
#                    [--proxy-log-has TEXT]...
#                    -- CMD [ARGS...]
#
#   --prefix DIR    the Wine prefix (WINEPREFIX) CMD uses.
#   --netns SERVER  run CMD inside tests/support/in_netns.sh --wine: only
#                   loopback, www.baidu.com is 127.0.0.1, the clock cannot be
#                   set. SERVER on 127.0.0.1:80 is "standin:SCENARIO" (a
#                   built-in scenario of standin_server.py), "nginx", or "none"
#                   (connections are refused). "swallow+standin:SCENARIO":
#                   www.baidu.com has a second address, 127.0.0.2, where the
#                   stand-in serves, and 127.0.0.1:80, which the resolver
#                   gives first, swallows connections (standin_server.py
#                   --swallow: a dead server behind round-robin DNS).
#                   "proxy+SERVER": SERVER behind squid on 127.0.0.1:3128
#                   (tests/support/squid_in_netns.sh, in in_netns.sh --ids),
#                   which alone resolves www.baidu.com: CMD cannot.
#                   "late:SECONDS+standin:SCENARIO": www.baidu.com is
#                   127.0.0.2, which has no route (loopback holds only
#                   127.0.0.1/32) until it is added to loopback SECONDS after
#                   CMD starts; the stand-in listens on 0.0.0.0.
#   --dpi N         the Wine session starts with the display at N DPI
#                   (LogPixels, set in the prefix before): Wine 10 takes
#                   the monitors' DPI from it when the session starts.
#   --exit N        the exit status CMD must have (default 0); "N|M" for
#                   either of two.
#   --proxy-log-has TEXT  squid's access log must have TEXT (with proxy+).
#   TEXT            must (or must not) occur in CMD's standard output or error;
#                   printf %b escapes are expanded, so "\r\ncmd=auto\r\n" works.
#
# Without DISPLAY, an Xvfb of its own (800x600, 24 bits) is started and
# stopped. The prefix's wineserver is stopped before and after, so that Wine
# uses this display and no Wine process outlives the case. CMD is stopped
# after 90 seconds. Prints CMD's output; the exit status is 0 when every
# check passes, 1 otherwise.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
support=$here/../support

die() { echo "run_case.sh: $*" >&2; exit 2; }

# Second stage, inside the namespace (or directly without --netns): start
# the server, run CMD, keep its output in $RUN_CASE_DIR.
if [[ "${1:-}" == "--stage-run" ]]; then
    shift
    server=$1 timeout=$2
    shift 2
    dir=$RUN_CASE_DIR
    run() {
        local status=0
        timeout -k 5 "$timeout" "$@" > "$dir/stdout" 2> "$dir/stderr" || status=$?
        echo "$status" > "$dir/status"
        if [[ -n "${SQUID_DIR:-}" ]]; then cp "$SQUID_DIR/access.log" "$dir/proxy_log"; fi
    }
    case "$server" in
        none | "") run "$@" ;;
        proxy+*) "$support/squid_in_netns.sh" "$0" --stage-run "${server#proxy+}" "$timeout" "$@" ;;
        nginx) "$support/nginx_in_netns.sh" "$0" --stage-run none "$timeout" "$@" ;;
        late:*)
            # A network that comes up late: no route to the server's
            # address until it is added.
            seconds=${server#late:}
            seconds=${seconds%%+*}
            printf '127.0.0.1 localhost %s\n127.0.0.2 www.baidu.com\n' "$(uname -n)" > "$dir/hosts"
            mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"
            ip addr del 127.0.0.1/8 dev lo && ip addr add 127.0.0.1/32 dev lo || die "cannot narrow loopback"
            python3 "$support/standin_server.py" --port 80 --bind 0.0.0.0 --max-seconds $((timeout + 30)) \
                --scenario "${server#*+standin:}" > "$dir/server0" 2>&1 &
            standin=$!
            for _ in $(seq 100); do grep -q '^PORT 80$' "$dir/server0" && break; sleep 0.05; done
            (sleep "$seconds"; ip addr add 127.0.0.2/32 dev lo) &
            later=$!
            run "$@"
            kill "$standin" "$later" 2>/dev/null || true
            wait "$standin" "$later" 2>/dev/null || true
            ;;
        standin:* | swallow+standin:*)
            # Starts standin_server.py with the given arguments; waits for it.
            start() {
                local out=$dir/server${#server_pids[@]}
                python3 "$support/standin_server.py" --port 80 --max-seconds $((timeout + 30)) "$@" \
                    > "$out" 2>&1 &
                server_pids+=($!)
                for _ in $(seq 100); do
                    grep -q '^PORT 80$' "$out" && break
                    sleep 0.05
                done
                grep -q '^PORT 80$' "$out" || { cat "$out" >&2; exit 125; }
            }
            server_pids=()
            bind=127.0.0.1
            if [[ "$server" == swallow+* ]]; then
                bind=127.0.0.2
                { cat /etc/hosts; echo "$bind www.baidu.com"; } > "$dir/hosts"
                mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"
                first=$(getent ahosts www.baidu.com | head -n 1)
                [[ "$first" == "127.0.0.1 "* ]] ||
                    { echo "run_case.sh: the resolver gives $first first, not 127.0.0.1" >&2; exit 125; }
                start --bind 127.0.0.1 --swallow
            fi
            server=${server#swallow+}
            start --bind "$bind" --scenario "${server#standin:}"
            run "$@"
            kill "${server_pids[@]}" 2>/dev/null || true
            wait "${server_pids[@]}" 2>/dev/null || true
            ;;
        *) die "unknown server $server" ;;
    esac
    exit 0
fi

prefix= netns= dpi= timeout=90 expect_exit=0
has_out=() lacks_out=() has_err=() lacks_err=() has_proxy_log=()
while [[ $# -gt 0 && "$1" != "--" ]]; do
    case "$1" in
        --prefix) prefix=$2 ;;
        --netns) netns=$2 ;;
        --dpi) dpi=$2 ;;
        --exit) expect_exit=$2 ;;
        --stdout-has) has_out+=("$2") ;;
        --stdout-lacks) lacks_out+=("$2") ;;
        --stderr-has) has_err+=("$2") ;;
        --stderr-lacks) lacks_err+=("$2") ;;
        --proxy-log-has) has_proxy_log+=("$2") ;;
        *) die "unknown option $1" ;;
    esac
    shift 2
done
[[ $# -ge 2 && -n "$prefix" ]] || die "usage: run_case.sh --prefix DIR [options] -- CMD [ARGS...]"
shift
export WINEPREFIX=$prefix
# Wine's WinHTTP takes the environment's http_proxy for the machine-wide
# proxy; a case sets its proxy in the prefix (internet_settings.sh).
unset http_proxy

RUN_CASE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/run_case.XXXXXX")
export RUN_CASE_DIR
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$RUN_CASE_DIR"
}
trap cleanup EXIT

if [[ -z "${DISPLAY:-}" ]]; then
    command -v Xvfb >/dev/null || die "no DISPLAY and no Xvfb (Debian: xvfb)"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3> "$RUN_CASE_DIR/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s "$RUN_CASE_DIR/display" ]] && break
        sleep 0.05
    done
    [[ -s "$RUN_CASE_DIR/display" ]] || die "Xvfb did not start"
    export DISPLAY=:$(head -n1 "$RUN_CASE_DIR/display")
fi
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
if [[ -n "$dpi" ]]; then
    "$here/wine_run.sh" --prefix "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
        /d "$dpi" /f > /dev/null 2>&1 || die "cannot set LogPixels in $prefix"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
fi

if [[ "$netns" == proxy+* ]]; then
    "$support/in_netns.sh" --wine --ids "$0" --stage-run "$netns" "$timeout" "$@"
elif [[ -n "$netns" ]]; then
    "$support/in_netns.sh" --wine "$0" --stage-run "$netns" "$timeout" "$@"
else
    "$0" --stage-run none "$timeout" "$@"
fi

status=$(cat "$RUN_CASE_DIR/status" 2>/dev/null || echo "none")
echo "--- standard output"
cat "$RUN_CASE_DIR/stdout" 2>/dev/null || true
echo "--- standard error"
cat "$RUN_CASE_DIR/stderr" 2>/dev/null || true
if [[ -f "$RUN_CASE_DIR/proxy_log" ]]; then
    echo "--- squid's access log"
    cat "$RUN_CASE_DIR/proxy_log"
fi
echo "---"

failed=0
check() {  # check WHAT OK
    if [[ "$2" == 1 ]]; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi
}
# Whether file $1 holds the text $2 (escapes expanded), line ends included.
contains() {
    local content text
    content=$(cat "$1" 2>/dev/null; echo x)
    text=$(printf '%b' "$2"; echo x)
    [[ "${content%x}" == *"${text%x}"* ]]
}

[[ "|$expect_exit|" == *"|$status|"* ]] && ok=1 || ok=0
check "exit status $status (want $expect_exit; 124 means it did not end in ${timeout}s)" $ok
for text in ${has_out[@]+"${has_out[@]}"}; do
    contains "$RUN_CASE_DIR/stdout" "$text" && ok=1 || ok=0
    check "standard output has \"$text\"" $ok
done
for text in ${lacks_out[@]+"${lacks_out[@]}"}; do
    contains "$RUN_CASE_DIR/stdout" "$text" && ok=0 || ok=1
    check "standard output lacks \"$text\"" $ok
done
for text in ${has_err[@]+"${has_err[@]}"}; do
    contains "$RUN_CASE_DIR/stderr" "$text" && ok=1 || ok=0
    check "standard error has \"$text\"" $ok
done
for text in ${lacks_err[@]+"${lacks_err[@]}"}; do
    contains "$RUN_CASE_DIR/stderr" "$text" && ok=0 || ok=1
    check "standard error lacks \"$text\"" $ok
done
for text in ${has_proxy_log[@]+"${has_proxy_log[@]}"}; do
    contains "$RUN_CASE_DIR/proxy_log" "$text" && ok=1 || ok=0
    check "squid's access log has \"$text\"" $ok
done
exit "$failed"
