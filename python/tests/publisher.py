"""A stand-in for vornctl serve in the subscriber's tests: an XPUB socket on
loopback that describes its devices on every subscription and once a second,
and sends data messages at a device's pace with values the tests can predict
from the sample index; optionally CURVE with a ZAP handler that admits listed
keys, and a control socket that answers and logs leases."""
from __future__ import annotations

import json
import queue
import threading
import time
from typing import Dict, List, Optional, Sequence

import numpy as np
import zmq
from zmq.utils import z85

from vorn import _wire

CHANNELS = [("ECG", "mV", -5.0, 5.0), ("Resp", "l/min", 0.0, 60.0), ("Temp", "degC", 25.0, 45.0)]


def pattern(index: np.ndarray, channels: int) -> np.ndarray:
    """The raw values a stand-in device sends at these sample indices."""
    index = np.asarray(index, dtype=np.int64)[:, None]
    return ((index * 37 + np.arange(channels) * 5000) % 32768).astype(np.uint16)


def describe(serial: str, *, enabled: Sequence[int] = (1, 2, 3), period_us: int = 2000, streaming: bool = True,
             stream: int = 1, start_unix: float = 1765300000.25, fmt: int = 1) -> dict:
    return {"format": fmt, "serial": serial, "unique_id": 7, "product": "Quellograph", "version": "2.1",
            "period_us": period_us, "periods_us": [2000, 4000, 10000],
            "channels": [{"position": i + 1, "name": n, "unit": u, "minimum": lo, "maximum": hi,
                          "enabled": i + 1 in enabled} for i, (n, u, lo, hi) in enumerate(CHANNELS)],
            "streaming": streaming, "stream": stream,
            "publisher": {"host": "test", "start_unix": start_unix, "start_utc": "2025-12-09T17:06:40.250Z"}}


class _Device:
    def __init__(self, meta: dict) -> None:
        self.meta = meta
        self.sequence = 0
        self.sample = 0
        self.streaming = False
        self.rows = 10
        self.next_at = 0.0
        self.drop = 0
        self.skip_samples = 0
        self.burst = 0
        self.sent: List[_wire.DataMessage] = []


class Publisher:
    def __init__(self, serials: Sequence[str] = ("1000001",), *, port: int = 0, curve_secret: Optional[bytes] = None,
                 clients: Sequence[bytes] = (), control: bool = False, describe_on_subscribe: bool = True,
                 sndhwm: int = 1000, sndbuf: int = -1) -> None:
        self.context = zmq.Context()
        self.start = time.monotonic()
        start_unix = time.time()
        self.devices: Dict[str, _Device] = {s: _Device(describe(s, start_unix=start_unix)) for s in serials}
        self.describe_on_subscribe = describe_on_subscribe
        self.subscriptions: List[bytes] = []
        self.refused: List[bytes] = []
        self.controls: List[dict] = []
        self.subscribed = threading.Event()
        self._lock = threading.Lock()
        self._queue: "queue.Queue" = queue.Queue()
        self._stop = threading.Event()
        if curve_secret is not None:
            self._zap = self.context.socket(zmq.REP)
            self._zap.bind("inproc://zeromq.zap.01")
            self._clients = set(clients)
        else:
            self._zap = None
        self.sock = self.context.socket(zmq.XPUB)
        self.sock.setsockopt(zmq.XPUB_VERBOSE, 1)
        self.sock.setsockopt(zmq.LINGER, 0)
        self.sock.setsockopt(zmq.SNDHWM, sndhwm)
        self.sock.setsockopt(zmq.SNDBUF, sndbuf)
        if curve_secret is not None:
            self.sock.curve_server = True
            self.sock.curve_secretkey = curve_secret
        self.url = self._bind(self.sock, port)
        self.port = int(self.url.rsplit(":", 1)[1])
        self.control = None
        if control:
            self.control = self.context.socket(zmq.ROUTER)
            self.control.setsockopt(zmq.LINGER, 0)
            self.control_url = self._bind(self.control, self.port + 1)
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    @staticmethod
    def _bind(sock, port: int) -> str:
        sock.bind(f"tcp://127.0.0.1:{port}" if port else "tcp://127.0.0.1:*")
        return sock.getsockopt(zmq.LAST_ENDPOINT).decode()

    # --- what the tests ask for ------------------------------------------------------

    def stream(self, serial: str = "1000001", rows: int = 10) -> None:
        """Sends a message of ``rows`` rows every ``rows`` periods from now on."""
        with self._lock:
            d = self.devices[serial]
            d.streaming, d.rows, d.next_at = True, rows, time.monotonic()

    def burst(self, serial: str, messages: int) -> None:
        """Sends that many messages at once, as fast as they are made."""
        with self._lock:
            self.devices[serial].burst += messages

    def bursting(self, serial: str) -> bool:
        with self._lock:
            return self.devices[serial].burst > 0

    def halt(self, serial: str = "1000001") -> None:
        with self._lock:
            self.devices[serial].streaming = False

    def drop(self, serial: str, messages: int) -> None:
        """The next messages are made and counted, but never sent."""
        with self._lock:
            self.devices[serial].drop += messages

    def skip(self, serial: str, samples: int) -> None:
        """The publisher's own gap: the next message's first sample jumps."""
        with self._lock:
            self.devices[serial].skip_samples += samples

    def redescribe(self, serial: str, **changes) -> None:
        """A new description, sent at once; the data follow it."""
        with self._lock:
            d = self.devices[serial]
            d.meta = describe(serial, start_unix=d.meta["publisher"]["start_unix"], **changes)
            d.sample = 0
        self._queue.put([_wire.meta_topic(serial), json.dumps(d.meta).encode()])

    def send(self, frames: List[bytes]) -> None:
        self._queue.put(list(frames))

    def sent(self, serial: str = "1000001") -> List[_wire.DataMessage]:
        with self._lock:
            return list(self.devices[serial].sent)

    def wait_subscribed(self, timeout: float = 10.0) -> None:
        assert self.subscribed.wait(timeout), "no subscriber came"

    def close(self) -> None:
        self._stop.set()
        self._thread.join(10)
        self.context.destroy(linger=0)

    # --- the publisher's thread --------------------------------------------------------

    def _run(self) -> None:
        poller = zmq.Poller()
        poller.register(self.sock, zmq.POLLIN)
        if self._zap is not None:
            poller.register(self._zap, zmq.POLLIN)
        if self.control is not None:
            poller.register(self.control, zmq.POLLIN)
        described = time.monotonic()
        while not self._stop.is_set():
            ready = dict(poller.poll(2))
            if self._zap in ready:
                self._authenticate()
            if self.control in ready:
                self._answer()
            if self.sock in ready:
                message = self.sock.recv()
                if message[:1] == b"\x01":
                    self.subscriptions.append(message[1:])
                    if self.describe_on_subscribe:
                        self._describe_all(message[1:])
                    self.subscribed.set()
            while not self._queue.empty():
                self.sock.send_multipart(self._queue.get())
            if time.monotonic() - described >= 1.0:
                described = time.monotonic()
                self._describe_all(b"")
            self._pace()

    def _describe_all(self, prefix: bytes) -> None:
        with self._lock:
            metas = [d.meta for d in self.devices.values()]
        for meta in metas:
            topic = _wire.meta_topic(meta["serial"])
            if topic.startswith(prefix):
                self.sock.send_multipart([topic, json.dumps(meta).encode()])

    def _pace(self) -> None:
        now = time.monotonic()
        out = []
        with self._lock:
            for serial, d in self.devices.items():
                period = d.meta["period_us"] / 1e6
                channels = sum(c["enabled"] for c in d.meta["channels"])
                # Bounded: a publisher held up sends what is due, a few messages at a time.
                for _ in range(max(5, min(d.burst, 500))):
                    if d.burst:
                        d.burst -= 1
                    elif not d.streaming or now < d.next_at:
                        break
                    else:
                        d.next_at += d.rows * period
                    d.sample += d.skip_samples
                    d.skip_samples = 0
                    host = int((now - self.start) * 1e6)
                    index = np.arange(d.sample, d.sample + d.rows)
                    m = _wire.DataMessage(serial, d.sequence, d.sample, d.meta["period_us"],
                                          host - int((d.rows - 1) * period * 1e6), host,
                                          np.zeros(d.rows, bool), pattern(index, channels))
                    d.sequence += 1
                    d.sample += d.rows
                    if d.drop:
                        d.drop -= 1
                        continue
                    d.sent.append(m)
                    out.append([_wire.data_topic(serial), _wire.encode_data(m)])
        for frames in out:
            self.sock.send_multipart(frames)

    def _authenticate(self) -> None:
        version, request, domain, address, identity, mechanism, *credentials = self._zap.recv_multipart()
        key = z85.encode(credentials[0]) if credentials else b""
        ok = mechanism == b"CURVE" and key in self._clients
        if not ok:
            self.refused.append(key)
        self._zap.send_multipart([version, request, b"200" if ok else b"400", b"OK" if ok else b"not listed",
                                  b"", b""])

    def _answer(self) -> None:
        identity, *frames = self.control.recv_multipart()
        request = json.loads(frames[-1])
        self.controls.append(request)
        self.control.send_multipart([identity, json.dumps({"id": request.get("id"), "status": 200}).encode()])
