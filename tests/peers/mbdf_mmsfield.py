#!/usr/bin/env python3
"""Independent reader and writer of "#MMS FIELD" blocks in MBDF files.

A "#MMS FIELD" block: tag "#MMS FIELD" in the first 12 bytes of the name
area (two zero bytes after it), the function's name as the 12-byte sub-name
(no terminator when full), an empty part 1, and one memory image as part 2.
Uses mbdf_peer.py for the block layout and mms_image.py for the image.

  write <out> <kind number> <kind text> LIT|BIG <sub-name>...
      one block per sub-name, each holding the sample function's image
  list <file>
      TOP <kind text> <name>
      FIELD <sub-name> <image length>, then the image's dump lines
      BLOCK <tag> for any other data block
      END
      exits with status 2 on a malformed file, block or image
"""
import sys

import mbdf_peer
import mms_image

FIELD_TAG = b"#MMS FIELD\0\0"


def fail(message):
    print("error: " + message, file=sys.stderr)
    sys.exit(2)


def write(out, kind, kind_text, order, sub_names):
    fields = b"setup".ljust(16, b"\0") + b"\0" * kind + b"\0" * 16
    data = mbdf_peer.block(mbdf_peer.TOP_TAG, kind_text.encode(), 12, fields)
    image = mms_image.sample_image(order)
    for sub in sub_names:
        data += mbdf_peer.block(FIELD_TAG, sub.encode(), 12, b"", image)
    data += mbdf_peer.end_block()
    with open(out, "wb") as f:
        f.write(data)


def list_file(path):
    with open(path, "rb") as f:
        data = f.read()
    out = []
    try:
        blocks = list(mbdf_peer.read_blocks(data))
    except ValueError as e:
        fail(str(e))
    if not blocks or blocks[0][0][:12] != mbdf_peer.TOP_TAG:
        fail("no top block")
    name, p1, _ = blocks[0]
    out.append("TOP\t%s\t%s" % (mbdf_peer.cstr(name[12:]), mbdf_peer.cstr(p1[:16])))
    for name, p1, p2 in blocks[1:]:
        if mbdf_peer.cstr(name) == "#END":
            out.append("END")
            print("\n".join(out))
            return
        if name[:12] == FIELD_TAG:
            if p1:
                fail("part 1 of a field block is not empty")
            if not p2:
                fail("field block without an image")
            out.append("FIELD\t%s\t%d" % (name[12:24].split(b"\0", 1)[0].decode("latin-1"), len(p2)))
            out.extend(mms_image.dump(p2))
        else:
            out.append("BLOCK\t%s" % mbdf_peer.cstr(name))
    fail("no end block")


def main(argv):
    if len(argv) >= 6 and argv[1] == "write" and argv[5] in ("LIT", "BIG"):
        write(argv[2], int(argv[3]), argv[4], argv[5], argv[6:])
    elif len(argv) == 3 and argv[1] == "list":
        list_file(argv[2])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv)
