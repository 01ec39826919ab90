#!/usr/bin/env python3
"""A small multicast DNS responder (DNS-SD service advertisements) for the
cases a full daemon will not play: short TTLs, answers split over several
packets, SRV before TXT, malformed packets, silence, floods.

Written from the DNS message format (RFC 1035) and the mDNS/DNS-SD rules
(RFC 6762, RFC 6763); nothing is shared with the C++ querier.

It binds 0.0.0.0:PORT (SO_REUSEADDR, SO_REUSEPORT), joins 224.0.0.251 on
the given interface, and answers PTR, SRV, TXT, A and ANY questions for its
services (type enumeration "_services._dns-sd._udp.local" too). Queries from a
port other than PORT get a legacy unicast answer (query id and question
echoed, TTL at most 10) to their source; others are answered on the group.
Multicast is refused in the initial network namespace unless the interface is
"lo": run it inside the test's namespace.

Services: --service TYPE/INSTANCE/PORT[/HOST[/ADDR[/k=v;k=v...]]]
(TYPE like _netaudio-cmc._udp) or --services FILE.json (list of dicts with
type, instance, port, host, address, txt [strings]).
Knobs (--knob NAME=VALUE or "set NAME VALUE"):
  ttl=N           TTL of every record (default: 4500 shared, 120 unique)
  answer=all|ptr|none   ptr: PTR questions only, without additional
                  records (resolves stay silent)
  split=0|1       one record a packet, in split_order
  split_order=ptr,srv,a,txt   kinds and order of split packets
  split_delay=S   pause between split packets (default 0.05)
  announce=0|1    announce every service at start (twice, 1 s apart)
Commands on stdin: announce [INSTANCE], goodbye [INSTANCE] (TTL 0),
add TYPE/INSTANCE/PORT[/...], remove INSTANCE (goodbye, then forget),
flood N TYPE (announce N generated instances), malformed KIND (KIND: loop,
forward, label64, rdlength, cut, longname, badtxt), raw HEX, set KNOB VALUE,
quit. Reports: "QUERY {json}" per query, "SENT {json}" per packet.
Prints "ready <port>" when listening; ends on SIGTERM, "quit" or --lifetime.

As a module: Writer (message builder with name compression), encode_name(),
parse_message(), Service, records_for(), response(), malformed_packet().
"""
import argparse
import json
import socket
import struct
import sys

from peerloop import PeerLoop, guard_multicast, interface_address, log

GROUP = "224.0.0.251"
PORT = 5353
T_A, T_PTR, T_TXT, T_SRV, T_ANY = 1, 12, 16, 33, 255
IN, FLUSH, QU = 1, 0x8000, 0x8000
ENUM = ["_services", "_dns-sd", "_udp", "local"]
TYPE_NAMES = {T_A: "A", T_PTR: "PTR", T_TXT: "TXT", T_SRV: "SRV", T_ANY: "ANY"}


def labels(text):
    """"_netaudio-cmc._udp.local" -> label list (no escapes needed here)."""
    return [x for x in text.rstrip(".").split(".") if x]


def lower(name):
    return [x.lower() for x in name]


# ------------------------------------------------------------------- codec

def encode_name(name, table=None, at=0):
    """Labels -> wire bytes; with a table, known suffixes become pointers and
    new suffixes below 0x3FFF are remembered at their offset."""
    out = bytearray()
    for i in range(len(name)):
        key = tuple(lower(name[i:]))
        if table is not None and key in table:
            out += struct.pack(">H", 0xC000 | table[key])
            return bytes(out)
        if table is not None and at + len(out) < 0x3FFF:
            table[key] = at + len(out)
        raw = name[i].encode()
        if not 0 < len(raw) <= 63:
            raise ValueError("label length %d" % len(raw))
        out += bytes([len(raw)]) + raw
    return bytes(out + b"\0")


class Writer:
    """One DNS message; answers, authority and additional records in order."""

    def __init__(self, ident=0, flags=0x8400, compress=True):
        self.ident, self.flags = ident, flags
        self.body = bytearray()
        self.table = {} if compress else None
        self.counts = [0, 0, 0, 0]

    def name(self, name):
        self.body += encode_name(name, self.table, 12 + len(self.body))

    def question(self, name, qtype, qclass=IN):
        self.name(name)
        self.body += struct.pack(">HH", qtype, qclass)
        self.counts[0] += 1

    def record(self, section, rr):
        name, rtype, rclass, ttl, data = rr
        self.name(name)
        self.body += struct.pack(">HHI", rtype, rclass, ttl)
        at = len(self.body)
        self.body += b"\0\0"
        if rtype == T_PTR:
            self.name(data)
        elif rtype == T_SRV:
            prio, weight, port, target = data
            self.body += struct.pack(">HHH", prio, weight, port)
            self.name(target)
        elif rtype == T_TXT:
            self.body += txt_bytes(data)
        elif rtype == T_A:
            self.body += socket.inet_aton(data)
        else:
            self.body += bytes(data)
        struct.pack_into(">H", self.body, at, len(self.body) - at - 2)
        self.counts[section] += 1

    def bytes(self):
        return struct.pack(">HHHHHH", self.ident, self.flags, *self.counts) + bytes(self.body)


def txt_bytes(strings):
    if not strings:
        return b"\0"
    out = bytearray()
    for s in strings:
        raw = s.encode() if isinstance(s, str) else bytes(s)
        if len(raw) > 255:
            raise ValueError("TXT string too long")
        out += bytes([len(raw)]) + raw
    return bytes(out)


def read_name(data, off, limit=128):
    """Decode a possibly compressed name; returns (labels, offset after it).
    Pointers must point backwards; at most limit hops."""
    out, end, hops, total = [], None, 0, 0
    while True:
        if off >= len(data):
            raise ValueError("name runs past the packet")
        n = data[off]
        if n & 0xC0 == 0xC0:
            if off + 1 >= len(data):
                raise ValueError("cut pointer")
            ptr = ((n & 0x3F) << 8) | data[off + 1]
            if end is None:
                end = off + 2
            if ptr >= off or hops >= limit:
                raise ValueError("pointer loop or forward pointer")
            hops += 1
            off = ptr
            continue
        if n & 0xC0:
            raise ValueError("label type 0x%x" % n)
        if n == 0:
            return out, (end if end is not None else off + 1)
        if off + 1 + n > len(data):
            raise ValueError("label runs past the packet")
        total += n + 1
        if total > 255:
            raise ValueError("name longer than 255")
        out.append(data[off + 1:off + 1 + n].decode("utf-8", "replace"))
        off += 1 + n


def parse_message(data):
    """Header, questions and records of a DNS message (for reports and tests)."""
    if len(data) < 12:
        raise ValueError("short header")
    ident, flags, qd, an, ns, ar = struct.unpack_from(">HHHHHH", data)
    m = {"id": ident, "flags": flags, "questions": [], "records": []}
    off = 12
    for _ in range(qd):
        name, off = read_name(data, off)
        if off + 4 > len(data):
            raise ValueError("cut question")
        qt, qc = struct.unpack_from(">HH", data, off)
        off += 4
        m["questions"].append({"name": ".".join(name), "type": qt, "qu": bool(qc & QU)})
    for section, count in (("an", an), ("ns", ns), ("ar", ar)):
        for _ in range(count):
            name, off = read_name(data, off)
            if off + 10 > len(data):
                raise ValueError("cut record")
            rt, rc, ttl, rdl = struct.unpack_from(">HHIH", data, off)
            off += 10
            if off + rdl > len(data):
                raise ValueError("rdlength past the packet")
            rd = data[off:off + rdl]
            r = {"section": section, "name": ".".join(name), "type": rt, "flush": bool(rc & FLUSH),
                 "ttl": ttl}
            if rt == T_PTR:
                r["target"] = ".".join(read_name(data, off)[0])
            elif rt == T_SRV:
                r["port"] = struct.unpack_from(">H", rd, 4)[0]
                r["target"] = ".".join(read_name(data, off + 6)[0])
            elif rt == T_TXT:
                r["txt"], i = [], 0
                while i < len(rd):
                    if i + 1 + rd[i] > len(rd):
                        raise ValueError("TXT string past its rdata")
                    r["txt"].append(rd[i + 1:i + 1 + rd[i]].decode("utf-8", "replace"))
                    i += 1 + rd[i]
            elif rt == T_A:
                r["address"] = socket.inet_ntoa(rd)
            m["records"].append(r)
            off += rdl
    return m


# ---------------------------------------------------------------- services

class Service:
    def __init__(self, stype, instance, port, host=None, address="127.0.0.1", txt=()):
        self.type = labels(stype) + (["local"] if not stype.rstrip(".").endswith("local") else [])
        self.instance = instance
        self.port = int(port)
        self.host = host or instance.replace(".", "-").replace(" ", "-")[:40]
        self.address = address
        self.txt = list(txt)

    @property
    def full(self):
        return [self.instance] + self.type

    @property
    def target(self):
        return [self.host, "local"]

    @classmethod
    def parse(cls, spec, default_address="127.0.0.1"):
        parts = spec.split("/")
        stype, inst, port = parts[0], parts[1], parts[2]
        host = parts[3] if len(parts) > 3 and parts[3] else None
        addr = parts[4] if len(parts) > 4 and parts[4] else default_address
        txt = parts[5].split(";") if len(parts) > 5 and parts[5] else []
        return cls(stype, inst, port, host, addr, txt)


def records_for(s, kinds=("ptr", "srv", "txt", "a"), ttl=None, goodbye=False):
    """Resource records of one service, as (kind, rr) pairs."""
    def t(default):
        return 0 if goodbye else (default if ttl is None else ttl)
    out = []
    if "ptr" in kinds:
        out.append(("ptr", (s.type, T_PTR, IN, t(4500), s.full)))
    if "srv" in kinds:
        out.append(("srv", (s.full, T_SRV, IN | FLUSH, t(120), (0, 0, s.port, s.target))))
    if "txt" in kinds:
        out.append(("txt", (s.full, T_TXT, IN | FLUSH, t(4500), s.txt)))
    if "a" in kinds:
        out.append(("a", (s.target, T_A, IN | FLUSH, t(120), s.address)))
    return out


def response(answers, additional=(), ident=0, questions=(), legacy=False):
    w = Writer(ident)
    for q in questions:
        w.question(*q)
    for rr in answers:
        w.record(1, _legacy(rr) if legacy else rr)
    for rr in additional:
        w.record(3, _legacy(rr) if legacy else rr)
    return w.bytes()


def _legacy(rr):
    name, rtype, rclass, ttl, data = rr
    return (name, rtype, rclass & ~FLUSH, min(ttl, 10), data)


def malformed_packet(kind, s):
    """A response about service s broken in one way."""
    ptr_name = encode_name(s.type)
    head = struct.pack(">HHHHHH", 0, 0x8400, 0, 1, 0, 0)
    if kind == "cut":
        return head[:8]
    if kind == "loop":            # the answer's name points at itself
        return head + struct.pack(">H", 0xC00C) + struct.pack(">HHIH", T_PTR, IN, 120, 2) + b"\xc0\x0c"
    if kind == "forward":         # a pointer to a later offset
        return head + struct.pack(">H", 0xC000 | 14) + struct.pack(">HHIH", T_PTR, IN, 120, 2) + b"\xc0\x0c"
    if kind == "label64":
        return head + b"\x40" + b"a" * 64 + b"\0" + struct.pack(">HHIH", T_PTR, IN, 120, 2) + b"\xc0\x0c"
    if kind == "longname":
        name = (b"\x3f" + b"b" * 63) * 5 + b"\0"
        return head + name + struct.pack(">HHIH", T_A, IN, 120, 4) + b"\x7f\0\0\1"
    if kind == "rdlength":
        return head + ptr_name + struct.pack(">HHIH", T_PTR, IN, 120, 400) + encode_name(s.full)
    if kind == "badtxt":          # a TXT string length running past its rdata
        return head + encode_name(s.full) + struct.pack(">HHIH", T_TXT, IN | FLUSH, 120, 4) + b"\x09id="
    raise ValueError("unknown kind " + kind)


# ---------------------------------------------------------------- the peer

class Responder(PeerLoop):
    def __init__(self, services, interface="lo", port=PORT, knobs=None, dest=None):
        super().__init__()
        self.services = list(services)
        self.interface, self.port = interface, port
        self.knobs = {"ttl": -1, "answer": "all", "split": 0, "split_order": "ptr,srv,a,txt",
                      "split_delay": 0.05, "announce": 1}
        for k, v in (knobs or {}).items():
            self.set_knob(k, v)
        self.dest = dest

    def set_knob(self, name, value):
        cur = self.knobs[name]
        self.knobs[name] = type(cur)(value) if not isinstance(cur, int) else int(str(value), 0)

    def ttl(self):
        return None if self.knobs["ttl"] < 0 else self.knobs["ttl"]

    def open(self):
        idx = socket.if_nametoindex(self.interface)
        addr = interface_address(self.interface)
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        s.bind(("0.0.0.0", self.port))
        self.port = s.getsockname()[1]
        if self.dest is None:
            guard_multicast(self.interface)
            s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                         socket.inet_aton(GROUP) + struct.pack("=II", 0, idx))
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
            s.setsockopt(socket.IPPROTO_IP, 49, 0)        # IP_MULTICAST_ALL off
        s.setblocking(False)
        self.sock = s
        for svc in self.services:
            if svc.address == "auto":
                svc.address = addr

    def send(self, data, to=None, what=""):
        self.send_to(to or self.dest or (GROUP, self.port), data, what)

    def find(self, instance):
        return [s for s in self.services if instance in (None, s.instance)]

    def announce(self, instance=None, goodbye=False):
        for s in self.find(instance):
            rrs = [rr for _, rr in records_for(s, ttl=self.ttl(), goodbye=goodbye)]
            self.send(response(rrs), what=("goodbye " if goodbye else "announce ") + s.instance)

    # ---- queries
    def answer(self, q, svc):
        """(answers, additional) as kind-tagged records for one question."""
        name, qt = lower(labels(q["name"])), q["type"]
        ans, add = [], []
        ttl = self.ttl()
        if name == lower(ENUM) and qt in (T_PTR, T_ANY):
            for t in sorted({tuple(s.type) for s in svc}):
                ans.append(("ptr", (ENUM, T_PTR, IN, 4500 if ttl is None else ttl, list(t))))
        for s in svc:
            if name == lower(s.type) and qt in (T_PTR, T_ANY):
                r = records_for(s, ttl=ttl)
                ans += r[:1]
                if self.knobs["answer"] == "all":
                    add += r[1:]
            elif name == lower(s.full) and self.knobs["answer"] == "all":
                kinds = {T_SRV: ("srv",), T_TXT: ("txt",), T_ANY: ("srv", "txt")}.get(qt, ())
                ans += records_for(s, kinds, ttl)
                if kinds:
                    add += records_for(s, ("a",), ttl)
            elif name == lower(s.target) and qt in (T_A, T_ANY) and self.knobs["answer"] == "all":
                ans += records_for(s, ("a",), ttl)
        return ans, add

    def on_datagram(self, data, src):
        try:
            m = parse_message(data)
        except ValueError as e:
            log("BADQUERY", {"from": "%s:%d" % src, "error": str(e)})
            return
        if m["flags"] & 0x8000:
            return                         # a response from someone else
        log("QUERY", {"from": "%s:%d" % src, "id": m["id"], "questions": m["questions"]})
        if self.knobs["answer"] == "none":
            return
        ans, add = [], []
        for q in m["questions"]:
            a, b = self.answer(q, self.services)
            ans += a
            add += [x for x in b if x not in add]
        if not ans:
            return
        legacy = src[1] != self.port
        to = src if legacy or any(q["qu"] for q in m["questions"]) else None
        qs = [(labels(q["name"]), q["type"]) for q in m["questions"]] if legacy else ()
        ident = m["id"] if legacy else 0
        if not self.knobs["split"]:
            self.send(response([rr for _, rr in ans], [rr for _, rr in add], ident, qs, legacy), to, "answer")
            return
        every = ans + add
        step = 0
        for kind in self.knobs["split_order"].split(","):
            for k, rr in every:
                if k != kind:
                    continue
                pkt = response([rr], (), ident, qs, legacy)
                self.later(step * self.knobs["split_delay"],
                           lambda pkt=pkt, kind=kind: self.send(pkt, to, "split " + kind))
                step += 1

    # ---- commands
    def run_command(self, cmd, args):
        if cmd == "announce":
            self.announce(args[0] if args else None)
        elif cmd == "goodbye":
            self.announce(args[0] if args else None, goodbye=True)
        elif cmd == "add":
            s = Service.parse(" ".join(args))
            self.services.append(s)
            self.announce(s.instance)
        elif cmd == "remove":
            self.announce(args[0], goodbye=True)
            self.services = [s for s in self.services if s.instance != args[0]]
        elif cmd == "flood":
            n, stype = int(args[0]), args[1]
            for i in range(n):
                s = Service(stype, "flood-%03d" % i, 4440 + i, txt=["id=%016x" % (0x1dc1000000 + i),
                                                                     "process=1"])
                self.services.append(s)
                self.announce(s.instance)
        elif cmd == "malformed":
            self.send(malformed_packet(args[0], self.services[0]), what="malformed " + args[0])
        elif cmd == "raw":
            self.send(bytes.fromhex(args[0]), what="raw")
        elif cmd == "set":
            self.set_knob(args[0], args[1])
            log("SET", {args[0]: self.knobs[args[0]]})
        else:
            return False
        return True

    def run(self, lifetime=600.0, stdin=None):
        self.open()
        print("ready", self.port, flush=True)
        if self.knobs["announce"]:
            self.announce()
            self.later(1.0, self.announce)
        self.serve(lifetime, stdin)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--interface", default="lo", help="interface to join the group on")
    ap.add_argument("--port", type=int, default=PORT)
    ap.add_argument("--service", action="append", default=[],
                    help="TYPE/INSTANCE/PORT[/HOST[/ADDR|auto[/k=v;k=v]]]")
    ap.add_argument("--services", help="JSON file with a list of services")
    ap.add_argument("--knob", action="append", default=[], help="NAME=VALUE")
    ap.add_argument("--dest", help="HOST:PORT to send to instead of the group (tests on loopback)")
    ap.add_argument("--lifetime", type=float, default=600.0)
    a = ap.parse_args(argv)
    services = [Service.parse(x, "auto") for x in a.service]
    if a.services:
        with open(a.services) as f:
            services += [Service(d["type"], d["instance"], d["port"], d.get("host"),
                                 d.get("address", "auto"), d.get("txt", ())) for d in json.load(f)]
    dest = None
    if a.dest:
        h, p = a.dest.rsplit(":", 1)
        dest = (h, int(p))
    r = Responder(services, a.interface, a.port, dict(k.split("=", 1) for k in a.knob), dest)
    r.install_sigterm()
    r.run(a.lifetime, sys.stdin)
    return 0


if __name__ == "__main__":
    sys.exit(main())
