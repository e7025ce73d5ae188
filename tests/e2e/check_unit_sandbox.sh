#!/usr/bin/env bash
# check_unit_sandbox.sh - the installed quorvel.service, run by systemd itself
# with every setting of its [Service] section, against nginx in the private
# namespace.
#
# Usage: tests/e2e/check_unit_sandbox.sh [--proxy] BUILD_DIR
#
# --proxy: the unit gets http_proxy=http://127.0.0.1:3128/ from a drop-in, as
# the README shows, and squid (tests/support/squid_in_netns.sh) is the only
# way to www.baidu.com: the sandbox must let the connection to the proxy
# through.
#
# Installs BUILD_DIR (cmake --install) into a fresh folder under /var/lib,
# wherever the clone is: the unit hides /home, /root and /run/user
# (ProtectHome=) and /tmp and /var/tmp (PrivateTmp=) from the program, and its
# dynamic user could not enter a clone's folder that only root may (/root is
# 0700), so an installation beside a build under any of these would not start
# (status 203/EXEC). The folder is removed afterwards. Then, inside
# tests/support/in_netns.sh --ids (loopback only, www.baidu.com is 127.0.0.1,
# the kernel refuses clock changes) with nginx serving port 80, a systemd
# system manager, PID 1 of its own pid and cgroup namespace as in a container,
# starts the installed unit (systemd 257 refuses DynamicUser= in a user
# manager's unit). Its units are only quorvel.service, empty sysinit, basic
# and shutdown targets, and a start-up service that starts the unit, records
# how it ended and ends the manager. Its
# cgroup tree is a fresh cgroup made for this run below the caller's own
# cgroup and removed afterwards; the manager sees no other cgroup.
#
# The unit runs as systemd runs it at boot: a dynamic user, CAP_SYS_TIME as
# its only capability, the system-call filter, the address families, the
# private /dev, /tmp and /proc, the read-only file system. A drop-in changes
# only what a test must:
#   - standard output and error go to files instead of the journal;
#   - a call the filter refuses fails with ENOTRECOVERABLE instead of EPERM,
#     so a refused clock_settime cannot pass for the namespace's EPERM;
#   - first commands, under the same settings, print their uid,
#     capabilities, seccomp mode, no_new_privs and user namespace: a dynamic
#     user, CAP_SYS_TIME only, a filter, and the manager's own user namespace
#     (in one of its own, CAP_SYS_TIME could not set the clock at boot).
# Passes when the program read the time from nginx (name look-up, look-up
# thread, connect), its clock call reached the kernel and was refused with
# EPERM (Error: 1), and it exited with 2 (time read, clock refused).
#
# Needs root (the dynamic user's id must exist in the namespace), systemd and
# nginx; where one is missing it says so and exits 0 without checking.
set -euo pipefail

fail() { echo "FAIL check_unit_sandbox: $*"; exit 1; }
skip() { echo "check_unit_sandbox: $*: the unit's sandbox run skipped"; exit 0; }
self=$(readlink -f "$0")

# --- Fourth stage: the service the manager starts at its boot. It starts
# the unit, records how it ended, and ends the manager.
if [[ ${1:-} == --judge ]]; then
    out=$2
    systemctl start quorvel.service >/dev/null 2>&1 || true
    systemctl show -p Result -p ExecMainStatus quorvel.service > "$out/result"
    systemctl status quorvel.service > "$out/status" 2>&1 || true
    exec systemctl --force exit 0
fi

# --- Third stage: PID 1 of the private pid namespace becomes the manager.
if [[ ${1:-} == --manager ]]; then
    prefix=$2 out=$3
    # Only the cgroup made for this run, as its own cgroup2 tree; the
    # caller's v1 hierarchies stay hidden below it.
    mount -t cgroup2 cgroup2 /sys/fs/cgroup
    mount -t tmpfs -o mode=755 tmpfs /run
    mkdir -p /run/units/quorvel.service.d
    cp "$prefix/lib/systemd/system/quorvel.service" /run/units/
    # The targets every service is ordered after, empty: no boot.
    for target in sysinit basic shutdown; do
        printf '[Unit]\nDefaultDependencies=no\n' > "/run/units/$target.target"
    done
    cat > /run/units/quorvel.service.d/sandbox-check.conf <<EOF
[Service]
StandardOutput=append:$out/stdout
StandardError=append:$out/stderr
SystemCallErrorNumber=ENOTRECOVERABLE
ExecStartPre=/bin/grep -E "^(Uid|CapEff|CapPrm|CapAmb|CapBnd|NoNewPrivs|Seccomp):" /proc/self/status
ExecStartPre=/bin/readlink /proc/self/ns/user
EOF
    if [[ -n ${UNIT_SANDBOX_PROXY:-} ]]; then
        printf '[Service]\nEnvironment=http_proxy=%s\n' "$UNIT_SANDBOX_PROXY" \
            > /run/units/quorvel.service.d/proxy.conf
    fi
    readlink /proc/self/ns/user > "$out/userns"
    cat > /run/units/quorvel-sandbox.service <<EOF
[Unit]
Description=The manager's start-up unit for the sandbox check
DefaultDependencies=no
[Service]
ExecStart=$BASH $self --judge $out
StandardOutput=append:$out/judge.log
StandardError=append:$out/judge.log
EOF
    # The system manager as in a container: only the units above, the
    # start-up unit in place of default.target, its log on the console.
    exec env -i container=quorvel-unit-sandbox SYSTEMD_UNIT_PATH=/run/units \
        PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        /lib/systemd/systemd --system --unit=quorvel-sandbox.service \
        --log-target=console --show-status=no </dev/null >"$out/manager.log" 2>&1
fi

# --- Second stage: in in_netns.sh's namespaces, with nginx on port 80.
if [[ ${1:-} == --inside ]]; then
    prefix=$2 out=$3 cgroup=$4
    [[ $(sed -n 's/^0:://p' /proc/self/cgroup) == "$cgroup" ]] ||
        fail "not in the cgroup made for this run; refusing to start a manager"
    exec unshare -Cpf --mount-proc -- "$BASH" "$self" --manager "$prefix" "$out"
fi

# --- First stage: install, make the cgroup, enter the namespaces, judge.
proxy=() via=
if [[ ${1:-} == --proxy ]]; then
    shift
    command -v "${SQUID:-/usr/sbin/squid}" >/dev/null || skip "squid is not installed"
    export UNIT_SANDBOX_PROXY=http://127.0.0.1:3128/
    proxy=("$(dirname "$self")/../support/squid_in_netns.sh") via=" through squid"
fi
[[ $# == 1 ]] || { echo "usage: check_unit_sandbox.sh [--proxy] BUILD_DIR" >&2; exit 2; }
build=$(readlink -f "$1")
[[ $(id -u) == 0 ]] || skip "not root (the dynamic user's id cannot be mapped)"
[[ -x /lib/systemd/systemd ]] || skip "systemd is not installed"
[[ -x ${NGINX:-/usr/sbin/nginx} ]] || skip "nginx is not installed"
v2=$(findmnt -n -t cgroup2 -o TARGET | head -n1)
[[ -n $v2 ]] || skip "no cgroup2 hierarchy is mounted"

dir=$(mktemp -d /var/lib/quorvel-unit-sandbox.XXXXXX)
chmod 755 "$dir"
mkdir "$dir/out"
cgroup=$(sed -n 's/^0:://p' /proc/self/cgroup)
# Named after the run's folder: a run in another pid namespace (a Debian 13
# root at the same time) may have the same pid; the folder has a random name.
cgroup=${cgroup%/}/${dir##*/}
cleanup() {
    if [[ -d $v2$cgroup ]]; then
        find "$v2$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null ||
            echo "check_unit_sandbox: could not remove the cgroup $v2$cgroup" >&2
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$dir/prefix" >/dev/null
mkdir "$v2$cgroup" 2>/dev/null || skip "no cgroup can be made below $v2${cgroup%/*}"

repo=$(dirname "$self")/../..
status=0
(echo "$BASHPID" > "$v2$cgroup/cgroup.procs" &&
 exec "$repo/tests/support/in_netns.sh" --ids "$repo/tests/support/nginx_in_netns.sh" \
     "${proxy[@]}" "$BASH" "$self" --inside "$dir/prefix" "$dir/out" "$cgroup") || status=$?
[[ $status == 0 && -s $dir/out/result ]] ||
    fail "the manager did not run the unit (status $status): $(cat "$dir/out/manager.log" 2>/dev/null)"

show() { for f in status stdout stderr; do echo "-- $f:"; cat "$dir/out/$f" 2>/dev/null; done; }
field() { sed -n "s/^$1:[[:space:]]*//p" "$dir/out/stdout"; }
# CAP_SYS_TIME is capability 25.
sys_time=0000000002000000
[[ $(field Uid | cut -f1) != 0 ]] || { show; fail "the unit ran as root, not as a dynamic user"; }
for set in CapEff CapPrm CapAmb CapBnd; do
    [[ $(field "$set") == "$sys_time" ]] || { show; fail "$set is $(field "$set"), expected CAP_SYS_TIME only"; }
done
[[ $(field NoNewPrivs) == 1 && $(field Seccomp) == 2 ]] ||
    { show; fail "no_new_privs or the seccomp filter is not set"; }
grep -qxF "$(cat "$dir/out/userns")" "$dir/out/stdout" ||
    { show; fail "the unit runs in a user namespace of its own, where CAP_SYS_TIME cannot set the clock"; }
grep -q '^Adjusted Time: ' "$dir/out/stdout" || { show; fail "no time was read from nginx$via"; }
[[ -z $via ]] || grep -qx 'Using proxy 127.0.0.1:3128 (http_proxy)' "$dir/out/stdout" ||
    { show; fail "the unit did not name the proxy of its drop-in"; }
grep -qx 'Failed to set system time. Error: 1' "$dir/out/stderr" ||
    { show; fail "the clock call did not reach the kernel's EPERM"; }
grep -qx 'ExecMainStatus=2' "$dir/out/result" || { show; fail "the program did not exit with 2"; }
echo "pass check_unit_sandbox: the installed unit read the time$via as uid $(field Uid | cut -f1)" \
     "with CAP_SYS_TIME only, under its filter and namespaces; the clock call reached the kernel"
