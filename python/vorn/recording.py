"""A finished recording and its conversions: pandas, MNE, CSV and EDF+."""
from __future__ import annotations

import dataclasses
import datetime
import re
import time
from typing import TYPE_CHECKING, Any, List, Optional

import numpy as np

from .device import Block, Channel, missing_estimate

if TYPE_CHECKING:  # pragma: no cover
    from .device import Device, Stream


@dataclasses.dataclass
class Recording:
    """The samples of one device's recording.

    ``data`` is float64 (samples x channels) in each channel's unit with NaN
    where a line arrived damaged; ``raw`` the driver's int32 values (0 where
    damaged); ``valid`` which rows parsed; ``times`` the sample index x
    period in seconds; ``host_times`` the host's monotonic clock
    (time.monotonic) when each sample's block was read, a clock shared by
    every recording of the process.
    """

    channels: List[Channel]
    period: float  #: seconds
    serial: str = ""
    product: str = ""
    version: str = ""
    unique_id: Optional[int] = None
    device_index: int = -1
    start_time: datetime.datetime = dataclasses.field(default_factory=datetime.datetime.now)
    start_host_time: float = 0.0  #: time.monotonic() when the stream started
    #: where "host time" of the CSV counts from: the stream's start, or for
    #: record_all the run's start, common to every device
    host_origin: float = 0.0
    data: np.ndarray = None  # type: ignore[assignment]
    raw: np.ndarray = None  # type: ignore[assignment]
    valid: np.ndarray = None  # type: ignore[assignment]
    times: np.ndarray = None  # type: ignore[assignment]
    host_times: np.ndarray = None  # type: ignore[assignment]
    malformed: int = 0  #: lines that were not "@ " and one integer per channel
    missing: int = 0  #: sample sets the period and the host clock expected that never arrived (an estimate)
    seconds: float = 0.0  #: from the start to the stop, by the host clock
    interrupted: bool = False  #: ended early by Ctrl-C or a stop request

    # --- made by Device.record -------------------------------------------------

    @classmethod
    def _begin(cls, device: "Device", stream: "Stream") -> "Recording":
        rec = cls(channels=list(stream.channels), period=stream.period, serial=device.serial,
                  product=device.product, version=device.version, unique_id=device.unique_id,
                  device_index=device.index, start_host_time=stream.start_host_time)
        rec.start_time = (datetime.datetime.now(datetime.timezone.utc)
                          - datetime.timedelta(seconds=time.monotonic() - rec.start_host_time)).astimezone()
        rec.host_origin = rec.start_host_time
        rec._blocks: List[Block] = []
        return rec

    def _add(self, block: Optional[Block]) -> None:
        if block is not None and len(block):
            self._blocks.append(block)

    def _finish(self, stream: "Stream") -> "Recording":
        blocks = getattr(self, "_blocks", [])
        k = len(self.channels)
        if blocks:
            self.data = np.concatenate([b.data for b in blocks])
            self.raw = np.concatenate([b.raw for b in blocks])
            self.valid = np.concatenate([b.valid for b in blocks])
            self.times = np.concatenate([b.times for b in blocks])
            self.host_times = np.concatenate([b.host_times for b in blocks])
        else:
            self.data = np.zeros((0, k))
            self.raw = np.zeros((0, k), np.int32)
            self.valid = np.zeros(0, bool)
            self.times = np.zeros(0)
            self.host_times = np.zeros(0)
        self.malformed = int(len(self.valid) - np.count_nonzero(self.valid))
        end = stream._stop_time if stream._stop_time is not None else time.monotonic()
        self.seconds = end - self.start_host_time
        self.missing = missing_estimate(self.seconds, self.period, len(self.valid))
        self._blocks = []
        return self

    def __len__(self) -> int:
        return len(self.times)

    @property
    def names(self) -> List[str]:
        return [c.name for c in self.channels]

    def __repr__(self) -> str:
        return (f"<vorn.Recording {self.serial} {len(self)} samples x {len(self.channels)} channels "
                f"at {self.period:g} s, {self.malformed} malformed, {self.missing} missing>")

    # --- conversions -----------------------------------------------------------

    def to_dataframe(self, raw: bool = False) -> Any:
        """A pandas DataFrame indexed by time in seconds, one column per channel
        named "NAME [UNIT]" (or NAME without a unit), NaN where damaged. With
        ``raw`` also "NAME raw" columns (nullable integers, <NA> where damaged).
        The host clock is the column "host time [s]"."""
        import pandas as pd

        columns = {}
        for i, c in enumerate(self.channels):
            if raw:
                columns[f"{c.name} raw"] = pd.array(np.where(self.valid, self.raw[:, i], 0), dtype="Int32")
                columns[f"{c.name} raw"][~self.valid] = pd.NA
            columns[_physical_column(c)] = self.data[:, i]
        columns["host time [s]"] = self.host_times
        frame = pd.DataFrame(columns, index=pd.Index(self.times, name="time [s]"))
        frame.attrs.update(serial=self.serial, product=self.product, period=self.period,
                           units={c.name: c.unit for c in self.channels})
        return frame

    def to_mne(self) -> Any:
        """An mne.io.RawArray: channel names as the device gives them, values
        in the units MNE expects (volts for ECG, degrees Celsius for
        temperature), types ecg, resp, temperature, bio (SpO2) or misc from
        the names and units. Damaged samples are NaN."""
        try:
            import mne
        except ImportError:
            raise ImportError("to_mne() needs MNE-Python, which is not installed; install it with "
                              "'apt install python3-mne' (or 'pip install mne')") from None
        types, scales = zip(*(_mne_kind(c) for c in self.channels)) if self.channels else ((), ())
        info = mne.create_info(ch_names=self.names, sfreq=1.0 / self.period, ch_types=list(types), verbose=False)
        data = (self.data * np.array(scales)).T
        raw = mne.io.RawArray(data, info, verbose=False)
        raw.set_meas_date(self.start_time.astimezone(datetime.timezone.utc))
        return raw

    def to_csv(self, path: str) -> None:
        """A CSV laid out as vornctl writes it: comment lines, then "time [s]",
        "host time [s]" and per channel "NAME raw" and "NAME [UNIT]"."""
        from ._csv import write_csv

        write_csv(self, path)

    def to_edf(self, path: str) -> None:
        """An EDF+ file through EDFlib, laid out as vornctl writes it."""
        from ._edf import write_edf

        write_edf(self, path)


def _physical_column(c: Channel) -> str:
    return f"{c.name} [{c.unit}]" if c.unit else c.name


_VOLTS = {"v": 1.0, "mv": 1e-3, "uv": 1e-6, "µv": 1e-6, "μv": 1e-6, "nv": 1e-9}


def _mne_kind(c: Channel) -> tuple:
    """(MNE channel type, factor from the device's unit to MNE's)."""
    name = c.name.lower()
    unit = c.unit.strip().lower()
    if re.search(r"\b(ecg|ekg)", name) and unit in _VOLTS:
        return "ecg", _VOLTS[unit]
    if re.search(r"resp|breath|airflow", name):
        return "resp", 1.0
    if re.search(r"spo2|sao2|oxygen sat", name):
        return "bio", 1.0
    if re.search(r"temp", name) or unit in ("degc", "°c", "celsius", "c"):
        return "temperature", 1.0
    return "misc", 1.0
