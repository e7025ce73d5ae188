#!/usr/bin/env bash
# run_in_trixie.sh - the README's two commands in a fresh Debian 13 (trixie)
# root, as a new user on a fresh Debian 13 machine would run them.
#
# Usage: tests/debian13/run_in_trixie.sh [--keep] [COMMIT]   (as root; COMMIT: HEAD)
#        tests/debian13/run_in_trixie.sh --enter ROOT [COMMAND]
#
# Makes a minimal trixie root with debootstrap in a temporary folder, from the
# Debian mirror this machine's apt uses (read from its sources at run time),
# clones COMMIT of this repository into it (/root/quorvel: committed files
# only, as a user's clone), and enters it with pivot_root in private mount and
# pid namespaces: a chroot could not make the user namespaces the tests need.
# There it runs
#   bash scripts/install-deps.sh run && bash scripts/try.sh
#   bash scripts/install-deps.sh && bash scripts/test-all.sh
# The root and its log are removed at the end (--keep leaves them, to look
# into a failure: --enter ROOT runs COMMAND, a bash command line run in
# /root/quorvel, in the kept root); the log's lines that say which path was
# taken (which Wine build ran, what was skipped) are printed again.
# Exits with the first failing command's status, 77 when the mirror cannot
# be reached (nothing was tried).
set -euo pipefail

# --- Second stage: in the private namespaces, enter the root and run.
if [[ ${1:-} == --inside ]]; then
    root=$2
    # pivot_root in the machine's own mount namespace would swap the whole
    # machine's root for this one: only ever in the namespace --enter makes.
    if [[ $(readlink /proc/self/ns/mnt) == "$(readlink /proc/1/ns/mnt)" ]]; then
        echo "run_in_trixie.sh: --inside runs only in a private mount namespace (use --enter)" >&2
        exit 2
    fi
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    mount -t tmpfs -o mode=755 tmpfs "$root/run"
    mkdir -p "$root/.old-root"
    cd "$root"
    pivot_root . .old-root
    umount -l /.old-root
    rmdir /.old-root
    readme_commands='echo "== Debian $(cat /etc/debian_version): bash scripts/install-deps.sh run && bash scripts/try.sh" &&
          start=$SECONDS &&
          bash scripts/install-deps.sh run && bash scripts/try.sh &&
          echo "== The first command took $((SECONDS - start)) s" &&
          echo "== Debian $(cat /etc/debian_version): bash scripts/install-deps.sh && bash scripts/test-all.sh" &&
          start=$SECONDS &&
          bash scripts/install-deps.sh && bash scripts/test-all.sh &&
          echo "== The test command took $((SECONDS - start)) s"'
    exec env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /root/quorvel || exit 1; ${3:-$readme_commands}"
fi
if [[ ${1:-} == --enter ]]; then
    exec unshare -mpf --propagation private -- "$BASH" "$0" --inside "$2" "${3:-}"
fi
keep=false
if [[ ${1:-} == --keep ]]; then keep=true; shift; fi

[[ $(id -u) == 0 ]] || { echo "run_in_trixie.sh: needs root (debootstrap, mounts)" >&2; exit 2; }
command -v debootstrap >/dev/null ||
    { echo "run_in_trixie.sh: debootstrap is missing (bash scripts/install-deps.sh)" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")

# The Debian archive this machine's apt uses: the first deb line of
# sources.list or the first URI of a deb822 .sources file that is not the
# security archive.
mirror=$(
    { grep -hE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        grep -v security | sed -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/'
      for f in /etc/apt/sources.list.d/*.sources; do
          [[ -e $f ]] && awk '/^URIs:/ { for (i = 2; i <= NF; i++) print $i }' "$f"
      done | grep -v security; } 2>/dev/null | head -n1) || true
[[ -n $mirror ]] || { echo "run_in_trixie.sh: no Debian mirror found in /etc/apt/sources.list*" >&2; exit 2; }

curl -fsS -o /dev/null --max-time 30 "${mirror%/}/dists/trixie/Release" ||
    { echo "run_in_trixie.sh: the Debian mirror has no trixie Release file within reach" >&2; exit 77; }

work=$(mktemp -d /var/tmp/quorvel-trixie.XXXXXX)
root=$work/root
cleanup() {
    if $keep; then
        echo "run_in_trixie.sh: kept $work (enter: $0 --enter $root 'COMMAND')"
    elif findmnt -rn -o TARGET | grep -qF "$work"; then
        echo "run_in_trixie.sh: something is still mounted below $work; left in place" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

start=$SECONDS
echo "== debootstrap trixie into $root (the mirror of this machine's apt sources)"
debootstrap --variant=minbase trixie "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 30 "$work/debootstrap.log"; echo "run_in_trixie.sh: debootstrap failed" >&2; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q --no-checkout "$repo" "$root/root/quorvel"
git -C "$root/root/quorvel" checkout -q --detach "$commit"
echo "== The root is made and $(git -C "$repo" rev-parse --short "$commit") cloned in $((SECONDS - start)) s"

status=0
unshare -mpf --propagation private -- "$BASH" "$0" --inside "$root" 2>&1 | tee "$work/run.log" ||
    status=$?
echo "== Debian 13 run: the path taken"
grep -E '^== (Debian|Wine tests|The |Windows builds|test-all|  )|skipped|: no Debian|PASS|pass check_unit_sandbox' \
    "$work/run.log" | grep -v -e '^ *[0-9]*/[0-9]* Test' -e '^-- ' || true
echo "== Debian 13 run: $([[ $status == 0 ]] && echo passed || echo "FAILED (status $status)") in $((SECONDS - start)) s"
exit "$status"
