# netns_server.sh - what the starters of servers in the test namespace
# (nginx_in_netns.sh, squid_in_netns.sh, tinyproxy_in_netns.sh) share.
# Sourced, after `set -euo pipefail`, with NAME set to the starter's name.

die() { echo "$NAME: $*" >&2; exit 125; }

# Refuses to go on outside tests/support/in_netns.sh's private user and
# network namespace; with "ids", also without the ids that in_netns.sh --ids
# maps (a server that switches to its own user needs them).
require_netns() {
    local count
    read -r _ _ count < /proc/self/uid_map
    if [[ "$count" == 4294967295 ]] || grep -qv -e '^ *lo:' -e '|' /proc/net/dev; then
        die "must run inside tests/support/in_netns.sh (private user and network namespace)"
    fi
    if [[ ${1:-} == ids && $(wc -l < /proc/self/uid_map) -le 1 ]]; then
        die "the server needs the ids of its user: run in in_netns.sh --ids"
    fi
}

# Makes the server's temp dir $dir; on exit, stops the server whose pid the
# caller puts in $pid and removes the dir.
make_server_dir() {
    dir=$(mktemp -d "${TMPDIR:-/tmp}/$NAME.XXXXXX")
    chmod 755 "$dir"
    pid=
    trap stop_server EXIT
}
stop_server() {
    if [[ -n "$pid" ]]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}

# Waits up to 10 s until 127.0.0.1:PORT accepts connections while the
# server $pid runs; otherwise shows LOG and dies.
wait_for_port() {
    local port=$1 log=$2
    for _ in $(seq 200); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
        kill -0 "$pid" 2>/dev/null || { pid=; cat "$log" >&2; die "the server exited"; }
        sleep 0.05
    done
    cat "$log" >&2
    die "nothing answered on 127.0.0.1:$port within 10 s"
}

# Takes www.baidu.com out of /etc/hosts, as in a network where only the proxy
# resolves outside names.
hide_server_name() {
    { printf '127.0.0.1 localhost %s\n' "$(uname -n)"; grep -v -w 'www\.baidu\.com' /etc/hosts || true; } \
        > "$dir/hosts"
    mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"
}
