"""Faulty devices: the driver's own words as exceptions, no hang, data so far kept."""
import time

import numpy as np
import pytest

import vorn
from line_model import expected_rows, find_run


def test_silent_device_raises_the_not_responding_message(sims):
    sims(faults=["--fault", "silent"])
    with pytest.raises(vorn.InitialiseError) as e:
        vorn.devices()
    assert "The Vorn Device is not responding" in str(e.value)


def test_wrong_firmware_raises_its_message(sims):
    sims(faults=["--fault", "wrong-firmware=2"])
    with pytest.raises(vorn.InitialiseError) as e:
        vorn.devices()
    assert "can't be used due\nto wrong firmware version" in str(e.value)


def test_no_device_raises_the_not_found_message(monkeypatch):
    vorn.close_all()
    monkeypatch.setenv("VORN_PORTS", "")
    with pytest.raises(vorn.DeviceNotFound, match="The Vorn Device cannot be found"):
        vorn.devices()
    assert vorn.devices(require=False) == []


def test_device_vanishing_mid_stream_raises_and_keeps_the_data(sims):
    sim = sims(faults=["--fault", "vanish=200"])[0]
    dev = vorn.devices()[0]
    started = time.monotonic()
    with pytest.raises(vorn.DeviceError) as e:
        dev.record(30)
    assert time.monotonic() - started < 10, "the vanished device was waited for too long"
    rec = e.value.recording
    assert rec is not None and 100 <= len(rec) <= 200
    expected = expected_rows(str(sim.sent_log), sim.describe(), [1, 2, 3, 4])
    assert find_run(expected, rec.raw[rec.valid].astype(np.int64)) >= 0


def test_device_that_stops_sending_raises_after_the_stated_silence(sims):
    sims(faults=["--fault", "stop-after=50"])
    dev = vorn.devices()[0]
    got = 0
    # The hung device then cannot acknowledge the stop either: that is reported, not waited for forever.
    with pytest.raises(vorn.DeviceError, match="did not acknowledge the stop"):
        with dev.stream(silence=1.0) as s:
            with pytest.raises(vorn.DeviceSilent, match=r"no data from device .* for 1\.\d s"):
                for block in s:
                    got += len(block)
                    last = time.monotonic()
            assert 1.0 <= time.monotonic() - last < 3
    assert got == 50


def test_garbage_and_missing_values_arrive_as_the_driver_delivers_them(sims):
    sim = sims("--fault-every", "10", faults=["--fault", "garbage", "--fault", "missing=5"])[0]
    dev = vorn.devices()[0]
    rec = dev.record(1.5)
    # Junk lines never reach the host (the driver drops short lines); a "*" value arrives as 0.
    assert rec.malformed == 0
    expected = expected_rows(str(sim.sent_log), sim.describe(), [1, 2, 3, 4])
    assert find_run(expected, rec.raw.astype(np.int64)) >= 0
    assert "*" in sim.sent_log.read_text()
    assert (rec.raw == 0).any()


def test_overflowing_ring_loses_whole_lines_which_the_clock_reports(sims):
    sim = sims("--periods", "0.0002")[0]
    dev = vorn.devices()[0]
    with dev.stream(raw=True) as s:
        # Not reading lets the driver's ring fill; lines that do not fit are dropped.
        time.sleep(2)
        blocks = []
        while sum(len(b) for b in blocks) < 20000:
            blocks.append(s.read(timeout=2))
    raw = np.concatenate([b.raw for b in blocks])
    assert s.malformed == 0 and s.missing > 1000
    # Every row is a line the simulator sent; none is made up of pieces of two.
    expected = {tuple(r) for r in expected_rows(str(sim.sent_log), sim.describe(), [1, 2, 3, 4])}
    assert all(tuple(r) in expected for r in raw.astype(np.int64))


CTRL_C_IN_DEVICES = """
import vorn
print("searching", flush=True)
vorn.devices()
"""


def test_ctrl_c_during_devices_on_a_silent_device_is_answered_at_once(sims):
    import os
    import signal
    import subprocess
    import sys

    sims(faults=["--fault", "silent"])
    child = subprocess.Popen([sys.executable, "-c", CTRL_C_IN_DEVICES], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    try:
        assert child.stdout.readline() == "searching\n"
        time.sleep(1.0)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        # The initialisation goes on inside the driver; leaving waits for it, and says so.
        line = ""
        while "waiting for the driver" not in line:
            line = child.stderr.readline()
            assert line, "the child ended without saying what it waits for"
        assert time.monotonic() - sent < 3
        child.send_signal(signal.SIGINT)
        code = child.wait(5)
        assert time.monotonic() - sent < 5
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        child.stdout.close()
        child.stderr.close()
    assert code == 130


def test_devices_after_a_failed_initialise_searches_afresh(sims):
    sims(faults=["--fault", "wrong-firmware=2"])
    for _ in range(2):
        # Each search finds the same port as device 0, not one more session for it.
        with pytest.raises(vorn.InitialiseError, match="^device 0: "):
            vorn.devices()
