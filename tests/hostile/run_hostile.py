#!/usr/bin/env python3
"""run_hostile.py - runs `quorvel auto` against one hostile stand-in server.

Usage:
  run_hostile.py --list                  the scenarios, one "NAME SECONDS" a line
  run_hostile.py [--valgrind] BINARY SCENARIO

The run happens inside tests/support/in_netns.sh (only loopback, www.baidu.com
is 127.0.0.1, the clock cannot be set): the stand-in plays the scenario's
script on port 80, the binary runs `auto` with no input, and its standard
output, standard error and exit status must be exactly what the scenario's
outcome implies (see scenarios.py). The stand-in's log must show one exact
request per attempt. With --valgrind the binary runs under valgrind memcheck,
which must report no error and no leak. A scenario with "recorder" runs the
binary with bench/clock_recorder.c preloaded, so the clock call succeeds
(changing nothing) and is logged.

The wall time of the run is printed, never checked (the figures of a
swallowing first address in docs/BENCHMARKS.md come from it).
SECONDS is how long a run may take before it counts as hung; the scenarios
that wait for receive deadlines get more, and a scenario may set its own
bound ("seconds"). The exit status is 0 when every check passes, 77 when the
scenario cannot run here (IPv6 disabled), else 1.
"""

import difflib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPORT = os.path.join(HERE, "..", "support")
sys.path.insert(0, SUPPORT)
sys.path.insert(0, HERE)

import standin_server  # noqa: E402
from scenarios import (SCENARIOS, BadFormat, BadMonth, NoConnection, NotFound,  # noqa: E402
                       Time, TooEarly)

ATTEMPTS = 5
ECHO_LIMIT = 2000
REQUEST = b"GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n"
# Five attempts that each wait for a 10 s receive time-out, with 3.5 s of
# pauses, and the slowdown of a sanitizer or valgrind build.
SLOW_SECONDS = 150
SECONDS = 60
SKIPPED = 77
RECORDER = os.path.join(HERE, "..", "..", "bench", "clock_recorder.c")
# Exit statuses of `quorvel auto`.
CLOCK_SET, NO_TIME, CLOCK_REFUSED = 0, 1, 2
VALGRIND_ERROR = 99


def seconds(scenario):
    return scenario.get("seconds", SLOW_SECONDS if scenario.get("slow") else SECONDS)


def find(name):
    for s in SCENARIOS:
        if s["name"] == name:
            return s
    raise SystemExit(f"run_hostile.py: no scenario {name!r}")


def printable(data):
    """Bytes as the (UTF-8) console shows network text: control characters,
    the two-byte C1 controls (C2 80 to C2 9F) included, as '.'."""
    data = re.sub(rb"\xc2[\x80-\x9f]", b".", data)
    return bytes(b"."[0] if (c < 0x20 and c not in (9, 10, 13)) or c == 0x7F else c for c in data)


def steps(scenario):
    if "standin" in scenario:
        return standin_server.SCENARIOS[scenario["standin"]]
    return scenario.get("script", [])


def sent_bytes(scenario):
    """Everything the script sends on one connection."""
    data = b""
    for name, step in standin_server.normalize(steps(scenario)):
        if name in ("send", "dribble"):
            data += standin_server.to_bytes(step[name])
    return data


ECHO = b"\0<echo>\0"  # stands for an echo cut short by the receive deadline


def expected(scenario, program):
    """The exact standard output and error of `quorvel auto`, the number of
    attempts and the exit status. With "cut", ECHO stands in the output for
    each attempt's echo: what arrived by the deadline."""
    outcome = scenario["outcome"]
    attempts = 1 if isinstance(outcome, Time) else ATTEMPTS
    out = b"\r\ncmd=auto\r\n"
    err = b""
    box = f"== {program} ==\nFailed to connect to server\n".encode()
    if "no-network" in scenario:
        out += (f"No network yet ({scenario['no-network']}): waiting up to 60 s for it to "
                "come up.\n").encode()
        err = box
    if isinstance(outcome, NoConnection):
        err = box * attempts
        return out, err, attempts, NO_TIME

    echo = ECHO if scenario.get("cut") else printable(sent_bytes(scenario)[:ECHO_LIMIT])
    attempt = b"Received (first 2000 characters):\n" + echo + b"\n" + b"-" * 61 + b"\n"
    status = NO_TIME
    if isinstance(outcome, NotFound):
        attempt += b"Date not found in the buffer!\n"
    else:
        attempt += b"Date line extracted: " + printable(outcome.line.encode("latin-1")) + b"\n"
        if isinstance(outcome, BadFormat):
            attempt += b"Invalid input format.\n"
        elif isinstance(outcome, BadMonth):
            attempt += b"Invalid month.\n"
        elif isinstance(outcome, TooEarly):
            attempt += b"Date earlier than 2024-01-01 00:00:00 GMT: not the true time.\n"
        else:
            names = ("Year", "Month", "Day", "Hour", "Minute", "Second")
            attempt += "".join(f"{n}: {v}\n" for n, v in zip(names, outcome.fields)).encode()
            attempt += f"\r\nAdjusted Time: {outcome.adjusted}\n".encode()
            if outcome.clock == 0:
                attempt += b"System time successfully updated.\n"
                status = CLOCK_SET
            else:
                err += f"Failed to set system time. Error: {outcome.clock}\n".encode()
                status = CLOCK_REFUSED
    return out + attempt * attempts, err, attempts, status


def match_cut(want, got, sent):
    """Where `want` has ECHO, `got` must show a proper prefix of the echo of
    `sent`: receiving ended at the deadline, before the server was done.
    Returns `got` with those echoes replaced by ECHO when they are such
    prefixes, else `got` unchanged (so the difference shows)."""
    full = printable(sent[:ECHO_LIMIT])
    pieces = [re.escape(p) for p in want.split(ECHO)]
    m = re.fullmatch(b"(.*?)".join(pieces), got, re.S)
    if not m or not all(len(e) < len(full) and full.startswith(e) for e in m.groups()):
        return got
    print("ok   echoes cut at the deadline, bytes: " + " ".join(str(len(e)) for e in m.groups()))
    return want


def start_standin(scenario, bind, log, limit, swallow=False):
    """The stand-in on `bind` port 80, playing the scenario, or swallowing
    every connection (`swallow`)."""
    args = [sys.executable, os.path.join(SUPPORT, "standin_server.py"), "--port", "80",
            "--bind", bind, "--max-seconds", str(limit + 30)]
    if swallow:
        args += ["--swallow"]
    elif "standin" in scenario:
        args += ["--log", log, "--scenario", scenario["standin"]]
    else:
        script = os.path.join(os.path.dirname(log), "script.json")
        with open(script, "w", encoding="utf-8") as f:
            json.dump(scenario["script"], f)
        args += ["--log", log, "--script", script]
    server = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    line = server.stdout.readline().decode(errors="replace").strip()
    if line != "PORT 80":
        server.kill()
        raise SystemExit(f"run_hostile.py: the stand-in did not start on {bind}: {line}")
    return server


def logged_requests(log, count):
    """The requests of the first `count` connections, once the stand-in has logged them."""
    deadline = time.monotonic() + (10 if count else 0.5)
    records = []
    while time.monotonic() < deadline:
        if os.path.exists(log):
            with open(log, encoding="utf-8") as f:
                records = [json.loads(line) for line in f if line.strip()]
        if count and len(records) >= count:
            break
        time.sleep(0.05)
    return [r["request"].encode("latin-1") for r in records]


def show_difference(what, want, got):
    if want == got:
        print(f"ok   {what}")
        return True
    print(f"FAIL {what} differs (- expected, + actual):")
    lines = difflib.unified_diff(
        [repr(x) for x in want.decode("latin-1").splitlines(keepends=True)],
        [repr(x) for x in got.decode("latin-1").splitlines(keepends=True)], lineterm="", n=2)
    for line in list(lines)[2:80]:
        print("    " + line)
    return False


def ipv6_missing():
    """True when this kernel cannot listen on ::1 (IPv6 disabled)."""
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return False
    except OSError:
        return True


def run_inside(binary, name, valgrind):
    scenario = find(name)
    limit = seconds(scenario)
    addresses = scenario.get("bind", []) + scenario.get("swallow", [])
    if any(":" in b for b in addresses) and ipv6_missing():
        print(f"scenario {name}: skipped, IPv6 is disabled here")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="hostile.")
    try:
        return run_in(work, binary, scenario, limit, valgrind)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_in(work, binary, scenario, limit, valgrind):
    name = scenario["name"]
    if "hosts" in scenario:
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w", encoding="ascii") as f:
            f.write("\n".join(scenario["hosts"]) + "\n")
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)

    swallow = scenario.get("swallow", [])
    if swallow:
        first = socket.getaddrinfo("www.baidu.com", 80, type=socket.SOCK_STREAM)[0][4][0]
        if first != swallow[0]:
            print(f"FAIL the resolver gives {first} first, not the swallowing {swallow[0]}")
            return 1
    late = None
    if "late" in scenario:
        address, after = scenario["late"]
        subprocess.run(["ip", "addr", "del", "127.0.0.1/8", "dev", "lo"], check=True)
        subprocess.run(["ip", "addr", "add", "127.0.0.1/32", "dev", "lo"], check=True)
        late = subprocess.Popen(["sh", "-c", f"sleep {after}; ip addr add {address}/32 dev lo"])
    log = os.path.join(work, "requests.log")
    servers = [start_standin(scenario, bind, log, limit)
               for bind in scenario.get("bind", ["127.0.0.1"])]
    servers += [start_standin(scenario, address, log, limit, swallow=True) for address in swallow]
    command = [binary, "auto"]
    env = dict(os.environ)
    clock_log = os.path.join(work, "clock.log")
    if scenario.get("recorder"):
        library = os.path.join(work, "clock_recorder.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", library, RECORDER], check=True)
        # A sanitized binary must not insist on being first in the link order.
        env.update(LD_PRELOAD=library, QUORVEL_CLOCK_LOG=clock_log,
                   ASAN_OPTIONS=env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    vlog = os.path.join(work, "valgrind.log")
    if valgrind:
        # A status of its own: 1 and 2 are the program's.
        command = ["valgrind", f"--error-exitcode={VALGRIND_ERROR}", "--leak-check=full",
                   f"--log-file={vlog}"] + command
    started = time.monotonic()
    try:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=limit, env=env)
        status, out, err = run.returncode, run.stdout, run.stderr
    except subprocess.TimeoutExpired as e:
        status, out, err = "did not end in %d s" % limit, e.stdout or b"", e.stderr or b""
    took = time.monotonic() - started

    want_out, want_err, attempts, want_status = expected(scenario, os.path.basename(binary))
    if scenario.get("cut"):
        out = match_cut(want_out, out, sent_bytes(scenario))
    connections = 0 if isinstance(scenario["outcome"], NoConnection) else attempts
    ok = True
    print(f"scenario {name}: {type(scenario['outcome']).__name__}, {attempts} attempt(s); "
          f"the run took {took:.2f} s")
    if status == want_status:
        print(f"ok   exit status {status}")
    else:
        print(f"FAIL exit status {status}, expected {want_status}")
        ok = False
    if scenario.get("recorder"):
        calls = open(clock_log, encoding="ascii").read().split() if os.path.exists(clock_log) else []
        if calls[:1] == ["clock_settime"] and len(calls) == 2:
            print("ok   one clock_settime call reached the recorder")
        else:
            print(f"FAIL clock calls recorded: {calls!r}")
            ok = False
    ok &= show_difference("standard output", want_out, out)
    ok &= show_difference("standard error", want_err, err)

    if servers and not scenario.get("slow"):
        requests = logged_requests(log, connections)
        if requests == [REQUEST] * connections:
            print(f"ok   {connections} exact request(s) received")
        else:
            print(f"FAIL requests received: {requests!r}")
            ok = False
    for server in servers:
        server.kill()
        server.wait()
    if late:
        late.kill()
        late.wait()
    if valgrind:
        with open(vlog, encoding="utf-8", errors="replace") as f:
            report = f.read()
        print("--- valgrind\n" + report.rstrip())
    return 0 if ok else 1


def main():
    args = sys.argv[1:]
    if args == ["--list"]:
        for s in SCENARIOS:
            print(s["name"], seconds(s))
        return 0
    valgrind = bool(args) and args[0] == "--valgrind"
    if valgrind:
        args = args[1:]
    if len(args) == 3 and args[0] == "--inside":
        return run_inside(args[1], args[2], valgrind)
    if len(args) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    binary, name = os.path.abspath(args[0]), args[1]
    find(name)
    in_netns = os.path.join(SUPPORT, "in_netns.sh")
    inner = [sys.executable, os.path.abspath(__file__)] + (["--valgrind"] if valgrind else [])
    return subprocess.run([in_netns] + inner + ["--inside", binary, name]).returncode


if __name__ == "__main__":
    sys.exit(main())
