"""The zip fixture writer against python's own zipfile reader: the archives
it makes are read back entry by entry, and the broken ones are found out."""
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, HERE)
import mavik_zip  # noqa: E402


def write(kind, args=()):
    fd, path = tempfile.mkstemp(suffix=".zip")
    with os.fdopen(fd, "wb") as fh:
        fh.write(mavik_zip.make(kind, list(args)))
    return path


class ZipFixtures(unittest.TestCase):
    def test_plain_reads_back(self):
        path = write("plain")
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            names = [i.filename for i in z.infolist()]
            self.assertEqual(names, ["dir/", "dir/sub/", "dir/sub/b.bin", "x/y/z.bin", "empty.bin", "top.txt"])
            self.assertEqual(z.read("dir/sub/b.bin"), mavik_zip.pattern(3000, 1))
            self.assertTrue(z.getinfo("dir/").is_dir())
        os.unlink(path)

    def test_names_keep_their_bytes(self):
        path = write("cp932")
        with zipfile.ZipFile(path) as z:
            # No UTF-8 flag: python decodes as cp437, which keeps every byte.
            raw = [i.filename.encode("cp437") for i in z.infolist()]
            self.assertEqual(raw[0], "ファーム/更新.bin".encode("cp932"))
            self.assertEqual(raw[1][:2], b"\x95\x5c")
        os.unlink(path)
        path = write("unsafe", ["2e2e2f78"])
        with zipfile.ZipFile(path) as z:
            self.assertEqual([i.filename for i in z.infolist()], ["first.txt", "../x"])
        os.unlink(path)

    def test_broken_entries_are_found(self):
        for kind in ("damaged", "badcrc"):
            path = write(kind)
            with zipfile.ZipFile(path) as z:
                try:
                    bad = z.testzip()
                except (zlib.error, zipfile.BadZipFile):
                    bad = "raised"
                self.assertIsNotNone(bad, kind)
            os.unlink(path)

    def test_tree_lists_files_and_folders(self):
        with tempfile.TemporaryDirectory() as d:
            os.makedirs(os.path.join(d, "a", "b"))
            with open(os.path.join(d, "a", "f.bin"), "wb") as fh:
                fh.write(b"abc")
            os.chmod(os.path.join(d, "a", "f.bin"), 0o755)
            out = subprocess.run([sys.executable, os.path.join(HERE, "mavik_zip.py"), "tree", d],
                                 capture_output=True, text=True, check=True).stdout.split("\n")
            self.assertEqual(out[:3], ["d a", "d a/b", "f a/f.bin 3 900150983cd24fb0d6963f7d28e17f72 755"])


if __name__ == "__main__":
    unittest.main()
