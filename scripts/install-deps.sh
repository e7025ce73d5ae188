#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (as root).
set -euo pipefail

packages=(
  # Native build and tests
  cmake g++ make googletest libgtest-dev valgrind clang libclang-rt-14-dev python3
  # Windows cross build and Wine
  g++-mingw-w64-i686-win32 mingw-w64-tools wine wine32:i386 xvfb xauth
  imagemagick fonts-wqy-microhei fonts-wine
  # End-to-end tests and benchmarks
  nginx-light iproute2 util-linux procps curl htpdate
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
