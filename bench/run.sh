#!/usr/bin/env bash
# run.sh - benchmarks one clock synchronisation: `quorvel auto` against
# `htpdate -q` (Debian's htpdate, which also reads web servers' Date headers;
# query only), on the same nginx server standing in for www.baidu.com; and
# the accuracy of the clock each one writes.
#
# Usage: bench/run.sh [--quick] [--pairs N] [--rtt-ms MS] [--callgrind-runs N]
#                     [--accuracy-runs N] [--proxies LIST] [--quorvel PATH]
#                     [--exe PATH]
#
# From a clean clone on Debian 12, as root, after scripts/install-deps.sh:
#     bash bench/run.sh
# It
#   1. builds a Release quorvel without sanitizers in build/bench (or takes
#      --quorvel) and the small launcher bench/measure_run.c;
#   2. in a private user + network namespace (tests/support/in_netns.sh: only
#      loopback, www.baidu.com is 127.0.0.1, the clock cannot be set) starts
#      nginx on port 80 and runs both programs N times each, interleaved,
#      over loopback and then over a link with a simulated round-trip time
#      (default 25 ms, 12.5 ms each way), recording wall time, user+sys CPU,
#      peak RSS, and the TCP connections and HTTP requests nginx saw;
#   3. counts the instructions of one attempt of each under callgrind;
#      then restarts nginx with its clock 259200 s (3 days) and a fraction
#      ahead (faketime; a different fraction in each round) and, over loopback
#      and over the link, runs `quorvel auto`, `quorvel auto precise`,
#      quorvel's two buttons (read, wait 3 s, set) and `htpdate -s` N times
#      each, with
#      their clock writes caught by bench/clock_recorder.c (LD_PRELOAD: it
#      logs the error of each write and changes nothing; see accuracy.sh);
#      and over loopback `quorvel auto` and `auto precise` N times each
#      through each proxy of --proxies (http_proxy naming squid on
#      127.0.0.1:3128 or tinyproxy on 127.0.0.1:8888, the only ones that
#      resolve www.baidu.com there), counting the requests each one logged;
#   4. reports the size and imported DLLs of Quorvel.exe: --exe, else
#      build/windows/app/Quorvel.exe (the windows preset), else one it builds
#      in build/bench-windows (not in --quick mode);
#   5. writes build/bench/results/report.md and prints it.
# Inside the namespace `quorvel auto` reads the time and then fails to set the
# clock (EPERM), as it should there; htpdate runs with -q and only queries.
# In the accuracy runs the recorder answers the clock calls instead.
#
# --quick: 3 pairs, one callgrind run and one accuracy run, for CI; well
# under a minute once built. Defaults otherwise: 20 pairs, 3 callgrind runs,
# 20 accuracy runs.
# --proxies: "squid tinyproxy" (the default), one of them, or "none". The
# proxies switch to users of their own, so these rounds need root (the
# namespace is then entered with in_netns.sh --ids); without root, or
# without the proxy installed, they are left out and the report says so.
# Exits 0 whatever the figures are: targets are reported, never asserted.
# Exits 1 when a measurement could not be made at all.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
root=$(dirname "$here")
die() { echo "run.sh: $*" >&2; exit 1; }

quick=0 pairs=20 rtt_ms=25 callgrind_runs=3 accuracy_runs=20 quorvel= exe= proxies="squid tinyproxy"
pairs_set=0 callgrind_set=0 accuracy_set=0
while [[ $# -gt 0 ]]; do
    case $1 in
    --quick) quick=1 ;;
    --pairs) pairs=$2 pairs_set=1; shift ;;
    --rtt-ms) rtt_ms=$2; shift ;;
    --callgrind-runs) callgrind_runs=$2 callgrind_set=1; shift ;;
    --accuracy-runs) accuracy_runs=$2 accuracy_set=1; shift ;;
    --proxies) proxies=$2; shift ;;
    --quorvel) quorvel=$(readlink -f "$2"); shift ;;
    --exe) exe=$(readlink -f "$2"); shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument $1 (see --help)" ;;
    esac
    shift
done
if [[ $quick == 1 ]]; then
    [[ $pairs_set == 1 ]] || pairs=3
    [[ $callgrind_set == 1 ]] || callgrind_runs=1
    [[ $accuracy_set == 1 ]] || accuracy_runs=1
fi
[[ $pairs =~ ^[1-9][0-9]*$ && $pairs -le 200 ]] || die "--pairs must be 1 to 200"
[[ $rtt_ms =~ ^[1-9][0-9]*$ && $rtt_ms -le 1000 ]] || die "--rtt-ms must be 1 to 1000"
[[ $callgrind_runs =~ ^[0-9]+$ && $callgrind_runs -le 10 ]] || die "--callgrind-runs must be 0 to 10"
[[ $accuracy_runs =~ ^[1-9][0-9]*$ && $accuracy_runs -le 100 ]] || die "--accuracy-runs must be 1 to 100"
for tool in htpdate valgrind callgrind_annotate python3 cc cmake faketime; do
    command -v "$tool" > /dev/null || die "$tool is missing (run scripts/install-deps.sh)"
done
[[ -x /usr/sbin/nginx ]] || die "/usr/sbin/nginx is missing (Debian package nginx-light)"
[[ $proxies == none ]] && proxies=
measured_proxies= skipped_proxies=
for proxy in $proxies; do
    case $proxy in
    squid) binary=/usr/sbin/squid ;;
    tinyproxy) binary=/usr/bin/tinyproxy ;;
    *) die "--proxies takes squid, tinyproxy or none, not $proxy" ;;
    esac
    if [[ $(id -u) != 0 ]]; then
        skipped_proxies+="${skipped_proxies:+, }$proxy (needs root)"
    elif [[ ! -x $binary ]]; then
        skipped_proxies+="${skipped_proxies:+, }$proxy ($binary is missing)"
    else
        measured_proxies+="${measured_proxies:+ }$proxy"
    fi
done

build=$root/build/bench
results=$build/results
mkdir -p "$build"
rm -rf "$results"
mkdir -p "$results"

# 1. The programs.
if [[ -z $quorvel ]]; then
    echo "run.sh: building a Release quorvel in $build" >&2
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_SANITIZE=OFF \
        -DQUORVEL_BUILD_TESTS=OFF > "$build/configure.log" ||
        die "configuring failed, see $build/configure.log"
    cmake --build "$build" --target quorvel -j 2 > "$build/build.log" ||
        die "building failed, see $build/build.log"
    quorvel=$(find "$build" -name quorvel -type f -perm -u+x -print -quit)
fi
[[ -x $quorvel ]] || die "no quorvel binary (looked in $build)"
measure_run=$build/measure_run
cc -O2 -static -Wall -Wextra -o "$measure_run" "$here/measure_run.c" 2> /dev/null ||
    cc -O2 -Wall -Wextra -o "$measure_run" "$here/measure_run.c" ||
    die "cannot build the launcher"
recorder=$build/clock_recorder.so
cc -shared -fPIC -O2 -Wall -Wextra -o "$recorder" "$here/clock_recorder.c" ||
    die "cannot build the clock recorder"
clock_shift_s=259200

{
    printf 'command\t%s\n' "bash bench/run.sh $([[ $quick == 0 ]] || echo '--quick ')--pairs $pairs --rtt-ms $rtt_ms --callgrind-runs $callgrind_runs --accuracy-runs $accuracy_runs --proxies '${proxies:-none}'"
    printf 'pairs\t%s\n' "$pairs"
    printf 'rtt_us\t%s\n' "$((rtt_ms * 1000))"
    printf 'callgrind runs\t%s\n' "$callgrind_runs"
    printf 'accuracy runs\t%s\n' "$accuracy_runs"
    printf 'clock_shift_s\t%s\n' "$clock_shift_s"
    printf 'proxies\t%s\n' "${measured_proxies:-none}${skipped_proxies:+; left out: $skipped_proxies}"
    printf 'launcher floor (peak RSS of the static launcher itself, KiB)\t%s\n' \
        "$("$measure_run" 5 /dev/stdout "$measure_run" 2> /dev/null | awk '{print $4}')"
} > "$results/params.txt"
{
    printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
    printf 'commit\t%s\n' "$(git -C "$root" rev-parse --short HEAD 2> /dev/null || echo '?')"
    printf 'cpu\t%s\n' "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
    printf 'nproc\t%s\n' "$(nproc)"
    printf 'kernel\t%s\n' "$(uname -sr)"
    printf 'os\t%s\n' "$(. /etc/os-release && echo "$PRETTY_NAME")"
    printf 'htpdate\t%s\n' "$(dpkg-query -W -f '${Version}' htpdate 2> /dev/null || echo '?')"
    printf 'faketime\t%s\n' "$(dpkg-query -W -f '${Version}' faketime 2> /dev/null || echo '?')"
    printf 'nginx\t%s\n' "$(/usr/sbin/nginx -v 2>&1 | sed 's/.*: //')"
    for proxy in $measured_proxies; do
        printf '%s\t%s\n' "$proxy" "$(dpkg-query -W -f '${Version}' "$proxy" 2> /dev/null || echo '?')"
    done
    printf 'valgrind\t%s\n' "$(valgrind --version)"
    printf 'compiler\t%s\n' "$(c++ --version | head -1)"
} > "$results/machine.txt"
{
    printf 'path\t%s\n' "${quorvel#"$root"/}"
    printf 'size\t%s\n' "$(stat -c %s "$quorvel")"
    printf 'needed\t%s\n' "$(objdump -p "$quorvel" | awk '/NEEDED/ {print $2}' | paste -sd ' ')"
} > "$results/native.txt"

# 2, 3. The measurements that need the server, in the namespace.
delay_us=$((rtt_ms * 500))
netns=("$root/tests/support/in_netns.sh")
[[ -z $measured_proxies ]] || netns+=(--ids)
QUORVEL=$quorvel MEASURE_RUN=$measure_run RUN_LIMIT_S=30 \
    RECORDER=$recorder CLOCK_SHIFT_S=$clock_shift_s PROXIES=$measured_proxies \
    timeout 1800 "${netns[@]}" \
    "$here/measure_in_netns.sh" "$results" "$pairs" "$delay_us" "$callgrind_runs" "$accuracy_runs" ||
    die "the measurements in the namespace failed"

# 4. Quorvel.exe, statically: its size and the DLLs it imports.
if [[ -z $exe && -f $root/build/windows/app/Quorvel.exe ]]; then
    exe=$root/build/windows/app/Quorvel.exe
fi
if [[ -z $exe && $quick == 0 ]]; then
    echo "run.sh: building Quorvel.exe (i686) in $root/build/bench-windows" >&2
    if cmake -S "$root" -B "$root/build/bench-windows" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DQUORVEL_BUILD_TESTS=OFF \
        > "$build/windows-configure.log" 2>&1 &&
        cmake --build "$root/build/bench-windows" -j 2 > "$build/windows-build.log" 2>&1; then
        exe=$(find "$root/build/bench-windows" -name Quorvel.exe -type f -print -quit)
    fi
fi
objdump_pe=$(command -v i686-w64-mingw32-objdump || command -v objdump)
if [[ -n $exe && -f $exe ]]; then
    {
        printf 'path\t%s\n' "${exe#"$root"/}"
        printf 'size\t%s\n' "$(stat -c %s "$exe")"
        printf 'format\t%s\n' "$("$objdump_pe" -f "$exe" | awk '/file format/ {print $NF}')"
        printf 'dlls\t%s\n' "$("$objdump_pe" -p "$exe" | awk '/DLL Name:/ {print $3}' | paste -sd ' ')"
    } > "$results/exe.txt"
else
    printf 'note\t%s\n' "not built yet (build it with: cmake --preset windows && cmake --build --preset windows)" \
        > "$results/exe.txt"
fi

# 5. The report.
python3 "$here/report.py" "$results" > "$results/report.md" || die "report.py failed"
cat "$results/report.md"
