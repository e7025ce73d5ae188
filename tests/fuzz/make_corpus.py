#!/usr/bin/env python3
"""Writes the seed corpus of the response fuzz target into corpus/ (next to
this script), in the target's input format: a flags byte, then records of a
length byte and that many bytes; 0x00 closes the connection, 0xFF makes the
receive fail, 0xFE refuses the next connection, 0xFD takes a 16-bit length.
"""
import os

DATE = "Thu, 13 Feb 2025 11:46:19 GMT"


def response(date_line="Date: " + DATE, extra="", body="<html>ok</html>\n", status="200 OK"):
    head = f"HTTP/1.1 {status}\r\nServer: BWS/1.1\r\nContent-Type: text/html\r\n"
    if date_line is not None:
        head += date_line + "\r\n"
    return (head + extra + "Connection: close\r\n\r\n" + body).encode("latin-1")


def chunk(data):
    if len(data) <= 0xFC:
        return bytes([len(data)]) + data
    return bytes([0xFD, len(data) >> 8, len(data) & 0xFF]) + data


def connection(*chunks, end=b"\x00"):
    return b"".join(chunk(c) for c in chunks) + end


def split(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)]


OK = response()
SEEDS = {
    "ok": connection(OK),
    "ok-in-pieces": connection(*split(OK, 7)),
    "dribble": connection(*split(OK, 1)),
    "headers-then-body": connection(response(body=""), b"x" * 1500, b"y" * 1500),
    "big": connection(response(body="z" * 30000)),
    "late-date": connection(response(extra="X-Padding: " + "p" * 2100 + "\r\n")),
    "late-date-split": connection(*split(response(extra="X-Padding: " + "p" * 2100 + "\r\n"), 1000)),
    "no-date": connection(response(None)),
    "date-in-body": connection(response(None, body="Date: " + DATE + "\r\n")),
    "decoy": connection(response(extra="", date_line="X-Last-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate: " + DATE)),
    "two-dates": connection(response(date_line="Date: Mon, 01 Jan 2024 00:00:00 GMT\r\nDate: " + DATE)),
    "lowercase-name": connection(response(date_line="date: " + DATE)),
    "long-date-line": connection(response(date_line="Date: " + DATE + " " + "w" * 5000)),
    "no-lf": connection(OK.replace(b"\n", b"")),
    "date-last-no-lf": connection(b"HTTP/1.1 200 OK\r\nDate: " + DATE.encode()),
    "binary": connection(response(extra="X-Bin: \x00\x01\x1b[2J\x7f\xff\r\n")),
    "nul-in-date": connection(response(date_line="Date: Thu, 13 Feb\x00 2025 11:46:19 GMT")),
    "day-32": connection(response(date_line="Date: Thu, 32 Feb 2025 11:46:19 GMT")),
    "hour-24": connection(response(date_line="Date: Thu, 13 Feb 2025 24:00:00 GMT")),
    "negative": connection(response(date_line="Date: Thu, -3 Feb 2025 11:46:19 GMT")),
    "year-huge": connection(response(date_line="Date: Thu, 13 Feb 67537 11:46:19 GMT")),
    "year-overflows-int": connection(response(date_line="Date: Thu, 13 Feb 4294969321 11:46:19 GMT")),
    "lowercase-month": connection(response(date_line="Date: Thu, 13 feb 2025 11:46:19 GMT")),
    "rfc850": connection(response(date_line="Date: Thursday, 13-Feb-25 11:46:19 GMT")),
    "asctime": connection(response(date_line="Date: Thu Feb 13 11:46:19 2025")),
    "few-fields": connection(response(date_line="Date: Thu, 13 Feb 2025")),
    "year-end": connection(response(date_line="Date: Tue, 31 Dec 2024 20:30:00 GMT")),
    "back-across-year": connection(response(date_line="Date: Wed, 01 Jan 2025 -20:00:00 GMT")),
    "age-across-year": connection(response(date_line="Date: Tue, 31 Dec 2024 23:59:59 GMT", extra="Age: 86399\r\n")),
    "age-malformed": connection(response(extra="Age: 1234567890\r\nAge: 5\r\n")),
    "leap-second": connection(response(date_line="Date: Tue, 31 Dec 2024 23:59:60 GMT")),
    "before-2024": connection(response(date_line="Date: Sun, 31 Dec 2023 23:59:59 GMT")),
    "digit-after-seconds": connection(response(date_line="Date: Thu, 13 Feb 2025 11:46:1900000000 GMT")),
    "no-comma": connection(response(date_line="Date: yesterday")),
    "comma-no-numbers": connection(response(date_line="Date: Thu, xx")),
    "short-lines": connection(b"HTTP/1.1 200 OK\r\nX\r\nDa\r\n\r\n"),
    "error-status": connection(response(status="503 Service Unavailable")),
    "non-http": connection(b"SSH-2.0-OpenSSH_9.2\r\n"),
    "close-at-once": connection(),
    "reset-midway": connection(OK[:40], end=b"\xff"),
    "retries": b"".join([connection(), connection(OK[:30], end=b"\xff"), b"\xfe",
                         connection(response(None)), connection(OK)]),
    "refused": b"\xfe\xfe\xfe\xfe\xfe",
}


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    for name, records in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"\x00" + records)


if __name__ == "__main__":
    main()
