"""Runs the multicast checks in a network namespace of their own."""
import unittest

from selftest.peerproc import namespace_available, run_in_namespace


@unittest.skipUnless(namespace_available(), "network namespaces not available")
class InNamespace(unittest.TestCase):
    def test_groups(self):
        r = run_in_namespace(["ip link set lo up", "ip link set lo multicast on"], "selftest.ns_multicast")
        self.assertEqual(r.returncode, 0, r.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
