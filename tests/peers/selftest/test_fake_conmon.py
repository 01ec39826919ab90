"""fake_conmon: message bytes against hex written from the message tables,
then the running fake on loopback against a raw UDP client."""
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

import fake_conmon as fc
from selftest.peerproc import Peer


def unhex(text):
    return bytes.fromhex("".join(text.split()))


def put(buf, off, hexbytes):
    b = unhex(hexbytes)
    buf[off:off + len(b)] = b


class Golden(unittest.TestCase):
    def test_requests_decode(self):
        cases = [
            ("connect short 0x1300", "0013 0e00 0100 0001 0000 64666100",
             {"op": 0x100, "ver": 0x1300, "name": "dfa", "nul": True, "len": 14}),
            ("connect long 0x1500", "0015 2c00 0100 0001 0000 646661" + "00" * 29 + "0000",
             {"name": "dfa", "w42": 0, "len": 44}),
            ("register 0x1100", "0011 1000 0200 0003 0000 0200 0100 0000",
             {"opname": "Register", "type": 2, "other": 1, "w14": 0}),
            ("deregister 0x10ff", "ff10 0e00 0200 0103 0000 0000 0000",
             {"opname": "Deregister", "type": 0, "other": 0}),
            ("subscribe global 0x1100", "0011 1900 0300 1003 0000 0200 0000 00" + "00" * 10,
             {"opname": "Subscribe", "type": 2, "w12": 0, "name": "", "tail_zero": True}),
            ("subscribe global 0x10ff", "ff10 1700 0300 1003 0000 0200 00" + "00" * 10,
             {"type": 2, "name": "", "tail_zero": True}),
            ("send control 0x1500",
             "0015 5400 0400 0004 0000 0000" + "00" * 8 + "42524f582d31" + "00" * 26 +
             "ffff 0020 0000 0000" + "00" * 8 + "417564696e617465" + "071f 0061 000f4240",
             {"type": 0, "target": "BROX-1", "payload": "071f0061000f4240",
              "envelope": {"word": 0xFFFF, "env_len": 32, "counter": 0, "pid": 0,
                           "device_id": "00" * 8, "vendor": "417564696e617465"}}),
            ("send monitoring 0x1500", "0015 2400 0500 0004 00f0 0400" + "ffff 0018 0000 0007" +
             "0102030405060708" + "417564696e617465",
             {"type": 4, "status": 0xF000, "payload": ""}),
        ]
        for name, hx, want in cases:
            with self.subTest(name):
                got = fc.parse_request(unhex(hx))
                self.assertNotIn("error", got)
                for k, v in want.items():
                    self.assertEqual(got[k], v, k)
        self.assertEqual(fc.parse_request(unhex("0015 0c00 0100 0001 0000 00"))["error"], "length")

    def test_connect_responses_in_both_forms(self):
        old = bytearray(56 + 88)
        put(old, 0, "ff11 9000 0700 0001 0100 0000 7063")        # bytes 10-11 zero, name "pc"
        put(old, 44, "0102030405060708 2a00 0100")
        put(old, 56 + 64, "03000000")                          # W1 = index 3
        put(old, 56 + 80, "0a000005 ffffff00")                  # W7 address, then netmask
        self.assertEqual(fc.connect_response(0x11FF, 7, "pc", unhex("0102030405060708"), 42,
                                             [(3, "10.0.0.5")]), bytes(old))
        new = bytearray(316 + 2 * 36)
        put(new, 0, "0015 8401 0800 0001 0100 0100 7063")
        put(new, 44, "6c6f63616c2e")                            # "local."
        put(new, 300, "0102030405060708 2a00 0200 2400 3c01")   # pid, count 2, size 36, offset 316
        put(new, 316, "01000000")
        put(new, 316 + 20, "7f000001 ffffff00")
        put(new, 352, "05000000")
        put(new, 352 + 20, "0a000105 ffffff00")
        self.assertEqual(fc.connect_response(0x1500, 8, "pc", unhex("0102030405060708"), 42,
                                             [(1, "127.0.0.1"), (5, "10.0.1.5")], flags=1), bytes(new))

    def test_events(self):
        self.assertEqual(fc.networks_changed(0x1200, [(2, "10.0.0.9")]),
                         unhex("0012 3400 0000 0005 0200 0100 2400 1000 02000000" + "00" * 16 +
                               "0a000009 ffffff00" + "00" * 8))
        self.assertEqual(len(fc.networks_changed(0x11FF, [(2, "10.0.0.9")] * 2)), 12 + 2 * 88)
        entry = bytearray(72)
        put(entry, 0, "0300 0200 42524f582d31")
        put(entry, 36, "0102030405060708 0500 0200 0000 0000")
        put(entry, 52, "0100 0100 0a000009 fc21 0000")
        got = fc.subscription_list(0x1300, 0, 0x0521, 2, [fc.subscription_entry(
            0x1300, 2, "BROX-1", unhex("0102030405060708"), 5, 2, [("10.0.0.9", 8700)])])
        self.assertEqual(got, unhex("0013 5800 0000 2105 0200 0100 0100 0000") + bytes(entry))
        short = fc.subscription_list(0x10FF, 4, 0x0310, 1, [fc.subscription_entry(
            0x10FF, 2, "BROX-1", unhex("0102030405060708"), 5, 0x10)])
        self.assertEqual(short[:12], unhex("ff10 3c00 0400 1003 0100 0100"))
        self.assertEqual(short[12 + 44:12 + 48], unhex("0500 1000"))
        env = fc.envelope(unhex("071f 0060 00000000"), unhex("0102030405060708"), 9, counter=3)
        self.assertEqual(fc.channel_message(0x1500, 2, 1, env, "BROX-1"),
                         unhex("0015 5000 0000 1105 0200 0200 0100 0000 42524f582d31" + "00" * 26 +
                               "ffff 0020 0003 0009 0102030405060708 417564696e617465"
                               "071f 0060 00000000"))
        self.assertEqual(fc.channel_message(0x1500, 2, 1, env)[:16],
                         unhex("0015 3000 0000 1005 0200 0200 0100 0000"))

    def test_device_payloads(self):
        d = fc.Device({"name": "BROX-1", "protocol": 0x0708, "sw": "4.2.7", "fw": "4.1.3",
                       "caps": 0x1003, "status_bits": 2, "upgrade_version": 0x0300,
                       "interfaces": [{"address": "10.0.0.9", "speed": 100, "mac": "00:1d:c1:01:02:03"}],
                       "secondary": True})
        v = fc.versions_status(d)
        self.assertEqual(v[:16], unhex("0708 0060 00000000 04010003 04020007"))
        self.assertEqual(v[20:40], unhex("426b6c796e320000 00001003 00000000 00000002"))
        self.assertEqual(v[58:60], unhex("0300"))
        i = fc.interface_status(d)
        self.assertEqual(i[:40], unhex("0708 0011 00000000 0001 0000 00000001 0064 001dc1010203"
                                       "0a000009 00000000 ffffff00 00000000"))
        self.assertEqual(i[40:48], unhex("0014 0030 0001 0000"))   # entry size, first entry, redundancy
        self.assertEqual(i[48:50], unhex("0005"))
        m = fc.manf_versions_status(d)
        self.assertEqual(m[8:24], b"Valdor\0\0BROX24\0\0")
        self.assertEqual(m[32:40], unhex("02010005 02010009"))
        self.assertEqual((m[52:64], m[180:187]), (b"Valdor Audio", b"Brox 24"))
        u = fc.upgrade_status(0x071F, 4, 0x0300, 50, 200, b"Valdor\0\0", b"BROX24\0\0",
                              (2, 1999, socket.inet_aton("127.0.0.1"), "a.dnt", 1024))
        self.assertEqual(u[:44], unhex("071f 0070 00000000 0004 0300 0000006e 00000032 000000c8"
                                       "002c 0000 56616c646f720000 42524f5832340000"))
        self.assertEqual(u[44:], unhex("0000003e 00000000 0002 07cf 7f000001 0000 0044 00000400"
                                       "612e646e7400"))

    def test_upgrade_requests_checked_field_by_field(self):
        v3 = ("071f 0075 00000000 0000000a 00000003 00000003 00000000 50454c4c31360000"
              + "00" * 8 + "002c 0000"
              + "0000003e 00000000 0002 07cf 7f000001 0000 0044 00000400" + "76335f6f6e652e646e7400")
        f, probs = fc.parse_upgrade_request(unhex(v3))
        self.assertEqual(probs, [])
        self.assertEqual((f["override_24"], f["override_32"], f["port"], f["address"], f["path"],
                          f["file_len"]), ("50454c4c31360000", None, 1999, "127.0.0.1", "v3_one.dnt", 1024))
        legacy = "071f 0071 00000000 7f000001 07cf 0000 782e646e74" + "00" * 59
        f, probs = fc.parse_upgrade_request(unhex(legacy))
        self.assertEqual((probs, f["address"], f["port"], f["path"]), ([], "127.0.0.1", 1999, "x.dnt"))
        bad = [
            ("u32 at 12", v3.replace("0000000a 00000003", "0000000a 00000002", 1)),
            ("u32 at 16", v3.replace("00000003 00000003", "00000003 00000001", 1)),
            ("offset", v3.replace("002c 0000", "002e 0000", 1)),
            ("file location flag", v3.replace("0000000a", "00000002", 1)),
            ("path offset", v3.replace("0000 0044", "0000 00ff", 1)),
            ("legacy length", legacy[:-2]),
            ("protocol word", "0720" + legacy[4:]),
        ]
        for why, hx in bad:
            with self.subTest(why):
                _, probs = fc.parse_upgrade_request(unhex(hx))
                self.assertTrue(any(why in p for p in probs), probs)


class Client:
    def __init__(self, port):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.connect(("127.0.0.1", port))
        self.s.settimeout(2.0)

    def req(self, ver, seq, op, body=b"", status=0):
        self.s.send(fc.header(ver, 10 + len(body), seq, op, status) + body)

    def recv(self, timeout=2.0):
        self.s.settimeout(timeout)
        d = self.s.recv(8192)
        return fc.parse_header(d), d

    def until(self, pred, timeout=3.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            h, d = self.recv(max(0.01, end - time.monotonic()))
            if pred(h, d):
                return h, d
        raise AssertionError("no matching datagram")

    def silent(self, t=0.3):
        self.s.settimeout(t)
        try:
            self.s.recv(8192)
        except socket.timeout:
            return True
        return False

    def connect(self, ver=0x1500, seq=1):
        self.req(ver, seq, 0x100, b"dfa".ljust(32, b"\0") + b"\0\0" if ver >= 0x1400 else b"dfa\0")
        return self.recv()

    def send_control(self, ver, seq, target, payload):
        env = fc.envelope(payload, b"\0" * 8, 0)
        self.req(ver, seq, 0x400, struct.pack("<H", 0) + b"\0" * 8 + target.encode().ljust(32, b"\0") + env)

    def close(self):
        self.s.close()


def status_payload(d):
    h = fc.parse_header(d)
    assert h["op"] == 0x0511, h
    return d[72:]


class Service(unittest.TestCase):
    def setUp(self):
        self.peer = Peer("fake_conmon.py", "--port", "0", "--interface", "lo",
                         "--device", "BROX-1,process_id=7",
                         "--device", "PELL-1,answer=never",
                         "--device", "SORN-1,reset_silence=1.0,protocol=0x0708")
        self.port = int(self.peer.ready[1])
        self.c = Client(self.port)

    def tearDown(self):
        self.c.close()
        self.assertEqual(self.peer.stop(), 0)

    def test_connect_register_subscribe_query(self):
        h, d = self.c.connect()
        self.assertEqual((h["status"], h["seq"], h["len"], len(d)), (1, 1, 352, 352))
        self.assertEqual(struct.unpack_from("<HHHH", d, 308), (4242, 1, 36, 316))
        self.assertEqual(struct.unpack_from("<I", d, 316)[0], socket.if_nametoindex("lo"))
        self.assertEqual(d[336:340], socket.inet_aton("127.0.0.1"))
        self.assertEqual(self.peer.expect_json("RECV")["name"], "dfa")
        self.c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        h, _ = self.c.recv()
        self.assertEqual((h["op"], h["status"], h["seq"]), (0x300, 1, 2))
        self.c.req(0x1500, 3, 0x310, struct.pack("<HH", 2, 0) + b"\0" * 11)
        h, d = self.c.recv()
        self.assertEqual((h["op"], h["status"], h["len"]), (0x310, 1, 16 + 3 * 72))
        self.assertEqual(struct.unpack_from("<HH", d, 10), (3, 1))
        self.assertEqual(d[16 + 4:16 + 10], b"BROX-1")
        # a query: the service answers the Send Message, the device its status
        self.c.send_control(0x1500, 4, "BROX-1", fc.ctl_head(0x071F, 0x61, 1000000))
        h, d = self.c.recv()
        self.assertEqual((h["op"], h["status"], h["seq"]), (0x400, 1, 4))
        h, d = self.c.recv()
        self.assertEqual(d[16:22], b"BROX-1")
        env = fc.parse_envelope(d[48:72])
        self.assertEqual((env["pid"], env["vendor"], env["env_len"]), (7, b"Audinate".hex(), 24 + 60))
        self.assertEqual(struct.unpack_from(">HH", status_payload(d)), (0x071F, 0x60))
        # a silent device, and a fire-and-forget request: no datagram at all
        self.c.send_control(0x1500, 5, "PELL-1", fc.ctl_head(0x071F, 0x61, 1000000))
        self.assertEqual(self.c.recv()[0]["seq"], 5)
        self.peer.expect("SILENT")
        self.c.req(0x1500, 0, 0x301, struct.pack("<HHH", 2, 1, 0), status=0xF000)
        self.assertTrue(self.c.silent())

    def test_events_on_command(self):
        self.c.connect(0x1200)
        self.c.req(0x1200, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        self.c.recv()
        self.peer.send("networks lo=127.0.0.9")
        h, d = self.c.recv()
        self.assertEqual((h["op"], h["status"], h["len"]), (0x500, 2, 16 + 36))
        self.assertEqual(d[36:40], socket.inet_aton("127.0.0.9"))
        self.peer.send("name newpc")
        h, d = self.c.recv()
        self.assertEqual((h["op"], h["len"], d[10:16]), (0x501, 42, b"newpc\0"))
        self.peer.send("domain example.")
        self.assertEqual(self.c.recv()[0]["len"], 266)
        self.peer.send("subs BROX-1 0x0101")
        h, d = self.c.recv()
        self.assertEqual((h["op"], struct.unpack_from("<H", d, 10)[0], struct.unpack_from("<H", d, 16 + 46)[0]),
                         (0x521, 1, 0x0101))
        self.peer.send("chmsg 2 1 ffff0018000000010102030405060708417564696e617465")
        h, d = self.c.recv()
        self.assertEqual((h["op"], h["len"]), (0x510, 40))
        self.peer.send("raw 0015")
        self.assertEqual(self.c.recv()[1], b"\x00\x15")

    def knob(self, name, value=""):
        self.peer.send("set %s %s" % (name, value))
        self.peer.expect("SET", where=lambda j: name in j)

    def test_knobs(self):
        self.knob("step_down", "0x1300")
        h, _ = self.c.connect(0x1500)
        self.assertEqual((h["ver"], h["status"], h["len"]), (0x1300, 4, 10))
        h, d = self.c.connect(0x1300, seq=2)
        self.assertEqual((h["ver"], h["status"], h["len"]), (0x1300, 1, 352))
        register = struct.pack("<HHH", 2, 1, 0)
        for name, value, check in [
            ("reply_opcode", "0x300:0x301", lambda h: h["op"] == 0x301),
            ("reply_status", "0x300:11", lambda h: h["status"] == 11),
        ]:
            self.knob(name, value)
            self.c.req(0x1300, 3, 0x300, register)
            self.assertTrue(check(self.c.recv()[0]), name)
            self.knob(name)
        self.knob("seq", "invent")
        self.c.req(0x1300, 9, 0x300, register)
        self.assertEqual([self.c.recv()[0]["seq"], self.c.recv()[0]["seq"]], [0x4009, 9])
        self.knob("seq", "repeat")
        self.c.req(0x1300, 10, 0x300, register)
        self.assertEqual([self.c.recv()[0]["seq"], self.c.recv()[0]["seq"]], [10, 10])
        self.knob("seq", "echo")
        self.knob("malformed", "0x300")
        self.c.req(0x1300, 11, 0x300, register)
        h, d = self.c.recv()
        self.assertEqual(h["len"], len(d) + 1)
        self.knob("drop", "all")
        self.c.req(0x1300, 12, 0x300, register)
        self.assertTrue(self.c.silent())
        self.knob("drop", "none")
        self.knob("delay", "0.4")
        t0 = time.monotonic()
        self.c.req(0x1300, 13, 0x300, register)
        self.assertEqual(self.c.recv()[0]["seq"], 13)
        self.assertGreater(time.monotonic() - t0, 0.35)

    def test_closed_service_refuses(self):
        self.c.connect()
        self.peer.send("close")
        self.peer.expect("CLOSED")
        self.c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        with self.assertRaises(ConnectionRefusedError):
            for _ in range(3):
                self.c.recv(0.5)
                self.c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))

    def test_reset_answered_by_silence_then_status(self):
        self.c.connect()
        self.c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        self.c.recv()
        self.c.send_control(0x1500, 3, "SORN-1", fc.ctl_head(0x071F, 0x90) + unhex("0001 0001"))
        self.c.recv()
        self.assertEqual(self.peer.expect_json("RESET"), {"device": "SORN-1", "mode": 1, "ok": True})
        self.assertTrue(self.c.silent(0.3))
        p = status_payload(self.c.recv(2.0)[1])
        self.assertEqual(struct.unpack_from(">HH", p), (0x0708, 0x60))


def tftp_serve(sock, content, seen):
    """One read request, octet mode, from the test's own socket; content None
    answers with a "File not found" error."""
    sock.settimeout(3)
    try:
        rq, peer = sock.recvfrom(600)
    except socket.timeout:
        return
    t = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    t.bind(("127.0.0.1", 0))
    t.settimeout(1)
    seen.append(rq)
    if content is None:
        t.sendto(struct.pack(">HH", 5, 1) + b"File not found\0", peer)
        t.close()
        return
    for blk in range(1, len(content) // 512 + 2):
        chunk = content[(blk - 1) * 512:blk * 512]
        for _ in range(5):
            t.sendto(struct.pack(">HH", 3, blk) + chunk, peer)
            try:
                ack, _ = t.recvfrom(16)
            except socket.timeout:
                continue
            if ack == struct.pack(">HH", 4, blk):
                break
    t.close()


class Upgrade(unittest.TestCase):
    def start(self, *device):
        self.peer = Peer("fake_conmon.py", "--port", "0", "--device", ",".join(device))
        self.addCleanup(self.peer.stop)
        c = Client(int(self.peer.ready[1]))
        self.addCleanup(c.close)
        c.connect()
        c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        c.recv()
        return c

    def v3_request(self, port, path, file_len, w12=3):
        p = bytearray(44)
        struct.pack_into(">HHIIII", p, 0, 0x071F, 0x75, 0, 0x08, w12, 3)
        struct.pack_into(">H", p, 40, 44)
        p += fc.location_block(2, port, socket.inet_aton("127.0.0.1"), path, file_len, at=44)
        return bytes(p)

    def statuses(self, c, count):
        out = []
        for _ in range(count):
            p = status_payload(c.recv(3.0)[1])
            out.append(struct.unpack_from(">HHIHHIII", p))
        return out

    def test_scripted_series(self):
        c = self.start("BROX-1", "upgrade_step=0.05",
                       "upgrade_series=[[1,0,0,200],[4,0,50,200],[3,770,200,200]]")
        c.send_control(0x1500, 3, "BROX-1", self.v3_request(1999, "a.dnt", 4096))
        c.recv()
        self.assertEqual(self.peer.expect_json("UPGRADE")["problems"], [])
        got = [(s[1], s[3], s[4], s[6], s[7]) for s in self.statuses(c, 3)]
        self.assertEqual(got, [(0x70, 1, 0, 0, 200), (0x70, 4, 0, 50, 200), (0x70, 3, 770, 200, 200)])

    def test_bad_request_ends_in_failure(self):
        c = self.start("BROX-1")
        c.send_control(0x1500, 3, "BROX-1", self.v3_request(1999, "a.dnt", 4096, w12=2))
        c.recv()
        self.assertEqual(self.peer.expect_json("UPGRADE")["problems"], ["u32 at 12 is 2"])
        s = self.statuses(c, 1)[0]
        self.assertEqual((s[3], s[4]), (3, 0x121))

    def fetch(self, content):
        srv = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        srv.bind(("127.0.0.1", 0))
        self.addCleanup(srv.close)
        seen = []
        th = threading.Thread(target=tftp_serve, args=(srv, content, seen))
        th.start()
        c = self.start("BROX-1", "tftp=true", "upgrade_step=0.05")
        c.send_control(0x1500, 3, "BROX-1", self.v3_request(srv.getsockname()[1], "dir/b.dnt", 0))
        c.recv()
        log = self.peer.expect_json("TFTP", timeout=8)
        th.join(5)
        self.assertEqual(seen[0], b"\x00\x01dir/b.dnt\x00octet\x00")
        return c, log

    def test_tftp_fetch_reports_bytes(self):
        content = bytes(i % 253 for i in range(1500))
        c, log = self.fetch(content)
        self.assertEqual((log["ok"], log["bytes"], log["crc32"]), (True, 1500, zlib.crc32(content)))
        states = [(s[3], s[6]) for s in self.statuses(c, 3)]
        self.assertEqual(states, [(1, 1500), (4, 1500), (2, 1500)])

    def test_tftp_error_ends_in_download_failure(self):
        c, log = self.fetch(None)
        self.assertEqual((log["ok"], log["error"]), (False, "error 1 File not found"))
        s = self.statuses(c, 1)[0]
        self.assertEqual((s[3], s[4]), (3, 0x300))


class Devices(unittest.TestCase):
    """Device knobs from a JSON file: one query only, late, another vendor id."""

    def test_knobs_from_file(self):
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump([{"name": "BROX-1", "answer": "once"},
                       {"name": "PELL-1", "late": 0.5},
                       {"name": "SORN-1", "vendor": "OtherVnd", "caps": 0, "protocol": "0x0708",
                        "upgrade_version": "0x0200", "upgrade_step": 0.05,
                        "upgrade_series": [[2, 0, 10, 10]]}], f)
        self.addCleanup(os.unlink, f.name)
        peer = Peer("fake_conmon.py", "--port", "0", "--devices", f.name)
        self.addCleanup(peer.stop)
        c = Client(int(peer.ready[1]))
        self.addCleanup(c.close)
        c.connect()
        c.req(0x1500, 2, 0x300, struct.pack("<HHH", 2, 1, 0))
        c.recv()
        query = fc.ctl_head(0x071F, 0x61, 1000000)

        def ask(seq, name, payload=query):
            c.send_control(0x1500, seq, name, payload)
            self.assertEqual(c.recv()[0]["seq"], seq)       # the service's answer
        ask(3, "BROX-1")
        self.assertEqual(struct.unpack_from(">H", status_payload(c.recv()[1]), 2)[0], 0x60)
        ask(4, "BROX-1")
        self.assertEqual(peer.expect_json("SILENT")["query"], 2)
        self.assertTrue(c.silent(0.3))
        t0 = time.monotonic()
        ask(5, "PELL-1", fc.ctl_head(0x071F, 0xC1, 1000000))
        p = status_payload(c.recv(2.0)[1])
        self.assertGreater(time.monotonic() - t0, 0.45)
        self.assertEqual(struct.unpack_from(">H", p, 2)[0], 0xC0)
        ask(6, "SORN-1", fc.ctl_head(0x071F, 0x13, 1000000))
        _, d = c.recv()
        self.assertEqual(d[64:72], b"OtherVnd")
        self.assertEqual(struct.unpack_from(">HH", d[72:]), (0x0708, 0x11))
        legacy = fc.ctl_head(0x071F, 0x71) + socket.inet_aton("127.0.0.1") + struct.pack(">HH", 1999, 0) + \
            b"x.dnt".ljust(64, b"\0")
        ask(7, "SORN-1", legacy)
        self.assertEqual(peer.expect_json("UPGRADE")["fields"]["path"], "x.dnt")
        p = status_payload(c.recv()[1])
        self.assertEqual(struct.unpack_from(">HHIH", p), (0x0708, 0x70, 0, 2))


class Offline(unittest.TestCase):
    def test_samples_and_decode(self):
        with tempfile.TemporaryDirectory() as d:
            out = subprocess.run([sys.executable, os.path.join(os.path.dirname(fc.__file__), "fake_conmon.py"),
                                  "samples", d], capture_output=True, text=True, timeout=30)
            self.assertTrue(out.stdout.startswith("ready "), out.stderr)
            self.assertEqual(len(os.listdir(d)), int(out.stdout.split()[1]))
            with open(os.path.join(d, "subscribe_response_1100.bin"), "rb") as f:
                raw = f.read()
        dec = subprocess.run([sys.executable, os.path.join(os.path.dirname(fc.__file__), "fake_conmon.py"),
                              "decode", raw.hex()], capture_output=True, text=True, timeout=30)
        got = json.loads(dec.stdout.split(" ", 1)[1])
        self.assertEqual((got["op"], got["len"], got["ver"]), (0x310, 16 + 2 * 72, 0x1100))


if __name__ == "__main__":
    unittest.main()
