#!/usr/bin/env python3
"""standin_server.py - a scripted stand-in for an HTTP server, for tests.

Listens on 127.0.0.1 (or --bind ADDR, such as ::1) and plays the same script
on every accepted connection, each connection in its own thread. Python 3
standard library only.

Usage:
  standin_server.py [--port N] [--bind ADDR] (--scenario NAME | --script FILE | --swallow)
                    [--max-seconds T] [--log FILE]

Once listening it prints "PORT <n>" as its first stdout line (useful with
--port 0, which picks a free port). It always stops by itself, after
--max-seconds (default 60) whatever happens. --log FILE appends one JSON
line per connection: time, scenario, peer, the request bytes received (as a
latin-1 string), error.

A script (--script FILE) is a JSON list of steps. A step is a string for the
steps without arguments or an object with one step name as key:
  {"send": "TEXT"}                send TEXT
  {"dribble": "TEXT", "delay-ms": D}  send TEXT one byte at a time, D ms apart
  {"sleep-ms": D}                 wait D ms
  {"send-live-date": [O0, O1, ...]}  send a 200 response whose Date is this
                                  machine's clock plus On ms, n the number of
                                  the connection modulo the list's length
                                  (with "random": true, an offset at random):
                                  servers behind one name whose clocks differ
  "read-request"                  read until CRLF CRLF (at most 64 KiB, 10 s)
  "close"                         FIN (shutdown), drain what the client sends, close
  "reset"                         SO_LINGER 0 then close: the client gets an RST
  "hang"                          never answer, until the server stops
TEXT is bytes written as a JSON string: code points 0-255 are the bytes
("\\r\\n", "\\u00ff").
A script that ends without close, reset or hang closes as "close" does.

--swallow plays no script: the address swallows connections, as a dead
server behind round-robin DNS or a firewall that drops does. The listen queue
has one place, which a connection of the server's own fills and which it never
accepts, so the kernel drops every further SYN: a client's connect neither
completes nor fails until it gives up. Before printing "PORT <n>" it checks
that a probe connect stays pending for 0.3 s; it exits with status 3 when the
kernel completes it (the address cannot swallow here).
"""

import argparse
import datetime
import email.utils
import errno
import json
import random
import select
import socket
import struct
import sys
import threading
import time

FIXED_DATE = "Thu, 13 Feb 2025 11:46:19 GMT"
READ_LIMIT = 65536
IO_TIMEOUT_S = 10.0


def response(date, extra_headers="", body="<html><body>stand-in</body></html>\n"):
    """A typical 200 response with the given Date value (None: no Date header)."""
    headers = ("HTTP/1.1 200 OK\r\n"
               "Server: BWS/1.1\r\n"
               "Content-Type: text/html\r\n"
               f"Content-Length: {len(body)}\r\n")
    if date is not None:
        headers += f"Date: {date}\r\n"
    return headers + extra_headers + "Connection: close\r\n\r\n" + body


def split_headers():
    """Headers (< 2000 bytes) in a first chunk, the body later in chunks (> 2000 in all)."""
    body = "".join(f"line {i:04d} of a body sent in later chunks\n" for i in range(80))
    head = response(FIXED_DATE, "Cache-Control: no-cache\r\n", body)[:-len(body)]
    steps = ["read-request", {"send": head}, {"sleep-ms": 300}]
    for i in range(0, len(body), 1000):
        steps += [{"send": body[i:i + 1000]}, {"sleep-ms": 100}]
    return steps + ["close"]


SCENARIOS = {
    "ok": ["read-request", {"send": response(FIXED_DATE)}, "close"],
    "split-headers": split_headers(),
    "big": ["read-request",
            {"send": response(FIXED_DATE, body="0123456789abcdef" * 18750)}, "close"],
    "close-at-once": ["read-request", "close"],
    "hang": ["read-request", "hang"],
    "reset-midway": ["read-request",
                     {"send": "HTTP/1.1 200 OK\r\nServer: BWS/1.1\r\nContent-Type: te"},
                     {"sleep-ms": 100}, "reset"],
    "no-date": ["read-request", {"send": response(None)}, "close"],
    "date-in-body": ["read-request",
                     {"send": response(None, body=f"Date: {FIXED_DATE}\r\n")}, "close"],
    "decoy-date": ["read-request",
                   {"send": response(FIXED_DATE).replace(
                       "Date:", "X-Last-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate:")},
                   "close"],
    "dribble": ["read-request", {"dribble": response(FIXED_DATE), "delay-ms": 5}, "close"],
    "late-date": ["read-request",
                  {"send": response(FIXED_DATE).replace(
                      "Date:", "X-Padding: " + "p" * 2100 + "\r\nDate:")}, "close"],
    "lowercase-date": ["read-request",
                       {"send": response(FIXED_DATE).replace("Date:", "date:")}, "close"],
    # A date that reads but that no clock can take: 32 January.
    "out-of-range-day": ["read-request",
                         {"send": response("Thu, 32 Jan 2025 11:46:19 GMT")}, "close"],
    # The clock of a portal left at its factory date.
    "date-1970": ["read-request", {"send": response("Thu, 01 Jan 1970 00:00:00 GMT")}, "close"],
    # A server that takes 8 s to answer, as one behind a slow link may.
    # Two clocks 300 ms apart taking turns, and a Date stamped 330 ms late on
    # every other reply: each reply alone is a good time.
    "two-clocks-300ms": ["read-request", {"send-live-date": [0, 300]}, "close"],
    "two-clocks-300ms-at-random": ["read-request", {"send-live-date": [0, 300], "random": True},
                                   "close"],
    "date-lags-every-other": ["read-request", {"send-live-date": [0, -330]}, "close"],
    # One clock each, for a name with two addresses whose servers differ.
    "live-date": ["read-request", {"send-live-date": [0]}, "close"],
    "live-date-300ms-ahead": ["read-request", {"send-live-date": [300]}, "close"],
    "answer-after-8s": ["read-request", {"sleep-ms": 8000}, {"send": response(FIXED_DATE)}, "close"],
    # The headers at once, then a body that never ends: a byte a second for
    # an hour.
    "body-dribble-for-ever": ["read-request", {"send": response(FIXED_DATE, body="")},
                              {"dribble": "x" * 3600, "delay-ms": 1000}],
}

STEP_NAMES = {"send", "send-live-date", "dribble", "sleep-ms", "read-request", "close", "reset", "hang"}


def normalize(steps):
    """Checks a script; returns it as a list of (name, dict) pairs."""
    if not isinstance(steps, list):
        raise ValueError("a script is a JSON list of steps")
    out = []
    for step in steps:
        if isinstance(step, str):
            step = {step: True}
        names = [k for k in step if k in STEP_NAMES] if isinstance(step, dict) else []
        if len(names) != 1:
            raise ValueError(f"bad step {step!r}: needs exactly one of {sorted(STEP_NAMES)}")
        out.append((names[0], step))
    return out


def to_bytes(text):
    """TEXT as the bytes it stands for."""
    return text.encode("latin-1")


class Server:
    def __init__(self, args, steps):
        self.args = args
        self.steps = steps
        self.deadline = time.monotonic() + args.max_seconds
        self.stop = threading.Event()
        self.log_lock = threading.Lock()
        self.accepted = 0

    def remaining(self):
        return max(0.0, self.deadline - time.monotonic())

    def listen(self, backlog):
        family = socket.AF_INET6 if ":" in self.args.bind else socket.AF_INET
        lsock = socket.socket(family, socket.SOCK_STREAM)
        lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        lsock.bind((self.args.bind, self.args.port))
        lsock.listen(backlog)
        return lsock

    def run(self):
        lsock = self.listen(16)
        lsock.settimeout(0.1)
        print(f"PORT {lsock.getsockname()[1]}", flush=True)
        threads = []
        while self.remaining() > 0:
            try:
                conn, peer = lsock.accept()
            except socket.timeout:
                continue
            self.accepted += 1
            t = threading.Thread(target=self.serve, args=(conn, peer, self.accepted - 1),
                                 daemon=True)
            t.start()
            threads.append(t)
        lsock.close()
        for t in threads:
            t.join(self.remaining())
        self.stop.set()

    def swallow(self):
        """Listens without ever accepting, the queue filled (see --swallow)."""
        lsock = self.listen(0)
        address = lsock.getsockname()[:2]
        filler = socket.create_connection(address, timeout=5)
        probe = socket.socket(lsock.family, socket.SOCK_STREAM)
        probe.setblocking(False)
        result = probe.connect_ex(address)
        if result == errno.EINPROGRESS:
            _, writable, _ = select.select([], [probe], [], 0.3)
            result = probe.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) if writable else None
        probe.close()
        if result is not None:
            print(f"NOT SWALLOWING: a probe connect ended with {result}", flush=True)
            return 3
        print(f"PORT {address[1]}", flush=True)
        self.stop.wait(self.remaining())
        filler.close()
        lsock.close()
        return 0

    def serve(self, conn, peer, number):
        record = {"time": datetime.datetime.now(datetime.timezone.utc).isoformat(),
                  "scenario": self.args.scenario or self.args.script,
                  "peer": f"{peer[0]}:{peer[1]}", "request": b"", "error": None}
        conn.settimeout(IO_TIMEOUT_S)
        try:
            self.play(conn, record, number)
        except OSError as e:
            record["error"] = f"{type(e).__name__}: {e}"
        finally:
            conn.close()
            self.log(record)

    def play(self, conn, record, number):
        for name, step in self.steps:
            if name == "send":
                conn.sendall(to_bytes(step["send"]))
            elif name == "send-live-date":
                offsets = step["send-live-date"]
                offset = random.choice(offsets) if step.get("random") else offsets[number % len(offsets)]
                date = email.utils.formatdate(time.time() + offset / 1000, usegmt=True)
                conn.sendall(to_bytes(response(date)))
            elif name == "dribble":
                for b in to_bytes(step["dribble"]):
                    conn.sendall(bytes([b]))
                    self.stop.wait(step.get("delay-ms", 20) / 1000)
            elif name == "sleep-ms":
                self.stop.wait(step["sleep-ms"] / 1000)
            elif name == "read-request":
                record["request"] += self.read_until(conn, b"\r\n\r\n")
            elif name == "hang":
                self.stop.wait(self.remaining())
                return
            elif name == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            elif name == "close":
                break
        # Closing with unread input would send an RST: send the FIN first,
        # then read until the client closes too (bounded).
        conn.shutdown(socket.SHUT_WR)
        record["request"] += self.read_until(conn, None, min(2.0, self.remaining()))

    def read_until(self, conn, end, timeout=IO_TIMEOUT_S):
        """Bytes read until `end` is seen, EOF, READ_LIMIT or timeout seconds."""
        data = b""
        limit = time.monotonic() + min(timeout, self.remaining())
        while len(data) < READ_LIMIT and not (end and end in data):
            conn.settimeout(max(0.01, limit - time.monotonic()))
            try:
                chunk = conn.recv(READ_LIMIT - len(data))
            except socket.timeout:
                break
            if not chunk:
                break
            data += chunk
        conn.settimeout(IO_TIMEOUT_S)
        return data

    def log(self, record):
        if not self.args.log:
            return
        record["request"] = record["request"].decode("latin-1")
        with self.log_lock, open(self.args.log, "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")


def main():
    p = argparse.ArgumentParser(description="Scripted stand-in HTTP server for tests.")
    src = p.add_mutually_exclusive_group()
    src.add_argument("--scenario", choices=sorted(SCENARIOS))
    src.add_argument("--script", metavar="FILE", help="JSON list of steps")
    src.add_argument("--swallow", action="store_true",
                     help="take no connection: every connect stays pending")
    p.add_argument("--port", type=int, default=80, help="0 picks a free port")
    p.add_argument("--bind", default="127.0.0.1", help="address to listen on (IPv4 or IPv6)")
    p.add_argument("--max-seconds", type=float, default=60.0, help="exit after T seconds")
    p.add_argument("--log", metavar="FILE", help="append one JSON line per connection")
    args = p.parse_args()

    if not (args.scenario or args.script or args.swallow):
        p.error("one of --scenario, --script or --swallow is required")
    if args.max_seconds <= 0:
        p.error("--max-seconds must be positive")
    if args.swallow:
        return Server(args, []).swallow()
    try:
        if args.script:
            with open(args.script, encoding="utf-8") as f:
                steps = normalize(json.load(f))
        else:
            steps = normalize(SCENARIOS[args.scenario])
    except (OSError, ValueError) as e:
        p.error(str(e))

    Server(args, steps).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
