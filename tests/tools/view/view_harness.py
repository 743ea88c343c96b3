"""Runs vorn-sim and `vornctl view` for the view's tests, loopback only.

The programs come from the environment ctest sets: VORNCTL, VORN_SIM and
VORN_VIEW_OUT (a folder of the build for recordings and the screenshot).
"""
import http.client
import json
import os
import signal
import subprocess
import tempfile
import time
import urllib.parse

# A path given relative to here still names the program when view runs in OUT.
VORNCTL, VORN_SIM = (os.path.abspath(p) if os.sep in p else p
                     for p in (os.environ.get("VORNCTL", "vornctl"), os.environ.get("VORN_SIM", "vorn-sim")))
OUT = os.environ.get("VORN_VIEW_OUT") or tempfile.mkdtemp(prefix="vornctl-view-")
os.makedirs(OUT, exist_ok=True)


def read_line(proc, timeout, what):
    """The first line of proc's stdout, or a failure that says what was awaited."""
    import select
    deadline = time.monotonic() + timeout
    line = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.2)
        if ready:
            chunk = os.read(proc.stdout.fileno(), 1)
            if not chunk:
                break
            if chunk == b"\n":
                return line.decode()
            line += chunk
        elif proc.poll() is not None:
            break
    raise AssertionError(f"no {what} from {proc.args[0]} within {timeout} s")


class Sim:
    """One simulated device with its sent-data log and command trace."""

    def __init__(self, name, channels, extra=()):
        self.sent_log = os.path.join(OUT, f"{name}-sent.log")
        self.trace = os.path.join(OUT, f"{name}-trace.log")
        for p in (self.sent_log, self.trace):
            if os.path.exists(p):
                os.remove(p)
        self.channels = channels  # [(name, unit, min, max)]
        channelLayout = ";".join(f"{n}:{u}:{lo}:{hi}:{w}:{f}" for n, u, lo, hi, w, f in channels)
        self.proc = subprocess.Popen(
            [VORN_SIM, "--serial", name, "--channels", channelLayout, "--periods", "EndOfCycle,0.002,0.005", "--no-crc",
             "--sent-log", self.sent_log, "--trace", self.trace, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.port_entry = read_line(self.proc, 10, "SERIAL=PATH line")

    def received_commands(self):
        with open(self.trace, encoding="utf-8", errors="replace") as f:
            return [line for line in f if " rx " in line]

    def settled_commands(self):
        """received_commands once the trace has stopped growing (it is written a moment after)."""
        last = None
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            now = self.received_commands()
            if now == last:
                return now
            last = now
            time.sleep(0.3)
        return last

    def sent_lines(self):
        rows = []
        with open(self.sent_log, encoding="ascii", errors="replace") as f:
            for line in f:
                fields = line.strip().split(",")
                if len(fields) == len(self.channels) + 1:
                    rows.append([float(v) for v in fields[1:]])
        return rows

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.kill()


class View:
    """`vornctl view` over the given simulators; recordings go to out_dir
    (relative to OUT, where view runs)."""

    def __init__(self, sims, extra=(), out_dir=OUT, env=None):
        env = dict(env if env is not None else os.environ, VORN_PORTS=";".join(s.port_entry for s in sims))
        self.err_path = os.path.join(OUT, f"view-{os.getpid()}-{time.monotonic_ns()}.err")
        self.err = open(self.err_path, "wb")
        self.proc = subprocess.Popen([VORNCTL, "view", "--out-dir", out_dir, *extra], stdout=subprocess.PIPE,
                                     stderr=self.err, env=env, cwd=OUT)
        self.url = read_line(self.proc, 90, "URL")
        parts = urllib.parse.urlsplit(self.url)
        self.host, self.port = parts.hostname, parts.port
        self.token = urllib.parse.parse_qs(parts.query).get("token", [""])[0]

    def more_urls(self, timeout=2):
        """The URLs printed after the first."""
        urls = []
        try:
            while True:
                urls.append(read_line(self.proc, timeout, "URL"))
        except AssertionError:
            return urls

    def path(self, recording):
        """A recording's path as the page shows it, from here."""
        return os.path.join(OUT, recording)

    def request(self, method, path, body=None, headers=None, token=True):
        conn = http.client.HTTPConnection(self.host, self.port, timeout=60)
        h = {"Content-Type": "application/json"}
        if token and self.token:
            h["X-Vorn-Token"] = self.token
        h.update(headers or {})
        conn.request(method, path, body=None if body is None else json.dumps(body), headers=h)
        res = conn.getresponse()
        data = res.read()
        conn.close()
        try:
            return res.status, json.loads(data)
        except ValueError:
            return res.status, data

    def devices(self):
        status, body = self.request("GET", "/api/devices")
        assert status == 200, body
        return body["devices"]

    def post(self, index, action, body=None):
        return self.request("POST", f"/api/devices/{index}/{action}", body or {})

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            devices = self.devices()
            if predicate(devices):
                return devices
            time.sleep(0.1)
        raise AssertionError(f"{what} not within {timeout} s: {self.devices()}")

    def stderr_text(self):
        self.err.flush()
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        """Ctrl-C, as a user ends it; the exit status and what it said."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()
        self.proc.stdout.close()
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return self.proc.returncode, f.read()


def scaled(value, lo, hi):
    """The driver's scaling of one value onto 0..32767."""
    import struct
    f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
    x = min(max(value, lo), hi)
    t = f32((x - lo) / f32(hi - lo))
    import math
    return int(math.floor(t * 32767.0 + 0.5))


def find_run(sent, rows, tolerance):
    """Where rows (lists of values) appear as consecutive lines of sent, or -1."""
    if not rows:
        return -1
    for start in range(len(sent) - len(rows), -1, -1):
        if all(all(abs(a - b) <= t for a, b, t in zip(sent[start + k], rows[k], tolerance)) for k in range(len(rows))):
            return start
    return -1
