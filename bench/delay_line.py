#!/usr/bin/env python3
"""delay_line.py - a simulated network link with a fixed one-way delay.

Usage (inside a private user + network namespace only):
    delay_line.py --peer-pid PID --delay-us N --ready-file FILE [--max-seconds S]

The kernel here has no netem, so latency is added in user space, one layer
below TCP: two TUN devices carry raw IP packets between this network
namespace (device qvs, address 10.9.0.1) and the network namespace of process
PID (device qvc, left for that side to give address 10.9.0.2 and bring up).
Every packet read from one device is written to the other N microseconds
later, in order. The TCP handshake, the request, the response and the close
therefore all cross the delay, as they would cross a real link with a
round-trip time of 2 N. The devices go away with this process.

FILE is created once both devices exist and qvs is up. The process ends on
SIGTERM or SIGINT, or after S seconds (default 600). Exits 2 when the
devices cannot be made.
"""
import argparse
import collections
import fcntl
import os
import select
import signal
import struct
import subprocess
import sys
import time

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000
SERVER_DEVICE, CLIENT_DEVICE = "qvs", "qvc"
SERVER_ADDRESS, CLIENT_ADDRESS = "10.9.0.1", "10.9.0.2"


def open_tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR | os.O_NONBLOCK)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    return fd


def ip(*args):
    subprocess.run(["ip", *args], check=True)


def wait_for_own_netns(pid, timeout_s=5.0):
    """Waits until process pid has left this network namespace."""
    here = os.readlink("/proc/self/ns/net")
    deadline = time.monotonic() + timeout_s
    while os.readlink(f"/proc/{pid}/ns/net") == here:
        if time.monotonic() > deadline:
            raise OSError(f"process {pid} did not enter a network namespace of its own")
        time.sleep(0.01)


def make_link(peer_pid):
    """Returns (server fd, client fd) with qvs configured here and qvc moved."""
    wait_for_own_netns(peer_pid)
    server, client = open_tun(SERVER_DEVICE), open_tun(CLIENT_DEVICE)
    ip("addr", "add", SERVER_ADDRESS, "peer", CLIENT_ADDRESS, "dev", SERVER_DEVICE)
    ip("link", "set", SERVER_DEVICE, "up")
    ip("link", "set", CLIENT_DEVICE, "netns", str(peer_pid))
    return server, client


def relay(fds, delay_s, deadline):
    """Forwards packets between the two fds, each delay_s after it was read."""
    other = {fds[0]: fds[1], fds[1]: fds[0]}
    queue = collections.deque()  # (due time, destination fd, packet), due times ascending
    while time.monotonic() < deadline:
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, dest, packet = queue.popleft()
            try:
                os.write(dest, packet)
            except OSError:
                pass  # a device that is down drops the packet, as a link would
        wait = min(queue[0][0] - now if queue else 1.0, deadline - now)
        readable, _, _ = select.select(list(fds), [], [], max(wait, 0))
        arrival = time.monotonic()
        for fd in readable:
            while True:
                try:
                    packet = os.read(fd, 65536)
                except BlockingIOError:
                    break
                except OSError:
                    break
                queue.append((arrival + delay_s, other[fd], packet))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--peer-pid", type=int, required=True)
    parser.add_argument("--delay-us", type=int, required=True)
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--max-seconds", type=float, default=600)
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(0))
    try:
        fds = make_link(args.peer_pid)
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"delay_line.py: cannot make the link: {error}", file=sys.stderr)
        return 2
    with open(args.ready_file, "w") as ready:
        ready.write(f"{SERVER_ADDRESS} {CLIENT_ADDRESS}\n")
    relay(fds, args.delay_us / 1e6, time.monotonic() + args.max_seconds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
