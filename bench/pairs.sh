#!/usr/bin/env bash
# pairs.sh - runs `quorvel auto` and `htpdate -q` in interleaved pairs and
# records what each run cost.
#
# Usage: pairs.sh PHASE PAIRS OUTDIR
# Environment: QUORVEL (the native binary), MEASURE_RUN (bench/measure_run.c,
# built), ACCESS_LOG (nginx's access log in the "$connection
# $connection_requests ..." format of measure_in_netns.sh), RUN_LIMIT_S (per
# run, default 30).
#
# Pair i runs quorvel first when i is odd and htpdate first when i is even,
# so neither tool always gets the warmer caches. After each run it waits until
# nginx has logged, then appends to OUTDIR/runs.tsv one tab-separated line:
#   phase pair tool wall_us cpu_us maxrss_kib status connections requests opened ok
# cpu_us is user + system CPU; connections and requests are the distinct
# connection serial numbers and the lines nginx logged during the run; opened
# is how many TCP connections this network namespace opened meanwhile (the
# kernel's ActiveOpens counter); ok is 1 when the tool's output shows that it
# read the time. Each run's output is kept in OUTDIR/out/.
# Must run in a private network namespace (see measure_in_netns.sh).
set -euo pipefail

[[ $# == 3 ]] || { echo "usage: pairs.sh PHASE PAIRS OUTDIR" >&2; exit 2; }
phase=$1 pairs=$2 outdir=$3
: "${QUORVEL:?}" "${MEASURE_RUN:?}" "${ACCESS_LOG:?}"
limit=${RUN_LIMIT_S:-30}
mkdir -p "$outdir/out"

# The kernel's count of TCP connections opened from this network namespace.
active_opens() {
    awk '$1 == "Tcp:" { if (!n) { for (i = 2; i <= NF; i++) if ($i == "ActiveOpens") col = i; n = 1 }
                        else print $col }' /proc/net/snmp
}

# log_lines and settle
source "$(dirname "${BASH_SOURCE[0]}")/access_log.sh"

run_one() {
    local pair=$1 tool=$2 marker out cmd
    case $tool in
    quorvel) cmd=("$QUORVEL" auto) marker='Adjusted Time:' ;;
    htpdate) cmd=(htpdate -q -d http://www.baidu.com) marker='offset: ' ;;
    esac
    out=$outdir/out/$phase-$pair-$tool.txt
    local lines_before opens_before
    lines_before=$(log_lines)
    opens_before=$(active_opens)
    rm -f "$outdir/last.cost"
    "$MEASURE_RUN" "$limit" "$outdir/last.cost" "${cmd[@]}" > "$out" 2>&1 ||
        { echo "pairs.sh: measure_run failed for $tool" >&2; exit 1; }
    settle
    local wall user sys rss status logged ok=0
    read -r wall user sys rss status < "$outdir/last.cost"
    logged=$(tail -n +"$((lines_before + 1))" "$ACCESS_LOG")
    local connections=0 requests=0
    if [[ -n $logged ]]; then
        connections=$(awk '{print $1}' <<< "$logged" | sort -u | wc -l)
        requests=$(wc -l <<< "$logged")
    fi
    grep -q -- "$marker" "$out" && ok=1
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$phase" "$pair" "$tool" \
        "$wall" "$((user + sys))" "$rss" "$status" "$connections" "$requests" \
        "$(( $(active_opens) - opens_before ))" "$ok" >> "$outdir/runs.tsv"
}

for ((pair = 1; pair <= pairs; pair++)); do
    if ((pair % 2)); then order=(quorvel htpdate); else order=(htpdate quorvel); fi
    for tool in "${order[@]}"; do run_one "$pair" "$tool"; done
done
