"""mdns_responder: DNS bytes against hex written from the message format,
then the running responder on loopback (answers sent to a test socket)."""
import socket
import unittest

import mdns_responder as md
from selftest.peerproc import Peer


def unhex(text):
    return bytes.fromhex("".join(text.split()))


CMC = "0d5f6e6574617564696f2d636d63 045f756470 056c6f63616c 00"     # _netaudio-cmc._udp.local


class Golden(unittest.TestCase):
    def setUp(self):
        self.svc = md.Service("_netaudio-cmc._udp", "dev1", 4440, "dev1", "10.0.0.7",
                              ["id=001dc1fffe000001", "process=1"])

    def test_compressed_ptr_srv_txt_a(self):
        rr = dict(md.records_for(self.svc))
        got = md.response([rr["ptr"]], [rr["srv"], rr["txt"], rr["a"]])
        want = unhex(
            "0000 8400 0000 0001 0000 0003" + CMC +
            "000c 0001 00001194 0007 0464657631 c00c"          # PTR -> dev1.<type>
            "c030 0021 8001 00000078 000d 0000 0000 1158 0464657631 c01f"   # SRV dev1.local:4440
            "c030 0010 8001 00001194 001e 1369643d303031646331666666653030303030310970726f636573733d31"
            "c049 0001 8001 00000078 0004 0a000007")         # A of dev1.local (name at 0x49)
        self.assertEqual(got, want)

    def test_legacy_unicast_echoes_question(self):
        rr = dict(md.records_for(self.svc))
        got = md.response([rr["srv"]], ident=0x1234, questions=[(self.svc.full, md.T_SRV)], legacy=True)
        self.assertEqual(got[:12], unhex("1234 8400 0001 0001 0000 0000"))
        m = md.parse_message(got)
        self.assertEqual(m["records"][0], {"section": "an", "name": "dev1._netaudio-cmc._udp.local",
                                           "type": 33, "flush": False, "ttl": 10, "port": 4440,
                                           "target": "dev1.local"})

    def test_dotted_instance_is_one_label(self):
        s = md.Service("_netaudio-arc._udp", "Brox.24 A", 4440)
        self.assertEqual(md.encode_name(s.full)[:10], b"\x09Brox.24 A")

    def test_malformed_packets_fail_to_parse(self):
        for kind in ("loop", "forward", "label64", "rdlength", "cut", "longname", "badtxt"):
            with self.subTest(kind):
                with self.assertRaises(ValueError):
                    md.parse_message(md.malformed_packet(kind, self.svc))

    def test_query_parse(self):
        q = unhex("abcd 0000 0001 0000 0000 0000" + CMC + "000c 8001")
        self.assertEqual(md.parse_message(q)["questions"],
                         [{"name": "_netaudio-cmc._udp.local", "type": 12, "qu": True}])


class Running(unittest.TestCase):
    def setUp(self):
        self.sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sink.bind(("127.0.0.1", 0))
        self.sink.settimeout(2)
        self.peer = Peer("mdns_responder.py", "--port", "0", "--dest",
                         "127.0.0.1:%d" % self.sink.getsockname()[1],
                         "--service", "_netaudio-cmc._udp/dev1/4440/dev1/10.0.0.7/id=001dc1fffe000001;process=1",
                         "--service", "_netaudio-arc._udp/dev1/4441/dev1/10.0.0.7/router_vers=4.2.1")
        self.port = int(self.peer.ready[1])
        self.q = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.q.settimeout(2)

    def tearDown(self):
        self.q.close()
        self.sink.close()
        self.assertEqual(self.peer.stop(), 0)

    def got(self, sock=None):
        return md.parse_message((sock or self.sink).recv(9000))

    def query(self, name, qtype, ident=7):
        w = md.Writer(ident, flags=0)
        w.question(md.labels(name), qtype)
        self.q.sendto(w.bytes(), ("127.0.0.1", self.port))

    def knob(self, name, value):
        self.peer.send("set %s %s" % (name, value))
        self.peer.expect("SET", where=lambda j: name in j)

    def test_announces_then_answers(self):
        first = self.got()
        self.assertEqual([r["type"] for r in first["records"]], [12, 33, 16, 1])
        self.assertEqual(first["records"][2]["txt"], ["id=001dc1fffe000001", "process=1"])
        self.got()
        self.query("_netaudio-cmc._udp.local", md.T_PTR)
        m = self.got(self.q)
        self.assertEqual((m["id"], m["questions"][0]["type"]), (7, 12))
        self.assertEqual([(r["section"], r["type"], r["ttl"]) for r in m["records"]],
                         [("an", 12, 10), ("ar", 33, 10), ("ar", 16, 10), ("ar", 1, 10)])
        self.assertEqual(self.peer.expect_json("QUERY")["questions"][0]["name"], "_netaudio-cmc._udp.local")
        self.query("_services._dns-sd._udp.local", md.T_PTR)
        self.assertEqual(sorted(r["target"] for r in self.got(self.q)["records"]),
                         ["_netaudio-arc._udp.local", "_netaudio-cmc._udp.local"])

    def test_split_short_ttl_silence_goodbye_malformed(self):
        self.got(), self.got(), self.got(), self.got()            # two announcements of two services
        self.knob("split", 1)
        self.knob("split_order", "ptr,srv,txt")
        self.knob("ttl", 2)
        self.query("dev1._netaudio-cmc._udp.local", md.T_ANY)
        a, b = self.got(self.q), self.got(self.q)
        self.assertEqual([(r["type"], r["ttl"]) for r in a["records"] + b["records"]], [(33, 2), (16, 2)])
        self.knob("answer", "ptr")
        self.query("dev1._netaudio-cmc._udp.local", md.T_SRV)
        self.q.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            self.q.recv(9000)
        self.query("_netaudio-cmc._udp.local", md.T_PTR)
        self.assertEqual([r["type"] for r in self.got(self.q)["records"]], [12])   # nothing to resolve from
        with self.assertRaises(socket.timeout):
            self.q.recv(9000)
        self.peer.send("goodbye dev1")
        for _ in range(2):                                        # both services of dev1
            self.assertEqual({r["ttl"] for r in self.got()["records"]}, {0})
        self.peer.send("malformed loop")
        with self.assertRaises(ValueError):
            md.parse_message(self.sink.recv(9000))


if __name__ == "__main__":
    unittest.main()
