"""Devices on another machine: the streams ``vornctl serve`` publishes, read
as the same blocks and recordings as a local device's (docs/streaming.md
gives the messages). ZeroMQ carries them and reconnects by itself; this
module only reads what arrives."""
from __future__ import annotations

import collections
import time
import warnings
import weakref
from typing import Deque, Dict, Iterator, List, Optional, Tuple

from ._args import seconds_value
from ._contact import Contact
from ._keys import ClientKeys, client_keys
from ._lease import control_endpoint
from ._timeline import Timeline
from ._wire import DataMessage, NewerFormat, WireError, decode_data, device_prefix, topic_serial
from .errors import DeviceSilent, PublisherError, VornError
from .gaps import Gap
from .remote import RemoteDevice, parse_meta
from .stream import Block

#: How long the first description may take before the subscription says why nothing came.
DEFAULT_TIMEOUT = 10.0
# Short enough that Ctrl-C and the time-outs are noticed promptly.
_POLL_MS = 100
# Messages read in one go before the caller gets a block.
_BATCH = 256
# Data that came before a description fitting them wait this long (the
# publisher describes every device at least once a second), and no more of them.
_PENDING_SECONDS = 5.0
_PENDING_MESSAGES = 500
# The largest message the format allows: header, bitmap and 131072 rows of 256 channels.
_MAX_MESSAGE = 65535 + (1 << 14) + 2 * (1 << 17) * 256
# About 20 s of one device at 50 messages a second (ZeroMQ's own default).
DEFAULT_HWM = 1000
# The default: the control socket beside the publisher's data port.
DEFAULT_CONTROL = "default"


def _zmq():
    try:
        import zmq
    except ImportError:
        raise ImportError("vorn.subscribe() needs pyzmq (ZeroMQ for Python), which is not installed; install it "
                          "with 'apt install python3-zmq' (or 'pip install pyzmq')") from None
    return zmq


class _Device:
    def __init__(self) -> None:
        self.meta: Optional[RemoteDevice] = None
        self.timeline: Optional[Timeline] = None
        self.pending: Deque[Tuple[DataMessage, float]] = collections.deque()


def _close_context(context) -> None:
    try:
        context.destroy(linger=0)
    except Exception:
        pass  # the interpreter is exiting


class Subscription:
    """The stream of one publisher's devices (or one of them); made by
    :func:`vorn.subscribe`. Enter it (``with``) to connect; iterate it for
    blocks, or call :meth:`record`.

    ``devices`` holds each device's latest description; ``gaps`` each
    device's gaps so far; ``lines`` and ``malformed`` count rows and damaged
    rows; ``damaged`` the messages that could not be read and ``unmatched``
    the data messages dropped because no description of their device fitted
    them (both also warned about once).
    """

    def __init__(self, url: str, serial: Optional[str], keys: Optional[ClientKeys], *, raw: bool,
                 control: Optional[str], timeout: Optional[float], silence: Optional[float], hwm: int) -> None:
        self.url = url
        self.hwm = hwm
        self.serial = serial
        self.raw = raw
        self.control = control
        self.timeout = timeout
        self.silence = silence
        self.devices: Dict[str, RemoteDevice] = {}
        self.gaps: Dict[str, List[Gap]] = {}
        self.lines = 0
        self.malformed = 0
        self.damaged = 0
        self.unmatched = 0
        self._keys = keys
        self._contact = Contact(url, keys is not None)
        self._state: Dict[str, _Device] = {}
        self._ready: Deque[Tuple[Timeline, Block]] = collections.deque()
        self._context = None
        self._sock = None
        self._monitor = None
        self._poller = None
        self._entered = False
        self._closed = False
        self._error: Optional[BaseException] = None
        self._entered_at = 0.0
        self._first_contact: Optional[float] = None
        self._last_data = 0.0
        self._warned: set = set()
        self._finalizer: Optional[weakref.finalize] = None

    def __repr__(self) -> str:
        what = self.serial or "every device"
        return f"<vorn.Subscription {what} at {self.url}, {len(self.devices)} device(s) described>"

    @property
    def running(self) -> bool:
        return self._entered and not self._closed

    # --- connecting and closing --------------------------------------------------

    def __enter__(self) -> "Subscription":
        if self._entered:
            raise VornError("a subscription connects once; call vorn.subscribe() for another")
        zmq = _zmq()
        self._entered = True
        self._context = context = zmq.Context()
        self._finalizer = weakref.finalize(self, _close_context, context)
        try:
            sock = self._sock = context.socket(zmq.SUB)
            sock.setsockopt(zmq.LINGER, 0)
            sock.setsockopt(zmq.MAXMSGSIZE, _MAX_MESSAGE)
            sock.setsockopt(zmq.RCVHWM, self.hwm)
            # ZeroMQ's own reconnection, and its heartbeat to notice a peer that vanished without a word.
            sock.setsockopt(zmq.RECONNECT_IVL, 100)
            sock.setsockopt(zmq.RECONNECT_IVL_MAX, 1000)
            sock.setsockopt(zmq.HEARTBEAT_IVL, 1000)
            sock.setsockopt(zmq.HEARTBEAT_TIMEOUT, 5000)
            if self._keys is not None:
                sock.curve_serverkey = self._keys.server_public
                sock.curve_publickey = self._keys.public
                sock.curve_secretkey = self._keys.secret
            self._monitor = sock.get_monitor_socket()
            try:
                sock.connect(self.url)
            except zmq.ZMQError as e:
                raise PublisherError(f"cannot connect to {self.url}: {e} (a publisher's address is "
                                     f"tcp://HOST:PORT)") from None
            sock.setsockopt(zmq.SUBSCRIBE, b"" if self.serial is None else device_prefix(self.serial))
            self._poller = zmq.Poller()
            self._poller.register(sock, zmq.POLLIN)
            self._poller.register(self._monitor, zmq.POLLIN)
        except BaseException:
            self.close()
            raise
        self._entered_at = time.monotonic()
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        self.close()

    def close(self) -> None:
        """Disconnects; blocks not yet read are dropped. Closing twice is harmless."""
        self._closed = True
        if self._finalizer is not None:
            self._finalizer()
        self._sock = self._monitor = self._poller = None

    # --- reading -----------------------------------------------------------------

    def __iter__(self) -> Iterator[Block]:
        while True:
            block = self.read()
            if block is not None:
                yield block

    def read(self, timeout: Optional[float] = None) -> Optional[Block]:
        """The next block (of any device the subscription takes), waiting up
        to ``timeout`` seconds (None: as long as it takes). None when the
        time-out passed first."""
        got = self._next(timeout)
        if got is None:
            return None
        block = got[1]
        if not self.raw:
            block.raw = None
        return block

    def _next(self, timeout: Optional[float]) -> Optional[Tuple[Timeline, Block]]:
        if self._error is not None:
            raise self._error
        if not self.running:
            raise VornError("the subscription is not connected: use it inside its with block")
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            if self._ready:
                return self._ready.popleft()
            now = time.monotonic()
            self._check_time(now)
            if deadline is not None and now >= deadline:
                return None
            wait = _POLL_MS if deadline is None else max(0, min(_POLL_MS, int((deadline - now) * 1000) + 1))
            ready = dict(self._poller.poll(wait))
            if self._monitor in ready:
                self._read_monitor()
            if self._sock in ready:
                self._read_messages()

    def _check_time(self, now: float) -> None:
        if self._first_contact is None:
            if self.timeout is not None and now - self._entered_at > self.timeout:
                raise self._contact.silence(self.timeout, self.serial)
        elif self.silence is not None and now - self._last_data > self.silence:
            what = f"device {self.serial}" if self.serial else "any device"
            raise DeviceSilent(f"no data from {what} at {self.url} for {now - self._last_data:.1f} s (the stated "
                               f"silence is {self.silence:g} s)")

    def _read_monitor(self) -> None:
        zmq = _zmq()
        from zmq.utils.monitor import recv_monitor_message

        names = _event_names(zmq)
        while True:
            try:
                event = recv_monitor_message(self._monitor, zmq.NOBLOCK)
            except zmq.Again:
                return
            self._contact.event(names.get(int(event["event"]), ""), int(event["value"]))
            refusal = self._contact.refusal()
            if refusal is None:
                continue
            if self._first_contact is None and self._contact.decisive():
                raise refusal
            if self._first_contact is not None:
                # Once received from, a refusal is a publisher restarted with other keys: said, not fatal.
                self._warn("refusal", str(refusal))

    def _read_messages(self) -> None:
        zmq = _zmq()
        for _ in range(_BATCH):
            try:
                frames = self._sock.recv_multipart(zmq.NOBLOCK, copy=True)
            except zmq.Again:
                return
            self._handle(frames, time.monotonic())

    def _handle(self, frames: List[bytes], arrival: float) -> None:
        if len(frames) != 2:
            self._damage(f"{len(frames)} frames where a topic and a payload belong")
            return
        topic, payload = frames
        serial = topic_serial(topic)
        if not serial or (self.serial is not None and serial != self.serial):
            return  # a kind of message this reader does not know of (docs/streaming.md)
        try:
            if topic.endswith(b"/meta"):
                self._describe(serial, payload, arrival)
            else:
                message = decode_data(payload)
                if message.serial != serial:
                    raise WireError(f"damaged data message: serial {message.serial!r} under the topic of {serial!r}")
                self._take(serial, message, arrival)
        except NewerFormat as e:
            self._error = e
            raise
        except WireError as e:
            self._damage(str(e))

    def _describe(self, serial: str, payload: bytes, arrival: float) -> None:
        meta = parse_meta(payload, serial)
        if self._first_contact is None:
            self._first_contact = self._last_data = arrival
        device = self._state.setdefault(serial, _Device())
        device.meta = self.devices[serial] = meta
        self._drain(serial, device)

    def _take(self, serial: str, message: DataMessage, arrival: float) -> None:
        device = self._state.setdefault(serial, _Device())
        device.pending.append((message, arrival))
        self._drain(serial, device)

    def _drain(self, serial: str, device: _Device) -> None:
        """Hands the device's waiting messages to the timeline of the layout they fit."""
        while device.pending:
            message, arrival = device.pending[0]
            meta, timeline = device.meta, device.timeline
            fits_meta = meta is not None and len(meta.enabled) == message.values.shape[1] \
                and meta.period_us == message.period_us
            if timeline is not None and timeline.fits(message) and not (fits_meta and meta.layout != timeline.layout):
                target = timeline
            elif fits_meta:
                # A new layout: the device's rows start afresh (index from 0, the new channels).
                target = device.timeline = Timeline(meta)
            else:
                # A description that fits may still come; what waits too long is dropped.
                if len(device.pending) > _PENDING_MESSAGES or arrival < time.monotonic() - _PENDING_SECONDS:
                    device.pending.popleft()
                    self.unmatched += 1
                    self._warn("unmatched", f"data of {serial} from {self.url} fit none of its descriptions "
                                            f"(channels and period) and were dropped; see .unmatched")
                    continue
                return
            device.pending.popleft()
            try:
                block = target.take(message, arrival, meta.publisher_start if meta is not None else None)
            except WireError as e:
                self._damage(str(e))
                continue
            if block is None:
                continue
            self._last_data = arrival
            self.lines += len(block)
            self.malformed += block.malformed
            self.gaps.setdefault(serial, []).extend(block.gaps)
            self._ready.append((target, block))

    def _damage(self, text: str) -> None:
        self.damaged += 1
        self._warn("damaged", f"a damaged message from {self.url} was skipped ({text}); damaged messages are "
                              f"counted in .damaged")

    def _warn(self, key: str, text: str) -> None:
        if key not in self._warned:
            self._warned.add(key)
            warnings.warn(text, RuntimeWarning, stacklevel=5)

    # --- recording ---------------------------------------------------------------

    def record(self, seconds: float, *, stop=None):
        """Records round(seconds / period) sample sets of each device, counted
        from its first line received, gaps included; see
        :func:`vorn.subscribe`."""
        from ._remote_record import record

        return record(self, seconds, stop)


def _event_names(zmq) -> Dict[int, str]:
    return {getattr(zmq, name): name[len("EVENT_"):] for name in dir(zmq)
            if name.startswith("EVENT_") and isinstance(getattr(zmq, name), int)}


def subscribe(url: str, serial: Optional[str] = None, *, server_key=None, client_key=None, raw: bool = False,
              control: Optional[str] = DEFAULT_CONTROL, timeout: Optional[float] = DEFAULT_TIMEOUT,
              silence: Optional[float] = None, hwm: int = DEFAULT_HWM) -> Subscription:
    """The stream of a publisher's devices (``vornctl serve``), as a context
    manager like :meth:`Device.stream` (nothing goes to the network before
    the ``with`` block), or to :meth:`Subscription.record`.

    ``url`` is the publisher's address (``tcp://HOST:5650``); ``serial``
    takes one device (None: every device, each block saying whose it is in
    ``block.serial``). ``server_key`` (the publisher's public key) and
    ``client_key`` (this subscriber's key pair, listed in the publisher's
    ``--curve-clients``) are key file paths or the keys' Z85 text; both are
    needed off loopback. ``raw`` adds the driver's values to each block.
    ``control`` is the publisher's control socket, where a recording holds
    its devices (default: the data port + 1; None: no lease). Without a
    description of a device within ``timeout`` seconds (None: no limit) the
    subscription says why: nothing answers, keys refused, no such device.
    With ``silence`` seconds, a subscription that receives no data that long
    raises DeviceSilent; by default it waits, so a publisher that restarts
    is a gap, not an end. ``hwm`` is how many messages may wait unread
    before newer ones are dropped (ZeroMQ's receive high-water mark; what
    is dropped is a gap).
    """
    if not isinstance(url, str) or "://" not in url:
        raise ValueError(f"a publisher's address is a text such as 'tcp://HOST:5650', not {url!r}")
    if serial is not None and (not isinstance(serial, str) or not serial or "/" in serial):
        raise ValueError(f"serial is a device's serial text such as '1000001' (vornctl list), or None for every device, "
                         f"not {serial!r}")
    if timeout is not None:
        timeout = seconds_value(timeout, "timeout")
    if silence is not None:
        silence = seconds_value(silence, "silence")
    if control == DEFAULT_CONTROL:
        control = control_endpoint(url)
    elif control is not None and (not isinstance(control, str) or "://" not in control):
        raise ValueError(f"control is the publisher's control address such as 'tcp://HOST:5651', or None, "
                         f"not {control!r}")
    if isinstance(hwm, bool) or not isinstance(hwm, int) or hwm < 1:
        raise ValueError(f"hwm is a number of messages (1 or more), not {hwm!r}")
    _zmq()
    keys = client_keys(server_key, client_key)
    return Subscription(url, serial, keys, raw=bool(raw), control=control, timeout=timeout, silence=silence,
                        hwm=hwm)
