#!/usr/bin/env bash
# measure_in_netns.sh - the measurements that need a server: `quorvel auto`
# and `htpdate -q` against nginx as www.baidu.com, first over loopback, then
# over a link with a simulated round-trip time, then one attempt of each
# under callgrind; then the accuracy of the clock each tool writes
# (accuracy.sh), against nginx restarted with its clock CLOCK_SHIFT_S
# seconds and a fraction ahead (faketime), over loopback and over the link.
#
# Usage (inside tests/support/in_netns.sh only, which maps www.baidu.com to
# 127.0.0.1 and makes the clock impossible to set):
#   measure_in_netns.sh OUTDIR PAIRS DELAY_US CALLGRIND_RUNS ACCURACY_RUNS
# Environment: QUORVEL and MEASURE_RUN as pairs.sh needs them, RECORDER and
# CLOCK_SHIFT_S as accuracy.sh needs them; PROXIES (none, or squid and/or
# tinyproxy, space-separated; default none) for the accuracy rounds of `auto`
# and `auto precise` through each proxy over loopback, after the direct ones
# (each proxy started by tests/support/<proxy>_in_netns.sh in a mount
# namespace of its own, which needs in_netns.sh --ids).
#
# nginx listens on port 80 of every IPv4 address of this namespace, so it
# answers both on 127.0.0.1 and on this side of the link (10.9.0.1). Its
# files and logs stay in OUTDIR/nginx; each access-log line starts with the
# connection's serial number and the request's number on that connection.
# Results: OUTDIR/runs.tsv (pairs.sh) and OUTDIR/callgrind/<tool>.<n>.
set -euo pipefail

die() { echo "measure_in_netns.sh: $*" >&2; exit 1; }
[[ $# == 5 ]] || die "usage: measure_in_netns.sh OUTDIR PAIRS DELAY_US CALLGRIND_RUNS ACCURACY_RUNS"
outdir=$1 pairs=$2 delay_us=$3 callgrind_runs=$4 accuracy_runs=$5
here=$(dirname "$(readlink -f "$0")")
read -r _ _ count < /proc/self/uid_map
if [[ "$count" == 4294967295 ]] || grep -qv -e '^ *lo:' -e '|' /proc/net/dev; then
    die "must run inside tests/support/in_netns.sh (private user and network namespace)"
fi

nginx_dir=$outdir/nginx
mkdir -p "$nginx_dir/www" "$outdir/callgrind"
echo '<html><body>nginx as www.baidu.com</body></html>' > "$nginx_dir/www/index.html"
user_line=
if [[ $(id -u) == 0 ]]; then user_line='user root root;'; fi
# nginx clears its environment at start but for the variables named by
# "env"; libfaketime reads them again as it goes, so they are kept.
cat > "$nginx_dir/nginx.conf" <<CONF
$user_line
env FAKETIME_TIMESTAMP_FILE;
env FAKETIME_NO_CACHE;
env FAKETIME_DONT_FAKE_MONOTONIC;
daemon off;
master_process off;
pid $nginx_dir/nginx.pid;
error_log $nginx_dir/error.log;
events { worker_connections 64; }
http {
    log_format bench '\$connection \$connection_requests "\$request" "\$http_user_agent" \$status';
    access_log $nginx_dir/access.log bench;
    client_body_temp_path $nginx_dir/client_body;
    proxy_temp_path $nginx_dir/proxy;
    fastcgi_temp_path $nginx_dir/fastcgi;
    uwsgi_temp_path $nginx_dir/uwsgi;
    scgi_temp_path $nginx_dir/scgi;
    default_type text/html;
    server {
        listen 80;
        root $nginx_dir/www;
        index index.html;
    }
}
CONF
: > "$nginx_dir/access.log"

nginx_pid=
stop_nginx() {
    [[ -z $nginx_pid ]] || { kill -QUIT "$nginx_pid" 2> /dev/null || true; wait "$nginx_pid" 2> /dev/null || true; }
}
trap stop_nginx EXIT
# Starts nginx, run through the words given first (none, or a faketime
# command), and waits until it answers.
start_nginx() {
    "$@" /usr/sbin/nginx -p "$nginx_dir" -e "$nginx_dir/error.log" -c "$nginx_dir/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 100); do
        if (exec 3<>/dev/tcp/127.0.0.1/80) 2> /dev/null; then break; fi
        kill -0 "$nginx_pid" 2> /dev/null || die "nginx exited: $(cat "$nginx_dir/error.log")"
        sleep 0.05
    done
    (exec 3<>/dev/tcp/127.0.0.1/80) 2> /dev/null || die "nginx did not answer within 5 s"
}
start_nginx

export ACCESS_LOG=$nginx_dir/access.log
echo "measure_in_netns.sh: $pairs pairs over loopback" >&2
"$here/pairs.sh" loopback "$pairs" "$outdir"
echo "measure_in_netns.sh: $pairs pairs over a link with a round-trip time of $((2 * delay_us)) us" >&2
"$here/over_link.sh" "$delay_us" "$here/pairs.sh" link "$pairs" "$outdir"

echo "measure_in_netns.sh: $callgrind_runs attempt(s) of each under callgrind" >&2
for ((n = 1; n <= callgrind_runs; n++)); do
    timeout 120 valgrind --tool=callgrind --callgrind-out-file="$outdir/callgrind/quorvel.$n" \
        "$QUORVEL" auto > "$outdir/out/callgrind-quorvel-$n.txt" 2>&1 || true
    timeout 120 valgrind --tool=callgrind --callgrind-out-file="$outdir/callgrind/htpdate.$n" \
        htpdate -q -d http://www.baidu.com > "$outdir/out/callgrind-htpdate-$n.txt" 2>&1 || true
    for tool in quorvel htpdate; do
        [[ -s $outdir/callgrind/$tool.$n ]] || die "callgrind wrote nothing for $tool (see $outdir/out)"
    done
done

# The accuracy of the written clock. nginx's clock runs CLOCK_SHIFT_S seconds
# (and, from accuracy.sh, a fraction) ahead, so every tool must step the
# clock; its monotonic clock stays true. This is what `faketime -f +Ns nginx`
# does, with the library preloaded directly (the faketime command would fork,
# and nginx's pid is needed) and the shift read from a file at every clock
# call, so that accuracy.sh can change it between rounds.
: "${RECORDER:?}" "${CLOCK_SHIFT_S:?}"
libfaketime=$(dpkg -L libfaketime 2> /dev/null | grep -m1 '/libfaketime\.so\.1$') ||
    die "libfaketime is missing (Debian package faketime)"
export SHIFT_FILE=$outdir/nginx-shift.rc
echo "+${CLOCK_SHIFT_S}s" > "$SHIFT_FILE"
stop_nginx
nginx_pid=
start_nginx env -u FAKETIME LD_PRELOAD="$libfaketime" FAKETIME_TIMESTAMP_FILE="$SHIFT_FILE" \
    FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1
# Dies unless nginx's Date runs CLOCK_SHIFT_S seconds ahead (within 2 s).
check_shift() {
    local date_line served now
    date_line=$(printf 'GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n' |
        { exec 3<>/dev/tcp/127.0.0.1/80; cat >&3; grep -m1 -i '^date:' <&3 || true; } | tr -d '\r')
    now=$(date +%s)
    served=$(date -d "${date_line#*: }" +%s 2> /dev/null) || die "no Date from nginx: '$date_line'"
    echo "measure_in_netns.sh: $1: nginx answers with $date_line, $((served - now)) s ahead" >&2
    ((served - now - CLOCK_SHIFT_S <= 2 && now + CLOCK_SHIFT_S - served <= 2)) ||
        die "nginx's clock is not ${CLOCK_SHIFT_S} s ahead"
}
check_shift "before"
echo "measure_in_netns.sh: $accuracy_runs accuracy round(s) over loopback" >&2
"$here/accuracy.sh" loopback "$accuracy_runs" "$outdir"
for proxy in ${PROXIES:-}; do
    echo "measure_in_netns.sh: $accuracy_runs accuracy round(s) through $proxy over loopback" >&2
    # The proxy's starter mounts a hosts file without www.baidu.com: in a
    # mount namespace of its own, so that the rounds after it still resolve.
    PROXY=$proxy TOOLS="quorvel quorvel-precise" unshare -m -- \
        "$here/../tests/support/${proxy}_in_netns.sh" "$here/accuracy.sh" "$proxy" "$accuracy_runs" "$outdir" ||
        die "the accuracy rounds through $proxy failed"
done
echo "measure_in_netns.sh: $accuracy_runs accuracy round(s) over the link" >&2
"$here/over_link.sh" "$delay_us" "$here/accuracy.sh" link "$accuracy_runs" "$outdir"
check_shift "after"
