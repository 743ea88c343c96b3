"""Devices: discovery, self-description and choosing what to stream or record."""
from __future__ import annotations

import atexit
import ctypes
import os
import sys
import threading
import weakref
from typing import List, Optional, Sequence, Union

import numpy as np

from . import _library as L
from ._args import parse_period, sample_sets, seconds_value
from .channel import Channel
from .errors import DeviceClosed, DeviceError, DeviceNotFound, InitialiseError, VornError
from .recording import Recording
from .stream import DEFAULT_BLOCK_SECONDS, RECORD_BLOCK_SECONDS, Stream, nominal_period_us

# More than any device describes; a larger count is junk.
_MAX_CHANNELS = 1024

ChannelSpec = Union[int, str, Channel]
PeriodSpec = Union[None, float, int, str]


class _Cancelled(Exception):
    pass


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
        self._lock = threading.Lock()
        # Starting and stopping a stream, and stopping one that was dropped, one at a time.
        self._life = threading.RLock()
        self._active: Optional[weakref.ref] = None
        self._abandoned = False

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
                self._check_open()
                return fn(*args)
        finally:
            lib.lock.release_shared()

    def _check_open(self) -> None:
        if self._lib.generation != self._generation:
            raise DeviceClosed(f"device {self.index} ({self.serial}) was closed by close_all(); "
                               f"call vorn.devices() again")

    def _message(self) -> str:
        return self._lib.general_message()

    # --- description ------------------------------------------------------------

    def _describe(self, cancel: Optional[threading.Event] = None) -> None:
        def go_on() -> None:
            if cancel is not None and cancel.is_set():
                raise _Cancelled

        uid = ctypes.c_int32(0)
        if self._call("GetUniqueID", ctypes.byref(uid)) == 1:
            self.unique_id = uid.value & 0xFFFFFFFF
        if self._call("Initialise") != 1:
            raise InitialiseError(self._message())
        go_on()
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
            go_on()
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
        else:
            raise TypeError(f"a channel is a position, a name or a Channel, not {type(wanted).__name__} {wanted!r}")
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

    def stream(self, channels: Optional[Union[ChannelSpec, Sequence[ChannelSpec]]] = None, period: PeriodSpec = None,
               *, raw: bool = False, silence: Optional[float] = None,
               block_seconds: float = DEFAULT_BLOCK_SECONDS) -> Stream:
        """A context manager that streams the chosen channels at the chosen period.

        ``channels``: positions, names or Channel objects, or one of them
        (default all); ``period``: seconds (0.002), "2ms", "2000us", "fastest"
        (default) or "slowest". Iterating it yields :class:`Block` objects;
        ``raw`` adds the driver's values. A device that sends nothing for
        ``silence`` seconds (default the larger of 3 s and ten periods) raises
        DeviceSilent. The stream is stopped when the ``with`` block ends, also
        by an exception or Ctrl-C; a stream dropped without leaving its block
        is stopped when it is collected. Nothing reaches the device before
        the ``with`` block is entered.
        """
        if channels is None:
            chosen = self.channels
        elif isinstance(channels, (str, int, np.integer, Channel)):
            chosen = [self.channel(channels)]
        else:
            try:
                chosen = [self.channel(c) for c in channels]
            except TypeError:
                if not hasattr(channels, "__iter__"):
                    raise TypeError(f"channels are a list of positions, names or Channels, "
                                    f"not {type(channels).__name__}") from None
                raise
        positions = sorted({c.position for c in chosen})
        if not positions:
            raise ValueError("no channel to stream")
        if silence is not None:
            silence = seconds_value(silence, "silence")
        block_seconds = seconds_value(block_seconds, "block_seconds")
        # The driver forwards the enabled channels in position order.
        return Stream(self, [self.channel(p) for p in positions], self._listed_period(period), raw=bool(raw),
                      silence=silence, block_seconds=block_seconds)

    def _claim(self, stream: Stream) -> None:
        """Makes ``stream`` the device's one stream; called with ``_life`` held."""
        current = self._active() if self._active is not None else None
        if current is not None and current is not stream and current.running:
            raise DeviceError(f"device {self.index} ({self.serial}) is already streaming: leave the other "
                              f"stream's with block (or call its stop()) first")
        if self._abandoned:
            self._stop_abandoned()
        self._active = weakref.ref(stream)

    def _stop_abandoned(self) -> None:
        with self._life:
            if not self._abandoned:
                return
            self._abandoned = False
            try:
                self._command(L.CMD_STOP)
            except VornError:
                pass

    def record(self, seconds: float, channels: Optional[Union[ChannelSpec, Sequence[ChannelSpec]]] = None,
               period: PeriodSpec = None, *, silence: Optional[float] = None,
               stop: Optional[threading.Event] = None, block_seconds: float = RECORD_BLOCK_SECONDS) -> Recording:
        """Records round(seconds / period) sample sets, counted from the first
        line, and returns a :class:`vorn.Recording`, reading the ring every
        ``block_seconds``. Gaps count in that number: the recording covers
        ``seconds`` of the device's time.

        Ctrl-C (or ``stop`` being set) ends the recording early; the recording
        so far is returned with ``interrupted`` set. A device that fails or
        falls silent raises DeviceError whose ``recording`` holds what was
        recorded up to then. Every argument is checked before the device is
        touched.
        """
        seconds = seconds_value(seconds, "seconds")
        if stop is not None and not callable(getattr(stop, "is_set", None)):
            raise TypeError(f"stop is a threading.Event or None, not {type(stop).__name__}")
        s = self.stream(channels, period, raw=True, silence=silence, block_seconds=block_seconds)
        sets = sample_sets(seconds, s.period_us)
        if sets < 1:
            raise ValueError(f"{seconds:g} s is less than half the period of {s.period:g} s: "
                             f"a recording holds at least one sample set")
        rec = None
        try:
            with s:
                rec = Recording._begin(self, s, sets)
                while not rec._complete:
                    if stop is not None and stop.is_set():
                        rec.interrupted = True
                        break
                    block = s.read(timeout=s.block_seconds)
                    if block is not None:
                        rec._add(block)
                s.stop()
        except KeyboardInterrupt:
            if rec is None:
                raise
            # A Ctrl-C held back until the final stop leaves a complete recording.
            rec.interrupted = not rec._complete
        except DeviceError as e:
            if rec is not None:
                # The lines read at the stop belong to the recording too.
                rec._add(s.rest)
                e.recording = rec._finish(s.start_host_time)
            raise
        rec._add(s.rest)
        return rec._finish(s.start_host_time)


# --- the process's devices -----------------------------------------------------

_found: Optional[List[Device]] = None


class _Search:
    """The initialisation of found devices, on a thread of its own so that
    Ctrl-C need not wait for a silent device's 20 s."""

    def __init__(self, lib: L.Library, indexes: List[int]) -> None:
        self.lib = lib
        self.indexes = indexes
        self.found: List[Device] = []
        self.error: Optional[BaseException] = None
        self.done = threading.Event()
        self.cancel = threading.Event()
        self.thread = threading.Thread(target=self._run, name="vorn-initialise", daemon=True)

    def _run(self) -> None:
        try:
            for index in self.indexes:
                if self.cancel.is_set():
                    return
                dev = Device(self.lib, index)
                try:
                    dev._describe(self.cancel)
                except InitialiseError as e:
                    e.args = (f"device {index}: {e.args[0]}",)
                    raise
                self.found.append(dev)
        except _Cancelled:
            pass
        except BaseException as e:  # raised again in the caller's thread
            self.error = e
        finally:
            self.done.set()


# A search left by Ctrl-C whose thread may still be inside the driver.
_abandoned_search: Optional[_Search] = None


def devices(*, refresh: bool = False, require: bool = True) -> List[Device]:
    """Finds every Vorn device (FindDevice until none is left), initialises
    each and returns them in index order.

    The devices are found once per library session; ``refresh`` closes the
    session (:func:`close_all`) and searches again. With ``require`` (the
    default) finding none raises DeviceNotFound with the driver's message.
    A device that cannot be initialised raises InitialiseError with the
    driver's message (wrong firmware, not responding). Ctrl-C ends the wait
    at once, also for a silent device.
    """
    global _found, _abandoned_search
    lib = L.library()
    if refresh:
        close_all()
    if _found is not None and _found and _found[0]._generation == lib.generation:
        return list(_found)
    if lib.table_used:
        # An earlier search that did not finish left its devices in the table:
        # searching again would add the same ports a second time.
        close_all()
    lib.lock.acquire_exclusive()
    try:
        indexes = []
        # Bounded, so a driver that never says "no more" cannot hang the caller.
        for _ in range(256):
            out = ctypes.c_int32(-1)
            if lib.FindDevice(ctypes.byref(out)) != 1:
                break
            indexes.append(out.value)
            lib.table_used = True
    finally:
        lib.lock.release_exclusive()
    if not indexes:
        if require:
            raise DeviceNotFound(lib.general_message())
        return []
    search = _Search(lib, indexes)
    search.thread.start()
    try:
        while not search.done.wait(0.1):
            pass
    except KeyboardInterrupt:
        search.cancel.set()
        _abandoned_search = search
        raise
    if search.error is not None:
        raise search.error
    _found = search.found
    return list(search.found)


def close_all() -> None:
    """Closes every device (CloseAll): streams end, ports close. Device objects
    from before raise DeviceClosed afterwards. Waits for a call in progress
    (an initialisation left by Ctrl-C: at most about 20 s)."""
    global _found, _abandoned_search
    lib = L.loaded()
    if lib is None:
        return
    lib.lock.acquire_exclusive()
    try:
        lib.CloseAll()
        lib.generation += 1
        lib.table_used = False
        _found = None
    finally:
        lib.lock.release_exclusive()
    if _abandoned_search is not None and _abandoned_search.done.is_set():
        _abandoned_search = None


def _close_at_exit() -> None:
    # The library must not be closed, nor unloaded, under a call still in
    # progress: wait for it, or leave without closing at a second Ctrl-C.
    search = _abandoned_search
    if search is not None and not search.done.is_set():
        sys.stderr.write("vorn: waiting for the driver to finish initialising a device (at most about 20 s) "
                         "before closing it; press Ctrl-C again to quit without closing it\n")
        sys.stderr.flush()
        try:
            while not search.done.wait(0.1):
                pass
        except KeyboardInterrupt:
            sys.stdout.flush()
            sys.stderr.flush()
            os._exit(130)
    close_all()


# A process that ends with devices open leaves their threads to the C runtime's
# exit; closing them first is what every host does.
atexit.register(_close_at_exit)
