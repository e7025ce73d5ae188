#!/usr/bin/env bash
# in_netns.sh - run a command in a private user + network + mount namespace.
#
# Usage: tests/support/in_netns.sh [--wine] [--ids] CMD [ARGS...]
#
# Inside the namespace:
#   - only the loopback interface exists, and it is up: nothing outside is
#     reachable;
#   - /etc/hosts is a temp file: "127.0.0.1 localhost www.baidu.com <hostname>"
#     and "::1 localhost ip6-localhost"; host look-ups use files only
#     (a copy of /etc/nsswitch.conf with "hosts: files");
#   - the caller is uid 0, mapped to the caller's own uid outside (unshare -r).
#     Capabilities in a user namespace never reach the real clock, so
#     clock_settime/settimeofday fail with EPERM: nothing run here can change
#     this machine's time. Before running CMD the script proves it: the uid map
#     must not be the initial one, and "date -s" (to the current second) must
#     fail with "Operation not permitted"; otherwise it aborts.
# Works as root or as a normal user (needs unprivileged user namespaces).
# The exit status is CMD's; 125 when the namespace cannot be set up.
#
# --ids: besides uid and gid 0 (the caller), ids 1 to 65535 exist, mapped to
# the unused outside range 100001 to 165535, and setgroups is allowed, so
# that CMD can switch to other users (a service manager's dynamic user, for
# example). Only root may write such a map; for other callers the script
# exits with 125.
#
# --wine: Wine opens sockets in the wineserver process, so a wineserver left
# running outside would make connections from the host's network. With
# --wine, "wineserver -k; wineserver -w" runs before entering, and
# "wineserver -k" before leaving (WINESERVER names another binary).
# Limitation: processes that CMD leaves in the background outlive it.
set -euo pipefail

die() { echo "in_netns.sh: $*" >&2; exit 125; }

wine=0 ids=0
while [[ "${1:-}" == --wine || "${1:-}" == --ids ]]; do
    if [[ $1 == --wine ]]; then wine=1; else ids=1; fi
    shift
done
[[ $# -ge 1 ]] || die "usage: in_netns.sh [--wine] [--ids] CMD [ARGS...]"
wineserver=${WINESERVER:-wineserver}

# Second stage, run by unshare inside the new namespaces.
if [[ -n "${IN_NETNS_STAGE:-}" ]]; then
    dir=$IN_NETNS_STAGE
    unset IN_NETNS_STAGE
    read -r _ _ count < /proc/self/uid_map
    [[ "$count" != 4294967295 ]] || die "not in a user namespace; refusing to go on"
    if out=$(LC_ALL=C date -s "@$(date +%s)" 2>&1); then
        die "the clock can be set here: $out"
    fi
    [[ "$out" == *"Operation not permitted"* ]] || die "unexpected date -s failure: $out"

    ip link set lo up || die "cannot bring loopback up (is iproute2 installed?)"
    mount --bind "$dir/hosts" /etc/hosts || die "cannot bind-mount /etc/hosts"
    if [[ -f "$dir/nsswitch.conf" ]]; then
        mount --bind "$dir/nsswitch.conf" /etc/nsswitch.conf ||
            die "cannot bind-mount /etc/nsswitch.conf"
    fi

    status=0
    "$@" || status=$?
    if [[ $wine == 1 ]]; then
        "$wineserver" -k 2>/dev/null || true
        "$wineserver" -w 2>/dev/null || true
    fi
    exit "$status"
fi

command -v unshare >/dev/null || die "unshare (util-linux) is missing"
command -v ip >/dev/null || die "ip (iproute2) is missing"
unshare -rnm true 2>/dev/null ||
    die "cannot create a user+network+mount namespace (unprivileged user namespaces disabled?)"

dir=$(mktemp -d "${TMPDIR:-/tmp}/in_netns.XXXXXX")
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
printf '127.0.0.1 localhost www.baidu.com %s\n::1 localhost ip6-localhost\n' \
    "$(uname -n)" > "$dir/hosts"
if [[ -f /etc/nsswitch.conf ]]; then
    sed 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf > "$dir/nsswitch.conf"
fi

if [[ $wine == 1 ]]; then
    command -v "$wineserver" >/dev/null || die "--wine given but $wineserver is missing"
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
fi

flags=()
if [[ $wine == 1 ]]; then flags=(--wine); fi
self=$(readlink -f "$0")
status=0
if [[ $ids == 0 ]]; then
    IN_NETNS_STAGE=$dir unshare -rnm -- "$BASH" "$self" "${flags[@]}" "$@" || status=$?
    exit "$status"
fi

# unshare writes no map wider than the caller's own id without newuidmap, so
# the new namespace waits on a fifo while this side writes its maps, then
# starts the second stage as its uid 0 (an exec after the map is written is
# what gives that stage its capabilities in the namespace).
[[ $(id -u) == 0 ]] || die "--ids needs root: only root may map ids beyond its own"
mkfifo "$dir/mapped"
IN_NETNS_STAGE=$dir unshare -Unm --setgroups allow -- \
    "$BASH" -c 'read -r _ < "$0" && exec "$@"' "$dir/mapped" "$BASH" "$self" "${flags[@]}" "$@" &
child=$!
trap 'if [[ -n $child ]]; then kill "$child" 2>/dev/null || true; fi; rm -rf "$dir"' EXIT
own_ns=$(readlink /proc/self/ns/user)
until [[ $(readlink "/proc/$child/ns/user" 2>/dev/null) != "$own_ns" ]]; do
    kill -0 "$child" 2>/dev/null || die "unshare -Unm failed"
    sleep 0.01
done
map=$'0 0 1\n1 100001 65535\n'
{ echo -n "$map" > "/proc/$child/uid_map" && echo -n "$map" > "/proc/$child/gid_map"; } ||
    die "cannot write the namespace's id maps"
echo mapped > "$dir/mapped"
wait "$child" || status=$?
child=
exit "$status"
