#!/usr/bin/env python3
"""Plays the PC's Dante configuration manager: DGCP2 datagrams with the
20-byte big-endian header (protocol word 0x1001), bodies built from 16-bit
aligned elements (arrays of slots, strings, u32, bytes, wide strings).

Written from the header, element and body rules only; nothing is shared with
the C++ client.

Behaviour: a connect (opcode 1) is answered with status 1 and four value
slots (major, minor, build, maximum networks), then the options event
(0x100) and the state event (0x101) follow; the connecting process (name and
process id from its request) joins the process list. Set config (0x110)
applies the interface set and/or the lock flag, is answered with the state
body and followed by a state event; while another process holds the lock an
interface change is refused with 0x102 "Invalid State". Keepalives (opcode 0) get status 1 and
their own sequence number. Disconnect (2) gets status 1 and removes the
process. Every datagram received is reported as "RECV {json}", every one sent
as "SENT {json}".

Knobs (--knob NAME=VALUE or "set NAME VALUE" on stdin):
  changing=off|pending|current  set config passes through status 2
                 "Changing" (pending holds the new set; "current": the new
                 set is already current too) before status 1
  changing_delay=S   time spent in "Changing" (default 0.3)
  too_many=0|1       connect answered 0x82 "Too many clients"
  invalid_state=0|1  set config answered 0x102 "Invalid State" (state body)
  silent=0|1         answer nothing (the manager hangs)
  keepalive_status=N status of keepalive answers (0x81 "Not connected")
  early_events=0|1   options and state events sent before the connect answer
  version=a.b.build, max_networks=N, device_name=TEXT
Options: --options N (N generated interfaces, e.g. 20) or --interface
NAME=MAC (repeatable); --current NAME,... (names of the current
configuration, "" for none; may hold 3); --foreign NAME:PID:LOCK (another
process, LOCK 1 holds the lock).
Commands on stdin (state changes go out as state events): options, state,
current NAME,... (a change made by someone else), foreign NAME:PID:LOCK,
notconn (a status 0x81 datagram to each client), raw HEX, close, open,
clients, set KNOB VALUE, quit.
Prints "ready <port>" when listening; ends on SIGTERM, "quit" or --lifetime.
Offline: "fake_cmm.py decode HEX..." prints each datagram as a DECODED json
line; "fake_cmm.py samples DIR" writes the fake's messages as NAME.bin.

As a module: Body (writer), Reader, header(), parse_header(), connect_request(),
connect_response(), options_body(), state_body(), set_config_request(),
parse_message(), FakeCmm.
"""
import argparse
import struct
import sys

from peerloop import UdpServer, log, offline

PROTOCOL = 0x1001
HEADER = 20
MAXMSG = 1472
OP_KEEPALIVE, OP_CONNECT, OP_DISCONNECT = 0, 1, 2
OP_OPTIONS, OP_STATE, OP_SET_CONFIG = 0x100, 0x101, 0x110
ST_REQUEST, ST_RESPONSE, ST_EVENT = 0, 1, 2
ST_NOT_CONNECTED, ST_TOO_MANY = 0x81, 0x82
ST_INVALID_STATE = 0x102


# ------------------------------------------------------------------ elements

class Body:
    """Element writer; offsets are relative to the body start."""

    def __init__(self, capacity=MAXMSG - HEADER):
        self.b = bytearray()
        self.capacity = capacity

    def _room(self, n):
        if len(self.b) + n > self.capacity:
            raise OverflowError("element does not fit")

    def _align(self, n):
        pad = (-len(self.b)) % n
        self._room(pad)
        self.b += bytes(pad)

    def array(self, n):
        self._align(2)
        self._room(2 + 2 * n)
        off = len(self.b)
        self.b += struct.pack(">H", n) + bytes(2 * n)
        return off

    def slot(self, arr, i, value):
        n = struct.unpack_from(">H", self.b, arr)[0]
        if not 0 <= i < n:
            raise IndexError("slot %d of %d" % (i, n))
        struct.pack_into(">H", self.b, arr + 2 + 2 * i, value)

    def bytes(self, data):
        self._align(2)
        data = bytes(data)
        padded = data + bytes(len(data) % 2)
        self._room(len(padded))
        off = len(self.b)
        self.b += padded
        return off

    def string(self, text):
        raw = text.encode() if isinstance(text, str) else bytes(text)
        return self.bytes(raw + b"\0")

    def u32(self, value):
        self._align(4)
        self._room(4)
        off = len(self.b)
        self.b += struct.pack(">I", value)
        return off

    def wstring(self, text):
        units = text.encode("utf-16-be")
        self._align(4)
        n = len(units) // 2
        self._room(4 * n + 4)
        off = len(self.b)
        for i in range(n):
            self.b += struct.pack(">I", struct.unpack_from(">H", units, 2 * i)[0])
        self.b += bytes(4)
        return off


class Reader:
    """Element reader with every offset checked against the body."""

    def __init__(self, body):
        self.b = bytes(body)

    def _check(self, off, n, align=2):
        if off % align or off < 0 or off + n > len(self.b):
            raise ValueError("offset %d (+%d) outside a body of %d" % (off, n, len(self.b)))

    def array(self, off):
        self._check(off, 2)
        n = struct.unpack_from(">H", self.b, off)[0]
        self._check(off, 2 + 2 * n)
        return list(struct.unpack_from(">%dH" % n, self.b, off + 2))

    def u32(self, off):
        self._check(off, 4, 4)
        return struct.unpack_from(">I", self.b, off)[0]

    def string(self, off):
        self._check(off, 1)
        end = self.b.find(b"\0", off)
        if end < 0:
            raise ValueError("string without NUL at %d" % off)
        return self.b[off:end].decode("utf-8", "replace")

    def raw(self, off, n):
        self._check(off, n)
        return self.b[off:off + n]

    def wstring(self, off, limit=64):
        self._check(off, 4, 4)
        out = []
        for i in range(limit):
            self._check(off + 4 * i, 4, 4)
            v = struct.unpack_from(">I", self.b, off + 4 * i)[0]
            if v == 0:
                break
            if v > 0xFFFF:
                raise ValueError("wide character 0x%x" % v)
            out.append(struct.pack(">H", v))
        return b"".join(out).decode("utf-16-be", "replace")


# ------------------------------------------------------------------ messages

def header(length, seq, opcode, status, port=0, client_id=bytes(8), word=PROTOCOL):
    return struct.pack(">HHHHHH", word, length, seq, opcode, status, port) + bytes(client_id)


def parse_header(data):
    if len(data) < HEADER:
        return None
    w, ln, seq, op, st, port = struct.unpack_from(">HHHHHH", data)
    return {"word": w, "len": ln, "seq": seq, "op": op, "status": st, "port": port,
            "client_id": data[12:20].hex()}


def message(seq, opcode, status, body=b"", port=0, client_id=bytes(8)):
    body = body.b if isinstance(body, Body) else bytes(body)
    return header(HEADER + len(body), seq, opcode, status, port, client_id) + body


def mac_bytes(text):
    return bytes.fromhex(text.replace(":", "").replace("-", ""))


def write_interface_list(body, interfaces):
    """interfaces: [(name, mac text)] -> offset of the list."""
    lst = body.array(len(interfaces))
    for i, (name, mac) in enumerate(interfaces):
        itf = body.array(2)
        body.slot(itf, 0, body.wstring(name))
        body.slot(itf, 1, body.bytes(mac_bytes(mac)))
        body.slot(lst, i, itf)
    return lst


def write_interface_set(body, interfaces):
    s = body.array(1)
    body.slot(s, 0, write_interface_list(body, interfaces))
    return s


def connect_request(name, pid, lock=0):
    b = Body()
    a = b.array(3)
    b.slot(a, 0, b.string(name))
    b.slot(a, 1, b.u32(pid))
    b.slot(a, 2, 1 if lock else 0)
    return b


def connect_response(major, minor, build, max_networks, extra=()):
    b = Body()
    a = b.array(4 + len(extra))
    for i, v in enumerate((major, minor, build, max_networks) + tuple(extra)):
        b.slot(a, i, v)
    return b


def options_body(interfaces):
    b = Body()
    root = b.array(1)
    b.slot(root, 0, write_interface_list(b, interfaces))
    return b


def state_body(status, device_name, current, pending, processes):
    """current/pending: [(name, mac)] (pending None for none);
    processes: [(name, pid, lock)]"""
    b = Body()
    root = b.array(5)
    b.slot(root, 0, status)
    b.slot(root, 1, b.string(device_name))
    b.slot(root, 2, write_interface_set(b, current))
    b.slot(root, 3, write_interface_set(b, pending) if pending is not None else 0)
    plist = b.array(len(processes))
    for i, (name, pid, lock) in enumerate(processes):
        p = b.array(3)
        b.slot(p, 0, b.string(name))
        b.slot(p, 1, b.u32(pid))
        b.slot(p, 2, 1 if lock else 0)
        b.slot(plist, i, p)
    b.slot(root, 4, plist)
    return b


def set_config_request(interfaces=None, lock=None):
    b = Body()
    a = b.array(3)
    mask = (1 if interfaces is not None else 0) | (2 if lock is not None else 0)
    b.slot(a, 0, mask)
    if interfaces is not None:
        b.slot(a, 1, write_interface_set(b, interfaces))
    if lock is not None:
        b.slot(a, 2, 1 if lock else 0)
    return b


def read_interface_list(r, off, limit=None):
    out = []
    for ioff in r.array(off)[:limit]:
        slots = r.array(ioff)
        if len(slots) < 2:
            raise ValueError("interface with %d slots" % len(slots))
        out.append({"name": r.wstring(slots[0]), "mac": r.raw(slots[1], 6).hex(":")})
    return out


def read_interface_set(r, off):
    slots = r.array(off)
    if not slots:
        raise ValueError("interface set without slots")
    return read_interface_list(r, slots[0])


def read_state(r):
    s = r.array(0)
    if len(s) < 5:
        raise ValueError("state with %d slots" % len(s))
    procs = []
    for p in r.array(s[4]):
        ps = r.array(p)
        procs.append({"name": r.string(ps[0]), "pid": r.u32(ps[1]), "lock": ps[2]})
    return {"status": s[0], "device": r.string(s[1]), "current": read_interface_set(r, s[2]),
            "pending": read_interface_set(r, s[3]) if s[3] else None, "processes": procs}


def parse_message(data):
    """Decode any DGCP2 datagram of this protocol into a dict (for reports)."""
    h = parse_header(data)
    if h is None:
        return {"error": "short", "len_rx": len(data)}
    h["len_rx"] = len(data)
    if h["len"] != len(data):
        h["error"] = "length"
        return h
    r = Reader(data[HEADER:])
    op, st = h["op"], h["status"]
    try:
        if op == OP_CONNECT and st == ST_REQUEST:
            s = r.array(0)
            h.update(name=r.string(s[0]), pid=r.u32(s[1]), lock=s[2], slots=len(s))
        elif op == OP_CONNECT and st == ST_RESPONSE:
            h["values"] = r.array(0)
        elif op == OP_SET_CONFIG and st == ST_REQUEST:
            s = r.array(0)
            h.update(mask=s[0], lock=s[2], slots=len(s))
            h["interfaces"] = read_interface_set(r, s[1]) if s[0] & 1 else None
        elif op in (OP_STATE, OP_SET_CONFIG) and len(data) > HEADER:
            h["state"] = read_state(r)
        elif op == OP_OPTIONS:
            h["options"] = read_interface_list(r, r.array(0)[0])
    except (ValueError, IndexError, struct.error) as e:
        h["error"] = str(e)
    return h


# ------------------------------------------------------------------ the fake

class FakeCmm(UdpServer):
    header = staticmethod(parse_header)

    def __init__(self, host="127.0.0.1", port=8850, interfaces=None, current=None,
                 foreign=(), knobs=None):
        super().__init__(host, port)
        self.options = interfaces or [("eth0", "02:1d:c1:00:00:01"), ("eth1", "02:1d:c1:00:00:02")]
        names = [n for n, _ in self.options]
        self.current = self._lookup(current if current is not None else names[:1])
        self.pending = None
        self.foreign = list(foreign)       # [(name, pid, lock)]
        self.knobs = {"changing": "off", "changing_delay": 0.3, "too_many": 0, "invalid_state": 0,
                      "silent": 0, "keepalive_status": ST_RESPONSE, "early_events": 0,
                      "version": "4.2.1", "max_networks": 2, "device_name": "QUILLON-PC"}
        for k, v in (knobs or {}).items():
            self.set_knob(k, v)
        self.status = 1

    def _lookup(self, names):
        out = []
        for n in names:
            if not n:
                continue
            hit = [o for o in self.options if o[0] == n]
            out.append(hit[0] if hit else (n, "02:00:00:00:00:%02x" % (len(out) + 0x10)))
        return out

    def set_knob(self, name, value):
        if name not in self.knobs:
            raise KeyError(name)
        cur = self.knobs[name]
        if isinstance(cur, int):
            value = int(str(value), 0)
        elif isinstance(cur, float):
            value = float(value)
        self.knobs[name] = value

    def processes(self):
        own = [(c["name"], c["pid"], c["lock"]) for c in self.clients.values()]
        return own + self.foreign

    def state(self):
        return state_body(self.status, self.knobs["device_name"], self.current, self.pending,
                          self.processes())

    def to(self, addr, seq, op, status, body=b"", what=None):
        c = self.clients.get(addr, {})
        self.send_to(addr, message(seq, op, status, body, c.get("port", addr[1]), c.get("id", bytes(8))),
                  what or "0x%x/%d" % (op, status))

    def events(self, addr):
        self.to(addr, 0, OP_OPTIONS, ST_EVENT, options_body(self.options), "options")
        self.to(addr, 0, OP_STATE, ST_EVENT, self.state(), "state")

    def broadcast_state(self):
        for addr in list(self.clients):
            self.to(addr, 0, OP_STATE, ST_EVENT, self.state(), "state")

    # ---- requests
    def on_datagram(self, data, addr):
        m = parse_message(data)
        m["from"] = addr[1]
        log("RECV", m)
        if m.get("error") or self.knobs["silent"] or m["status"] != ST_REQUEST:
            return
        k, seq, op = self.knobs, m["seq"], m["op"]
        if op == OP_KEEPALIVE:
            self.to(addr, seq, OP_KEEPALIVE, k["keepalive_status"], what="keepalive")
        elif op == OP_CONNECT:
            if k["too_many"]:
                self.to(addr, seq, OP_CONNECT, ST_TOO_MANY)
                return
            self.clients[addr] = {"name": m["name"], "pid": m["pid"], "lock": m["lock"],
                                  "port": m["port"], "id": bytes.fromhex(m["client_id"])}
            if k["early_events"]:
                self.events(addr)
            major, minor, build = (int(x) for x in k["version"].split("."))
            self.to(addr, seq, OP_CONNECT, ST_RESPONSE, connect_response(major, minor, build, k["max_networks"]))
            if not k["early_events"]:
                self.events(addr)
        elif op == OP_DISCONNECT:
            self.to(addr, seq, OP_DISCONNECT, ST_RESPONSE)
            self.clients.pop(addr, None)
            self.broadcast_state()
        elif addr not in self.clients:
            self.to(addr, seq, op, ST_NOT_CONNECTED)
        elif op == OP_SET_CONFIG:
            self.set_config(addr, seq, m)
        else:
            self.to(addr, seq, op, 0x31)           # "Unrecognised opcode"

    def set_config(self, addr, seq, m):
        k = self.knobs
        new_set = None
        if m["mask"] & 1:
            new_set = self._lookup([i["name"] for i in m["interfaces"]])
        foreign_lock = any(lock for _, _, lock in self.foreign)
        if k["invalid_state"] or (new_set is not None and foreign_lock):
            self.to(addr, seq, OP_SET_CONFIG, ST_INVALID_STATE, self.state(), "set config refused")
            return
        if m["mask"] & 2:
            self.clients[addr]["lock"] = 1 if m["lock"] else 0
        if new_set is None or k["changing"] == "off":
            if new_set is not None:
                self.current = new_set
            self.to(addr, seq, OP_SET_CONFIG, ST_RESPONSE, self.state(), "set config")
            self.broadcast_state()
            return
        # pass through "Changing"
        self.status = 2
        self.pending = new_set
        if k["changing"] == "current":
            self.current = new_set
        self.to(addr, seq, OP_SET_CONFIG, ST_RESPONSE, self.state(), "set config (changing)")
        self.broadcast_state()

        def done():
            self.status, self.current, self.pending = 1, new_set, None
            self.broadcast_state()
        self.later(k["changing_delay"], done)

    # ---- commands
    def run_command(self, cmd, args):
        if cmd == "close":
            self.close()
            log("CLOSED", {})
        elif cmd == "open":
            self.open()
            log("OPENED", {"port": self.port})
        elif cmd == "set":
            self.set_knob(args[0], " ".join(args[1:]))
            log("SET", {args[0]: self.knobs[args[0]]})
        elif cmd == "options":
            for addr in list(self.clients):
                self.to(addr, 0, OP_OPTIONS, ST_EVENT, options_body(self.options), "options")
        elif cmd == "state":
            self.broadcast_state()
        elif cmd == "current":
            self.current = self._lookup(args[0].split(",") if args else [])
            self.broadcast_state()
        elif cmd == "foreign":
            name, pid, lock = args[0].split(":")
            self.foreign = [f for f in self.foreign if f[1] != int(pid)] + [(name, int(pid), int(lock))]
            self.broadcast_state()
        elif cmd == "notconn":
            for addr in list(self.clients):
                self.to(addr, 0x7777, OP_KEEPALIVE, ST_NOT_CONNECTED, what="notconn")
        elif cmd == "raw":
            for addr in list(self.clients):
                self.send_to(addr, bytes.fromhex(args[0]), "raw")
        elif cmd == "clients":
            log("CLIENTS", {str(a[1]): {"name": c["name"], "pid": c["pid"], "lock": c["lock"]}
                            for a, c in self.clients.items()})
        else:
            return False
        return True



def samples():
    """Datagrams the fake sends, for seeds and cross-checks."""
    many = [("eth%d" % i, "02:1d:c1:00:01:%02x" % i) for i in range(20)]
    two = many[:2]
    procs = [("dfa", 77, 1), ("other", 9, 0)]
    return {
        "connect_response": message(0, OP_CONNECT, ST_RESPONSE, connect_response(4, 2, 1, 2)),
        "connect_too_many": message(0, OP_CONNECT, ST_TOO_MANY),
        "options_2": message(0, OP_OPTIONS, ST_EVENT, options_body(two)),
        "options_20": message(0, OP_OPTIONS, ST_EVENT, options_body(many)),
        "state_ready": message(0, OP_STATE, ST_EVENT, state_body(1, "QUILLON-PC", two[:1], None, procs)),
        "state_changing": message(0, OP_STATE, ST_EVENT, state_body(2, "QUILLON-PC", two[:1], two[1:], procs)),
        "state_three_current": message(0, OP_STATE, ST_EVENT, state_body(1, "PC", many[:3], None, procs * 9)),
        "set_config_response": message(1, OP_SET_CONFIG, ST_RESPONSE,
                                       state_body(1, "QUILLON-PC", two[1:], None, procs)),
        "set_config_invalid_state": message(1, OP_SET_CONFIG, ST_INVALID_STATE,
                                            state_body(1, "QUILLON-PC", two[:1], None, procs)),
        "keepalive_response": message(2, OP_KEEPALIVE, ST_RESPONSE),
        "not_connected": message(0x7777, OP_KEEPALIVE, ST_NOT_CONNECTED),
    }


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=8850)
    ap.add_argument("--interface", action="append", help="NAME=MAC offered in the options")
    ap.add_argument("--options", type=int, help="offer N generated interfaces instead")
    ap.add_argument("--current", help="names of the current configuration, comma-separated")
    ap.add_argument("--foreign", action="append", default=[], help="NAME:PID:LOCK another process")
    ap.add_argument("--knob", action="append", default=[], help="NAME=VALUE")
    ap.add_argument("--not-listening", action="store_true", help="print ready, bind nothing")
    ap.add_argument("--lifetime", type=float, default=600.0)
    ap.add_argument("offline", nargs="*", metavar="decode HEX... | samples DIR",
                    help="print datagrams as DECODED json lines, or write sample messages and exit")
    a = ap.parse_args(argv)
    if a.offline:
        return offline(a.offline, parse_message, samples)
    itfs = None
    if a.options:
        itfs = [("eth%d" % i, "02:1d:c1:00:01:%02x" % i) for i in range(a.options)]
    elif a.interface:
        itfs = [tuple(x.split("=", 1)) for x in a.interface]
    current = None if a.current is None else [n for n in a.current.split(",") if n]
    foreign = [(n, int(p), int(l)) for n, p, l in (f.split(":") for f in a.foreign)]
    fake = FakeCmm(a.host, a.port, itfs, current, foreign, dict(k.split("=", 1) for k in a.knob))
    fake.install_sigterm()
    fake.run(a.lifetime, sys.stdin, listen=not a.not_listening)
    return 0


if __name__ == "__main__":
    sys.exit(main())
