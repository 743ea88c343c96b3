"""Time across gaps: the sample index counts the sets a gap swallowed, CSV
marks it, EDF+ and MNE fill it and mark it BAD_, so every output keeps true time."""
import ctypes
import datetime

import numpy as np
import pytest

import vorn
import vorn.stream
from vorn import Channel, Gap, Recording
from vorn import _library as L
from line_model import expected_rows, find_run

RING = 65535


class Clock:
    def __init__(self) -> None:
        self.now = 1000.0

    def monotonic(self) -> float:
        return self.now

    def sleep(self, seconds: float) -> None:
        self.now += max(0.0, seconds)


class RingDouble:
    """The driver's read exports over a device that sends "@ SEQ" every period
    by the given clock into a ring of 65535 bytes, which drops a line that
    does not fit whole."""

    def __init__(self, clock: Clock, period: float) -> None:
        self.clock = clock
        self.period = period
        self.start = None
        self.sent = 0
        self.ring = bytearray()
        self.dropped = []
        self.lock = L.RWLock()
        self.generation = 0
        self.table_used = False

    def _produce(self) -> None:
        if self.start is None:
            return
        due = int((self.clock.now - self.start) / self.period + 1e-9)
        while self.sent < due:
            line = b"@ %d\n" % self.sent
            if RING - len(self.ring) >= len(line):
                self.ring += line
            else:
                self.dropped.append(self.sent)
            self.sent += 1

    def ReadBuffSize(self, index):
        self._produce()
        return len(self.ring)

    def ReadBuffer(self, index, buf, count, timeout):
        self._produce()
        if not self.ring and timeout:
            self.clock.sleep(min(timeout / 1000, self.period))
            self._produce()
        if not self.ring or count <= 0:
            return 0
        count = min(count, len(self.ring))
        ctypes.memmove(buf, bytes(self.ring[:count]), count)
        del self.ring[:count]
        return 1

    def IsFailed(self, index):
        return 0

    def command(self, index, code, argument=0):
        if code == L.CMD_START:
            # The first line comes a period after the start.
            self.start = self.clock.now
        if code == L.CMD_STOP:
            self._produce()
            self.start = None
        return L.Reply(True, "", 0, None)

    def general_message(self):
        return ""


def stream_double(monkeypatch, period_text="0.0002", listed=200):
    clock = Clock()
    monkeypatch.setattr(vorn.stream, "time", clock)
    lib = RingDouble(clock, float(period_text))
    dev = vorn.Device(lib, 0)
    dev.serial = "1000001"
    dev.channels = [Channel(1, "Seq", "", None, None)]
    dev._listed_periods = [listed]
    return clock, lib, dev


def read_for(stream, clock, seconds):
    blocks = []
    end = clock.now + seconds
    while clock.now < end:
        block = stream.read(timeout=0.05)
        if block is not None:
            blocks.append(block)
    return blocks


def test_a_full_ring_that_lost_lines_is_one_gap_and_the_index_stays_true(monkeypatch):
    clock, lib, dev = stream_double(monkeypatch)
    with dev.stream(raw=True, period=0.0002) as s:
        blocks = read_for(s, clock, 1.0)
        clock.sleep(3.0)  # a reader that does not read: the ring fills, then drops
        blocks += read_for(s, clock, 1.0)
    assert lib.dropped, "the double's ring never overflowed"
    index = np.concatenate([b.index for b in blocks])
    seq = np.concatenate([b.raw[:, 0] for b in blocks]).astype(np.int64)
    # Each row's index is the set the device sent: the gap counts the dropped ones.
    assert np.abs(index - seq).max() <= 1, (index - seq)[np.abs(index - seq) > 1][:5]
    gaps = [g for b in blocks for g in b.gaps]
    assert len(gaps) == 1 and s.gaps == gaps
    gap = gaps[0]
    assert gap.reason == "lost" and abs(gap.index - lib.dropped[0]) <= 1
    assert abs(gap.sets - len(lib.dropped)) <= 1
    assert s.missing >= gap.sets
    # Host times: one per line, never backwards, and sample time agrees with them across the gap.
    host = np.concatenate([b.host_times for b in blocks]) - s.first_line_host_time
    assert np.all(np.diff(host) >= 0) and len(np.unique(host)) > len(host) // 2
    assert abs(host[-1] - index[-1] * 0.0002) < 0.01


def test_a_slow_reader_that_loses_nothing_declares_no_gap(monkeypatch):
    clock, lib, dev = stream_double(monkeypatch, "0.002", 1999)
    with dev.stream(raw=True, period="2ms") as s:
        blocks = read_for(s, clock, 0.5)
        clock.sleep(2.0)  # 1000 lines of about 7 bytes: the ring holds them
        blocks += read_for(s, clock, 0.5)
    assert not lib.dropped
    index = np.concatenate([b.index for b in blocks])
    assert not s.gaps and np.array_equal(index, np.arange(len(index))) and s.missing == 0


def gap_recording():
    """Two channels at 10 ms: rows 0..2, a gap of 4 sets (lost), rows 7..8; row 1 damaged."""
    channels = [Channel(1, "ECG", "mV", -5.0, 5.0), Channel(2, "Resp", "l/min", 0.0, 60.0)]
    raw = np.array([[100, 200], [0, 0], [300, 400], [500, 600], [700, 800]], np.int32)
    valid = np.array([True, False, True, True, True])
    rec = Recording(channels=channels, period=0.01, serial="1000001", product="Quellograph", version="1.4",
                    start_time=datetime.datetime(2026, 12, 9, 12, 0, 0, tzinfo=datetime.timezone.utc),
                    monotonic_start=50.0, unique_id=0)
    rec.raw = raw
    rec.valid = valid
    rec.data = np.array([c.to_physical(raw[:, i]) for i, c in enumerate(channels)]).T
    rec.data[~valid] = np.nan
    rec.index = np.array([0, 1, 2, 7, 8])
    rec.times = rec.index * 0.01
    rec.host_times = np.array([0.0, 0.01, 0.02, 0.071, 0.08])
    rec.gaps = [Gap(3, 4, "lost")]
    rec.sets = 9
    return rec


def test_csv_has_no_rows_for_a_gap_but_says_where_it_is(tmp_path):
    path = tmp_path / "g.csv"
    gap_recording().to_csv(path)
    lines = [l for l in path.read_text().splitlines() if not l.startswith("# ") or l.startswith("# GAP")]
    assert lines[1:] == ["0,0.000000,100,-4.96948,200,0.3662", "0.01,0.010000,,,,",
                         "0.02,0.020000,300,-4.90844,400,0.7324",
                         "# GAP: start 0.03 s, duration 0.04 s, sets 4, reason lost",
                         "0.07,0.071000,500,-4.84741,600,1.0987", "0.08,0.080000,700,-4.78637,800,1.4649"]
    import pandas as pd
    frame = pd.read_csv(path, comment="#")
    assert list(frame["time [s]"]) == [0, 0.01, 0.02, 0.07, 0.08]


def test_edf_and_mne_fill_a_gap_with_the_last_values_and_mark_it_bad(tmp_path):
    mne = pytest.importorskip("mne")
    rec = gap_recording()
    rec.to_edf(tmp_path / "g.edf")
    back = mne.io.read_raw_edf(tmp_path / "g.edf", preload=True, verbose=False)
    raw = rec.to_mne()
    for r, scale in ((back, 1e3), (raw, 1e3)):
        ecg = r.get_data()[0, :9] * scale
        # The damaged row and the gap repeat the last good values (EDF) or stay NaN (MNE's damaged row).
        expect = rec.channels[0].to_physical(np.array([100, 100, 300, 300, 300, 300, 300, 500, 700]))
        if r is raw:
            expect[1] = np.nan
        np.testing.assert_allclose(ecg, expect, atol=1e-3)
        bad = [(round(a["onset"], 4), round(a["duration"], 4), a["description"]) for a in r.annotations
               if a["description"].startswith("BAD_")]
        # The EDF+ data record of a second is filled up after the true end, and that is marked too.
        assert bad == [(0.03, 0.04, "BAD_gap lost")] + ([(0.09, 0.91, "BAD_padding")] if r is back else [])
    assert raw.n_times == 9
    # MNE leaves the gap out of analysis.
    assert raw.get_data(reject_by_annotation="omit").shape[1] == 5


def test_recording_over_a_full_ring_keeps_true_time_in_every_output(sims, monkeypatch, tmp_path):
    mne = pytest.importorskip("mne")
    sim = sims("--periods", "0.0002")[0]
    # A reader that reads only every 1.5 s, whatever the ring holds.
    monkeypatch.setattr(vorn.stream, "_RING_SHARE", 100.0)
    monkeypatch.setattr(vorn.stream, "_EAGER_BYTES", 1 << 30)
    dev = vorn.devices()[0]
    rec = dev.record(4, block_seconds=1.5)
    # Every gap is over the threshold, but one the end of the recording cuts short.
    assert rec.gaps and all(g.reason == "lost" and (g.sets > vorn.gaps.lost_threshold(0.0002) or g.end == rec.sets)
                            for g in rec.gaps)
    assert len(rec) + sum(g.sets for g in rec.gaps) == rec.sets == 20000
    # Sample time agrees with the host clock to well under the loss threshold of 0.5 s.
    assert np.abs(rec.times - rec.host_times).max() < 0.25
    # Each unbroken run of rows is an unbroken run of what the simulator sent, with lines
    # dropped between runs, and its index is where the run lies to what the host clock can
    # tell: a gap's size is the clock's, and a loaded machine delays reads and the simulator.
    # The last rows before a gap may lie a few lines on: a full ring still takes a short
    # line after dropping a longer one, which nothing on the host can see.
    sent = expected_rows(str(sim.sent_log), sim.describe(), [1, 2, 3, 4])
    first = find_run(sent, rec.raw[:100].astype(np.int64))
    runs = np.split(np.arange(len(rec)), np.nonzero(np.diff(rec.index) != 1)[0] + 1)
    end = 0
    for run in runs:
        head = run if run is runs[-1] else run[:-3]
        at = find_run(sent, rec.raw[head].astype(np.int64))
        assert at >= end and abs(at - first - rec.index[run[0]]) * 0.0002 < 0.25, (at - first, rec.index[run[0]])
        end = at + len(run) + 1  # lines were dropped after it
    rec.to_edf(tmp_path / "r.edf")
    back = mne.io.read_raw_edf(tmp_path / "r.edf", verbose=False)
    duration = back.n_times / back.info["sfreq"]
    assert abs(duration - rec.host_times[-1]) <= 1.0 + 0.25
    bad = [a for a in back.annotations if a["description"].startswith("BAD_gap")]
    assert len(bad) == len(rec.gaps)
    for a, g in zip(bad, rec.gaps):
        assert a["onset"] == pytest.approx(g.index * 0.0002, abs=1e-4)
        assert a["duration"] == pytest.approx(g.sets * 0.0002, abs=1e-4)
