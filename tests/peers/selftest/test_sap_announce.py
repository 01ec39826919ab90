"""sap_announce: packets against bytes written from RFC 2974/4566, then the
running announcer towards a loopback socket."""
import socket
import unittest

import sap_announce as sa
from selftest.peerproc import Peer


def unhex(text):
    return bytes.fromhex("".join(text.split()))


SDP = (b"v=0\r\n"
       b"o=- 1311738121 1311738121 IN IP4 192.168.1.10\r\n"
       b"s=Stage Left\r\n"
       b"i=2 channels: Left, Right\r\n"
       b"c=IN IP4 239.69.1.10/32\r\n"
       b"t=0 0\r\n"
       b"a=keywds:Dante\r\n"
       b"m=audio 5004 RTP/AVP 96\r\n"
       b"i=Channels 1-2\r\n"
       b"a=recvonly\r\n"
       b"a=rtpmap:96 L24/48000/2\r\n"
       b"a=ptime:1\r\n"
       b"a=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-55:0\r\n"
       b"a=mediaclk:direct=0\r\n")


class Golden(unittest.TestCase):
    def test_announcement_and_deletion(self):
        s = sa.session()
        self.assertEqual(sa.sdp_text(s), SDP)
        self.assertEqual(sa.sap_packet(0x1234, "192.168.1.10", SDP),
                         unhex("20 00 1234 c0a8010a") + b"application/sdp\0" + SDP)
        self.assertEqual(sa.sap_packet(0x1234, "192.168.1.10", SDP, deletion=True,
                                       auth=b"\1\2\3\4")[:12], unhex("24 01 1234 c0a8010a 01020304"))

    def test_bad_packets(self):
        s = sa.session()
        heads = {k: sa.bad_packet(k, s) for k in sa.BAD_KINDS}
        self.assertEqual(heads["compressed"][0], 0x21)
        self.assertEqual(heads["encrypted"][0], 0x22)
        self.assertEqual(heads["version2"][0], 0x40)
        self.assertEqual((heads["ipv6"][0], heads["ipv6"][4:20]), (0x30, unhex("fd00" + "00" * 13 + "10")))
        self.assertEqual(heads["zero_hash"][2:4], b"\0\0")
        self.assertEqual(heads["zero_origin"][4:8], b"\0\0\0\0")
        self.assertEqual(len(heads["short"]), 8)
        self.assertEqual(heads["auth_past_end"][1], 255)
        self.assertLess(len(heads["auth_past_end"]), 8 + 4 * 255)
        self.assertTrue(heads["no_sdp"].endswith(b"application/sdp\0"))
        self.assertFalse(heads["no_line_end"].endswith(b"\n"))
        self.assertIn(b"s=Stage Left\r\no=", heads["out_of_order"])
        self.assertIn(b"sdp\0v=1\r\n", heads["v1"])
        self.assertGreater(len(sa.sap_packet(1, "10.0.0.1", sa.sdp_text(s, pad_lines=8))), 500)
        second = sa.sdp_text(s, extra_media=True)
        self.assertEqual(second.count(b"m=audio"), 2)


class Running(unittest.TestCase):
    def test_announce_rehash_delete(self):
        sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sink.bind(("127.0.0.1", 0))
        sink.settimeout(2)
        self.addCleanup(sink.close)
        peer = Peer("sap_announce.py", "--dest", "127.0.0.1:%d" % sink.getsockname()[1], "--interval", "0",
                    "--session", "id=77,hash=0x10,origin=10.0.0.5,name=Mix")
        try:
            first = sink.recv(2048)
            self.assertEqual(first[:8], unhex("20 00 0010 0a000005"))
            self.assertIn(b"o=- 77 1311738121 IN IP4 10.0.0.5\r\ns=Mix\r\n", first)
            peer.send("rehash 77")
            self.assertEqual(sink.recv(2048)[:4], unhex("20 00 0011"))
            peer.send("delete 77")
            self.assertEqual(sink.recv(2048)[:4], unhex("24 00 0011"))
            peer.send("bad compressed")
            self.assertEqual(sink.recv(2048)[0], 0x21)
        finally:
            self.assertEqual(peer.stop(), 0)


if __name__ == "__main__":
    unittest.main()
