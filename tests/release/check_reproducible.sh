#!/usr/bin/env bash
# check_reproducible.sh - one commit, released twice, gives the same bytes.
#
# Usage: tests/release/check_reproducible.sh
#
# Clones this repository's current commit (HEAD; uncommitted changes are not
# in it) twice, into folders of different paths and lengths: one under
# ${TMPDIR:-/tmp} and one deep in this checkout's build/. Runs
# scripts/release.sh in each, one after the other (so at different wall
# times), under different umasks and time zones. Every file of the two
# build/release/ folders must be the same, byte for byte (cmp); each one that
# differs is named and fails the check. Then tests/release/check_zip.py checks
# the first clone's ZIP against the Quorvel.exe that clone built.
set -euo pipefail

repo=$(git -C "$(dirname "$0")/../.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
[[ -z $(git -C "$repo" status --porcelain) ]] ||
    echo "check_reproducible: the working tree has uncommitted changes; releasing commit ${commit:0:12} without them"

one=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-release.XXXXXX")
mkdir -p "$repo/build"
two=$(mktemp -d "$repo/build/release-check.XXXXXX")
trap 'rm -rf "$one" "$two"' EXIT
release() {  # FOLDER UMASK TZ
    git clone -q --no-checkout "$repo" "$1"
    git -C "$1" checkout -q --detach "$commit"
    (cd "$1" && umask "$2" && TZ=$3 bash scripts/release.sh) > "$1.log" 2>&1 ||
        { cat "$1.log"; echo "FAIL check_reproducible: scripts/release.sh failed in $1"; exit 1; }
    tail -n 3 "$1.log"
}
release "$one/quorvel" 022 UTC
release "$two/a/much/longer/path/to/another/clone" 002 Asia/Shanghai
a=$one/quorvel/build/release
b=$two/a/much/longer/path/to/another/clone/build/release

status=0
names=$( (cd "$a" && ls; cd "$b" && ls) | sort -u)
for name in $names; do
    if [[ ! -f $a/$name || ! -f $b/$name ]]; then
        echo "FAIL check_reproducible: $name is made by only one of the two releases"; status=1
    elif ! cmp -s "$a/$name" "$b/$name"; then
        echo "FAIL check_reproducible: $name differs between the two releases: $(cmp "$a/$name" "$b/$name" 2>&1)"
        status=1
    fi
done
[[ $status == 0 ]] || exit 1
(cd "$a" && sha256sum -c --quiet SHA256SUMS) || { echo "FAIL check_reproducible: sha256sum -c SHA256SUMS"; exit 1; }
python3 "$repo/tests/release/check_zip.py" "$a"/Quorvel-*-win32.zip "$one/quorvel/build/windows/app/Quorvel.exe"
echo "pass check_reproducible: commit ${commit:0:12} released twice, identical files:" $names
