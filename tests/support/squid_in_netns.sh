#!/usr/bin/env bash
# squid_in_netns.sh - run a command while Debian's squid serves as the HTTP
# proxy on 127.0.0.1:3128, in a network where only the proxy resolves
# www.baidu.com.
#
# Usage (only inside in_netns.sh --ids, which it checks: squid switches to its
# user "proxy", which needs mapped ids):
#   tests/support/in_netns.sh --ids tests/support/squid_in_netns.sh CMD [ARGS...]
#
# squid resolves www.baidu.com to 127.0.0.1 from a hosts file of its own, so
# it reaches whatever serves 127.0.0.1:80 (nginx, a stand-in, or nothing,
# and then it answers 503 itself). For CMD, /etc/hosts no longer names
# www.baidu.com: a client that goes around the proxy cannot even resolve it.
# squid caches nothing. CMD runs with SQUID_DIR set to squid's temp dir
# (access.log and cache.log are there); then squid is stopped and the dir
# removed. The exit status is CMD's; 125 when squid cannot be started.
#
# SQUID_CREDENTIALS=USER:PASSWORD: squid serves only requests that bring
# these credentials (Basic, checked by Debian's basic_ncsa_auth), and answers
# 407 to others.
set -euo pipefail

die() { echo "squid_in_netns.sh: $*" >&2; exit 125; }

[[ $# -ge 1 ]] || die "usage: squid_in_netns.sh CMD [ARGS...]"
read -r _ _ count < /proc/self/uid_map
if [[ "$count" == 4294967295 ]] || grep -qv -e '^ *lo:' -e '|' /proc/net/dev; then
    die "must run inside tests/support/in_netns.sh (private user and network namespace)"
fi
[[ $(wc -l < /proc/self/uid_map) -gt 1 ]] || die "squid needs the ids of its user: run in in_netns.sh --ids"
squid=${SQUID:-/usr/sbin/squid}
[[ -x "$squid" ]] || die "$squid is missing (Debian package squid)"

dir=$(mktemp -d "${TMPDIR:-/tmp}/squid_in_netns.XXXXXX")
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

echo '127.0.0.1 www.baidu.com' > "$dir/squid_hosts"
access='http_access allow all'
if [[ -n ${SQUID_CREDENTIALS:-} ]]; then
    user=${SQUID_CREDENTIALS%%:*} password=${SQUID_CREDENTIALS#*:}
    echo "$user:$(openssl passwd -1 "$password")" > "$dir/passwd"
    chmod 644 "$dir/passwd"
    access="auth_param basic program /usr/lib/squid/basic_ncsa_auth $dir/passwd
acl login proxy_auth REQUIRED
http_access allow login
http_access deny all"
fi
cat > "$dir/squid.conf" <<CONF
http_port 127.0.0.1:3128
$access
cache deny all
hosts_file $dir/squid_hosts
dns_nameservers 127.0.0.1
pid_filename $dir/squid.pid
access_log stdio:$dir/access.log
cache_log $dir/cache.log
cache_store_log none
coredump_dir $dir
netdb_filename none
pinger_enable off
shutdown_lifetime 1 seconds
cache_effective_user proxy
CONF
touch "$dir/access.log" "$dir/cache.log"
chown proxy: "$dir/access.log" "$dir/cache.log"
chown proxy: "$dir"

"$squid" -N -f "$dir/squid.conf" &
pid=$!
for _ in $(seq 200); do
    if (exec 3<>/dev/tcp/127.0.0.1/3128) 2>/dev/null; then break; fi
    kill -0 "$pid" 2>/dev/null || { pid=; cat "$dir/cache.log" >&2; die "squid exited"; }
    sleep 0.05
done
(exec 3<>/dev/tcp/127.0.0.1/3128) 2>/dev/null ||
    { cat "$dir/cache.log" >&2; die "squid did not answer on 127.0.0.1:3128 within 10 s"; }

# The client's hosts file without www.baidu.com (squid has read its own).
grep -v -w 'www\.baidu\.com' /etc/hosts > "$dir/hosts" || true
sed -i "1i 127.0.0.1 localhost $(uname -n)" "$dir/hosts"
mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"

status=0
SQUID_DIR=$dir "$@" || status=$?
exit "$status"
