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

# --- The Linux program as a user gets it: the README's first run
# (scripts/try.sh, the release quorvel auto against nginx in a private
# namespace), and the files of the Debian package.
echo "== First run and Debian package"
bash scripts/try.sh
rm -f build/linux-release/quorvel_*.deb
cpack --preset linux-release
bash tests/e2e/check_install.sh --deb build/linux-release/quorvel_*.deb

# --- Benchmarks: one short run of bench/run.sh, only to keep the script
# working. Its figures are reported, never asserted; it fails only when it
# cannot measure at all.
echo "== Benchmarks (quick run)"
bash bench/run.sh --quick

# --- Windows: Quorvel.exe for 32-bit Windows (windows preset), and the same
# sources built for x86-64 with the tests (windows-x64 preset), which run
# under 64-bit Wine: kernels without 32-bit support cannot run wine32. Those
# tests also check the 32-bit Quorvel.exe's imports and resources. Wine's
# windows need an X display: a virtual one is started when there is none.
echo "== Windows build and tests under Wine"
cmake --preset windows
cmake --build --preset windows
cmake --preset windows-x64
cmake --build --preset windows-x64
xvfb_pid=
if [[ -z "${DISPLAY:-}" ]]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT
  for _ in $(seq 100); do [[ -s "$display_file" ]] && break; sleep 0.05; done
  export DISPLAY=:$(head -n1 "$display_file")
fi
ctest --preset windows

# --- Hardening: a bounded fuzzing run over the response handling (the fuzz
# preset: clang, libFuzzer, ASan + UBSan), skipped when clang's libFuzzer
# runtime is missing; then `quorvel auto` of a Release build under valgrind
# memcheck against the stand-in in a private namespace (a success, five
# attempts cut off by a reset, five refused connections): any memcheck error
# or leak fails the run.
echo "== Fuzzing (bounded run) and valgrind"
probe_dir=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  > "$probe_dir/probe.cpp"
if clang++ -fsanitize=fuzzer "$probe_dir/probe.cpp" -o "$probe_dir/probe" 2>/dev/null; then
  cmake --preset fuzz
  cmake --build --preset fuzz
  ctest --preset fuzz
else
  echo "clang++ -fsanitize=fuzzer does not link here (libclang-rt-14-dev missing?): fuzzing skipped"
fi
rm -rf "$probe_dir"
cmake --preset linux-release
cmake --build --preset linux-release --target quorvel
for scenario in baseline reset-half-way connection-refused; do
  python3 tests/hostile/run_hostile.py --valgrind build/linux-release/app/quorvel "$scenario"
done
