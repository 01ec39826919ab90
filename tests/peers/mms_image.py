#!/usr/bin/env python3
"""Independent writer and reader of serialised memory images.

Written from the byte layout of the image alone (88-byte "MMS" header,
"COL"/"PR" definition records, data in layout order, "MDF"/"MDR" bundles).

  mms_image.py write LIT|BIG OUT     writes the sample function's image
  mms_image.py bundle LIT|BIG OUT    the sample image twice in an "MDF" bundle
  mms_image.py dump IN               prints every element as path[index]=value
  mms_image.py dumpall IN            dumps each image of an "MDF" bundle

dump checks the header, the digest and the record structure and exits with
status 2 on anything malformed.
"""
import hashlib
import struct
import sys

# Swap classes of the records: 1 signed, 2 unsigned (width 0: packed bits), 3 real.
SIGNED, UNSIGNED, REAL = 1, 2, 3

# The sample function. Each parameter: (name, class, width, count, values).
# Class 0 marks a text element of `width` bytes.
SAMPLE = (
    "Mixer",
    [
        ("flags", UNSIGNED, 0, 3, [1, 0, 1]),
        ("gain", SIGNED, 2, 2, [-300, 1200]),
        ("mute", UNSIGNED, 0, 10, [1, 1, 0, 0, 1, 0, 0, 0, 1, 1]),
        ("level", UNSIGNED, 4, 1, [0xDEADBEEF]),
        ("label", 0, 8, 1, [b"Main Out"]),
        ("trim", REAL, 4, 1, [-2.5]),
    ],
    [
        # name, count, parameters, values per element
        ("ch", 3, [("vol", UNSIGNED, 2, 1), ("pan", SIGNED, 4, 1)],
         [[[1000], [-70000]], [[2000], [0]], [[65535], [2147483647]]]),
    ],
)


def fail(message):
    print("error: " + message, file=sys.stderr)
    sys.exit(2)


def int_format(cls, width, prefix):
    letters = {1: "b", 2: "h", 4: "i", 8: "q"}
    letter = letters[width]
    if cls == UNSIGNED:
        letter = letter.upper()
    return prefix + letter


def element_bytes(cls, width, value, prefix):
    if cls == 0:
        return value.ljust(width, b"\0")[:width]
    if cls == REAL:
        return struct.pack(prefix + "f", value)
    return struct.pack(int_format(cls, width, prefix), value)


def layout_parameters(params):
    """Byte offsets of each parameter in one element, as the layout packs them."""
    places = []
    m = 0
    bit = 0
    for name, cls, width, count, *_ in params:
        if cls == UNSIGNED and width == 0:
            places.append((m, bit))
            m += (bit + count) // 8
            bit = (bit + count) % 8
            continue
        if bit:
            m += 1
            bit = 0
        places.append((m, 0))
        m += width * count
    if bit:
        m += 1
    return places, m


def parameter_record(prefix, name, cls, width, count):
    return (b"PR" + bytes([32, cls]) + struct.pack(prefix + "HH", width, count)
            + name.encode().ljust(24, b"\0"))


def collection_record(prefix, name, param_bytes, child_bytes, offset, size, count):
    return (b"COL" + bytes([48]) + name.encode().ljust(24, b"\0")
            + struct.pack(prefix + "IIIII", param_bytes, child_bytes, offset, size, count))


def write_parameters(data, base, params, places, prefix):
    for (name, cls, width, count, values), (m, bit) in zip(params, places):
        if cls == UNSIGNED and width == 0:
            for i, v in enumerate(values):
                position = bit + i
                if v:
                    data[base + m + position // 8] |= 1 << (position % 8)
            continue
        for i, v in enumerate(values):
            at = base + m + i * width
            data[at:at + width] = element_bytes(cls, width, v, prefix)


def sample_image(order):
    prefix = "<" if order == "LIT" else ">"
    name, params, children = SAMPLE
    places, used = layout_parameters(params)
    child_records = b""
    child_places = []
    cursor = used
    for cname, ccount, cparams, _ in children:
        cplaces, csize = layout_parameters([p + (None,) for p in cparams])
        recs = b"".join(parameter_record(prefix, n, c, w, k) for n, c, w, k in cparams)
        child_records += collection_record(prefix, cname, len(recs), 0, cursor, csize, ccount) + recs
        child_places.append((cursor, csize, cplaces))
        cursor += csize * ccount
    element_size = cursor
    param_records = b"".join(parameter_record(prefix, n, c, w, k) for n, c, w, k, _ in params)
    part1 = collection_record(prefix, name, len(param_records), len(child_records), 0, element_size, 1)
    part1 += param_records + child_records
    data = bytearray(element_size)
    write_parameters(data, 0, params, places, prefix)
    for (cname, ccount, cparams, cvalues), (offset, csize, cplaces) in zip(children, child_places):
        for e in range(ccount):
            full = [p + (cvalues[e][i],) for i, p in enumerate(cparams)]
            write_parameters(data, offset + e * csize, full, cplaces, prefix)
    header = b"MMS" + bytes([88]) + order.encode() + b"\0"
    header += name.encode().ljust(24, b"\0") + b"\0" * 12
    header += hashlib.md5(part1).hexdigest().encode() + b"\0" * 4
    header += struct.pack(prefix + "II", len(part1), len(data))
    assert len(header) == 88
    return header + part1 + bytes(data)


def bundle(order, images):
    prefix = "<" if order == "LIT" else ">"
    out = b"MDF" + bytes([48]) + order.encode() + b"\0" + b"\0" * 36 + struct.pack(prefix + "I", len(images))
    for name, image in images:
        out += b"MDR" + bytes([32]) + name.encode().ljust(24, b"\0") + struct.pack(prefix + "I", len(image))
        out += image
    return out


# --- Reader -------------------------------------------------------------------


def read_collection(part1, at, prefix, depth):
    if depth > 6 or at + 48 > len(part1) or part1[at:at + 3] != b"COL" or part1[at + 3] != 48:
        fail("bad collection record at %d" % at)
    name = part1[at + 4:at + 28].rstrip(b"\0").decode()
    pbytes, cbytes, offset, size, count = struct.unpack(prefix + "IIIII", part1[at + 28:at + 48])
    end = at + 48 + pbytes + cbytes
    if end > len(part1) or pbytes % 32:
        fail("collection %s overruns the block" % name)
    params = []
    for p in range(at + 48, at + 48 + pbytes, 32):
        rec = part1[p:p + 32]
        if rec[:2] != b"PR" or rec[2] != 32:
            fail("bad parameter record at %d" % p)
        width, pcount = struct.unpack(prefix + "HH", rec[4:8])
        params.append((rec[8:32].rstrip(b"\0").decode(), rec[3], width, pcount))
    children = []
    c = at + 48 + pbytes
    while c < end:
        child, c = read_collection(part1, c, prefix, depth + 1)
        children.append(child)
    if c != end:
        fail("children of %s do not fill their bytes" % name)
    return (name, offset, size, count, params, children), end


def dump_collection(out, data, coll, base, path, prefix):
    name, offset, size, count, params, children = coll
    places, _ = layout_parameters(params)
    for e in range(count):
        g = base + offset + size * e
        here = path + ("[%d]" % e if path else "")
        for (pname, cls, width, pcount), (m, bit) in zip(params, places):
            for i in range(pcount):
                if cls == UNSIGNED and width == 0:
                    position = bit + i
                    value = (data[g + m + position // 8] >> (position % 8)) & 1
                    text = str(value)
                else:
                    raw = bytes(data[g + m + i * width:g + m + (i + 1) * width])
                    if len(raw) != width:
                        fail("data of %s overruns part 2" % pname)
                    if cls == 0:
                        text = raw.rstrip(b"\0").decode("latin-1")
                    elif cls == REAL:
                        text = "%.6g" % struct.unpack(prefix + "f", raw)[0]
                    else:
                        text = str(struct.unpack(int_format(cls, width, prefix), raw)[0])
                out.append("%s/%s[%d]=%s" % (here, pname, i, text))
        for child in children:
            dump_collection(out, data, child, g, here + "/" + child[0], prefix)


def dump(image):
    if len(image) < 88 or image[:3] != b"MMS" or image[3] != 88:
        fail("bad header")
    mark = image[4:8]
    if mark == b"LIT\0":
        prefix = "<"
    elif mark == b"BIG\0":
        prefix = ">"
    else:
        fail("bad byte-order mark")
    len1, len2 = struct.unpack(prefix + "II", image[80:88])
    if 88 + len1 + len2 > len(image):
        fail("parts overrun the image")
    part1 = image[88:88 + len1]
    data = image[88 + len1:88 + len1 + len2]
    digest = image[44:80]
    if digest != hashlib.md5(part1).hexdigest().encode() + b"\0" * 4:
        fail("digest mismatch")
    root, end = read_collection(part1, 0, prefix, 0)
    if end != len1:
        fail("definition block has trailing bytes")
    out = ["name=" + image[8:32].rstrip(b"\0").decode(), "order=" + mark[:3].decode()]
    dump_collection(out, data, root, 0, "", prefix)
    return out


def dump_all(buf):
    if len(buf) < 48 or buf[:3] != b"MDF" or buf[3] != 48:
        fail("bad MDF header")
    prefix = {b"LIT\0": "<", b"BIG\0": ">"}.get(buf[4:8])
    if prefix is None:
        fail("bad MDF mark")
    (count,) = struct.unpack(prefix + "I", buf[44:48])
    out = ["functions=%d" % count]
    at = 48
    for _ in range(count):
        rec = buf[at:at + 32]
        if len(rec) != 32 or rec[:3] != b"MDR" or rec[3] != 32:
            fail("bad MDR record at %d" % at)
        (length,) = struct.unpack(prefix + "I", rec[28:32])
        image = buf[at + 32:at + 32 + length]
        if len(image) != length:
            fail("image overruns the bundle")
        out.append("function=" + rec[4:28].rstrip(b"\0").decode())
        out.extend(dump(image))
        at += 32 + length
    return out


def main():
    if len(sys.argv) == 4 and sys.argv[1] in ("write", "bundle") and sys.argv[2] in ("LIT", "BIG"):
        image = sample_image(sys.argv[2])
        if sys.argv[1] == "bundle":
            image = bundle(sys.argv[2], [("Other", image), ("Mixer", image)])
        with open(sys.argv[3], "wb") as f:
            f.write(image)
        return
    if len(sys.argv) == 3 and sys.argv[1] in ("dump", "dumpall"):
        with open(sys.argv[2], "rb") as f:
            buf = f.read()
        lines = dump(buf) if sys.argv[1] == "dump" else dump_all(buf)
        print("\n".join(lines))
        return
    print(__doc__, file=sys.stderr)
    sys.exit(1)


if __name__ == "__main__":
    main()
