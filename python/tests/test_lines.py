"""Host lines into rows: the grammar, block boundaries, and damaged lines
counted and never turned into numbers. The driver never delivers a damaged
line from a simulated device, so the stream is fed here by a double of the
library's read exports."""
import ctypes
import random

import numpy as np
import pytest

import vorn
from vorn import _library as L
from vorn._lines import LineParser


def reference(line: bytes, k: int):
    """The grammar written plainly: "@ ", k integers, commas between, one optional trailing comma."""
    if not line.startswith(b"@ "):
        return None
    body = line[2:]
    if body.endswith(b","):
        body = body[:-1]
    parts = body.split(b",") if k else ([] if body == b"" else [b"x"])
    if len(parts) != k:
        return None
    out = []
    for p in parts:
        digits = p[1:] if p.startswith(b"-") else p
        if not digits or not digits.isdigit() or len(digits) > 10 or not -2**31 <= int(p) < 2**31:
            return None
        out.append(int(p))
    return out


def mutate(rng, line: bytes) -> bytes:
    pos = rng.randrange(len(line) + 1)
    choice = rng.randrange(5)
    if choice == 0:
        return line[:pos] + line[pos + 1:]
    if choice == 1:
        return line[:pos] + bytes([rng.choice(b"0123456789,-@ x\r*")]) + line[pos:]
    if choice == 2:
        return line[:pos]
    if choice == 3:
        return line + b","
    return line[:pos] + b"99999999999" + line[pos:]


@pytest.mark.filterwarnings("error")  # numpy warns when it meets text the check let through
@pytest.mark.parametrize("k", [1, 3, 8])
def test_block_parser_agrees_with_the_plain_grammar(k):
    rng = random.Random(k)
    for _ in range(1000):
        lines = []
        for _ in range(rng.randrange(1, 40)):
            line = b"@ " + b",".join(str(rng.randrange(-5, 32768)).encode() for _ in range(k))
            if rng.random() < 0.3:
                line += b","
            for _ in range(rng.choice([0, 0, 0, 1, 2])):
                line = mutate(rng, line)
            lines.append(line.replace(b"\n", b""))
        values, valid = LineParser(k).feed(b"\n".join(lines) + b"\n")
        for line, row, ok in zip(lines, values, valid):
            want = reference(line, k)
            assert ok == (want is not None), line
            if ok:
                assert list(row) == want, line
            else:
                assert not row.any()


def test_lines_split_across_reads_give_the_same_rows():
    rng = random.Random(7)
    text = b"".join(b"@ %d,%d\n" % (rng.randrange(32768), rng.randrange(32768)) for _ in range(500))
    whole, _ = LineParser(2).feed(text)
    parser, parts, at = LineParser(2), [], 0
    while at < len(text):
        n = rng.randrange(1, 40)
        values, valid = parser.feed(text[at:at + n])
        assert valid.all()
        parts.append(values)
        at += n
    assert parser.pending == 0
    np.testing.assert_array_equal(np.concatenate(parts), whole)


def test_an_endless_line_counts_once():
    parser = LineParser(1)
    values, valid = parser.feed(b"x" * 5000)
    assert list(valid) == [False]
    values, valid = parser.feed(b"y" * 100 + b"\n@ 5\n")
    assert list(valid) == [True] and values[0, 0] == 5


class ReadDouble:
    """The read exports of the library, delivering given bytes."""

    def __init__(self, data: bytes) -> None:
        self.data = data
        self.lock = L.RWLock()
        self.generation = 0

    def ReadBuffSize(self, index):
        return len(self.data)

    def ReadBuffer(self, index, buf, count, timeout):
        if not self.data or count <= 0:
            return 0
        ctypes.memmove(buf, self.data[:count], min(count, len(self.data)))
        self.data = self.data[count:]
        return 1

    def IsFailed(self, index):
        return 0

    def command(self, index, code, argument=0):
        return L.Reply(True, "", 0, None)

    def general_message(self):
        return ""


def test_damaged_lines_keep_their_rows_as_nan_and_are_counted():
    lib = ReadDouble(b"@ 0,32767\n@ 12,\n@ 1x,2\n\n@ 16384,0,\n")
    dev = vorn.Device(lib, 0)
    dev.channels = [vorn.Channel(1, "A", "mV", -5.0, 5.0), vorn.Channel(2, "B", "", None, None)]
    dev._listed_periods = [1999]
    with dev.stream(raw=True, period="2ms") as s:
        block = s.read(timeout=0)
    assert list(block.valid) == [True, False, False, False, True]
    assert s.malformed == block.malformed == 3 and s.lines == 5
    np.testing.assert_allclose(block.times, np.arange(5) * 0.002)
    assert np.isnan(block.data[1:4]).all()
    np.testing.assert_allclose(block.data[0], [-5.0, 32767.0])  # B has no range: forwarded unscaled
    np.testing.assert_allclose(block.data[4], [-5.0 + 16384 / 32767 * 10, 0.0])
    assert (block.raw[1:4] == 0).all() and list(block.raw[4]) == [16384, 0]
