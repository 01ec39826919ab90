"""Self-test of mbdf_peer.py's package command: what it writes reads back
through the peer's own lister, byte for byte where the layout is fixed."""

import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEER = os.path.join(HERE, "mbdf_peer.py")


def peer(*args):
    return subprocess.run([sys.executable, PEER] + list(args), check=True, capture_output=True, text=True).stdout


class PackageCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.dir.name, "fw.img")
        self.content = bytes(range(256)) * 40
        with open(self.src, "wb") as f:
            f.write(self.content)

    def tearDown(self):
        self.dir.cleanup()

    def test_entries_and_field_read_back(self):
        out = os.path.join(self.dir.name, "p.bin")
        peer("package", out, "28", "QuilBroxL-D", "56010200" + "04010203", "data/", "data/fw.BIN=" + self.src,
             "../x=" + self.src)
        lines = peer("list", out).splitlines()
        self.assertEqual(lines[0].split("\t"), ["TOP", "Archive", "QuilBroxL-D", "60",
                                                "5601020004010203" + "00" * 20])
        md5 = hashlib.md5(self.content).hexdigest()
        self.assertEqual(lines[1].split("\t")[:4], ["FILE", "data", "80", "33"])
        self.assertEqual(lines[2].split("\t")[:6], ["FILE", "data/fw.BIN", "8", "33", str(len(self.content)), md5])
        self.assertEqual(lines[3].split("\t")[1], "../x")
        self.assertEqual(lines[-1], "END")

    def test_list_of_packages(self):
        a, b = os.path.join(self.dir.name, "a.bin"), os.path.join(self.dir.name, "b.bin")
        listing = os.path.join(self.dir.name, "list")
        with open(listing, "w") as f:
            f.write("\t".join([a, "16", "Brox-D3", "00170156", "fw=" + self.src]) + "\n")
            f.write("\t".join(["--kind", "Other", b, "16", "QuilSorn-D", ""]) + "\n")
        peer("packages", listing)
        self.assertEqual(peer("list", a).splitlines()[0].split("\t")[2:], ["Brox-D3", "48", "00170156" + "00" * 12])
        self.assertEqual(peer("list", b).splitlines(), ["TOP\tOther\tQuilSorn-D\t48\t" + "00" * 16, "END"])

    def test_width_kind_and_damaged_entry(self):
        out = os.path.join(self.dir.name, "q.bin")
        peer("package", "--kind", "Setup", out, "40", "Foo", "", "bad!" + self.src)
        with open(out, "rb") as f:
            data = f.read()
        self.assertEqual(data[12:17], b"Setup")
        self.assertEqual(struct.unpack(">I", data[24:28])[0], 72)
        # The damaged entry's content is the source as it is, not a stream.
        self.assertIn(self.content, data)
        with self.assertRaises(subprocess.CalledProcessError):
            peer("list", out)


if __name__ == "__main__":
    unittest.main()
