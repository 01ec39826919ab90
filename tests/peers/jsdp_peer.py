#!/usr/bin/env python3
"""Independent JSDP discovery peer for the tests.

Datagram layout (all numbers big-endian):
  0  4  tag "JSDP"
  4  2  L = total length - 6
  6  1  flags: 0x80 from a responder, 0 from an announcer
  7  1  address kind: 6 IPv6, else IPv4 (4 is sent)
  8 16  sender interface address (IPv4: 4 bytes + 12 zero bytes)
 24  6  MAC
 30  1  n, service type length
 31  n  service type
 31+n 2 m, payload length (at most 1024)
 33+n m payload

Modes:
  announce  send an announcer packet (with --responder: a responder packet)
            every --period ms to the group (or to --to), print every packet
            heard
  respond   answer every announcer packet heard with a responder packet sent
            to its sender, print every packet heard
  listen    only print what is heard
  burst     send --count copies of the packet (with --vary, each from a
            different MAC and payload) as fast as possible, then stop
  raw       send the hex datagrams given with --raw, in order, then stop

Printed lines (flushed): "READY" once the socket is bound, then one
"HEARD <flags> <kind> <address> <mac> <type> <payload-hex> <sender-ip> <sender-port>"
per valid packet heard, "BAD <length>" per datagram that is no valid packet,
"SENT <count>" when a burst or raw run is done.
"""
import argparse
import select
import socket
import struct
import sys
import time

TAG = b"JSDP"


def build(flags, address, mac, service_type, payload):
    body = struct.pack(">BB", flags, 4)
    body += socket.inet_aton(address) + bytes(12)
    body += mac
    body += struct.pack(">B", len(service_type)) + service_type
    body += struct.pack(">H", len(payload)) + payload
    return TAG + struct.pack(">H", len(body)) + body


def parse(data):
    """Returns (flags, kind, address, mac, type, payload) or None."""
    if len(data) < 34 or len(data) > 1312 or data[:4] != TAG:
        return None
    (length,) = struct.unpack_from(">H", data, 4)
    if length != len(data) - 6:
        return None
    flags, kind = data[6], data[7]
    if kind == 6:
        address = socket.inet_ntop(socket.AF_INET6, data[8:24])
    else:
        address = socket.inet_ntoa(data[8:12])
    mac = data[24:30]
    n = data[30]
    if 31 + n + 2 > len(data):
        return None
    service_type = data[31:31 + n]
    (m,) = struct.unpack_from(">H", data, 31 + n)
    if m > 1024 or 33 + n + m > len(data):
        return None
    payload = data[33 + n:33 + n + m]
    return flags, kind, address, mac, service_type, payload


def mac_bytes(text):
    return bytes(int(part, 16) for part in text.split(":"))


def mac_text(raw):
    return ":".join("%02x" % b for b in raw)


def open_socket(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", args.port))
    if args.group and args.group != "none":
        mreq = socket.inet_aton(args.group) + socket.inet_aton(args.address)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(args.address))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    return sock


def report(data, sender):
    fields = parse(data)
    if fields is None:
        print("BAD %d" % len(data), flush=True)
        return None
    flags, kind, address, mac, service_type, payload = fields
    print("HEARD %d %d %s %s %s %s %s %d" % (flags, kind, address, mac_text(mac),
                                              service_type.decode("latin-1") or "-",
                                              payload.hex() or "-", sender[0], sender[1]), flush=True)
    return fields


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=["announce", "respond", "listen", "burst", "raw"])
    p.add_argument("--address", required=True, help="own interface address")
    p.add_argument("--mac", default="02:51:00:00:00:02")
    p.add_argument("--port", type=int, default=54330)
    p.add_argument("--group", default="239.192.0.64")
    p.add_argument("--to", help="destination address instead of the group")
    p.add_argument("--type", default="_jpa-scp")
    p.add_argument("--payload", default="")
    p.add_argument("--block", nargs=3, metavar=("MAKER", "MODEL", "UNITID"),
                   help="payload: the units' text block, three strings of one length byte each")
    p.add_argument("--period", type=int, default=200, help="ms")
    p.add_argument("--seconds", type=float, default=20.0, help="run time limit")
    p.add_argument("--count", type=int, default=1)
    p.add_argument("--vary", action="store_true", help="a new MAC (burst) or payload (announce) each time")
    p.add_argument("--responder", action="store_true", help="announce with the responder flag")
    p.add_argument("--raw", action="append", default=[])
    p.add_argument("--gap", type=int, default=20, help="ms between raw datagrams")
    args = p.parse_args()

    payload = args.payload.encode()
    if args.block:
        payload = b"".join(bytes([len(t.encode())]) + t.encode() for t in args.block)
    sock = open_socket(args)
    destination = (args.to or args.group, args.port)
    flags = 0x80 if args.mode == "respond" or args.responder else 0
    own = build(flags, args.address, mac_bytes(args.mac), args.type.encode(), payload)
    print("READY", flush=True)

    if args.mode == "burst":
        sent = 0
        for i in range(args.count):
            packet = own
            if args.vary:
                mac = mac_bytes(args.mac)[:4] + struct.pack(">H", i & 0xFFFF)
                packet = build(0, args.address, mac, args.type.encode(), b"%s#%d" % (args.payload.encode(), i))
            while True:
                try:
                    sock.sendto(packet, destination)
                    break
                except BlockingIOError:
                    time.sleep(0.001)
            sent += 1
        print("SENT %d" % sent, flush=True)
        return 0
    if args.mode == "raw":
        for text in args.raw:
            sock.sendto(bytes.fromhex(text), destination)
            time.sleep(args.gap / 1000.0)
        print("SENT %d" % len(args.raw), flush=True)
        return 0

    end = time.monotonic() + args.seconds
    next_send = time.monotonic()
    announced = 0
    while True:
        now = time.monotonic()
        if now >= end:
            return 0
        if args.mode == "announce" and now >= next_send:
            packet = own
            if args.vary:
                announced += 1
                packet = build(flags, args.address, mac_bytes(args.mac), args.type.encode(),
                               b"%s#%d" % (args.payload.encode(), announced))
            sock.sendto(packet, destination)
            next_send = now + args.period / 1000.0
        wait = min(end, next_send if args.mode == "announce" else end) - now
        ready, _, _ = select.select([sock], [], [], max(wait, 0))
        if not ready:
            continue
        data, sender = sock.recvfrom(4096)
        if sender[0] == args.address:
            continue
        fields = report(data, sender)
        if args.mode == "respond" and fields is not None and not (fields[0] & 0x80):
            sock.sendto(own, sender)


if __name__ == "__main__":
    sys.exit(main())
