"""Recordings against the simulator's sent log: values, channel selection, period, start and stop."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import vorn
from line_model import expected_rows, find_run


def check_against_log(rec, sim, positions):
    """Every row the package delivered is the simulator's line scaled by the
    announced limits, in one unbroken run."""
    model = sim.describe()
    expected = expected_rows(str(sim.sent_log), model, positions)
    assert rec.valid.all(), f"{rec.malformed} malformed lines"
    assert len(rec) > 0
    start = find_run(expected, rec.raw.astype(np.int64))
    assert start >= 0, "delivered rows are not one run of the sent lines"
    return model


def test_whole_recording_equals_sent_log_scaled_by_announced_limits(sim):
    dev = vorn.devices()[0]
    assert dev.serial and dev.serial in sim.serial
    assert [c.name for c in dev.channels] == sim.describe().channel_names
    rec = dev.record(1.5)
    model = check_against_log(rec, sim, [c.position for c in dev.channels])
    # Physical values undo the scaling with the driver's limits; times are index x period.
    for i, c in enumerate(rec.channels):
        assert c.minimum == pytest.approx(model.minima[c.position])
        expect = c.minimum + rec.raw[:, i] / 32767 * (c.maximum - c.minimum)
        np.testing.assert_allclose(rec.data[:, i], expect, rtol=0, atol=1e-9)
    assert rec.period == dev.periods[0] == 0.002
    np.testing.assert_allclose(rec.times, np.arange(len(rec)) * 0.002)
    assert np.all(np.diff(rec.host_times) >= 0)
    assert rec.malformed == 0 and not rec.interrupted


def test_channel_selection_and_period_reach_the_device(sim):
    dev = vorn.devices()[0]
    with pytest.raises(ValueError, match="offers no period"):
        dev.stream(period="3ms")
    with pytest.raises(ValueError, match="no channel 'Nope'"):
        dev.stream(channels=["Nope"])
    # Asked out of order, delivered in position order.
    rec = dev.record(1.0, channels=["Temp", 2], period="10ms")
    assert [c.name for c in rec.channels] == ["Resp", "Temp"]
    assert rec.period == 0.01
    check_against_log(rec, sim, [2, 4])
    # The device was asked for period position 3 (EndOfCycle is position 0).
    assert "rx :P3" in sim.trace_text()
    # At 10 ms, a second holds about a hundred lines, not the 500 of the default 2 ms.
    assert 40 <= len(rec) <= 160


def test_leaving_the_stream_stops_the_device(sim):
    dev = vorn.devices()[0]
    with dev.stream(channels=[1]) as s:
        block = next(iter(s))
        assert block.data.shape[1] == 1
    sent = sim.sent_lines()
    time.sleep(0.5)
    assert sim.sent_lines() == sent, "the device went on streaming after the stream ended"
    # An exception inside the with block stops the stream too, and propagates.
    with pytest.raises(ZeroDivisionError):
        with dev.stream() as s:
            next(iter(s))
            1 / 0
    sent = sim.sent_lines()
    time.sleep(0.5)
    assert sim.sent_lines() == sent
    # The device can stream again afterwards.
    assert len(dev.record(0.3)) > 0


def test_close_all_makes_old_devices_unusable(sim):
    dev = vorn.devices()[0]
    vorn.close_all()
    with pytest.raises(vorn.DeviceClosed):
        dev.record(0.1)
    again = vorn.devices()
    assert again[0].index == 0 and again[0].serial in sim.serial


CTRL_C_SCRIPT = textwrap.dedent("""
    import sys, vorn
    dev = vorn.devices()[0]
    with dev.stream() as s:
        for block in s:
            print("streaming", flush=True)
""")


def test_ctrl_c_stops_the_stream_and_closes_the_library(sim, tmp_path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", CTRL_C_SCRIPT], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=env)
    try:
        assert child.stdout.readline().strip() == b"streaming"
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=20)
    finally:
        if child.poll() is None:
            child.kill()
    assert b"KeyboardInterrupt" in err, err
    assert b"Segmentation" not in err and child.returncode != -signal.SIGSEGV
    sent = sim.sent_lines()
    time.sleep(0.5)
    assert sim.sent_lines() == sent, "Ctrl-C left the device streaming"
    trace = sim.trace_text()
    # The library was closed: CloseAll sends X to every open session.
    assert "rx :X" in trace, trace[-500:]


def test_record_survives_ctrl_c_with_what_it_had(sim):
    dev = vorn.devices()[0]
    stop_at = time.monotonic() + 0.5

    def interrupt(*_):
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.5)
    try:
        rec = dev.record(10)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert rec.interrupted
    assert 0 < len(rec) and time.monotonic() - stop_at < 5
    check_against_log(rec, sim, [c.position for c in dev.channels])


def test_reads_come_in_blocks_not_line_by_line(sim):
    dev = vorn.devices()[0]
    with dev.stream(block_seconds=0.2) as s:
        end = time.monotonic() + 1.0
        blocks = []
        while time.monotonic() < end:
            b = s.read(timeout=0.05)
            if b is not None:
                blocks.append(len(b))
    # About five reads of about a hundred lines each, not five hundred reads of one.
    assert len(blocks) <= 8 and sum(blocks) >= 200, blocks


@pytest.mark.parametrize("profile", ["crc", "na", "many"])
def test_other_device_descriptions_record_as_their_log_says(sims, profile):
    sim = sims("--profile", profile)[0]
    dev = vorn.devices()[0]
    assert [c.name for c in dev.channels] == sim.describe().channel_names
    rec = dev.record(0.5)
    check_against_log(rec, sim, [c.position for c in dev.channels])
