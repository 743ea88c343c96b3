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
    assert rec.malformed == 0 and not rec.interrupted


def test_record_gives_exactly_round_seconds_over_period_sets_with_a_host_time_each(sim):
    dev = vorn.devices()[0]
    for seconds, period, sets in [(1, None, 500), (1.0, None, 500), (0.999, None, 500), (0.9989, None, 499),
                                  (0.5, "10ms", 50), (0.001, None, 1)]:
        before = time.monotonic()
        rec = dev.record(seconds, period=period)
        assert len(rec) == rec.sets == sets, (seconds, period)
        assert np.array_equal(rec.index, np.arange(sets)) and not rec.gaps
        # Host time: one per line, from the first line, beside its sample time.
        assert rec.host_times[0] == 0 and np.all(np.diff(rec.host_times) >= 0)
        if sets > 100:
            assert len(np.unique(rec.host_times)) > sets // 2
        assert np.abs(rec.host_times - rec.times).max() < 0.3
        assert before < rec.monotonic_start < time.monotonic()


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


def test_arguments_are_checked_before_the_device_is_touched(sim):
    dev = vorn.devices()[0]
    wrong = [((-5,), {}, ValueError, "positive number of seconds"), ((float("nan"),), {}, ValueError, "nan"),
             ((float("inf"),), {}, ValueError, "inf"), (("2",), {}, TypeError, "not str '2'"),
             ((True,), {}, TypeError, "not bool"), ((0.0009,), {}, ValueError, "at least one sample set"),
             ((1,), {"silence": 0}, ValueError, "silence must be a positive"),
             ((1,), {"block_seconds": -1}, ValueError, "block_seconds"),
             ((1,), {"period": "fast"}, ValueError, "cannot read the period 'fast'"),
             ((1,), {"period": float("nan")}, ValueError, "a period must be positive"),
             ((1,), {"channels": [1.5]}, TypeError, "not float 1.5"),
             ((1,), {"channels": 2.0}, TypeError, "channels are a list"),
             ((1,), {"channels": []}, ValueError, "no channel"),
             ((1,), {"stop": True}, TypeError, "stop is a threading.Event")]
    for args, kwargs, kind, text in wrong:
        with pytest.raises(kind, match=text):
            dev.record(*args, **kwargs)
    with pytest.raises(TypeError):
        vorn.record_all("2")
    assert "rx :B" not in sim.trace_text(), "a wrong argument started the device"
    # One channel may be named on its own.
    assert dev.record(0.01, channels="Resp").names == ["Resp"]


def test_a_stream_dropped_while_running_stops_its_device(sim):
    import gc

    dev = vorn.devices()[0]
    s = dev.stream()
    s.__enter__()
    assert s.read(timeout=2) is not None
    del s
    gc.collect()
    deadline = time.monotonic() + 5
    sent = -1
    while sim.sent_lines() != sent and time.monotonic() < deadline:
        sent = sim.sent_lines()
        time.sleep(0.3)
    assert sim.sent_lines() == sent, "the device streams on for a stream nobody holds"
    assert len(dev.record(0.2)) == 100
    # A stream that is still held and running keeps the device to itself.
    with dev.stream() as s:
        with pytest.raises(vorn.DeviceError, match="already streaming: leave the other stream"):
            with dev.stream():
                pass
        assert s.read(timeout=2) is not None


def test_close_all_makes_old_devices_unusable(sim):
    dev = vorn.devices()[0]
    vorn.close_all()
    with pytest.raises(vorn.DeviceClosed):
        dev.record(0.1)
    again = vorn.devices()
    assert again[0].index == 0 and again[0].serial in sim.serial
    # Also a device that was streaming when the library was closed.
    s = again[0].stream()
    s.__enter__()
    vorn.close_all()
    for attempt in (lambda: again[0].record(0.1), lambda: again[0].stream().__enter__(), lambda: s.read(0.1)):
        with pytest.raises((vorn.DeviceClosed, vorn.DeviceError)) as e:
            attempt()
        assert "already streaming" not in str(e.value)
    with pytest.raises(vorn.DeviceClosed, match="closed by close_all"):
        again[0].stream().__enter__()


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


def test_ctrl_c_while_the_device_starts_leaves_it_stopped(sim):
    dev = vorn.devices()[0]
    real = dev._command

    def command(code, argument=0):
        reply = real(code, argument)
        if code == vorn._library.CMD_START:
            os.kill(os.getpid(), signal.SIGINT)  # arrives as the device has just started
        return reply

    dev._command = command
    with pytest.raises(KeyboardInterrupt):
        dev.record(10)
    del dev._command
    assert "rx :B" in sim.trace_text()
    sent = sim.sent_lines()
    time.sleep(0.5)
    assert sim.sent_lines() == sent, "Ctrl-C during the start left the device streaming"
    assert len(dev.record(0.1)) == 50
