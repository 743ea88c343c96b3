"""One remote device's rows as a subscriber keeps them: the sample index and
host time of every row, and the gaps, by the same rule as a local stream.

- The sample index counts sets from the first row received; within a run of
  the publisher it follows the messages' first sample index, so a jump in it
  is a gap of exactly that many sets: "sequence" when messages were lost on
  the way (the sequence number jumped), "publisher" when the publisher's own
  stream had the gap.
- Host times are the publisher's, moved onto this process's time.monotonic()
  at the first message of each publisher run: the differences between lines
  are the publisher's.
- A publisher that restarts (its sequence begins again, its start time
  changes) or starts the device's stream afresh (the first sample index goes
  back) leaves a gap measured on the host clock, as a local reconnect does:
  round((first line after - last line before) / period) - 1 sets.
- No gap is longer than the time this subscriber has been receiving the
  device plus a minute: a header that claims more is damaged.
"""
from __future__ import annotations

from typing import List, Optional, Tuple

import numpy as np

from ._wire import DataMessage, WireError
from .channel import SCALED_MAXIMUM
from .gaps import PUBLISHER, SEQUENCE, Gap
from .remote import RemoteDevice
from .stream import Block

# Messages may wait in queues on the way (the subscriber's high-water mark
# holds about 20 s at 50 messages a second) and clocks differ in rate.
_LATENCY_SLACK = 60.0
_RATE_SLACK = 1.1


class Timeline:
    """The rows of one device under one layout (enabled channels and period)."""

    def __init__(self, meta: RemoteDevice) -> None:
        self.meta = meta
        self.layout = meta.layout
        self.channels = list(meta.enabled)
        self.period_us = meta.period_us
        self.period = meta.period
        self.lines = 0
        self.malformed = 0
        self.gaps: List[Gap] = []
        self.first_line_host_time: Optional[float] = None
        self._next_index = 0
        self._last_host = 0.0
        self._last_seq: Optional[int] = None
        self._jumped = False
        self._expected = 0  # the publisher's first sample index of the next row
        self._base = 0  # the publisher's index minus ours, in this run
        self._offset: Optional[float] = None  # time.monotonic() minus the publisher's host seconds
        self._run: Optional[float] = None  # the publisher's start time
        self._first_arrival = 0.0
        self._lo = np.array([c.minimum if c.scaled else 0.0 for c in self.channels])
        self._span = np.array([(c.maximum - c.minimum) if c.scaled else SCALED_MAXIMUM for c in self.channels])

    def fits(self, m: DataMessage) -> bool:
        return m.values.shape[1] == len(self.channels) and m.period_us == self.period_us

    def _host_sets(self, later: float, earlier: float) -> int:
        return max(0, int(np.floor((later - earlier) / self.period + 0.5)) - 1)

    def _bound(self, arrival: float) -> int:
        """The most sets the device can have sent since our first row."""
        return int(((arrival - self._first_arrival) * _RATE_SLACK + _LATENCY_SLACK) / self.period)

    def take(self, m: DataMessage, arrival: float, run: Optional[float]) -> Optional[Block]:
        """The message's rows as a block (None for a message without rows).
        ``arrival`` is time.monotonic() at its receipt, ``run`` the
        publisher's start time from its metadata. WireError for a message
        whose header contradicts the time that passed; nothing is changed then."""
        rows = len(m.values)
        first_host, last_host = m.first_host_us / 1e6, m.last_host_us / 1e6
        if rows and last_host < first_host:
            raise WireError("damaged data message: its last line is older than its first")
        # A new publisher's sequence begins again; a description of the new run that came
        # after its first data (the sequence going on) only names it.
        restarted = self._last_seq is not None and (
            m.sequence <= self._last_seq or (run != self._run and m.sequence != self._last_seq + 1))
        if not rows:
            # Says only that messages went on; a restart shows with the next rows.
            if not restarted and self._last_seq is not None:
                self._jumped |= m.sequence != self._last_seq + 1
                self._last_seq = m.sequence
            return None
        gap, reason, offset, base = self._place(m, arrival, run, restarted, first_host, last_host)
        index = np.arange(m.first_sample - base, m.first_sample - base + rows, dtype=np.int64)
        if self.first_line_host_time is None:
            self._first_arrival = arrival
        span = last_host - first_host
        host = offset + first_host + (np.arange(rows) * (span / (rows - 1)) if rows > 1 else np.zeros(1))
        # Never backwards: a publisher restart or a late message cannot turn time back.
        host = np.maximum.accumulate(np.maximum(host, self._last_host))
        gaps = [Gap(int(index[0]) - gap, gap, reason)] if gap else []
        self.gaps += gaps
        if self.first_line_host_time is None:
            self.first_line_host_time = float(host[0])
        self._offset, self._base, self._run = offset, base, run
        self._last_seq = m.sequence
        self._jumped = False
        self._expected = m.first_sample + rows
        self._next_index = int(index[-1]) + 1
        self._last_host = float(host[-1])
        self.lines += rows
        valid = ~m.malformed
        bad = rows - int(np.count_nonzero(valid))
        self.malformed += bad
        physical = self._lo + m.values / SCALED_MAXIMUM * self._span
        if bad:
            physical[~valid] = np.nan
        return Block(index=index, times=index * self.period, host_times=host, data=physical,
                     raw=m.values.astype(np.int32), valid=valid, gaps=gaps,
                     serial=self.meta.serial, channels=self.channels)

    def _place(self, m: DataMessage, arrival: float, run: Optional[float], restarted: bool, first_host: float,
               last_host: float) -> Tuple[int, str, float, int]:
        """(gap sets, reason, host offset, index base) for the message's rows."""
        if self._offset is None or restarted:
            # The lines of a message came by its arrival: the first message of a run anchors the clock.
            offset = arrival - last_host
            if self._offset is None:
                return 0, SEQUENCE, offset, m.first_sample
            gap = min(self._host_sets(first_host + offset, self._last_host), self._bound(arrival))
            return gap, SEQUENCE, offset, m.first_sample - self._next_index - gap
        offset = self._offset
        reason = SEQUENCE if self._jumped or m.sequence != self._last_seq + 1 else PUBLISHER
        if m.first_sample >= self._expected:
            gap = m.first_sample - self._expected
            if gap and m.first_sample - self._base > self._bound(arrival):
                raise WireError(f"damaged data message: its first sample index {m.first_sample} runs ahead of "
                                f"the time that passed")
            return gap, reason, offset, self._base
        # The publisher started the device's stream afresh.
        later = min(first_host + offset, arrival)
        gap = min(self._host_sets(later, self._last_host), self._bound(arrival))
        return gap, reason, offset, m.first_sample - self._next_index - gap
