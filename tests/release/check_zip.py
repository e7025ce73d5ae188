#!/usr/bin/env python3
"""check_zip.py - the Windows ZIP holds what a Windows user needs.

Usage: check_zip.py ZIP EXE

Passes when ZIP holds exactly LICENSE, Quorvel.exe and 使用说明.txt (its name
stored in GBK, as Windows' ZIP folder reads it on a Chinese Windows), every
member's CRC is right, Quorvel.exe is EXE byte for byte, and 使用说明.txt is
UTF-8 beginning with a byte-order mark, with CR LF line ends only.
"""
import sys
import zipfile


def fail(message):
    print(f"FAIL check_zip: {message}")
    sys.exit(1)


def main(path, exe):
    with zipfile.ZipFile(path, metadata_encoding="gbk") as archive:
        names = archive.namelist()
        if names != ["LICENSE", "Quorvel.exe", "使用说明.txt"]:
            fail(f"members are {names}")
        bad = archive.testzip()
        if bad:
            fail(f"{bad} is damaged")
        with open(exe, "rb") as f:
            if archive.read("Quorvel.exe") != f.read():
                fail(f"Quorvel.exe is not {exe}")
        guide = archive.read("使用说明.txt")
    if not guide.startswith(b"\xef\xbb\xbf"):
        fail("使用说明.txt has no UTF-8 byte-order mark")
    guide.decode("utf-8")
    if guide.count(b"\n") != guide.count(b"\r\n") or guide.count(b"\r") != guide.count(b"\r\n"):
        fail("使用说明.txt has line ends other than CR LF")
    print(f"pass check_zip: {path}: LICENSE, Quorvel.exe (the built one), 使用说明.txt (BOM, CR LF)")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
