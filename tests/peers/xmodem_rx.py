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
    if args.prime:
        conn.sendall(b"C" * args.prime)
    command = ["rx", "-q"] + (["-c"] if args.crc else []) + [args.name]
    try:
        rc = subprocess.run(command, stdin=conn.fileno(), stdout=conn.fileno(),
                            stderr=subprocess.DEVNULL, cwd=args.folder,
                            timeout=args.timeout).returncode
    except subprocess.TimeoutExpired:
        rc = -1
    conn.close()
    path = os.path.join(args.folder, args.name)
    size = os.path.getsize(path) if os.path.exists(path) else -1
    print("RC %d" % rc, flush=True)
    print("SIZE %d" % size, flush=True)
    print("DONE", flush=True)


if __name__ == "__main__":
    sys.exit(main())
