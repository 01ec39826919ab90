#!/usr/bin/env python3
"""A simulated Mavik unit for the tests, on the byte tables of
workgroup_peer.py: it beats, takes a management session and fetches its
firmware from the PC's file server.

  workgroup_unit.py --ifname IF --dev HEX --id TEXT [--version N]
                    [--files A,B..] [--out DIR] [--result N] [--rate R]
                    [--hold MS] [--seconds S]

- heartbeats to ff02::1 port 50000 on IF, R per second (10): model code 83,
  the device id, the id text at 68, the version word N at 28, unit state
  (status word) 0 without a session and 3 with one, the workgroup id held,
  and the session port at 134;
- listens on [::] (any port, printed "PORT n"); a connection's 1/0 is
  answered 1/1 (dev, result 0) and opens the session, 1/2 is answered 1/3
  and ends it, 1/15 sets the workgroup id held (no answer);
- 3/0: fetches the file it names, then each file of --files, from the
  address and port of the message with `tftp -6` into DIR ("FETCHED name"
  or "FETCH-FAILED name"), sends 3/1 with the percent done in byte 22
  after each file (and waits --hold ms, 0), then 3/3 with --result (0), or 0x8000 when a fetch
  failed ("FINISHED result");
- every message read is printed "MSG <describe>"; stdin "result N" sets
  --result for the next update ("RESULT n"); stdin "quit" or the time
  limit S (120) ends it.
"""
import argparse
import os
import select
import socket
import struct
import subprocess
import sys
import time

import workgroup_peer as wg

HEARTBEAT_PORT = 50000
MODEL_CODE = 83
STATE_FREE = 0
STATE_SESSION = 3


class Unit:
    def __init__(self, opts):
        self.opts = opts
        self.scope = socket.if_nametoindex(opts.ifname)
        self.held = 0
        self.session = False
        self.conn = None
        self.buf = b""
        self.beat_sock = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
        self.beat_sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF, self.scope)
        self.lst = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
        self.lst.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.lst.bind(("::", 0))
        self.lst.listen(4)
        self.port = self.lst.getsockname()[1]

    def beat(self):
        fields = [
            "model=%d" % MODEL_CODE,
            "dev=" + self.opts.dev,
            "id=" + self.opts.id,
            "v28=%d" % self.opts.version,
            "w24=256",
            "status=%d" % (STATE_SESSION if self.session else STATE_FREE),
            "port=%d" % self.port,
            "wg=%x" % self.held,
        ]
        try:
            self.beat_sock.sendto(wg.heartbeat(fields), ("ff02::1", HEARTBEAT_PORT, 0, self.scope))
        except OSError as e:
            wg.say("BEAT-FAILED %s" % e)

    def send(self, spec, fields):
        if self.conn is not None:
            wg.send_quietly(self.conn, wg.build(spec, fields))

    def drop(self):
        self.conn.close()
        self.conn = None
        self.buf = b""
        self.held = 0
        self.session = False
        wg.say("SESSION-END")

    def fetch(self, addr, port, name):
        dest = os.path.join(self.opts.out, name)
        # Only a link-local address takes the interface; tftp refuses a
        # scope on any other.
        link_local = addr.lower().startswith("fe8")
        host = "%s%%%s" % (addr, self.opts.ifname) if link_local else addr
        try:
            done = subprocess.run(
                ["tftp", "-6", "-m", "binary", host, str(port), "-c", "get", name, dest],
                capture_output=True, timeout=30)
            # tftp reports its errors as text with exit status 0.
            said = (done.stdout + done.stderr).strip()
            ok = done.returncode == 0 and os.path.exists(dest) and not said
        except subprocess.TimeoutExpired:
            ok = False
        wg.say("%s %s" % ("FETCHED" if ok else "FETCH-FAILED", name))
        return ok

    def update(self, msg):
        body = msg[20:]
        inner = struct.unpack(">I", msg[12:16])[0]
        addr = socket.inet_ntop(socket.AF_INET6, body[8:24])
        port = struct.unpack(">H", body[24:26])[0]
        description = body[28:28 + inner - 36].decode("latin-1")
        names = [description] + [f for f in self.opts.files.split(",") if f]
        ok = True
        for i, name in enumerate(names):
            ok = self.fetch(addr, port, name) and ok
            self.send("3/1", ["b22=%d" % ((i + 1) * 100 // len(names))])
            time.sleep(self.opts.hold / 1000.0)
        result = self.opts.result if ok else 0x8000
        self.send("3/3", ["result=%d" % result])
        wg.say("FINISHED %d" % result)

    def message(self, msg):
        wg.say("MSG " + wg.describe(msg))
        if len(msg) < 20:
            return
        key = (msg[16], msg[17])
        wgid = struct.unpack(">Q", msg[20:28])[0] if len(msg) >= 28 else 0
        if key == (1, 0):
            self.held = wgid
            self.session = True
            self.send("1/1", ["dev=" + self.opts.dev, "result=0"])
        elif key == (1, 15):
            self.held = wgid
        elif key == (1, 2):
            self.send("1/3", ["result=0"])
            self.held = 0
            self.session = False
        elif key == (3, 0) and len(msg) >= 48:
            self.update(msg)

    def read(self):
        try:
            data = self.conn.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.drop()
            return
        self.buf += data
        while len(self.buf) >= 8:
            total = struct.unpack(">I", self.buf[4:8])[0]
            if total < 8:
                self.buf = b""
                return
            if len(self.buf) < total:
                return
            msg, self.buf = self.buf[:total], self.buf[total:]
            self.message(msg)
            if self.conn is None:
                return

    def run(self):
        wg.say("PORT %d" % self.port)
        period = 1.0 / self.opts.rate
        next_beat = time.monotonic()
        deadline = next_beat + self.opts.seconds
        while time.monotonic() < deadline:
            now = time.monotonic()
            if now >= next_beat:
                self.beat()
                next_beat = now + period
            watch = [sys.stdin, self.lst] + ([self.conn] if self.conn else [])
            ready, _, _ = select.select(watch, [], [], max(0.0, next_beat - time.monotonic()))
            if self.conn is not None and self.conn in ready:
                self.read()
            if self.lst in ready:
                sock, _ = self.lst.accept()
                # The old connection is read to its end first, for at most
                # half a second of silence: a unit finishes the messages the
                # PC sent it (a last 1/2, then the close) before a new PC
                # connection replaces that one, whichever arrived first.
                for _ in range(64):
                    if self.conn is None or not select.select([self.conn], [], [], 0.5)[0]:
                        break
                    self.read()
                if self.conn is not None:
                    self.drop()  # a new PC connection replaces the old one
                self.conn = sock
                wg.say("CONNECTED")
            if sys.stdin in ready:
                line = os.read(sys.stdin.fileno(), 4096)
                if not line or b"quit" in line:
                    break
                if line.startswith(b"result "):
                    self.opts.result = int(line.split()[1], 0)
                    wg.say("RESULT %d" % self.opts.result)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--ifname", required=True)
    p.add_argument("--dev", required=True)
    p.add_argument("--id", required=True)
    p.add_argument("--version", type=lambda v: int(v, 0), default=0x02010000)
    p.add_argument("--files", default="")
    p.add_argument("--out", default=".")
    p.add_argument("--result", type=lambda v: int(v, 0), default=0)
    p.add_argument("--hold", type=int, default=0)
    p.add_argument("--rate", type=float, default=10.0)
    p.add_argument("--seconds", type=float, default=120.0)
    Unit(p.parse_args()).run()


if __name__ == "__main__":
    main()
