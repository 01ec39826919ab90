#!/usr/bin/env python3
"""A scripted SCP unit for the client tests, on 127.0.0.1.

Listens (port 0 = any), prints "PORT <n>", accepts one connection and runs
the script given as arguments, one step per argument:

  wait WORD         wait (5 s) for a request line whose command word (its
                    first token) is WORD, case ignored; prints "REQ <tokens>"
  send TEXT         send TEXT (Python escapes: \\n, \\x.., \\") in one write
  split TEXT        send TEXT one byte per write, 5 ms apart
  sleep MS          pause
  mark TEXT         print "MARK TEXT" (orders the script against received lines)
  keepalive MS      wait up to MS for a bare line feed; prints "KEEPALIVE"
                    or "NOKEEPALIVE"
  blast N LINE      send LINE N times as fast as the socket takes them
  close             close the connection (later steps may accept again)
  reset             reset the connection (RST)
  stall             read and print until the client closes (prints GONE;
                    later steps may accept again)
  accept            accept the next connection on the same port

A unit in firmware-update mode, answering by itself:

  answer TAG VALUE  the text a "devstatus" or "devinfo" request for TAG is
                    answered with (escapes as for send, and \\uXXXX;
                    sent as UTF-8 in one quoted token); a TAG never given an
                    answer is refused with ERROR
  serve UNTIL       answer requests until UNTIL: a number of milliseconds,
                    or a command word after whose answer it stops (30 s at
                    most); prints "GONE" when the client closes. "scpmode"
                    is answered with keepalive 1000; "set" of a parameter
                    is echoed, and a set of QuillonFWUpdateMode is followed
                    by a pushed runmode report ("update" for 1, else
                    "normal"); "get" answers the value last set (0 at first)

Every received line is decoded with the independent codec and printed as
"LINE <tokens joined by |>" (an empty line for a keep-alive); a wait that
times out prints "TIMEOUT <word>" and exits with status 1.
"""
import os
import queue
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scp_codec  # noqa: E402


_out_lock = threading.Lock()


def out(text):
    # The reader thread and the script both print: print() writes the text
    # and its newline apart, so two lines could run into one.
    with _out_lock:
        sys.stdout.write(text + '\n')
        sys.stdout.flush()


def reader(conn, lines):
    pending = b''
    while True:
        try:
            data = conn.recv(65536)
        except OSError:
            data = b''
        if not data:
            lines.put(None)
            return
        pending += data
        while b'\n' in pending:
            raw, pending = pending.split(b'\n', 1)
            tokens = scp_codec.decode_raw(raw + b'\n')[0]
            out('LINE ' + '|'.join(tokens))
            lines.put(tokens)


def unescape(text):
    return text.encode('utf-8').decode('unicode_escape').encode('latin-1')


def quoted(text):
    """One RAW token holding text (a str), as UTF-8."""
    body = text.replace('\\', '\\\\').replace('"', '\\"')
    return ('"' + body + '"').encode('utf-8')


class Unit:
    """The answers of a unit in firmware-update mode."""

    def __init__(self):
        self.answers = {}
        self.values = {}

    def reply(self, tokens):
        """The bytes that answer one request line (b'' for none)."""
        word = tokens[0].lower()
        if word in ('devstatus', 'devinfo') and len(tokens) >= 2:
            tag = tokens[1]
            if tag.lower() not in self.answers:
                return ('ERROR %s UnknownTag\n' % tokens[0]).encode()
            return b'OK ' + tokens[0].encode() + b' ' + tag.encode() + b' ' + \
                quoted(self.answers[tag.lower()]) + b'\n'
        if word == 'scpmode' and len(tokens) >= 2:
            return ('OK scpmode %s 1000\n' % tokens[1]).encode()
        if word == 'set' and len(tokens) >= 5:
            name, x, y, value = tokens[1:5]
            self.values[name.lower()] = value
            out = ('OK set %s %s %s %s\n' % (name, x, y, value)).encode()
            if name.lower().endswith('quillonfwupdatemode'):
                mode = 'update' if value == '1' else 'normal'
                out += ('NOTIFY devstatus runmode "%s"\n' % mode).encode()
            return out
        if word == 'get' and len(tokens) >= 4:
            name, x, y = tokens[1:4]
            return ('OK get %s %s %s %s\n' % (name, x, y, self.values.get(name.lower(), '0'))).encode()
        return b''


def serve(conn, lines, unit, until):
    """Answers requests until the time or the word in until; False when the
    client closed."""
    timed = until.isdigit()
    deadline = time.monotonic() + (int(until) / 1000.0 if timed else 30)
    while time.monotonic() < deadline:
        try:
            tokens = lines.get(timeout=0.01)
        except queue.Empty:
            continue
        if tokens is None:
            out('GONE')
            return False
        if not tokens:
            continue
        data = unit.reply(tokens)
        if data:
            conn.sendall(data)
        if not timed and tokens[0].lower() == until.lower():
            return True
    return True


def accept(listener):
    conn, _ = listener.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    lines = queue.Queue()
    threading.Thread(target=reader, args=(conn, lines), daemon=True).start()
    return conn, lines


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    listener.settimeout(30)
    out('PORT %d' % listener.getsockname()[1])
    conn, lines = accept(listener)
    unit = Unit()
    steps = sys.argv[1:]
    i = 0
    while i < len(steps):
        step = steps[i]
        verb, _, arg = step.partition(' ')
        if verb == 'wait':
            deadline = time.monotonic() + 5
            while True:
                try:
                    tokens = lines.get(timeout=max(0.01, deadline - time.monotonic()))
                except queue.Empty:
                    tokens = None
                if tokens is None:
                    out('TIMEOUT ' + arg)
                    sys.exit(1)
                if tokens and tokens[0].lower() == arg.lower():
                    out('REQ ' + '|'.join(tokens))
                    break
        elif verb == 'send':
            conn.sendall(unescape(arg))
        elif verb == 'split':
            for b in unescape(arg):
                conn.sendall(bytes([b]))
                time.sleep(0.005)
        elif verb == 'mark':
            out('MARK ' + arg)
        elif verb == 'sleep':
            time.sleep(int(arg) / 1000.0)
        elif verb == 'keepalive':
            deadline = time.monotonic() + int(arg) / 1000.0
            seen = False
            while not seen and time.monotonic() < deadline:
                try:
                    tokens = lines.get(timeout=0.01)
                except queue.Empty:
                    continue
                seen = tokens == []
            out('KEEPALIVE' if seen else 'NOKEEPALIVE')
        elif verb == 'blast':
            count, _, line = arg.partition(' ')
            data = unescape(line)
            batch = data * 200
            for _ in range(int(count) // 200):
                conn.sendall(batch)
            conn.sendall(data * (int(count) % 200))
        elif verb == 'close':
            conn.close()
            out('CLOSED')
            if i + 1 == len(steps):
                return
        elif verb == 'accept':
            conn, lines = accept(listener)
            out('ACCEPTED')
        elif verb == 'answer':
            tag, _, value = arg.partition(' ')
            unit.answers[tag.lower()] = value.encode('utf-8').decode('unicode_escape')
        elif verb == 'serve':
            if not serve(conn, lines, unit, arg):
                i += 1
                continue
        elif verb == 'reset':
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            conn.close()
            out('CLOSED')
            return
        elif verb == 'stall':
            while lines.get() is not None:
                pass
            out('GONE')
            if i + 1 == len(steps):
                return
        i += 1
    out('DONE')
    # Keep the connection until the client goes.
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            if lines.get(timeout=0.1) is None:
                return
        except queue.Empty:
            pass


if __name__ == '__main__':
    main()
