#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 or 13 (as root).
#
# Usage: scripts/install-deps.sh [SET]
#   run   only what scripts/try.sh needs: the compiler, CMake, nginx and the
#         namespace tools
#   all   (the default) everything: the native build and tests, the Windows
#         cross builds, Wine, the benchmarks and the Debian package
#
# A package mirror that is out of step must not stop the work:
#   - apt-get update is tried three times; an index that still fails is
#     reported in one line and the lists apt has are used;
#   - every required package is installed in one apt-get install, which fails
#     with apt's own error when one is missing: none is ever skipped;
#   - wine32:i386 comes last, on its own. Without it the Wine tests run the
#     x86-64 build in a 64-bit prefix (scripts/test-all.sh probes which), so
#     a refusal is reported and the script still succeeds.
# Packages named after a version differ between Debian releases: clang's
# runtime (libFuzzer, the sanitizers) is that of the clang version the
# release's clang package depends on (clang-14 on Debian 12, clang-19 on 13),
# read from apt once the lists are updated.
set -euo pipefail

set_name=${1:-all}

run_packages=(
  cmake g++ make python3
  nginx-light iproute2 util-linux
)
all_packages=(
  "${run_packages[@]}"
  # Native tests, sanitizers, fuzzing
  googletest libgtest-dev valgrind clang
  # Windows cross builds (the i686 product; x86-64 for kernels that cannot
  # run 32-bit code) and 64-bit Wine; 32-bit Wine is installed below
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
  wine wine64 xvfb xauth
  # xmessage, the window that covers Quorvel.exe in wine.gui.responsive-read
  x11-utils
  imagemagick fonts-wqy-microhei fonts-wine
  # End-to-end tests and benchmarks
  procps curl htpdate faketime
  # Real HTTP proxies for the proxy end-to-end cases
  squid tinyproxy openssl
  # The Debian package (dpkg-shlibdeps works out its dependency), the check
  # of the manual page, Debian's check of the package, and systemd for the
  # checks of the service and timer (systemd-analyze, and a user manager that
  # runs the service in a private namespace)
  dpkg-dev man-db lintian systemd
  # The release: scripts/release.sh builds a commit, which
  # tests/release/check_reproducible.sh clones twice
  git
  # The README's commands in a fresh Debian 13 root
  # (tests/debian13/run_in_trixie.sh)
  debootstrap
)

case "$set_name" in
  run) packages=("${run_packages[@]}") ;;
  all) packages=("${all_packages[@]}") ;;
  *) echo "usage: $0 [run|all]" >&2; exit 2 ;;
esac

export DEBIAN_FRONTEND=noninteractive
# On a machine just started, another apt (unattended upgrades) may hold the
# lock for a while: wait for it rather than fail.
apt_options=(-o DPkg::Lock::Timeout=300)
if [[ $set_name == all ]]; then
  # wine32 is an i386 package: the architecture must be known before the update.
  dpkg --add-architecture i386
fi

# apt-get update exits non-zero when any index fails ("Mirror sync in
# progress?"), though it keeps every list it did fetch.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
for try in 1 2 3; do
  if apt-get "${apt_options[@]}" update -qq >"$update_log" 2>&1; then
    break
  fi
  if [[ $try == 3 ]]; then
    grep -E '^(E|W|Err):' "$update_log" >&2 || true
    echo "install-deps.sh: apt-get update still fails for some indexes after 3 tries; going on with the package lists apt has" >&2
  else
    sleep 5
  fi
done

if [[ $set_name == all ]]; then
  clang_version=$(apt-cache depends clang 2>/dev/null |
    sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n1)
  if [[ -z $clang_version ]]; then
    echo "install-deps.sh: apt knows no clang package depending on clang-N; cannot pick libclang-rt-N-dev" >&2
    exit 1
  fi
  packages+=("libclang-rt-$clang_version-dev")
fi

apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "${packages[@]}"

if [[ $set_name == all ]]; then
  if ! apt-get "${apt_options[@]}" install -y -qq --no-install-recommends wine32:i386; then
    echo "install-deps.sh: wine32:i386 cannot be installed; 32-bit Wine is missing, so scripts/test-all.sh will run the Wine tests on the x86-64 build in a 64-bit prefix" >&2
  fi
fi
echo "install-deps.sh: the '$set_name' set is installed"
