"""Runs the multicast checks in a network namespace of their own."""
import os
import shutil
import subprocess
import sys
import unittest

PEERS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def namespace_available():
    if not shutil.which("unshare") or not shutil.which("ip"):
        return False
    return subprocess.run(["unshare", "-rn", "true"], capture_output=True).returncode == 0


@unittest.skipUnless(namespace_available(), "network namespaces not available")
class InNamespace(unittest.TestCase):
    def test_groups(self):
        r = subprocess.run(["unshare", "-rn", "sh", "-c",
                            "ip link set lo up && ip link set lo multicast on && "
                            "exec %s -m unittest selftest.ns_multicast" % sys.executable],
                           cwd=PEERS, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
