#!/usr/bin/env bash
# accuracy.sh - how close to the true time each tool sets the clock: `quorvel
# auto`, `quorvel auto precise`, quorvel's two buttons (read, wait 3 s, set)
# and `htpdate -s`, each with its clock writes caught by
# bench/clock_recorder.c.
#
# Usage: accuracy.sh PHASE RUNS OUTDIR
# Environment: QUORVEL (the native binary), MEASURE_RUN (bench/measure_run.c,
# built), RECORDER (bench/clock_recorder.c, built), CLOCK_SHIFT_S (whole
# seconds the server's clock runs ahead), SHIFT_FILE (the libfaketime
# timestamp file nginx reads its shift from at every clock call),
# ACCESS_LOG (nginx's access log, as in pairs.sh), RUN_LIMIT_S (per run,
# default 30); TOOLS (the tools to run, default all four); PROXY (squid or
# tinyproxy: every run goes through that proxy, with http_proxy naming it;
# only under tests/support/squid_in_netns.sh or tinyproxy_in_netns.sh, whose
# SQUID_DIR or TINYPROXY_DIR hold the proxy's log).
#
# Round i first sets nginx's clock CLOCK_SHIFT_S seconds and a fraction
# ahead, a different fraction each round ((0.37 + 0.618034 (i - 1)) mod 1, to
# the microsecond, which spreads them over the second): a whole-second shift
# would put the server's second where the true one is, and flatter a search
# for it; whole milliseconds would line it up with the millisecond tick. It then runs the
# four tools in an order that turns by one each round, each one started at
# the phase (i - 1/2) / RUNS of the server's second: a tool that asks once
# can only be as right as the phase of its request within that second, so
# the phases are spread evenly instead of left to chance, and the mean error
# shows the bias rather than the luck of the draw. After each run it waits
# until nginx has logged, then appends to OUTDIR/accuracy.tsv one
# tab-separated line:
#   phase round tool wall_us status requests writes error_us shift_us proxied
# requests is how many requests nginx logged, writes how many clock writes
# the recorder caught, error_us the last one's error (written time minus true
# time, minus the shift; negative when late), "-" when there was none;
# shift_us is the round's shift; proxied how many `GET http://www.baidu.com/`
# the proxy logged, "-" without one. Each run's output is kept in OUTDIR/out/,
# and the proxy's log in OUTDIR/proxy-PHASE.log.
# Must run in a private network namespace (see measure_in_netns.sh).
set -euo pipefail

[[ $# == 3 ]] || { echo "usage: accuracy.sh PHASE RUNS OUTDIR" >&2; exit 2; }
phase=$1 runs=$2 outdir=$3
: "${QUORVEL:?}" "${MEASURE_RUN:?}" "${RECORDER:?}" "${CLOCK_SHIFT_S:?}" "${ACCESS_LOG:?}"
: "${SHIFT_FILE:?}"
limit=${RUN_LIMIT_S:-30}
mkdir -p "$outdir/out"
proxy_env=() proxy_log=
case ${PROXY:-} in
'') ;;
squid) proxy_env=(http_proxy=http://127.0.0.1:3128/) proxy_log=${SQUID_DIR:?}/access.log ;;
tinyproxy) proxy_env=(http_proxy=http://127.0.0.1:8888/) proxy_log=${TINYPROXY_DIR:?}/tinyproxy.log ;;
*) echo "accuracy.sh: unknown PROXY $PROXY" >&2; exit 2 ;;
esac
# The requests for the absolute URL in the proxy's log (squid's access.log
# and tinyproxy's "Request (file descriptor N): GET ..." lines both have it).
proxied_lines() { grep -c 'GET http://www\.baidu\.com/ ' "$proxy_log" || true; }

# log_lines and settle
source "$(dirname "${BASH_SOURCE[0]}")/access_log.sh"

# Sleeps until the fraction of the current second is `phase_us`.
wait_for_phase() {
    local now=$EPOCHREALTIME
    local frac=$((10#${now#*.}))
    local wait_us=$(((${1} - frac + 1000000) % 1000000))
    sleep "$((wait_us / 1000000)).$(printf '%06d' $((wait_us % 1000000)))"
}

run_one() {
    local round=$1 tool=$2 cmd out clock_log
    case $tool in
    quorvel) cmd=("$QUORVEL" auto) ;;
    quorvel-precise) cmd=("$QUORVEL" auto precise) ;;
    # The console port without `auto` reads numbered choices from standard
    # input: 1 reads the time, 2 sets the clock, 0 closes the window.
    quorvel-buttons) cmd=("$BASH" -c '{ echo 1; sleep 3; echo 2; echo 0; } | "$0"' "$QUORVEL") ;;
    htpdate) cmd=(htpdate -s -d http://www.baidu.com) ;;
    esac
    out=$outdir/out/accuracy-$phase-$round-$tool.txt
    clock_log=$outdir/clock.log
    local lines_before proxied_before=0 proxied=-
    lines_before=$(log_lines)
    [[ -z $proxy_log ]] || proxied_before=$(proxied_lines)
    rm -f "$outdir/last.cost" "$clock_log"
    # The phase of the server's second: the true one less the shift's fraction.
    wait_for_phase $((((2 * round - 1) * 500000 / runs - shift_frac_us + 1000000) % 1000000))
    env "${proxy_env[@]}" LD_PRELOAD=$RECORDER QUORVEL_CLOCK_LOG=$clock_log QUORVEL_CLOCK_SHIFT_S=$shift_s \
        "$MEASURE_RUN" "$limit" "$outdir/last.cost" "${cmd[@]}" > "$out" 2>&1 ||
        { echo "accuracy.sh: measure_run failed for $tool" >&2; exit 1; }
    settle
    local wall user sys rss status requests=0 writes=0 error=-
    read -r wall user sys rss status < "$outdir/last.cost"
    requests=$(tail -n +"$((lines_before + 1))" "$ACCESS_LOG" | wc -l)
    if [[ -n $proxy_log ]]; then
        # squid logs a request when it has ended: give it up to 1 s.
        for _ in $(seq 50); do
            proxied=$(($(proxied_lines) - proxied_before))
            ((proxied < requests)) || break
            sleep 0.02
        done
    fi
    if [[ -s $clock_log ]]; then
        writes=$(wc -l < "$clock_log")
        error=$(tail -n 1 "$clock_log" | awk '{print $2}')
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$phase" "$round" "$tool" "$wall" "$status" \
        "$requests" "$writes" "$error" "$CLOCK_SHIFT_S$(printf '%06d' "$shift_frac_us")" "$proxied" \
        >> "$outdir/accuracy.tsv"
}

read -r -a tools <<< "${TOOLS:-quorvel htpdate quorvel-buttons quorvel-precise}"
for ((round = 1; round <= runs; round++)); do
    # libfaketime in nginx reads the file at every clock call.
    shift_frac_us=$(((370000 + 618034 * (round - 1)) % 1000000))
    shift_s=$CLOCK_SHIFT_S.$(printf '%06d' "$shift_frac_us")
    echo "+${shift_s}s" > "$SHIFT_FILE"
    for ((k = 0; k < ${#tools[@]}; k++)); do
        run_one "$round" "${tools[(round + k) % ${#tools[@]}]}"
    done
done
[[ -z $proxy_log ]] || cp "$proxy_log" "$outdir/proxy-$phase.log"
