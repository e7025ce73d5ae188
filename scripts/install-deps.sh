#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (as root).
set -euo pipefail

packages=(
  # Native build and tests
  cmake g++ make googletest libgtest-dev valgrind clang libclang-rt-14-dev python3
  # Windows cross builds (the i686 product; x86-64 for kernels that cannot
  # run 32-bit code) and Wine, 32-bit (i386 packages) and 64-bit. Installing
  # wine32 never needs 32-bit execution; whether it runs is probed by
  # scripts/test-all.sh.
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
  wine wine64 wine32:i386 xvfb xauth
  imagemagick fonts-wqy-microhei fonts-wine
  # End-to-end tests and benchmarks
  nginx-light iproute2 util-linux procps curl htpdate faketime
  # The Debian package (dpkg-shlibdeps works out its dependency) and the
  # check of the manual page
  dpkg-dev man-db
)

export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package: the architecture must be known before the update.
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
