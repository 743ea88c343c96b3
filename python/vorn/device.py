"""Devices: discovery, self-description and the sample stream."""
from __future__ import annotations

import atexit
import ctypes
import dataclasses
import math
import threading
import time
from typing import TYPE_CHECKING, Iterator, List, Optional, Sequence, Union

import numpy as np

from . import _library as L
from ._lines import LineParser
from .errors import DeviceClosed, DeviceError, DeviceNotFound, DeviceSilent, InitialiseError

SCALED_MAXIMUM = 32767
# More than any device describes; a larger count is junk.
_MAX_CHANNELS = 1024
# Short enough that Ctrl-C, the silence and a failed device are noticed promptly.
_WAIT_MS = 100
# Blocks are read at most this often while the ring holds little, so that
# many devices at a slow period cost little CPU.
DEFAULT_BLOCK_SECONDS = 0.05
# A recording needs no quick look at each block; fewer, larger reads cost less.
RECORD_BLOCK_SECONDS = 0.25
# Beyond this much waiting in the ring, read at once (the ring holds 65535 bytes).
_EAGER_BYTES = 16 * 1024

if TYPE_CHECKING:  # pragma: no cover
    from .recording import Recording

ChannelSpec = Union[int, str, "Channel"]
PeriodSpec = Union[None, float, int, str]


@dataclasses.dataclass(frozen=True)
class Channel:
    """One channel of a device's self-description."""

    position: int  #: field position; 1 is the first channel
    name: str
    unit: str  #: empty when the device reports none
    minimum: Optional[float]  #: None when the device reports no range
    maximum: Optional[float]
    range_text: str = ""  #: the driver's range text (command 22)

    @property
    def scaled(self) -> bool:
        """True when the driver scales the channel onto 0..32767 (it has a range)."""
        return self.minimum is not None and self.maximum is not None

    def to_physical(self, raw: np.ndarray) -> np.ndarray:
        """The driver's 0..32767 values in the channel's unit."""
        raw = np.asarray(raw, dtype=np.float64)
        if not self.scaled:
            return raw
        return self.minimum + raw / SCALED_MAXIMUM * (self.maximum - self.minimum)


def nominal_period_us(listed_us: int) -> int:
    """The period the device samples at: the driver lists 0.002 s as 1999 us
    (it truncates a float), so a value one below a rounder number is that number."""
    if listed_us <= 0:
        return listed_us

    def zeros(v: int) -> int:
        n = 0
        while v and v % 10 == 0:
            v //= 10
            n += 1
        return n

    return listed_us + 1 if zeros(listed_us + 1) > zeros(listed_us) else listed_us


def parse_period(wanted: Union[float, int, str]) -> float:
    """A period in microseconds from 0.002 (seconds), "2ms", "2000us" or "0.002s"."""
    if isinstance(wanted, (int, float)) and not isinstance(wanted, bool):
        if wanted <= 0:
            raise ValueError(f"a period must be positive, not {wanted}")
        return float(wanted) * 1e6
    text = str(wanted).strip()
    for suffix, scale in (("us", 1.0), ("ms", 1e3), ("s", 1e6)):
        if text.endswith(suffix):
            value = float(text[: -len(suffix)])
            break
    else:
        value, scale = float(text), 1e6
    if not value > 0:
        raise ValueError(f"a period must be positive, not {wanted!r}")
    return value * scale


@dataclasses.dataclass
class Block:
    """Sample sets read at once from the receive ring.

    ``data`` is float64 (rows x channels) in each channel's unit, NaN in the
    rows of lines that arrived damaged; ``raw`` holds the driver's values
    (0..32767 for scaled channels), 0 in damaged rows; ``valid`` says which
    rows parsed. ``times`` is sample index x period in seconds,
    ``host_times`` the host's monotonic clock (time.monotonic) when the block
    was read.
    """

    index: np.ndarray
    times: np.ndarray
    host_times: np.ndarray
    data: np.ndarray
    raw: Optional[np.ndarray]
    valid: np.ndarray

    @property
    def malformed(self) -> int:
        return int(len(self.valid) - np.count_nonzero(self.valid))

    def __len__(self) -> int:
        return len(self.index)


class Device:
    """One found and initialised device: its identity, channels and periods.

    Calls for different devices may come from different threads; one device
    is used from one thread at a time.
    """

    def __init__(self, lib: L.Library, index: int) -> None:
        self._lib = lib
        self._generation = lib.generation
        self.index = index
        self.unique_id: Optional[int] = None
        self.serial = ""
        self.product = ""
        self.version = ""
        self.channels: List[Channel] = []
        self._listed_periods: List[int] = []
        self._streaming = False
        self._lock = threading.Lock()

    # --- calls into the library -------------------------------------------------

    def _call(self, name: str, *args):
        return self._locked(getattr(self._lib, name), self.index, *args)

    def _command(self, code: int, argument: int = 0) -> L.Reply:
        return self._locked(self._lib.command, self.index, code, argument)

    def _locked(self, fn, *args):
        # The driver takes no two calls for one device at once, and no call at all
        # during FindDevice or CloseAll: misuse from several threads waits instead.
        lib = self._lib
        lib.lock.acquire_shared()
        try:
            with self._lock:
                if lib.generation != self._generation:
                    raise DeviceClosed(f"device {self.index} ({self.serial}) was closed by close_all(); "
                                       f"call vorn.devices() again")
                return fn(*args)
        finally:
            lib.lock.release_shared()

    def _message(self) -> str:
        return self._lib.general_message()

    # --- description ------------------------------------------------------------

    def _describe(self) -> None:
        uid = ctypes.c_int32(0)
        if self._call("GetUniqueID", ctypes.byref(uid)) == 1:
            self.unique_id = uid.value & 0xFFFFFFFF
        if self._call("Initialise") != 1:
            raise InitialiseError(self._message())
        serial = self._command(L.CMD_SERIAL_TEXT)
        if not serial.ok:
            raise InitialiseError("the device did not describe itself: " + self._message())
        self.serial = serial.text
        self.product = self._command(L.CMD_PRODUCT_NAME).text
        self.version = self._command(L.CMD_VERSION_TEXT).text
        last = self._command(L.CMD_LAST_CHANNEL)
        if not last.ok:
            raise InitialiseError("the device did not report its channels: " + self._message())
        if not 0 <= last.int_result <= _MAX_CHANNELS:
            raise InitialiseError(f"the driver reported an impossible last channel index {last.int_result}")
        channels = []
        for p in range(1, last.int_result + 1):
            lo = self._command(L.CMD_CHANNEL_MINIMUM, p).float_result
            hi = self._command(L.CMD_CHANNEL_MAXIMUM, p).float_result
            ranged = lo is not None and hi is not None and np.isfinite(lo) and np.isfinite(hi)
            channels.append(Channel(position=p,
                                    name=self._command(L.CMD_CHANNEL_NAME, p).text or f"ch{p}",
                                    unit=self._command(L.CMD_CHANNEL_UNIT, p).text,
                                    minimum=float(lo) if ranged else None,
                                    maximum=float(hi) if ranged else None,
                                    range_text=self._command(L.CMD_CHANNEL_RANGE, p).text))
        self.channels = channels
        periods = self._command(L.CMD_PERIOD_LIST)
        try:
            listed = [int(v) for v in periods.text.split(",")] if periods.text else []
        except ValueError:
            raise InitialiseError(f"the driver's period list {periods.text!r} cannot be read") from None
        if not periods.ok:
            raise InitialiseError("the device did not list its periods: " + self._message())
        self._listed_periods = listed

    @property
    def periods(self) -> List[float]:
        """The offered sample periods in seconds, fastest first."""
        return sorted(nominal_period_us(v) / 1e6 for v in self._listed_periods)

    @property
    def failed(self) -> bool:
        return self._call("IsFailed") == 1

    def __repr__(self) -> str:
        return (f"<vorn.Device {self.index} {self.serial} {self.product} {self.version} "
                f"channels={[c.name for c in self.channels]}>")

    # --- choosing what to stream ------------------------------------------------

    def channel(self, wanted: ChannelSpec) -> Channel:
        """A channel by position (1 is the first), name or Channel."""
        if isinstance(wanted, Channel):
            wanted = wanted.position
        if isinstance(wanted, (int, np.integer)) and not isinstance(wanted, bool):
            for c in self.channels:
                if c.position == wanted:
                    return c
        elif isinstance(wanted, str):
            for c in self.channels:
                if c.name == wanted:
                    return c
            for c in self.channels:
                if c.name.lower() == wanted.lower():
                    return c
        names = ", ".join(f"{c.position}:{c.name}" for c in self.channels)
        raise ValueError(f"device {self.serial} has no channel {wanted!r}; it has {names}")

    def _listed_period(self, wanted: PeriodSpec) -> int:
        if not self._listed_periods:
            raise DeviceError(f"device {self.serial} lists no sample periods")
        if wanted is None or wanted == "fastest":
            return min(self._listed_periods, key=nominal_period_us)
        if wanted == "slowest":
            return max(self._listed_periods, key=nominal_period_us)
        want = parse_period(wanted)
        for listed in self._listed_periods:
            if abs(nominal_period_us(listed) - want) < 0.5:
                return listed
        offered = ", ".join(f"{p:g} s" for p in self.periods)
        raise ValueError(f"device {self.serial} offers no period {wanted!r}; it offers {offered}")

    def stream(self, channels: Optional[Sequence[ChannelSpec]] = None, period: PeriodSpec = None, *,
               raw: bool = False, silence: Optional[float] = None,
               block_seconds: float = DEFAULT_BLOCK_SECONDS) -> "Stream":
        """A context manager that streams the chosen channels at the chosen period.

        ``channels``: positions, names or Channel objects (default all);
        ``period``: seconds (0.002), "2ms", "2000us", "fastest" (default) or
        "slowest". Iterating it yields :class:`Block` objects; ``raw`` adds the
        driver's values. A device that sends nothing for ``silence`` seconds
        (default the larger of 3 s and ten periods) raises DeviceSilent. The
        stream is stopped when the ``with`` block ends, also by an exception
        or Ctrl-C.
        """
        chosen = self.channels if channels is None else [self.channel(c) for c in channels]
        positions = []
        for c in chosen:
            if c.position not in positions:
                positions.append(c.position)
        if not positions:
            raise ValueError("no channel to stream")
        # The driver forwards the enabled channels in position order.
        positions.sort()
        return Stream(self, [self.channel(p) for p in positions], self._listed_period(period), raw=raw,
                      silence=silence, block_seconds=block_seconds)

    def record(self, seconds: float, channels: Optional[Sequence[ChannelSpec]] = None, period: PeriodSpec = None,
               *, silence: Optional[float] = None, stop: Optional[threading.Event] = None,
               block_seconds: float = RECORD_BLOCK_SECONDS) -> "Recording":
        """Records for ``seconds`` and returns a :class:`vorn.Recording`,
        reading the ring every ``block_seconds``.

        Ctrl-C (or ``stop`` being set) ends the recording early; the recording
        so far is returned with ``interrupted`` set. A device that fails or
        falls silent raises DeviceError whose ``recording`` holds what was
        recorded up to then.
        """
        from .recording import Recording

        rec = None
        try:
            with self.stream(channels, period, raw=True, silence=silence, block_seconds=block_seconds) as s:
                rec = Recording._begin(self, s)
                end = rec.start_host_time + seconds
                while time.monotonic() < end and not (stop is not None and stop.is_set()):
                    block = s.read(timeout=max(0.0, min(end - time.monotonic(), block_seconds)))
                    if block is not None:
                        rec._add(block)
                s.stop()
        except KeyboardInterrupt:
            if rec is None:
                raise
            rec.interrupted = True
        except DeviceError as e:
            if rec is not None:
                # The lines read at the stop belong to the recording too.
                rec._add(s.rest)
                e.recording = rec._finish(s)
            raise
        rec._add(s.rest)
        return rec._finish(s)


def missing_estimate(seconds: float, period: float, received: int) -> int:
    """Sample sets the period and the host clock expected that never arrived.
    The first line comes a period after the start and a port delivers in
    chunks: a few percent and a few lines are latency, not loss."""
    if period <= 0 or seconds <= 0:
        return 0
    expected = seconds / period
    deficit = expected - received - (5.0 + 0.02 * expected)
    return int(math.ceil(deficit)) if deficit > 0 else 0


class Stream:
    """The stream of one device; made by :meth:`Device.stream`.

    ``lines`` counts the lines read, ``malformed`` those that were not "@ "
    and one integer per channel, ``missing`` estimates lines lost (a full
    receive ring drops whole lines, which only the clock can tell).
    """

    def __init__(self, device: Device, channels: List[Channel], listed_period: int, *, raw: bool,
                 silence: Optional[float], block_seconds: float) -> None:
        self.device = device
        self.channels = channels
        self.listed_period_us = listed_period
        self.period = nominal_period_us(listed_period) / 1e6  #: seconds
        self.silence = silence if silence is not None else max(3.0, 10 * self.period)
        self.raw = raw
        self.block_seconds = block_seconds
        self.lines = 0  #: lines read, damaged ones included
        self.malformed = 0  #: lines that were not "@ " and one integer per channel
        self.started = False
        self._parser = LineParser(len(channels))
        self._buffer = ctypes.create_string_buffer(65536)
        self._last_line = 0.0
        self._next_read = 0.0
        self._stopped = False
        self._stop_time: Optional[float] = None
        self.rest: Optional[Block] = None  #: the lines read at the stop
        self._lo = np.array([c.minimum if c.scaled else 0.0 for c in channels])
        self._span = np.array([(c.maximum - c.minimum) if c.scaled else SCALED_MAXIMUM for c in channels])

    @property
    def missing(self) -> int:
        if not self.started:
            return 0
        end = self._stop_time if self._stop_time is not None else time.monotonic()
        return missing_estimate(end - self.start_host_time, self.period, self.lines)

    def __enter__(self) -> "Stream":
        dev = self.device
        if dev._streaming:
            raise DeviceError(f"device {dev.serial} is already streaming")
        wanted = {c.position for c in self.channels}
        for c in dev.channels:
            code = L.CMD_ENABLE_CHANNEL if c.position in wanted else L.CMD_DISABLE_CHANNEL
            if not dev._command(code, c.position).ok:
                raise DeviceError(f"cannot {'enable' if c.position in wanted else 'disable'} channel "
                                  f"{c.name}: {dev._message()}")
        if not dev._command(L.CMD_SELECT_PERIOD, self.listed_period_us).ok:
            raise DeviceError("cannot select the period: " + dev._message())
        dev._streaming = True
        try:
            if not dev._command(L.CMD_START).ok:
                raise DeviceError("the device did not start streaming: " + dev._message())
        except BaseException:
            # Ctrl-C while the device is asked to start may leave it streaming.
            dev._streaming = False
            try:
                dev._command(L.CMD_STOP)
            except DeviceClosed:
                pass
            raise
        self.started = True
        self.start_host_time = time.monotonic()
        self._last_line = self.start_host_time
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        try:
            self.stop()
        except DeviceError:
            # An error already on its way out says more than the failed stop.
            if exc_type is None:
                raise

    def stop(self) -> Optional[Block]:
        """Stops the stream (command 38) and returns the lines decoded before
        the stop, if any. Raises DeviceError when the device does not
        acknowledge the stop."""
        if self._stopped or not self.started:
            return None
        self._stopped = True
        self._stop_time = time.monotonic()
        dev = self.device
        dev._streaming = False
        try:
            failed = dev._call("IsFailed") == 1
        except DeviceClosed:
            return None
        stopped = not failed and dev._command(L.CMD_STOP).ok
        rest = self.rest = self._take(eager=True)
        if failed:
            raise DeviceError("the device failed while streaming: " + dev._message())
        if not stopped:
            raise DeviceError("the device did not acknowledge the stop: " + dev._message())
        return rest

    def __iter__(self) -> Iterator[Block]:
        while True:
            block = self.read()
            if block is not None:
                yield block

    def read(self, timeout: Optional[float] = None) -> Optional[Block]:
        """The next block of at least one line, waiting up to ``timeout``
        seconds (None: until the silence). None when the time-out passed first."""
        if self._stopped or not self.started:
            raise DeviceError("the stream is not running")
        start = time.monotonic()
        deadline = None if timeout is None else start + timeout
        dev = self.device
        while True:
            now = time.monotonic()
            pause = self._next_read - now
            if pause > 0:
                # Lines gather in the ring meanwhile; one read then takes them all.
                if deadline is not None and now + pause > deadline:
                    time.sleep(max(0.0, deadline - now))
                    return None
                time.sleep(pause)
            block = self._take(eager=False)
            now = time.monotonic()
            if block is not None:
                return block
            # A failed session delivers nothing more, so asking while data flows is not needed.
            if dev._call("IsFailed") == 1:
                raise DeviceError("the device failed while streaming: " + dev._message())
            if now - self._last_line > self.silence:
                raise DeviceSilent(f"no data from device {dev.serial} for {now - self._last_line:.1f} s "
                                   f"(the stated silence is {self.silence:g} s)")
            if deadline is not None and now >= deadline:
                return None

    def _take(self, eager: bool) -> Optional[Block]:
        """Reads what the ring holds (waiting briefly for a first byte unless
        eager) and parses the complete lines."""
        dev = self.device
        buf = self._buffer
        chunks = []
        waiting = dev._call("ReadBuffSize")
        if waiting <= 0 and not eager:
            if dev._call("ReadBuffer", buf, 1, _WAIT_MS) == 1:
                chunks.append(ctypes.string_at(buf, 1))
                waiting = dev._call("ReadBuffSize")
        # A ReadBuffer of no more than is waiting delivers exactly that much:
        # the host is the ring's only reader.
        for _ in range(4):
            if waiting <= 0:
                break
            count = min(waiting, len(buf))
            if dev._call("ReadBuffer", buf, count, 0) != 1:
                break
            chunks.append(ctypes.string_at(buf, count))
            waiting = dev._call("ReadBuffSize") if count == len(buf) else 0
        if not chunks:
            return None
        data = chunks[0] if len(chunks) == 1 else b"".join(chunks)
        arrival = time.monotonic()
        self._next_read = arrival + (0 if len(data) >= _EAGER_BYTES else self.block_seconds)
        values, valid = self._parser.feed(data)
        n = len(valid)
        if n == 0:
            return None
        self._last_line = arrival
        index = np.arange(self.lines, self.lines + n, dtype=np.int64)
        self.lines += n
        bad = n - int(np.count_nonzero(valid))
        self.malformed += bad
        physical = self._lo + values / SCALED_MAXIMUM * self._span
        if bad:
            physical[~valid] = np.nan
        return Block(index=index, times=index * self.period, host_times=np.full(n, arrival), data=physical,
                     raw=values.astype(np.int32) if self.raw else None, valid=valid)


# --- the process's devices -----------------------------------------------------

_found: Optional[List[Device]] = None


def devices(*, refresh: bool = False, require: bool = True) -> List[Device]:
    """Finds every Vorn device (FindDevice until none is left), initialises
    each and returns them in index order.

    The devices are found once per library session; ``refresh`` closes the
    session (:func:`close_all`) and searches again. With ``require`` (the
    default) finding none raises DeviceNotFound with the driver's message.
    A device that cannot be initialised raises InitialiseError with the
    driver's message (wrong firmware, not responding).
    """
    global _found
    lib = L.library()
    if refresh:
        close_all()
    if _found is not None and _found and _found[0]._generation == lib.generation:
        return list(_found)
    lib.lock.acquire_exclusive()
    try:
        indexes = []
        # Bounded, so a driver that never says "no more" cannot hang the caller.
        for _ in range(256):
            out = ctypes.c_int32(-1)
            if lib.FindDevice(ctypes.byref(out)) != 1:
                break
            indexes.append(out.value)
    finally:
        lib.lock.release_exclusive()
    if not indexes:
        if require:
            raise DeviceNotFound(lib.general_message())
        return []
    found = []
    for index in indexes:
        dev = Device(lib, index)
        try:
            dev._describe()
        except InitialiseError as e:
            e.args = (f"device {index}: {e.args[0]}",)
            raise
        found.append(dev)
    _found = found
    return list(found)


def close_all() -> None:
    """Closes every device (CloseAll): streams end, ports close. Device objects
    from before raise DeviceClosed afterwards."""
    global _found
    lib = L.loaded()
    if lib is None:
        return
    lib.lock.acquire_exclusive()
    try:
        lib.CloseAll()
        lib.generation += 1
        _found = None
    finally:
        lib.lock.release_exclusive()


# A process that ends with devices open leaves their threads to the C runtime's
# exit; closing them first is what every host does.
atexit.register(close_all)
