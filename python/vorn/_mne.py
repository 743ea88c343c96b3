"""A Recording as an mne.io.RawArray."""
from __future__ import annotations

import datetime
from typing import TYPE_CHECKING, Any

import numpy as np

from ._units import channel_kind
from .gaps import source_rows

if TYPE_CHECKING:  # pragma: no cover
    from .recording import Recording


def to_mne(rec: "Recording") -> Any:
    try:
        import mne
        from mne.io.constants import FIFF
    except ImportError:
        raise ImportError("to_mne() needs MNE-Python, which is not installed; install it with "
                          "'apt install python3-mne' (or 'pip install mne')") from None
    fiff_units = {"V": FIFF.FIFF_UNIT_V, "degC": FIFF.FIFF_UNIT_CEL, "Hz": FIFF.FIFF_UNIT_HZ,
                  "Ohm": FIFF.FIFF_UNIT_OHM, "Pa": FIFF.FIFF_UNIT_PA, "s": FIFF.FIFF_UNIT_SEC}
    kinds = [channel_kind(c.name, c.unit) for c in rec.channels]
    info = mne.create_info(ch_names=rec.names, sfreq=1.0 / rec.period, ch_types=[k[0] for k in kinds], verbose=False)
    for ch, (_, base, _) in zip(info["chs"], kinds):
        # create_info gives every type but temperature volts; a unit MNE has no name for is "no unit".
        ch["unit"] = fiff_units[base] if base else FIFF.FIFF_UNIT_NONE
        ch["unit_mul"] = FIFF.FIFF_UNITM_NONE
    # MNE keeps no unit text per channel; the description keeps the device's.
    units = ", ".join(f"{c.name}={c.unit or '-'}" for c in rec.channels)
    with info._unlock():
        info["description"] = f"{rec.product} {rec.serial}; units as the device gives them: {units}"
        info["device_info"] = {"type": rec.product, "model": rec.version, "serial": rec.serial}

    # Gaps hold the last values before them; damaged rows stay NaN.
    index = rec._row_index()
    total = rec._span()
    rows = source_rows(index, total)
    scales = np.array([k[2] for k in kinds])
    data = np.full((total, len(rec.channels)), np.nan)
    if len(index):
        last_good = np.maximum.accumulate(np.where(rec.valid, np.arange(len(index)), -1))
        in_gap = np.ones(total, bool)
        in_gap[index] = False
        source = np.where(in_gap, last_good[np.maximum(rows, 0)], rows)
        known = source >= 0
        data[known] = rec.data[source[known]]
    raw = mne.io.RawArray((data * scales).T, info, verbose=False)
    raw.set_meas_date(rec.start_time.astimezone(datetime.timezone.utc))
    if rec.gaps:
        raw.set_annotations(mne.Annotations(onset=[g.index * rec.period for g in rec.gaps],
                                            duration=[min(g.sets, total - g.index) * rec.period for g in rec.gaps],
                                            description=[g.annotation() for g in rec.gaps],
                                            orig_time=raw.info["meas_date"]))
    return raw
