"""Checks of what callers pass in, made before any device is touched."""
from __future__ import annotations

import math
import numbers
from typing import Union

PERIOD_FORMS = "seconds (0.002) or a text such as '2ms', '2000us' or '0.002s'"


def seconds_value(value, what: str) -> float:
    """A positive, finite number of seconds; TypeError or ValueError naming ``what`` otherwise."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number of seconds, not {type(value).__name__} {value!r}")
    seconds = float(value)
    if not math.isfinite(seconds) or seconds <= 0:
        raise ValueError(f"{what} must be a positive number of seconds, not {value!r}")
    return seconds


def sample_sets(seconds: float, period_us: int) -> int:
    """round(seconds / period), halves away from zero, as vornctl counts."""
    return int(math.floor(seconds * 1e6 / period_us + 0.5))


def parse_period(wanted: Union[float, int, str]) -> float:
    """A period in microseconds from 0.002 (seconds), "2ms", "2000us" or "0.002s"."""
    if isinstance(wanted, bool):
        raise TypeError(f"a period is {PERIOD_FORMS}, not {wanted!r}")
    if isinstance(wanted, numbers.Real):
        value, scale = float(wanted), 1e6
    elif isinstance(wanted, str):
        text = wanted.strip()
        for suffix, scale in (("us", 1.0), ("µs", 1.0), ("ms", 1e3), ("s", 1e6)):
            if text.endswith(suffix):
                text = text[: -len(suffix)]
                break
        else:
            scale = 1e6
        try:
            value = float(text)
        except ValueError:
            raise ValueError(f"cannot read the period {wanted!r}: give {PERIOD_FORMS}") from None
    else:
        raise TypeError(f"a period is {PERIOD_FORMS}, not {type(wanted).__name__} {wanted!r}")
    if not math.isfinite(value) or value <= 0:
        raise ValueError(f"a period must be positive, not {wanted!r}")
    return value * scale
