"""CSV as vornctl writes it: comment lines ("# key: value") saying what was
recorded when, the column header, then per sample set "time [s]" (index x
period, exact), "host time [s]" (the host's clock at arrival, from the run's
start) and per channel "NAME raw" and "NAME [UNIT]"; a damaged line keeps its
row and times with empty values. pandas reads it with comment="#"."""
from __future__ import annotations

import datetime
import math
from typing import TYPE_CHECKING, List

from .device import SCALED_MAXIMUM, Channel

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


def write_csv(rec: "Recording", path: str) -> None:
    period_us = round(rec.period * 1e6)
    decimals = [physical_decimals(c) for c in rec.channels]
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(comment_lines(rec) + header_line(rec.channels))
        empty = ",," * len(rec.channels)
        host = rec.host_times - rec.host_origin
        rows = []
        for n in range(len(rec)):
            row = sample_time(n, period_us) + ",%.6f" % host[n]
            if not rec.valid[n]:
                rows.append(row + empty + "\n")
                continue
            for i, c in enumerate(rec.channels):
                v = int(rec.raw[n, i])
                physical = c.minimum + v / SCALED_MAXIMUM * (c.maximum - c.minimum) if c.scaled else float(v)
                row += f",{v},{fixed_text(physical, decimals[i])}"
            rows.append(row + "\n")
            if len(rows) >= 4096:
                f.write("".join(rows))
                rows.clear()
        f.write("".join(rows))
