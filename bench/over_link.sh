#!/usr/bin/env bash
# over_link.sh - runs a command on the far side of a link with a simulated
# round-trip time.
#
# Usage (inside a private user + network namespace only):
#   over_link.sh DELAY_US CMD [ARGS...]
#
# Makes a new network and mount namespace for CMD whose only route is a link
# to this namespace (see delay_line.py): this side is 10.9.0.1, CMD's side
# 10.9.0.2, and every packet waits DELAY_US microseconds in each direction, so
# the round-trip time is 2 * DELAY_US. In CMD's namespace /etc/hosts maps
# www.baidu.com to 10.9.0.1, so a server listening on port 80 here (on any
# address) answers it. Waits until port 80 on 10.9.0.1 accepts a connection,
# then runs CMD. The link lasts at most 600 s.
# The exit status is CMD's; 125 when the link cannot be set up.
set -euo pipefail

die() { echo "over_link.sh: $*" >&2; exit 125; }
here=$(dirname "$(readlink -f "$0")")

# Second stage, in the new namespaces: wait for the device, configure it.
if [[ -n "${OVER_LINK_STAGE:-}" ]]; then
    dir=$OVER_LINK_STAGE
    unset OVER_LINK_STAGE
    shift
    for _ in $(seq 250); do
        [[ -f $dir/ready ]] && ip link show qvc > /dev/null 2>&1 && break
        sleep 0.02
    done
    ip link show qvc > /dev/null 2>&1 || die "the link device did not arrive within 5 s"
    ip link set lo up
    ip addr add 10.9.0.2 peer 10.9.0.1 dev qvc
    ip link set qvc up
    mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"
    for _ in $(seq 50); do
        if (exec 3<>/dev/tcp/10.9.0.1/80) 2> /dev/null; then break; fi
        sleep 0.1
    done
    (exec 3<>/dev/tcp/10.9.0.1/80) 2> /dev/null || die "nothing answers on 10.9.0.1:80"
    exec "$@"
fi

[[ $# -ge 2 ]] || die "usage: over_link.sh DELAY_US CMD [ARGS...]"
delay_us=$1
shift
read -r _ _ count < /proc/self/uid_map
[[ "$count" != 4294967295 ]] || die "must run inside a private user namespace"
[[ -c /dev/net/tun ]] || die "/dev/net/tun is missing"

dir=$(mktemp -d "${TMPDIR:-/tmp}/over_link.XXXXXX")
client=
line=
cleanup() {
    [[ -z $line ]] || { kill "$line" 2> /dev/null || true; wait "$line" 2> /dev/null || true; }
    [[ -z $client ]] || { kill "$client" 2> /dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
chmod 755 "$dir"
printf '10.9.0.1 www.baidu.com\n127.0.0.1 localhost %s\n' "$(hostname)" > "$dir/hosts"

OVER_LINK_STAGE=$dir unshare -nm -- "$BASH" "$(readlink -f "$0")" "$delay_us" "$@" &
client=$!
python3 "$here/delay_line.py" --peer-pid "$client" --delay-us "$delay_us" \
    --ready-file "$dir/ready" --max-seconds 600 &
line=$!

status=0
wait "$client" || status=$?
client=
exit "$status"
