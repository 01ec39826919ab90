#!/usr/bin/env python3
"""Plays the PC's Dante control-and-monitoring service on one UDP port and,
behind it, the Dante devices that the firmware agent queries, upgrades and
reboots.

Written from the message tables only (local header and bodies little-endian,
channel-message envelope and device payloads big-endian); nothing is shared
with the C++ client.

Service: answers Connect in the form of the version asked for (interfaces
whose first word is a real interface index), Register/Deregister,
Subscribe/Unsubscribe (both answered with the subscription list) and Send
Message (status 1). Requests sent fire-and-forget (sequence 0 or 0xF000 in the
status) get no answer. Every datagram received is reported on stdout as
"RECV {json}"; every datagram sent as "SENT {json}".

Commands on stdin (one a line):
  networks [IF ...]            Networks Changed (IF = name|index[=a.b.c.d])
  name TEXT / domain TEXT      device name / DNS domain changed
  subs [DEVICE STATUS]         Subscriptions Changed (optionally after
                               setting a device's subscription status)
  chmsg TYPE FLAG HEX          Channel Message, HEX = envelope + payload
  named TYPE FLAG NAME HEX     Named Channel Message
  devmsg DEVICE HEXPAYLOAD     a device's status message (envelope built)
  device DEVICE KEY=VALUE...   change a device's fields, as --device gives
                               them (a module that falls silent, and
                               answers again)
  raw HEX                      any datagram to every connected client
  set KNOB VALUE               change a knob (see below)
  close / open                 close / reopen the socket (service gone)
  clients                      print "CLIENTS {json}"
  quit
Knobs (--knob NAME=VALUE or "set NAME VALUE"):
  step_down=V     answer Connect at 0x1400 or above with "Invalid size" at V
  drop=OPS        no reply to these opcodes ("all" for every one)
  delay=S         reply S seconds late
  reply_opcode=OP:OP2,...  reply to OP with opcode OP2
  reply_status=OP:ST,...   reply to OP with status ST
  seq=echo|repeat|invent   repeat: every reply twice; invent: a reply with an
                  unused sequence number first, then the real one
  malformed=OPS   replies to these opcodes carry a wrong header length
  flags=N         server flags word of the new Connect response
  sub_apply=N     the u16 at 12 of subscription lists (version 0x1100 on)
Devices (--devices FILE.json, or --device NAME[,key=value...]): each a dict
with name, device_id (16 hex), process_id, platform, protocol (reply word),
sw, fw (a.b.build), caps, status_bits, upgrade_version, words40_44,
manf_id, manf_name, model_id, model_name, manf_fw, manf_sw, manf_words,
interfaces ([{address, netmask, gateway, flags, speed, mac}], 1-2),
secondary (bool), subscription (status word),
answer (always|never|once), manf (bool: answers manufacturer-version
queries), late (s), vendor (8 chars in replies),
upgrade_series ([[state, last_error, progress, total], ...]), upgrade_step
(s), tftp (bool: fetch the requested file, report its bytes as progress),
reset_silence (s of silence after SYS_RESET before a VERSIONS_STATUS),
report_protocol (the file-location protocol its upgrade statuses report,
default 2 TFTP).
Device replies travel as Named Channel Messages (or Channel Messages with
--plain) on the status channel, from other devices, to clients registered
for it.

Layout decisions the fake follows (same record as the client's readers):
  VERSIONS_STATUS 0x60: firmware word at 8, software word at 12 (word =
    major<<24 | minor<<16 | build), platform at 20, capability bits at 28,
    status bits at 36, words at 40/44, upgrade version u16 at 58; 60 bytes.
  MANF_VERSIONS_STATUS 0xC0: manufacturer id 8, model id 16, firmware word
    32, software word 36, words at 40, 44, 48, manufacturer name at 52 and
    model name at 180 (128-byte fields), word at 308; 312 bytes.
  INTERFACE_STATUS 0x11: count u16 at 8, 28-byte records from 12 (flags u32
    0, speed u16 4, mac 6, address u32 12, netmask u32 20, gateway u32 24),
    extension table header after them (entry size, first entry offset),
    redundancy flags u16 at 16 + count x 28 (bit 0 secondary), entries of 20
    (flags 0x0005: bit 2 valid; speed u32 at 4).
  UPGRADE_STATUS 0x70: state u16 8, last error u16 10, flags u32 12
    (0x02 error, 0x04 progress, 0x08 file location, 0x20 manf id, 0x40
    model id), progress 16, total 20, block offset u16 24, ids at 28/36,
    file-location block at 44 (its u32 at 20 echoes the request's).
  Upgrade requests: the override id is accepted at 24 (flag 0x02) or 32
  (flag 0x04) and reported as override_24/override_32; the block's u32 at 20
  is reported as file_len; any other deviation is listed in "problems" and
  answered with End-Fail, last error 0x121.
  Local IPv4 words (interface W7, address blocks) hold the address bytes in
  network order; connect-response bytes 10-11 of the old form are zero.
Prints "ready <port>" when listening. Ends on SIGTERM, "quit" or --lifetime.
Offline: "fake_conmon.py decode HEX..." prints each datagram as a DECODED
json line (Send Messages with their control payload and upgrade fields);
"fake_conmon.py samples DIR" writes the fake's messages as NAME.bin.

As a module: header(), parse_header(), parse_request(), connect_response(),
networks_changed(), subscription_list(), channel_message(), envelope(),
versions_status(), interface_status(), manf_versions_status(),
upgrade_status(), parse_upgrade_request(), Device, FakeConmon.
"""
import argparse
import json
import queue
import socket
import struct
import sys
import threading
import zlib

from peerloop import UdpServer, interface_address, log, offline

OPS = {
    0x0000: "NULL", 0x0100: "Connect", 0x0101: "Disconnect",
    0x0200: "Set Dante Device Name", 0x0210: "SET_REMOTE_CONTROL_ALLOWED",
    0x0300: "Register", 0x0301: "Deregister", 0x0310: "Subscribe",
    0x0311: "Unsubscribe", 0x0320: "Enable Tx Metering",
    0x0321: "Disable Tx Metering", 0x0400: "Send Message",
    0x0500: "Networks Changed", 0x0501: "Dante Device Name Changed",
    0x0502: "DNS_DOMAIN_NAME_CHANGED", 0x0510: "Channel Message",
    0x0511: "Named Channel Message", 0x0520: "Legacy Metering Addresses",
    0x0521: "Subscriptions Changed",
}
REQUEST, RESPONSE, EVENT = 0, 1, 2
CH_CONTROL, CH_STATUS, CH_BROADCAST, CH_LOCAL = 0, 2, 3, 4
AUDINATE = b"Audinate"          # first 8 bytes of "AudinateCAP6"
CONTROL_WORD = 0x071F

T_INTERFACE_STATUS, T_INTERFACE_CONTROL = 0x11, 0x13
T_VERSIONS_STATUS, T_VERSIONS_QUERY = 0x60, 0x61
T_UPGRADE_STATUS, T_UPGRADE_LEGACY, T_UPGRADE_V3 = 0x70, 0x71, 0x75
T_SYS_RESET = 0x90
T_MANF_STATUS, T_MANF_QUERY = 0xC0, 0xC1


def cstr(b):
    return b.split(b"\0", 1)[0].decode("utf-8", "replace")


def field(text, n):
    raw = text.encode() if isinstance(text, str) else bytes(text)
    return raw[:n].ljust(n, b"\0")


def ip4(text):
    return socket.inet_aton(text)


def num(text):
    return int(str(text), 0)


# ---------------------------------------------------------------- local part

def header(version, length, seq, opcode, status):
    return struct.pack("<HHHHH", version, length, seq, opcode, status)


def parse_header(data):
    if len(data) < 10:
        return None
    v, ln, seq, op, st = struct.unpack_from("<HHHHH", data)
    return {"ver": v, "len": ln, "seq": seq, "op": op, "status": st}


def message(version, seq, opcode, status, body=b""):
    return header(version, 10 + len(body), seq, opcode, status) + body


def parse_envelope(env):
    if len(env) < 24:
        return {"error": "short envelope"}
    word, ln, counter, pid = struct.unpack_from(">HHHH", env)
    return {"word": word, "env_len": ln, "counter": counter, "pid": pid,
            "device_id": env[8:16].hex(), "vendor": env[16:24].hex()}


def parse_request(data):
    """Decode a datagram a client sends (or any local message) into a dict."""
    h = parse_header(data)
    if h is None:
        return {"error": "short", "len_rx": len(data)}
    r = dict(h)
    r["len_rx"] = len(data)
    r["opname"] = OPS.get(h["op"], "unknown")
    if h["len"] != len(data):
        r["error"] = "length"
        return r
    op, v = h["op"], h["ver"]
    try:
        if op == 0x0100 and h["status"] & 0xFFF == REQUEST:
            if v >= 0x1400:
                r["name"] = cstr(data[10:42])
                r["w42"] = struct.unpack_from("<H", data, 42)[0]
            else:
                r["name"] = cstr(data[10:])
                r["nul"] = data.find(b"\0", 10) == len(data) - 1
        elif op in (0x0300, 0x0301):
            r["type"], r["other"] = struct.unpack_from("<HH", data, 10)
            if v >= 0x1100:
                r["w14"] = struct.unpack_from("<H", data, 14)[0]
        elif op in (0x0310, 0x0311) and h["status"] & 0xFFF == REQUEST:
            r["type"] = struct.unpack_from("<H", data, 10)[0]
            at = 14 if v >= 0x1100 else 12
            if v >= 0x1100:
                r["w12"] = struct.unpack_from("<H", data, 12)[0]
            r["name"] = cstr(data[at:at + 32])
            end = data.find(b"\0", at)
            r["tail_zero"] = end >= 0 and not any(data[end:])
        elif op == 0x0400:
            t = struct.unpack_from("<H", data, 10)[0]
            r["type"] = t
            at = 12
            if t == CH_CONTROL:
                r["target_id"] = data[12:20].hex()
                r["target"] = cstr(data[20:52])
                at = 52
            env = data[at:at + 24]
            r["envelope"] = parse_envelope(env)
            p = data[at + 24:]
            r["payload"] = p.hex()
            if len(p) >= 8:
                r["ctl"] = dict(zip(("word", "type", "request"), struct.unpack_from(">HHI", p)))
                if r["ctl"]["type"] in (T_UPGRADE_LEGACY, T_UPGRADE_V3):
                    r["upgrade"], r["upgrade_problems"] = parse_upgrade_request(p)
    except struct.error:
        r["error"] = "short body"
    return r


def iface_record_new(idx, addr, mask="255.255.255.0"):
    b = bytearray(36)
    struct.pack_into("<I", b, 0, idx)
    b[20:24] = ip4(addr)
    b[24:28] = ip4(mask)
    return bytes(b)


def iface_record_old(idx, addr, mask="255.255.255.0"):
    b = bytearray(88)
    struct.pack_into("<I", b, 64, idx)
    b[80:84] = ip4(addr)
    b[84:88] = ip4(mask)
    return bytes(b)


def connect_response(version, seq, name, device_id, pid, interfaces, flags=0, domain="local.",
                     record_size=36, record_offset=316):
    """interfaces: [(index, address)]"""
    if version < 0x1200:
        body = bytearray(46)                      # bytes 10-11 zero
        body[2:34] = field(name, 32)
        body[34:42] = bytes(device_id)
        struct.pack_into("<HH", body, 42, pid, len(interfaces))
        for idx, addr in interfaces:
            body += iface_record_old(idx, addr)
        return message(version, seq, 0x0100, RESPONSE, bytes(body))
    body = bytearray(record_offset - 10)
    struct.pack_into("<H", body, 0, flags)
    body[2:34] = field(name, 32)
    body[34:290] = field(domain, 256)
    body[290:298] = bytes(device_id)
    struct.pack_into("<HHHH", body, 298, pid, len(interfaces), record_size, record_offset)
    for idx, addr in interfaces:
        body += iface_record_new(idx, addr).ljust(record_size, b"\0")[:record_size]
    return message(version, seq, 0x0100, RESPONSE, bytes(body))


def networks_changed(version, interfaces, seq=0):
    if version < 0x1200:
        body = struct.pack("<H", len(interfaces)) + b"".join(iface_record_old(i, a) for i, a in interfaces)
    else:
        body = struct.pack("<HHH", len(interfaces), 36, 16) + b"".join(iface_record_new(i, a) for i, a in interfaces)
    return message(version, seq, 0x0500, EVENT, body)


def address_block(addresses):
    """count, mask, then two {address, port, pad}: 20 bytes."""
    b = bytearray(20)
    struct.pack_into("<HH", b, 0, len(addresses), (1 << len(addresses)) - 1)
    for i, (addr, port) in enumerate(addresses[:2]):
        b[4 + i * 8:8 + i * 8] = ip4(addr)
        struct.pack_into("<H", b, 8 + i * 8, port)
    return bytes(b)


def subscription_entry(version, ch_type, name, device_id, pid, status, addresses=(), index=0,
                       b50=0, b51=0):
    flags = 0x1 | (0x2 if addresses else 0)
    e = bytearray(48 if version < 0x1100 else 72)
    struct.pack_into("<HH", e, 0, flags, ch_type)
    e[4:36] = field(name, 32)
    e[36:44] = bytes(device_id)
    struct.pack_into("<HH", e, 44, pid, status)
    if version >= 0x1100:
        struct.pack_into("<H", e, 48, index)
        if version >= 0x1300:
            e[50], e[51] = b50, b51
        e[52:72] = address_block(list(addresses))
    return bytes(e)


def subscription_list(version, seq, opcode, status, entries, apply_word=1):
    if version < 0x1100:
        body = struct.pack("<H", len(entries))
    else:
        body = struct.pack("<HHH", len(entries), apply_word, 0)
    return message(version, seq, opcode, status, body + b"".join(entries))


def envelope(payload, device_id, pid, vendor=AUDINATE, word=0xFFFF, counter=0):
    return struct.pack(">HHHH", word, 24 + len(payload), counter, pid) + bytes(device_id) + \
        field(vendor, 8) + payload


def channel_message(version, ch_type, other, env_and_payload, sender=None):
    if sender is None:
        return message(version, 0, 0x0510, EVENT,
                       struct.pack("<HHH", ch_type, other, 0) + env_and_payload)
    return message(version, 0, 0x0511, EVENT,
                   struct.pack("<HHH", ch_type, other, 0) + field(sender, 32) + env_and_payload)


# ---------------------------------------------------------- device payloads

def version_word(text):
    """"a.b.build" -> a<<24 | b<<16 | build"""
    a, b, c = (int(x) for x in str(text).split("."))
    return (a << 24) | (b << 16) | c


def ctl_head(word, mtype, request=0):
    return struct.pack(">HHI", word, mtype, request)


def versions_status(d):
    b = bytearray(60)
    b[0:8] = ctl_head(d.protocol, T_VERSIONS_STATUS)
    struct.pack_into(">II", b, 8, version_word(d.fw), version_word(d.sw))
    b[20:28] = field(d.platform, 8)
    struct.pack_into(">I", b, 28, d.caps)
    struct.pack_into(">III", b, 36, d.status_bits, d.words40_44[0], d.words40_44[1])
    struct.pack_into(">H", b, 58, d.upgrade_version)
    return bytes(b)


def interface_status(d):
    n = len(d.interfaces)
    b = bytearray(12 + n * 28 + 8)
    b[0:8] = ctl_head(d.protocol, T_INTERFACE_STATUS)
    struct.pack_into(">H", b, 8, n)
    for i, itf in enumerate(d.interfaces):
        o = 12 + i * 28
        struct.pack_into(">IH", b, o, itf.get("flags", 1), itf.get("speed", 1000))
        b[o + 6:o + 12] = bytes.fromhex(itf.get("mac", "001dc1000000").replace(":", ""))
        b[o + 12:o + 16] = ip4(itf["address"])
        b[o + 20:o + 24] = ip4(itf.get("netmask", "255.255.255.0"))
        b[o + 24:o + 28] = ip4(itf.get("gateway", "0.0.0.0"))
    ext = 12 + n * 28
    first = ext + 8
    struct.pack_into(">HHH", b, ext, 20, first, 1 if d.secondary else 0)
    for i in range(n):
        b += struct.pack(">HHIIII", 0x0004 | 0x0001, 0, itf_speed(d.interfaces[i]), 0, 0, 0)
    return bytes(b)


def itf_speed(itf):
    return itf.get("speed", 1000)


def manf_versions_status(d):
    b = bytearray(312)
    b[0:8] = ctl_head(d.protocol, T_MANF_STATUS)
    b[8:16] = d.manf_id
    b[16:24] = d.model_id
    struct.pack_into(">II", b, 32, version_word(d.manf_fw), version_word(d.manf_sw))
    struct.pack_into(">III", b, 40, *d.manf_words[:3])
    b[52:180] = field(d.manf_name, 128)
    b[180:308] = field(d.model_name, 128)
    struct.pack_into(">I", b, 308, d.manf_words[3])
    return bytes(b)


def location_block(protocol, port, addr_bytes, path, file_len, at):
    """File-location block at offset at, path right after it."""
    flags = 0x02 | 0x04 | 0x08 | 0x10 | (0x20 if file_len else 0)
    b = bytearray(24)
    struct.pack_into(">I", b, 0, flags)
    struct.pack_into(">HH", b, 8, protocol, port)
    b[12:16] = addr_bytes
    struct.pack_into(">H", b, 18, at + 24)
    struct.pack_into(">I", b, 20, file_len)
    return bytes(b) + path.encode() + b"\0"


def upgrade_status(word, state, last_error, progress, total, manf_id=b"\0" * 8,
                   model_id=b"\0" * 8, location=None):
    """location: (protocol, port, addr bytes, path, file length) or None."""
    flags = 0x02 | 0x04 | 0x20 | 0x40 | (0x08 if location else 0)
    b = bytearray(44)
    b[0:8] = ctl_head(word, T_UPGRADE_STATUS)
    struct.pack_into(">HHIII", b, 8, state, last_error, flags, progress, total)
    struct.pack_into(">H", b, 24, 44 if location else 0)
    b[28:36] = bytes(manf_id)
    b[36:44] = bytes(model_id)
    if location:
        b += location_block(*location, at=44)
    return bytes(b)


def read_location_block(p, off):
    if off == 0 or off % 4 or off + 24 > len(p):
        raise ValueError("file-location block offset %d" % off)
    flags = struct.unpack_from(">I", p, off)[0]
    proto, port = struct.unpack_from(">HH", p, off + 8)
    addr = socket.inet_ntoa(p[off + 12:off + 16])
    path_at = struct.unpack_from(">H", p, off + 18)[0]
    flen = struct.unpack_from(">I", p, off + 20)[0]
    end = p.find(b"\0", path_at) if path_at < len(p) else -1
    if path_at == 0 or end < 0:
        raise ValueError("file path offset %d" % path_at)
    return {"block_flags": flags, "protocol": proto, "port": port, "address": addr,
            "path": p[path_at:end].decode("utf-8", "replace"), "path_at": path_at, "file_len": flen}


def parse_upgrade_request(p):
    """Check an upgrade request field by field. Returns (fields, problems)."""
    probs = []
    f = {}
    if len(p) < 8:
        return f, ["payload shorter than 8"]
    word, mtype, reqw = struct.unpack_from(">HHI", p)
    f.update(word=word, type=mtype, request=reqw, length=len(p))
    if word != CONTROL_WORD:
        probs.append("protocol word 0x%04x" % word)
    if reqw != 0:
        probs.append("request word %d" % reqw)
    if mtype == T_UPGRADE_LEGACY:
        if len(p) != 80:
            probs.append("legacy length %d" % len(p))
            return f, probs
        a = struct.unpack_from(">I", p, 8)[0]
        f["address"] = "%d.%d.%d.%d" % (a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255)
        f["port"] = struct.unpack_from(">H", p, 12)[0]
        if any(p[14:16]):
            probs.append("bytes 14-15 not zero")
        if b"\0" not in p[16:80]:
            probs.append("path without NUL")
        f["path"] = cstr(p[16:80])
        if any(p[16 + len(f["path"].encode()):80]):
            probs.append("bytes after the path not zero")
        f["protocol"] = 2
        return f, probs
    if mtype != T_UPGRADE_V3:
        return f, ["type 0x%x" % mtype]
    if len(p) < 44:
        return f, probs + ["v3 length %d" % len(p)]
    flags, w12, w16 = struct.unpack_from(">III", p, 8)
    f.update(flags=flags, w12=w12, w16=w16)
    if w12 != 3:
        probs.append("u32 at 12 is %d" % w12)
    if not flags & 0x08:
        probs.append("file location flag missing")
    if flags & ~0x0E:
        probs.append("unknown flag bits 0x%x" % flags)
    f["override_24"] = p[24:32].hex() if flags & 0x02 else None
    f["override_32"] = p[32:40].hex() if flags & 0x04 else None
    for at, bit in ((24, 0x02), (32, 0x04)):
        if not flags & bit and any(p[at:at + 8]):
            probs.append("bytes %d-%d set without their flag" % (at, at + 7))
    off = struct.unpack_from(">H", p, 40)[0]
    f["block_at"] = off
    try:
        f.update(read_location_block(p, off))
    except ValueError as e:
        probs.append(str(e))
        return f, probs
    want = 3 if f["protocol"] == 2 else 1
    if w16 & 3 != want:
        probs.append("u32 at 16 is 0x%x" % w16)
    if f["protocol"] != 2:
        probs.append("protocol %d" % f["protocol"])
    need = 0x02 | 0x04 | 0x08 | 0x10
    if f["block_flags"] & need != need:
        probs.append("block flags 0x%x" % f["block_flags"])
    return f, probs


# ------------------------------------------------------------------ devices

class Device:
    DEFAULTS = {
        "process_id": 1, "platform": "Bklyn2", "protocol": CONTROL_WORD,
        "sw": "4.2.7", "fw": "4.2.3", "caps": 0x1000, "status_bits": 0,
        "upgrade_version": 0x0300, "words40_44": [0, 0],
        "manf_id": "Valdor", "manf_name": "Valdor Audio", "model_id": "BROX24",
        "model_name": "Brox 24", "manf_fw": "2.1.5", "manf_sw": "2.1.9",
        "manf_words": [0, 0, 0, 0], "secondary": False, "subscription": 0x0002,
        "answer": "always", "manf": True, "late": 0.0, "vendor": None,
        "upgrade_series": [[1, 0, 0, 1000], [1, 0, 500, 1000], [4, 0, 0, 1000],
                           [4, 0, 1000, 1000], [2, 0, 1000, 1000]],
        "upgrade_step": 0.2, "tftp": False, "reset_silence": 1.0, "report_protocol": 2,
    }

    def __init__(self, spec):
        s = dict(self.DEFAULTS)
        s.update(spec)
        self.name = s["name"]
        self.device_id = bytes.fromhex(s.get("device_id") or
                                       ("%016x" % (zlib.crc32(self.name.encode()) | 0x001dc10000000000)))
        self.update(s)
        self.interfaces = s.get("interfaces") or [{"address": "127.0.0.2"}]
        self.queries = 0
        self.counter = 0

    FIELDS = ("process_id", "platform", "protocol", "sw", "fw", "caps", "status_bits",
              "upgrade_version", "words40_44", "manf_name", "model_name", "manf_fw",
              "manf_sw", "manf_words", "secondary", "subscription", "answer", "manf", "late",
              "vendor", "upgrade_series", "upgrade_step", "tftp", "reset_silence", "report_protocol")

    def update(self, s):
        """Sets the fields named in s (all of them at creation)."""
        for k in self.FIELDS:
            if k not in s:
                continue
            v = s[k]
            if k in ("process_id", "protocol", "caps", "status_bits", "upgrade_version", "subscription",
                     "report_protocol"):
                v = num(v)
            elif k in ("tftp", "secondary", "manf"):
                v = str(v).lower() in ("1", "true", "yes")
            elif k in ("late", "upgrade_step", "reset_silence"):
                v = float(v)
            setattr(self, k, v)
        if "manf_id" in s:
            self.manf_id = _id8(s["manf_id"])
        if "model_id" in s:
            self.model_id = _id8(s["model_id"])

    def describe(self):
        return {"name": self.name, "device_id": self.device_id.hex(), "pid": self.process_id}


def _id8(text):
    if text.startswith("_"):
        return bytes.fromhex(text[1:]).ljust(8, b"\0")
    return field(text, 8)


# ------------------------------------------------------------------ service

class FakeConmon(UdpServer):
    header = staticmethod(parse_header)

    def __init__(self, host="127.0.0.1", port=8900, interfaces=None, devices=(), knobs=None,
                 pc_name="quillon-pc", pc_id="001dc1fffe000001", pc_pid=4242, plain=False):
        super().__init__(host, port)
        self.interfaces = interfaces or [(socket.if_nametoindex("lo"), "127.0.0.1")]
        self.devices = {d.name: d for d in devices}
        self.knobs = {"step_down": 0, "drop": set(), "delay": 0.0, "reply_opcode": {},
                      "reply_status": {}, "seq": "echo", "malformed": set(), "flags": 0,
                      "sub_apply": 1}
        for k, v in (knobs or {}).items():
            self.set_knob(k, v)
        self.pc_name, self.pc_id, self.pc_pid = pc_name, bytes.fromhex(pc_id), pc_pid
        self.plain = plain
        self.posted = queue.Queue()

    # ---- knobs
    def set_knob(self, name, value):
        def ops(v):
            v = str(v)
            if v in ("", "none"):
                return set()
            return {"all"} if v == "all" else {num(x) for x in v.split(",")}

        def pairs(v):
            return {num(a): num(b) for a, b in (x.split(":") for x in str(v).split(",") if x)}
        conv = {"step_down": num, "drop": ops, "delay": float, "reply_opcode": pairs,
                "reply_status": pairs, "seq": str, "malformed": ops, "flags": num, "sub_apply": num}
        if name not in conv:
            raise KeyError(name)
        self.knobs[name] = conv[name](value)

    def reply(self, addr, req, status, body=b"", opcode=None, version=None, raw=None):
        k = self.knobs
        op = req["op"]
        if "all" in k["drop"] or op in k["drop"]:
            log("DROP", {"op": op, "seq": req["seq"]})
            return
        opcode = k["reply_opcode"].get(op, op if opcode is None else opcode)
        status = k["reply_status"].get(op, status)
        version = req["ver"] if version is None else version
        data = bytearray(raw if raw is not None else message(version, req["seq"], opcode, status, body))
        struct.pack_into("<HH", data, 4, req["seq"], opcode)
        struct.pack_into("<H", data, 8, status)
        if "all" in k["malformed"] or op in k["malformed"]:
            struct.pack_into("<H", data, 2, len(data) + 1)
        out = [bytes(data)]
        if k["seq"] == "repeat":
            out.append(bytes(data))
        elif k["seq"] == "invent":
            bogus = bytearray(data)
            struct.pack_into("<H", bogus, 4, (req["seq"] + 0x4000) & 0xFFFF or 1)
            out.insert(0, bytes(bogus))
        for d in out:
            if k["delay"] > 0:
                self.later(k["delay"], lambda d=d: self.send_to(addr, d, "reply"))
            else:
                self.send_to(addr, d, "reply")

    # ---- requests
    def on_datagram(self, data, addr):
        r = parse_request(data)
        r["from"] = addr[1]
        log("RECV", r)
        if "op" not in r or r.get("error"):
            return
        kind = r["status"] & 0xFFF
        if kind != REQUEST:
            return
        fire_and_forget = r["seq"] == 0 or (r["status"] & 0xF000) == 0xF000
        op, v = r["op"], r["ver"]
        if op == 0x0100:
            if self.knobs["step_down"] and v >= 0x1400:
                self.reply(addr, r, 4, version=self.knobs["step_down"])
                return
            self.clients[addr] = {"ver": v, "name": r.get("name", ""), "reg": set()}
            self.reply(addr, r, RESPONSE, raw=connect_response(
                v, r["seq"], self.pc_name, self.pc_id, self.pc_pid, self.interfaces,
                flags=self.knobs["flags"]))
            return
        c = self.clients.get(addr)
        if op == 0x0101:
            self.clients.pop(addr, None)
            return
        if c is None:
            if not fire_and_forget:
                self.reply(addr, r, 11)           # "Invalid State"
            return
        if op in (0x0300, 0x0301):
            key = (r["type"], r["other"])
            (c["reg"].add if op == 0x0300 else c["reg"].discard)(key)
        elif op == 0x0400:
            self.route(addr, r)
        if fire_and_forget:
            return
        if op in (0x0310, 0x0311):
            self.reply(addr, r, RESPONSE, raw=subscription_list(
                v, r["seq"], op, RESPONSE, self.sub_entries(v), self.knobs["sub_apply"]))
        else:
            self.reply(addr, r, RESPONSE)

    def sub_entries(self, version, names=None):
        out = []
        for i, d in enumerate(self.devices.values()):
            if names is not None and d.name not in names:
                continue
            addrs = [(itf["address"], 8700) for itf in d.interfaces[:2]]
            out.append(subscription_entry(version, CH_STATUS, d.name, d.device_id, d.process_id,
                                          d.subscription, addrs, index=0))
        return out

    # ---- events
    def to_clients(self, build, what, ch=None):
        for addr, c in list(self.clients.items()):
            if ch is not None and ch not in c["reg"]:
                continue
            self.send_to(addr, build(c["ver"]), what)

    def device_message(self, d, payload, mtype):
        vendor = d.vendor.encode() if d.vendor else AUDINATE
        d.counter = (d.counter + 1) & 0xFFFF
        env = envelope(payload, d.device_id, d.process_id, vendor=vendor, counter=d.counter)
        sender = None if self.plain else d.name
        log("DEVMSG", {"device": d.name, "type": mtype, "len": len(payload)})
        self.to_clients(lambda v: channel_message(v, CH_STATUS, 1, env, sender),
                        "status 0x%x" % mtype, ch=(CH_STATUS, 1))

    def route(self, addr, r):
        if r["type"] != CH_CONTROL:
            return
        d = self.devices.get(r["target"])
        if d is None:
            log("NODEVICE", {"target": r["target"]})
            return
        p = bytes.fromhex(r["payload"])
        if len(p) < 8:
            log("DEVBAD", {"device": d.name, "why": "short payload"})
            return
        word, mtype, reqw = struct.unpack_from(">HHI", p)
        log("DEVREQ", {"device": d.name, "type": mtype, "word": word, "request": reqw, "len": len(p)})
        if mtype in (T_VERSIONS_QUERY, T_INTERFACE_CONTROL, T_MANF_QUERY):
            self.query(d, mtype)
        elif mtype in (T_UPGRADE_LEGACY, T_UPGRADE_V3):
            self.upgrade(d, p)
        elif mtype == T_SYS_RESET:
            ok = len(p) == 12 and struct.unpack_from(">H", p, 8)[0] & 1
            mode = struct.unpack_from(">H", p, 10)[0] if len(p) >= 12 else None
            log("RESET", {"device": d.name, "mode": mode, "ok": bool(ok and mode in (0, 1))})
            self.later(float(d.reset_silence),
                       lambda: self.device_message(d, versions_status(d), T_VERSIONS_STATUS))

    def query(self, d, mtype):
        d.queries += 1
        if d.answer == "never" or (d.answer == "once" and d.queries > 1) or \
                (mtype == T_MANF_QUERY and not d.manf):
            log("SILENT", {"device": d.name, "type": mtype, "query": d.queries})
            return
        build, rtype = {T_VERSIONS_QUERY: (versions_status, T_VERSIONS_STATUS),
                        T_INTERFACE_CONTROL: (interface_status, T_INTERFACE_STATUS),
                        T_MANF_QUERY: (manf_versions_status, T_MANF_STATUS)}[mtype]
        self.later(float(d.late), lambda: self.device_message(d, build(d), rtype))

    def upgrade(self, d, p):
        f, probs = parse_upgrade_request(p)
        log("UPGRADE", {"device": d.name, "fields": f, "problems": probs})
        if probs:
            self.later(0.05, lambda: self.device_message(
                d, upgrade_status(d.protocol, 3, 0x121, 0, 0, d.manf_id, d.model_id), T_UPGRADE_STATUS))
            return
        if d.tftp:
            threading.Thread(target=self.tftp_fetch, args=(d, f), daemon=True).start()
            return
        loc = (d.report_protocol, f["port"], ip4(f["address"]), f["path"], f.get("file_len", 0))
        for i, (st, err, prog, tot) in enumerate(d.upgrade_series):
            self.later(float(d.upgrade_step) * (i + 1), lambda st=st, err=err, prog=prog, tot=tot:
                       self.device_message(d, upgrade_status(d.protocol, st, err, prog, tot, d.manf_id,
                                                            d.model_id, loc), T_UPGRADE_STATUS))

    def tftp_fetch(self, d, f):
        """Runs on its own thread; statuses go back through the main loop."""
        loc = (2, f["port"], ip4(f["address"]), f["path"], f.get("file_len", 0))
        total = f.get("file_len", 0)

        def status(st, err, prog, delay=0.0):
            p = upgrade_status(d.protocol, st, err, prog, total or prog, d.manf_id, d.model_id, loc)
            self.posted.put(lambda: self.later(delay, lambda: self.device_message(d, p, T_UPGRADE_STATUS)))
        data, err = tftp_get(f["address"], f["port"], f["path"],
                             progress=lambda n: status(1, 0, n))
        if err:
            log("TFTP", {"device": d.name, "ok": False, "error": err})
            status(3, 0x300, len(data))
            return
        total = total or len(data)
        log("TFTP", {"device": d.name, "ok": True, "bytes": len(data), "crc32": zlib.crc32(data)})
        status(4, 0, len(data))
        status(2, 0, len(data), float(d.upgrade_step))

    # ---- commands
    def run_command(self, cmd, args):
        if cmd == "close":
            self.close()
            log("CLOSED", {})
        elif cmd == "open":
            self.open()
            log("OPENED", {"port": self.port})
        elif cmd == "clients":
            log("CLIENTS", {str(a[1]): {"ver": c["ver"], "name": c["name"],
                                        "reg": sorted(c["reg"])} for a, c in self.clients.items()})
        elif cmd == "set":
            self.set_knob(args[0], args[1] if len(args) > 1 else "")
            log("SET", {args[0]: str(self.knobs[args[0]])})
        elif cmd == "networks":
            if args:
                self.interfaces = [parse_interface(a) for a in args]
            itfs = self.interfaces
            self.to_clients(lambda v: networks_changed(v, itfs), "networks")
        elif cmd == "name":
            nm = field(" ".join(args), 32)
            self.to_clients(lambda v: message(v, 0, 0x0501, EVENT, nm), "name")
        elif cmd == "domain":
            dm = field(" ".join(args), 256)
            self.to_clients(lambda v: message(v, 0, 0x0502, EVENT, dm), "domain")
        elif cmd == "subs":
            names = None
            if args:
                self.devices[args[0]].subscription = num(args[1])
                names = {args[0]}
            self.to_clients(lambda v: subscription_list(v, 0, 0x0521, EVENT, self.sub_entries(v, names),
                                                        self.knobs["sub_apply"]), "subs")
        elif cmd == "chmsg":
            raw = bytes.fromhex(args[2])
            self.to_clients(lambda v: channel_message(v, num(args[0]), num(args[1]), raw), "chmsg")
        elif cmd == "named":
            raw = bytes.fromhex(args[3])
            self.to_clients(lambda v: channel_message(v, num(args[0]), num(args[1]), raw, args[2]),
                            "named")
        elif cmd == "device":
            d = self.devices[args[0]]
            d.update(device_fields(args[1:]))
            log("DEVICE", dict(d.describe(), tftp=d.tftp, series=d.upgrade_series))
        elif cmd == "devmsg":
            d = self.devices[args[0]]
            p = bytes.fromhex(args[1])
            self.device_message(d, p, struct.unpack_from(">H", p, 2)[0] if len(p) >= 4 else -1)
        elif cmd == "raw":
            raw = bytes.fromhex(args[0])
            for addr in list(self.clients):
                self.send_to(addr, raw, "raw")
        else:
            return False
        return True

    def idle(self):
        for _ in range(256):
            try:
                self.posted.get_nowait()()
            except queue.Empty:
                break



# -------------------------------------------------------------- TFTP reader

def tftp_get(host, port, path, progress=None, timeout=1.0, retries=5, limit=32 << 20):
    """Read a file over TFTP (octet mode). Returns (bytes, error text or None)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(timeout)
    rrq = struct.pack(">H", 1) + path.encode() + b"\0octet\0"
    data = bytearray()
    want, peer, last = 1, None, rrq
    dest = (host, port)
    try:
        s.sendto(rrq, dest)
        tries = 0
        while True:
            try:
                pkt, src = s.recvfrom(4 + 512 + 64)
            except socket.timeout:
                tries += 1
                if tries > retries:
                    return bytes(data), "timeout"
                s.sendto(last, peer or dest)
                continue
            if peer is None:
                peer = src
            if src != peer:
                s.sendto(struct.pack(">HH", 5, 5) + b"Unknown transfer ID\0", src)
                continue
            if len(pkt) < 4:
                continue
            op, blk = struct.unpack_from(">HH", pkt)
            if op == 5:
                return bytes(data), "error %d %s" % (blk, cstr(pkt[4:]))
            if op != 3:
                continue
            if blk == want & 0xFFFF:
                data += pkt[4:]
                tries = 0
                if len(data) > limit:
                    return bytes(data), "too large"
                last = struct.pack(">HH", 4, blk)
                s.sendto(last, peer)
                if progress and (want % 256 == 0 or len(pkt) < 516):
                    progress(len(data))
                if len(pkt) < 516:
                    return bytes(data), None
                want += 1
            elif blk == (want - 1) & 0xFFFF:
                s.sendto(last, peer)          # our ACK was lost
    finally:
        s.close()


def samples():
    """Messages the fake sends, in every form a version gate changes, and the
    device payloads at their protocol-word gates."""
    out = {}
    did = bytes.fromhex("001dc1fffe000001")
    two = [(1, "127.0.0.1"), (2, "10.0.0.5")]
    for v in (0x1000, 0x11FF, 0x1200, 0x1500):
        out["connect_response_%04x" % v] = connect_response(v, 1, "quillon-pc", did, 4242, two, flags=1)
        out["networks_changed_%04x" % v] = networks_changed(v, two)
    out["connect_invalid_size_1300"] = message(0x1300, 1, 0x0100, 4)
    devs = [Device({"name": "BROX-1"}), Device({"name": "PELL-1", "model_id": "PELL16"})]
    fake = FakeConmon(devices=devs)
    for v in (0x10FF, 0x1100, 0x1300):
        entries = fake.sub_entries(v)
        out["subscribe_response_%04x" % v] = subscription_list(v, 2, 0x0310, RESPONSE, entries)
        out["subscriptions_changed_%04x" % v] = subscription_list(v, 0, 0x0521, EVENT, entries)
    out["name_changed"] = message(0x1500, 0, 0x0501, EVENT, field("new-pc", 32))
    out["domain_changed"] = message(0x1500, 0, 0x0502, EVENT, field("example.", 256))
    loc = (2, 1999, ip4("127.0.0.1"), "v3_one_model.dnt", 4096)
    for word in (0x0200, 0x0600, 0x0601, 0x0606, 0x0700, 0x0703, 0x0704, 0x0708, 0x071F):
        d = Device({"name": "BROX-1", "protocol": word,
                    "interfaces": [{"address": "10.0.0.9"}, {"address": "10.1.0.9"}]})
        for kind, p in (("versions", versions_status(d)), ("interfaces", interface_status(d)),
                        ("manf", manf_versions_status(d)),
                        ("upgrade", upgrade_status(word, 1, 0, 512, 4096, d.manf_id, d.model_id, loc))):
            out["payload_%s_%04x" % (kind, word)] = p
            if word in (0x0708, 0x071F):
                env = envelope(p, d.device_id, d.process_id)
                out["named_%s_%04x" % (kind, word)] = channel_message(0x1500, CH_STATUS, 1, env, d.name)
                out["channel_%s_%04x" % (kind, word)] = channel_message(0x1500, CH_STATUS, 1, env)
    return out


def parse_interface(text):
    name, _, addr = text.partition("=")
    idx = int(name) if name.isdigit() else socket.if_nametoindex(name)
    if not addr:
        addr = interface_address(socket.if_indextoname(idx))
    return idx, addr


def split_top(text):
    """Split on commas outside brackets, so JSON lists can be values."""
    out, depth, cur = [], 0, ""
    for ch in text:
        depth += ch in "[{"
        depth -= ch in "]}"
        if ch == "," and depth == 0:
            out.append(cur)
            cur = ""
        else:
            cur += ch
    return out + [cur]


def load_devices(path, specs):
    out = []
    if path:
        with open(path) as f:
            out += [Device(d) for d in json.load(f)]
    for spec in specs or []:
        name, *kv = split_top(spec)
        out.append(Device(dict(device_fields(kv), name=name)))
    return out


def device_fields(items):
    """{key: value} of "key=value" items, JSON lists and booleans decoded."""
    d = {}
    for item in items:
        k, _, v = item.partition("=")
        d[k] = json.loads(v) if v[:1] in "[{" or v in ("true", "false") else v
    return d


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=8900)
    ap.add_argument("--interface", action="append", help="NAME|INDEX[=a.b.c.d] in Connect (max 2 kept)")
    ap.add_argument("--devices", help="JSON file: a list of device dicts")
    ap.add_argument("--device", action="append", help="NAME[,key=value...]")
    ap.add_argument("--knob", action="append", default=[], help="NAME=VALUE")
    ap.add_argument("--pc-name", default="quillon-pc")
    ap.add_argument("--pc-id", default="001dc1fffe000001")
    ap.add_argument("--pc-pid", type=int, default=4242)
    ap.add_argument("--plain", action="store_true", help="device replies as Channel Messages")
    ap.add_argument("--not-listening", action="store_true", help="print ready, bind nothing")
    ap.add_argument("--lifetime", type=float, default=600.0, help="seconds before exiting")
    ap.add_argument("offline", nargs="*", metavar="decode HEX... | samples DIR",
                    help="print datagrams as DECODED json lines, or write sample messages and exit")
    a = ap.parse_args(argv)
    if a.offline:
        return offline(a.offline, parse_request, samples)
    knobs = dict(k.split("=", 1) for k in a.knob)
    itfs = [parse_interface(x) for x in a.interface] if a.interface else None
    fake = FakeConmon(a.host, a.port, itfs, load_devices(a.devices, a.device), knobs,
                      a.pc_name, a.pc_id, a.pc_pid, a.plain)
    fake.install_sigterm()
    fake.run(a.lifetime, sys.stdin, listen=not a.not_listening)
    return 0


if __name__ == "__main__":
    sys.exit(main())
