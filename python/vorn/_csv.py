"""CSV as vornctl writes it: comment lines ("# key: value") saying what was
recorded when, the column header, then per sample set "time [s]" (sample
index x period, exact), "host time [s]" (the host's clock at arrival, in
seconds from the first line) and per channel "NAME raw" and "NAME [UNIT]";
a damaged line keeps its row and times with empty values. A gap has no
rows: a "# GAP:" comment line stands where it is, and the sample time jumps
by its length. pandas reads it with comment="#"."""
from __future__ import annotations

import datetime
import math
from typing import TYPE_CHECKING, List

from ._output import OutputFile
from .channel import SCALED_MAXIMUM, Channel
from .gaps import Gap

if TYPE_CHECKING:  # pragma: no cover
    from .recording import Recording


def csv_field(text: str) -> str:
    edge = bool(text) and (text[0] == " " or text[-1] == " ")
    if not any(ch in text for ch in ',"\r\n') and not edge:
        return text
    return '"' + text.replace('"', '""') + '"'


def sample_time(index: int, period_us: int) -> str:
    """index x period in seconds, exactly, without trailing zeros."""
    us = index * period_us
    whole, fraction = divmod(us, 1000000)
    if fraction == 0:
        return str(whole)
    return f"{whole}.{fraction:06d}".rstrip("0")


def physical_decimals(c: Channel) -> int:
    """Decimal places that still show one scaled step of the channel's range."""
    if not c.scaled:
        return 0
    step = abs(c.maximum - c.minimum) / SCALED_MAXIMUM
    if not step > 0 or not math.isfinite(step):
        return 0
    return max(0, min(9, int(math.ceil(-math.log10(step))) + 1))


def fixed_text(v: float, decimals: int) -> str:
    text = "%.*f" % (decimals, v)
    # Never "-0.000": it would show a sign that is not in the data.
    if text.startswith("-") and not text[1:].strip("0."):
        return text[1:]
    return text


COMMENT = "# "


def comment_lines(rec: "Recording") -> str:
    from . import __version__

    start = rec.start_time.astimezone(datetime.timezone.utc)
    items = [("vorn", f"{__version__} (python)"),
             ("start", start.strftime("%Y-%m-%dT%H:%M:%S.") + f"{start.microsecond // 1000:03d}Z"),
             ("monotonic start [s]", "-" if rec.monotonic_start is None else "%.6f" % rec.monotonic_start),
             ("serial", rec.serial),
             ("unique id", "-" if rec.unique_id is None else f"0x{rec.unique_id & 0xFFFFFFFF:08X}"),
             ("product", rec.product), ("version", rec.version),
             ("period [us]", str(round(rec.period * 1e6)))]
    # A line end inside a value would end the comment.
    return "".join(f"{COMMENT}{k}: {v.replace(chr(10), ' ').replace(chr(13), ' ')}\n" for k, v in items)


def header_line(channels: List[Channel]) -> str:
    cols = ["time [s]", "host time [s]"]
    for c in channels:
        physical = f"{c.name} [{c.unit}]" if c.unit else c.name
        cols += [csv_field(c.name + " raw"), csv_field(physical)]
    return ",".join(cols) + "\n"


def gap_line(gap: Gap, period_us: int) -> str:
    return (f"{COMMENT}GAP: start {sample_time(gap.index, period_us)} s, "
            f"duration {sample_time(gap.sets, period_us)} s, sets {gap.sets}, reason {gap.reason}\n")


def write_csv(rec: "Recording", path, overwrite: bool = False) -> None:
    period_us = round(rec.period * 1e6)
    decimals = [physical_decimals(c) for c in rec.channels]
    index = rec._row_index()
    gaps = sorted(rec.gaps, key=lambda g: g.index)
    empty = ",," * len(rec.channels)
    host = rec.host_times
    with OutputFile(path, overwrite) as out:
        rows = [comment_lines(rec), header_line(rec.channels)]
        g = 0
        for n in range(len(rec)):
            while g < len(gaps) and gaps[g].index <= index[n]:
                rows.append(gap_line(gaps[g], period_us))
                g += 1
            row = sample_time(int(index[n]), period_us) + ",%.6f" % host[n]
            if rec.valid[n]:
                for i, c in enumerate(rec.channels):
                    v = int(rec.raw[n, i])
                    physical = c.minimum + v / SCALED_MAXIMUM * (c.maximum - c.minimum) if c.scaled else float(v)
                    row += f",{v},{fixed_text(physical, decimals[i])}"
            else:
                row += empty
            rows.append(row + "\n")
            # Whole rows at a time.
            if len(rows) >= 4096:
                out.write("".join(rows).encode("utf-8"))
                rows.clear()
        rows += [gap_line(gap, period_us) for gap in gaps[g:]]
        out.write("".join(rows).encode("utf-8"))
        out.commit()
