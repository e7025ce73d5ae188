"""The hostile-server scenarios: what the stand-in for www.baidu.com does, and
what `quorvel auto` must do about it.

Each scenario names a built-in scenario of tests/support/standin_server.py
("standin") or gives a script of its own ("script", the stand-in's step
list), and the outcome of every attempt ("outcome"):

  Time(line, fields, adjusted, clock)   the attempt reads the time from the
        Date line `line` (as received, CR included); `fields` are year, month,
        day, hour, minute, second as printed; `adjusted` the UTC+8 text. The
        one-click sequence then writes the clock; `clock` is the error code of
        the refusal: 1 (EPERM: the write reached the real clock call, which
        the namespace refuses), 87 (the record is invalid and the clock call
        was never reached) or another errno of clock_settime; 0 when the
        clock call succeeded (under "recorder"). Exit status 2, or 0 when set.
  NotFound()           "Date not found in the buffer!", five times.
  BadFormat(line)      "Invalid input format.", five times.
  BadMonth(line)       "Invalid month.", five times.
  TooEarly(line)       the Date is earlier than 2024-01-01 00:00:00 GMT, five
        times: no true time, never written.
  NoConnection()       message box "Failed to connect to server", five times.
Every outcome but Time exits with status 1.

The echo of each attempt is computed from the bytes the script sends (the
first 2000, control characters shown as '.'), so it is checked exactly too.
Optional keys: "hosts" (the lines of /etc/hosts in the namespace, replacing
www.baidu.com -> 127.0.0.1), "bind" (addresses the stand-in listens on; none
for no server at all), "slow" (the run waits for receive deadlines),
"seconds" (the bound on the whole run, when it is the point of the
scenario), "cut" (the server is still sending at the receive deadline: each
echo is a proper prefix of what the script sends), "recorder" (the clock
call succeeds, under bench/clock_recorder.c), "swallow" (addresses whose
port 80 swallows connections: standin_server.py --swallow; the first of them
must be the first address the resolver gives), "late" ((address, seconds):
loopback starts with 127.0.0.1/32 alone, so the server's address has no
route, until the address is added to it that many seconds after the start;
the stand-in listens on 0.0.0.0), "no-network" (why the first attempt finds
no network: the run then prints that it waits for it, after the first
failure's message box).
"""

from collections import namedtuple

Time = namedtuple("Time", "line fields adjusted clock")
NotFound = namedtuple("NotFound", "")
BadFormat = namedtuple("BadFormat", "line")
BadMonth = namedtuple("BadMonth", "line")
TooEarly = namedtuple("TooEarly", "line")
NoConnection = namedtuple("NoConnection", "")

DATE = "Thu, 13 Feb 2025 11:46:19 GMT"
DATE_LINE = "Date: " + DATE + "\r"
FIELDS = (2025, 2, 13, 11, 46, 19)
ADJUSTED = "2025-02-13 19:46:19"
EPERM = 1
INVALID = 87


def response(date_line="Date: " + DATE, extra="", body="<html><body>stand-in</body></html>\n",
             status="200 OK"):
    """A response of the stand-in's usual form; date_line None leaves it out."""
    head = f"HTTP/1.1 {status}\r\nServer: BWS/1.1\r\nContent-Type: text/html\r\n"
    head += f"Content-Length: {len(body)}\r\n"
    if date_line is not None:
        head += date_line + "\r\n"
    return head + extra + "Connection: close\r\n\r\n" + body


def answer(*texts):
    """A script that reads the request, sends the texts and closes."""
    return ["read-request"] + [{"send": t} for t in texts] + ["close"]


def dated(value):
    """A script whose response carries "Date: <value>"."""
    return answer(response("Date: " + value))


def time_ok(fields=FIELDS, adjusted=ADJUSTED, line=DATE_LINE, clock=EPERM):
    return Time(line, fields, adjusted, clock)


def refused(value, fields, adjusted):
    """A Date line that reads but whose fields no clock record holds."""
    return Time("Date: " + value + "\r", fields, adjusted, INVALID)


def too_early(value):
    return TooEarly("Date: " + value + "\r")


PADDED = response().replace("Date:", "X-Padding: " + "p" * 2100 + "\r\nDate:")
LONG_TAIL = " " + "w" * 5000
FAR_COMMA = "Date: " + "x" * 900 + ", 13 Feb 2025 11:46:19 GMT"

SCENARIOS = [
    # Well-formed answers, however they arrive.
    {"name": "baseline", "standin": "ok", "outcome": time_ok()},
    {"name": "clock-set", "standin": "ok", "recorder": True, "outcome": time_ok(clock=0)},
    {"name": "headers-a-byte-at-a-time", "standin": "dribble", "outcome": time_ok()},
    {"name": "headers-then-body-in-chunks", "standin": "split-headers", "outcome": time_ok()},
    {"name": "response-far-larger-than-buffer", "standin": "big", "outcome": time_ok()},
    {"name": "headers-over-2000-bytes-before-date", "standin": "late-date", "outcome": time_ok()},
    {"name": "error-status-with-date",
     "script": answer(response(status="503 Service Unavailable")), "outcome": time_ok()},
    {"name": "date-last-without-lf", "script": answer("HTTP/1.1 200 OK\r\nDate: " + DATE),
     "outcome": time_ok(line="Date: " + DATE)},
    {"name": "bare-lf-line-ends", "script": answer(response().replace("\r\n", "\n")),
     "outcome": time_ok(line="Date: " + DATE)},
    {"name": "stall-after-headers", "script": ["read-request", {"send": response()}, "hang"],
     "slow": True, "outcome": time_ok()},
    # A byte a second never trips a time-out per receive; the deadline ends
    # each attempt 10 s after the request, five times within the README's
    # bound of about 100 s.
    {"name": "headers-a-byte-a-second",
     "script": ["read-request", {"dribble": response(), "delay-ms": 1000}, "close"],
     "slow": True, "cut": True, "seconds": 100, "outcome": NotFound()},
    # The headers at once, then the body a byte a second for ever: the Date
    # that came in time is used once the deadline ends the one attempt.
    {"name": "body-a-byte-a-second-for-ever", "standin": "body-dribble-for-ever",
     "slow": True, "cut": True, "seconds": 30, "outcome": time_ok()},
    {"name": "ipv6-only", "hosts": ["::1 www.baidu.com"], "bind": ["::1"], "standin": "ok",
     "outcome": time_ok()},
    {"name": "ipv6-refused-ipv4-answers", "hosts": ["::1 www.baidu.com", "127.0.0.1 www.baidu.com"],
     "standin": "ok", "outcome": time_ok()},
    # A dead server behind round-robin DNS: the first address takes the SYN
    # and never answers. The next address, tried 250 ms later, serves the
    # first attempt (in turn, each attempt would have used its whole 10 s).
    {"name": "first-address-swallows", "hosts": ["127.0.0.1 www.baidu.com", "127.0.0.2 www.baidu.com"],
     "swallow": ["127.0.0.1"], "bind": ["127.0.0.2"], "standin": "ok", "seconds": 30,
     "outcome": time_ok()},
    {"name": "ipv6-address-swallows-ipv4-answers", "hosts": ["::1 www.baidu.com", "127.0.0.1 www.baidu.com"],
     "swallow": ["::1"], "standin": "ok", "seconds": 30, "outcome": time_ok()},

    # Which line is the Date header.
    {"name": "decoy-header-ending-in-date", "standin": "decoy-date", "outcome": time_ok()},
    {"name": "two-date-headers",
     "script": answer(response("Date: Mon, 01 Jan 2024 00:00:00 GMT\r\nDate: " + DATE)),
     "outcome": time_ok((2024, 1, 1, 0, 0, 0), "2024-01-01 08:00:00",
                        "Date: Mon, 01 Jan 2024 00:00:00 GMT\r")},
    {"name": "lowercase-field-name", "standin": "lowercase-date",
     "outcome": time_ok(line="date: " + DATE + "\r")},
    {"name": "date-line-of-several-kb", "script": answer(response("Date: " + DATE + LONG_TAIL)),
     "outcome": time_ok(line="Date: " + DATE + LONG_TAIL + "\r")},
    {"name": "binary-bytes-in-headers",
     "script": answer(response(extra="X-Bin: \x00\x01\x07\x1b[2J\x1b]0;pwned\x07\x7f\xfe\xff"
                                     "\xc2\x9b2J\xc2\xa0\r\n")),
     "outcome": time_ok()},
    {"name": "no-date", "standin": "no-date", "outcome": NotFound()},
    {"name": "date-only-in-body", "standin": "date-in-body", "outcome": NotFound()},
    {"name": "date-as-first-line", "script": answer("Date: " + DATE + "\r\n\r\n"),
     "outcome": NotFound()},
    {"name": "no-lf-at-all", "script": answer(response().replace("\n", "")), "outcome": NotFound()},
    # The Date line comes half a second after the first 2000 bytes: receiving
    # has stopped by then.
    {"name": "date-after-2000-bytes-in-pieces",
     "script": ["read-request", {"send": PADDED[:2000]}, {"sleep-ms": 500},
                {"send": PADDED[2000:]}, "close"],
     "outcome": NotFound()},

    # Connections that break.
    {"name": "reset-half-way", "standin": "reset-midway", "outcome": NotFound()},
    {"name": "close-at-once", "standin": "close-at-once", "outcome": NotFound()},
    {"name": "non-http-answer", "script": answer("SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3\r\n"),
     "outcome": NotFound()},
    # No name is no network yet: the run waits for one, 60 s in all, and
    # still ends by itself.
    {"name": "name-resolves-to-nothing", "hosts": ["127.0.0.1 localhost"], "standin": "ok",
     "no-network": "www.baidu.com does not resolve", "seconds": 100, "outcome": NoConnection()},
    # The network comes up 20 s after the start, as Wi-Fi does after logon:
    # the wait ends when the address appears, and the next attempt reads.
    {"name": "network-comes-up-after-20s", "hosts": ["127.0.0.1 localhost", "127.0.0.2 www.baidu.com"],
     "late": ("127.0.0.2", 20), "bind": ["0.0.0.0"], "standin": "ok",
     "no-network": "no route to www.baidu.com", "outcome": time_ok()},
    {"name": "connection-refused", "bind": [], "outcome": NoConnection()},

    # Date lines that do not read.
    {"name": "lowercase-month", "script": dated("Thu, 13 feb 2025 11:46:19 GMT"),
     "outcome": BadMonth("Date: Thu, 13 feb 2025 11:46:19 GMT\r")},
    {"name": "rfc850-form", "script": dated("Thursday, 13-Feb-25 11:46:19 GMT"),
     "outcome": BadMonth("Date: Thursday, 13-Feb-25 11:46:19 GMT\r")},
    {"name": "asctime-form", "script": dated("Thu Feb 13 11:46:19 2025"),
     "outcome": BadFormat("Date: Thu Feb 13 11:46:19 2025\r")},
    {"name": "fields-missing", "script": dated("Thu, 13 Feb 2025"),
     "outcome": BadFormat("Date: Thu, 13 Feb 2025\r")},
    {"name": "nul-inside-date-line", "script": dated("Thu, 13 Feb\x00 2025 11:46:19 GMT"),
     "outcome": BadFormat("Date: Thu, 13 Feb\x00 2025 11:46:19 GMT\r")},
    {"name": "comma-beyond-the-work-area", "script": answer(response(FAR_COMMA)),
     "outcome": BadFormat(FAR_COMMA + "\r")},

    # Fields out of range: read and shown, refused by the clock call.
    {"name": "day-0", "script": dated("Thu, 00 Feb 2025 11:46:19 GMT"),
     "outcome": refused("Thu, 00 Feb 2025 11:46:19 GMT", (2025, 2, 0, 11, 46, 19),
                        "2025-02-00 19:46:19")},
    {"name": "day-32", "standin": "out-of-range-day",
     "outcome": refused("Thu, 32 Jan 2025 11:46:19 GMT", (2025, 1, 32, 11, 46, 19),
                        "2025-01-32 19:46:19")},
    {"name": "february-31", "script": dated("Mon, 31 Feb 2025 11:46:19 GMT"),
     "outcome": refused("Mon, 31 Feb 2025 11:46:19 GMT", (2025, 2, 31, 11, 46, 19),
                        "2025-02-31 19:46:19")},
    {"name": "february-29-of-2100", "script": dated("Mon, 29 Feb 2100 11:46:19 GMT"),
     "outcome": refused("Mon, 29 Feb 2100 11:46:19 GMT", (2100, 2, 29, 11, 46, 19),
                        "2100-02-29 19:46:19")},
    {"name": "hour-24", "script": dated("Thu, 13 Feb 2025 24:00:00 GMT"),
     "outcome": refused("Thu, 13 Feb 2025 24:00:00 GMT", (2025, 2, 13, 24, 0, 0),
                        "2025-02-14 08:00:00")},
    {"name": "minute-60", "script": dated("Thu, 13 Feb 2025 11:60:00 GMT"),
     "outcome": refused("Thu, 13 Feb 2025 11:60:00 GMT", (2025, 2, 13, 11, 60, 0),
                        "2025-02-13 20:00:00")},
    {"name": "second-61", "script": dated("Thu, 13 Feb 2025 11:46:61 GMT"),
     "outcome": refused("Thu, 13 Feb 2025 11:46:61 GMT", (2025, 2, 13, 11, 46, 61),
                        "2025-02-13 19:47:01")},
    {"name": "negative-day", "script": dated("Thu, -3 Feb 2025 11:46:19 GMT"),
     "outcome": refused("Thu, -3 Feb 2025 11:46:19 GMT", (2025, 2, -3, 11, 46, 19),
                        "2025-02--3 19:46:19")},
    {"name": "negative-hour", "script": dated("Thu, 13 Feb 2025 -5:00:00 GMT"),
     "outcome": refused("Thu, 13 Feb 2025 -5:00:00 GMT", (2025, 2, 13, -5, 0, 0),
                        "2025-02-13 03:00:00")},
    # Earlier than any true time: never written. Later ones are.
    {"name": "year-1600", "script": dated("Sun, 13 Feb 1600 11:46:19 GMT"),
     "outcome": too_early("Sun, 13 Feb 1600 11:46:19 GMT")},
    {"name": "year-1970", "standin": "date-1970",
     "outcome": too_early("Thu, 01 Jan 1970 00:00:00 GMT")},
    {"name": "year-2001", "script": dated("Mon, 01 Jan 2001 00:00:00 GMT"),
     "outcome": too_early("Mon, 01 Jan 2001 00:00:00 GMT")},
    {"name": "year-2099", "script": dated("Thu, 31 Dec 2099 23:59:59 GMT"),
     "outcome": time_ok((2099, 12, 31, 23, 59, 59), "2100-01-01 07:59:59",
                        "Date: Thu, 31 Dec 2099 23:59:59 GMT\r")},
    {"name": "year-30828", "script": dated("Thu, 13 Feb 30828 11:46:19 GMT"),
     "outcome": refused("Thu, 13 Feb 30828 11:46:19 GMT", (30828, 2, 13, 11, 46, 19),
                        "30828-02-13 19:46:19")},
    {"name": "year-beyond-16-bits", "script": dated("Thu, 13 Feb 67537 11:46:19 GMT"),
     "outcome": refused("Thu, 13 Feb 67537 11:46:19 GMT", (67537, 2, 13, 11, 46, 19),
                        "67537-02-13 19:46:19")},
    # In range: these reach the clock call.
    {"name": "february-29-of-2024", "script": dated("Thu, 29 Feb 2024 11:46:19 GMT"),
     "outcome": time_ok((2024, 2, 29, 11, 46, 19), "2024-02-29 19:46:19",
                        "Date: Thu, 29 Feb 2024 11:46:19 GMT\r")},
    # The record holds year 30827; Linux's clock cannot (EINVAL). A minute
    # before the record's end, so the time added up to the write stays in it.
    {"name": "year-30827", "script": dated("Fri, 31 Dec 30827 23:59:00 GMT"),
     "outcome": time_ok((30827, 12, 31, 23, 59, 0), "30828-01-01 07:59:00",
                        "Date: Fri, 31 Dec 30827 23:59:00 GMT\r", clock=22)},
]
