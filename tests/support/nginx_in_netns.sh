#!/usr/bin/env bash
# nginx_in_netns.sh - run a command while nginx serves 127.0.0.1:80.
#
# Usage (only inside in_netns.sh, which it checks):
#   tests/support/in_netns.sh tests/support/nginx_in_netns.sh CMD [ARGS...]
#
# Starts Debian's nginx (NGINX overrides the binary) in the foreground
# (daemon off, master_process off) with a config generated into a temp dir:
# pid file, logs and every *_temp_path live there, it listens on
# 127.0.0.1:80 and serves a small index.html. Waits until port 80 accepts
# connections, runs CMD with NGINX_DIR set to the temp dir (access.log,
# error.log are there), then stops nginx and removes the dir.
# The exit status is CMD's; 125 when nginx cannot be started.
set -euo pipefail

NAME=nginx_in_netns.sh
. "$(dirname "$(readlink -f "$0")")/netns_server.sh"

[[ $# -ge 1 ]] || die "usage: nginx_in_netns.sh CMD [ARGS...]"
require_netns
nginx=${NGINX:-/usr/sbin/nginx}
[[ -x "$nginx" ]] || die "$nginx is missing (Debian package nginx-light)"

make_server_dir
mkdir "$dir/www"
echo '<html><body>nginx in a namespace</body></html>' > "$dir/www/index.html"
user=
if [[ $(id -u) == 0 ]]; then user='user root root;'; fi
cat > "$dir/nginx.conf" <<EOF
$user
daemon off;
master_process off;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
    access_log $dir/access.log;
    client_body_temp_path $dir/client_body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    default_type text/html;
    server {
        listen 127.0.0.1:80;
        root $dir/www;
        index index.html;
    }
}
EOF

"$nginx" -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" &
pid=$!
wait_for_port 80 "$dir/error.log"

status=0
NGINX_DIR=$dir "$@" || status=$?
exit "$status"
