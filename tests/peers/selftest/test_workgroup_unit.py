"""Runs the simulated unit's checks in a network namespace of their own,
on a veth pair (IPv6 multicast does not loop back over lo)."""
import unittest

from selftest.peerproc import namespace_available, run_in_namespace


@unittest.skipUnless(namespace_available(), "network namespaces not available")
class InNamespace(unittest.TestCase):
    def test_unit(self):
        r = run_in_namespace([
            "sysctl -qw net.ipv6.conf.all.accept_dad=0",
            "sysctl -qw net.ipv6.conf.default.accept_dad=0",
            "ip link set lo up",
            "ip link add wgu0 type veth peer name wgu1",
            "ip link set wgu0 up",
            "ip link set wgu1 up",
        ], "selftest.ns_workgroup_unit")
        self.assertEqual(r.returncode, 0, r.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
