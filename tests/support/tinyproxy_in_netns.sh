#!/usr/bin/env bash
# tinyproxy_in_netns.sh - run a command while Debian's tinyproxy serves as the
# HTTP proxy on 127.0.0.1:8888, in a network where only the proxy resolves
# www.baidu.com.
#
# Usage (only inside in_netns.sh --ids, which it checks: tinyproxy switches
# to the user "nobody", which needs mapped ids):
#   tests/support/in_netns.sh --ids tests/support/tinyproxy_in_netns.sh CMD [ARGS...]
#
# tinyproxy resolves through the C library, so it runs in a mount namespace
# of its own (unshare -m) whose /etc/hosts maps www.baidu.com to 127.0.0.1:
# it reaches whatever serves 127.0.0.1:80. For CMD, /etc/hosts no longer
# names www.baidu.com: a client that goes around the proxy cannot even
# resolve it. CMD runs with TINYPROXY_DIR set to tinyproxy's temp dir
# (tinyproxy.log, at level Info, names each request); then tinyproxy is
# stopped and the dir removed. The exit status is CMD's; 125 when tinyproxy
# cannot be started.
set -euo pipefail

die() { echo "tinyproxy_in_netns.sh: $*" >&2; exit 125; }

[[ $# -ge 1 ]] || die "usage: tinyproxy_in_netns.sh CMD [ARGS...]"
read -r _ _ count < /proc/self/uid_map
if [[ "$count" == 4294967295 ]] || grep -qv -e '^ *lo:' -e '|' /proc/net/dev; then
    die "must run inside tests/support/in_netns.sh (private user and network namespace)"
fi
[[ $(wc -l < /proc/self/uid_map) -gt 1 ]] || die "tinyproxy needs the ids of its user: run in in_netns.sh --ids"
tinyproxy=${TINYPROXY:-/usr/bin/tinyproxy}
[[ -x "$tinyproxy" ]] || die "$tinyproxy is missing (Debian package tinyproxy)"

dir=$(mktemp -d "${TMPDIR:-/tmp}/tinyproxy_in_netns.XXXXXX")
pid=
cleanup() {
    if [[ -n "$pid" ]]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
chmod 755 "$dir"

printf '127.0.0.1 localhost www.baidu.com %s\n' "$(uname -n)" > "$dir/proxy_hosts"
cat > "$dir/tinyproxy.conf" <<CONF
User nobody
Group nogroup
Port 8888
Listen 127.0.0.1
Timeout 30
LogFile "$dir/tinyproxy.log"
LogLevel Info
PidFile "$dir/tinyproxy.pid"
MaxClients 16
DisableViaHeader Yes
CONF
touch "$dir/tinyproxy.log"
chown nobody: "$dir" "$dir/tinyproxy.log"

unshare -m -- "$BASH" -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$dir/proxy_hosts" \
    "$tinyproxy" -d -c "$dir/tinyproxy.conf" 2>>"$dir/tinyproxy.log" &
pid=$!
for _ in $(seq 200); do
    if (exec 3<>/dev/tcp/127.0.0.1/8888) 2>/dev/null; then break; fi
    kill -0 "$pid" 2>/dev/null || { pid=; cat "$dir/tinyproxy.log" >&2; die "tinyproxy exited"; }
    sleep 0.05
done
(exec 3<>/dev/tcp/127.0.0.1/8888) 2>/dev/null ||
    { cat "$dir/tinyproxy.log" >&2; die "tinyproxy did not answer on 127.0.0.1:8888 within 10 s"; }

# The client's hosts file without www.baidu.com (tinyproxy has its own).
grep -v -w 'www\.baidu\.com' /etc/hosts > "$dir/hosts" || true
sed -i "1i 127.0.0.1 localhost $(uname -n)" "$dir/hosts"
mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"

status=0
TINYPROXY_DIR=$dir "$@" || status=$?
exit "$status"
