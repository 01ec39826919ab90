#!/usr/bin/env python3
"""Independent SCP line codec for tests.

Written from the SCP wire format alone: RAW lines of blank-separated tokens
ended by LF, CR or NUL, with double-quoted tokens and backslash escapes; JSON
lines of one object whose outermost members are kept; request and
notification encoders in both syntaxes; the keep-alive line.

Importable (decode_raw, decode_json, encode_line) and usable from a shell:

  scp_codec.py decode raw|json   stdin: one hex byte stream per line
      prints per stream the completed lines joined by " | "; a RAW line is
      its values as hex joined by ","; a JSON line is keys "/" values.
  scp_codec.py encode            stdin: one case per line:
      MODE ITEM...   MODE is raw-request, json-request, raw-notify, json-notify
      ITEM is KIND:HEX (RAW) or NAME=KIND:HEX (JSON); KIND word|text|int|all|ptext
      prints the encoded line as hex (or "ERR" when it cannot be encoded).
"""

import sys

TOKEN_MAX = 256
VALUE_MAX = 128
JSON_KEY_MAX = 20
TABLE_MAX = 160

ESCAPES = {'\\': '\\', '/': '/', '"': '"', 'b': '\b', 'f': '\f', 'n': '\n', 'r': '\r', 't': '\t'}
WHITE = {' ', '\t', '\n', '\x0b', '\x0c', '\r'}
REPLACEMENT = '\ufffd'


def utf8_chars(data):
    """Lenient UTF-8: overlong and 5/6-byte forms are taken, but a byte that
    is not 10xxxxxx never counts as a continuation byte."""
    i = 0
    n = len(data)
    while i < n:
        b = data[i]
        if b < 0x80:
            yield chr(b)
            i += 1
            continue
        if 0xC2 <= b <= 0xDF:
            need, code = 2, b & 0x1F
        elif 0xE0 <= b <= 0xEF:
            need, code = 3, b & 0x0F
        elif 0xF0 <= b <= 0xF7:
            need, code = 4, b & 0x07
        elif 0xF8 <= b <= 0xFB:
            need, code = 5, b & 0x03
        elif b in (0xFC, 0xFD):
            need, code = 6, b & 0x01
        else:
            yield REPLACEMENT
            i += 1
            continue
        j = 1
        while j < need and i + j < n and (data[i + j] & 0xC0) == 0x80:
            code = (code << 6) | (data[i + j] & 0x3F)
            j += 1
        if j < need:
            if i + j >= n:
                return  # cut at the end: the rest of the stream completes it
            yield REPLACEMENT
            i += j
            continue
        yield chr(code) if code < 0x110000 else REPLACEMENT
        i += need


def decode_raw(data):
    lines, values, token, state = [], [], '', 0

    def push(t):
        if len(values) < TABLE_MAX:
            values.append(t[:VALUE_MAX])

    for c in utf8_chars(data):
        if c in ('\0', '\n', '\r'):
            if state == 0 and token:
                push(token)
            lines.append(values)
            values, token, state = [], '', 0
            continue
        if state == 0:
            if c in WHITE:
                if token:
                    push(token)
                token = ''
            elif c == '"':
                token, state = '"', 1
            elif len(token) < TOKEN_MAX:
                token += c
        elif state == 1:
            if c == '\\':
                state = 2
            else:
                if len(token) < TOKEN_MAX:
                    token += c
                if c == '"':
                    state = 0
        else:
            if c in ESCAPES and len(token) < TOKEN_MAX:
                token += ESCAPES[c]
            state = 1
    return lines


def decode_json(data):
    """Completed lines as (keys, values); a structure error drops the line."""
    lines, keys, values = [], [], []
    token, state, obj, arr = '', 0, -1, -1

    def member(table, limit):
        if obj == 0 and arr < 0 and token and len(table) < TABLE_MAX:
            table.append(token[:limit])

    for c in utf8_chars(data):
        if state == 1:
            if c == '\\':
                state = 2
            else:
                if len(token) < TOKEN_MAX:
                    token += c
                if c == '"':
                    state = 0
            continue
        if state == 2:
            if c in ESCAPES and len(token) < TOKEN_MAX:
                token += ESCAPES[c]
            state = 1
            continue
        if c == '"':
            token, state = '"', 1
        elif c == '{':
            obj += 1
            token = ''
        elif c == '[':
            arr += 1
            token = ''
        elif c == ':':
            member(keys, JSON_KEY_MAX)
            token = ''
        elif c == ',':
            member(values, VALUE_MAX)
            token = ''
        elif c == ']':
            if arr < 0:
                keys, values, token, obj, arr = [], [], '', -1, -1
                continue
            member(values, VALUE_MAX)
            token = ''
            arr -= 1
        elif c == '}':
            if obj < 0:
                keys, values, token, obj, arr = [], [], '', -1, -1
                continue
            member(values, VALUE_MAX)
            if obj == 0:
                lines.append((keys, values))
                keys, values, token, obj, arr = [], [], '', -1, -1
            else:
                token = ''
                obj -= 1
        elif c in WHITE:
            pass
        elif len(token) < TOKEN_MAX:
            token += c
    return lines


def _quoted(text, utf8):
    out = bytearray(b'"')
    for c in text:
        if c == '\0':
            raise ValueError('NUL cannot be carried')
        esc = {'"': b'\\"', '\\': b'\\\\', '\n': b'\\n', '\r': b'\\r'}.get(c)
        if esc:
            out += esc
        elif ord(c) < 0x80:
            out.append(ord(c))
        elif utf8:
            out += c.encode('utf-8')
        else:
            out += b'?'
    out += b'"'
    return bytes(out)


def _bare(text, utf8):
    if not text or any(c in WHITE or c in '"\0' for c in text):
        return _quoted(text, utf8)
    return b''.join(c.encode('utf-8') if (ord(c) >= 0x80 and utf8) else (b'?' if ord(c) >= 0x80 else c.encode())
                    for c in text)


def encode_value(kind, value, json, utf8):
    if kind == 'int':
        return str(int(value)).encode()
    if kind == 'all':
        return b'"all"' if json else b'all'
    if kind == 'word':
        return _quoted(value, utf8) if json else _bare(value, utf8)
    if kind == 'text':
        return _quoted(value, utf8)
    if kind == 'ptext':  # a text parameter: its UTF-8 bytes as they are
        return _quoted(value, True)
    raise ValueError(kind)


def encode_line(mode, items, utf8=False):
    """items: [(name, kind, value)]; names are ignored for RAW lines."""
    if mode.startswith('raw'):
        return b' '.join(encode_value(k, v, False, utf8) for _, k, v in items) + b'\n'
    body = b','.join(b'"' + n.encode() + b'":' + encode_value(k, v, True, utf8) for n, k, v in items)
    return b'{' + body + b'}\n'


KEEPALIVE = b'\n'


def _hex(text):
    return text.encode('utf-8').hex()


def _main():
    if len(sys.argv) >= 3 and sys.argv[1] == 'decode':
        for case in sys.stdin.read().split():
            data = bytes.fromhex(case)
            if sys.argv[2] == 'raw':
                out = [','.join(_hex(v) for v in line) for line in decode_raw(data)]
            else:
                out = [','.join(_hex(k) for k in keys) + '/' + ','.join(_hex(v) for v in values)
                       for keys, values in decode_json(data)]
            print(' | '.join(out))
        return 0
    if len(sys.argv) >= 2 and sys.argv[1] == 'encode':
        for case in sys.stdin.read().splitlines():
            parts = case.split()
            if not parts:
                continue
            mode, items = parts[0], []
            for part in parts[1:]:
                name, _, rest = part.rpartition('=')
                kind, _, value = rest.partition(':')
                value = bytes.fromhex(value).decode('utf-8')
                items.append((name, kind, value))
            utf8 = mode.endswith('+utf8')
            mode = mode.replace('+utf8', '')
            try:
                print(encode_line(mode, items, utf8).hex())
            except ValueError:
                print('ERR')
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(_main())
