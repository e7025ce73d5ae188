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

# --- Benchmarks: one short run of bench/run.sh, only to keep the script
# working. Its figures are reported, never asserted; it fails only when it
# cannot measure at all.
echo "== Benchmarks (quick run)"
bash bench/run.sh --quick
