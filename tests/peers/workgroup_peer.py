#!/usr/bin/env python3
"""Workgroup protocol peer for the tests, written from the byte tables:
every message is a 20-byte header (magic "VWMP", total length, 0, inner
length, class, command, 0 0) and a body; numbers are big-endian.

  workgroup_peer.py describe HEX...     print what each PC message says
  workgroup_peer.py build CLS/CMD K=V.. [-- CLS/CMD K=V..]...
                                        print the hex of each unit message
  workgroup_peer.py heartbeat K=V.. [-- K=V..]...
                                        print the hex of each heartbeat datagram
  workgroup_peer.py beat --to ADDR [--ifname IF] [--port N] [--rate R]
                         [--seconds S] [--units U] [--empty] K=V..
        send heartbeats to ADDR (ff02::1 goes out on IF) port N (50000),
        R per second in all (10), for S seconds (2), from U units (1: the
        device id, and the id text's last digits, count up per unit); with
        --empty an empty datagram goes first; ends with "SENT n"
  workgroup_peer.py session [--dev HEX] [--refuse C/K]... [--mute C/K]...
        a unit that answers sessions: listen on [::1] (any port), print
        "PORT n", accept any number of connections ("CONNECTED i"), print
        each message as "MSG i <describe>" and answer 1/0 with 1/1, 1/2
        with 1/3, 1/4 with 1/5 and 1/6 with 1/7 (dev= the unit's id,
        result 0, or 0x8000 for a refused C/K; none for a muted C/K);
        stdin lines:
            unit CLS/CMD K=V..        send to the latest connection (as build)
            pulse N MS CLS/CMD K=V..  send it N times, MS ms apart
            refuse C/K | mute C/K | answer C/K    change the answers
            close                     close the latest connection ("CLOSED i")
            quit                      end
  workgroup_peer.py raw [--port N] [--rcvbuf N]
        listen on [::1] (N = 0: any port), print "PORT n", accept one
        connection ("CONNECTED"), then at once:
        - print every framed message that arrives as "MSG <describe>",
          bytes that frame no message as "JUNK hex", the end as "EOF";
        - obey lines on stdin:
            send HEX              send the bytes
            split HEX N MS        send them N bytes at a time, MS ms apart
            unit CLS/CMD K=V..    send a unit's message (as build)
            stopread              read nothing more from the connection
            close                 close the connection ("CLOSED")
            quit                  end

heartbeat fields (hex for ids, decimal otherwise, text as is): model= w24=
w26= v28= dev= wg= name= (short name, 8-bit) id= (id text, UTF-16LE)
status= port= w136= b138= w140= v144=; a= and b= link lists as
STATE:WORD:PEERHEX entries joined by ","; na= nb= override the counts;
len=N cuts or zero-pads the datagram to N bytes; magic=XXXX.

describe gives "C/K" and the body fields in the table's order, e.g.
"1/0 total=36 inner=24 wg=00000000005e0000 word=256 slot=3".
build fields (hex for ids, decimal otherwise, text as is):
  1/1 1/5  dev= result=        1/3 1/7 1/14 3/3  result=
  1/10     result= dev=        1/17 2/2          dev=
  3/1      status= b22= b24= b26= b27= text=     3/5 3/7  word= payload=
  3/8      dev= code=          any other C/K     an empty body
  total=N  overrides the length field, magic=XXXX the magic
"""
import os
import select
import socket
import struct
import sys
import time

MAGICS = (b"VWMP", b"VRSM", b"VRCP")


def header(total, inner, cls, cmd, magic=b"VWMP"):
    return magic + struct.pack(">III", total, 0, inner) + bytes([cls, cmd, 0, 0])


def describe(msg):
    if len(msg) < 20:
        return "SHORT %s" % msg.hex()
    magic = msg[0:4].decode("latin-1")
    total, reserved, inner = struct.unpack(">III", msg[4:16])
    cls, cmd = msg[16], msg[17]
    out = ["%d/%d" % (cls, cmd), "total=%d" % total, "inner=%d" % inner]
    if magic != "VWMP":
        out.append("magic=%s" % magic)
    if reserved != 0 or msg[18:20] != b"\0\0":
        out.append("reserved-not-zero")
    body = msg[20:]
    key = (cls, cmd)
    if len(body) >= 8:
        out.append("wg=%016x" % struct.unpack(">Q", body[0:8])[0])
    if key == (1, 0) and len(body) >= 16:
        word, z1, slot, z2 = struct.unpack(">HHHH", body[8:16])
        out += ["word=%d" % word, "slot=%d" % slot]
        if z1 or z2:
            out.append("pad-not-zero")
    elif key == (2, 0) and len(body) >= 12:
        value, z = struct.unpack(">HH", body[8:12])
        out.append("value=%d" % value)
        if z:
            out.append("pad-not-zero")
    elif key == (3, 0) and len(body) >= 28:
        addr = socket.inet_ntop(socket.AF_INET6, body[8:24])
        port, z = struct.unpack(">HH", body[24:28])
        n = inner - 36
        name = body[28:28 + n]
        pad = body[28 + n:]
        out += ["addr=%s" % addr, "port=%d" % port, "name=%s" % name.decode("latin-1"), "pad=%d" % len(pad)]
        if z or pad.strip(b"\0"):
            out.append("pad-not-zero")
    if total != len(msg):
        out.append("length-mismatch=%d" % len(msg))
    return " ".join(out)


def build(spec, fields):
    cls, cmd = (int(x) for x in spec.split("/"))
    f = dict(kv.split("=", 1) for kv in fields)
    num = lambda k, d=0: int(f.get(k, str(d)), 0)
    dev = lambda: struct.pack(">Q", int(f.get("dev", "0"), 16))
    key = (cls, cmd)
    if key in ((1, 1), (1, 5)):
        body = dev() + struct.pack(">HH", num("result"), 0)
    elif key in ((1, 3), (1, 7), (1, 14), (3, 3)):
        body = struct.pack(">HH", num("result"), 0)
    elif key == (1, 10):
        body = struct.pack(">HH", num("result"), 0) + dev()
    elif key in ((1, 17), (2, 2)):
        body = dev()
    elif key == (3, 1):
        body = struct.pack(">HBBBBBB", num("status"), num("b22"), 0, num("b24"), 0, num("b26"), num("b27"))
        body += f.get("text", "").encode("latin-1")
    elif key in ((3, 5), (3, 7)):
        body = struct.pack(">HH", num("word"), 0) + f.get("payload", "").encode("latin-1")
    elif key == (3, 8):
        body = dev() + struct.pack(">II", 0, num("code"))
    else:
        body = b""
    total = 20 + len(body)
    msg = header(total, total - 12, cls, cmd, f.get("magic", "VWMP").encode())
    if "total" in f:
        msg = msg[:4] + struct.pack(">I", num("total")) + msg[8:]
    return msg + body


def heartbeat(fields):
    f = dict(kv.split("=", 1) for kv in fields)
    num = lambda k: int(f.get(k, "0"), 0)
    hexnum = lambda k: int(f.get(k, "0"), 16)
    d = bytearray(152)
    d[0:4] = f.get("magic", "VWMP").encode("latin-1")[:4].ljust(4, b"\0")
    struct.pack_into(">H", d, 20, num("model"))
    struct.pack_into(">HHI", d, 24, num("w24"), num("w26"), num("v28"))
    struct.pack_into(">QQ", d, 36, hexnum("dev"), hexnum("wg"))
    name = f.get("name", "").encode("latin-1")[:16]
    d[52:52 + len(name)] = name
    ident = f.get("id", "").encode("utf-16-le")[:64]
    d[68:68 + len(ident)] = ident
    struct.pack_into(">HHHB", d, 132, num("status"), num("port"), num("w136"), num("b138"))
    struct.pack_into(">H", d, 140, num("w140"))
    struct.pack_into(">Q", d, 144, hexnum("v144"))

    def links(key):
        out = []
        for item in filter(None, f.get(key, "").split(",")):
            state, word, peer = item.split(":")
            out.append(struct.pack(">HHQ", int(state, 0), int(word, 0), int(peer, 16)))
        return out

    la, lb = links("a"), links("b")
    d += bytes([int(f.get("na", str(len(la))), 0)]) + b"\0\0\0" + b"".join(la)
    d += bytes([int(f.get("nb", str(len(lb))), 0)]) + b"\0\0\0" + b"".join(lb)
    if "len" in f:
        n = num("len")
        d = d[:n] + bytes(max(0, n - len(d)))
    return bytes(d)


def beat(args):
    to, ifname, port, rate, seconds, units, empty = None, None, 50000, 10.0, 2.0, 1, False
    fields = []
    while args:
        opt = args.pop(0)
        if opt == "--to":
            to = args.pop(0)
        elif opt == "--ifname":
            ifname = args.pop(0)
        elif opt == "--port":
            port = int(args.pop(0))
        elif opt == "--rate":
            rate = float(args.pop(0))
        elif opt == "--seconds":
            seconds = float(args.pop(0))
        elif opt == "--units":
            units = int(args.pop(0))
        elif opt == "--empty":
            empty = True
        else:
            fields.append(opt)
    scope = socket.if_nametoindex(ifname) if ifname else 0
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    if scope:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF, scope)
    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_LOOP, 0)
    dest = (to, port, 0, scope)
    base = dict(kv.split("=", 1) for kv in fields)
    dev = int(base.get("dev", "0"), 16)
    datagrams = []
    for u in range(units):
        unit = dict(base)
        unit["dev"] = "%x" % (dev + (u << 16))
        unit["id"] = base.get("id", "J001-Valdor-Mavik-D-") + "%06X" % u if units > 1 else base.get("id", "")
        datagrams.append(heartbeat(["%s=%s" % kv for kv in unit.items()]))
    if empty:
        s.sendto(b"", dest)
    sent = 0
    start = time.monotonic()
    total = int(rate * seconds)
    while sent < total:
        due = start + sent / rate
        now = time.monotonic()
        if due > now:
            time.sleep(due - now)
        s.sendto(datagrams[sent % units], dest)
        sent += 1
    say("SENT %d" % sent)


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


class Framer:
    def __init__(self):
        self.buf = b""

    def feed(self, data):
        self.buf += data
        while len(self.buf) >= 4:
            if self.buf[:4] not in MAGICS:
                say("JUNK %s" % self.buf[:4].hex())
                self.buf = self.buf[4:]
                continue
            if len(self.buf) < 8:
                return
            total = struct.unpack(">I", self.buf[4:8])[0]
            if total < 8:
                say("JUNK %s" % self.buf[:8].hex())
                self.buf = self.buf[8:]
                continue
            if len(self.buf) < total:
                return
            msg, self.buf = self.buf[:total], self.buf[total:]
            say("MSG " + describe(msg))


def raw(args):
    port, rcvbuf = 0, 0
    while args:
        opt = args.pop(0)
        if opt == "--port":
            port = int(args.pop(0))
        elif opt == "--rcvbuf":
            rcvbuf = int(args.pop(0))
    lst = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    lst.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if rcvbuf:
        lst.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    lst.bind(("::1", port))
    lst.listen(1)
    say("PORT %d" % lst.getsockname()[1])
    conn = None
    reading = True
    framer = Framer()
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        watch = [sys.stdin]
        if conn is None and lst is not None:
            watch.append(lst)
        elif conn is not None and reading:
            watch.append(conn)
        ready, _, _ = select.select(watch, [], [], 0.5)
        if lst in ready:
            conn, _ = lst.accept()
            lst.close()
            lst = None
            say("CONNECTED")
        if conn is not None and conn in ready:
            try:
                data = conn.recv(65536)
            except OSError:
                data = b""
            if not data:
                say("EOF")
                reading = False
            else:
                framer.feed(data)
        if sys.stdin in ready:
            line = sys.stdin.readline()
            if not line:
                break
            words = line.split()
            if not words:
                continue
            cmd = words[0]
            if cmd == "quit":
                break
            if cmd == "stopread":
                reading = False
            elif cmd == "close" and conn is not None:
                conn.close()
                conn = None
                say("CLOSED")
            elif cmd == "send" and conn is not None:
                conn.sendall(bytes.fromhex(words[1]))
            elif cmd == "split" and conn is not None:
                data, n, pause = bytes.fromhex(words[1]), int(words[2]), int(words[3]) / 1000.0
                for i in range(0, len(data), n):
                    conn.sendall(data[i:i + n])
                    time.sleep(pause)
            elif cmd == "unit" and conn is not None:
                conn.sendall(build(words[1], words[2:]))
            say("DONE %s" % cmd)


ANSWERS = {(1, 0): "1/1", (1, 2): "1/3", (1, 4): "1/5", (1, 6): "1/7"}


class SessionConn:
    def __init__(self, sock, number):
        self.sock = sock
        self.number = number
        self.buf = b""


def send_quietly(sock, data):
    """A PC that went away mid-send is not the peer's failure."""
    try:
        sock.sendall(data)
        return True
    except OSError:
        return False


def session(args):
    dev, refuse, mute = "0", set(), set()
    while args:
        opt = args.pop(0)
        if opt == "--dev":
            dev = args.pop(0)
        elif opt == "--refuse":
            refuse.add(args.pop(0))
        elif opt == "--mute":
            mute.add(args.pop(0))
    lst = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    lst.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lst.bind(("::1", 0))
    lst.listen(16)
    say("PORT %d" % lst.getsockname()[1])
    conns = []
    accepted = 0
    pending = b""
    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        watch = [sys.stdin, lst] + [c.sock for c in conns]
        ready, _, _ = select.select(watch, [], [], 0.5)
        if lst in ready:
            sock, _ = lst.accept()
            accepted += 1
            conns.append(SessionConn(sock, accepted))
            say("CONNECTED %d" % conns[-1].number)
        for c in list(conns):
            if c.sock not in ready:
                continue
            try:
                data = c.sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                say("EOF %d" % c.number)
                c.sock.close()
                conns.remove(c)
                continue
            c.buf += data
            while len(c.buf) >= 8:
                total = struct.unpack(">I", c.buf[4:8])[0]
                if total < 8:
                    c.buf = b""
                    break
                if len(c.buf) < total:
                    break
                msg, c.buf = c.buf[:total], c.buf[total:]
                say("MSG %d %s" % (c.number, describe(msg)))
                key = "%d/%d" % (msg[16], msg[17]) if len(msg) >= 18 else ""
                reply = ANSWERS.get((msg[16], msg[17])) if len(msg) >= 18 else None
                if reply and key not in mute:
                    result = "0x8000" if key in refuse else "0"
                    send_quietly(c.sock, build(reply, ["dev=" + dev, "result=" + result]))
        if sys.stdin in ready:
            # Read what is there, not a buffered line: select would not see
            # the lines python's reader keeps.
            data = os.read(sys.stdin.fileno(), 65536)
            if not data:
                break
            pending += data
            stop = False
            while b"\n" in pending and not stop:
                line, pending = pending.split(b"\n", 1)
                stop = session_command(line.decode(), conns, refuse, mute)
            if stop:
                break


def session_command(line, conns, refuse, mute):
    """One stdin line of session mode; True to end."""
    words = line.split()
    if not words:
        return False
    cmd = words[0]
    last = conns[-1] if conns else None
    if cmd == "quit":
        return True
    elif cmd == "unit" and last:
        send_quietly(last.sock, build(words[1], words[2:]))
    elif cmd == "pulse" and last:
        n, pause = int(words[1]), int(words[2]) / 1000.0
        msg = build(words[3], words[4:])
        for _ in range(n):
            if not send_quietly(last.sock, msg):
                break
            time.sleep(pause)
    elif cmd in ("refuse", "mute", "answer"):
        refuse.discard(words[1])
        mute.discard(words[1])
        if cmd == "refuse":
            refuse.add(words[1])
        elif cmd == "mute":
            mute.add(words[1])
    elif cmd == "close" and last:
        last.sock.close()
        conns.remove(last)
        say("CLOSED %d" % last.number)
    say("DONE %s" % cmd)
    return False


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    mode = sys.argv[1]
    if mode == "describe":
        for text in sys.argv[2:]:
            say(describe(bytes.fromhex(text)))
    elif mode == "build":
        group = []
        for word in sys.argv[2:] + ["--"]:
            if word == "--":
                if group:
                    say(build(group[0], group[1:]).hex())
                group = []
            else:
                group.append(word)
    elif mode == "heartbeat":
        group = []
        for word in sys.argv[2:] + ["--"]:
            if word == "--":
                say(heartbeat(group).hex())
                group = []
            else:
                group.append(word)
    elif mode == "beat":
        beat(sys.argv[2:])
    elif mode == "raw":
        raw(sys.argv[2:])
    elif mode == "session":
        session(sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
