"""The sample stream of one device: blocks of rows read from the driver's
receive ring, each row with its sample index, its host time and any gap
before it."""
from __future__ import annotations

import ctypes
import dataclasses
import math
import threading
import time
import weakref
from typing import TYPE_CHECKING, Iterator, List, Optional

import numpy as np

from . import _library as L
from ._lines import LineParser
from ._signals import held_interrupt
from .channel import SCALED_MAXIMUM, Channel
from .errors import DeviceClosed, DeviceError, DeviceSilent, VornError
from .gaps import LOST, Gap, clock_deficit, lost_threshold

if TYPE_CHECKING:  # pragma: no cover
    from .device import Device

# Short enough that Ctrl-C, the silence and a failed device are noticed promptly.
_WAIT_MS = 100
# Blocks are read at most this often while the ring holds little, so that
# many devices at a slow period cost little CPU.
DEFAULT_BLOCK_SECONDS = 0.05
# A recording needs no quick look at each block; fewer, larger reads cost less.
RECORD_BLOCK_SECONDS = 0.25
# Beyond this much waiting in the ring, read at once.
_EAGER_BYTES = 16 * 1024
# At most this much waits in the driver's receive ring; a line that does not fit is dropped whole.
RING_BYTES = 65535
# However long the block time, the next read comes before the ring is this full.
_RING_SHARE = 0.25


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


@dataclasses.dataclass
class Block:
    """Sample sets read at once from the receive ring.

    ``data`` is float64 (rows x channels) in each channel's unit, NaN in the
    rows of lines that arrived damaged; ``raw`` holds the driver's values
    (0..32767 for scaled channels), 0 in damaged rows; ``valid`` says which
    rows parsed. ``index`` is each row's sample index, counted from the
    stream's first line and jumping over the sets of a gap; ``times`` is
    index x period in seconds. ``host_times`` is the host's monotonic clock
    (time.monotonic) at each line's arrival, estimated per line from the
    read that took it. ``gaps`` lists the gaps that end inside the block.
    ``serial`` and ``channels`` say whose rows they are and what their
    columns hold.
    """

    index: np.ndarray
    times: np.ndarray
    host_times: np.ndarray
    data: np.ndarray
    raw: Optional[np.ndarray]
    valid: np.ndarray
    gaps: List[Gap] = dataclasses.field(default_factory=list)
    serial: str = ""
    channels: List[Channel] = dataclasses.field(default_factory=list)

    @property
    def malformed(self) -> int:
        return int(len(self.valid) - np.count_nonzero(self.valid))

    def __len__(self) -> int:
        return len(self.index)


def _abandoned(device: "Device") -> None:
    # Runs where the garbage collector happens to run, perhaps inside a call
    # into the library: the device is stopped from a thread of its own.
    device._abandoned = True
    try:
        threading.Thread(target=device._stop_abandoned, name="vorn-stop", daemon=True).start()
    except Exception:
        pass  # the interpreter is exiting; close_all() has stopped every device


class Stream:
    """The stream of one device; made by :meth:`Device.stream`.

    ``lines`` counts the lines read, ``malformed`` those that were not "@ "
    and one integer per channel, ``gaps`` lists the gaps found so far and
    ``missing`` the sample sets that never arrived (those of the gaps and
    any further shortfall the host clock sees).
    """

    def __init__(self, device: "Device", channels: List[Channel], listed_period: int, *, raw: bool,
                 silence: Optional[float], block_seconds: float) -> None:
        self.device = device
        self.channels = channels
        self.listed_period_us = listed_period
        self.period_us = nominal_period_us(listed_period)
        self.period = self.period_us / 1e6  #: seconds
        self.silence = silence if silence is not None else max(3.0, 10 * self.period)
        self.raw = raw
        self.block_seconds = block_seconds
        self.lines = 0  #: lines read, damaged ones included
        self.malformed = 0  #: lines that were not "@ " and one integer per channel
        self.gaps: List[Gap] = []
        self.started = False
        self.start_host_time: Optional[float] = None  #: time.monotonic() when the device was asked to start
        self.first_line_host_time: Optional[float] = None  #: time.monotonic() at the first line's arrival
        self._parser = LineParser(len(channels))
        self._buffer = ctypes.create_string_buffer(65536)
        self._next_index = 0
        self._last_host = 0.0
        self._read_floor = 0.0
        self._last_line = 0.0
        self._next_read = 0.0
        # The row from which lines may have been dropped by a full ring, until the clock has judged it.
        self._overflow_row: Optional[int] = None
        # A ring this full may have dropped the next line, whatever its length.
        self._full_mark = RING_BYTES - (3 + 12 * len(channels))
        self._line_bytes = 2.0 + 6 * len(channels)
        self._stopped = False
        self._stop_time: Optional[float] = None
        self._finalizer: Optional[weakref.finalize] = None
        self.rest: Optional[Block] = None  #: the lines read at the stop
        self._lo = np.array([c.minimum if c.scaled else 0.0 for c in channels])
        self._span = np.array([(c.maximum - c.minimum) if c.scaled else SCALED_MAXIMUM for c in channels])

    @property
    def running(self) -> bool:
        return self.started and not self._stopped

    @property
    def missing(self) -> int:
        lost = sum(g.sets for g in self.gaps)
        if self.first_line_host_time is None:
            return lost
        return lost + clock_deficit(self._last_host - self.first_line_host_time, self.period, self._next_index)

    # --- start and stop ---------------------------------------------------------

    def __enter__(self) -> "Stream":
        dev = self.device
        dev._check_open()
        if self.started:
            raise DeviceError("a stream runs once; call device.stream() for another")
        try:
            with held_interrupt(), dev._life:
                dev._claim(self)
                self._start()
        except KeyboardInterrupt:
            # Held back until the device had started: stop it again on the way out.
            if self.started:
                try:
                    self.stop()
                except VornError:
                    pass
            raise
        return self

    def _start(self) -> None:
        dev = self.device
        wanted = {c.position for c in self.channels}
        for c in dev.channels:
            code = L.CMD_ENABLE_CHANNEL if c.position in wanted else L.CMD_DISABLE_CHANNEL
            if not dev._command(code, c.position).ok:
                raise DeviceError(f"cannot {'enable' if c.position in wanted else 'disable'} channel "
                                  f"{c.name}: {dev._message()}")
        if not dev._command(L.CMD_SELECT_PERIOD, self.listed_period_us).ok:
            raise DeviceError("cannot select the period: " + dev._message())
        # No line of this stream can have arrived before it was asked for.
        self.start_host_time = self._read_floor = time.monotonic()
        if not dev._command(L.CMD_START).ok:
            # A start that was not acknowledged may still have started the device.
            try:
                dev._command(L.CMD_STOP)
            except VornError:
                pass
            raise DeviceError("the device did not start streaming: " + dev._message())
        self.started = True
        self._last_line = time.monotonic()
        self._finalizer = weakref.finalize(self, _abandoned, dev)
        self._finalizer.atexit = False

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
        dev = self.device
        with held_interrupt(), dev._life:
            self._stopped = True
            self._stop_time = time.monotonic()
            if self._finalizer is not None:
                self._finalizer.detach()
            try:
                failed = dev._call("IsFailed") == 1
                stopped = not failed and dev._command(L.CMD_STOP).ok
                rest = self.rest = self._take(eager=True)
            except DeviceClosed:
                return None
        if failed:
            raise DeviceError("the device failed while streaming: " + dev._message())
        if not stopped:
            raise DeviceError("the device did not acknowledge the stop: " + dev._message())
        return rest

    # --- reading ------------------------------------------------------------------

    def __iter__(self) -> Iterator[Block]:
        while True:
            block = self.read()
            if block is not None:
                yield block

    def read(self, timeout: Optional[float] = None) -> Optional[Block]:
        """The next block of at least one line, waiting up to ``timeout``
        seconds (None: until the silence). None when the time-out passed first."""
        if not self.running:
            raise DeviceError("the stream is not running: use it inside its with block")
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
        floor = self._read_floor
        chunks = []
        size = 0
        full_at = None
        waiting = dev._call("ReadBuffSize")
        if waiting <= 0 and not eager:
            if dev._call("ReadBuffer", buf, 1, _WAIT_MS) == 1:
                chunks.append(ctypes.string_at(buf, 1))
                size = 1
                waiting = dev._call("ReadBuffSize")
        # A ReadBuffer of no more than is waiting delivers exactly that much:
        # the host is the ring's only reader.
        drained = True
        for _ in range(8):
            if waiting <= 0:
                break
            count = min(waiting, len(buf))
            if dev._call("ReadBuffer", buf, count, 0) != 1:
                break
            chunks.append(ctypes.string_at(buf, count))
            size += count
            if waiting < self._full_mark:
                break
            # The ring was full: lines that came while it was may have been dropped after these bytes.
            if full_at is None:
                full_at = size
            waiting = dev._call("ReadBuffSize")
        else:
            drained = waiting <= 0
        if not chunks:
            return None
        data = chunks[0] if len(chunks) == 1 else b"".join(chunks)
        arrival = time.monotonic()
        self._read_floor = arrival
        values, valid = self._parser.feed(data)
        n = len(valid)
        first_row = self.lines
        # Rows before ``cut`` were in a full ring; lines may have been dropped right after them.
        cut = min(n, data.count(b"\n", 0, full_at)) if full_at is not None else None
        self._pace(len(data), n, arrival)
        if n == 0:
            if cut is not None and self._overflow_row is None:
                self._overflow_row = first_row
            return None
        self._last_line = arrival
        host = self._host_times(n, arrival, floor, cut)
        if self.first_line_host_time is None:
            self.first_line_host_time = float(host[0])
        index = np.arange(self._next_index, self._next_index + n, dtype=np.int64)
        gaps = []

        def judge(at: int, last: int) -> None:
            # The clock tells how many sets a drop before row ``at`` swallowed, from a row whose arrival it knows.
            expected = math.floor((host[last] - self.first_line_host_time) / self.period + 0.5)
            deficit = expected - int(index[last])
            if deficit > lost_threshold(self.period):
                gaps.append(Gap(int(index[at]), int(deficit), LOST))
                index[at:] += deficit

        earlier = self._overflow_row
        self._overflow_row = None
        if earlier is not None:
            # A drop before this block: judged by the last row of a ring that was read up to
            # its end, or by the last row the ring held when it was full again.
            last = cut - 1 if cut is not None else (n - 1 if drained else -1)
            if last >= 0:
                judge(0, last)
            else:
                self._overflow_row = first_row
        if cut is not None:
            if cut < n and drained:
                judge(cut, n - 1)
            else:
                self._overflow_row = first_row + cut
        self.gaps += gaps
        self._next_index = int(index[-1]) + 1
        self._last_host = float(host[-1])
        self.lines += n
        bad = n - int(np.count_nonzero(valid))
        self.malformed += bad
        physical = self._lo + values / SCALED_MAXIMUM * self._span
        if bad:
            physical[~valid] = np.nan
        return Block(index=index, times=index * self.period, host_times=host, data=physical,
                     raw=values.astype(np.int32) if self.raw else None, valid=valid, gaps=gaps,
                     serial=dev.serial, channels=self.channels)

    def _host_times(self, n: int, arrival: float, floor: float, cut: Optional[int]) -> np.ndarray:
        """Each line's arrival, estimated: a read only tells when it returned.
        The lines came at the device's pace, the last of them by the read's
        return and none before the previous read; the lines of a full ring
        filled it right after the previous read."""
        rows = np.arange(n)
        lower = max(floor, self._last_host)
        if cut is None:
            return np.maximum(arrival - (n - 1 - rows) * self.period, lower)
        before = np.minimum(lower + (rows[:cut] + 1) * self.period, arrival)
        after = np.maximum(arrival - (n - 1 - rows[cut:]) * self.period, before[-1] if cut else lower)
        return np.concatenate([before, after])

    def _pace(self, size: int, lines: int, arrival: float) -> None:
        if lines:
            self._line_bytes = size / lines
        fill = RING_BYTES / self._line_bytes * self.period
        pause = min(self.block_seconds, _RING_SHARE * fill)
        self._next_read = arrival + (0 if size >= _EAGER_BYTES else pause)
