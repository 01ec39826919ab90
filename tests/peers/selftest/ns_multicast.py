"""Multicast checks run inside a fresh network namespace (started by
test_multicast_netns): the responder and the announcer on the real groups."""
import socket
import struct
import unittest

import mdns_responder as md
import sap_announce as sa
from selftest.peerproc import Peer


def member(port, group):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.bind(("0.0.0.0", port))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(group) + struct.pack("=II", 0, socket.if_nametoindex("lo")))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    s.settimeout(3)
    return s


class Groups(unittest.TestCase):
    def test_mdns_on_the_group(self):
        s = member(5353, md.GROUP)
        self.addCleanup(s.close)
        peer = Peer("mdns_responder.py", "--interface", "lo", "--knob", "announce=0",
                    "--service", "_netaudio-cmc._udp/dev1/4440/dev1/auto/id=001dc1fffe000001;process=1")
        try:
            w = md.Writer(0, flags=0)
            w.question(md.labels("_netaudio-cmc._udp.local"), md.T_PTR)
            s.sendto(w.bytes(), (md.GROUP, 5353))
            for _ in range(4):
                m = md.parse_message(s.recv(9000))
                if m["flags"] & 0x8000:
                    break
            self.assertEqual(m["id"], 0)
            self.assertEqual([(r["type"], r["flush"]) for r in m["records"]],
                             [(12, False), (33, True), (16, True), (1, True)])
            self.assertEqual(m["records"][3]["address"], "127.0.0.1")
        finally:
            self.assertEqual(peer.stop(), 0)

    def test_sap_on_the_group(self):
        s = member(9875, sa.GROUP)
        self.addCleanup(s.close)
        peer = Peer("sap_announce.py", "--interface", "lo", "--interval", "0")
        try:
            self.assertEqual(s.recv(2048)[:4], bytes([0x20, 0, 0x12, 0x34]))
        finally:
            self.assertEqual(peer.stop(), 0)


if __name__ == "__main__":
    unittest.main()
