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



# The shape's bytes as classes 0..7, so a pair of neighbours is one number below 64.
_CLASSES = b"9,-\n@ ;?"
_CLASS = bytes(_CLASSES.index(b) if b in _CLASSES else 7 for b in range(256))


def _bad_pairs() -> np.ndarray:
    """The pairs of neighbouring shape bytes that no sequence of host lines
    holds: "@" without " " after it or " " without "@" before it, something
    before the "@" of a line, an empty value (after "@ ", between commas,
    before a trailing comma), a sign that does not begin a value."""
    def code(pair: bytes) -> int:
        return _CLASSES.index(pair[0]) * 8 + _CLASSES.index(pair[1])

    bad = [code(bytes([a, b"@"[0]])) for a in b"9,-@ ;"]
    bad += [code(bytes([b"@"[0], b])) for b in b"9,-\n@;"]
    bad += [code(bytes([a, b" "[0]])) for a in b"9,-\n ;"]
    bad += [code(p) for p in (b" ,", b" ;", b" \n", b",,", b",;", b"-,", b"-;", b"-\n", b"--", b"9-")]
    return np.array(sorted(set(bad)))


_BAD_PAIRS = _bad_pairs()


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
        grammar, else None. Checked on the block's shape at once: digits
        become 9, a trailing comma ;, anything outside the grammar ?; then no
        two neighbouring bytes may form a pair the grammar excludes, and with
        digits, signs and trailing commas taken out every line must read
        "@ " and the commas between the values."""
        k = self.channels
        if k == 0:
            return None
        shape = block.translate(_SHAPE).replace(b",\n", b";\n")
        if shape[0] != 64 or b"?" in shape:
            return None
        c = np.frombuffer(shape.translate(_CLASS), np.uint8)
        pairs = np.bincount(c[:-1] * 8 + c[1:], minlength=64)
        if pairs[_BAD_PAIRS].any():
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
