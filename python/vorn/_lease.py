"""The recording lease: while a subscriber records a device it tells the
publisher's control socket so every second ("hold"), and the publisher
refuses to stop the device or change its channels or period meanwhile, as
``vornctl view`` does while it records. "release" ends the lease at once;
a lease not renewed for 5 s ends by itself."""
from __future__ import annotations

import itertools
import json
import os
import re
import socket
import time
import warnings
from typing import Dict, Optional

from ._keys import ClientKeys

HOLD_EVERY = 1.0
# A publisher that never answers in this time has no control socket where we looked.
_ANSWER_WITHIN = 5.0


def control_endpoint(url: str) -> Optional[str]:
    """The publisher's control socket by its default place: the data port + 1."""
    m = re.fullmatch(r"(tcp://.+):([0-9]+)", url)
    if not m or not 0 < int(m.group(2)) < 65535:
        return None
    return f"{m.group(1)}:{int(m.group(2)) + 1}"


def holder_name() -> str:
    return f"python on {socket.gethostname()} (pid {os.getpid()})"


class Lease:
    """Holds devices on one publisher through a DEALER socket; every call
    returns at once (nothing waits for the publisher)."""

    def __init__(self, context, endpoint: str, keys: Optional[ClientKeys]) -> None:
        import zmq

        self.endpoint = endpoint
        self.holder = holder_name()
        self._sock = context.socket(zmq.DEALER)
        # A release still queued at the close goes out within this time, or is dropped.
        self._sock.setsockopt(zmq.LINGER, 500)
        self._sock.setsockopt(zmq.SNDHWM, 100)
        if keys is not None:
            self._sock.curve_serverkey = keys.server_public
            self._sock.curve_publickey = keys.public
            self._sock.curve_secretkey = keys.secret
        self._sock.connect(endpoint)
        self._held: Dict[str, float] = {}
        self._ids = itertools.count(1)
        self._asked: Dict[int, str] = {}
        self._answered = False
        self._since = time.monotonic()
        self._warned = set()

    def _send(self, action: str, serial: str) -> None:
        import zmq

        n = next(self._ids)
        self._asked[n] = serial
        if len(self._asked) > 1000:
            self._asked.pop(next(iter(self._asked)))
        body = {"id": n, "action": action, "device": serial, "holder": self.holder}
        try:
            self._sock.send(json.dumps(body).encode("utf-8"), zmq.DONTWAIT)
        except zmq.Again:
            pass  # nobody takes them: the warning below says so

    def hold(self, serial: str) -> None:
        if serial not in self._held:
            self._held[serial] = 0.0
        self.tick()

    def tick(self) -> None:
        """Renews the holds that are due and reads the answers."""
        import zmq

        now = time.monotonic()
        for serial, last in self._held.items():
            if now - last >= HOLD_EVERY:
                self._held[serial] = now
                self._send("hold", serial)
        while True:
            try:
                frames = self._sock.recv_multipart(zmq.DONTWAIT)
            except zmq.Again:
                break
            self._answered = True
            self._answer(frames[-1])
        if self._held and not self._answered and now - self._since > _ANSWER_WITHIN:
            self._warn("silent", f"no answer from the publisher's control socket at {self.endpoint} in "
                                 f"{_ANSWER_WITHIN:g} s: the recording lease is not held, so others may stop "
                                 f"the device or change its channels meanwhile (pass control= the publisher's "
                                 f"--control endpoint, or control=None)")

    def _answer(self, frame: bytes) -> None:
        try:
            reply = json.loads(frame.decode("utf-8"))
            status = int(reply.get("status", 0))
            serial = self._asked.pop(reply.get("id"), "?")
        except (ValueError, AttributeError, TypeError):
            return
        if status != 200 and serial in self._held:
            error = reply.get("error") or f"status {status}"
            self._warn(serial, f"the publisher did not grant the recording lease on {serial}: {error}; others may "
                               f"stop the device or change its channels during the recording")

    def _warn(self, key: str, text: str) -> None:
        if key not in self._warned:
            self._warned.add(key)
            warnings.warn(text, RuntimeWarning, stacklevel=4)

    def release(self, serial: str) -> None:
        if self._held.pop(serial, None) is not None:
            self._send("release", serial)

    def close(self) -> None:
        for serial in list(self._held):
            self.release(serial)
        self._sock.close()
