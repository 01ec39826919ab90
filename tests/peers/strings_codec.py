#!/usr/bin/env python3
"""Reference UTF-8 / UTF-16 codec for the text tests, using Python's codecs.

  strings_codec.py encode FILE   each line: a code point in hex
                                 prints:    <utf-8 hex> <utf-16be hex>
  strings_codec.py decode FILE   each line: bytes in hex
                                 prints:    code points in hex separated by
                                            blanks, or "error" when the bytes
                                            are not strict UTF-8
"""
import sys


def encode(lines):
    for line in lines:
        ch = chr(int(line, 16))
        print(ch.encode("utf-8").hex(), ch.encode("utf-16-be").hex())


def decode(lines):
    for line in lines:
        try:
            text = bytes.fromhex(line).decode("utf-8", errors="strict")
        except UnicodeDecodeError:
            print("error")
            continue
        print(" ".join("%x" % ord(c) for c in text))


def main():
    mode, path = sys.argv[1], sys.argv[2]
    with open(path) as f:
        lines = [l.strip() for l in f if l.strip()]
    {"encode": encode, "decode": decode}[mode](lines)


if __name__ == "__main__":
    main()
