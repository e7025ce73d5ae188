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
which must report no error and no leak.

SECONDS is how long a run may take before it counts as hung; the scenarios
that wait for receive time-outs get more. The exit status is 0 when every
check passes, 77 when the scenario cannot run here (IPv6 disabled), else 1.
"""

import difflib
import json
import os
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
                       Time)

ATTEMPTS = 5
ECHO_LIMIT = 2000
REQUEST = b"GET / HTTP/1.1\r\nHost: www.baidu.com\r\nConnection: close\r\n\r\n"
# Five attempts that each wait for a 10 s receive time-out, with 3.5 s of
# pauses, and the slowdown of a sanitizer or valgrind build.
SLOW_SECONDS = 150
SECONDS = 60
SKIPPED = 77


def seconds(scenario):
    return SLOW_SECONDS if scenario.get("slow") else SECONDS


def find(name):
    for s in SCENARIOS:
        if s["name"] == name:
            return s
    raise SystemExit(f"run_hostile.py: no scenario {name!r}")


def printable(data):
    """Bytes as the console shows network text: control characters as '.'."""
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
            data += standin_server.expand(step[name], None) * int(step.get("repeat", 1))
    return data


def expected(scenario, program):
    """The exact standard output and error of `quorvel auto`, and the number of attempts."""
    outcome = scenario["outcome"]
    attempts = 1 if isinstance(outcome, Time) else ATTEMPTS
    out = b"\r\ncmd=auto\r\n"
    err = b""
    if isinstance(outcome, NoConnection):
        err = f"== {program} ==\nFailed to connect to server\n".encode() * attempts
        return out, err, attempts

    attempt = (b"Received (first 2000 characters):\n" + printable(sent_bytes(scenario)[:ECHO_LIMIT])
               + b"\n" + b"-" * 61 + b"\n")
    if isinstance(outcome, NotFound):
        attempt += b"Date not found in the buffer!\n"
    else:
        attempt += b"Date line extracted: " + printable(outcome.line.encode("latin-1")) + b"\n"
        if isinstance(outcome, BadFormat):
            attempt += b"Invalid input format.\n"
        elif isinstance(outcome, BadMonth):
            attempt += b"Invalid month.\n"
        else:
            names = ("Year", "Month", "Day", "Hour", "Minute", "Second")
            attempt += "".join(f"{n}: {v}\n" for n, v in zip(names, outcome.fields)).encode()
            attempt += f"\r\nAdjusted Time: {outcome.adjusted}\n".encode()
            err = f"Failed to set system time. Error: {outcome.clock}\n".encode()
    return out + attempt * attempts, err, attempts


def start_standin(scenario, bind, log, limit):
    args = [sys.executable, os.path.join(SUPPORT, "standin_server.py"), "--port", "80",
            "--bind", bind, "--log", log, "--max-seconds", str(limit + 30)]
    if "standin" in scenario:
        args += ["--scenario", scenario["standin"]]
    else:
        script = os.path.join(os.path.dirname(log), "script.json")
        with open(script, "w", encoding="utf-8") as f:
            json.dump(scenario["script"], f)
        args += ["--script", script]
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
    if any(":" in b for b in scenario.get("bind", [])) and ipv6_missing():
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

    log = os.path.join(work, "requests.log")
    servers = [start_standin(scenario, bind, log, limit)
               for bind in scenario.get("bind", ["127.0.0.1"])]
    command = [binary, "auto"]
    vlog = os.path.join(work, "valgrind.log")
    if valgrind:
        command = ["valgrind", "--error-exitcode=1", "--leak-check=full",
                   f"--log-file={vlog}"] + command
    try:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=limit)
        status, out, err = run.returncode, run.stdout, run.stderr
    except subprocess.TimeoutExpired as e:
        status, out, err = "did not end in %d s" % limit, e.stdout or b"", e.stderr or b""

    want_out, want_err, attempts = expected(scenario, os.path.basename(binary))
    connections = 0 if isinstance(scenario["outcome"], NoConnection) else attempts
    ok = True
    print(f"scenario {name}: {type(scenario['outcome']).__name__}, {attempts} attempt(s)")
    if status == 0:
        print("ok   exit status 0")
    else:
        print(f"FAIL exit status {status}")
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
