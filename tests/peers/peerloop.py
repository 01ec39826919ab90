"""Shared loop of the Dante test peers: one datagram socket, stdin command
lines, timers, a bounded lifetime and a clean end on SIGTERM."""
import heapq
import json
import os
import select
import signal
import socket
import struct
import sys
import threading
import time


_out = threading.Lock()


def log(kind, obj):
    """One report line: KIND {json}, whole even when threads report at once."""
    line = "%s %s\n" % (kind, json.dumps(obj, sort_keys=True, separators=(",", ":")))
    with _out:
        sys.stdout.write(line)
        sys.stdout.flush()


def interface_address(name):
    """IPv4 address of an interface (SIOCGIFADDR); "0.0.0.0" when it has none."""
    import fcntl
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        r = fcntl.ioctl(s.fileno(), 0x8915, struct.pack("256s", name.encode()[:15]))
        return socket.inet_ntoa(r[20:24])
    except OSError:
        return "0.0.0.0"
    finally:
        s.close()


def netns_is_initial():
    """True in the host's own network namespace (multicast peers refuse it)."""
    try:
        return os.readlink("/proc/self/ns/net") == os.readlink("/proc/1/ns/net")
    except OSError:
        return False      # /proc/1 unreadable: a user namespace of a test


def bind_udp(host, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((host, port))
    s.setblocking(False)
    return s


def guard_multicast(interface):
    if interface != "lo" and netns_is_initial():
        raise SystemExit("refusing multicast outside a test network namespace")


class PeerLoop:
    """Subclasses set self.sock (or leave it None) and implement
    on_datagram(data, addr) and command(line); idle() runs every pass."""

    def __init__(self):
        self.timers = []
        self.tick = 0
        self.stop = False
        self.sock = None

    def later(self, delay, fn):
        self.tick += 1
        heapq.heappush(self.timers, (time.monotonic() + delay, self.tick, fn))

    def on_datagram(self, data, addr):
        pass

    def run_command(self, cmd, args):
        """Returns False for a command it does not know."""
        return False

    def command(self, line):
        """One stdin line: "quit", or a command of the subclass; a bad one is
        reported as an ERROR line and changes nothing else."""
        parts = line.split()
        if not parts:
            return
        if parts[0] == "quit":
            self.stop = True
            return
        try:
            if not self.run_command(parts[0], parts[1:]):
                log("ERROR", {"command": line})
        except (IndexError, KeyError, ValueError, TypeError) as e:
            log("ERROR", {"command": line, "why": repr(e)})

    def describe(self, data):
        """Fields of a sent datagram for its SENT line."""
        return {}

    def send_to(self, addr, data, what):
        if self.sock is None:
            return
        try:
            self.sock.sendto(data, addr)
        except OSError as e:
            log("SENDERR", {"what": what, "error": str(e)})
            return
        rep = {"what": what, "len": len(data)}
        rep.update(self.describe(data))
        log("SENT", rep)

    def idle(self):
        pass

    def install_sigterm(self):
        signal.signal(signal.SIGTERM, lambda *_: setattr(self, "stop", True))

    def serve(self, lifetime, stdin=None, listen=True):
        """Runs until "quit", SIGTERM or the lifetime; every wait is 50 ms at most."""
        end = time.monotonic() + lifetime
        buf = b""
        while not self.stop and time.monotonic() < end:
            sock = self.sock if listen else None
            rd = [x for x in (sock, stdin) if x is not None]
            wait = 0.05
            if self.timers:
                wait = max(0.0, min(wait, self.timers[0][0] - time.monotonic()))
            try:
                ready, _, _ = select.select(rd, [], [], wait)
            except (OSError, ValueError):
                ready = []
            for r in ready:
                if r is stdin:
                    chunk = os.read(stdin.fileno(), 4096)
                    if not chunk:
                        stdin = None
                        continue
                    buf += chunk
                    while b"\n" in buf and not self.stop:
                        line, buf = buf.split(b"\n", 1)
                        self.command(line.decode("utf-8", "replace").strip())
                elif r is self.sock:
                    for _ in range(64):
                        try:
                            data, addr = self.sock.recvfrom(65536)
                        except OSError:
                            break          # empty, or an ICMP error from a client gone away
                        self.on_datagram(data, addr)
                        if self.sock is not r:
                            break
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                heapq.heappop(self.timers)[2]()
            self.idle()
        if self.sock is not None:
            self.sock.close()
            self.sock = None


class UdpServer(PeerLoop):
    """A peer that serves clients on one UDP port. Subclasses give header(),
    the decoder of a datagram's header (op, seq, status) for SENT lines."""

    def __init__(self, host, port):
        super().__init__()
        self.host, self.port = host, port
        self.clients = {}

    @staticmethod
    def header(data):
        return None

    def open(self):
        self.sock = bind_udp(self.host, self.port)
        self.port = self.sock.getsockname()[1]

    def close(self):
        """The service goes away: clients see their sends refused."""
        if self.sock:
            self.sock.close()
            self.sock = None
        self.clients.clear()

    def describe(self, data):
        h = self.header(data) or {}
        return {"op": h.get("op"), "seq": h.get("seq"), "status": h.get("status")}

    def run(self, lifetime=600.0, stdin=None, listen=True):
        if listen:
            self.open()
        print("ready", self.port, flush=True)
        self.serve(lifetime, stdin, listen)
        self.close()


def offline(words, decode, samples):
    """The peers' commands that need no socket: "decode HEX..." prints each
    datagram as a DECODED line, "samples DIR" writes NAME.bin files of the
    peer's messages (seeds and cross-checks) and prints "ready <count>"."""
    if words[0] == "decode":
        for h in words[1:]:
            log("DECODED", decode(bytes.fromhex(h)))
        return 0
    if words[0] == "samples" and len(words) == 2:
        import os
        os.makedirs(words[1], exist_ok=True)
        table = samples()
        for name, data in sorted(table.items()):
            with open(os.path.join(words[1], name + ".bin"), "wb") as f:
                f.write(data)
        print("ready", len(table), flush=True)
        return 0
    raise SystemExit("unknown command: " + " ".join(words))
