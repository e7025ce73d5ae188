#!/usr/bin/env python3
"""report.py - turns the raw results of bench/run.sh into a Markdown report.

Usage: report.py RESULTS_DIR

Reads RESULTS_DIR/params.txt and machine.txt (key<TAB>value lines),
runs.tsv (see pairs.sh), accuracy.tsv (see accuracy.sh), callgrind/<tool>.<n>
(callgrind output files),
exe.txt and native.txt (key<TAB>value lines written by run.sh) and prints the
report on standard output. The figures are compared with the targets, but
nothing here fails on a missed target: a benchmark reports, it does not judge
the build. Exits 1 only when the results are missing or unreadable.
"""
import collections
import re
import statistics
import subprocess
import sys
from pathlib import Path

KIB = 1024
CPU_TARGET_US = 5000
RSS_TARGET_KIB = 4 * KIB
EXE_TARGET_BYTES = 512 * KIB
LINK_SLACK_US = 5000
# DLLs that every Windows installation has in its system folder.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "imm32.dll",
    "kernel32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "rpcrt4.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "winmm.dll", "ws2_32.dll", "wsock32.dll", "ucrtbase.dll",
}

Run = collections.namedtuple(
    "Run", "phase pair tool wall_us cpu_us rss_kib status connections requests opened ok")
Accuracy = collections.namedtuple("Accuracy",
                                  "phase round tool wall_us status requests writes error_us shift_us "
                                  "proxied")
ACCURACY_TOOLS = ("quorvel", "quorvel-precise", "quorvel-buttons", "htpdate")
ACCURACY_LABELS = {"quorvel": "quorvel auto", "quorvel-precise": "quorvel auto precise",
                   "quorvel-buttons": "quorvel: read, wait 3 s, set", "htpdate": "htpdate -s"}
# Accuracy phases over loopback through a proxy (accuracy.sh's PROXY).
PROXY_PHASES = {"squid": "127.0.0.1:3128", "tinyproxy": "127.0.0.1:8888"}
MEAN_TARGET_US = 20000
BOUND_SLACK_US = 10000
# `auto precise`: its worst error over loopback and over the link, its mean
# error, its requests (the first read's included) and its wall time.
PRECISE_WORST_US = {"loopback": 5000, "link": 6000}
PRECISE_MEAN_US = 2000
PRECISE_REQUESTS = 8
PRECISE_MEAN_WALL_US = 3500000
PRECISE_LONGEST_WALL_US = 5000000


def read_pairs(path):
    values = {}
    if path.exists():
        for line in path.read_text().splitlines():
            key, _, value = line.partition("\t")
            values[key] = value
    return values


def read_runs(path):
    runs = []
    for line in path.read_text().splitlines():
        fields = line.split("\t")
        runs.append(Run(fields[0], int(fields[1]), fields[2], *map(int, fields[3:])))
    return runs


def read_accuracy(path):
    runs = []
    if path.exists():
        for line in path.read_text().splitlines():
            f = line.split("\t")
            proxied = f[9] if len(f) > 9 else "-"
            runs.append(Accuracy(f[0], int(f[1]), f[2], int(f[3]), int(f[4]), int(f[5]), int(f[6]),
                                 None if f[7] == "-" else int(f[7]), int(f[8]),
                                 None if proxied == "-" else int(proxied)))
    return runs


def accuracy_bound_us(params, phase):
    """0.5 s + RTT/2 + 10 ms: the worst error one request may make."""
    rtt_us = int(params["rtt_us"]) if phase == "link" else 0
    return 500000 + rtt_us // 2 + BOUND_SLACK_US


def accuracy_table(runs, phase):
    mine = [r for r in runs if r.phase == phase]
    proxy = phase in PROXY_PHASES
    lines = ["| tool | runs (clock written) | mean error ms | mean abs. error ms | worst abs. error ms "
             "| HTTP requests / run | wall ms: median | longest |" + (" proxy's log: requests / run |" if proxy else ""),
             "|---|---|---|---|---|---|---|---|" + ("---|" if proxy else "")]
    for tool in ACCURACY_TOOLS:
        rs = [r for r in mine if r.tool == tool]
        if not rs:
            continue
        errors = [r.error_us for r in rs if r.error_us is not None]
        walls = [r.wall_us for r in rs]
        if errors:
            figures = (f"{ms(statistics.mean(errors))} | {ms(statistics.mean(abs(e) for e in errors))} "
                       f"| {ms(max(abs(e) for e in errors))}")
        else:
            figures = "– | – | –"
        lines.append(f"| {ACCURACY_LABELS[tool]} | {len(rs)} ({len(errors)}) | {figures} "
                     f"| {counts([r.requests for r in rs])} | {ms(statistics.median(walls))} "
                     f"| {ms(max(walls))} |" + (f" {counts([r.proxied for r in rs])} |" if proxy else ""))
    return lines


def accuracy_targets(runs, params):
    lines = []
    phases = [("loopback", "over loopback"), ("link", "on the simulated link")]
    phases += [(p, f"through {p} over loopback") for p in PROXY_PHASES if any(r.phase == p for r in runs)]
    for phase, where in phases:
        bound = accuracy_bound_us(params, phase)
        for tool in ("quorvel", "quorvel-buttons"):
            rs = [r for r in runs if r.phase == phase and r.tool == tool]
            if not rs:
                continue
            errors = [r.error_us for r in rs if r.error_us is not None]
            written = len(errors) == len(rs)
            worst = max((abs(e) for e in errors), default=None)
            label = ACCURACY_LABELS[tool]
            # Through a proxy: its log must show each request nginx saw.
            logged = phase not in PROXY_PHASES or all(r.proxied == r.requests for r in rs)
            seen = (f", the proxy logged {counts([r.proxied for r in rs])}"
                    if phase in PROXY_PHASES else "")
            if tool == "quorvel" and phase == "loopback" and errors:
                mean = statistics.mean(errors)
                lines.append(f"| {label}: mean error within ±20 ms {where} | {ms(mean)} ms over "
                             f"{len(errors)} runs | {met(written and abs(mean) <= MEAN_TARGET_US)} |")
            lines.append(f"| {label}: worst error within 0.5 s + RTT/2 + 10 ms = {ms(bound)} ms {where}, "
                         f"one request | worst {ms(worst) if worst is not None else '–'} ms, requests "
                         f"{counts([r.requests for r in rs])}{seen}, {len(errors)} of {len(rs)} runs wrote the clock "
                         f"| {met(written and worst is not None and worst <= bound and logged and all(r.requests == 1 for r in rs))} |")
        lines += precise_targets(runs, phase, where)
    return lines


def precise_targets(runs, phase, where):
    rs = [r for r in runs if r.phase == phase and r.tool == "quorvel-precise"]
    if not rs:
        return []
    label = ACCURACY_LABELS["quorvel-precise"]
    errors = [r.error_us for r in rs if r.error_us is not None]
    written = len(errors) == len(rs)
    walls = [r.wall_us for r in rs]
    worst = max((abs(e) for e in errors), default=None)
    mean = statistics.mean(errors) if errors else None
    limit = PRECISE_WORST_US.get(phase, PRECISE_WORST_US["loopback"])
    logged = phase not in PROXY_PHASES or all(r.proxied == r.requests for r in rs)
    seen = f", the proxy logged {counts([r.proxied for r in rs])}" if phase in PROXY_PHASES else ""
    return [
        f"| {label}: worst error ≤ {ms(limit)} ms {where}, at most {PRECISE_REQUESTS} requests "
        f"| worst {ms(worst) if worst is not None else '–'} ms, requests {counts([r.requests for r in rs])}{seen}, "
        f"{len(errors)} of {len(rs)} runs wrote the clock "
        f"| {met(written and worst is not None and worst <= limit and logged and all(r.requests <= PRECISE_REQUESTS for r in rs))} |",
        f"| {label}: mean error within ±{ms(PRECISE_MEAN_US)} ms {where} "
        f"| {ms(mean) if mean is not None else '–'} ms | {met(mean is not None and abs(mean) <= PRECISE_MEAN_US)} |",
        f"| {label}: wall time {where}, mean ≤ {ms(PRECISE_MEAN_WALL_US)} ms, longest ≤ "
        f"{ms(PRECISE_LONGEST_WALL_US)} ms | mean {ms(statistics.mean(walls))} ms, longest {ms(max(walls))} ms "
        f"| {met(statistics.mean(walls) <= PRECISE_MEAN_WALL_US and max(walls) <= PRECISE_LONGEST_WALL_US)} |",
    ]


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def ms(us):
    return f"{us / 1000:.2f}"


def spread(values, fmt):
    """median, interquartile range and full range of values, formatted."""
    low, high = quartiles(values)
    return (fmt(statistics.median(values)), f"{fmt(low)}–{fmt(high)}",
            f"{fmt(min(values))}–{fmt(max(values))}")


def counts(values):
    tally = collections.Counter(values)
    return ", ".join(f"{value} ×{n}" if len(tally) > 1 else str(value)
                     for value, n in sorted(tally.items()))


def phase_table(runs, phase):
    mine = [r for r in runs if r.phase == phase]
    lines = [
        "| tool | runs (time read) | wall ms: median | IQR | range | CPU ms (user+sys): median | IQR | range "
        "| peak RSS KiB: median | range | TCP connections / run (kernel) | HTTP requests / run |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for tool in ("quorvel", "htpdate"):
        rs = [r for r in mine if r.tool == tool]
        if not rs:
            continue
        wall = spread([r.wall_us for r in rs], ms)
        cpu = spread([r.cpu_us for r in rs], ms)
        rss = spread([r.rss_kib for r in rs], str)
        lines.append(
            f"| {tool} | {len(rs)} ({sum(r.ok for r in rs)}) | {' | '.join(wall)} | {' | '.join(cpu)} "
            f"| {rss[0]} | {rss[2]} | {counts([r.connections for r in rs])} "
            f"({counts([r.opened for r in rs])}) | {counts([r.requests for r in rs])} |")
    ratio_rows = []
    by_pair = collections.defaultdict(dict)
    for r in mine:
        by_pair[r.pair][r.tool] = r
    pairs = [p for p in by_pair.values() if len(p) == 2]
    for label, field in (("wall time", "wall_us"), ("CPU", "cpu_us"), ("peak RSS", "rss_kib"),
                         ("requests", "requests")):
        ratios = [getattr(p["quorvel"], field) / getattr(p["htpdate"], field)
                  for p in pairs if getattr(p["htpdate"], field)]
        if ratios:
            ratio_rows.append(f"| {label} | {statistics.median(ratios):.3f} | "
                              f"{min(ratios):.3f}–{max(ratios):.3f} |")
    if ratio_rows:
        lines += ["", f"Ratio quorvel / htpdate within each of the {len(pairs)} pairs:", "",
                  "| figure | median ratio | range |", "|---|---|---|"] + ratio_rows
    return lines


def callgrind_total(path):
    for line in path.read_text(errors="replace").splitlines():
        if line.startswith(("totals:", "summary:")):
            return int(line.split()[1])
    return None


def callgrind_inclusive(path, function):
    """Inclusive instruction count of the first function whose name contains `function`."""
    try:
        out = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", str(path)],
                             capture_output=True, text=True, timeout=60).stdout
    except (OSError, subprocess.TimeoutExpired):
        return None
    for line in out.splitlines():
        if function in line:
            match = re.match(r"\s*([\d,]+)", line)
            if match:
                return int(match.group(1).replace(",", ""))
    return None


def callgrind_section(results):
    folder = results / "callgrind"
    files = sorted(folder.glob("*.*")) if folder.exists() else []
    if not files:
        return ["No callgrind results."]
    rows = collections.defaultdict(list)
    for f in files:
        tool = f.name.split(".")[0]
        rows[(tool, "whole process")].append(callgrind_total(f))
        if tool == "quorvel":
            for name in ("CQuorvelDlg::FetchAndApply", "CQuorvelDlg::FetchInternetTime"):
                rows[(tool, name + "()")].append(callgrind_inclusive(f, name))
    lines = ["| program | part | instructions (Ir), each run |", "|---|---|---|"]
    for (tool, part), values in rows.items():
        shown = ", ".join(f"{v:,}" if v is not None else "?" for v in values)
        lines.append(f"| {tool} | {part} | {shown} |")
    ours, theirs = rows.get(("quorvel", "whole process")), rows.get(("htpdate", "whole process"))
    if ours and theirs and ours[0] and theirs[0]:
        lines += ["", f"Whole process, quorvel / htpdate: {ours[0] / theirs[0]:.3f}."]
    return lines


def met(flag):
    return "met" if flag else "**missed**"


def targets_section(runs, params, exe, accuracy):
    lines = ["| target | measured | result |", "|---|---|---|"]
    lines += accuracy_targets(accuracy, params)
    ours = [r for r in runs if r.tool == "quorvel"]
    if ours:
        one = all(r.connections == 1 and r.requests == 1 and r.opened == 1 for r in ours)
        lines.append(f"| one TCP connection and one HTTP request per attempt "
                     f"| connections {counts([r.connections for r in ours])}, kernel "
                     f"{counts([r.opened for r in ours])}, requests {counts([r.requests for r in ours])} "
                     f"in {len(ours)} runs | {met(one)} |")
    link = [r.wall_us for r in ours if r.phase == "link"]
    if link:
        limit = 2 * int(params["rtt_us"]) + LINK_SLACK_US
        within = sum(w <= limit for w in link)
        median = statistics.median(link)
        lines.append(f"| wall time ≤ 2 RTT + 5 ms = {ms(limit)} ms on the simulated link "
                     f"| median {ms(median)} ms, max {ms(max(link))} ms; {within} of {len(link)} runs within "
                     f"| {met(median <= limit)} (median) |")
    native = [r for r in ours if r.phase == "loopback"]
    if native:
        cpu = [r.cpu_us for r in native]
        rss = [r.rss_kib for r in native]
        lines.append(f"| CPU (user+sys) per run < 5 ms natively | median {ms(statistics.median(cpu))} ms, "
                     f"max {ms(max(cpu))} ms | {met(statistics.median(cpu) < CPU_TARGET_US)} (median) |")
        lines.append(f"| peak RSS < 4 MiB natively | median {statistics.median(rss)} KiB, max {max(rss)} KiB "
                     f"| {met(max(rss) < RSS_TARGET_KIB)} |")
    if exe.get("path"):
        size = int(exe["size"])
        dlls = exe.get("dlls", "").split()
        foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
        lines.append(f"| Quorvel.exe < 512 KiB | {size:,} bytes ({size / KIB:.1f} KiB) "
                     f"| {met(size < EXE_TARGET_BYTES)} |")
        lines.append(f"| Quorvel.exe imports system DLLs only | {', '.join(dlls) or 'none'} "
                     f"| {met(not foreign)}{' (' + ', '.join(foreign) + ')' if foreign else ''} |")
    else:
        lines.append(f"| Quorvel.exe < 512 KiB, system DLLs only | {exe.get('note', 'not found')} | not measured |")
    return lines


def main():
    if len(sys.argv) != 2:
        print("usage: report.py RESULTS_DIR", file=sys.stderr)
        return 1
    results = Path(sys.argv[1])
    try:
        runs = read_runs(results / "runs.tsv")
    except (OSError, ValueError, IndexError) as error:
        print(f"report.py: cannot read {results / 'runs.tsv'}: {error}", file=sys.stderr)
        return 1
    params = read_pairs(results / "params.txt")
    machine = read_pairs(results / "machine.txt")
    exe = read_pairs(results / "exe.txt")
    try:
        accuracy = read_accuracy(results / "accuracy.tsv")
    except (ValueError, IndexError) as error:
        print(f"report.py: cannot read {results / 'accuracy.tsv'}: {error}", file=sys.stderr)
        return 1
    native = read_pairs(results / "native.txt")
    rtt_ms = int(params["rtt_us"]) / 1000

    out = ["## Run", ""]
    out += [f"- {key}: {value}" for key, value in params.items()]
    out += [f"- {key}: {value}" for key, value in machine.items()]
    out += ["", "## Targets", ""] + targets_section(runs, params, exe, accuracy)
    out += ["", "## Over loopback (nginx as www.baidu.com on 127.0.0.1:80)", ""]
    out += phase_table(runs, "loopback")
    out += ["", f"## Over the simulated link (round-trip time {rtt_ms:g} ms)", ""]
    out += phase_table(runs, "link")
    shift = params.get("clock_shift_s", "?")
    fractions = sorted({r.shift_us % 1000000 for r in accuracy})
    out += ["", f"## Accuracy of the written clock (nginx's clock {shift} s and a fraction ahead)", "",
            "Error: the time written minus the true time of the write, minus the shift; negative "
            "when late. Each round sets a fraction of its own ("
            + ", ".join(f"0.{f:06d}" for f in fractions) + " s), and each tool's runs start at "
            "evenly spread phases of the server's second.", ""]
    out += ["Over loopback:", ""] + accuracy_table(accuracy, "loopback")
    for proxy, address in PROXY_PHASES.items():
        if any(r.phase == proxy for r in accuracy):
            version = f" {machine[proxy]}" if machine.get(proxy) else ""
            out += ["", f"Over loopback through {proxy}{version} on {address} (http_proxy):", ""]
            out += accuracy_table(accuracy, proxy)
    out += ["", f"Over the simulated link (round-trip time {rtt_ms:g} ms):", ""]
    out += accuracy_table(accuracy, "link")
    out += ["", "## Instructions for one attempt (callgrind, over loopback)", ""]
    out += callgrind_section(results)
    out += ["", "## Binaries", ""]
    out += [f"- native quorvel: {native.get('path', '?')}, {int(native.get('size', 0)):,} bytes, "
            f"needs {native.get('needed', '?')}"]
    if exe.get("path"):
        out += [f"- Quorvel.exe: {exe['path']} ({exe.get('format', '?')}), {int(exe['size']):,} bytes, "
                f"imports {', '.join(exe.get('dlls', '').split())}"]
    else:
        out += [f"- Quorvel.exe: {exe.get('note', 'not found')}"]
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
