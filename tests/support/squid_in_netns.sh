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

NAME=squid_in_netns.sh
. "$(dirname "$(readlink -f "$0")")/netns_server.sh"

[[ $# -ge 1 ]] || die "usage: squid_in_netns.sh CMD [ARGS...]"
require_netns ids
squid=${SQUID:-/usr/sbin/squid}
[[ -x "$squid" ]] || die "$squid is missing (Debian package squid)"

make_server_dir
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
wait_for_port 3128 "$dir/cache.log"
hide_server_name  # squid has read its own

status=0
SQUID_DIR=$dir "$@" || status=$?
exit "$status"
