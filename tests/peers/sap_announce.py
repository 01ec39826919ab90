#!/usr/bin/env python3
"""Announces and deletes AES67 audio sessions with SAP (RFC 2974) packets
carrying SDP (RFC 4566) bodies, on 239.255.255.255:9875 by default, and
sends broken packets on request.

Written from the two RFCs' packet and text formats; nothing is shared with
the C++ listener.

Sessions: --session KEY=VALUE[,KEY=VALUE...] (keys of DEFAULT_SESSION:
id, version, origin, name, info, group, ttl, port, pt, bits, rate,
channels, ptime, ptp, domain, mediaclk, keywds, direction, hash) or
--sessions FILE.json (a list of such dicts). Every --interval seconds each
session is announced again (0: only at start and on command).
Commands on stdin: announce [ID], delete ID (deletion packet, stops
announcing it), rehash ID (new message id hash: a changed session),
bad KIND (one broken packet, KINDs in BAD_KINDS), big ID (an announcement
past 500 bytes), raw HEX, quit.
Multicast goes out on --interface (the origin is the session's key);
refused in the initial network namespace unless the interface is "lo".
--dest HOST:PORT sends to a unicast address instead (loopback tests).
Reports "SENT {json}" per packet; prints "ready" once the socket is set up;
ends on SIGTERM, "quit" or --lifetime.

As a module: sdp_text(session), sap_packet(...), bad_packet(kind, session),
DEFAULT_SESSION, BAD_KINDS.
"""
import argparse
import json
import socket
import struct
import sys

from peerloop import PeerLoop, guard_multicast, interface_address

GROUP, PORT = "239.255.255.255", 9875
PTYPE = b"application/sdp\0"

DEFAULT_SESSION = {
    "id": 1311738121, "version": 1311738121, "origin": "192.168.1.10", "user": "-",
    "name": "Stage Left", "info": "2 channels: Left, Right", "group": "239.69.1.10", "ttl": 32,
    "port": 5004, "pt": 96, "bits": 24, "rate": 48000, "channels": 2, "ptime": "1",
    "ptp": "00-11-22-FF-FE-33-44-55", "domain": "0", "mediaclk": 0, "keywds": "Dante",
    "direction": "recvonly", "title": "Channels 1-2", "hash": 0x1234,
}
BAD_KINDS = ("compressed", "encrypted", "version2", "ipv6", "zero_hash", "zero_origin", "ptype",
             "no_sdp", "auth_past_end", "short", "no_line_end", "out_of_order", "v1")


def session(**kw):
    s = dict(DEFAULT_SESSION)
    s.update(kw)
    return s


def sdp_text(s, extra_media=False, pad_lines=0):
    """SDP lines in the order RFC 4566 gives, CRLF-terminated."""
    lines = ["v=0",
             "o=%s %d %d IN IP4 %s" % (s["user"], s["id"], s["version"], s["origin"]),
             "s=%s" % s["name"]]
    if s.get("info"):
        lines.append("i=%s" % s["info"])
    lines += ["c=IN IP4 %s/%d" % (s["group"], s["ttl"]), "t=0 0"]
    if s.get("keywds"):
        lines.append("a=keywds:%s" % s["keywds"])
    lines.append("m=audio %d RTP/AVP %d" % (s["port"], s["pt"]))
    if s.get("title"):
        lines.append("i=%s" % s["title"])
    if s.get("direction"):
        lines.append("a=%s" % s["direction"])
    lines.append("a=rtpmap:%d L%d/%d/%d" % (s["pt"], s["bits"], s["rate"], s["channels"]))
    if s.get("ptime"):
        lines.append("a=ptime:%s" % s["ptime"])
    if s.get("ptp"):
        lines.append("a=ts-refclk:ptp=IEEE1588-2008:%s%s" % (s["ptp"], ":" + s["domain"] if s.get("domain") else ""))
    if s.get("mediaclk") is not None:
        lines.append("a=mediaclk:direct=%d" % s["mediaclk"])
    lines += ["a=x-pad:%s" % ("p" * 60) for _ in range(pad_lines)]
    if extra_media:
        lines += ["m=audio %d RTP/AVP %d" % (s["port"] + 2, s["pt"] + 1), "i=second stream",
                  "a=rtpmap:%d L16/44100/8" % (s["pt"] + 1)]
    return "".join(x + "\r\n" for x in lines).encode()


def sap_packet(hash_, origin, sdp, deletion=False, auth=b"", first=None, ptype=PTYPE, origin_bytes=None):
    """RFC 2974 header (IPv4 origin), optional authentication data (a
    multiple of 4 bytes), payload type, SDP text."""
    if len(auth) % 4:
        raise ValueError("authentication data must be whole 32-bit words")
    b0 = (0x20 | (0x04 if deletion else 0)) if first is None else first
    ob = socket.inet_aton(origin) if origin_bytes is None else origin_bytes
    return struct.pack(">BBH", b0, len(auth) // 4, hash_) + ob + auth + ptype + sdp


def bad_packet(kind, s):
    sdp = sdp_text(s)
    o, h = s["origin"], s["hash"]
    if kind == "compressed":
        return sap_packet(h, o, sdp, first=0x21)
    if kind == "encrypted":
        return sap_packet(h, o, sdp, first=0x22)
    if kind == "version2":
        return sap_packet(h, o, sdp, first=0x40)
    if kind == "ipv6":            # address-type bit with a 16-byte origin
        return sap_packet(h, o, sdp, first=0x30, origin_bytes=socket.inet_pton(socket.AF_INET6, "fd00::10"))
    if kind == "zero_hash":
        return sap_packet(0, o, sdp)
    if kind == "zero_origin":
        return sap_packet(h, "0.0.0.0", sdp)
    if kind == "ptype":
        return sap_packet(h, o, sdp, ptype=b"application/xyz\0")
    if kind == "no_sdp":
        return sap_packet(h, o, b"")
    if kind == "auth_past_end":   # 255 words of authentication data announced, 8 present
        return struct.pack(">BBH", 0x20, 255, h) + socket.inet_aton(o) + b"\0" * 8 + PTYPE[:4]
    if kind == "short":
        return sap_packet(h, o, b"")[:8]
    if kind == "no_line_end":
        return sap_packet(h, o, sdp.rstrip(b"\r\n"))
    if kind == "out_of_order":
        lines = sdp.split(b"\r\n")
        lines[1], lines[2] = lines[2], lines[1]
        return sap_packet(h, o, b"\r\n".join(lines))
    if kind == "v1":
        return sap_packet(h, o, b"v=1" + sdp[3:])
    raise ValueError("unknown kind " + kind)


class Announcer(PeerLoop):
    def __init__(self, sessions, interface="lo", group=GROUP, port=PORT, dest=None, interval=1.0):
        super().__init__()
        self.sessions = {str(s["id"]): s for s in sessions}
        self.active = set(self.sessions)
        self.interface, self.dest, self.interval = interface, dest, interval
        self.to = dest or (group, port)

    def open(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if self.dest is None:
            guard_multicast(self.interface)
            addr = interface_address(self.interface)
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 16)
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        self.sock = s

    def send(self, data, what):
        self.send_to(self.to, data, what)

    def announce(self, sid=None):
        for k in ([sid] if sid else sorted(self.active)):
            s = self.sessions[k]
            self.send(sap_packet(s["hash"], s["origin"], sdp_text(s)), "announce %s" % k)

    def run_command(self, cmd, args):
        if cmd == "announce":
            self.announce(args[0] if args else None)
        elif cmd == "delete":
            s = self.sessions[args[0]]
            self.active.discard(args[0])
            self.send(sap_packet(s["hash"], s["origin"], sdp_text(s), deletion=True), "delete %s" % args[0])
        elif cmd == "rehash":
            s = self.sessions[args[0]]
            s["hash"] = (s["hash"] + 1) & 0xFFFF or 1
            s["version"] += 1
            self.active.add(args[0])
            self.announce(args[0])
        elif cmd == "bad":
            self.send(bad_packet(args[0], next(iter(self.sessions.values()))), "bad " + args[0])
        elif cmd == "big":
            s = self.sessions[args[0]]
            self.send(sap_packet(s["hash"], s["origin"], sdp_text(s, pad_lines=8)), "big " + args[0])
        elif cmd == "raw":
            self.send(bytes.fromhex(args[0]), "raw")
        else:
            return False
        return True

    def repeat(self):
        self.announce()
        self.later(self.interval, self.repeat)

    def run(self, lifetime=600.0, stdin=None):
        self.open()
        print("ready", flush=True)
        self.announce()
        if self.interval > 0:
            self.later(self.interval, self.repeat)
        self.serve(lifetime, stdin, listen=False)


def parse_session(spec):
    d = {}
    for item in spec.split(","):
        k, _, v = item.partition("=")
        if k not in DEFAULT_SESSION:
            raise SystemExit("unknown session key " + k)
        d[k] = type(DEFAULT_SESSION[k])(int(v, 0) if isinstance(DEFAULT_SESSION[k], int) else v)
    return session(**d)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--interface", default="lo")
    ap.add_argument("--group", default=GROUP)
    ap.add_argument("--port", type=int, default=PORT)
    ap.add_argument("--dest", help="HOST:PORT instead of the group")
    ap.add_argument("--session", action="append", default=[], help="KEY=VALUE,...")
    ap.add_argument("--sessions", help="JSON file with a list of sessions")
    ap.add_argument("--interval", type=float, default=1.0, help="seconds between re-announcements (0: none)")
    ap.add_argument("--lifetime", type=float, default=600.0)
    a = ap.parse_args(argv)
    sessions = [parse_session(x) for x in a.session]
    if a.sessions:
        with open(a.sessions) as f:
            sessions += [session(**d) for d in json.load(f)]
    if not sessions:
        sessions = [session()]
    dest = None
    if a.dest:
        h, p = a.dest.rsplit(":", 1)
        dest = (h, int(p))
    an = Announcer(sessions, a.interface, a.group, a.port, dest, a.interval)
    an.install_sigterm()
    an.run(a.lifetime, sys.stdin)
    return 0


if __name__ == "__main__":
    sys.exit(main())
