"""quil.py against bytes written out by hand from the setup-file layout, and
its writer read back by its reader."""
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import quil

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UID = bytes.fromhex("0f8e3c2a91b44d5e8a7b6c5d4e3f2a1b")


def unhex(text):
    return bytes.fromhex("".join(text.split()))


def rack():
    rows = [[0, i + 1, -1] for i in range(24)]
    rows[0] = [11, 1, 1]  # BroxL-D3, device id 1
    rows[2] = [5, 3, 0x7F]  # Sorn-D, the largest device id
    rows[4] = [6, 5, 9]  # Mavik-D
    return rows


def spec(**changes):
    s = {
        "uuid": UID.hex(),
        "rack": rack(),
        "units": [
            {"name": "Brox3", "info": {"Version": 256, "ModelType": "Brox", "UnitID": 1,
                                       "ModelName": "BroxL-D3", "MMSField": "Backup"},
             "values": {"/InCh[3]/HAGain[0]": -6, "/InCh[3]/48VOn[0]": 1, "/InCh[7]/HPFFreq[0]": 200,
                        "/Dev[0]/Name[0]": "Stage left", "/Dev[0]/Delay[1]": 70000}},
            {"name": "Sorn", "info": {"Version": 256, "ModelType": "Sorn", "UnitID": 3,
                                      "ModelName": "Sorn-D", "MMSField": "Backup"}},
            {"name": "Mavik", "info": None},
        ],
    }
    s.update(changes)
    return s


class Golden(unittest.TestCase):
    def test_top_block_bytes(self):
        want = unhex("""
            2356414c444f52204d424446   50726f6a6563740000000000
            00000024 00000000 00000000
            5175696c6c6f6e00 0000000000000000
            d6060000
            0f8e3c2a91b44d5e8a7b6c5d4e3f2a1b""")
        self.assertEqual(quil.top_block(b"Quillon", b"Project", quil.VERSION, UID), want)

    def test_rack_definition_records(self):
        image = quil.image(quil.PROJSETUP, {})
        header = image[:88]
        self.assertEqual(header[:8], b"MMS\x58LIT\0")
        self.assertEqual(header[8:32], b"ProjSetup".ljust(24, b"\0"))
        self.assertEqual(struct.unpack("<II", header[80:88]), (240, 72))

        def col(name, params, kids, size, count):
            return b"COL0" + name.ljust(24, b"\0") + struct.pack("<5I", params, kids, 0, size, count)

        def pr(name, cls):
            return b"PR" + bytes([32, cls]) + struct.pack("<HH", 1, 1) + name.ljust(24, b"\0")

        want = (col(b"ProjSetup", 0, 192, 72, 1) + col(b"RackMount", 0, 144, 72, 1)
                + col(b"Brox", 96, 0, 3, 24) + pr(b"Model", 2) + pr(b"UnitID", 2) + pr(b"DeviceID", 1))
        self.assertEqual(image[88:88 + 240], want)
        self.assertEqual(image[88 + 240:], bytes(72))

    def test_data_info_is_56_bytes_in_order(self):
        values = quil.info_values({"Version": 256, "ModelType": "Brox", "UnitID": 24,
                                   "ModelName": "BroxM-D3", "MMSField": "Backup"})
        image = quil.image(quil.DATAINFO, values)
        data = image[-56:]
        self.assertEqual(data, struct.pack("<I", 256) + b"Brox".ljust(12, b"\0") + struct.pack("<I", 24)
                         + b"BroxM-D3".ljust(24, b"\0") + b"Backup".ljust(12, b"\0"))


class RoundTrip(unittest.TestCase):
    def test_written_file_reads_back(self):
        got = quil.read(quil.write(spec()))
        self.assertEqual(got["product"], "Quillon")
        self.assertEqual(got["version"], "d6060000")
        self.assertTrue(got["ids_valid"])
        self.assertEqual(got["uuid"], "0f8e3c2a-91b4-4d5e-8a7b-6c5d4e3f2a1b")
        self.assertEqual(got["uuid_version"], 4)
        self.assertEqual(got["rack"], rack())
        self.assertEqual(got["blocks"], ["#MMS FIELD/ProjSetup", "#MMS FIELD/Brox3", "#MMS FIELD/Sorn",
                                         "#MMS FIELD/Mavik", "#END/"])
        brox, sorn, mavik = got["units"]
        self.assertEqual(brox["info"], {"Version": 256, "ModelType": "Brox", "UnitID": 1,
                                        "ModelName": "BroxL-D3", "MMSField": "Backup"})
        self.assertEqual(brox["function"], "Backup")
        for path, value in (("/InCh[3]/HAGain[0]", "-6"), ("/InCh[3]/48VOn[0]", "1"), ("/InCh[2]/48VOn[0]", "0"),
                            ("/InCh[7]/HPFFreq[0]", "200"), ("/Dev[0]/Name[0]", "Stage left"),
                            ("/Dev[0]/Delay[1]", "70000")):
            self.assertEqual(brox["values"][path], value, path)
        self.assertEqual(sorn["info"]["UnitID"], 3)
        self.assertIsNone(mavik["info"])

    def test_big_endian_images_read_the_same(self):
        self.assertEqual(quil.read(quil.write(spec(order="BIG")))["rack"], rack())

    def test_fresh_uuids_differ_and_nothing_else(self):
        s = spec()
        del s["uuid"]
        one, two = quil.write(s), quil.write(s)
        self.assertEqual(len(one), len(two))
        differ = [i for i in range(len(one)) if one[i] != two[i]]
        self.assertTrue(differ)
        self.assertTrue(all(56 <= i < 72 for i in differ), differ)
        self.assertEqual(quil.read(one)["uuid_version"], 4)

    def test_old_version_gives_device_ids_by_slot(self):
        got = quil.read(quil.write(spec(version="000006d6")))
        self.assertFalse(got["ids_valid"])
        self.assertEqual([row[2] for row in got["rack"]], list(range(1, 25)))
        self.assertEqual(got["rack"][0][:2], [11, 1])


class Refusals(unittest.TestCase):
    def test_refused_files(self):
        good = quil.write(spec())
        damaged = quil.write(spec())
        # The last unit's image: flip a byte of its definition so its digest fails.
        at = damaged.rfind(b"MMS\x58") + 88 + 10
        damaged = damaged[:at] + bytes([damaged[at] ^ 0xFF]) + damaged[at + 1:]
        cases = [
            ("product with a trailing blank", quil.write(spec(product="Quillon ")), quil.DIFFERENT),
            ("short product", quil.write(spec(product="Quillo")), quil.DIFFERENT),
            ("archive kind", quil.write(spec(kind="Archive")), quil.DIFFERENT),
            ("no end block", quil.write(spec(end=False)), quil.INVALID),
            ("cut inside a block", good[:len(good) - 60], quil.INVALID),
            ("cut inside the top block", good[:50], quil.INVALID),
            ("damaged unit image", damaged, quil.INVALID),
            ("no rack block", good[:72] + good[-36:], quil.DIFFERENT),
        ]
        for label, data, text in cases:
            with self.subTest(label):
                with self.assertRaises(quil.Refused) as caught:
                    quil.read(data)
                self.assertEqual(str(caught.exception), text)

    def test_unit_ids_outside_the_rack_are_still_read(self):
        # The program skips them; the peer reports them as stored.
        s = spec()
        s["units"][0]["info"]["UnitID"] = 0
        s["units"][1]["info"]["UnitID"] = 25
        units = quil.read(quil.write(s))["units"]
        self.assertEqual([u["info"]["UnitID"] for u in units[:2]], [0, 25])


class CommandLine(unittest.TestCase):
    def run_peer(self, *args, stdin=None):
        return subprocess.run([sys.executable, os.path.join(HERE, "quil.py")] + list(args), input=stdin,
                              capture_output=True, text=True, timeout=60)

    def test_write_then_read(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "show.quil")
            self.assertEqual(self.run_peer("write", path, "-", stdin=json.dumps(spec())).returncode, 0)
            done = self.run_peer("read", path)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(json.loads(done.stdout)["rack"], rack())

            with open(path, "r+b") as f:
                f.truncate(100)
            done = self.run_peer("read", path)
            self.assertEqual(done.returncode, 2)
            self.assertIn("error: Invalid data structure.", done.stderr)


if __name__ == "__main__":
    unittest.main()
