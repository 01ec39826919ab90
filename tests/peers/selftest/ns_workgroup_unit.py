"""The simulated Mavik unit inside a fresh network namespace (started by
test_workgroup_unit): its heartbeats on ff02::1, its session answers and a
firmware fetch from a small TFTP server on [::1]."""
import os
import queue
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

import workgroup_peer as wg
from selftest.peerproc import PEERS

DEV = 0xA1B2C3D4E5F60000
OWN = 0x0251000000010000
TEXT = "J001-Valdor-Mavik-D-A1B2C3"
IFNAME = "wgu0"  # one end of the namespace's veth pair


def serve_tftp(files):
    """Serves RRQs for the names in files (octet, lock-step) until closed;
    unknown names get ERROR 1. Returns (socket, port)."""
    lst = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    lst.bind(("::1", 0))

    def transfer(name, client):
        s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
        s.settimeout(2)
        data = files.get(name)
        if data is None:
            s.sendto(b"\0\5\0\1no such file\0", client)
            return
        block = 1
        while True:
            chunk = data[(block - 1) * 512:block * 512]
            s.sendto(struct.pack(">HH", 3, block) + chunk, client)
            ack = s.recv(16)
            if ack[:4] != struct.pack(">HH", 4, block) or len(chunk) < 512:
                return
            block += 1

    def loop():
        while True:
            try:
                req, client = lst.recvfrom(1024)
            except OSError:
                return
            if req[:2] == b"\0\1":
                transfer(req[2:].split(b"\0")[0].decode(), client)

    threading.Thread(target=loop, daemon=True).start()
    return lst, lst.getsockname()[1]


class UnitProcess:
    def __init__(self, *args):
        self.out = tempfile.mkdtemp()
        self.proc = subprocess.Popen(
            [sys.executable, "-u", os.path.join(PEERS, "workgroup_unit.py"), "--ifname", IFNAME,
             "--dev", "%x" % DEV, "--id", TEXT, "--version", "0x02010000", "--out", self.out,
             "--rate", "20", "--seconds", "30", *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()
        self.port = int(self.expect("PORT ").split()[1])

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def expect(self, prefix, timeout=5.0):
        while True:
            line = self.lines.get(timeout=timeout)
            if line.startswith(prefix):
                return line

    def stop(self):
        self.proc.stdin.write("quit\n")
        self.proc.stdin.close()
        status = self.proc.wait(5)
        self.proc.stdout.close()
        return status


def beats():
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("::", 50000))
    mreq = socket.inet_pton(socket.AF_INET6, "ff02::1") + struct.pack("=I", socket.if_nametoindex(IFNAME))
    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP, mreq)
    s.settimeout(3)
    return s


def fields(datagram):
    """model, version word, status, session port, held workgroup id, id text."""
    model = struct.unpack(">H", datagram[20:22])[0]
    version = struct.unpack(">I", datagram[28:32])[0]
    held = struct.unpack(">Q", datagram[44:52])[0]
    status, port = struct.unpack(">HH", datagram[132:136])
    text = datagram[68:132].decode("utf-16-le").rstrip("\0")
    return model, version, status, port, held, text


def message(cls, cmd, body):
    total = 20 + len(body)
    return wg.header(total, total - 12, cls, cmd) + body


def read_message(sock):
    head = b""
    while len(head) < 8:
        head += sock.recv(8 - len(head))
    total = struct.unpack(">I", head[4:8])[0]
    msg = head
    while len(msg) < total:
        msg += sock.recv(total - len(msg))
    return msg


class Unit(unittest.TestCase):
    def setUp(self):
        self.listener = beats()
        self.addCleanup(self.listener.close)

    def next_beat(self):
        return fields(self.listener.recv(2048))

    def beat_with(self, status, held):
        """The first heartbeat with this unit state and held id (beats sent
        before the change may still be queued)."""
        for _ in range(40):
            beat = self.next_beat()
            if beat[2] == status and beat[4] == held:
                return beat
        self.fail("no heartbeat with state %d and id %x: last %r" % (status, held, beat))

    def test_beats_and_session(self):
        unit = UnitProcess()
        self.addCleanup(shutil.rmtree, unit.out)
        try:
            self.assertEqual(self.next_beat(), (83, 0x02010000, 0, unit.port, 0, TEXT))
            conn = socket.create_connection(("::1", unit.port), timeout=3)
            self.addCleanup(conn.close)
            conn.sendall(message(1, 0, struct.pack(">QHHHH", OWN, 256, 0, 1, 0)))
            reply = read_message(conn)
            self.assertEqual((reply[16], reply[17]), (1, 1))
            self.assertEqual(struct.unpack(">QH", reply[20:30]), (DEV, 0))
            unit.expect("MSG 1/0")
            self.assertEqual(self.beat_with(3, OWN)[3], unit.port)
            conn.sendall(message(1, 15, struct.pack(">Q", 0)))
            unit.expect("MSG 1/15")
            self.beat_with(3, 0)  # 1/15 sets the id held
            conn.sendall(message(1, 2, struct.pack(">Q", OWN)))
            reply = read_message(conn)
            self.assertEqual((reply[16], reply[17], reply[20:22]), (1, 3, b"\0\0"))
            unit.expect("MSG 1/2")
            self.beat_with(0, 0)  # the session ended
        finally:
            self.assertEqual(unit.stop(), 0)

    def update(self, files, served):
        server, port = serve_tftp(served)
        self.addCleanup(server.close)
        unit = UnitProcess("--files", ",".join(files))
        self.addCleanup(shutil.rmtree, unit.out)
        conn = socket.create_connection(("::1", unit.port), timeout=10)
        self.addCleanup(conn.close)
        name = b"updater_contents.xml"
        pad = (4 - (len(name) + 28) % 4) % 4
        body = struct.pack(">Q", OWN) + socket.inet_pton(socket.AF_INET6, "::1") + struct.pack(">HH", port, 0)
        msg = message(3, 0, body + name + bytes(pad))
        msg = msg[:12] + struct.pack(">I", 36 + len(name)) + msg[16:]
        conn.sendall(msg)
        replies = []
        while not replies or replies[-1][:2] != (3, 3):
            r = read_message(conn)
            replies.append((r[16], r[17], r[20:22], r[22]))
        self.assertEqual(unit.stop(), 0)
        return unit.out, replies

    def test_update_fetches_and_reports(self):
        served = {"updater_contents.xml": b"<mavik-d/>\n", "main.bin": bytes(range(256)) * 9}
        out, replies = self.update(["main.bin"], served)
        self.assertEqual(replies, [(3, 1, b"\0\0", 50), (3, 1, b"\0\0", 100), (3, 3, b"\0\0", 0)])
        for name, data in served.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def test_missing_file_fails_the_update(self):
        out, replies = self.update(["absent.bin"], {"updater_contents.xml": b"x"})
        self.assertEqual(replies[-1][:3], (3, 3, b"\x80\0"))


if __name__ == "__main__":
    unittest.main()
