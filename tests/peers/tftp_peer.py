#!/usr/bin/env python3
"""Raw TFTP peer (RFC 1350 packets) for the server tests: it does what real
clients cannot (never acknowledge, repeat, send malformed packets, go
silent) and prints a transcript of what came back, one line per event.

  tftp_peer.py HOST PORT SCENARIO ARGS... [--quiet MS] [--mode MODE]

HOST is an IPv4 or an IPv6 address ("::1"); --mode sets the mode text of
every request ("octet" by default).

Packets: RRQ/WRQ 00 01|02 name 00 mode 00; DATA 00 03 block data(0..512);
ACK 00 04 block; ERROR 00 05 code [message 00]. Numbers are big-endian.
An ACK with one byte more (00 04 block 00) shows as "ACK5 blk".

Scenarios (transcript lines in quotes):
  noack NAME WAIT_MS     read, never acknowledge: "DATA blk len t_ms" per
                         datagram (t from the first), "ERROR code hex"
  paced NAME MS          read, acknowledge one block per MS until a line
                         "finish" (or the end of input) on stdin, then at
                         once: "SIZE n MD5 hex"
  get NAME               read, acknowledge each block once: "DATA blk len",
                         then "SIZE n MD5 hex"; afterwards anything else
                         that arrives within --quiet ms
  dupack NAME            as get, but ACK 1 is sent twice
  stray NAME             as get, but before ACK 1 a second socket sends a
                         malformed ACK and an ERROR to the child's port
  badack NAME            read; answer DATA 1 with a 5-byte ACK
  garbage NAME           send datagrams that are no requests, then a read:
                         "NONE" when nothing answered the garbage
  twopeers NAME1 NAME2   two sockets ask back to back: "Pi DATA 1 len hex8"
  many N NAME WAIT_MS    N sockets ask at once: "ANSWERED k"
  twice NAME             one socket asks twice: "SOURCES k"
  put NAME SIZE SEED [--lose-ack B] [--stall B MS] [--silent-after B]
      [--abort-after B]  write SIZE bytes ((i * 7 + SEED) % 256): "ACK blk"
                         per acknowledgement, "ERROR code hex"
  baddata NAME HEX       write; answer ACK 0 with the datagram HEX
  readwrite RNAME WNAME SIZE SEED
                         a read and a write at the same time:
                         "READ n MD5 hex", "WROTE n"
"""
import hashlib
import select
import socket
import struct
import sys
import time

OP_RRQ, OP_WRQ, OP_DATA, OP_ACK, OP_ERROR = 1, 2, 3, 4, 5


MODE = [b"octet"]


def request(op, name, mode=None):
    mode = MODE[0] if mode is None else mode
    return struct.pack(">H", op) + name.encode() + b"\0" + mode + b"\0"


def ack(block):
    return struct.pack(">HH", OP_ACK, block & 0xFFFF)


def data(block, payload):
    return struct.pack(">HH", OP_DATA, block & 0xFFFF) + payload


def content(size, seed):
    return bytes((i * 7 + seed) % 256 for i in range(size))


def describe(packet):
    if len(packet) >= 4:
        op, number = struct.unpack(">HH", packet[:4])
        if op == OP_DATA:
            return "DATA %d %d" % (number, len(packet) - 4)
        if op == OP_ACK and len(packet) == 4:
            return "ACK %d" % number
        if op == OP_ACK and len(packet) == 5 and packet[4] == 0:
            return "ACK5 %d" % number
        if op == OP_ERROR:
            return "ERROR %d %s" % (number, packet.hex())
    return "OTHER %s" % packet.hex()


class Peer:
    def __init__(self, host, port, quiet_ms):
        self.server = (host, port)
        self.quiet = quiet_ms / 1000.0
        self.sock = self.make()

    def make(self):
        family = socket.AF_INET6 if ":" in self.server[0] else socket.AF_INET
        s = socket.socket(family, socket.SOCK_DGRAM)
        s.bind((self.server[0], 0))
        return s

    def recv(self, sock=None, timeout=5.0):
        """One datagram (bytes, source) or (None, None) after timeout."""
        sock = sock or self.sock
        ready, _, _ = select.select([sock], [], [], max(timeout, 0))
        if not ready:
            return None, None
        return sock.recvfrom(4096)

    def drain(self, sock=None, seconds=None):
        """Everything that arrives within the quiet window, up to an ERROR."""
        out = []
        end = time.monotonic() + (self.quiet if seconds is None else seconds)
        while True:
            packet, _ = self.recv(sock, end - time.monotonic())
            if packet is None:
                return out
            out.append(describe(packet))
            if out[-1].startswith("ERROR"):
                return out

    def read(self, name, sock=None, dup_ack1=False, stray=False):
        """A whole read; returns (lines, bytes)."""
        sock = sock or self.sock
        sock.sendto(request(OP_RRQ, name), self.server)
        lines, body, expected = [], b"", 1
        while True:
            packet, source = self.recv(sock)
            if packet is None:
                lines.append("SILENT")
                return lines, body
            lines.append(describe(packet))
            op, number = struct.unpack(">HH", packet[:4])
            if op != OP_DATA:
                return lines, body
            if number == expected & 0xFFFF:
                body += packet[4:]
                expected += 1
            if stray and number == 1:
                stranger = self.make()
                stranger.sendto(ack(1) + b"\0", source)
                stranger.sendto(struct.pack(">HH", OP_ERROR, 0) + b"x\0", source)
                time.sleep(0.03)
            sock.sendto(ack(number), source)
            if dup_ack1 and number == 1:
                sock.sendto(ack(number), source)
            if len(packet) < 516:
                return lines, body


def main():
    argv = sys.argv[1:]
    quiet_ms = 300
    if "--quiet" in argv:
        i = argv.index("--quiet")
        quiet_ms = int(argv[i + 1])
        del argv[i:i + 2]
    if "--mode" in argv:
        i = argv.index("--mode")
        MODE[0] = argv[i + 1].encode()
        del argv[i:i + 2]
    host, port, scenario, args = argv[0], int(argv[1]), argv[2], argv[3:]
    peer = Peer(host, port, quiet_ms)
    out = []

    if scenario == "noack":
        peer.sock.sendto(request(OP_RRQ, args[0]), peer.server)
        end = time.monotonic() + int(args[1]) / 1000.0
        first = None
        while time.monotonic() < end:
            packet, _ = peer.recv(timeout=end - time.monotonic())
            if packet is None:
                break
            now = time.monotonic()
            first = first if first is not None else now
            line = describe(packet)
            if line.startswith("DATA"):
                line += " %d" % round((now - first) * 1000)
            out.append(line)
            if line.startswith("ERROR"):
                break
    elif scenario == "paced":
        out += paced_read(peer, args[0], int(args[1]) / 1000.0)
    elif scenario in ("get", "dupack", "stray"):
        lines, body = peer.read(args[0], dup_ack1=scenario == "dupack", stray=scenario == "stray")
        out += lines
        out.append("SIZE %d MD5 %s" % (len(body), hashlib.md5(body).hexdigest()))
        out += peer.drain()
    elif scenario == "badack":
        peer.sock.sendto(request(OP_RRQ, args[0]), peer.server)
        packet, source = peer.recv()
        out.append(describe(packet) if packet else "SILENT")
        if packet:
            peer.sock.sendto(ack(1) + b"\0", source)
            packet, _ = peer.recv()
            out.append(describe(packet) if packet else "SILENT")
    elif scenario == "garbage":
        for junk in (b"", b"\0", b"\0\3\0\1abc", b"\0\4\0\0", b"\0\x09x\0octet\0",
                     b"\1\1x\0octet\0", b"\0\1" + b"n" * 300 + b"\0octet\0",
                     b"\0\1name-without-end", b"\0\1name\0mode-without-end",
                     b"\0\1x\0" + b"m" * 40 + b"\0"):
            peer.sock.sendto(junk, peer.server)
        extra = peer.drain()
        out += extra if extra else ["NONE"]
        lines, body = peer.read(args[0])
        out += lines
    elif scenario == "twopeers":
        socks = [peer.make(), peer.make()]
        for sock, name in zip(socks, args[:2]):
            sock.sendto(request(OP_RRQ, name), peer.server)
        for i, sock in enumerate(socks):
            packet, source = peer.recv(sock)
            if packet is None:
                out.append("P%d SILENT" % (i + 1))
                continue
            out.append("P%d %s %s" % (i + 1, describe(packet), packet[4:8].hex()))
            sock.sendto(ack(1), source)
    elif scenario == "many":
        count, name, wait = int(args[0]), args[1], int(args[2]) / 1000.0
        socks = [peer.make() for _ in range(count)]
        for sock in socks:
            sock.sendto(request(OP_RRQ, name), peer.server)
        answered = set()
        end = time.monotonic() + wait
        while time.monotonic() < end:
            ready, _, _ = select.select(socks, [], [], max(end - time.monotonic(), 0))
            for sock in ready:
                packet, _ = sock.recvfrom(4096)
                if packet[:4] == data(1, b""):
                    answered.add(sock.getsockname()[1])
        out.append("ANSWERED %d" % len(answered))
    elif scenario == "twice":
        peer.sock.sendto(request(OP_RRQ, args[0]), peer.server)
        peer.sock.sendto(request(OP_RRQ, args[0]), peer.server)
        sources = set()
        end = time.monotonic() + peer.quiet
        while time.monotonic() < end:
            packet, source = peer.recv(timeout=end - time.monotonic())
            if packet is not None and packet[:2] == b"\0\3":
                sources.add(source[1])
        out.append("SOURCES %d" % len(sources))
    elif scenario == "put":
        out += put(peer, args)
    elif scenario == "baddata":
        peer.sock.sendto(request(OP_WRQ, args[0]), peer.server)
        packet, source = peer.recv()
        out.append(describe(packet) if packet else "SILENT")
        if packet:
            peer.sock.sendto(bytes.fromhex(args[1]), source)
            packet, _ = peer.recv()
            out.append(describe(packet) if packet else "SILENT")
    elif scenario == "readwrite":
        out += read_and_write(peer, args)
    else:
        print("unknown scenario " + scenario, file=sys.stderr)
        return 2
    for line in out:
        print(line, flush=True)
    print("DONE", flush=True)
    return 0


def option(args, name, count=1):
    if name not in args:
        return None
    i = args.index(name)
    values = [int(v) for v in args[i + 1:i + 1 + count]]
    return values if count > 1 else values[0]


def put(peer, args):
    name, size, seed = args[0], int(args[1]), int(args[2])
    lose = option(args, "--lose-ack")
    stall = option(args, "--stall", 2)
    silent_after = option(args, "--silent-after")
    abort_after = option(args, "--abort-after")
    body = content(size, seed)
    # A body whose length is a multiple of 512 ends with an empty block.
    blocks = [body[i:i + 512] for i in range(0, size + 1, 512)]
    out = []
    peer.sock.sendto(request(OP_WRQ, name), peer.server)
    packet, source = peer.recv()
    if packet is None:
        return ["SILENT"]
    out.append(describe(packet))
    if packet[:4] != ack(0):
        return out
    for number, chunk in enumerate(blocks, start=1):
        if abort_after is not None and number > abort_after:
            peer.sock.sendto(struct.pack(">HH", OP_ERROR, 0) + b"stop\0", source)
            out += peer.drain()
            return out
        peer.sock.sendto(data(number, chunk), source)
        if silent_after is not None and number == silent_after:
            # Say nothing more: the server repeats its ACK, then gives up.
            out += peer.drain(seconds=30)
            return out
        packet, _ = peer.recv()
        if packet is None:
            return out + ["SILENT"]
        out.append(describe(packet))
        if lose == number:
            # This ACK is "lost": send the block again, as a client would.
            peer.sock.sendto(data(number, chunk), source)
            packet, _ = peer.recv()
            out.append(describe(packet) if packet else "SILENT")
        if stall and stall[0] == number:
            out += peer.drain(seconds=stall[1] / 1000.0)
    out += peer.drain()
    return out


def paced_read(peer, name, interval):
    """A read whose pace the peer sets: one ACK per interval, so the server
    sees steady traffic for as long as the test needs, however fast it is.
    Pacing ends on "finish" or the end of stdin, or after a minute."""
    peer.sock.sendto(request(OP_RRQ, name), peer.server)
    body, expected, paced = b"", 1, True
    give_up = time.monotonic() + 60
    while True:
        packet, source = peer.recv()
        if packet is None:
            return ["SILENT"]
        op, number = struct.unpack(">HH", packet[:4])
        if op != OP_DATA:
            return [describe(packet)]
        if number == expected & 0xFFFF:
            body += packet[4:]
            expected += 1
        due = time.monotonic() + interval
        while paced:
            left = due - time.monotonic()
            if left <= 0:
                break
            if select.select([sys.stdin], [], [], left)[0]:
                line = sys.stdin.readline()
                paced = line.strip() != "finish" and line != ""
        paced = paced and time.monotonic() < give_up
        peer.sock.sendto(ack(number), source)
        if len(packet) < 516:
            return ["SIZE %d MD5 %s" % (len(body), hashlib.md5(body).hexdigest())]


def read_and_write(peer, args):
    rname, wname, size, seed = args[0], args[1], int(args[2]), int(args[3])
    reader, writer = peer.make(), peer.make()
    reader.sendto(request(OP_RRQ, rname), peer.server)
    writer.sendto(request(OP_WRQ, wname), peer.server)
    body = content(size, seed)
    blocks = [body[i:i + 512] for i in range(0, size + 1, 512)]
    got, read_done, write_next, write_done = b"", False, 0, False
    end = time.monotonic() + 10
    while not (read_done and write_done) and time.monotonic() < end:
        ready, _, _ = select.select([reader, writer], [], [], 1)
        for sock in ready:
            packet, source = sock.recvfrom(4096)
            op, number = struct.unpack(">HH", packet[:4])
            if sock is reader and op == OP_DATA:
                if number == (len(got) // 512 + 1) & 0xFFFF:
                    got += packet[4:]
                reader.sendto(ack(number), source)
                read_done = read_done or len(packet) < 516
            elif sock is writer and op == OP_ACK and number == write_next:
                if write_next == len(blocks):
                    write_done = True
                    continue
                write_next += 1
                writer.sendto(data(write_next, blocks[write_next - 1]), source)
            elif op == OP_ERROR:
                return [describe(packet)]
    return ["READ %d MD5 %s" % (len(got), hashlib.md5(got).hexdigest()),
            "WROTE %d" % (len(body) if write_done else -1)]


if __name__ == "__main__":
    sys.exit(main())
