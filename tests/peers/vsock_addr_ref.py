#!/usr/bin/env python3
"""Reference for address text: for each argument prints one line
"<ipv4-hex or -> <ipv6-hex or -> <ipv6 text, compressed, upper case, or ->"
from socket.inet_pton and the ipaddress module."""
import ipaddress
import socket
import sys


def pton(family, text):
    try:
        return socket.inet_pton(family, text).hex()
    except (OSError, ValueError):
        return "-"


for text in sys.argv[1:]:
    v6 = pton(socket.AF_INET6, text)
    shown = "-"
    if v6 != "-":
        shown = ipaddress.IPv6Address(bytes.fromhex(v6)).compressed.upper()
    print(pton(socket.AF_INET, text), v6, shown)
