"""CSV as vornctl writes it: "time [s]", then per channel "NAME raw" and
"NAME [UNIT]"; a damaged line keeps its row and time with empty values."""
from __future__ import annotations

import math
from typing import TYPE_CHECKING, List

from .device import SCALED_MAXIMUM, Channel, nominal_period_us

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


def header_line(channels: List[Channel]) -> str:
    cols = ["time [s]"]
    for c in channels:
        physical = f"{c.name} [{c.unit}]" if c.unit else c.name
        cols += [csv_field(c.name + " raw"), csv_field(physical)]
    return ",".join(cols) + "\n"


def write_csv(rec: "Recording", path: str) -> None:
    period_us = round(rec.period * 1e6)
    decimals = [physical_decimals(c) for c in rec.channels]
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(header_line(rec.channels))
        empty = ",," * len(rec.channels)
        rows = []
        for n in range(len(rec)):
            row = sample_time(n, period_us)
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
