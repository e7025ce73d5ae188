#!/usr/bin/env bash
# release.sh - the files of a release, in build/release/:
#   Quorvel-VERSION-win32.zip   the windows preset's 32-bit Quorvel.exe, LICENSE
#                               and 使用说明.txt (scripts/make_windows_zip.py)
#   quorvel_VERSION_amd64.deb   the Debian package (cpack --preset linux-release)
#   SHA256SUMS                  both files' SHA-256, for sha256sum -c
# VERSION is the project's (CMakeLists.txt; configuring checks that
# res/Quorvel.rc states the same).
#
# A release is built from committed files only: the script refuses a working
# tree with changes or untracked files (git status), so that what it makes is
# what the commit makes anywhere. The same commit gives the same bytes: every
# time stamp is SOURCE_DATE_EPOCH (the commit's time, `git log -1 --format=%ct`,
# unless it is set): the PE header's, which mingw-w64's ld takes from it,
# the .deb's members', which CPack takes from it, and the ZIP's; the builder's
# umask is fixed and no build folder, user or host name is embedded.
# Nothing is downloaded. tests/release/check_reproducible.sh builds a commit
# twice, in two folders, and compares.
set -euo pipefail
cd "$(dirname "$0")/.."

die() { echo "release.sh: $*" >&2; exit 1; }
git rev-parse --verify -q HEAD >/dev/null || die "$PWD is not a git checkout with a commit"
changes=$(git status --porcelain)
if [[ -n $changes ]]; then
    echo "$changes" >&2
    die "the working tree differs from commit $(git rev-parse --short HEAD) (above);" \
        "a release is built from committed files only: commit or stash them first"
fi

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
# Installed files and the packages' directories get the same modes for
# every builder.
umask 022
out=build/release
start=$SECONDS
echo "== release.sh: commit $(git rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
echo "== release.sh: on Debian $(cat /etc/debian_version 2>/dev/null || echo '?');" \
     "the same bytes need the same Debian release's compilers (the published release: Debian 12)"

echo "== Quorvel.exe (windows preset)"
cmake --preset windows >/dev/null
# Linked afresh, so that its header carries this SOURCE_DATE_EPOCH.
rm -f build/windows/app/Quorvel.exe
cmake --build --preset windows

echo "== Debian package (linux-release preset)"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release
rm -f build/linux-release/quorvel_*.deb
cpack --preset linux-release
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/linux-release/CPackConfig.cmake)
[[ -n $version ]] || die "no CPACK_PACKAGE_VERSION in build/linux-release/CPackConfig.cmake"
deb=quorvel_${version}_amd64.deb
zip=Quorvel-${version}-win32.zip
[[ -f build/linux-release/$deb ]] || die "cpack did not make build/linux-release/$deb"

rm -rf "$out"
mkdir -p "$out"
python3 scripts/make_windows_zip.py "$out/$zip" build/windows/app/Quorvel.exe \
    LICENSE dist/windows/使用说明.txt
cp "build/linux-release/$deb" "$out/$deb"
(cd "$out" && sha256sum "$zip" "$deb" > SHA256SUMS)
echo "== $out/ (made in $((SECONDS - start)) s):"
cat "$out/SHA256SUMS"
