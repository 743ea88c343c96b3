"""What a subscriber knows of its connection from ZeroMQ's socket monitor,
told as what to do: a publisher that is not there, one that wants keys, one
that refuses ours."""
from __future__ import annotations

from typing import Optional

from .errors import PublisherError


class Contact:
    """The connection's story so far; ``refusal()`` is an error to raise at
    once (the publisher will not take this subscriber as it is configured),
    ``silence()`` the explanation when nothing came in time."""

    def __init__(self, url: str, curve: bool) -> None:
        self.url = url
        self.curve = curve
        self.connected = False
        self.handshakes = 0
        self.failure: Optional[str] = None
        self.failures = 0

    def event(self, name: str, value: int) -> None:
        if name == "CONNECTED":
            self.connected = True
        elif name == "HANDSHAKE_SUCCEEDED":
            self.handshakes += 1
        elif name.startswith("HANDSHAKE_FAILED"):
            self.failures += 1
            if name == "HANDSHAKE_FAILED_PROTOCOL" and value == _MECHANISM_MISMATCH:
                self.failure = "mechanism"
            elif name == "HANDSHAKE_FAILED_AUTH":
                self.failure = f"status {value}"
            elif self.failure is None:
                # A publisher that closes first hides the reason of this try, not the one learnt before.
                self.failure = "handshake"

    def decisive(self) -> bool:
        """The failure says how the publisher is configured: a mismatch of
        mechanisms or a refused key at once, any other failure once it
        repeats (a publisher stopped in the middle of a handshake fails one
        too, and one that refuses our mechanism may close before saying so)."""
        return (self.failure in ("mechanism",) or (self.failure or "").startswith("status")
                or self.failures >= _UNEXPLAINED_FAILURES)

    def refusal(self) -> Optional[PublisherError]:
        url = self.url
        if self.failure is None:
            return None
        if self.failure == "mechanism":
            if self.curve:
                return PublisherError(f"the publisher at {url} sends without keys: leave out server_key and "
                                      f"client_key (it can do so only on a loopback address)")
            return PublisherError(f"the publisher at {url} requires keys (CURVE): pass server_key= (the path of "
                                  f"its NAME.pub) and client_key= (the path of a NAME.key whose public key is "
                                  f"listed in its --curve-clients file)")
        if self.failure.startswith("status"):
            return PublisherError(f"the publisher at {url} refused this subscriber's key ({self.failure}): add the "
                                  f"public key of client_key to its --curve-clients file, or pass client_key= a key "
                                  f"pair listed there")
        if self.curve:
            return PublisherError(f"the publisher at {url} closed the encrypted handshake: server_key is not its "
                                  f"public key (give the NAME.pub written with its --curve-secret), or it does not "
                                  f"use keys")
        # A publisher with keys often closes a plain handshake without saying why.
        return PublisherError(f"the publisher at {url} closes every handshake: if it requires keys (CURVE), pass "
                              f"server_key= (the path of its NAME.pub) and client_key= (a NAME.key listed in its "
                              f"--curve-clients file); otherwise, is it a vornctl serve publisher?")

    def silence(self, waited: float, serial: Optional[str]) -> Exception:
        from .errors import DeviceNotFound

        url = self.url
        if self.handshakes:
            if serial is not None:
                # A converter's serial number names a port, not the device the publisher names by its serial text.
                port_name = (" (a publisher names a device by its serial text as vornctl list shows it, such as "
                             "1000001, not by its converter's serial number such as VSC1000001)"
                             if serial.startswith(("VSC", "A800")) else "")
                return DeviceNotFound(f"the publisher at {url} sent nothing of device {serial} in {waited:g} s "
                                      f"(it describes each of its devices at least once a second): it does not "
                                      f"publish that serial{port_name}; vorn.subscribe(url) without a serial "
                                      f"lists those it does in .devices")
            return DeviceNotFound(f"the publisher at {url} sent no device's description in {waited:g} s: it "
                                  f"publishes no device")
        if self.connected:
            return PublisherError(f"connected to {url}, but no handshake completed in {waited:g} s: is it a "
                                  f"vornctl serve publisher?")
        return PublisherError(f"nothing answers at {url} (waited {waited:g} s): is vornctl serve running there, and "
                              f"are host, port and firewall right?")


# Retries 100, 200, 400 ms apart: under a second before an unexplained failure is final.
_UNEXPLAINED_FAILURES = 4
# libzmq's ZMQ_PROTOCOL_ERROR_ZMTP_MECHANISM_MISMATCH.
_MECHANISM_MISMATCH = 0x11000002
