#!/usr/bin/env python3
"""make_windows_zip.py - the Windows ZIP of a release, the same bytes from the
same inputs.

Usage: SOURCE_DATE_EPOCH=SECONDS make_windows_zip.py OUT.zip EXE LICENSE GUIDE

Members, sorted by name: LICENSE (the licence, with CR LF line ends),
Quorvel.exe (EXE as it is) and 使用说明.txt (GUIDE, a UTF-8 text with LF line
ends, written with a byte-order mark and CR LF line ends, so that Notepad on
XP shows it). Every member is deflated at level 9 and stamped with
SOURCE_DATE_EPOCH as UTC (a ZIP's time has no zone and 2-second steps), made
by "MS-DOS" with the archive attribute only, so neither the file system's times nor the
builder's umask, time zone, user or folders reach the archive.

Names: Windows' own ZIP folder on XP and 7 ignores the UTF-8 flag and reads
names in the OEM code page, which is 936 (GBK) on a Simplified Chinese
Windows, the program's users. So the Chinese name is stored in GBK without
the flag, and also in UTF-8 in an Info-ZIP Unicode Path extra field (0x7075),
which 7-Zip and Info-ZIP's unzip read on any system.
"""
import binascii
import os
import struct
import sys
import time
import zipfile

GUIDE_NAME = "使用说明.txt"


class GbkNamedInfo(zipfile.ZipInfo):
    """A member whose header name is GBK, without the UTF-8 flag.

    zipfile writes both the local and the central header's name through
    _encodeFilenameFlags; ASCII names come out the same either way.
    """

    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits


def crlf(data):
    """Returns data with every line ending in CR LF (data has LF ends only)."""
    if b"\r" in data:
        raise SystemExit("make_windows_zip.py: expected LF line ends only")
    return data.replace(b"\n", b"\r\n")


def member(name, date_time):
    info = GbkNamedInfo(name, date_time)
    info.create_system = 0
    info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Windows gives a new file
    info.compress_type = zipfile.ZIP_DEFLATED
    header_name = name.encode("gbk")
    if header_name != name.encode("ascii", "replace"):
        utf8 = name.encode("utf-8")
        body = struct.pack("<BI", 1, binascii.crc32(header_name)) + utf8
        info.extra = struct.pack("<HH", 0x7075, len(body)) + body
    return info


def main(argv):
    if len(argv) != 5:
        raise SystemExit(__doc__)
    out, exe, licence, guide = argv[1:]
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        raise SystemExit("make_windows_zip.py: SOURCE_DATE_EPOCH is not set")
    date_time = time.gmtime(max(int(epoch), 315532800))[:6]  # ZIP times start in 1980

    def read(path):
        with open(path, "rb") as f:
            return f.read()

    members = {
        "LICENSE": crlf(read(licence)),
        "Quorvel.exe": read(exe),
        GUIDE_NAME: b"\xef\xbb\xbf" + crlf(read(guide)),
    }
    with zipfile.ZipFile(out, "w") as archive:
        for name in sorted(members, key=lambda n: n.encode("utf-8")):
            archive.writestr(member(name, date_time), members[name], compresslevel=9)


if __name__ == "__main__":
    main(sys.argv)
