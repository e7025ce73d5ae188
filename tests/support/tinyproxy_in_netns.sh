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

NAME=tinyproxy_in_netns.sh
. "$(dirname "$(readlink -f "$0")")/netns_server.sh"

[[ $# -ge 1 ]] || die "usage: tinyproxy_in_netns.sh CMD [ARGS...]"
require_netns ids
tinyproxy=${TINYPROXY:-/usr/bin/tinyproxy}
[[ -x "$tinyproxy" ]] || die "$tinyproxy is missing (Debian package tinyproxy)"

make_server_dir
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
wait_for_port 8888 "$dir/tinyproxy.log"
hide_server_name  # tinyproxy has its own

status=0
TINYPROXY_DIR=$dir "$@" || status=$?
exit "$status"
