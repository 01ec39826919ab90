"""recovery_unit.py against request bytes written out by hand from the
recovery protocol's tables."""
import hashlib
import os
import socket
import struct
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FF = bytes([0xFF] * 6)
PC = bytes.fromhex("020000000001")

# Secure pathway: command 1, class 8000, d 0, e 0, three parameters
# {01 01}, empty string, empty string.
SECURE = bytes.fromhex("0001 00 8000 0000 0000 0001 82 0003 0101 8000000000 8000000000 05 0e".replace(" ", ""))


def bsum(data):
    return sum(data) & 0xFF


def stuff(frame):
    return b"\xc0" + frame.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"


def frames(msg, kind=0, dst=FF):
    out = []
    for offset in range(0, len(msg), 1024):
        piece = msg[offset:offset + 1024]
        f = struct.pack(">HH", len(piece) + 25, kind) + dst + PC + b"\0\0" + struct.pack(">II", len(msg), offset)
        f += piece
        out.append(stuff(f + bytes([bsum(f[2:])])))
    return out


def request(cmd, cls, d, e, params, count):
    head = struct.pack(">HBHHHH", cmd, 0, cls, d, e, 1)
    head += bytes([bsum(head)])
    body = struct.pack(">H", count) + params
    m = head + body + bytes([bsum(body)])
    return m + bytes([bsum(m)])


def string(b):
    return b"\x80" + struct.pack(">I", len(b)) + b


class Unit:
    def __init__(self, *args):
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "recovery_unit.py"), *args],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True, bufsize=1)
        port = int(self.proc.stdout.readline().split()[1])
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)

    def line(self):
        return self.proc.stdout.readline().strip()

    def frame(self):
        data = b""
        while data.count(b"\xc0") < 2:
            data += self.sock.recv(4096)
        return data

    def close(self):
        self.sock.close()
        self.proc.terminate()
        self.proc.wait(5)
        self.proc.stdout.close()


def unstuff(frame):
    return frame[1:-1].replace(b"\xdb\xdc", b"\xc0").replace(b"\xdb\xdd", b"\xdb")


class RecoveryUnit(unittest.TestCase):
    def test_secure_pathway_golden_bytes_get_a_result_reply(self):
        self.assertEqual(bsum(SECURE[:11]), SECURE[11])
        unit = Unit()
        try:
            unit.sock.sendall(frames(SECURE)[0])
            reply = unstuff(unit.frame())
            self.assertEqual(struct.unpack(">H", reply[:2])[0], len(reply) - 2)
            self.assertEqual(reply[4:10], PC)  # answered to the sender
            msg = reply[26:-1]
            self.assertEqual(msg[:2], b"\0\1")
            self.assertEqual(msg[14], 0x04)
            self.assertEqual(struct.unpack(">i", msg[15:19])[0], 0)
            self.assertEqual(unit.line(), "CMD 1 0 02:00:00:00:00:01")
        finally:
            unit.close()

    def test_pieces_are_acked_and_the_write_recorded(self):
        data = bytes(range(256)) * 8 + b"\xc0"  # 2049 bytes: three pieces
        msg = request(6, 0x8000, 2, 1, string(b"FIRM:PROG00") + string(data), 2)
        unit = Unit("--name", "Sorn-D")
        try:
            parts = frames(msg, kind=1)
            self.assertEqual(len(parts), 3)
            for part in parts[:-1]:
                unit.sock.sendall(part)
                self.assertEqual(unit.frame(), b"\xc0\xc0")
            unit.sock.sendall(parts[-1])
            self.assertEqual(unstuff(unit.frame())[26:28], b"\0\6")
            self.assertEqual(unit.line(), "CMD 6 1 02:00:00:00:00:01")
            self.assertEqual(unit.line(), "WRITE FIRM:PROG00 2049 %s 02:00:00:00:00:01" % hashlib.md5(data).hexdigest())
        finally:
            unit.close()

    def test_name_query_and_faults(self):
        query = request(9, 0x8010, 0xF1, 0, string(b"DNAME"), 1)
        unit = Unit("--name", "Brox2", "--fault", "1:illegal")
        try:
            unit.sock.sendall(frames(query)[0])
            msg = unstuff(unit.frame())[26:-1]
            (length,) = struct.unpack(">I", msg[20:24])
            self.assertEqual(msg[24:24 + length], b"DNAME\0Brox2")
            unit.sock.sendall(frames(SECURE)[0])
            self.assertEqual(unit.frame(), b"\xc0\x00\x00\xc0")
        finally:
            unit.close()

    def test_bad_sums_and_addresses_are_reported(self):
        broken = bytearray(SECURE)
        broken[11] ^= 1
        unit = Unit("--mac", "00-11-22-33-44-55")
        try:
            unit.sock.sendall(frames(SECURE)[0])  # destination ff..ff
            self.assertTrue(unit.line().startswith("ERROR destination"))
            unit.sock.sendall(frames(bytes(broken), dst=bytes.fromhex("001122334455"))[0])
            self.assertEqual(unit.line(), "ERROR header sum")
        finally:
            unit.close()


if __name__ == "__main__":
    unittest.main()
