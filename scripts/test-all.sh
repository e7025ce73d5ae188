#!/usr/bin/env bash
# Builds the native and the Windows targets and runs every test: the native
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows
# tests under Wine on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."

# phase NAME: the phase before it ends (its seconds are kept for the table
# printed at the end) and NAME begins; an empty NAME only ends.
phases=() phase_name= phase_start=$SECONDS
phase() {
  [[ -z $phase_name ]] || phases+=("$(printf '%5d s  %s' $((SECONDS - phase_start)) "$phase_name")")
  phase_name=$1 phase_start=$SECONDS
  [[ -z $phase_name ]] || echo "== $phase_name"
}

phase "Native build and tests"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux

# --- The Linux program as a user gets it: the README's first run
# (scripts/try.sh, the release quorvel auto against nginx in a private
# namespace), the files of the Debian package and Debian's own check of it
# (lintian: no error, no warning), the installed service and timer
# (systemd-analyze verify, and the service's exposure, at most 2.0), and the
# installed service run by systemd with all its settings in the private
# namespace. A missing lintian or systemd is reported and its check skipped.
phase "First run and Debian package"
bash scripts/try.sh
rm -f build/linux-release/quorvel_*.deb
cpack --preset linux-release
deb=$(echo build/linux-release/quorvel_*.deb)
bash tests/e2e/check_install.sh --deb "$deb"
if command -v lintian >/dev/null; then
  lintian -I -E --pedantic --fail-on error,warning "$deb"
  echo "lintian -I -E --pedantic: no error or warning in $deb"
else
  echo "lintian is missing: the package's Debian checks skipped"
fi
bash tests/e2e/check_install.sh --tree build/linux-release
bash tests/e2e/check_unit_sandbox.sh build/linux-release
bash tests/e2e/check_unit_sandbox.sh --proxy build/linux-release

# --- Benchmarks: one short run of bench/run.sh, only to keep the script
# working. Its figures are reported, never asserted; it fails only when it
# cannot measure at all.
phase "Benchmarks (quick run)"
bash bench/run.sh --quick

# --- Windows: Quorvel.exe for 32-bit Windows (windows preset), the program
# users get, and the tests under Wine on a virtual X display (started when
# there is none). Whether this machine runs 32-bit Windows programs depends on
# its kernel (32-bit execution, CONFIG_IA32_EMULATION), so it is probed once:
# a tiny i686 console program in a throw-away 32-bit prefix must run and
# return its own answer within 60 s. Where it does, the tests are built for
# i686 (windows-i686 preset) and run the windows preset's Quorvel.exe itself
# under 32-bit Wine (ctest --preset windows). Where it does not, the same
# sources are built for x86-64 with the tests (windows-x64 preset) and run
# under 64-bit Wine; those also check the 32-bit Quorvel.exe's imports and
# resources (ctest --preset windows-x64).
# QUORVEL_WINE_BUILD=i686 or x86-64 skips the probe and tests that build.
phase "Windows build and tests under Wine"
windows_start=$SECONDS
cmake --preset windows
cmake --build --preset windows
xvfb_pid=
if [[ -z "${DISPLAY:-}" ]]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT
  for _ in $(seq 100); do [[ -s "$display_file" ]] && break; sleep 0.05; done
  export DISPLAY=:$(head -n1 "$display_file")
fi

wine_build=${QUORVEL_WINE_BUILD:-}
if [[ -n "$wine_build" ]]; then
  why="QUORVEL_WINE_BUILD=$wine_build"
else
  probe_dir=$(mktemp -d)
  echo 'int main(void) { return sizeof(void*) == 4 ? 32 : 1; }' > "$probe_dir/probe.c"
  i686-w64-mingw32-gcc -static -o "$probe_dir/probe.exe" "$probe_dir/probe.c"
  probe_status=0
  WINEPREFIX=$probe_dir/prefix WINEARCH=win32 WINEDEBUG=-all \
    timeout -k 5 60 wine "$probe_dir/probe.exe" </dev/null >/dev/null 2>&1 || probe_status=$?
  WINEPREFIX=$probe_dir/prefix wineserver -k 2>/dev/null || true
  rm -rf "$probe_dir"
  if [[ $probe_status == 32 ]]; then
    wine_build=i686
    why="a 32-bit Windows program runs here under 32-bit Wine"
  else
    wine_build=x86-64
    why="a 32-bit Windows program does not run here under 32-bit Wine (exit status $probe_status)"
  fi
fi
case "$wine_build" in
  i686)
    echo "== Wine tests: the 32-bit Quorvel.exe of the windows preset, in a 32-bit prefix ($why)"
    cmake --preset windows-i686
    cmake --build --preset windows-i686
    ctest --preset windows
    ;;
  x86-64)
    echo "== Wine tests: the x86-64 build of the same sources, in a 64-bit prefix ($why)"
    cmake --preset windows-x64
    cmake --build --preset windows-x64
    ctest --preset windows-x64
    ;;
  *) echo "QUORVEL_WINE_BUILD must be i686 or x86-64, not $wine_build" >&2; exit 2 ;;
esac
echo "== Windows builds and Wine tests ($wine_build build) took $((SECONDS - windows_start)) s"

# --- The release (scripts/release.sh: the Windows ZIP, the Debian package,
# SHA256SUMS), made twice from two clones of this commit in different folders
# at different times: every file must be the same, byte for byte, and the ZIP
# must hold the built Quorvel.exe, the licence and the Chinese text.
phase "Release, twice: reproducible"
bash tests/release/check_reproducible.sh

# --- Hardening: a bounded fuzzing run over the response handling (the fuzz
# preset: clang, libFuzzer, ASan + UBSan), skipped when clang's libFuzzer
# runtime is missing; then `quorvel auto` of a Release build under valgrind
# memcheck against the stand-in in a private namespace (a success, five
# attempts cut off by a reset, five refused connections): any memcheck error
# or leak fails the run.
phase "Fuzzing (bounded run) and valgrind"
probe_dir=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  > "$probe_dir/probe.cpp"
if clang++ -fsanitize=fuzzer "$probe_dir/probe.cpp" -o "$probe_dir/probe" 2>/dev/null; then
  cmake --preset fuzz
  cmake --build --preset fuzz
  ctest --preset fuzz
else
  echo "clang++ -fsanitize=fuzzer does not link here (the libclang-rt-N-dev of clang N missing?): fuzzing skipped"
fi
rm -rf "$probe_dir"
cmake --preset linux-release
cmake --build --preset linux-release --target quorvel
for scenario in baseline reset-half-way connection-refused; do
  python3 tests/hostile/run_hostile.py --valgrind build/linux-release/app/quorvel "$scenario"
done
phase ""
echo "== test-all.sh passed; seconds per phase:"
printf '==   %s\n' "${phases[@]}"
