#!/usr/bin/env python3
"""An SCP client that questions a server over TCP and checks its replies.

Written from the wire format (scp_codec.py encodes the requests and decodes
the replies) and from the test unit the server runs:

  0 IO:Current/InCh/48VOn      8 x 1  integer 0..1          all 0
  1 IO:Current/InCh/Label      8 x 1  text                  Ch1..Ch8
  2 MIXER:Current/Fader/Level  4 x 2  integer -13800..1000  all -13800
  3 IO:Current/Matrix/Send   256 x 2  integer 0..100        all 0
  normalized n = (v - min) * resolution / (max - min); text of an integer
  parameter: its decimal value. Scenes: 3, current 1 modified; scene n is
  numbered "00n", titled "Scene n", comment "\u00e9", preinst for 0 else user.
  Meters: MIXER:Meter/InCh (8, level), MIXER:Meter/StInCh (2, gr).
  devinfo productname "QX16 Stage Rack"; devstatus runmode: the mode.

Usage: scpserver_client.py PORT
Prints "ok NAME" or "FAIL NAME: ..." per check, then "DONE <failures>".
"""

import json
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scp_codec  # noqa: E402

IN48 = 'IO:Current/InCh/48VOn'
LABEL = 'IO:Current/InCh/Label'
FADER = 'MIXER:Current/Fader/Level'
SEND = 'IO:Current/Matrix/Send'


class Peer:
    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=5)
        self.pending = b''
        self.failures = 0

    def send(self, data):
        self.sock.sendall(data)

    def line(self):
        deadline = time.monotonic() + 5
        while b'\n' not in self.pending:
            if time.monotonic() > deadline:
                raise TimeoutError('no reply line')
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError('server closed')
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b'\n')
        return line + b'\n'

    def check(self, name, got, expected):
        if got == expected:
            print('ok ' + name)
        else:
            self.failures += 1
            print('FAIL %s: got %r expected %r' % (name, got, expected))
        sys.stdout.flush()

    def raw(self, name, items, expected):
        """items: (kind, value) pairs; expected: the reply's tokens."""
        self.send(scp_codec.encode_line('raw-request', [('', k, v) for k, v in items]))
        lines = scp_codec.decode_raw(self.line())
        self.check(name, lines[0] if lines else None, expected)

    def json_request(self, name, obj, expected):
        """A well-formed JSON request; the reply must be valid JSON too."""
        self.send(json.dumps(obj, separators=(',', ':')).encode())
        reply = self.line()
        try:
            got = json.loads(reply)
        except ValueError:
            got = 'not JSON: %r' % reply
        self.check(name, got, expected)
        return reply


def w(value):
    return ('word', value)


def i(value):
    return ('int', str(value))


def run(peer):
    # Every word over RAW.
    peer.raw('get', [w('get'), w(IN48), i(0), i(0)], ['OK', 'get', IN48, '0', '0', '0'])
    peer.raw('get canonical name', [w('GET'), w(IN48.lower()), i(7), i(0)], ['OK', 'get', IN48, '7', '0', '0'])
    peer.raw('set', [w('set'), w(IN48), i(5), i(0), i(1)], ['OK', 'set', IN48, '5', '0', '1', '"1"'])
    peer.raw('get all', [w('get'), w(IN48), ('all', ''), i(0)],
             ['OK', 'get', IN48, 'all', '0', '0', '0', '0', '0', '0', '1', '0', '0'])
    peer.raw('set text', [w('set'), w(LABEL), i(2), i(0), ('ptext', 'Snare "top"\\')],
             ['OK', 'set', LABEL, '2', '0', '"Snare "top"\\"', '"Snare "top"\\"'])
    peer.raw('gett', [w('gett'), w(LABEL), i(2), i(0)], ['OK', 'gett', LABEL, '2', '0', '"Snare "top"\\"'])
    peer.raw('setn', [w('setn'), w(FADER), i(1), i(0), i(1000)],
             ['OK', 'setn', FADER, '1', '0', '1000', '"1000"'])
    peer.raw('getn all', [w('getn'), w(FADER), ('all', ''), i(0)],
             ['OK', 'getn', FADER, 'all', '0', '0', '1000', '0', '0'])
    peer.raw('setr', [w('setr'), w(FADER), i(0), i(1), i(-200)],
             ['OK', 'setr', FADER, '0', '1', '-13800', '"-13800"'])
    peer.raw('sett', [w('sett'), w(FADER), i(0), i(1), ('text', '-7000')],
             ['OK', 'sett', FADER, '0', '1', '"-7000"', '-7000'])
    peer.raw('prminfo', [w('prminfo'), i(0)],
             ['OK', 'prminfo', '0', '"%s"' % IN48, '8', '1', '0', '1', '0', '""', 'integer', 'latchsw', 'rw', '1'])
    peer.raw('prmnum', [w('prmnum')], ['OK', 'prmnum', '4'])
    peer.raw('mtrstart', [w('mtrstart'), w('mixer:meter/inch'), i(50)],
             ['OK', 'mtrstart', 'MIXER:Meter/InCh', '50'])
    peer.raw('mtrstop', [w('mtrstop'), w('MIXER:Meter/InCh')], ['OK', 'mtrstop', 'MIXER:Meter/InCh'])
    peer.raw('mtrinfo', [w('mtrinfo'), i(0)], ['OK', 'mtrinfo', '0', '"MIXER:Meter/InCh"', '8', 'level'])
    peer.raw('mtrnum', [w('mtrnum')], ['OK', 'mtrnum', '2'])
    peer.raw('sscurrent', [w('sscurrent')], ['OK', 'sscurrent', '1', 'modified'])
    peer.raw('ssrecall', [w('ssrecall'), i(0)], ['OK', 'ssrecall', '0'])
    peer.raw('ssupdate', [w('ssupdate')], ['OK', 'ssupdate', '0'])
    peer.raw('ssinfo', [w('ssinfo'), i(2)], ['OK', 'ssinfo', '2', '"002"', '"Scene 2"', '"?"', 'user'])
    peer.raw('ssnum', [w('ssnum')], ['OK', 'ssnum', '3'])
    peer.raw('event', [w('event'), w('Clip'), ('text', 'ch 3')], ['OK', 'event', 'Clip', '"ch 3"'])
    peer.raw('devinfo', [w('devinfo'), w('productname')], ['OK', 'devinfo', 'productname', '"QX16 Stage Rack"'])
    peer.raw('devmode', [w('devmode'), w('update')], ['OK', 'devmode', 'update'])
    peer.raw('devstatus', [w('devstatus'), w('runmode')], ['OK', 'devstatus', 'runmode', '"update"'])

    # Refusals name the request and change nothing.
    peer.raw('unknown address', [w('get'), w('Nope'), i(0), i(0)], ['ERROR', 'get', 'Nope', '0', '0'])
    peer.raw('out of range', [w('set'), w(IN48), i(0), i(0), i(2)], ['ERROR', 'set', IN48, '0', '0', '2'])
    peer.raw('unchanged', [w('get'), w(IN48), i(0), i(0)], ['OK', 'get', IN48, '0', '0', '0'])
    peer.raw('unknown word', [w('frobnicate'), i(1)], ['ERROR', 'frobnicate'])
    peer.raw('missing element', [w('getn'), w(FADER), i(0)], ['ERROR', 'getn', FADER, '0'])
    # A decoded line keeps 64 values, so the 200 values are counted in the bytes.
    peer.send(b'get ' + SEND.encode() + b' all 0\n')
    peer.check('too many values', peer.line().split(), [b'ERROR', b'get', SEND.encode(), b'all', b'0'] + [b'0'] * 200)

    # A keep-alive line gets no reply; pipelined requests are answered in order.
    peer.send(scp_codec.KEEPALIVE + b'ssnum\nmtrnum\n')
    peer.check('pipelined', [scp_codec.decode_raw(peer.line())[0], scp_codec.decode_raw(peer.line())[0]],
               [['OK', 'ssnum', '3'], ['OK', 'mtrnum', '2']])

    # Protocol mode: the reply comes in the old format, the next line in the new.
    peer.raw('scpmode json', [w('scpmode'), w('FORMAT'), w('JSON')], ['OK', 'scpmode', 'format', 'json'])
    reply = peer.json_request('json get', {'command': 'get', 'address': LABEL, 'x': 2, 'y': 0},
                              {'result': 'OK', 'command': 'get', 'address': LABEL, 'x': 2, 'y': 0,
                               'param': ['Snare "top"\\']})
    keys, values = scp_codec.decode_json(reply)[0]
    peer.check('json members in order', keys, ['"result"', '"command"', '"address"', '"x"', '"y"', '"param"'])
    peer.json_request('json error', {'command': 'ssrecall', 'index': 9},
                      {'result': 'ERROR', 'command': 'ssrecall', 'index': 9})
    peer.json_request('json encoding', {'command': 'scpmode', 'tag': 'encoding', 'data': 'utf8'},
                      {'result': 'OK', 'command': 'scpmode', 'tag': 'encoding', 'data': 'utf8'})
    peer.json_request('json back to raw', {'command': 'scpmode', 'tag': 'format', 'data': 'raw'},
                      {'result': 'OK', 'command': 'scpmode', 'tag': 'format', 'data': 'raw'})
    peer.send(b'ssinfo 1\n')
    peer.check('utf8 reply', peer.line(), b'OK ssinfo 1 "001" "Scene 1" "\xc3\xa9" user\n')
    peer.raw('keepalive', [w('scpmode'), w('keepalive'), i(1000)], ['OK', 'scpmode', 'keepalive', '1000'])
    peer.raw('keepalive too short', [w('scpmode'), w('keepalive'), i(999)], ['ERROR', 'scpmode', 'keepalive', '999'])


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    peer = Peer(int(sys.argv[1]))
    try:
        run(peer)
    except (OSError, TimeoutError, ConnectionError, IndexError) as error:
        peer.failures += 1
        print('FAIL conversation: %r' % error)
    peer.sock.close()
    print('DONE %d' % peer.failures)
    return 0 if peer.failures == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
