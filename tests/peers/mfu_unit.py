#!/usr/bin/env python3
"""Simulated units that speak the model firmware command link on TCP port
49552, any number of them in one process, each on its own address.

  mfu_unit.py --work DIR --unit SPEC [--unit SPEC ...] [--port 49552]

SPEC is "ADDRESS,key=value,..." with the keys
  name=BroxL-D3          product name ("update get productname")
  version=V1.00          version ("update get version [sub]")
  protocols=tftp|xmodem-1k   answer to "update get protocol"
  expect=PATH            the file the unit should receive
  sep=cr|crlf|lfcr       line separator of the replies ("\\r\\n" by default)
  split=N                send replies in TCP segments of N bytes (0: whole)
  write=10:50:100        progress while writing: one "OK BUSY SELF n%" per
                         "update get updatestate", then "OK READY"
  push=1                 after the last progress, push "PUSH updatestate OK"
  after=V2.10            the version reported once a write has finished
  fault=F                silent_name: never answer the product name
                         refuse: no listener (connection refused)
                         erase_version: "ERROR VERSION" on erase
                         can_storage: CAN CAN during the file put, then
                                      "ERROR STORAGE"
                         close_mid: close the connection mid-transfer
                         nak_storm: NAK every block
                         write_silent: no answer to the update state while
                                       writing
                         never_ready: the update state is "BUSY OTHER"

Commands are lines ended by CR or LF. "update fileput xmodem-1k [sub]" hands
the connection to lrzsz's rx (xmodem_rx.run_rx: "CCC", then rx -c);
"update request get tftp://HOST:PORT/NAME" fetches with tftp-hpa's tftp. The
received file is WORK/ADDRESS.bin; it is compared with the expected file
(rx keeps the 0x1A padding of the last block) and answered "OK" or
"ERROR STORAGE". The raw bytes of every command line are appended to
WORK/ADDRESS.cmd.

Standard output: "READY" once every unit listens, then "CONNECT a",
"STORED a SIZE ok|bad", "CLOSED a".
"""
import argparse
import asyncio
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xmodem_rx  # noqa: E402

SEPARATORS = {"cr": b"\r", "crlf": b"\r\n", "lfcr": b"\n\r"}
CAN = b"\x18"
NAK = b"\x15"


def say(text):
    print(text, flush=True)


class Unit:
    def __init__(self, spec, work):
        parts = spec.split(",")
        self.address = parts[0]
        self.knobs = {"name": "BroxL-D2", "version": "V1.00", "protocols": "xmodem-1k",
                      "sep": "crlf", "split": "0", "write": "", "push": "0", "fault": ""}
        for part in parts[1:]:
            key, _, value = part.partition("=")
            self.knobs[key] = value
        self.work = work
        self.fault = self.knobs["fault"]
        self.sep = SEPARATORS[self.knobs["sep"]]
        self.split = int(self.knobs["split"])
        self.progress = [int(p) for p in self.knobs["write"].split(":") if p]
        self.stored = os.path.join(work, self.address + ".bin")
        self.commands = os.path.join(work, self.address + ".cmd")

    def expected(self):
        path = self.knobs.get("expect")
        if not path:
            return None
        with open(path, "rb") as f:
            return f.read()

    def received_ok(self, padded):
        want = self.expected()
        if want is None or not os.path.exists(self.stored):
            return False
        with open(self.stored, "rb") as f:
            got = f.read()
        if not padded:
            return got == want
        tail = got[len(want):]
        return got[:len(want)] == want and tail == b"\x1a" * len(tail) and len(tail) < 1024


class Session:
    def __init__(self, unit, reader, writer):
        self.unit = unit
        self.reader = reader
        self.writer = writer
        self.writing = False
        self.step = 0
        self.pushed = False

    async def reply(self, text):
        data = text.encode() + self.unit.sep
        if self.unit.split <= 0:
            self.writer.write(data)
            await self.writer.drain()
            return
        for at in range(0, len(data), self.unit.split):
            self.writer.write(data[at:at + self.unit.split])
            await self.writer.drain()
            await asyncio.sleep(0.005)

    async def lines(self):
        pending = b""
        while True:
            chunk = await self.reader.read(4096)
            if not chunk:
                return
            pending += chunk
            while True:
                cut = [i for i in (pending.find(b"\r"), pending.find(b"\n")) if i >= 0]
                if not cut:
                    break
                end = min(cut)
                line, pending = pending[:end], pending[end + 1:]
                if line:
                    with open(self.unit.commands, "ab") as f:
                        f.write(line + b"\n")
                    yield line.decode(errors="replace")
                    if self.transfer_started:
                        self.transfer_started = False
                        pending = b""

    async def run(self):
        self.transfer_started = False
        async for line in self.lines():
            words = line.split()
            if not words or words[0] != "update":
                await self.reply("ERROR COMMAND")
                continue
            await self.command(words[1:], line)

    async def command(self, words, line):
        u = self.unit
        k = u.knobs
        if words[:2] == ["get", "productname"]:
            if u.fault != "silent_name":
                await self.reply("OK " + k["name"])
        elif words[:2] == ["get", "version"]:
            await self.reply("OK " + k["version"])
        elif words[:2] == ["get", "protocol"]:
            await self.reply("OK " + k["protocols"])
        elif words[:2] == ["get", "updatestate"]:
            await self.update_state()
        elif words[:1] == ["erase"]:
            await self.reply("ERROR VERSION" if u.fault == "erase_version" else "OK")
        elif words[:2] == ["fileput", "xmodem-1k"]:
            self.transfer_started = True
            await self.file_put()
        elif words[:2] == ["request", "get"] and len(words) >= 3:
            await self.request_get(words[2])
        elif words[:1] == ["write"]:
            self.writing = True
            self.step = 0
            await self.reply("OK")
        else:
            await self.reply("ERROR COMMAND")

    async def update_state(self):
        u = self.unit
        if u.fault == "never_ready":
            await self.reply("OK BUSY OTHER")
            return
        if not self.writing:
            await self.reply("OK READY")
            return
        if u.fault == "write_silent":
            return
        if self.step < len(u.progress):
            await self.reply("OK BUSY SELF %d%%" % u.progress[self.step])
            self.step += 1
            if self.step == len(u.progress) and u.knobs["push"] == "1":
                await asyncio.sleep(0.05)
                await self.reply("PUSH updatestate OK")
                self.pushed = True
            return
        if self.unit.knobs.get("after"):
            self.unit.knobs["version"] = self.unit.knobs["after"]
        await self.reply("OK READY")

    async def file_put(self):
        u = self.unit
        if u.fault in ("can_storage", "close_mid", "nak_storm"):
            await self.broken_put()
            return
        transport = self.writer.transport
        transport.pause_reading()
        fd = self.writer.get_extra_info("socket").fileno()
        os.set_blocking(fd, True)
        try:
            loop = asyncio.get_running_loop()
            name = os.path.basename(u.stored)
            rc = await loop.run_in_executor(None, xmodem_rx.run_rx, fd, u.work, name, True, 3, 120.0)
        finally:
            os.set_blocking(fd, False)
            transport.resume_reading()
        ok = rc == 0 and u.received_ok(padded=True)
        size = os.path.getsize(u.stored) if os.path.exists(u.stored) else -1
        say("STORED %s %d %s" % (u.address, size, "ok" if ok else "bad"))
        await self.reply("OK" if ok else "ERROR STORAGE")

    async def broken_put(self):
        u = self.unit
        self.writer.write(b"CCCC")
        await self.writer.drain()
        if u.fault == "nak_storm":
            for _ in range(60):
                try:
                    data = await asyncio.wait_for(self.reader.read(2048), 5)
                except asyncio.TimeoutError:
                    break
                if not data or CAN * 3 in data:
                    break
                self.writer.write(NAK)
                await self.writer.drain()
            await self.reply("ERROR STORAGE")
            return
        received = 0
        while received < 1:
            data = await asyncio.wait_for(self.reader.read(2048), 10)
            if not data:
                return
            received += len(data)
        if u.fault == "close_mid":
            self.writer.close()
            return
        self.writer.write(CAN + CAN)
        await self.writer.drain()
        await asyncio.sleep(0.2)
        await self.reply("ERROR STORAGE")

    async def request_get(self, url):
        u = self.unit
        rest = url[len("tftp://"):] if url.startswith("tftp://") else ""
        hostport, _, name = rest.partition("/")
        host, _, port = hostport.partition(":")
        ok = False
        if host and name:
            proc = await asyncio.create_subprocess_exec(
                "tftp", "-m", "binary", host, port or "69", "-c", "get", name, u.stored,
                stdout=asyncio.subprocess.DEVNULL, stderr=asyncio.subprocess.DEVNULL)
            # A PC that closes the link mid-fetch ends the fetch too.
            waiting = asyncio.ensure_future(proc.wait())
            closing = asyncio.ensure_future(self.reader.read(1))
            done, _ = await asyncio.wait({waiting, closing}, timeout=120,
                                         return_when=asyncio.FIRST_COMPLETED)
            if waiting not in done:
                proc.kill()
                await proc.wait()
                if closing in done and not closing.result():
                    raise ConnectionError("closed during the fetch")
                rc = -1
            else:
                closing.cancel()
                try:
                    await closing
                except asyncio.CancelledError:
                    pass
                rc = waiting.result()
            ok = rc == 0 and u.received_ok(padded=False)
        size = os.path.getsize(u.stored) if os.path.exists(u.stored) else -1
        say("STORED %s %d %s" % (u.address, size, "ok" if ok else "bad"))
        await self.reply("OK" if ok else "ERROR STORAGE")


async def serve(units, port):
    servers = []
    for unit in units:
        if unit.fault == "refuse":
            continue

        async def handle(reader, writer, unit=unit):
            say("CONNECT " + unit.address)
            session = Session(unit, reader, writer)
            try:
                await session.run()
            except (ConnectionError, asyncio.TimeoutError, OSError):
                pass
            finally:
                writer.close()
                say("CLOSED " + unit.address)

        servers.append(await asyncio.start_server(handle, unit.address, port, reuse_address=True))
    say("READY")
    await asyncio.gather(*(s.serve_forever() for s in servers))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--unit", action="append", default=[])
    ap.add_argument("--port", type=int, default=49552)
    args = ap.parse_args()
    units = [Unit(spec, args.work) for spec in args.unit]
    try:
        asyncio.run(serve(units, args.port))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
