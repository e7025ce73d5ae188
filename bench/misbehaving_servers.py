#!/usr/bin/env python3
"""misbehaving_servers.py - tallies what `quorvel auto precise` says against
servers whose replies do not come from one steady clock.

Usage (the clock writes are caught, never made; loopback only):
    tests/support/in_netns.sh python3 bench/misbehaving_servers.py BINARY [RUNS]

Each server is the stand-in of the end-to-end tests (tests/support/
standin_server.py): two clocks 300 ms apart behind one address, taking turns
or at random; a Date 330 ms late on every other reply; and a name with two
addresses whose clocks are 300 ms apart. Each run's clock write goes to
bench/clock_recorder.c, which logs its error against this machine's clock
(the true time here). A printed range holds when the error is within half
its width and a tick. Prints one table row per server.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
STANDIN = os.path.join(HERE, "..", "tests", "support", "standin_server.py")
SERVERS = [
    ("two clocks 300 ms apart, taking turns", {"127.0.0.1": "two-clocks-300ms"}),
    ("two clocks 300 ms apart, at random", {"127.0.0.1": "two-clocks-300ms-at-random"}),
    ("`Date` 330 ms late on every other reply", {"127.0.0.1": "date-lags-every-other"}),
    ("two addresses, their clocks 300 ms apart",
     {"127.0.0.1": "live-date", "127.0.0.2": "live-date-300ms-ahead"}),
]


def run_once(binary, servers, work, recorder):
    with open(os.path.join(work, "hosts"), "w", encoding="ascii") as f:
        f.write("".join(f"{a} www.baidu.com\n" for a in servers))
    subprocess.run(["mount", "--bind", os.path.join(work, "hosts"), "/etc/hosts"], check=True)
    started = [subprocess.Popen([sys.executable, STANDIN, "--port", "80", "--bind", a,
                                 "--scenario", s, "--max-seconds", "30"],
                                stdout=subprocess.PIPE, text=True) for a, s in servers.items()]
    for server in started:
        server.stdout.readline()
    log = os.path.join(work, "clock.log")
    if os.path.exists(log):
        os.remove(log)
    began = time.monotonic()
    out = subprocess.run([binary, "auto", "precise"], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True,
                         env=dict(os.environ, LD_PRELOAD=recorder, QUORVEL_CLOCK_LOG=log)).stdout
    took = time.monotonic() - began
    for server in started:
        server.kill()
        server.wait()
    subprocess.run(["umount", "/etc/hosts"], check=True)
    with open(log, encoding="ascii") as f:
        error_us = int(f.read().split()[1])
    return out.splitlines()[-1], error_us, took


def main():
    binary, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 10
    work = tempfile.mkdtemp(prefix="misbehaving.")
    recorder = os.path.join(work, "clock_recorder.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", recorder,
                    os.path.join(HERE, "clock_recorder.c")], check=True)
    print("| server | printed a range that held | printed a range that did not hold | "
          "kept the one-request time, saying why | longest run |")
    print("|---|---|---|---|---|")
    for name, servers in SERVERS:
        held, false, fell_back, longest = [], [], 0, 0.0
        for _ in range(runs):
            last, error_us, took = run_once(binary, servers, work, recorder)
            longest = max(longest, took)
            m = re.match(r"Precise time: range (\d+\.\d) ms wide", last)
            if not m:
                fell_back += 1
            elif abs(error_us) <= float(m.group(1)) * 500 + 1000:
                held.append(m.group(1))
            else:
                false.append(f"{m.group(1)} ms wide, off by {error_us / 1000:.1f} ms")
        print(f"| {name} | {len(held)} | {len(false)}{' (' + '; '.join(false) + ')' if false else ''}"
              f" | {fell_back} | {longest:.2f} s |")
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
