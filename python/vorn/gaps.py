"""Gaps in a stream: sample sets that should have come and did not.

Every row carries a sample index n, counted at the device's period from the
recording's first line and including the sets a gap swallowed, so sample
time (n x period) stays true across a gap. CSV and numpy keep no rows for a
gap; EDF+ and MNE fill it with the last values before it and mark it with a
"BAD_gap REASON" annotation, which MNE leaves out of analysis.
"""
from __future__ import annotations

import dataclasses
import math

import numpy as np

#: The driver's receive ring was full and dropped whole lines.
LOST = "lost"
#: The device went away and the stream was resumed after it came back.
RECONNECT = "reconnect"
#: A publisher's messages did not arrive: its sequence number jumped (a
#: subscriber's full queue, a reconnect) or began again (the publisher restarted).
SEQUENCE = "sequence"
#: The publisher's own stream had a gap (its device reconnected, its ring
#: overflowed, or it started the device's stream afresh).
PUBLISHER = "publisher"

# A full ring is told by the clock: the sets it expected beyond those counted.
# Lines arrive in chunks and a reader wakes late, so only a deficit well above
# that bunching is a loss.
LOST_MINIMUM_SECONDS = 0.5
LOST_MINIMUM_SETS = 50


@dataclasses.dataclass(frozen=True)
class Gap:
    """``sets`` sample sets from sample index ``index`` on never arrived."""

    index: int  #: sample index of the first set that did not come
    sets: int
    reason: str  #: LOST, RECONNECT, SEQUENCE or PUBLISHER

    @property
    def end(self) -> int:
        """The sample index of the first set after the gap."""
        return self.index + self.sets

    def annotation(self) -> str:
        """The text that marks the gap in EDF+ and MNE; MNE skips "BAD_" spans."""
        return f"BAD_gap {self.reason}"


def lost_threshold(period: float) -> int:
    """Sets the clock must find missing, beyond those counted, before a full ring counts as a gap."""
    return max(int(math.ceil(LOST_MINIMUM_SECONDS / period - 1e-9)), LOST_MINIMUM_SETS)


def clock_deficit(span: float, period: float, sets: int) -> int:
    """Sets the host clock expected over ``span`` seconds from the first line
    beyond the ``sets`` accounted for; a few percent and a few sets are latency."""
    if period <= 0 or span <= 0:
        return 0
    expected = span / period + 1
    deficit = expected - sets - (5.0 + 0.02 * expected)
    return int(math.ceil(deficit)) if deficit > 0 else 0


def source_rows(index: np.ndarray, total: int) -> np.ndarray:
    """For each sample index 0..total-1 the row that holds it, or inside a gap
    the last row before it (-1 before the first row)."""
    return np.searchsorted(index, np.arange(total, dtype=np.int64), side="right") - 1
