"""The host lines the driver must deliver, built from what vorn-sim sent and
announced and not from the driver's or the package's code, so each checks the
other (the same model as the soak's line check)."""
from __future__ import annotations

import math
import re
from typing import List, Optional, Sequence

import numpy as np


def _fields(line: str) -> List[str]:
    # a,,b is three fields; a,b, is two; an empty line none.
    out = line.split(",")
    if line.endswith(","):
        out.pop()
    return [] if line == "" else out


_NUMBER = re.compile(r"\s*([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?)")
UNREADABLE = float(np.finfo(np.float32).min)


def number(text: str) -> float:
    m = _NUMBER.match(text)
    return float(np.float32(m.group(1))) if m else UNREADABLE


class Description:
    def __init__(self, describe_text: str) -> None:
        lines = [l.rstrip("\r") for l in describe_text.splitlines()]
        assert len(lines) >= 7 and lines[0].startswith("V,"), describe_text
        self.field_count = lines[1].count(",") + 1
        self.names = [n for n in _fields(lines[3]) if n != "CRC"]
        self.units = _fields(lines[4])
        self.maxima = [32767.0 if f == "na" else number(f) for f in _fields(lines[5])]
        self.minima = [-32767.0 if f == "na" else number(f) for f in _fields(lines[6])]

    @property
    def channel_names(self) -> List[str]:
        return self.names[1:]


def scale(x: float, lo: float, hi: float) -> int:
    x32, lo32, hi32 = np.float32(x), np.float32(lo), np.float32(hi)
    if x32 < lo32:
        x32 = lo32
    if x32 > hi32:
        x32 = hi32
    rng = np.float32(hi32 - lo32)
    t = np.float32((x32 - lo32) / rng) if rng != 0 else np.float32("nan")
    if rng == 0 or not math.isfinite(float(t)):
        return 0
    return int(math.floor(float(t) * 32767.0 + 0.5))


def expected_line(data_line: str, dev: Description, enabled: Sequence[int]) -> Optional[str]:
    fields = _fields(data_line)
    if len(fields) < dev.field_count:
        return None
    n = len(dev.names)
    out = "@ "
    for p in sorted(enabled):
        if not 1 <= p <= n - 1:
            continue
        field = fields[p] if p < len(fields) else ""
        if field == "*":
            out += "0,"
            continue
        out += str(scale(number(field), dev.minima[p], dev.maxima[p]))
        if p != n - 1:
            out += ","
    return out


def expected_rows(sent_log: str, dev: Description, enabled: Sequence[int]) -> np.ndarray:
    """One row of expected raw values per data line the simulator sent."""
    rows = []
    for line in open(sent_log, encoding="latin-1").read().splitlines():
        host = expected_line(line, dev, enabled)
        if host is not None:
            rows.append([int(v) for v in host[2:].split(",") if v != ""])
    return np.array(rows, dtype=np.int64).reshape(len(rows), len(enabled))


def find_run(expected: np.ndarray, delivered: np.ndarray) -> int:
    """Where delivered appears in expected as one unbroken run; -1 if nowhere."""
    n = len(delivered)
    if n == 0:
        return 0
    for start in range(0, len(expected) - n + 1):
        if np.array_equal(expected[start], delivered[0]) and np.array_equal(expected[start:start + n], delivered):
            return start
    return -1
