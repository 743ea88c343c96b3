"""A finished recording and its conversions: pandas, MNE, CSV and EDF+."""
from __future__ import annotations

import dataclasses
import datetime
import time
from typing import TYPE_CHECKING, Any, List, Optional

import numpy as np

from .channel import Channel
from .gaps import Gap, clock_deficit

if TYPE_CHECKING:  # pragma: no cover
    from .device import Device
    from .stream import Block, Stream


@dataclasses.dataclass
class Recording:
    """The samples of one device's recording.

    ``data`` is float64 (rows x channels) in each channel's unit with NaN
    where a line arrived damaged; ``raw`` the driver's int32 values (0 where
    damaged); ``valid`` which rows parsed. ``index`` is each row's sample
    index, counted at the period from the first line and including the sets
    of any gap (``gaps``), so ``times`` (index x period, seconds) stays true
    across a gap. ``host_times`` is the host's monotonic clock at each line's
    arrival, in seconds from the first line's; ``monotonic_start`` is that
    first line's time.monotonic(), a clock every recording of the process
    shares.
    """

    channels: List[Channel]
    period: float  #: seconds
    serial: str = ""  #: the device's serial text: its identity
    product: str = ""
    version: str = ""
    unique_id: Optional[int] = None  #: the driver's identifier, which several devices may share
    device_index: int = -1
    #: the wall clock at the first line
    start_time: datetime.datetime = dataclasses.field(
        default_factory=lambda: datetime.datetime.now(datetime.timezone.utc))
    monotonic_start: Optional[float] = None  #: time.monotonic() at the first line; None without lines
    data: np.ndarray = None  # type: ignore[assignment]
    raw: np.ndarray = None  # type: ignore[assignment]
    valid: np.ndarray = None  # type: ignore[assignment]
    index: np.ndarray = None  # type: ignore[assignment]
    times: np.ndarray = None  # type: ignore[assignment]
    host_times: np.ndarray = None  # type: ignore[assignment]
    gaps: List[Gap] = dataclasses.field(default_factory=list)
    malformed: int = 0  #: lines that were not "@ " and one integer per channel
    missing: int = 0  #: sample sets that never arrived: those of the gaps and any shortfall the clock saw
    sets: int = 0  #: sample sets the recording covers, gaps included; len() counts its rows
    interrupted: bool = False  #: ended early by Ctrl-C or a stop request

    # --- made by Device.record -------------------------------------------------

    @classmethod
    def _begin(cls, device: "Device", stream: "Stream", limit: int) -> "Recording":
        return cls._open(limit, channels=list(stream.channels), period=stream.period, serial=device.serial,
                         product=device.product, version=device.version, unique_id=device.unique_id,
                         device_index=device.index)

    @classmethod
    def _open(cls, limit: int, **described: Any) -> "Recording":
        """A recording that takes blocks until it holds ``limit`` sample sets."""
        rec = cls(**described)
        rec._blocks: List["Block"] = []
        rec._limit = limit
        rec._complete = False
        return rec

    def _add(self, block: Optional["Block"]) -> None:
        if block is None or not len(block) or self._complete:
            return
        keep = int(np.searchsorted(block.index, self._limit))
        if keep < len(block):
            self._complete = True
            block = dataclasses.replace(block, index=block.index[:keep], times=block.times[:keep],
                                        host_times=block.host_times[:keep], data=block.data[:keep],
                                        raw=block.raw[:keep], valid=block.valid[:keep])
        self._blocks.append(block)

    def _finish(self, start_host_time: Optional[float]) -> "Recording":
        """The recording of the blocks taken; ``start_host_time`` is the
        monotonic time of the start, for the wall clock of one without lines."""
        added = getattr(self, "_blocks", [])
        blocks = [b for b in added if len(b)]
        k = len(self.channels)
        limit = getattr(self, "_limit", None)
        if blocks:
            self.data = np.concatenate([b.data for b in blocks])
            self.raw = np.concatenate([b.raw for b in blocks])
            self.valid = np.concatenate([b.valid for b in blocks])
            self.index = np.concatenate([b.index for b in blocks])
            host = np.concatenate([b.host_times for b in blocks])
            self.monotonic_start = float(host[0])
            self.host_times = host - self.monotonic_start
            # Gaps are cut where the recording ends.
            self.gaps = [g if limit is None or g.end <= limit else dataclasses.replace(g, sets=limit - g.index)
                         for b in added for g in b.gaps if limit is None or g.index < limit]
            self.sets = int(self.index[-1]) + 1
            if self._complete and limit is not None:
                self.sets = limit
        else:
            self.data = np.zeros((0, k))
            self.raw = np.zeros((0, k), np.int32)
            self.valid = np.zeros(0, bool)
            self.index = np.zeros(0, np.int64)
            self.host_times = np.zeros(0)
            self.gaps = []
            self.sets = 0
        self.times = self.index * self.period
        # The wall clock at the first line (or at the start, without one).
        origin = self.monotonic_start if self.monotonic_start is not None else start_host_time
        if origin is not None:
            self.start_time = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(
                seconds=time.monotonic() - origin)
        self.malformed = int(len(self.valid) - np.count_nonzero(self.valid))
        lost = sum(g.sets for g in self.gaps)
        span = float(self.host_times[-1]) if len(self.host_times) else 0.0
        self.missing = lost + clock_deficit(span, self.period, int(self.index[-1]) + 1 if len(self.index) else 0)
        self._blocks = []
        return self

    def __len__(self) -> int:
        return len(self.times)

    @property
    def seconds(self) -> float:
        """The time the recording covers: ``sets`` x period."""
        return self.sets * self.period

    @property
    def names(self) -> List[str]:
        return [c.name for c in self.channels]

    def __repr__(self) -> str:
        gaps = f", {len(self.gaps)} gap(s) of {sum(g.sets for g in self.gaps)} sets" if self.gaps else ""
        return (f"<vorn.Recording {self.serial} {len(self)} samples x {len(self.channels)} channels "
                f"at {self.period:g} s, {self.malformed} malformed, {self.missing} missing{gaps}>")

    # --- conversions -----------------------------------------------------------

    def to_dataframe(self, raw: bool = False, host_time: bool = False) -> Any:
        """A pandas DataFrame indexed by sample time in seconds ("time [s]"),
        one column per channel named "NAME [UNIT]" (or NAME without a unit),
        NaN where damaged; ``.plot()`` plots the signals. With ``raw`` also
        "NAME raw" columns (nullable integers, <NA> where damaged); with
        ``host_time`` the column "host time [s]" (seconds from the first
        line). ``attrs`` keeps the serial, product, period, units, gaps and
        ``monotonic_start``."""
        import pandas as pd

        columns = {}
        for i, c in enumerate(self.channels):
            if raw:
                values = pd.array(np.where(self.valid, self.raw[:, i], 0), dtype="Int32")
                values[~self.valid] = pd.NA
                columns[f"{c.name} raw"] = values
            columns[_physical_column(c)] = self.data[:, i]
        if host_time:
            columns["host time [s]"] = self.host_times
        frame = pd.DataFrame(columns, index=pd.Index(self.times, name="time [s]"))
        frame.attrs.update(serial=self.serial, product=self.product, period=self.period,
                           units={c.name: c.unit for c in self.channels}, monotonic_start=self.monotonic_start,
                           gaps=[dataclasses.asdict(g) for g in self.gaps])
        return frame

    def to_mne(self) -> Any:
        """An mne.io.RawArray: channel names as the device gives them; volts
        for voltages, degrees Celsius for temperatures, every other unit
        kept as the device's value with MNE's "no unit" (the device's unit
        texts are in ``info["description"]``); types ecg, eeg, emg, eog,
        resp, temperature, bio (SpO2) or misc from the names and units.
        Damaged samples are NaN; a gap is filled with the values before it
        and annotated "BAD_gap REASON", so MNE leaves it out of analysis."""
        from ._mne import to_mne

        return to_mne(self)

    def to_csv(self, path, overwrite: bool = False) -> None:
        """A CSV laid out as vornctl writes it: comment lines, then "time [s]",
        "host time [s]" and per channel "NAME raw" and "NAME [UNIT]"; a gap
        is a "# GAP:" comment line. An existing file is kept unless
        ``overwrite``; the file appears whole or not at all."""
        from ._csv import write_csv

        write_csv(self, path, overwrite=overwrite)

    def to_edf(self, path, overwrite: bool = False) -> None:
        """An EDF+ file through EDFlib, laid out as vornctl writes it. An
        existing file is kept unless ``overwrite``; the file appears whole or
        not at all."""
        from ._edf import write_edf

        write_edf(self, path, overwrite=overwrite)

    # --- for the writers ---------------------------------------------------------

    def _row_index(self) -> np.ndarray:
        """Each row's sample index (for a recording built by hand without one: 0, 1, 2, ...)."""
        if self.index is not None and len(self.index) == len(self):
            return np.asarray(self.index, dtype=np.int64)
        return np.arange(len(self), dtype=np.int64)

    def _span(self) -> int:
        """Sample sets from the first to the end: rows, gaps and the end of a gap at the very end."""
        index = self._row_index()
        last = int(index[-1]) + 1 if len(index) else 0
        return max([self.sets, last] + [g.end for g in self.gaps])


def _physical_column(c: Channel) -> str:
    return f"{c.name} [{c.unit}]" if c.unit else c.name
