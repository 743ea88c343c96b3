"""A stand-in for `vornctl serve` in the subscribers' tests: an XPUB socket
that publishes simulated devices in the format of docs/streaming.md (encoded
with the Python package's own encoder), metadata at once on a subscription and
every second, and a ROUTER socket that answers the controls and keeps the
recording lease as the contract between publisher and subscribers says.
Faults are asked for by the test: lost messages, the publisher's own gaps, a
newer format, a changed layout, a restart. Loopback only; every loop bounded.
"""
import json
import os
import socket
import sys
import threading
import time

import numpy as np
import zmq
import zmq.utils.z85

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "python"))
from vorn import _wire  # noqa: E402

ZAP_ENDPOINT = "inproc://zeromq.zap.01"
LEASE_SECONDS = 5.0
TICK = 0.02  # a message per device about every 20 ms, as the publisher sends them


def value_at(index, channel, seed):
    """The raw value a device sends for a sample index: every row differs."""
    return (index * 7 + channel * 3001 + seed * 911) % 32768


class Device:
    def __init__(self, serial, channels, enabled=None, period_us=2000, periods_us=(2000, 5000), malformed_every=0):
        self.serial = serial
        self.channels = channels  # [(name, unit, minimum, maximum)]
        self.enabled = list(enabled or range(1, len(channels) + 1))
        self.period_us = period_us
        self.periods_us = list(periods_us)
        self.malformed_every = malformed_every
        self.seed = sum(serial.encode())
        self.streaming = True
        self.stream = 1
        # The publisher's side of the stream.
        self.sequence = 0
        self.next_sample = 0
        self.stream_start = None  # publisher host time (s) of sample 0
        self.sent = []  # (sequence, first_sample, values, malformed) of every message sent
        self.drop = 0  # messages to make but not send
        self.jump = 0  # sample sets the publisher itself loses before the next message
        self.newer = False  # the next message says format 2

    def meta(self, pub):
        return {
            "format": 1, "serial": self.serial, "unique_id": 1000 + len(self.serial), "product": "Quellograph",
            "version": "2.1", "period_us": self.period_us, "periods_us": self.periods_us,
            "channels": [{"position": p, "name": n, "unit": u, "minimum": lo, "maximum": hi,
                          "enabled": p in self.enabled} for p, (n, u, lo, hi) in enumerate(self.channels, 1)],
            "streaming": self.streaming, "stream": self.stream,
            "publisher": {"host": "double", "start_unix": pub.start_unix,
                          "start_utc": time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(pub.start_unix)) + "Z"},
        }

    def published_rows(self):
        """Every row sent, in order: (sample index, values or None when malformed)."""
        rows = []
        for _, first, values, malformed in self.sent:
            for r in range(values.shape[0]):
                rows.append((first + r, None if malformed[r] else values[r].tolist()))
        return rows


class Publisher:
    def __init__(self, devices, port=None, server_secret=None, client_keys=None):
        self.devices = {d.serial: d for d in devices}
        self.lock = threading.Lock()
        self.requests = []  # every control request, decoded
        self.holds = {}  # serial -> (holder, monotonic time)
        self.zap_refusals = []
        self.subscriptions = []
        self.client_keys = set(client_keys or [])
        self.server_secret = server_secret
        self.ctx = zmq.Context()
        self.start_unix = time.time()
        self.t0 = time.monotonic()
        self.running = True
        if server_secret:
            self.zap = self.ctx.socket(zmq.REP)
            self.zap.bind(ZAP_ENDPOINT)
        else:
            self.zap = None
        self.xpub = self._socket(zmq.XPUB)
        self.xpub.setsockopt(zmq.XPUB_VERBOSE, 1)
        self.xpub.setsockopt(zmq.SNDHWM, 100000)
        self.router = self._socket(zmq.ROUTER)
        self.port = self._bind(port)
        self.url = f"tcp://127.0.0.1:{self.port}"
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _socket(self, kind):
        s = self.ctx.socket(kind)
        s.setsockopt(zmq.LINGER, 0)
        if self.server_secret:
            s.setsockopt(zmq.CURVE_SERVER, 1)
            s.setsockopt_string(zmq.CURVE_SECRETKEY, self.server_secret)
            s.setsockopt_string(zmq.ZAP_DOMAIN, "vorn")
        return s

    def _bind(self, port):
        if port:
            self.xpub.bind(f"tcp://127.0.0.1:{port}")
            self.router.bind(f"tcp://127.0.0.1:{port + 1}")
            return port
        for _ in range(50):
            p = self.xpub.bind_to_random_port("tcp://127.0.0.1", 20000, 60000)
            try:
                self.router.bind(f"tcp://127.0.0.1:{p + 1}")
                return p
            except zmq.ZMQError:
                self.xpub.unbind(f"tcp://127.0.0.1:{p}")
        raise RuntimeError("no free pair of ports")

    def host_us(self, seconds=None):
        return int(((time.monotonic() - self.t0) if seconds is None else seconds) * 1e6)

    # What the test asks for.
    def device(self, serial):
        return self.devices[serial]

    def change(self, serial, **what):
        with self.lock:
            d = self.devices[serial]
            for k, v in what.items():
                setattr(d, k, v)
            if "enabled" in what or "period_us" in what:
                self._restart_stream(d)
            self._send_meta(d)

    def holders(self, serial):
        with self.lock:
            return [r for r in self.requests if r.get("device") == serial and r.get("action") == "hold"]

    def request_log(self):
        with self.lock:
            return list(self.requests)

    def close(self):
        self.running = False
        self.thread.join(10)
        for s in (self.xpub, self.router, self.zap):
            if s is not None:
                s.close(0)
        self.ctx.term()

    # The publisher's thread.
    def _restart_stream(self, d):
        d.stream += 1
        d.next_sample = 0
        d.stream_start = None

    def _send_meta(self, d):
        self.xpub.send_multipart([_wire.meta_topic(d.serial), json.dumps(d.meta(self)).encode()])

    def _send_data(self, d, now):
        if not d.streaming:
            return
        if d.stream_start is None:
            d.stream_start = now
        due = int((now - d.stream_start) * 1e6 // d.period_us) + 1
        rows = due - d.next_sample - d.jump
        if rows <= 0:
            return
        first = d.next_sample + d.jump
        d.jump = 0
        idx = np.arange(first, first + rows)
        values = np.stack([value_at(idx, p, d.seed) for p in d.enabled], axis=1).astype(np.uint16)
        malformed = np.zeros(rows, dtype=bool)
        if d.malformed_every:
            malformed = (idx % d.malformed_every) == 3
            values[malformed] = 0
        # Each line's host time is when it was due: the device's own clock.
        host = [int((d.stream_start + (first + r) * d.period_us / 1e6) * 1e6) for r in (0, rows - 1)]
        message = _wire.DataMessage(d.serial, d.sequence, first, d.period_us, host[0], host[1], malformed, values)
        payload = _wire.encode_data(message)
        if d.newer:
            payload = payload[:2] + bytes([2]) + payload[3:]
            d.newer = False
        d.next_sample = first + rows
        if d.drop > 0:
            d.drop -= 1
        else:
            d.sent.append((d.sequence, first, values, malformed))
            self.xpub.send_multipart([_wire.data_topic(d.serial), payload])
        d.sequence += 1

    def _answer(self, request):
        action = request.get("action")
        serial = request.get("device")
        reply = {"id": request.get("id"), "status": 200}
        d = self.devices.get(serial)
        now = time.monotonic()
        held = [h for s, h in self.holds.items() if s == serial and now - h[1] < LEASE_SECONDS]
        if action == "devices":
            reply["devices"] = [{"serial": s} for s in self.devices]
        elif d is None:
            reply.update(status=404, error=f"there is no device {serial}")
        elif action == "hold":
            self.holds[serial] = (request.get("holder", "?"), now)
        elif action == "release":
            self.holds.pop(serial, None)
        elif action in ("stop", "channels", "period") and held:
            reply.update(status=409, error=f"device {serial} is being recorded by {held[0][0]}")
        elif action == "start":
            if d.streaming:
                reply.update(status=409, error=f"device {serial} is already streaming")
            else:
                d.streaming = True
                self._restart_stream(d)
        elif action == "stop":
            if not d.streaming:
                reply.update(status=409, error=f"device {serial} is not streaming (stopped)")
            else:
                d.streaming = False
        elif action == "channels":
            d.enabled = sorted(request.get("channels", []))
            self._restart_stream(d)
        elif action == "period":
            d.period_us = int(request.get("periodUs", d.period_us))
            self._restart_stream(d)
        else:
            reply.update(status=404, error=f"unknown control '{action}'")
        if reply["status"] == 200 and d is not None:
            reply["device"] = {"serial": serial}
            self._send_meta(d)
        return reply

    def _zap(self):
        frames = self.zap.recv_multipart()
        version, request_id, key = frames[0], frames[1], frames[6] if len(frames) > 6 else b""
        text = zmq.utils.z85.encode(key).decode() if len(key) == 32 else ""
        ok = text in self.client_keys
        if not ok:
            self.zap_refusals.append(text)
        self.zap.send_multipart([version, request_id, b"200" if ok else b"400", b"OK" if ok else b"not listed",
                                 b"", b""])

    def _run(self):
        poller = zmq.Poller()
        poller.register(self.xpub, zmq.POLLIN)
        poller.register(self.router, zmq.POLLIN)
        if self.zap is not None:
            poller.register(self.zap, zmq.POLLIN)
        next_tick = next_meta = time.monotonic()
        while self.running:
            timeout = max(0, min(next_tick, next_meta) - time.monotonic())
            events = dict(poller.poll(int(timeout * 1000) + 1))
            with self.lock:
                if self.zap is not None and events.get(self.zap):
                    self._zap()
                while events.get(self.xpub):
                    try:
                        frame = self.xpub.recv(zmq.NOBLOCK)
                    except zmq.Again:
                        break
                    if frame[:1] == b"\x01":
                        prefix = frame[1:]
                        self.subscriptions.append(prefix)
                        for d in self.devices.values():
                            if _wire.meta_topic(d.serial).startswith(prefix) or \
                                    _wire.data_topic(d.serial).startswith(prefix):
                                self._send_meta(d)
                while events.get(self.router):
                    try:
                        frames = self.router.recv_multipart(zmq.NOBLOCK)
                    except zmq.Again:
                        break
                    identity, body = frames[0], frames[-1]
                    try:
                        request = json.loads(body)
                    except ValueError:
                        request = {}
                    self.requests.append(request)
                    self.router.send_multipart([identity, *frames[1:-1], json.dumps(self._answer(request)).encode()])
                now = time.monotonic()
                if now >= next_tick:
                    next_tick = max(next_tick + TICK, now)
                    for d in self.devices.values():
                        self._send_data(d, now - self.t0)
                if now >= next_meta:
                    next_meta = now + 1.0
                    for d in self.devices.values():
                        self._send_meta(d)


def curve_pair():
    public, secret = zmq.curve_keypair()
    return public.decode(), secret.decode()


def free_port_pair():
    """A port with the next one free too, for a publisher started later."""
    for _ in range(100):
        with socket.socket() as a, socket.socket() as b:
            a.bind(("127.0.0.1", 0))
            port = a.getsockname()[1]
            try:
                b.bind(("127.0.0.1", port + 1))
                return port
            except OSError:
                continue
    raise RuntimeError("no free pair of ports")
