#!/usr/bin/env python3
"""Independent MBDF reader and writer for tests, written from the byte layout.

Block: 24-byte name area (tag, then sub-name, zero-filled), part-1 length and
part-2 length (big-endian 32 bits), reserved word, then part 1 and part 2,
each padded with zeros to a multiple of 4.
File: top block "#VALDOR MBDF", data blocks, end block "#END".
"#FILE" part 1: name length (BE16), 0, key, flags (BE32), name XOR key.
Content: bytes XOR key, then (flag 0x08) one zlib stream.

  list <file>
      one line per block, tab-separated:
        TOP  <kind text> <name> <part-1 length> <field-2 hex>
        FILE <name> <flags hex> <key> <content length> <content md5> <sub-name>
        BLOCK <tag> <sub-name> <part-1 hex> <part-2 hex>
        END
  archive <out> <kind number> <top name> <key> <level> <source dir> <entry>...
      writes an archive of the entries (files or folders below source dir).
  rawblock <out> <tag> <sub-name> <tag width> <part-1 hex> <part-2 hex>
      writes an archive-kind file with one plain data block.
  package [--kind TEXT] <out> <field width> <top name> <field hex> <entry>...
      writes a firmware package: container kind TEXT (default "Archive"),
      top name, field 2 of <field width> bytes (16 and 28 are the two
      archive kinds, other widths fit neither) holding the given bytes
      zero-filled, then one "#FILE" block per entry, names and contents
      scrambled with key 0x21 and content deflated. An entry is
        NAME=SOURCE  a file with the content of the file SOURCE,
        NAME/        a folder,
        NAME!SOURCE  a file marked deflated whose content is SOURCE's bytes
                     as they are (a damaged stream).
      Names are taken as given, so unsafe ones ("../x", "/abs") can be made.
  packages <list file>
      one package per line of the list file, its arguments separated by tabs
      (many fixtures for the price of one interpreter start).
"""

import hashlib
import os
import struct
import sys
import zlib

TOP_TAG = b"#VALDOR MBDF"
LAYOUT = {4: 36, 16: 48, 28: 60}


def pad4(n):
    return (4 - n % 4) % 4


def block(tag, sub, tag_width, part1=b"", part2=b""):
    name = tag.ljust(tag_width, b"\0")[:tag_width] + sub.ljust(24 - tag_width, b"\0")[: 24 - tag_width]
    head = name + struct.pack(">III", len(part1), len(part2), 0)
    return head + part1 + b"\0" * pad4(len(part1)) + part2 + b"\0" * pad4(len(part2))


def top_block(kind, name, version=b"1.0", extra=b"peer", kind_text=b"Archive", check=True):
    width = kind
    fields = name.ljust(16, b"\0")[:16] + version.ljust(width, b"\0")[:width] + extra.ljust(16, b"\0")[:16]
    assert not check or len(fields) == LAYOUT[kind]
    return block(TOP_TAG, kind_text, 12, fields)


def end_block():
    return block(b"#END", b"", 24)


def xor(data, key):
    return bytes(b ^ key for b in data) if key else bytes(data)


def file_block(source, rel, key, level):
    path = os.path.join(source, rel)
    encoded = rel.encode("utf-8")
    if os.path.isdir(path):
        flags, content = 0x84, b""
    else:
        with open(path, "rb") as f:
            raw = f.read()
        flags = 0x08 if level > 0 else 0
        content = xor(raw, key)
        if level > 0 and raw:
            c = zlib.compressobj(min(level, 9), zlib.DEFLATED, 15, 9)
            content = c.compress(content) + c.flush()
    part1 = struct.pack(">HBBI", len(encoded), 0, key, flags) + xor(encoded, key)
    return block(b"#FILE", b"peer", 12, part1, content)


PACKAGE_KEY = 0x21


def entry_block(name, flags, content):
    encoded = name.encode("utf-8")
    part1 = struct.pack(">HBBI", len(encoded), 0, PACKAGE_KEY, flags) + xor(encoded, PACKAGE_KEY)
    return block(b"#FILE", b"pkg", 12, part1, content)


def package_entry(item):
    if item.endswith("/") and "=" not in item and "!" not in item:
        return entry_block(item[:-1], 0x80, b"")
    cut = min(i for i in (item.find("="), item.find("!")) if i >= 0)
    name, how, source = item[:cut], item[cut], item[cut + 1 :]
    with open(source, "rb") as f:
        raw = f.read()
    if how == "!":
        return entry_block(name, 0x08, raw)
    if not raw:
        return entry_block(name, 0x08, b"")
    c = zlib.compressobj(6, zlib.DEFLATED, 15, 9)
    return entry_block(name, 0x08, c.compress(xor(raw, PACKAGE_KEY)) + c.flush())


def write_package(args):
    kind_text = b"Archive"
    if args[0] == "--kind":
        kind_text, args = args[1].encode(), args[2:]
    out, width, name, field = args[0], int(args[1]), args[2].encode(), bytes.fromhex(args[3])
    data = top_block(width, name, field, kind_text=kind_text, check=False)
    for item in args[4:]:
        data += package_entry(item)
    with open(out, "wb") as f:
        f.write(data + end_block())


def read_blocks(data):
    pos = 0
    while pos < len(data):
        if len(data) - pos < 36:
            raise ValueError("short header at %d" % pos)
        name = data[pos : pos + 24]
        l1, l2, _ = struct.unpack(">III", data[pos + 24 : pos + 36])
        p1 = pos + 36
        p2 = p1 + l1 + pad4(l1)
        end = p2 + l2 + pad4(l2)
        if end > len(data):
            raise ValueError("block past the end at %d" % pos)
        yield name, data[p1 : p1 + l1], data[p2 : p2 + l2]
        pos = end


def cstr(b):
    return b.split(b"\0", 1)[0].decode("utf-8", "replace")


def list_file(path):
    with open(path, "rb") as f:
        data = f.read()
    out = []
    seen_end = False
    for i, (name, p1, p2) in enumerate(read_blocks(data)):
        if i == 0:
            if name[:12] != TOP_TAG:
                raise ValueError("no top block")
            kind = {36: 4, 48: 16, 60: 28}.get(len(p1), 16)
            out.append("TOP\t%s\t%s\t%d\t%s" % (cstr(name[12:]), cstr(p1[:16]), len(p1), p1[16 : 16 + kind].hex()))
        elif cstr(name) == "#END":
            out.append("END")
            seen_end = True
            break
        elif cstr(name[:12]) == "#FILE":
            n, zero, key, flags = struct.unpack(">HBBI", p1[:8])
            fname = xor(p1[8 : 8 + n], key).decode("utf-8")
            content = p2
            if flags & 0x08 and content:
                content = zlib.decompress(content)
            content = xor(content, key)
            out.append(
                "FILE\t%s\t%x\t%d\t%d\t%s\t%s"
                % (fname, flags, key, len(content), hashlib.md5(content).hexdigest(), cstr(name[12:]))
            )
        else:
            out.append("BLOCK\t%s\t%s\t%s\t%s" % (cstr(name), "", p1.hex(), p2.hex()))
    if not seen_end:
        raise ValueError("no end block")
    print("\n".join(out))


def main(argv):
    cmd = argv[1]
    if cmd == "list":
        list_file(argv[2])
    elif cmd == "archive":
        out, kind, name, key, level, source = argv[2], int(argv[3]), argv[4].encode(), int(argv[5]), int(argv[6]), argv[7]
        data = top_block(kind, name)
        for rel in argv[8:]:
            data += file_block(source, rel, key, level)
        data += end_block()
        with open(out, "wb") as f:
            f.write(data)
    elif cmd == "package":
        write_package(argv[2:])
    elif cmd == "packages":
        with open(argv[2], encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    write_package(line.rstrip("\n").split("\t"))
    elif cmd == "rawblock":
        out, tag, sub, width = argv[2], argv[3].encode(), argv[4].encode(), int(argv[5])
        data = top_block(16, b"raw") + block(tag, sub, width, bytes.fromhex(argv[6]), bytes.fromhex(argv[7]))
        with open(out, "wb") as f:
            f.write(data + end_block())
    else:
        raise SystemExit("unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv)
