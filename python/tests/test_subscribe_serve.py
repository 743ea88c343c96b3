"""The subscriber against vornctl serve and simulated devices: what the
devices sent arrives, a recorded device is held, keys are kept, and a
publisher that restarts is a gap in a recording that goes on."""
import json
import os
import pathlib
import signal
import subprocess
import threading
import time

import numpy as np
import pytest

zmq = pytest.importorskip("zmq")

import vorn  # noqa: E402
from conftest import REPO  # noqa: E402
from line_model import expected_rows, find_run  # noqa: E402


def find_vornctl() -> str:
    for candidate in (os.environ.get("VORN_VORNCTL"), REPO / "build" / "linux" / "tools" / "vornctl" / "vornctl",
                      REPO / "dist" / "linux" / "bin" / "vornctl"):
        if candidate and pathlib.Path(candidate).is_file():
            usage = subprocess.run([str(candidate), "--help"], capture_output=True, text=True).stdout
            if "serve SERIAL" in usage:
                return str(candidate)
    pytest.skip("no vornctl with serve: set VORN_VORNCTL or build the linux preset with libzmq")


class Serve:
    """vornctl serve --all over the simulators VORN_PORTS names."""

    def __init__(self, workdir: pathlib.Path, *args: str) -> None:
        self.err = open(workdir / f"serve-{time.monotonic_ns()}.err", "w+")
        self.proc = subprocess.Popen([find_vornctl(), "serve", "--all", *args], stdout=subprocess.PIPE,
                                     stderr=self.err, text=True, start_new_session=True)
        try:
            self._wait_endpoints()
        except BaseException:
            self.stop()
            raise

    def _wait_endpoints(self) -> None:
        self.urls = []
        printed = threading.Event()

        def read():
            # Its two endpoints, then nothing more.
            for line in self.proc.stdout:
                self.urls.append(line.strip())
                if len(self.urls) == 2:
                    printed.set()

        threading.Thread(target=read, daemon=True).start()
        printed.wait(60)
        assert len(self.urls) == 2, self.log()
        self.url, self.control = self.urls

    def log(self) -> str:
        self.err.seek(0)
        return self.err.read()

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


@pytest.fixture
def serve(tmp_path, monkeypatch):
    started = []
    # Serve loads the library as every host does; the tests point it at the build's.
    if os.environ.get("VORN_LIBRARY"):
        monkeypatch.setenv("VORN_LIBRARY", os.environ["VORN_LIBRARY"])

    def start(*args: str) -> Serve:
        started.append(Serve(tmp_path, *args))
        return started[-1]

    yield start
    for s in started:
        s.stop()


def control(endpoint: str, request: dict, keys=None) -> dict:
    sock = zmq.Context.instance().socket(zmq.DEALER)
    sock.setsockopt(zmq.LINGER, 0)
    if keys is not None:
        sock.curve_serverkey, sock.curve_publickey, sock.curve_secretkey = keys
    sock.connect(endpoint)
    try:
        sock.send(json.dumps(request).encode())
        assert sock.poll(10000), f"no answer to {request}"
        return json.loads(sock.recv())
    finally:
        sock.close()


def check_against_log(rec, sim):
    dev = sim.describe()
    # The announced limits are the device's own, so the scaling below is the device's.
    assert [(c.name, c.unit, c.minimum, c.maximum) for c in rec.channels] == \
        [(dev.names[c.position], dev.units[c.position], dev.minima[c.position], dev.maxima[c.position])
         for c in rec.channels]
    expected = expected_rows(str(sim.sent_log), dev, [c.position for c in rec.channels])
    assert rec.valid.all() and len(rec) > 0
    assert find_run(expected, rec.raw.astype(np.int64)) >= 0, f"{rec.serial}: not one run of what the device sent"
    for i, c in enumerate(rec.channels):
        np.testing.assert_allclose(rec.data[:, i], c.minimum + rec.raw[:, i] / 32767 * (c.maximum - c.minimum),
                                   rtol=0, atol=1e-9)


def test_every_device_of_serve_arrives_as_it_was_sent_and_is_held_while_recorded(sims, serve):
    started = sims(count=2)
    pub = serve("--bind", "tcp://127.0.0.1:*")
    refusals = []

    def remote_stop():
        # The first serial the publisher describes, stopped from outside while it is recorded.
        with vorn.subscribe(pub.url, control=None) as sub:
            while not sub.devices:
                sub.read(timeout=0.2)
            serial = sorted(sub.devices)[0]
        time.sleep(0.8)
        refusals.append(control(pub.control, {"id": 7, "device": serial, "action": "stop"}))

    thread = threading.Thread(target=remote_stop, daemon=True)
    thread.start()
    recs = vorn.subscribe(pub.url, control=pub.control).record(2.0)
    thread.join(30)
    assert len(recs) == 2
    by_serial = {s.serial: s for s in started}
    for serial, rec in recs.items():
        sim = next(s for name, s in by_serial.items() if serial in name)
        assert len(rec) == rec.sets == 1000 and not rec.gaps
        check_against_log(rec, sim)
    assert refusals and refusals[0]["status"] == 409 and refusals[0]["id"] == 7
    assert "is being recorded by python on" in refusals[0]["error"]


def test_a_late_subscriber_to_one_device_is_described_within_a_second_and_gets_only_it(sims, serve):
    started = sims(count=2)
    pub = serve("--bind", "tcp://127.0.0.1:*")
    time.sleep(1.5)  # serve has been publishing before this subscriber came
    serial = started[1].serial[3:]  # the device's serial text, as the driver gives it
    with vorn.subscribe(pub.url, serial, control=None) as sub:
        entered = time.monotonic()
        while serial not in sub.devices and time.monotonic() - entered < 10:
            sub.read(timeout=0.05)
        assert time.monotonic() - entered < 1.0
        blocks = [sub.read(timeout=5) for _ in range(20)]
    assert set(sub.devices) == {serial} and all(b is not None and b.serial == serial for b in blocks)
    assert [c.name for c in blocks[0].channels] == started[1].describe().channel_names


def test_serve_with_keys_admits_the_listed_key_only(sims, serve, tmp_path):
    sim = sims()[0]
    server_public, server_secret = zmq.curve_keypair()
    client_public, client_secret = zmq.curve_keypair()
    (tmp_path / "bed.key").write_bytes(b"public-key = %s\nsecret-key = %s\n" % (server_public, server_secret))
    (tmp_path / "bed.pub").write_bytes(server_public + b"\n")
    (tmp_path / "me.key").write_bytes(b"public-key = %s\nsecret-key = %s\n" % (client_public, client_secret))
    (tmp_path / "clients").write_bytes(b"# the one client\npublic-key = %s\n" % client_public)
    pub = serve("--bind", "tcp://127.0.0.1:*", "--curve-secret", str(tmp_path / "bed.key"), "--curve-clients",
                str(tmp_path / "clients"))
    rec = vorn.subscribe(pub.url, server_key=tmp_path / "bed.pub", client_key=tmp_path / "me.key",
                         control=None).record(0.5)
    assert len(rec) == 1 and len(next(iter(rec.values()))) == 250
    check_against_log(next(iter(rec.values())), sim)
    stranger_public, stranger_secret = zmq.curve_keypair()
    for keys, text in [(dict(server_key=tmp_path / "bed.pub", client_key=stranger_secret.decode()), "refused"),
                       (dict(), "requires keys")]:
        # Refused with nothing recorded, told long before the timeout.
        started = time.monotonic()
        with pytest.raises(vorn.PublisherError, match=text):
            vorn.subscribe(pub.url, control=None, timeout=20, **keys).record(1)
        assert time.monotonic() - started < 10
    deadline = time.monotonic() + 10
    while stranger_public.decode() not in pub.log() and time.monotonic() < deadline:
        time.sleep(0.1)
    assert stranger_public.decode() in pub.log()


def test_a_restarted_serve_is_a_gap_and_the_recording_goes_on(sims, serve):
    sim = sims()[0]
    first = serve("--bind", "tcp://127.0.0.1:*")
    again = []

    def restart():
        time.sleep(1.5)
        first.stop()
        time.sleep(1.0)  # away long enough that only the host clock can size the gap
        again.append(serve("--bind", first.url, "--control", first.control))

    thread = threading.Thread(target=restart, daemon=True)
    thread.start()
    rec = vorn.subscribe(first.url, control=None).record(6)
    thread.join(60)
    rec = next(iter(rec.values()))
    assert rec.sets == 3000 and not rec.interrupted
    assert [g.reason for g in rec.gaps] == ["sequence"], rec.gaps
    gap = rec.gaps[0]
    before, after = rec.index < gap.index, rec.index >= gap.end
    # The new serve's sequence begins again, so the host clock sizes the gap, and time stays true after it.
    host_span = rec.host_times[np.flatnonzero(after)[0]] - rec.host_times[np.flatnonzero(before)[-1]]
    assert 1.0 < host_span < 30 and abs((gap.sets + 1) * 0.002 - host_span) < 0.3, (gap, host_span)
    assert abs(rec.host_times[-1] - rec.times[-1]) < 0.3
    # Both sides of the gap are unbroken runs of what the device sent.
    expected = expected_rows(str(sim.sent_log), sim.describe(), [c.position for c in rec.channels])
    assert before.sum() + after.sum() == len(rec)
    start = find_run(expected, rec.raw[before].astype(np.int64))
    assert start >= 0 and find_run(expected[start:], rec.raw[after].astype(np.int64)) >= before.sum()
    assert np.all(np.diff(rec.host_times) >= 0)
