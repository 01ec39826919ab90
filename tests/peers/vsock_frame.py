#!/usr/bin/env python3
"""Decodes one framed "VSOK" message given as hex on the command line and
prints it as JSON: {"length", "sequence", "row", "reply", "zero", "group",
"count", "args": [hex...]}. Exits 1 with a reason on a malformed frame.

Frame: 0xC0, body with C0 -> DB DC, DB -> DB DD, C1 -> DB DE, 0xC1.
Header (big-endian): "VSOK", payload length, sequence, row (bit 0x80 reply),
0, group, argument count. Arguments: 16-bit length, 00 01, bytes, zero pad
to a multiple of 4.
"""
import json
import struct
import sys


def fail(why):
    print(why)
    sys.exit(1)


def unframe(frame):
    if len(frame) < 2 or frame[0] != 0xC0 or frame[-1] != 0xC1:
        fail("bad frame delimiters")
    out = bytearray()
    i = 1
    while i < len(frame) - 1:
        b = frame[i]
        if b in (0xC0, 0xC1):
            fail("unescaped delimiter inside the frame")
        if b == 0xDB:
            nxt = frame[i + 1]
            if nxt not in (0xDC, 0xDD, 0xDE):
                fail("bad escape")
            out.append({0xDC: 0xC0, 0xDD: 0xDB, 0xDE: 0xC1}[nxt])
            i += 2
        else:
            out.append(b)
            i += 1
    return bytes(out)


def main():
    body = unframe(bytes.fromhex(sys.argv[1]))
    if len(body) < 16 or body[:4] != b"VSOK":
        fail("bad header")
    length, sequence = struct.unpack(">II", body[4:12])
    row, zero, group, count = body[12], body[13], body[14], body[15]
    payload = body[16:]
    if len(payload) != length or length % 4:
        fail("payload length mismatch")
    args = []
    pos = 0
    while pos < len(payload):
        n, marker = struct.unpack(">HH", payload[pos:pos + 4])
        if marker != 1:
            fail("bad argument marker")
        data = payload[pos + 4:pos + 4 + n]
        pad = payload[pos + 4 + n:pos + 4 + ((n + 3) & ~3)]
        if len(data) != n or any(pad):
            fail("bad argument body")
        args.append(data.hex())
        pos += 4 + ((n + 3) & ~3)
    print(json.dumps({"length": length, "sequence": sequence, "row": row & 0x7F,
                      "reply": bool(row & 0x80), "zero": zero, "group": group,
                      "count": count, "args": args}, sort_keys=True))


if __name__ == "__main__":
    main()
