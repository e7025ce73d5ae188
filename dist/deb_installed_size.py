#!/usr/bin/env python3
"""deb_installed_size.py - a .deb's Installed-Size, worked out from what it installs.

Usage: deb_installed_size.py PACKAGE.deb

CPack adds up the sizes of the files it packs as the build folder's file
system reports them, directories included, and a directory's size is the
file system's own: 4096 bytes on ext4, a few dozen on tmpfs. So one commit
built in /tmp (a tmpfs on Debian 13) and in a folder on disk gave packages
that differed in that field alone. Here it is the regular files' sizes plus
4096 bytes for each directory, in KiB rounded up: what CPack writes on ext4.
control.tar.gz is written again with its members as they were (only the
control file's Installed-Size line changes) and a gzip stream without a time
or a name, so the package stays the same for the same files. The package is
rewritten in place, its other members untouched.
"""
import gzip
import io
import re
import sys
import tarfile

DIRECTORY_BYTES = 4096


def fail(message):
    sys.exit(f"deb_installed_size.py: {message}")


def read_ar(data):
    """The members of an ar archive: (60-byte header, content) pairs."""
    if not data.startswith(b"!<arch>\n"):
        fail("not an ar archive")
    members, pos = [], 8
    while pos < len(data):
        header = data[pos:pos + 60]
        if len(header) < 60 or header[58:60] != b"`\n":
            fail(f"a damaged ar member header at byte {pos}")
        size = int(header[48:58])
        members.append((header, data[pos + 60:pos + 60 + size]))
        pos += 60 + size + (size & 1)
    return members


def write_ar(members):
    out = [b"!<arch>\n"]
    for header, content in members:
        out += [header[:48], str(len(content)).ljust(10).encode(), header[58:60], content]
        if len(content) & 1:
            out.append(b"\n")
    return b"".join(out)


def member_name(header):
    return header[:16].decode("ascii").rstrip(" ").rstrip("/")


def installed_kib(data_tar):
    with tarfile.open(fileobj=io.BytesIO(data_tar), mode="r:*") as tar:
        total = sum(m.size if m.isfile() else DIRECTORY_BYTES if m.isdir() else 0 for m in tar)
    return (total + 1023) // 1024


def with_installed_size(control_tar, kib):
    out = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(control_tar), mode="r:gz") as src, \
            tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as dst:
        for member in src.getmembers():
            content = src.extractfile(member).read() if member.isfile() else None
            if member.name.lstrip("./") == "control":
                text, found = re.subn(r"^Installed-Size: \d+$", f"Installed-Size: {kib}",
                                      content.decode("utf-8"), flags=re.MULTILINE)
                if found != 1:
                    fail("the control file has no Installed-Size line")
                content = text.encode("utf-8")
                member.size = len(content)
            dst.addfile(member, io.BytesIO(content) if content is not None else None)
    return gzip.compress(out.getvalue(), compresslevel=9, mtime=0)


def main():
    if len(sys.argv) != 2:
        fail("usage: deb_installed_size.py PACKAGE.deb")
    path = sys.argv[1]
    with open(path, "rb") as f:
        members = read_ar(f.read())
    names = [member_name(header) for header, _ in members]
    data = [content for (header, content), name in zip(members, names) if name.startswith("data.tar")]
    if len(data) != 1 or "control.tar.gz" not in names:
        fail(f"{path} has no data.tar.* or no control.tar.gz: {names}")
    kib = installed_kib(data[0])
    members = [(header, with_installed_size(content, kib) if name == "control.tar.gz" else content)
               for (header, content), name in zip(members, names)]
    with open(path, "wb") as f:
        f.write(write_ar(members))
    print(f"deb_installed_size.py: {path}: Installed-Size: {kib}")


if __name__ == "__main__":
    main()
