#!/usr/bin/env python3
"""Bridge from a TCP connection to lrzsz's `rx`, the XMODEM receiver.

  xmodem_rx.py FOLDER NAME [--crc] [--prime N] [--host H] [--port P]

Listens on H:P (127.0.0.1, a free port by default) and prints "PORT n".
Accepts one connection, writes N 'C' bytes to it (3 by default, so that
rx's own first 'C' is the fourth a sender sees), then runs `rx` (with -c for
--crc) in FOLDER with the relative file NAME, the connection as its standard
input and output. Prints "RC n" with rx's exit status, "SIZE n" with the
size of the received file (-1 when there is none) and "DONE".
"""
import argparse
import os
import socket
import subprocess
import sys


def run_rx(fd, folder, name, crc=True, prime=3, timeout=120.0):
    """Runs rx on the connected socket fd (blocking) with the relative file
    name in folder, after writing `prime` 'C' bytes; rx's exit status, or
    -1 when it did not end in time."""
    if prime:
        os.write(fd, b"C" * prime)
    log = os.environ.get("XMODEM_RX_LOG")
    command = ["rx", "-vv" if log else "-q"] + (["-c"] if crc else []) + [name]
    err = open(log, "ab") if log else subprocess.DEVNULL
    try:
        return subprocess.run(command, stdin=fd, stdout=fd, stderr=err,
                              cwd=folder, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("name")
    ap.add_argument("--crc", action="store_true")
    ap.add_argument("--prime", type=int, default=3)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--timeout", type=float, default=120.0)
    args = ap.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(1)
    listener.settimeout(args.timeout)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    conn, _ = listener.accept()
    listener.close()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    rc = run_rx(conn.fileno(), args.folder, args.name, args.crc, args.prime, args.timeout)
    conn.close()
    path = os.path.join(args.folder, args.name)
    size = os.path.getsize(path) if os.path.exists(path) else -1
    print("RC %d" % rc, flush=True)
    print("SIZE %d" % size, flush=True)
    print("DONE", flush=True)


if __name__ == "__main__":
    sys.exit(main())
