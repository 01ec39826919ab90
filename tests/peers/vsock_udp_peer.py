#!/usr/bin/env python3
"""UDP peer for the socket service tests.

  echo <bind-addr> <port> [group iface-addr]
      bind, optionally join the multicast group on the interface, print
      "READY"; for each datagram print "DGRAM <src-ip> <src-port> <dst-hint>
      <len> <hex>" and send it back to the sender (until 60 s of silence).
  send <dst-ip> <port> <hex> [count] [iface-addr]
      send the payload count times (default 1), from iface-addr for multicast
      and broadcast, then print "SENT".
  sendsizes <dst-ip> <port> <size>...
      send one datagram of each size (bytes i % 251), then print "SENT".
"""
import socket
import struct
import sys


def pattern(n):
    return bytes(i % 251 for i in range(n))


def sender(iface):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    if iface:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(iface))
        s.bind((iface, 0))
    return s


def main():
    mode = sys.argv[1]
    if mode == "echo":
        addr, port = sys.argv[2], int(sys.argv[3])
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((addr, port))
        if len(sys.argv) > 5:
            mreq = socket.inet_aton(sys.argv[4]) + socket.inet_aton(sys.argv[5])
            s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
        s.settimeout(60)
        print("READY", flush=True)
        while True:
            try:
                data, src = s.recvfrom(65536)
            except socket.timeout:
                return
            print("DGRAM %s %d %d %s" % (src[0], src[1], len(data), data.hex()), flush=True)
            s.sendto(data, src)
    elif mode == "send":
        dst, port, payload = sys.argv[2], int(sys.argv[3]), bytes.fromhex(sys.argv[4])
        count = int(sys.argv[5]) if len(sys.argv) > 5 else 1
        s = sender(sys.argv[6] if len(sys.argv) > 6 else None)
        for _ in range(count):
            s.sendto(payload, (dst, port))
        print("SENT", flush=True)
    elif mode == "sendsizes":
        dst, port = sys.argv[2], int(sys.argv[3])
        s = sender(None)
        for size in sys.argv[4:]:
            s.sendto(pattern(int(size)), (dst, port))
        print("SENT", flush=True)


if __name__ == "__main__":
    main()
