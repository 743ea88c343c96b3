"""EDF+ through EDFlib itself (the system's libedf, loaded with ctypes), laid
out as vornctl writes it: one signal per channel with the device's label,
unit (micro, degree and ohm signs spelt out: "uV", "degC") and physical
range, digital range 0..32767, data records of about a second; the device
and versions annotated at the start; damaged lines repeat the previous
values and are annotated; a gap is filled with the last values before it
and annotated "BAD_gap REASON" with its duration, so the time axis stays
true (the file stays continuous EDF+C); the last record is filled up with
the final values and the true end is annotated, the padding marked "BAD_padding"."""
from __future__ import annotations

import ctypes
import ctypes.util
import math
import os
from typing import TYPE_CHECKING, Tuple

import numpy as np

from ._output import OutputFile
from ._units import ascii_unit
from .errors import OutputError, VornError
from .gaps import source_rows

if TYPE_CHECKING:  # pragma: no cover
    from .recording import Recording

_FILETYPE_EDFPLUS = 1
_MAXSIGNALS = 640
_DIGITAL = (0, 32767)
# EDF+ holds 16-bit digital values; a channel the driver forwards unscaled can only be stored within them.
_UNSCALED = (-32768, 32767)

_lib = None


def _edflib() -> ctypes.CDLL:
    global _lib
    if _lib is not None:
        return _lib
    names = ["libedf.so.1", ctypes.util.find_library("edf"), "libedf.so"]
    for name in names:
        if not name:
            continue
        try:
            lib = ctypes.CDLL(name, use_errno=True)
            break
        except OSError:
            continue
    else:
        raise VornError("to_edf() needs EDFlib, which is not installed; install it with 'apt install libedf1'")
    i, d, s, ll = ctypes.c_int, ctypes.c_double, ctypes.c_char_p, ctypes.c_longlong
    for name, args in {
        "edfopen_file_writeonly": [s, i, i], "edfclose_file": [i],
        "edf_set_samplefrequency": [i, i, i], "edf_set_physical_maximum": [i, i, d],
        "edf_set_physical_minimum": [i, i, d], "edf_set_digital_maximum": [i, i, i],
        "edf_set_digital_minimum": [i, i, i], "edf_set_label": [i, i, s],
        "edf_set_physical_dimension": [i, i, s], "edf_set_startdatetime": [i, i, i, i, i, i, i],
        "edf_set_equipment": [i, s], "edf_set_recording_additional": [i, s],
        "edf_blockwrite_digital_samples": [i, ctypes.POINTER(ctypes.c_int)],
        "edfwrite_annotation_utf8": [i, ll, ll, s], "edf_set_datarecord_duration": [i, i],
        "edf_set_micro_datarecord_duration": [i, i], "edf_set_number_of_annotation_signals": [i, i],
        "edf_set_subsecond_starttime": [i, i], "edf_set_technician": [i, s],
    }.items():
        fn = getattr(lib, name)
        fn.argtypes = args
        fn.restype = i
    _lib = lib
    return lib


def record_layout(period_us: int) -> Tuple[int, int]:
    """(sample sets per data record, record duration in us): about a second,
    at least 1 ms, at most 60 s, a whole number of 10 us."""
    if period_us <= 0 or period_us > 60000000:
        raise VornError(f"EDF+ cannot hold a sample period of {period_us} us")
    n = max(1, 1000000 // period_us)
    while n * period_us < 1000:
        n += 1
    step = 10 // math.gcd(period_us, 10)
    n = (n + step - 1) // step * step
    if n * period_us > 60000000:
        n -= step
    if n <= 0 or (n * period_us) % 10:
        raise VornError(f"EDF+ cannot hold a sample period of {period_us} us")
    return n, n * period_us


def edf_text(text: str, width: int) -> bytes:
    """EDF header text: printable ASCII only, at most width characters."""
    raw = ascii_unit(text).encode("utf-8")
    out = bytes(b if 0x20 <= b < 0x7F else 0x5F for b in raw)
    return out[:width]


def _reason() -> str:
    code = ctypes.get_errno()
    return f": {os.strerror(code)}" if code else ""


def write_edf(rec: "Recording", path, overwrite: bool = False) -> None:
    lib = _edflib()
    period_us = round(rec.period * 1e6)
    per_record, record_us = record_layout(period_us)
    signals = len(rec.channels)
    if not 1 <= signals <= _MAXSIGNALS:
        raise VornError(f"EDF+ holds 1 to {_MAXSIGNALS} signals, not {signals}")
    n = len(rec)
    if n == 0:
        # An EDF+ file without a data record is one that readers refuse.
        raise VornError(f"not writing {path}: the recording holds no sample sets, and an EDF+ file needs at least one")
    index = rec._row_index()
    total = rec._span()
    with OutputFile(path, overwrite) as out:
        out.close_fd()
        _write(lib, rec, out.temp, out.path, index, total, per_record, record_us, period_us)
        out.commit()


def _write(lib, rec: "Recording", temp: str, path: str, index: np.ndarray, total: int, per_record: int,
           record_us: int, period_us: int) -> None:
    signals = len(rec.channels)
    ctypes.set_errno(0)
    handle = lib.edfopen_file_writeonly(temp.encode(), _FILETYPE_EDFPLUS, signals)
    if handle < 0:
        raise OutputError(f"cannot create the EDF+ file {path} (EDFlib error {handle}{_reason()})")
    try:
        ok = (lib.edf_set_micro_datarecord_duration(handle, record_us) == 0 if record_us < 10000
              else lib.edf_set_datarecord_duration(handle, record_us // 10) == 0)
        ranges = []
        for s, c in enumerate(rec.channels):
            if c.scaled:
                lo, hi = c.minimum, c.maximum
                dlo, dhi = _DIGITAL
                if not hi != lo:
                    # A channel without a span reads as its minimum; EDF+ needs a span.
                    hi = lo + 1
            else:
                lo, hi = _UNSCALED
                dlo, dhi = _UNSCALED
            ranges.append((dlo, dhi))
            ok = ok and (lib.edf_set_samplefrequency(handle, s, per_record) == 0
                         and lib.edf_set_physical_minimum(handle, s, lo) == 0
                         and lib.edf_set_physical_maximum(handle, s, hi) == 0
                         and lib.edf_set_digital_minimum(handle, s, dlo) == 0
                         and lib.edf_set_digital_maximum(handle, s, dhi) == 0
                         and lib.edf_set_label(handle, s, edf_text(c.name, 16)) == 0
                         and lib.edf_set_physical_dimension(handle, s, edf_text(c.unit, 8)) == 0)
        from . import __version__

        records = -(-total // per_record)
        damaged_records = len(np.unique(index[~rec.valid] // per_record))
        # EDFlib puts as many annotations into each data record as there are
        # annotation signals: room for the start's two, the closing ones, the gaps and the damaged lines.
        notes = 5 + len(rec.gaps) + damaged_records
        t = rec.start_time
        ok = ok and (lib.edf_set_startdatetime(handle, t.year, t.month, t.day, t.hour, t.minute, t.second) == 0
                     and lib.edf_set_subsecond_starttime(handle, t.microsecond // 1000 * 10000) == 0
                     and lib.edf_set_equipment(handle, edf_text(f"{rec.product} {rec.serial}", 80)) == 0
                     and lib.edf_set_technician(handle, edf_text(f"vorn {__version__} (python)", 80)) == 0
                     and lib.edf_set_number_of_annotation_signals(
                         handle, min(64, max(6, -(-notes // records) + 1))) == 0)
        if not ok:
            raise VornError(f"EDFlib refused the header of {path}")

        def annotate(sample: int, text: str, sets: int = -1) -> None:
            # EDFlib keeps at most 40 bytes of an annotation; longer texts are cut.
            duration = sets * period_us // 100 if sets >= 0 else -1
            lib.edfwrite_annotation_utf8(handle, sample * period_us // 100, duration, text.encode()[:40])

        uid = "-" if rec.unique_id is None else f"0x{rec.unique_id & 0xFFFFFFFF:08X}"
        annotate(0, f"Device {rec.serial} uid {uid}")
        annotate(0, f"Firmware {rec.version}, vorn {__version__}")
        for gap in rec.gaps:
            annotate(gap.index, gap.annotation(), min(gap.sets, total - gap.index))

        # Damaged rows repeat the previous values (0 before the first good one), and so do gaps.
        n = len(rec)
        good = np.maximum.accumulate(np.where(rec.valid, np.arange(n), -1))
        rows = np.where((good >= 0)[:, None], rec.raw[np.maximum(good, 0)], 0).astype(np.int64)
        source = source_rows(index, total)
        digital = rows[np.maximum(source, 0)]
        damaged = np.zeros(total, bool)
        damaged[index[~rec.valid]] = True
        lows = np.array([r[0] for r in ranges])
        highs = np.array([r[1] for r in ranges])
        clamped = int(((rows < lows) | (rows > highs))[rec.valid].sum())
        digital = np.clip(digital, lows, highs)
        # Both at the true end of the data, before any padding.
        if rec.interrupted:
            annotate(total, "Stopped by the user")
        written = 0
        while written + per_record <= total:
            _write_record(lib, handle, path, digital[written:written + per_record],
                          damaged[written:written + per_record], annotate, written)
            written += per_record
        if written < total:
            padding = per_record - (total - written)
            chunk = np.vstack([digital[written:], np.tile(digital[-1], (padding, 1))])
            _write_record(lib, handle, path, chunk, damaged[written:], annotate, written)
            annotate(total, f"Recording ends, {padding} samples padded")
            # The padding is no data either: analysis leaves it out as it does a gap.
            annotate(total, "BAD_padding", padding)
        else:
            annotate(total, "Recording ends")
        if clamped:
            import warnings

            warnings.warn(f"{path}: {clamped} value(s) outside the 16-bit EDF range were clamped")
    except BaseException:
        lib.edfclose_file(handle)
        raise
    ctypes.set_errno(0)
    if lib.edfclose_file(handle) != 0:
        raise OutputError(f"cannot finish the EDF+ file {path}{_reason()}")


def _write_record(lib, handle: int, path: str, chunk: np.ndarray, damaged: np.ndarray, annotate, first: int) -> None:
    lost = int(np.count_nonzero(damaged))
    if lost:
        # EDF+ has no gap inside a record: the previous values stand in, and the annotation says so.
        annotate(first, f"{lost} damaged line(s), values repeated")
    samples = np.ascontiguousarray(chunk.T, dtype=np.intc)  # channel-major, as EDFlib takes a data record
    ctypes.set_errno(0)
    if lib.edf_blockwrite_digital_samples(handle, samples.ctypes.data_as(ctypes.POINTER(ctypes.c_int))) != 0:
        raise OutputError(f"cannot write the EDF+ file {path}{_reason()}")
