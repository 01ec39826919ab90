#!/usr/bin/env python3
"""Zip fixtures of Mavik firmware packages, written byte by byte from the
zip format (local headers, central directory, end record; stored or deflated
entries), so that names can be any bytes: backslashes, CP932 without the
UTF-8 flag, "../x", absolute and drive-letter names, duplicates.

  mavik_zip.py make KIND OUT [ARG]   writes the fixture KIND to OUT
  mavik_zip.py tree DIR              prints the tree below DIR, sorted:
                                     "d NAME" per folder, "f NAME SIZE MD5 MODE"
                                     per file (NAME as hex of its bytes when
                                     it is not printable ASCII, MODE octal)
  mavik_zip.py kinds                 lists the kinds

Kinds (ARG where one is taken):
  plain         folder entries "dir/" and "dir/sub/", "dir/sub/b.bin", a file
                two folders deep without folder entries, an empty file, text
  backslash     plain with every "/" written as "\\"
  cp932         names in CP932 (Shift-JIS) without the UTF-8 flag
  unsafe NAME   "first.txt", then an entry named NAME (hex of its bytes)
  big MIB       one entry of MIB MiB of zeros, deflated
  dup           "d.txt" twice: "one", then "two"
  damaged       "good.txt", then a deflated entry with broken data
  badcrc        "good.txt", then a stored entry whose CRC does not match
  longname      an entry whose name is 600 bytes long
  match         entries for the single-file extraction: a folder copy of the
                description, a firmware file, the description under other
                names and capitals
  files NAME=SIZE...   files of SIZE bytes ((i * 7 + len(NAME)) % 256)
"""
import hashlib
import os
import struct
import sys
import zlib

FLAG_UTF8 = 0x800


def pattern(size, seed):
    return bytes((i * 7 + seed) % 256 for i in range(size))


class Writer:
    def __init__(self):
        self.body = b""
        self.central = b""
        self.count = 0

    def add(self, name, data, deflate=True, flags=0, crc=None, corrupt=False):
        """name: bytes as they stand in the archive."""
        crc = zlib.crc32(data) if crc is None else crc
        if deflate:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
            packed = packer.compress(data) + packer.flush()
            method = 8
        else:
            packed, method = data, 0
        if corrupt:
            # Bits that no deflate stream of this data has: an invalid block type.
            packed = b"\xff" * 4 + packed[4:]
        offset = len(self.body)
        attrs = (0o40755 << 16) | 0x10 if name.endswith(b"/") else (0o100644 << 16)
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x21,
                            crc & 0xFFFFFFFF, len(packed), len(data), len(name), 0)
        self.body += local + name + packed
        self.central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0314, 20, flags, method, 0,
                                    0x21, crc & 0xFFFFFFFF, len(packed), len(data), len(name),
                                    0, 0, 0, 0, attrs, offset) + name
        self.count += 1

    def folder(self, name):
        self.add(name, b"", deflate=False)

    def bytes(self):
        end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, self.count, self.count,
                          len(self.central), len(self.body), 0)
        return self.body + self.central + end


PLAIN = [
    (b"dir/", None),
    (b"dir/sub/", None),
    (b"dir/sub/b.bin", pattern(3000, 1)),
    (b"x/y/z.bin", pattern(700, 2)),
    (b"empty.bin", b""),
    (b"top.txt", b"top level\r\nsecond line\n"),
]

CP932 = [
    ("ファーム/更新.bin".encode("cp932"), pattern(100, 3)),
    ("表a/b.bin".encode("cp932"), pattern(50, 4)),  # 0x95 0x5C: the trail byte is a backslash
    ("データ/".encode("cp932"), None),
]

MATCH = [
    (b"sub/updater_contents.xml", b"<in-folder/>"),
    (b"fw.bin", pattern(600, 5)),
    (b"UPDATER_CONTENTS_v2.xml", b"<v2/>"),
    (b"updater_contents.xml", b"<plain/>"),
    (b"data/Fw.BIN", pattern(80, 6)),
]


def make(kind, args):
    w = Writer()
    if kind in ("plain", "backslash"):
        for name, data in PLAIN:
            if kind == "backslash":
                name = name.replace(b"/", b"\\")
            if data is None:
                w.folder(name)
            else:
                w.add(name, data, deflate=len(data) > 1000)
    elif kind == "cp932":
        for name, data in CP932:
            if data is None:
                w.folder(name)
            else:
                w.add(name, data)
    elif kind == "unsafe":
        w.add(b"first.txt", b"first")
        w.add(bytes.fromhex(args[0]), b"escaped")
    elif kind == "big":
        w.add(b"zeros.bin", bytes(int(args[0]) << 20))
    elif kind == "dup":
        w.add(b"d.txt", b"one")
        w.add(b"d.txt", b"two")
    elif kind == "damaged":
        w.add(b"good.txt", b"good")
        w.add(b"broken.bin", pattern(5000, 7), corrupt=True)
    elif kind == "badcrc":
        w.add(b"good.txt", b"good")
        w.add(b"crc.bin", pattern(300, 8), deflate=False, crc=zlib.crc32(b"other"))
    elif kind == "longname":
        w.add(b"n" * 600, b"long")
    elif kind == "match":
        for name, data in MATCH:
            w.add(name, data)
    elif kind == "files":
        for spec in args:
            name, size = spec.rsplit("=", 1)
            w.add(name.encode(), pattern(int(size), len(name)))
    else:
        raise SystemExit("unknown kind " + kind)
    return w.bytes()


def shown(name):
    try:
        text = name.decode("ascii")
        if text.isprintable() and " " not in text:
            return text
    except UnicodeDecodeError:
        pass
    return "hex:" + name.hex()


def tree(root):
    lines = []
    root = os.fsencode(root)
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            lines.append("d " + shown(os.path.relpath(os.path.join(folder, d), root)))
        for f in files:
            path = os.path.join(folder, f)
            with open(path, "rb") as fh:
                data = fh.read()
            mode = os.lstat(path).st_mode & 0o777
            lines.append("f %s %d %s %o" % (shown(os.path.relpath(path, root)), len(data),
                                            hashlib.md5(data).hexdigest(), mode))
    return sorted(lines)


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "make":
        with open(sys.argv[3], "wb") as fh:
            fh.write(make(sys.argv[2], sys.argv[4:]))
    elif len(sys.argv) == 3 and sys.argv[1] == "tree":
        for line in tree(sys.argv[2]):
            print(line)
    elif len(sys.argv) == 2 and sys.argv[1] == "kinds":
        print("plain backslash cp932 unsafe big dup damaged badcrc longname match files")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
