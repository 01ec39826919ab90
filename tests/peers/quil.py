#!/usr/bin/env python3
"""Independent reader and writer of .quil setup files, written from the byte
layout. Uses mbdf_peer.py for the block framing and mms_image.py for the
record layout and the image reader.

A .quil file is an MBDF container:
  top block   "#VALDOR MBDF", sub-name "Project", 36-byte part 1:
              product name (16, zero-padded), four version bytes (D6 06 00 00
              from the current writer), a UUID in RFC 4122 byte order (16)
  rack block  "#MMS FIELD" / "ProjSetup": empty part 1, part 2 the image of
              the ProjSetup function (RackMount/Brox[24]: Model, UnitID,
              DeviceID)
  unit blocks "#MMS FIELD" / family name, one per mounted slot: part 1 the
              image of the DataInfo function (empty for Mavik), part 2 the
              image of the unit's stored function ("Backup"; Mavik "Current")
  end block   "#END"
The version bytes read as a big-endian number V: from 0xD6060000 on, the rack
block's device ids are valid; before, slot i has device id i + 1.

  read <file>
      prints the content as JSON: product, version (hex), ids_valid, uuid,
      uuid_version, rack (24 rows of model, unit_id, device_id), units (name,
      info or null, function, values, image md5), blocks (tag/sub-name in
      order). A file the program must refuse exits with status 2 and
      "error: <text>" on stderr, <text> being the program's own message:
      "Different kind of data." or "Invalid data structure.".
  write <out> <spec.json | ->
      writes a file from a JSON spec (every key optional):
        product "Quillon", kind "Project", version "d6060000",
        uuid (32 hex digits; a fresh random one when absent), order "LIT",
        rack [[model, unit_id, device_id] x 24] (default: empty slots with
        unit id i + 1, device id -1), units [{name, info {Version, ModelType,
        UnitID, ModelName, MMSField} or null, image_hex (the unit's image as
        bytes) or values {path: value} for the peer's small sample "Backup"
        function}], end true, truncate (cut the file to this many bytes)
"""
import hashlib
import json
import struct
import sys
import uuid as uuidlib

import mbdf_peer
import mms_image

FIELD_TAG = b"#MMS FIELD\0\0"
PRODUCT = b"Quillon"
KIND = b"Project"
VERSION = bytes.fromhex("d6060000")
SLOTS = 24
FAMILIES = ("Brox", "Sorn", "Mavik", "Pell", "Brox2", "Pell2", "Brox3")

DIFFERENT = "Different kind of data."
INVALID = "Invalid data structure."

# Type spellings of the layout definitions: swap class and element width.
TYPES = {
    "int8_t": (mms_image.SIGNED, 1),
    "int16_t": (mms_image.SIGNED, 2),
    "int32_t": (mms_image.SIGNED, 4),
    "uint8_t": (mms_image.UNSIGNED, 1),
    "uint16_t": (mms_image.UNSIGNED, 2),
    "uint32_t": (mms_image.UNSIGNED, 4),
    "bit": (mms_image.UNSIGNED, 0),
    "float": (mms_image.REAL, 4),
}

# Functions as collection trees: (name, array size, [(parameter, type, count)],
# [children]). Strings are ("string", width).
PROJSETUP = ("ProjSetup", 1, [], [
    ("RackMount", 1, [], [
        ("Brox", SLOTS, [("Model", "uint8_t", 1), ("UnitID", "uint8_t", 1), ("DeviceID", "int8_t", 1)], []),
    ]),
])
DATAINFO = ("DataInfo", 1, [], [
    ("DataInfo", 1, [
        ("Version", "uint32_t", 1),
        ("ModelType", ("string", 12), 1),
        ("UnitID", "uint32_t", 1),
        ("ModelName", ("string", 24), 1),
        ("MMSField", ("string", 12), 1),
    ], []),
])
# A small stand-in for a unit's stored function, for files the peer makes up.
SAMPLE_BACKUP = ("Backup", 1, [], [
    ("InCh", 8, [("HAGain", "int8_t", 1), ("48VOn", "bit", 1), ("Phase", "bit", 1), ("HPFFreq", "uint8_t", 1)], []),
    ("Dev", 1, [("Name", ("string", 16), 1), ("Delay", "uint32_t", 2)], []),
])
SIZES = {"ProjSetup": 72, "DataInfo": 56}


class Refused(Exception):
    """A file the program refuses; the text is the program's message."""


# --- Images -------------------------------------------------------------------


def type_of(spelling):
    if isinstance(spelling, tuple):
        return 0, spelling[1]
    return TYPES[spelling]


def layout(coll):
    """Element size of a collection and where its parameters and children sit."""
    name, count, params, children = coll
    typed = [(p, *type_of(t), k) for p, t, k in params]
    places, used = mms_image.layout_parameters(typed)
    kids = []
    cursor = used
    for child in children:
        child_layout = layout(child)
        kids.append((child, child_layout, cursor))
        cursor += child_layout["size"] * child[1]
    return {"typed": typed, "places": places, "kids": kids, "size": cursor}


def records(coll, lay, offset, prefix):
    name, count, _, _ = coll
    params = b"".join(mms_image.parameter_record(prefix, p, c, w, k) for p, c, w, k in lay["typed"])
    kids = b"".join(records(child, child_lay, off, prefix) for child, child_lay, off in lay["kids"])
    return mms_image.collection_record(prefix, name, len(params), len(kids), offset, lay["size"], count) + params + kids


def fill(data, base, coll, lay, path, values, prefix, root):
    name, count, _, _ = coll
    for e in range(count):
        here = "" if root else "%s/%s[%d]" % (path, name, e)
        at = base + e * lay["size"]
        full = []
        for p, c, w, k in lay["typed"]:
            vals = []
            for i in range(k):
                v = values.get("%s/%s[%d]" % (here, p, i), b"" if c == 0 else 0)
                vals.append(v.encode("utf-8") if isinstance(v, str) else v)
            full.append((p, c, w, k, vals))
        mms_image.write_parameters(data, at, full, lay["places"], prefix)
        for child, child_lay, off in lay["kids"]:
            fill(data, at + off, child, child_lay, here, values, prefix, False)


def image(function, values, order="LIT"):
    """The image of a function with the given values ("/Coll[i]/Param[j]" keys,
    as mms_image.dump names them); everything else is zero."""
    prefix = "<" if order == "LIT" else ">"
    lay = layout(function)
    name = function[0]
    if name in SIZES:
        assert lay["size"] == SIZES[name], (name, lay["size"])
    part1 = records(function, lay, 0, prefix)
    data = bytearray(lay["size"])
    fill(data, 0, function, lay, "", values, prefix, True)
    header = b"MMS" + bytes([88]) + order.encode() + b"\0"
    header += name.encode().ljust(24, b"\0") + b"\0" * 12
    header += hashlib.md5(part1).hexdigest().encode() + b"\0" * 4
    header += struct.pack(prefix + "II", len(part1), len(data))
    return header + part1 + bytes(data)


def read_image(buf):
    """(function name, {path: text}) of an image; Refused when malformed."""
    try:
        lines = mms_image.dump(buf)
    except SystemExit:
        raise Refused(INVALID)
    except (ValueError, UnicodeDecodeError, struct.error, IndexError, KeyError):
        raise Refused(INVALID)
    name = lines[0].split("=", 1)[1]
    values = dict(line.split("=", 1) for line in lines[2:])
    return name, values


def same_definition(buf, function):
    """Whether an image defines exactly the given function (in its own order)."""
    order = buf[4:7].decode("latin-1")
    if order not in ("LIT", "BIG"):
        return False
    prefix = "<" if order == "LIT" else ">"
    (len1,) = struct.unpack(prefix + "I", buf[80:84])
    return buf[88:88 + len1] == records(function, layout(function), 0, prefix)


def rack_values(rack):
    values = {}
    for i, (model, unit_id, device_id) in enumerate(rack):
        row = "/RackMount[0]/Brox[%d]" % i
        values[row + "/Model[0]"] = model
        values[row + "/UnitID[0]"] = unit_id
        values[row + "/DeviceID[0]"] = device_id
    return values


def info_values(info):
    return {"/DataInfo[0]/%s[0]" % k: v for k, v in info.items()}


# --- Files --------------------------------------------------------------------


def top_block(product, kind, version, uid):
    record = product.ljust(16, b"\0")[:16] + version[:4].ljust(4, b"\0") + uid
    assert len(record) == 36
    return mbdf_peer.block(mbdf_peer.TOP_TAG, kind, 12, record)


def field_block(sub, part1, part2):
    return mbdf_peer.block(FIELD_TAG, sub.encode(), 12, part1, part2)


def write(spec):
    order = spec.get("order", "LIT")
    uid = bytes.fromhex(spec["uuid"]) if "uuid" in spec else uuidlib.uuid4().bytes
    rack = spec.get("rack") or [[0, i + 1, -1] for i in range(SLOTS)]
    data = top_block(spec.get("product", "Quillon").encode(), spec.get("kind", "Project").encode(),
                     bytes.fromhex(spec.get("version", VERSION.hex())), uid)
    data += field_block("ProjSetup", b"", image(PROJSETUP, rack_values(rack), order))
    for unit in spec.get("units", []):
        info = unit.get("info")
        part1 = image(DATAINFO, info_values(info), order) if info is not None else b""
        if "image_hex" in unit:
            part2 = bytes.fromhex(unit["image_hex"])
        else:
            part2 = image(SAMPLE_BACKUP, unit.get("values", {}), order)
        data += field_block(unit["name"], part1, part2)
    if spec.get("end", True):
        data += mbdf_peer.end_block()
    if spec.get("truncate") is not None:
        data = data[:spec["truncate"]]
    return data


def read(data):
    try:
        blocks = list(mbdf_peer.read_blocks(data))
    except ValueError:
        raise Refused(INVALID)
    if not blocks:
        raise Refused(INVALID)
    name, p1, p2 = blocks[0]
    if name[:12] != mbdf_peer.TOP_TAG or len(p1) not in (36, 48) or p2:
        raise Refused(INVALID)
    if mbdf_peer.cstr(name[12:24]) != KIND.decode() or p1[:16].split(b"\0", 1)[0] != PRODUCT:
        raise Refused(DIFFERENT)
    tags = [(name[:12].split(b"\0", 1)[0], name[12:24].split(b"\0", 1)[0]) for name, _, _ in blocks[1:]]
    if not tags or mbdf_peer.cstr(blocks[-1][0]) != "#END" or blocks[-1][1] or blocks[-1][2]:
        raise Refused(INVALID)
    if any(mbdf_peer.cstr(n) == "#END" for n, _, _ in blocks[1:-1]):
        raise Refused(INVALID)  # data after the end block
    (version,) = struct.unpack(">I", p1[16:20])
    uid = uuidlib.UUID(bytes=bytes(p1[20:36]))
    out = {
        "product": PRODUCT.decode(),
        "version": p1[16:20].hex(),
        "ids_valid": version >= 0xD6060000,
        "uuid": str(uid),
        "uuid_version": uid.version if uid.variant == uuidlib.RFC_4122 else None,
        "blocks": ["%s/%s" % (t.decode("latin-1"), s.decode("latin-1")) for t, s in tags],
        "rack": None,
        "units": [],
    }
    fields = [(n, a, b) for n, a, b in blocks[1:-1] if n[:12] == FIELD_TAG]
    for n, a, b in fields:
        if not b:
            raise Refused(INVALID)  # a field block always carries an image
    setup = [b for n, a, b in fields if n[12:24].split(b"\0", 1)[0] == b"ProjSetup"]
    if not setup:
        raise Refused(DIFFERENT)
    if not same_definition(setup[0], PROJSETUP):
        raise Refused(INVALID)
    _, values = read_image(setup[0])
    rows = []
    for i in range(SLOTS):
        row = "/RackMount[0]/Brox[%d]" % i
        device_id = int(values[row + "/DeviceID[0]"]) if out["ids_valid"] else i + 1
        rows.append([int(values[row + "/Model[0]"]), int(values[row + "/UnitID[0]"]), device_id])
    out["rack"] = rows
    for n, a, b in fields:
        sub = n[12:24].split(b"\0", 1)[0].decode("latin-1")
        if sub not in FAMILIES:
            continue
        info = None
        if a:
            if not same_definition(a, DATAINFO):
                raise Refused(INVALID)
            _, raw = read_image(a)
            info = {k.split("/")[2].split("[")[0]: v for k, v in raw.items()}
            for key in ("Version", "UnitID"):
                info[key] = int(info[key])
        function, unit_values = read_image(b)
        out["units"].append({
            "name": sub,
            "info": info,
            "function": function,
            "values": unit_values,
            "md5": hashlib.md5(b).hexdigest(),
        })
    return out


def main(argv):
    if len(argv) == 3 and argv[1] == "read":
        with open(argv[2], "rb") as f:
            data = f.read()
        try:
            result = read(data)
        except Refused as e:
            print("error: " + str(e), file=sys.stderr)
            sys.exit(2)
        print(json.dumps(result, indent=1, sort_keys=True))
    elif len(argv) == 4 and argv[1] == "write":
        text = sys.stdin.read() if argv[3] == "-" else open(argv[3]).read()
        with open(argv[2], "wb") as f:
            f.write(write(json.loads(text)))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv)
