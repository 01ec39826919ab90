#!/usr/bin/env python3
"""A unit in recovery mode on TCP, written from the recovery protocol's byte
tables: it checks every frame and message it gets, acknowledges each piece
and answers each message, and can misbehave on demand.

  recovery_unit.py [--host H] [--port P] [--name NAME] [--pver TEXT]
                   [--bver TEXT] [--mac aa-bb-cc-dd-ee-ff]
                   [--fault CMD:WHAT[:ARG]]...

Request message: cmd(2) 0(1) class(2) d(2) e(2) 1(2) headersum(1)
count(2) params datasum(1) totalsum(1); params 01 byte | 04 int32 |
80 len32 bytes. Transport frame: len(2)=piece+25 kind(2) dst(6) src(6)
0(2) msglen(4) offset(4) piece framesum(1) (sum of bytes 2..), SLIP-stuffed
(C0 -> DB DC, DB -> DB DD) between two C0. Numbers are big-endian.

Lines on standard output: first "PORT n", then
  "CMD num kind srcmac"            a complete request that passed every check
  "WRITE tag length md5 srcmac"    the data of a file-writing request
  "ERROR text"                     a check that failed

A line on standard input holds new options (--name, --pver, --bver, --mac,
--fault) for the connections that follow; they replace the old ones
whole, and "READY" confirms them.

Every piece but the last is answered with C0 C0, the last with a reply
(result 0; version and name queries carry tag + 1 byte + text). Faults on
the reply to command CMD:
  result:HEX   result code HEX          illegal    C0 00 00 C0
  silent       no answer                short      a 14-byte reply (no result)
  longlen      message length past the piece
  badsize      frame length field one too large
  longparam    second parameter's length past the message
  prefix       bytes without C0 before the frame
  twoframes:N  a reply to command N follows in the same write, and the next
               request gets no answer of its own
  stream       bytes without C0, until the peer closes
"""
import argparse
import hashlib
import shlex
import socket
import struct
import sys
import threading
import time

END, ESC, ESC_END, ESC_ESC = 0xC0, 0xDB, 0xDC, 0xDD

# command: (class, d, e, parameters as (kind, expected value or None))
TABLE = {
    1: (0x8000, 0, 0, [(0x01, 1), (0x80, b""), (0x80, b"")]),
    2: (0x8000, 0, 2, [(0x01, 1)]),
    4: (0x8000, 0, 2, [(0x01, 0)]),
    5: (0x8000, 0, 3, [(0x01, None)]),
    6: (0x8000, 2, 1, [(0x80, None), (0x80, None)]),
    8: (0x8010, 0xF1, 0, [(0x80, None)]),
    9: (0x8010, 0xF1, 0, [(0x80, b"DNAME")]),
    13: (0x8000, 0, 0, [(0x01, 0), (0x80, b""), (0x80, b"")]),
}
UNIT_MAC = bytes.fromhex("025100000099")


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def bsum(data):
    return sum(data) & 0xFF


def mac_text(mac):
    return ":".join("%02x" % b for b in mac)


def stuff(frame):
    out = bytearray([END])
    for b in frame:
        if b == END:
            out += bytes([ESC, ESC_END])
        elif b == ESC:
            out += bytes([ESC, ESC_ESC])
        else:
            out.append(b)
    out.append(END)
    return bytes(out)


def unstuff(body):
    parts = bytes(body).split(bytes([ESC]))
    out = [parts[0]]
    for part in parts[1:]:
        if not part or part[0] not in (ESC_END, ESC_ESC):
            raise ValueError("escape byte not followed by DC or DD")
        out.append(bytes([END if part[0] == ESC_END else ESC]) + part[1:])
    return b"".join(out)


def message(cmd, cls, d, e, params, count):
    head = struct.pack(">HBHHHH", cmd, 0, cls, d, e, 1)
    head += bytes([bsum(head)])
    body = struct.pack(">H", count) + params
    out = head + body + bytes([bsum(body)])
    return out + bytes([bsum(out)])


def frame(msg, kind, dst, src, offset=0, piece=None, length_delta=0, msglen=None):
    piece = msg if piece is None else piece
    body = struct.pack(">H", kind) + dst + src + b"\0\0"
    body += struct.pack(">II", len(msg) if msglen is None else msglen, offset) + piece
    out = struct.pack(">H", len(piece) + 25 + length_delta) + body
    return out + bytes([bsum(out[2:])])


def parse_params(data, count):
    """[(kind, value)] of exactly count parameters filling data; raises."""
    out, pos = [], 0
    for _ in range(count):
        kind = data[pos]
        if kind == 0x01:
            out.append((kind, data[pos + 1]))
            pos += 2
        elif kind == 0x04:
            out.append((kind, struct.unpack(">i", data[pos + 1:pos + 5])[0]))
            pos += 5
        elif kind == 0x80:
            (n,) = struct.unpack(">I", data[pos + 1:pos + 5])
            if pos + 5 + n > len(data):
                raise ValueError("parameter runs past the message")
            out.append((kind, bytes(data[pos + 5:pos + 5 + n])))
            pos += 5 + n
        else:
            raise ValueError("parameter kind %02x" % kind)
    if pos != len(data):
        raise ValueError("%d bytes after the parameters" % (len(data) - pos))
    return out


def check_message(msg):
    """(cmd, params) of a request message; raises ValueError on any fault."""
    if len(msg) < 16:
        raise ValueError("message of %d bytes" % len(msg))
    if bsum(msg[:11]) != msg[11]:
        raise ValueError("header sum")
    if bsum(msg[12:-2]) != msg[-2]:
        raise ValueError("data sum")
    if bsum(msg[:-1]) != msg[-1]:
        raise ValueError("total sum")
    cmd, zero, cls, d, e, one = struct.unpack(">HBHHHH", msg[:11])
    if zero != 0 or one != 1:
        raise ValueError("fixed header bytes")
    if cmd not in TABLE:
        raise ValueError("unknown command %d" % cmd)
    want = TABLE[cmd]
    if (cls, d, e) != want[:3]:
        raise ValueError("command %d class/d/e %x/%x/%x" % (cmd, cls, d, e))
    (count,) = struct.unpack(">H", msg[12:14])
    params = parse_params(msg[14:-2], count)
    if len(params) != len(want[3]):
        raise ValueError("command %d with %d parameters" % (cmd, len(params)))
    for (kind, value), (wkind, wvalue) in zip(params, want[3]):
        if kind != wkind or (wvalue is not None and value != wvalue):
            raise ValueError("command %d parameter %r" % (cmd, (kind, value)))
    return cmd, params


class Unit:
    def __init__(self, args):
        self.configure(args)

    def configure(self, args):
        faults = {}
        for text in args.fault:
            parts = text.split(":")
            faults[int(parts[0])] = (parts[1], parts[2] if len(parts) > 2 else None)
        self.args, self.mac, self.faults = args, bytes.fromhex(args.mac.replace("-", "")), faults

    def follow_input(self, parser):
        for line in sys.stdin:
            self.configure(parser.parse_args(shlex.split(line)))
            say("READY")

    def serve(self, listener):
        while True:
            conn, _ = listener.accept()
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            with conn:
                try:
                    self.session(conn)
                except (BrokenPipeError, ConnectionResetError):
                    pass

    def session(self, conn):
        self.conn = conn
        self.inbuf = bytearray()
        self.pieces = bytearray()
        self.kinds = set()
        self.mute_next = False
        buf, inside = bytearray(), False
        while True:
            data = conn.recv(65536)
            if not data:
                return
            buf += data
            while buf:
                if not inside:
                    i = buf.find(END)
                    if i != 0:
                        say("ERROR %d bytes outside a frame" % (len(buf) if i < 0 else i))
                    if i < 0:
                        buf.clear()
                        break
                    del buf[:i + 1]
                    inside = True
                j = buf.find(END)
                if j < 0:
                    break
                if j == 0:
                    del buf[:1]
                    continue
                body = bytes(buf[:j])
                del buf[:j + 1]
                inside = False
                self.on_frame(body)

    def on_frame(self, stuffed):
        try:
            f = unstuff(stuffed)
            if len(f) < 28:
                raise ValueError("frame of %d bytes" % len(f))
            (length, kind) = struct.unpack(">HH", f[:4])
            if length != len(f) - 2:
                raise ValueError("frame length %d for %d bytes" % (length, len(f)))
            if bsum(f[2:-1]) != f[-1]:
                raise ValueError("frame sum")
            dst, src, zero = f[4:10], f[10:16], f[16:18]
            if dst != self.mac:
                raise ValueError("destination %s" % mac_text(dst))
            if zero != b"\0\0":
                raise ValueError("reserved bytes")
            total, offset = struct.unpack(">II", f[18:26])
            piece = f[26:-1]
            if not 1 <= len(piece) <= 1024:
                raise ValueError("piece of %d bytes" % len(piece))
            if offset != len(self.pieces):
                raise ValueError("piece at %d, expected %d" % (offset, len(self.pieces)))
            if offset + len(piece) > total:
                raise ValueError("piece past the message length")
        except (ValueError, struct.error) as err:
            say("ERROR %s" % err)
            self.pieces = bytearray()
            return
        self.pieces += piece
        self.kinds.add(kind)
        self.src = src
        if len(self.pieces) < total:
            self.conn.sendall(bytes([END, END]))
            return
        msg = bytes(self.pieces)
        kinds = self.kinds
        self.pieces, self.kinds = bytearray(), set()
        self.on_message(msg, kinds)

    def on_message(self, msg, kinds):
        try:
            cmd, params = check_message(msg)
            want_kind = 1 if cmd == 6 else 0
            if kinds != {want_kind}:
                raise ValueError("command %d in frames of kind %s" % (cmd, sorted(kinds)))
        except (ValueError, IndexError, struct.error) as err:
            say("ERROR %s" % err)
            return
        say("CMD %d %d %s" % (cmd, want_kind, mac_text(self.src)))
        if cmd == 6:
            tag, data = params[0][1], params[1][1]
            say("WRITE %s %d %s %s" % (tag.decode(), len(data), hashlib.md5(data).hexdigest(), mac_text(self.src)))
        if self.mute_next:
            self.mute_next = False
            return
        self.answer(cmd, params)

    def reply(self, cmd, result=0, extra=None, count=None, raw=None):
        cls, d, e, _ = TABLE.get(cmd, (0x8000, 0, 0, None))
        params = struct.pack(">Bi", 0x04, result)
        n = 1
        if extra is not None:
            params += struct.pack(">BI", 0x80, len(extra)) + extra
            n = 2
        if raw is not None:
            return raw
        return message(cmd, cls, d, e, params, n if count is None else count)

    def query_text(self, cmd, params):
        if cmd == 8:
            tag = params[0][1]
            text = self.args.bver if tag == b"BVER" else self.args.pver
            return tag + b"\0" + text.encode()
        if cmd == 9:
            return b"DNAME\0" + self.args.name.encode()
        return None

    def answer(self, cmd, params):
        what, arg = self.faults.get(cmd, (None, None))
        if what == "silent":
            return
        if what == "illegal":
            self.conn.sendall(bytes([END, 0, 0, END]))
            return
        if what == "stream":
            end = time.monotonic() + 20
            while time.monotonic() < end:
                self.conn.sendall(b"\x55" * 4096)
            return
        result = struct.unpack(">i", bytes.fromhex(arg))[0] if what == "result" else 0
        text = self.query_text(cmd, params)
        msg = self.reply(cmd, result, text)
        if what == "short":
            msg = msg[:12] + b"\0\0"
        if what == "longparam" and text is not None:
            msg = bytearray(msg)
            struct.pack_into(">I", msg, 20, len(text) + 10)
            msg = bytes(msg)
        f = frame(msg, 0, self.src, UNIT_MAC,
                  length_delta=1 if what == "badsize" else 0,
                  msglen=len(msg) + 10 if what == "longlen" else None)
        out = stuff(f)
        if what == "prefix":
            out = b"garbage\x01\x02" + out
        if what == "twoframes":
            nxt = int(arg)
            out += stuff(frame(self.reply(nxt), 0, self.src, UNIT_MAC))
            self.mute_next = True
        self.conn.sendall(out)


def options():
    p = argparse.ArgumentParser()
    p.add_argument("--name", default="Sorn-D")
    p.add_argument("--pver", default="R1.020")
    p.add_argument("--bver", default="B0.900")
    p.add_argument("--mac", default="ff-ff-ff-ff-ff-ff")
    p.add_argument("--fault", action="append", default=[])
    return p


def main():
    p = options()
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    args = p.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(4)
    say("PORT %d" % listener.getsockname()[1])
    unit = Unit(args)
    threading.Thread(target=unit.follow_input, args=(options(),), daemon=True).start()
    try:
        unit.serve(listener)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
