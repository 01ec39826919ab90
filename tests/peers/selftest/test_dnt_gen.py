"""dnt_gen against files written out by hand from the .dnt layout."""
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import dnt_gen

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def unhex(text):
    return bytes.fromhex("".join(text.split()))


class Golden(unittest.TestCase):
    def test_version2_bytes_and_folded_sum(self):
        # one part (id 6, two bytes), device 9, version 1.2 build 3
        want = unhex("""
            41554449 00000028 00000002 00000009 01020003 00000168 00000001
            00000006 00000000 00000002
            0102""")
        self.assertEqual(dnt_gen.v2(parts=[(6, b"\x01\x02")], device_code=9, version=(1, 2, 3)), want)

    def test_version3_bytes_and_crc_with_zeroed_field(self):
        got = dnt_gen.v3(parts=[(6, (1, 2, 3, 4), b"\xAA\xBB")], models=[(dnt_gen.BROX, 1)],
                         device_code=40, version=(1, 2, 3), word12=0, manf_id=b"")
        want = bytearray(unhex("""
            41554449 0000005C 00000003 00000000 00000028 01020003 00000000
            00000000 00000000
            0000003C 00000001 00000010 0000004C 00000001 00000010
            00000006 01020304 00000000 00000002
            42524F58 32340000 00000000 00000001
            AABB"""))
        struct.pack_into(">I", want, 24, zlib.crc32(bytes(want)))
        self.assertEqual(got, bytes(want))

    def test_capability_walk_offsets(self):
        cap = dnt_gen.cap_part(manf_id=b"Valdor", model_id=b"PELL16", model_name=b"Pell",
                               sw=(1, 2, 0x0304, 0x05060708), fw=(9, 8, 7, 6))
        t = struct.unpack_from(">H", cap, 14)[0]
        m = struct.unpack_from(">H", cap, t + 28)[0]
        self.assertEqual((t, m), (16, 48))
        self.assertEqual(cap[m + 4:m + 12], b"Valdor\0\0")
        self.assertEqual(cap[m + 12:m + 20], b"PELL16\0\0")
        self.assertEqual(cap[m + 148:m + 152], b"Pell")
        self.assertEqual(cap[m + 276:m + 284], unhex("0102 0304 05060708"))
        self.assertEqual(cap[m + 284:m + 292], unhex("0908 0007 00000006"))
        self.assertEqual(len(cap), m + 292)
        self.assertEqual(struct.unpack_from(">H", dnt_gen.cap_part(with_m=False), 16 + 28)[0], 0)


class Variants(unittest.TestCase):
    def test_good_files_are_consistent(self):
        for name, (data, code, facts) in dnt_gen.variants().items():
            if code != "ERR_NOERR":
                continue
            with self.subTest(name=name):
                self.assertEqual(data[:4], b"AUDI")
                hl, ver = struct.unpack_from(">II", data, 4)
                if ver == 3:
                    field = struct.unpack_from(">I", data, 24)[0]
                    self.assertEqual(field, zlib.crc32(data[:24] + bytes(4) + data[28:]))
                    _, pdn, pds, _, mdn, _ = struct.unpack_from(">6I", data, 36)
                    last = max(struct.unpack_from(">II", data, 60 + i * pds + 8) for i in range(pdn))
                    self.assertEqual(len(data), hl + sum(last))
                    self.assertEqual(mdn, len(facts["models"]))
                else:
                    count = struct.unpack_from(">I", data, 24)[0]
                    self.assertEqual(hl, count * 12 + 28)
                    s = sum(data[:20]) + sum(data[24:])
                    self.assertEqual(struct.unpack_from(">I", data, 20)[0], (s & 0xFFFF) + (s >> 16))

    def test_file_info_matches_the_hand_facts(self):
        for name, (data, code, facts) in dnt_gen.variants().items():
            if code != "ERR_NOERR":
                continue
            with self.subTest(name=name):
                info = dnt_gen.file_info(data)
                self.assertEqual((info["platform"], info["manf_id"]), (facts["platform"], facts["manf_id"]))
                self.assertEqual([(m["model_id"], m["part_bits"]) for m in info["models"]],
                                 [(m["model_id"], m["part_bits"]) for m in facts["models"]])
        one = dnt_gen.file_info(dnt_gen.variants()["v3_one_model"][0])
        self.assertEqual((one["word12"], one["major"], one["minor"], one["build"]), (0x1234, 4, 2, 7))
        self.assertEqual({k: one["models"][0][k] for k in ("part12", "part1", "fw", "sw")},
                         {"part12": "4.2.0.12", "part1": "4.2.1.1", "fw": "4.2.0.3", "sw": "4.2.1.7"})
        nom = dnt_gen.file_info(dnt_gen.variants()["v3_cap_without_m"][0])["models"][0]
        self.assertEqual((nom["fw"], nom["sw"], nom["part1"]), ("0.0.0.0", "0.0.0.0", "4.2.1.1"))

    def test_cli_writes_files_and_manifest(self):
        with tempfile.TemporaryDirectory() as d:
            out = subprocess.run([sys.executable, os.path.join(HERE, "dnt_gen.py"), d,
                                  "--only", "v3_one_model", "v3_bad_crc"],
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(out.stdout.strip(), "ready 2")
            with open(os.path.join(d, "manifest.json")) as f:
                manifest = json.load(f)
            self.assertEqual(manifest["v3_bad_crc.dnt"]["code"], "ERR_DNT_CHKSUM")
            self.assertEqual(manifest["v3_one_model.dnt"]["info"]["platform"], "Bklyn2")
            self.assertEqual(os.path.getsize(os.path.join(d, "v3_one_model.dnt")),
                             manifest["v3_one_model.dnt"]["size"])

    def test_size_limit_pair(self):
        big = dnt_gen.big_variants()
        self.assertEqual(len(big["v2_exact_limit"][0]), 0x1800000)
        self.assertEqual(len(big["v2_limit_plus_one"][0]), 0x1800001)


if __name__ == "__main__":
    unittest.main()
