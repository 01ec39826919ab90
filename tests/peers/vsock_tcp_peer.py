#!/usr/bin/env python3
"""TCP peer for the socket service tests. Listens on 127.0.0.1 (port 0 = any),
prints "PORT <n>", then serves connections one after another in a mode:

  echo     echo every byte back until the client closes
  close    accept, then close at once
  reset    accept, wait for one byte, then reset the connection (SO_LINGER 0)
  slow     read slowly through a small receive buffer until the client
           closes, then print "GOT <bytes> <sha256>"
  send N   send N bytes of the pattern i % 251, then close
"""
import hashlib
import socket
import struct
import sys
import time


def main():
    mode = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if mode == "slow":
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.settimeout(60)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    for _ in range(64):
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            return
        conn.settimeout(30)
        if mode == "echo":
            # A client that closes with echoed bytes unread resets the
            # connection; that ends this connection, not the peer.
            try:
                while True:
                    data = conn.recv(65536)
                    if not data:
                        break
                    conn.sendall(data)
            except ConnectionResetError:
                pass
            conn.close()
        elif mode == "close":
            conn.close()
        elif mode == "reset":
            conn.recv(1)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
        elif mode == "slow":
            digest = hashlib.sha256()
            total = 0
            time.sleep(0.3)  # let the client's send buffer fill up
            while True:
                data = conn.recv(2048)
                if not data:
                    break
                total += len(data)
                digest.update(data)
                time.sleep(0.001)
            print("GOT %d %s" % (total, digest.hexdigest()), flush=True)
            conn.close()
        elif mode == "send":
            count = int(sys.argv[2])
            conn.sendall(bytes(i % 251 for i in range(count)))
            conn.close()


if __name__ == "__main__":
    main()
