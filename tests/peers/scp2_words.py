#!/usr/bin/env python3
"""Golden lines of the SCP client command words, for tests.

Written from the word table of the protocol (each word's request elements and
their kinds), not from the C++ code. Prints one case per line:

  req NAME RAWHEX JSONHEX   a request line in both syntaxes
  raw NAME HEX              a received RAW reply or notification line
  json NAME HEX             a received JSON reply or notification line
  note NAME RAWHEX JSONHEX  a notification line the client sends

Request lines are built by the independent codec in scp_codec.py: RAW is the
word and the request elements joined by blanks; JSON is one object that
lists "result" (empty) before "command".
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scp_codec  # noqa: E402

# Request elements of each word (after the word), as codec kinds:
# word = bare word, text = always quoted, int = decimal, all = the word all,
# ptext = a text value.
REQUESTS = [
    ('devstatus', [('tag', 'word', 'version')]),
    ('devmode', [('mode', 'word', 'normal')]),
    ('scpmode', [('tag', 'word', 'keepalive'), ('data', 'word', '10000')]),
    ('get', [('address', 'word', 'IO:Current/InCh/48VOn'), ('x', 'int', 0), ('y', 'int', 0)]),
    ('getn', [('address', 'word', 'Gain'), ('x', 'int', 3), ('y', 'int', 1)]),
    ('gett', [('address', 'word', 'Name'), ('x', 'int', 0), ('y', 'int', 12)]),
    ('set', [('address', 'word', 'Gain'), ('x', 'int', 1), ('y', 'int', 0), ('param', 'int', -12)]),
    ('set', [('address', 'word', 'Name'), ('x', 'int', 0), ('y', 'int', 2), ('param', 'ptext', 'Vox 1')], 'set_text'),
    ('setn', [('address', 'word', 'Gain'), ('x', 'int', 1), ('y', 'int', 0), ('nparam', 'int', 500)]),
    ('sett', [('address', 'word', 'Name'), ('x', 'int', 0), ('y', 'int', 2), ('text', 'text', 'say "hi"')]),
    ('setr', [('address', 'word', 'Gain'), ('x', 'int', 1), ('y', 'int', 0), ('param', 'int', 3)]),
    ('mtrstart', [('address', 'word', 'MTR:1'), ('interval', 'int', 100)]),
    ('mtrstop', [('address', 'word', 'MTR:1')]),
    ('sscurrent', []),
    ('ssrecall', [('index', 'int', 4)]),
    ('devinfo', [('tag', 'word', 'model')]),
    ('prmnum', []),
    ('prminfo', [('index', 'int', 17)]),
    ('mtrnum', []),
    ('mtrinfo', [('index', 'int', 2)]),
    ('ssnum', []),
    ('ssinfo', [('index', 'int', 9)]),
    ('ssupdate', []),
    ('event', [('eventid', 'word', 'button'), ('data', 'text', 'pressed twice')]),
    ('LISTITEMNUM', [('category', 'word', 'input')]),
    ('LISTITEM', [('category', 'word', 'input'), ('index', 'int', 3)]),
]

# Elements that only a reply carries, after the request elements. JSON
# requests list every element of the word's JSON set, so these go out empty:
# texts and words as "", integers as 0, an unset value as "".
REPLY_ONLY = {
    'devstatus': [('data', 'text', '')],
    'get': [('param', 'text', '')],
    'getn': [('nparam', 'int', 0)],
    'gett': [('text', 'text', '')],
    'set': [('text', 'text', '')],
    'setn': [('text', 'text', '')],
    'sscurrent': [('index', 'int', 0), ('status', 'word', '')],
    'devinfo': [('data', 'text', '')],
    'prmnum': [('number', 'int', 0)],
    'prminfo': [('address', 'text', ''), ('xnum', 'int', 0), ('ynum', 'int', 0), ('min', 'int', 0),
                ('max', 'int', 0), ('default', 'int', 0), ('unit', 'text', ''), ('type', 'word', ''),
                ('ui', 'word', ''), ('attrib', 'word', ''), ('scaling', 'int', 0)],
    'mtrnum': [('num', 'int', 0)],
    'mtrinfo': [('address', 'text', ''), ('num', 'int', 0), ('type', 'word', '')],
    'ssnum': [('number', 'int', 0)],
    'ssinfo': [('numtext', 'text', ''), ('title', 'text', ''), ('comment', 'text', ''), ('attrib', 'word', '')],
    'ssupdate': [('index', 'int', 0)],
    'LISTITEMNUM': [('number', 'int', 0), ('head', 'int', 0), ('tail', 'int', 0)],
    'LISTITEM': [('data', 'text', '')],
}

# Notifications the client sends: the word and its elements.
NOTIFICATIONS = [
    ('set', [('address', 'word', 'Gain'), ('x', 'int', 2), ('y', 'int', 1), ('param', 'int', 9)], 'set'),
    ('setn', [('address', 'word', 'Gain'), ('x', 'int', 2), ('y', 'int', 1), ('nparam', 'int', 750)], 'setn'),
    ('ssrecall', [('index', 'int', 5)], 'ssrecall'),
    ('mtrstart', [('address', 'word', 'MTR:1'), ('interval', 'int', 50)], 'mtrstart'),
    ('mtrstop', [('address', 'word', 'MTR:1')], 'mtrstop'),
]

A = 'IO:Current/InCh/48VOn'
ITEMS150 = ['%02x' % (i % 256) for i in range(150)]

# Received lines: tokens as (kind, value).
def w(v):
    return ('word', v)


def t(v):
    return ('text', v)


def n(v):
    return ('int', v)


RAW = {
    'get_ok': [w('OK'), w('get'), w(A), n(0), n(1), n(5)],
    'get_lowercase': [w('ok'), w('GET'), w(A), n(0), n(1), n(5)],
    'get_text': [w('OK'), w('get'), w(A), n(0), n(0), t('hello')],
    'get_notify': [w('NOTIFY'), w('get'), w(A), n(0), n(1), n(5)],
    'get_error': [w('ERROR'), w('get'), w(A), n(0), n(1)],
    'get_x_negative': [w('OK'), w('get'), w(A), n(-1), n(0), n(5)],
    'get_unknown': [w('OK'), w('get'), w('Nope'), n(-1), n(0), n(5)],
    'get_short': [w('OK'), w('get'), w(A), n(0), n(1)],
    'set_ok_x_all': [w('OK'), w('set'), w('Gain'), w('all'), n(1), n(5), t('')],
    'set_ok_both_all': [w('OK'), w('set'), w('Gain'), w('ALL'), w('all'), n(5), t('')],
    'set_error': [w('ERROR'), w('set'), w('Gain'), n(2), n(1), n(5)],
    'set_notify': [w('NOTIFY'), w('set'), w('Gain'), n(2), n(1), n(5), t('5.0 dB')],
    'set_notify_x_all': [w('NOTIFY'), w('set'), w('Gain'), w('all'), n(1), n(9), t('')],
    'set_notify_both_all': [w('NOTIFY'), w('set'), w('Gain'), w('all'), w('all'), n(0), t('')],
    'set_notify_no_text': [w('NOTIFY'), w('set'), w('Gain'), n(2), n(1), n(5)],
    'setn_ok_x_all': [w('OK'), w('setn'), w('Gain'), w('all'), n(0), n(-5), t('')],
    'setn_notify_x_all': [w('NOTIFY'), w('setn'), w('Gain'), w('all'), n(1), n(700), t('')],
    'setn_error': [w('ERROR'), w('setn'), w('Gain'), n(1), n(0), n(700)],
    'setr_ok': [w('OK'), w('setr'), w('Gain'), n(1), n(1), n(3)],
    'setr_notify': [w('NOTIFY'), w('setr'), w('Gain'), n(1), n(1), n(3)],
    'sett_notify_y_all': [w('NOTIFY'), w('sett'), w('Gain'), n(0), w('all'), t('abc')],
    'sett_ok': [w('OK'), w('sett'), w('Gain'), n(3), n(1), t('xyz')],
    'getn_ok': [w('OK'), w('getn'), w('Gain'), n(1), n(0), n(600)],
    'getn_notify': [w('NOTIFY'), w('getn'), w('Gain'), n(1), n(0), n(600)],
    'gett_ok': [w('OK'), w('gett'), w('Gain'), n(1), n(0), t('hi there')],
    'mtr_three': [w('NOTIFY'), w('mtr'), w('MTR:1'), w('level'), w('7f'), w('A'), w('zz')],
    'mtr_none': [w('OK'), w('mtr'), w('MTR:1'), w('level')],
    'mtr_unknown': [w('OK'), w('mtr'), w('Other'), w('level'), w('7f')],
    'mtr_full': [w('NOTIFY'), w('mtr'), w('MTR:1'), w('level')] + [w(i) for i in ITEMS150],
    'mtr_cut': [w('NOTIFY'), w('mtr'), w('MTR:1'), w('level')] + [w(i) for i in ITEMS150 + ['ff']],
    'event': [w('OK'), w('event'), w('Btn'), t('PRESSED Twice')],
    'mtrstart_ok': [w('OK'), w('mtrstart'), w('MTR:1'), n(100)],
    'mtrstart_unknown': [w('OK'), w('mtrstart'), w('Other'), n(100)],
    'mtrstart_notify': [w('NOTIFY'), w('mtrstart'), w('MTR:1'), n(100)],
    'devinfo_ok': [w('OK'), w('devinfo'), w('MODEL'), t('Rack 16')],
    'devinfo_notify': [w('NOTIFY'), w('devinfo'), w('version'), t('1.2')],
    'devmode_ok': [w('OK'), w('devmode'), w('NORMAL')],
    'devmode_notify': [w('NOTIFY'), w('devmode'), w('normal')],
    'devstatus_ok': [w('OK'), w('devstatus'), w('Power'), t('on')],
    'prminfo_ok': [w('OK'), w('prminfo'), n(5), t('IO:X'), n(8), n(2), n(-10), n(10), n(0), t('dB'),
                   w('freq'), w('fader'), w('r'), n(3)],
    'prminfo_negative': [w('OK'), w('prminfo'), n(-1), t('IO:X'), n(8), n(2), n(-10), n(10), n(0), t('dB'),
                         w('freq'), w('fader'), w('r'), n(3)],
    'prminfo_unknown_words': [w('OK'), w('prminfo'), n(6), t('IO:Y'), n(1), n(1), n(0), n(1), n(0), t(''),
                              w('float'), w('slider'), w('rwx'), n(1)],
    'prminfo_error': [w('ERROR'), w('prminfo'), n(99)],
    'prmnum': [w('OK'), w('prmnum'), n(42)],
    'mtrinfo': [w('OK'), w('mtrinfo'), n(0), t('MTR:1'), n(16), w('gr')],
    'mtrnum': [w('OKm'), w('mtrnum'), n(3)],
    'sscurrent_modified': [w('OK'), w('sscurrent'), n(3), w('modified')],
    'sscurrent_unmodified': [w('NOTIFY'), w('sscurrent'), n(2), w('unmodified')],
    'sscurrent_capital': [w('OK'), w('sscurrent'), n(3), w('Modified')],
    'ssinfo': [w('OK'), w('ssinfo'), n(2), t('002'), t('Title'), t('A comment'), w('user')],
    'ssnum': [w('OK'), w('ssnum'), n(10)],
    'ssrecall_notify': [w('NOTIFY'), w('ssrecall'), n(4)],
    'ssrecall_negative': [w('OK'), w('ssrecall'), n(-4)],
    'ssupdate': [w('OK'), w('ssupdate'), n(4)],
    'listitemnum': [w('OK'), w('LISTITEMNUM'), w('input'), n(10), n(0), n(9)],
    'listitem': [w('OK'), w('listitem'), w('input'), n(3), t('Mic')],
    'no_reply_word': [w('HELLO'), w('get'), w(A), n(0), n(1), n(5)],
}

JSON = {
    'json_get_ok': {'result': 'OK', 'command': 'get', 'address': A, 'x': 0, 'y': 1, 'param': 5},
    'json_set_notify_x_all': {'result': 'NOTIFY', 'command': 'set', 'address': 'Gain', 'x': 'all', 'y': 1,
                              'param': 9, 'text': ''},
    'json_mtr_items_not_carried': {'command': 'mtr', 'result': 'NOTIFY', 'address': 'MTR:1', 'type': 'level',
                                   'data': ['7f', 'a0'], 'extra': 'ff'},
    'json_setn_notify_named': {'result': 'NOTIFY', 'command': 'setn', 'x': 2, 'address': 'Gain', 'y': 0,
                               'nparam': 300, 'text': ''},
}


def main():
    for entry in REQUESTS:
        word, items = entry[0], entry[1]
        name = entry[2] if len(entry) > 2 else word
        raw = scp_codec.encode_line('raw-request', [('command', 'word', word)] + items)
        js = scp_codec.encode_line('json-request',
                                   [('result', 'word', ''), ('command', 'word', word)] + items
                                   + REPLY_ONLY.get(word, []))
        json.loads(js)  # a JSON request is well-formed JSON
        print('req', name, raw.hex(), js.hex())
    for word, items, name in NOTIFICATIONS:
        raw = scp_codec.encode_line('raw-notify', [('command', 'word', word)] + items)
        js = scp_codec.encode_line('json-notify', [('command', 'word', word)] + items)
        json.loads(js)
        print('note', name, raw.hex(), js.hex())
    for name, tokens in RAW.items():
        line = scp_codec.encode_line('raw-notify', [('', k, v) for k, v in tokens])
        assert scp_codec.decode_raw(line), name
        print('raw', name, line.hex())
    for name, obj in JSON.items():
        line = (json.dumps(obj, separators=(',', ':')) + '\n').encode()
        assert scp_codec.decode_json(line), name
        print('json', name, line.hex())
    return 0


if __name__ == '__main__':
    sys.exit(main())
