#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (as root).
set -euo pipefail

packages=(
  # Native build and tests
  cmake g++ make googletest libgtest-dev valgrind clang libclang-rt-14-dev python3
  # Windows cross builds (i686 product, x86-64 for running under Wine) and
  # Wine. Only 64-bit Wine: kernels without 32-bit execution cannot run
  # wine32, so the Wine tests run the x86-64 build of the same sources.
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
  wine wine64 xvfb xauth
  imagemagick fonts-wqy-microhei fonts-wine
  # End-to-end tests and benchmarks
  nginx-light iproute2 util-linux procps curl htpdate faketime
)

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
