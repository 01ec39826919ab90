"""fake_cmm: element and body bytes against hex written from the element
rules, then the running fake on loopback against a raw UDP client."""
import socket
import unittest

import fake_cmm as fm
from selftest.peerproc import Peer

MAC = "02:1d:c1:00:00:01"


def unhex(text):
    return bytes.fromhex("".join(text.split()))


class Golden(unittest.TestCase):
    def test_connect_request(self):
        got = fm.message(0, 1, 0, fm.connect_request("dfa", 0x1234), port=0xC001)
        self.assertEqual(got, unhex("1001 0024 0000 0001 0000 c001 0000000000000000"
                                    "0003 0008 000c 0000 64666100 00001234"))

    def test_options_state_and_set_config_bodies(self):
        self.assertEqual(fm.options_body([("e0", MAC)]).b, unhex(
            "0001 0004 0001 0008 0002 0010 001c 0000 00000065 00000030 00000000 021dc1000001"))
        self.assertEqual(fm.state_body(1, "PC", [("e0", MAC)], None, [("dfa", 5, 1)]).b, unhex(
            "0005 0001 000c 0010 0000 0032 50430000 0001 0014 0001 0018 0002 0020 002c 0000"
            "00000065 00000030 00000000 021dc1000001 0001 0036 0003 003e 0044 0001 64666100 0000"
            "00000005"))
        self.assertEqual(fm.set_config_request([("e0", MAC)], lock=True).b, unhex(
            "0003 0003 0008 0001 0001 000c 0001 0010 0002 0018 0024 0000"
            "00000065 00000030 00000000 021dc1000001"))
        self.assertEqual(fm.set_config_request(lock=False).b, unhex("0003 0002 0000 0000"))
        self.assertEqual(fm.connect_response(4, 2, 1, 2).b, unhex("0004 0004 0002 0001 0002"))

    def test_reader_refuses_what_lies_outside(self):
        r = fm.Reader(unhex("0003 0001 0002 0003 6162 0000 00000007 00010000"))
        self.assertEqual(r.array(0), [1, 2, 3])
        self.assertEqual(r.u32(12), 7)
        self.assertEqual(r.string(8), "ab")
        bad = [
            ("array count past the body", lambda: fm.Reader(unhex("0004 0001 0002 0003")).array(0)),
            ("odd offset", lambda: r.array(1)),
            ("misaligned u32", lambda: r.u32(10)),
            ("u32 past the end", lambda: r.u32(20)),
            ("string without NUL", lambda: fm.Reader(b"abcd").string(0)),
            ("wide char above 0xFFFF", lambda: r.wstring(16)),
        ]
        for why, fn in bad:
            with self.subTest(why):
                with self.assertRaises(ValueError):
                    fn()

    def test_samples_read_back(self):
        for name, data in fm.samples().items():
            with self.subTest(name):
                self.assertNotIn("error", fm.parse_message(data))
        state = fm.parse_message(fm.samples()["state_changing"])["state"]
        self.assertEqual((state["status"], state["pending"][0]["name"]), (2, "eth1"))

    def test_writer_alignment_and_capacity(self):
        b = fm.Body(capacity=12)
        self.assertEqual((b.string("a"), b.u32(1)), (0, 4))
        self.assertEqual(b.b, unhex("6100 0000 00000001"))
        with self.assertRaises(OverflowError):
            b.wstring("x")


class Client:
    def __init__(self, port):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.connect(("127.0.0.1", port))
        self.seq = 0

    def req(self, op, body=b""):
        seq = self.seq
        self.seq = (self.seq + 1) & 0xFFFF
        self.s.send(fm.message(seq, op, 0, body, port=self.s.getsockname()[1]))
        return seq

    def recv(self, timeout=2.0):
        self.s.settimeout(timeout)
        return fm.parse_message(self.s.recv(2048))

    def silent(self, t=0.3):
        self.s.settimeout(t)
        try:
            self.s.recv(2048)
        except socket.timeout:
            return True
        return False

    def connect(self, pid=77):
        seq = self.req(fm.OP_CONNECT, fm.connect_request("dfa", pid))
        return seq, self.recv()


class Manager(unittest.TestCase):
    def start(self, *args):
        self.peer = Peer("fake_cmm.py", "--port", "0", *args)
        self.addCleanup(self.peer.stop)
        self.c = Client(int(self.peer.ready[1]))
        self.addCleanup(self.c.s.close)
        return self.c

    def knob(self, name, value):
        self.peer.send("set %s %s" % (name, value))
        self.peer.expect("SET", where=lambda j: name in j)

    def test_connect_then_events_keepalive_set_config(self):
        c = self.start("--foreign", "other:9:0")
        seq, m = c.connect()
        self.assertEqual((seq, m["seq"], m["op"], m["status"], m["values"]), (0, 0, 1, 1, [4, 2, 1, 2]))
        self.assertEqual(m["port"], c.s.getsockname()[1])
        m = c.recv()
        self.assertEqual((m["op"], m["status"], [o["name"] for o in m["options"]]), (0x100, 2, ["eth0", "eth1"]))
        st = c.recv()["state"]
        self.assertEqual((st["status"], st["device"], st["current"][0]["name"], st["pending"]),
                         (1, "QUILLON-PC", "eth0", None))
        self.assertEqual(st["processes"], [{"name": "dfa", "pid": 77, "lock": 0},
                                           {"name": "other", "pid": 9, "lock": 0}])
        seq = c.req(fm.OP_KEEPALIVE)
        m = c.recv()
        self.assertEqual((m["op"], m["status"], m["seq"]), (0, 1, seq))
        seq = c.req(fm.OP_SET_CONFIG, fm.set_config_request([("eth1", "02:1d:c1:00:00:02")], lock=True))
        m = c.recv()
        self.assertEqual((m["op"], m["status"], m["seq"]), (0x110, 1, seq))
        self.assertEqual((m["state"]["current"][0]["name"], m["state"]["processes"][0]["lock"]), ("eth1", 1))
        ev = c.recv()
        self.assertEqual((ev["op"], ev["status"], ev["state"]["current"][0]["mac"]), (0x101, 2, "02:1d:c1:00:00:02"))
        got = self.peer.expect_json("RECV", where=lambda j: j["op"] == 0x110)
        self.assertEqual((got["mask"], got["lock"], got["interfaces"][0]["name"]), (3, 1, "eth1"))
        c.req(fm.OP_DISCONNECT)
        self.assertEqual(c.recv()["status"], 1)

    def test_changing_passes_through_status_2(self):
        c = self.start()
        self.knob("changing", "pending")
        c.connect()
        c.recv(), c.recv()
        c.req(fm.OP_SET_CONFIG, fm.set_config_request([("eth1", "02:1d:c1:00:00:02")]))
        st = c.recv()["state"]
        self.assertEqual((st["status"], st["current"][0]["name"], st["pending"][0]["name"]), (2, "eth0", "eth1"))
        self.assertEqual(c.recv()["state"]["status"], 2)
        st = c.recv()["state"]
        self.assertEqual((st["status"], st["current"][0]["name"], st["pending"]), (1, "eth1", None))

    def test_refusals_and_silence(self):
        c = self.start()
        self.knob("too_many", "1")
        self.assertEqual(c.connect()[1]["status"], 0x82)
        self.knob("too_many", "0")
        self.knob("invalid_state", "1")
        c.connect()
        c.recv(), c.recv()
        c.req(fm.OP_SET_CONFIG, fm.set_config_request(lock=True))
        m = c.recv()
        self.assertEqual((m["status"], m["state"]["processes"][0]["lock"]), (0x102, 0))
        self.peer.send("notconn")
        self.assertEqual(c.recv()["status"], 0x81)
        self.knob("silent", "1")
        c.req(fm.OP_KEEPALIVE)
        self.assertTrue(c.silent())
        self.peer.send("close")
        self.peer.expect("CLOSED")
        with self.assertRaises(ConnectionRefusedError):
            for _ in range(3):
                c.req(fm.OP_KEEPALIVE)
                c.silent(0.3)

    def test_early_events_and_big_lists(self):
        c = self.start("--options", "20", "--current", "eth0,eth1,eth2", "--knob", "early_events=1")
        self.assertEqual(c.req(fm.OP_CONNECT, fm.connect_request("dfa", 5)), 0)
        m = c.recv()
        self.assertEqual((m["op"], len(m["options"])), (0x100, 20))
        self.assertEqual(len(c.recv()["state"]["current"]), 3)
        self.assertEqual(c.recv()["op"], 1)
        self.peer.send("foreign tool:99:1")
        st = c.recv()["state"]
        self.assertEqual(st["processes"][-1], {"name": "tool", "pid": 99, "lock": 1})


if __name__ == "__main__":
    unittest.main()
