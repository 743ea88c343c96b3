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


# Digits to 9; the grammar's other bytes kept; everything else (";" included,
# which marks a trailing comma) to "?".
_SHAPE = bytes(0x39 if 0x30 <= b <= 0x39 else b if b in b"@ ,-\n" else 0x3F for b in range(256))


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
        self._skeleton = b"@ " + b"," * max(channels - 1, 0) + b"\n"

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
        block = buf[:cut + 1]
        if self._discarding:
            self._discarding = False
            block = block[block.index(b"\n") + 1:]
        count = block.count(b"\n")
        if count == 0:
            return np.zeros((0, self.channels), np.int64), np.zeros(0, bool)
        fast = self._all_valid(block, count)
        if fast is not None:
            return fast, np.ones(count, bool)
        lines = block[:-1].split(b"\n")
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
        grammar, else None. Checked with whole-block byte operations: digits
        become 9, a trailing comma ;, anything outside the grammar ?, so the
        shape of the block can be compared at once."""
        k = self.channels
        if k == 0:
            return None
        shape = block.translate(_SHAPE).replace(b",\n", b";\n")
        if b"?" in shape:
            return None
        minus = shape.count(b"-")
        # Every value begins after "@ " or a comma, a minus only begins one, and a
        # trailing comma follows a value: no empty fields, no stray signs.
        if (not shape.startswith(b"@") or shape.count(b"\n@") != count - 1 or shape.count(b"@") != count
                or shape.count(b"@ 9") + shape.count(b"@ -") != count
                or shape.count(b",9") + shape.count(b",-") != shape.count(b",")
                or shape.count(b"9;") != shape.count(b";")
                or shape.count(b"-9") != minus or (minus and b"9-" in shape)):
            return None
        if shape.translate(None, b"9-;") != self._skeleton * count:
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
