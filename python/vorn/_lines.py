"""Host lines ("@ " and one integer per enabled channel, comma-separated, a
line feed) turned into numpy rows, a whole block at a time."""
from __future__ import annotations

import re
from typing import Tuple

import numpy as np

# A line longer than this is not a host line: the device's lines are short.
LINE_LIMIT = 4096


def line_pattern(channels: int) -> "re.Pattern[bytes]":
    """The grammar of one host line for `channels` enabled channels. The driver
    ends the line with a comma when the last position is not enabled or its
    value was missing ("*", delivered as "0,")."""
    if channels <= 0:
        return re.compile(rb"@ \Z")
    value = rb"-?[0-9]{1,18}"
    return re.compile(rb"@ (" + value + rb"(?:," + value + rb"){%d}),?\Z" % (channels - 1))


class LineParser:
    """Splits the bytes read from the receive ring into lines and parses them.

    A line that does not fit the grammar is kept as a row (so the time of the
    samples after it stays right) but marked invalid; it is never turned into
    numbers.
    """

    def __init__(self, channels: int) -> None:
        self.channels = channels
        self._pattern = line_pattern(channels)
        self._pending = b""
        self._discarding = False

    def feed(self, data: bytes) -> Tuple[np.ndarray, np.ndarray]:
        """Returns (values, valid) for the complete lines in data and what was
        held back: values int64 (lines x channels, 0 in invalid rows), valid bool."""
        buf = self._pending + data if self._pending else data
        cut = buf.rfind(b"\n")
        if cut < 0:
            self._pending = buf
            if len(buf) > LINE_LIMIT:
                # An endless line counts once, and its rest up to the next line feed goes.
                self._pending = b""
                if not self._discarding:
                    self._discarding = True
                    return np.zeros((1, self.channels), np.int64), np.zeros(1, bool)
            return np.zeros((0, self.channels), np.int64), np.zeros(0, bool)
        self._pending = buf[cut + 1:]
        lines = buf[:cut].split(b"\n")
        if self._discarding:
            self._discarding = False
            lines = lines[1:]
        block = buf[:cut + 1]
        fast = self._all_valid(block, len(lines))
        if fast is not None:
            return fast, np.ones(len(lines), bool)
        match = self._pattern.match
        found = [match(line) for line in lines]
        valid = np.fromiter((m is not None for m in found), bool, len(found))
        values = np.zeros((len(found), self.channels), np.int64)
        good = int(valid.sum())
        if good and self.channels:
            text = b",".join([m.group(1) for m in found if m is not None])
            values[valid] = np.array(text.split(b","), dtype=np.int64).reshape(good, self.channels)
            # The driver writes 32-bit values; more digits are damage.
            wide = ((values > 2**31 - 1) | (values < -2**31)).any(axis=1)
            if wide.any():
                valid &= ~wide
                values[wide] = 0
        return values, valid

    def _all_valid(self, block: bytes, count: int) -> "np.ndarray | None":
        """The values of a block of complete lines when every line fits the
        grammar, checked byte-wise with numpy; None when any does not."""
        k = self.channels
        a = np.frombuffer(block, np.uint8)
        ends = np.flatnonzero(a == 10)
        if len(ends) != count:
            return None
        starts = np.empty_like(ends)
        starts[0] = 0
        starts[1:] = ends[:-1] + 1
        if ((ends - starts) < 3).any() or not ((a[starts] == 64).all() and (a[starts + 1] == 32).all()):
            return None
        digit = (a >= 48) & (a <= 57)
        comma = a == 44
        minus = a == 45
        allowed = digit | comma | minus
        allowed[ends] = True
        allowed[starts] = True
        allowed[starts + 1] = True
        if not allowed.all():
            return None
        follows = np.empty_like(a)
        follows[:-1] = a[1:]
        follows[-1] = 10
        after_digit = (follows >= 48) & (follows <= 57)
        # A value begins after "@ " and after each comma but a trailing one; a minus only begins one.
        if not (after_digit | (follows == 45))[starts + 1].all():
            return None
        if not (after_digit | (follows == 45) | (follows == 10))[comma].all():
            return None
        if not after_digit[minus].all() or np.count_nonzero(minus[starts + 2]) + np.count_nonzero(minus[1:] & comma[:-1]) != np.count_nonzero(minus):
            return None
        per_line = np.add.reduceat(comma.view(np.uint8), starts, dtype=np.int32) - comma[ends - 1]
        if (per_line != k - 1).any():
            return None
        text = block.replace(b"@ ", b"").replace(b",\n", b"\n").replace(b"\n", b",")
        values = np.fromstring(text[:-1], dtype=np.int64, sep=",")
        # The driver writes 32-bit values; a longer run of digits saturates here.
        if values.size != count * k or values.max() > 2**31 - 1 or values.min() < -2**31:
            return None
        return values.reshape(count, k)

    @property
    def pending(self) -> int:
        """Bytes of an unfinished line held back."""
        return len(self._pending)
