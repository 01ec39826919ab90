#!/usr/bin/env python3
"""Writes Dante firmware files (.dnt, magic "AUDI", header versions 2 and 3)
for the firmware agent's file check, good ones and crafted broken ones.

Written from the file layout only (big-endian fields, zlib's CRC-32 for
version 3, the folded byte sum for version 2); it shares nothing with the
C++ check.

Command line:
  dnt_gen.py OUTDIR [--only NAME ...] [--big] [--list]
writes NAME.dnt for every variant (or the ones named) plus manifest.json
mapping each file name to the result code the check must give ("ERR_NOERR"
for a good file) and, for good files, the file information it must extract
("info": header fields, platform, manufacturer id, per model descriptor its
id, part bits and part-12, part-1, firmware and software versions). --big also
writes the 24 MiB size-limit pair (exact limit, one byte more). --list only
prints the variant names. Prints "ready <count>" when done.

As a module: v3(), v2(), cap_part(), variants(), big_variants(), file_info(),
write_all().
"""
import argparse
import json
import os
import struct
import sys
import zlib

MANF_VALDOR = b"Valdor\0\0"
ZERO_ID = b"\0" * 8
SIZE_LIMIT = 0x1800000

# model ids of the unit families' Dante cards
BROX = b"BROX24\0\0"
PELL = b"PELL16\0\0"
SORN = b"SORN08\0\0"
MAVIK = b"MAVIK\0\0\0"

PART_BITS = {1: 0x04, 2: 0x00, 6: 0x01, 9: 0x10, 11: 0x08, 12: 0x02}


def id8(value):
    value = value.encode() if isinstance(value, str) else bytes(value)
    if len(value) > 8:
        raise ValueError("id longer than 8 bytes")
    return value.ljust(8, b"\0")


def cap_version(v):
    """major 1, minor 1, bugfix 2, build 4 bytes"""
    return struct.pack(">BBHI", *v)


def cap_part(manf_id=MANF_VALDOR, model_id=BROX, model_name=b"Brox 24 Dante",
             sw=(4, 2, 1, 7), fw=(4, 2, 0, 3), with_m=True, dir_off=16,
             m_off=48, size=None, no_dir=False):
    """Capability part: directory at T (word at 14), record M at the word at T+28.

    with_m False writes 0 at T+28; no_dir True writes 0 at 14. size pads or
    cuts the part (a cut part makes the walk run past it)."""
    end = max(dir_off + 30, m_off + 292)
    b = bytearray(end)
    struct.pack_into(">H", b, 14, 0 if no_dir else dir_off)
    if with_m:
        struct.pack_into(">H", b, dir_off + 28, m_off)
        b[m_off + 4:m_off + 12] = id8(manf_id)
        b[m_off + 12:m_off + 20] = id8(model_id)
        b[m_off + 148:m_off + 180] = bytes(model_name)[:32].ljust(32, b"\0")
        b[m_off + 276:m_off + 284] = cap_version(sw)
        b[m_off + 284:m_off + 292] = cap_version(fw)
    if size is not None:
        b = b[:size] if size < len(b) else b + bytes(size - len(b))
    return bytes(b)


def payload(tag, n=64):
    """Part bytes with a recognisable first and last byte."""
    return bytes([(tag * 7 + i) & 0xFF for i in range(n)])


def default_parts():
    # part id, release version (major, minor, bugfix, build), data
    return [
        (6, (1, 0, 0, 1), payload(6)),
        (12, (4, 2, 0, 12), payload(12, 96)),
        (1, (4, 2, 1, 1), payload(1, 128)),
        (11, (1, 1, 0, 11), payload(11, 32)),
        (9, (1, 0, 0, 9), cap_part()),
    ]


def v3(parts=None, models=None, device_code=9, version=(4, 2, 7), word12=0x1234,
       manf_id=MANF_VALDOR, part_places=None, crc=None, magic=b"AUDI",
       header_version=3, tail=b"", patch=None, pd_size=16, md_size=16):
    """Version-3 file: header, part descriptor table at 60, model descriptor
    table right after it, then the parts in order.

    parts: [(part id, release version, data)]; models: [(model id, mask)].
    part_places: {index: (offset, size)} writes another offset/size into a
    part descriptor. patch: {header offset: u32} overwrites header words after
    the layout is made (header length at 4, table offsets, counts and sizes at
    36..59), before the CRC. crc: None computes it, an int is written instead."""
    parts = default_parts() if parts is None else parts
    models = [(BROX, (1 << len(parts)) - 1)] if models is None else models
    pd_offset = 60
    md_offset = pd_offset + len(parts) * pd_size
    hl = md_offset + len(models) * md_size
    head = bytearray(hl)
    head[0:4] = magic
    struct.pack_into(">III", head, 4, hl, header_version, word12)
    struct.pack_into(">IBBH", head, 16, device_code, version[0], version[1], version[2])
    head[28:36] = id8(manf_id)
    struct.pack_into(">IIIIII", head, 36, pd_offset, len(parts), pd_size,
                     md_offset, len(models), md_size)
    body = bytearray()
    for i, (pid, rel, data) in enumerate(parts):
        off, size = len(body), len(data)
        if part_places and i in part_places:
            off, size = part_places[i]
        struct.pack_into(">I4sII", head, pd_offset + i * pd_size, pid, bytes(rel), off, size)
        body += data
    for i, (mid, mask) in enumerate(models):
        o = md_offset + i * md_size
        head[o:o + 8] = id8(mid)
        struct.pack_into(">I", head, o + 12, mask)
    for off, value in (patch or {}).items():
        struct.pack_into(">I", head, off, value & 0xFFFFFFFF)
    data = head + body + tail
    value = zlib.crc32(bytes(data[:24]) + b"\0\0\0\0" + bytes(data[28:])) if crc is None else crc
    struct.pack_into(">I", data, 24, value & 0xFFFFFFFF)
    return bytes(data)


def v2_checksum(data, header_len):
    s = (sum(data[:20]) + sum(data[24:header_len]) + sum(data[header_len:])) & 0xFFFFFFFF
    return (s & 0xFFFF) + (s >> 16)


def v2(parts=None, device_code=40, version=(4, 1, 3), part_count=None, header_len=None,
       places=None, checksum=None, tail=b"", magic=b"AUDI", header_version=2):
    """Version-2 file. parts: [(part id, data)]; places: {index: (offset, size)}.
    part_count and header_len overwrite those fields after the layout is made."""
    if parts is None:
        parts = [(6, payload(6)), (1, payload(1, 128)), (9, cap_part(model_id=PELL))]
    hl = len(parts) * 12 + 28
    head = bytearray(hl)
    head[0:4] = magic
    struct.pack_into(">II", head, 4, hl if header_len is None else header_len, header_version)
    struct.pack_into(">IBBH", head, 12, device_code, version[0], version[1], version[2])
    struct.pack_into(">I", head, 24, (len(parts) if part_count is None else part_count) & 0xFFFFFFFF)
    body = bytearray()
    for i, (pid, d) in enumerate(parts):
        off, size = len(body), len(d)
        if places and i in places:
            off, size = places[i]
        struct.pack_into(">III", head, 28 + i * 12, pid, off, size)
        body += d
    data = head + body + tail
    value = v2_checksum(data, hl) if checksum is None else checksum
    struct.pack_into(">I", data, 20, value & 0xFFFFFFFF)
    return bytes(data)


def _cap_record(part):
    """(manf id, model id, sw, fw) of a capability part, zeros without M."""
    t = struct.unpack_from(">H", part, 14)[0]
    m = struct.unpack_from(">H", part, t + 28)[0] if t else 0
    if not m:
        return ZERO_ID, ZERO_ID, "0.0.0.0", "0.0.0.0"

    def ver(at):
        return "%d.%d.%d.%d" % struct.unpack_from(">BBHI", part, m + at)
    return part[m + 4:m + 12], part[m + 12:m + 20], ver(276), ver(284)


def file_info(data):
    """The file information a correct check extracts from a good file:
    header fields and, per model descriptor, its part bits and versions."""
    hl, ver = struct.unpack_from(">II", data, 4)
    out = {"header_version": ver}
    zero = "0.0.0.0"
    if ver == 3:
        word12, code, major, minor, build = struct.unpack_from(">IIBBH", data, 12)
        pdo, pdn, pds, mdo, mdn, mds = struct.unpack_from(">6I", data, 36)
        parts = [struct.unpack_from(">I4sII", data, pdo + i * pds) for i in range(pdn)]
        models = []
        for i in range(mdn):
            mid = data[mdo + i * mds:mdo + i * mds + 8]
            mask = struct.unpack_from(">I", data, mdo + i * mds + 12)[0]
            m = {"model_id": mid.hex(), "part_bits": 0, "part12": zero, "part1": zero, "fw": zero, "sw": zero}
            for j, (pid, rel, off, size) in enumerate(parts):
                if not mask >> j & 1:
                    continue
                m["part_bits"] |= PART_BITS[pid]
                if pid == 9:
                    _, _, m["sw"], m["fw"] = _cap_record(data[hl + off:hl + off + size])
                elif pid in (1, 12):
                    m["part%d" % pid] = "%d.%d.%d.%d" % tuple(rel)
            models.append(m)
        manf = data[28:36]
    else:
        word12 = 0
        code, major, minor, build = struct.unpack_from(">IBBH", data, 12)
        count = struct.unpack_from(">I", data, 24)[0]
        bits, cap = 0, (ZERO_ID, ZERO_ID, zero, zero)
        for i in range(count):
            pid, off, size = struct.unpack_from(">III", data, 28 + i * 12)
            bits |= PART_BITS[pid]
            if pid == 9:
                cap = _cap_record(data[hl + off:hl + off + size])
        manf = cap[0]
        models = [{"model_id": cap[1].hex(), "part_bits": bits, "part12": zero, "part1": zero,
                   "fw": cap[3], "sw": cap[2]}]
    out.update(word12=word12, major=major, minor=minor, build=build,
               platform={9: "Bklyn2", 40: "Bklyn3"}[code], manf_id=manf.hex(), models=models)
    return out


def _facts(platform, manf, models):
    return {"platform": platform, "manf_id": manf.hex(),
            "models": [{"model_id": m.hex(), "part_bits": bits} for m, bits in models]}


def variants():
    """{name: (bytes, expected code name, facts or None)}"""
    out = {}

    def add(name, data, code="ERR_NOERR", facts=None):
        out[name] = (data, code, facts)

    all5 = 0x1F
    # good version 3 files
    add("v3_one_model", v3(), facts=_facts("Bklyn2", MANF_VALDOR, [(BROX, all5)]))
    two = default_parts() + [(9, (1, 0, 0, 9), cap_part(model_id=PELL))]
    add("v3_two_models", v3(parts=two, models=[(BROX, 0x1F), (PELL, 0x2F)]),
        facts=_facts("Bklyn2", MANF_VALDOR, [(BROX, all5), (PELL, all5)]))
    several = default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(model_id=m)) for m in (BROX, PELL, SORN, MAVIK)]
    add("v3_several_models",
        v3(parts=several, device_code=40,
           models=[(BROX, 0x1F), (PELL, 0x2F), (SORN, 0x4F), (MAVIK, 0x8F)]),
        facts=_facts("Bklyn3", MANF_VALDOR, [(m, all5) for m in (BROX, PELL, SORN, MAVIK)]))
    wild = default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(model_id=ZERO_ID))]
    add("v3_wildcard", v3(parts=wild, models=[(ZERO_ID, 0x1F)]),
        facts=_facts("Bklyn2", MANF_VALDOR, [(ZERO_ID, all5)]))
    add("v3_wildcard_and_individual",
        v3(parts=wild + [(9, (1, 0, 0, 9), cap_part(model_id=SORN))],
           models=[(ZERO_ID, 0x0F), (SORN, 0x20)]),
        facts=_facts("Bklyn2", MANF_VALDOR, [(ZERO_ID, 0x0F), (SORN, 0x10)]))
    add("v3_any_manufacturer",
        v3(manf_id=ZERO_ID, parts=default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(manf_id=ZERO_ID))]),
        facts=_facts("Bklyn2", ZERO_ID, [(BROX, all5)]))
    nom = default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(with_m=False))]
    add("v3_cap_without_m", v3(parts=nom), facts=_facts("Bklyn2", MANF_VALDOR, [(BROX, all5)]))
    add("v3_no_cap_part", v3(parts=default_parts()[:4]),
        facts=_facts("Bklyn2", MANF_VALDOR, [(BROX, 0x0F)]))
    add("v3_big_descriptors", v3(pd_size=24, md_size=20),
        facts=_facts("Bklyn2", MANF_VALDOR, [(BROX, all5)]))

    # good version 2 files
    add("v2_with_cap", v2(), facts=_facts("Bklyn3", MANF_VALDOR, [(PELL, 0x15)]))
    add("v2_cap_without_m", v2(parts=[(6, payload(6)), (9, cap_part(with_m=False))]),
        facts=_facts("Bklyn3", ZERO_ID, [(ZERO_ID, 0x11)]))
    add("v2_no_cap", v2(parts=[(6, payload(6)), (12, payload(12)), (11, payload(11))], device_code=9),
        facts=_facts("Bklyn2", ZERO_ID, [(ZERO_ID, 0x0B)]))
    add("v2_other_manufacturer", v2(parts=[(6, payload(6)), (9, cap_part(manf_id=b"Othrco"))]),
        facts=_facts("Bklyn3", id8(b"Othrco"), [(BROX, 0x11)]))

    # common start
    add("bad_magic", v3(magic=b"AUDX"), "ERR_DNT_FORMAT")
    add("bad_header_version", v3(header_version=4), "ERR_DNT_FORMAT")
    add("short_11_bytes", b"AUDI" + struct.pack(">I", 60) + b"\0\0\0", "ERR_DNT_FORMAT")
    add("empty_file", b"", "ERR_DNT_FORMAT")
    add("v3_short_header", v3()[:40], "ERR_DNT_FORMAT")
    add("v2_short_header", v2()[:20], "ERR_DNT_FORMAT")

    # version 3 failures
    add("v3_bad_device_code", v3(device_code=7), "ERR_DNT_DEVICE_ID")
    add("v3_bad_device_code_and_crc", v3(device_code=7, crc=0x12345678), "ERR_DNT_DEVICE_ID")
    add("v3_bad_manufacturer", v3(manf_id=b"Acme"), "ERR_DNT_MANF_ID")
    add("v3_bad_manufacturer_and_crc", v3(manf_id=b"Acme", crc=1), "ERR_DNT_MANF_ID")
    add("v3_bad_crc", v3(crc=0xDEADBEEF), "ERR_DNT_CHKSUM")
    add("v3_zero_part_descriptors", v3(patch={40: 0}), "ERR_DNT_FORMAT")
    add("v3_zero_model_descriptors", v3(patch={52: 0}), "ERR_DNT_FORMAT")
    add("v3_17_part_descriptors", v3(patch={40: 17}), "ERR_DNT_FORMAT")
    add("v3_17_model_descriptors", v3(patch={52: 17}), "ERR_DNT_FORMAT")
    add("v3_md_before_pd_end", v3(patch={48: 60 + 4 * 16}), "ERR_DNT_FORMAT")
    add("v3_md_past_header", v3(patch={4: 60 + 5 * 16 + 8}), "ERR_DNT_FORMAT")
    add("v3_unknown_part_id", v3(parts=default_parts() + [(5, (0, 0, 0, 0), payload(5))],
                                  models=[(BROX, 0x3F)]), "ERR_DNT_FORMAT")
    add("v3_duplicate_part_in_model", v3(parts=default_parts() + [(6, (1, 0, 0, 2), payload(7))],
                                          models=[(BROX, 0x3F)]), "ERR_DNT_FORMAT")
    add("v3_cap_manufacturer_differs",
        v3(parts=default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(manf_id=b"Other"))]), "ERR_DNT_FORMAT")
    add("v3_cap_model_differs",
        v3(parts=default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(model_id=SORN))]), "ERR_DNT_FORMAT")
    add("v3_mask_beyond_parts", v3(models=[(BROX, 0x3F)]), "ERR_DNT_FORMAT")
    # crafted: nothing may be read outside the file
    add("v3_part_past_file", v3(part_places={2: (0, 0x100000)}), "ERR_DNT_FORMAT")
    add("v3_part_offset_huge", v3(part_places={4: (0xFFFFFFF0, 0x20)}), "ERR_DNT_FORMAT")
    add("v3_header_len_past_file", v3(patch={4: 0x7FFFFFF0}), "ERR_DNT_FORMAT")
    add("v3_header_len_below_60", v3(patch={4: 20}), "ERR_DNT_FORMAT")
    add("v3_pd_size_below_16", v3(patch={44: 8}), "ERR_DNT_FORMAT")
    add("v3_md_size_below_16", v3(patch={56: 12}), "ERR_DNT_FORMAT")
    add("v3_pd_table_huge_offset", v3(patch={36: 0xFFFFFF00, 48: 0xFFFFFFF0}),
        "ERR_DNT_FORMAT")
    add("v3_cap_part_cut", v3(parts=default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(size=200))]),
        "ERR_DNT_FORMAT")
    add("v3_cap_dir_past_part",
        v3(parts=default_parts()[:4] + [(9, (1, 0, 0, 9), cap_part(dir_off=0xFFF0, m_off=48, with_m=False, size=64))]),
        "ERR_DNT_FORMAT")
    add("v3_cap_m_past_part",
        v3(parts=default_parts()[:4] + [(9, (1, 0, 0, 9),
                                         _cap_m_at(0xFF00))]), "ERR_DNT_FORMAT")

    # version 2 failures
    add("v2_bad_device_code", v2(device_code=3), "ERR_DNT_DEVICE_ID")
    add("v2_zero_parts", v2(parts=[], part_count=0), "ERR_DNT_FORMAT")
    add("v2_header_len_mismatch", v2(header_len=3 * 12 + 28 + 4), "ERR_DNT_FORMAT")
    # count x 12 + 28 equals the header length only when cut to 32 bits
    add("v2_count_wraps_32_bits", v2(part_count=0x15555556, header_len=36), "ERR_DNT_FORMAT")
    add("v2_count_wraps_to_header", v2(part_count=0x40000003), "ERR_DNT_FORMAT")
    add("v2_unknown_part_id", v2(parts=[(6, payload(6)), (3, payload(3))]), "ERR_DNT_FORMAT")
    add("v2_gap_between_parts", v2(places={1: (len(payload(6)) + 4, 128)}), "ERR_DNT_FORMAT")
    add("v2_length_mismatch", v2(tail=b"\0\0"), "ERR_DNT_FORMAT")
    add("v2_part_past_file", v2(parts=[(6, payload(6))], places={0: (0, 0xFFFFFFF0)}), "ERR_DNT_FORMAT")
    add("v2_bad_checksum", v2(checksum=0x1234), "ERR_DNT_CHKSUM")
    add("v2_cap_part_cut", v2(parts=[(6, payload(6)), (9, cap_part(size=120))]), "ERR_DNT_FORMAT")
    return out


def _cap_m_at(m_off):
    b = bytearray(cap_part(with_m=False))
    struct.pack_into(">H", b, 16 + 28, m_off)
    return bytes(b)


def big_variants():
    """A valid version-2 file of exactly the size limit, and one byte more."""
    out = {}
    for name, size, code in (("v2_exact_limit", SIZE_LIMIT, "ERR_NOERR"),
                             ("v2_limit_plus_one", SIZE_LIMIT + 1, "ERR_DNT_SIZE")):
        fill = size - (2 * 12 + 28) - len(payload(6))
        data = v2(parts=[(6, payload(6)), (11, bytes(fill))])
        assert len(data) == size
        out[name] = (data, code, None)
    return out


def write_all(outdir, only=None, big=False):
    os.makedirs(outdir, exist_ok=True)
    table = dict(variants())
    if big:
        table.update(big_variants())
    manifest = {}
    for name, (data, code, facts) in sorted(table.items()):
        if only and name not in only:
            continue
        fname = name + ".dnt"
        with open(os.path.join(outdir, fname), "wb") as f:
            f.write(data)
        manifest[fname] = {"code": code, "size": len(data)}
        if code == "ERR_NOERR":
            manifest[fname]["info"] = file_info(data)
    with open(os.path.join(outdir, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1, sort_keys=True)
    return manifest


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir", nargs="?", help="folder to write the files into")
    ap.add_argument("--only", nargs="*", help="write only these variants")
    ap.add_argument("--big", action="store_true", help="also write the 24 MiB size-limit pair")
    ap.add_argument("--list", action="store_true", help="print the variant names and exit")
    a = ap.parse_args(argv)
    if a.list:
        for name, (_, code, _) in sorted(variants().items()):
            print(name, code)
        return 0
    if not a.outdir:
        ap.error("outdir is required")
    m = write_all(a.outdir, a.only, a.big)
    print("ready", len(m), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
