"""Runs a peer as a child process: waits for its "ready" line, feeds stdin
commands, collects its report lines, and stops it with SIGTERM."""
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time

PEERS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def namespace_available():
    if not shutil.which("unshare") or not shutil.which("ip"):
        return False
    return subprocess.run(["unshare", "-rn", "true"], capture_output=True).returncode == 0


def run_in_namespace(setup, module):
    """Runs the unittest module in a fresh network namespace after the
    shell commands of setup."""
    return subprocess.run(["unshare", "-rn", "sh", "-c",
                           " && ".join(setup + ["exec %s -m unittest %s" % (sys.executable, module)])],
                          cwd=PEERS, capture_output=True, text=True, timeout=60)


class Peer:
    def __init__(self, script, *args, ready_timeout=10.0):
        self.proc = subprocess.Popen([sys.executable, os.path.join(PEERS, script), *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._pump, daemon=True).start()
        first = self.expect("ready", ready_timeout)
        self.ready = first.split()

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def expect(self, prefix, timeout=5.0, where=None):
        """Next line starting with prefix (and passing where on its JSON)."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                raise AssertionError("peer ended; stderr: " + self.proc.stderr.read())
            self.seen.append(line)
            if line.startswith(prefix + " ") or line == prefix:
                if where is None:
                    return line
                if where(json.loads(line.split(" ", 1)[1])):
                    return line
        raise AssertionError("no %r line within %.1f s; seen: %s" % (prefix, timeout, self.seen[-20:]))

    def expect_json(self, prefix, timeout=5.0, where=None):
        return json.loads(self.expect(prefix, timeout, where).split(" ", 1)[1])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
        for f in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                f.close()
            except OSError:
                pass
        return rc
