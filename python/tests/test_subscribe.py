"""Subscribers: a publisher's messages become the same blocks and recordings
as a local device's, with gaps, descriptions and format versions kept."""
import json
import os
import signal
import socket
import subprocess
import sys
import textwrap
import threading
import time
import warnings

import numpy as np
import pytest

zmq = pytest.importorskip("zmq")

import vorn  # noqa: E402
from vorn import _wire  # noqa: E402
from line_model import expected_rows, find_run  # noqa: E402
from publisher import CHANNELS, Publisher, describe, pattern  # noqa: E402

SERIAL = "1000001"


@pytest.fixture
def publishers():
    started = []

    def start(*args, **kwargs) -> Publisher:
        started.append(Publisher(*args, **kwargs))
        return started[-1]

    yield start
    for p in started:
        p.close()


def rows_until(sub, count, timeout=10.0):
    """Blocks until ``count`` rows per device arrived (bounded)."""
    blocks, rows = [], {}
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and (not rows or min(rows.values()) < count):
        block = sub.read(timeout=0.2)
        if block is not None:
            blocks.append(block)
            rows[block.serial] = rows.get(block.serial, 0) + len(block)
    assert rows and min(rows.values()) >= count, rows
    return blocks


def check_values(rec_or_block_list, channels=3):
    """Each row's raw values are what the stand-in sent at its publisher index."""
    for raw, index in rec_or_block_list:
        assert np.array_equal(raw, pattern(index, channels).astype(raw.dtype))


def test_blocks_are_what_was_published_scaled_by_the_announced_limits(publishers):
    pub = publishers(["1000001", "1000002"])
    pub.stream("1000001", rows=10)
    pub.stream("1000002", rows=4)
    with vorn.subscribe(pub.url, raw=True, control=None) as sub:
        blocks = rows_until(sub, 200)
    assert {b.serial for b in blocks} == {"1000001", "1000002"}
    assert set(sub.devices) == {"1000001", "1000002"}
    for serial in sub.devices:
        mine = [b for b in blocks if b.serial == serial]
        index = np.concatenate([b.index for b in mine])
        raw = np.concatenate([b.raw for b in mine])
        # The rows came in order, none lost: the publisher's index less that of the first row.
        assert np.array_equal(index, np.arange(len(index)))
        first = next(m.first_sample for m in pub.sent(serial) if np.array_equal(m.values[0], raw[0]))
        check_values([(raw, index + first)])
        data = np.concatenate([b.data for b in mine])
        for i, (name, unit, lo, hi) in enumerate(CHANNELS):
            assert mine[0].channels[i].name == name and mine[0].channels[i].unit == unit
            np.testing.assert_allclose(data[:, i], lo + raw[:, i] / 32767 * (hi - lo), rtol=0, atol=1e-12)
        np.testing.assert_allclose(np.concatenate([b.times for b in mine]), index * 0.002)
        host = np.concatenate([b.host_times for b in mine])
        # The publisher's times, on this process's monotonic clock.
        assert np.all(np.diff(host) >= 0) and abs((host[-1] - host[0]) - index[-1] * 0.002) < 0.2
        assert abs(host[-1] - time.monotonic()) < 5
    assert not any(sub.gaps.values()) and sub.damaged == 0 and sub.malformed == 0
    # Without raw, blocks carry the physical values only; one serial takes one device.
    with vorn.subscribe(pub.url, "1000002", control=None) as sub:
        blocks = rows_until(sub, 20)
    assert {b.serial for b in blocks} == {"1000002"} and blocks[0].raw is None
    assert set(sub.devices) == {"1000002"}


def test_a_late_subscriber_is_described_at_once_and_loses_no_data_that_came_first(publishers):
    pub = publishers()
    pub.stream()
    time.sleep(0.3)  # the publisher has been sending before anyone listened
    with vorn.subscribe(pub.url, SERIAL, control=None) as sub:
        entered = time.monotonic()
        while SERIAL not in sub.devices and time.monotonic() - entered < 5:
            sub.read(timeout=0.05)
        assert time.monotonic() - entered < 1.0
        assert sub.devices[SERIAL].enabled[0].name == "ECG"
    # A publisher that describes its devices only once a second: the data that come
    # before the description wait for it, and the first row is the first one sent.
    quiet = publishers(["1000002"], describe_on_subscribe=False)
    quiet.stream("1000002")
    rec = vorn.subscribe(quiet.url, "1000002", control=None).record(1.5)
    heard = len(quiet.sent("1000002"))
    assert len(rec) == 750 and np.array_equal(rec.index, np.arange(750))
    first = next(m for m in quiet.sent("1000002") if np.array_equal(m.values[0], rec.raw[0]))
    check_values([(rec.raw, rec.index + first.first_sample)])
    assert heard and first.sequence <= 2, "rows that came before the description were lost"


def test_sequence_and_publisher_gaps_keep_true_time_in_every_output(publishers, tmp_path):
    mne = pytest.importorskip("mne")
    pub = publishers()
    pub.stream(rows=10)

    def gaps_later():
        pub.wait_subscribed()
        time.sleep(0.3)
        pub.drop(SERIAL, 3)  # 30 sets lost on the way
        time.sleep(0.3)
        pub.skip(SERIAL, 25)  # the publisher's own gap of 25 sets

    threading.Thread(target=gaps_later, daemon=True).start()
    rec = vorn.subscribe(pub.url, SERIAL, control=None).record(1.5)
    assert [(g.sets, g.reason) for g in rec.gaps] == [(30, "sequence"), (25, "publisher")]
    assert rec.sets == 750 and len(rec) == 750 - 55
    first = next(m for m in pub.sent() if np.array_equal(m.values[0], rec.raw[0])).first_sample
    # Each row's index is where it was sent: the values follow the index across the gaps.
    check_values([(rec.raw, rec.index + first)])
    for g in rec.gaps:
        assert g.index not in rec.index and g.index - 1 in rec.index and g.end in rec.index
    rec.to_csv(tmp_path / "r.csv")
    text = (tmp_path / "r.csv").read_text()
    assert "sets 30, reason sequence" in text and "sets 25, reason publisher" in text
    rec.to_edf(tmp_path / "r.edf")
    for raw in (mne.io.read_raw_edf(tmp_path / "r.edf", verbose=False), rec.to_mne()):
        bad = [(round(a["onset"] / 0.002), round(a["duration"] / 0.002), a["description"])
               for a in raw.annotations if a["description"].startswith("BAD_gap")]
        assert bad == [(g.index, g.sets, f"BAD_gap {g.reason}") for g in rec.gaps]


def test_a_restarted_publisher_is_a_gap_and_the_recording_goes_on(publishers):
    pub = publishers()
    pub.stream()
    restarted = []

    def restart():
        pub.wait_subscribed()
        time.sleep(0.8)
        pub.close()
        time.sleep(0.5)
        again = Publisher(port=pub.port)
        again.stream()
        restarted.append(again)

    threading.Thread(target=restart, daemon=True).start()
    try:
        rec = vorn.subscribe(pub.url, SERIAL, control=None).record(3)
    finally:
        deadline = time.monotonic() + 5
        while not restarted and time.monotonic() < deadline:
            time.sleep(0.05)
        for p in restarted:
            p.close()
    assert rec.sets == 1500 and not rec.interrupted
    assert len(rec.gaps) == 1 and rec.gaps[0].reason == "sequence"
    gap = rec.gaps[0]
    # About the half second the publisher was away (reconnecting adds up to a second).
    assert 0.3 < gap.sets * 0.002 < 2.5, gap
    # The new publisher's rows begin again at its first sample index, and follow on.
    after = rec.index >= gap.end
    new_first = next(m for m in restarted[0].sent() if np.array_equal(m.values[0], rec.raw[after][0]))
    check_values([(rec.raw[after], rec.index[after] - gap.end + new_first.first_sample)])
    assert np.all(np.diff(rec.host_times) >= 0)
    assert abs(rec.host_times[-1] - rec.times[-1]) < 1.0


def test_a_newer_format_stops_with_what_to_do_and_a_recording_keeps_its_rows(publishers):
    pub = publishers()
    pub.stream()
    newer = _wire.encode_data(pub.sent()[-1] if pub.sent() else _wire.DataMessage(
        SERIAL, 0, 0, 2000, 0, 0, np.zeros(1, bool), np.zeros((1, 3), np.uint16)))
    newer = newer[:2] + bytes([2]) + newer[3:]
    with vorn.subscribe(pub.url, SERIAL, control=None) as sub:
        rows_until(sub, 10)
        pub.send([_wire.data_topic(SERIAL), newer])
        with pytest.raises(vorn.NewerFormat, match="sends stream format 2, this package reads format 1: update"):
            rows_until(sub, 10**9)
        with pytest.raises(vorn.NewerFormat):
            sub.read(timeout=0.1)
    assert issubclass(vorn.NewerFormat, vorn.VornError)

    def newer_description():
        pub.wait_subscribed()
        time.sleep(0.5)
        pub.send([_wire.meta_topic(SERIAL), json.dumps(describe(SERIAL, fmt=3)).encode()])

    threading.Thread(target=newer_description, daemon=True).start()
    with pytest.raises(vorn.NewerFormat, match="format 3") as caught:
        vorn.subscribe(pub.url, SERIAL, control=None).record(10)
    assert 100 < len(caught.value.recording) < 5000


def test_damaged_messages_are_counted_and_skipped(publishers):
    pub = publishers()
    pub.stream()
    good = _wire.DataMessage(SERIAL, 0, 0, 2000, 0, 0, np.zeros(2, bool), np.zeros((2, 3), np.uint16))
    encoded = _wire.encode_data(good)
    bad_value = bytearray(encoded)
    bad_value[-2:] = b"\xff\xff"
    damaged = [[_wire.data_topic(SERIAL), b"VD"], [_wire.data_topic(SERIAL), encoded[:-1]],
               [_wire.data_topic(SERIAL), bytes(bad_value)], [_wire.data_topic(SERIAL), encoded, b"x"],
               [_wire.data_topic(SERIAL), encoded.replace(SERIAL.encode(), b"VSC9999999")],
               [_wire.meta_topic(SERIAL), b"{not json"], [_wire.meta_topic(SERIAL), b"[]"],
               [_wire.meta_topic(SERIAL), b'{"format": 1, "serial": "1000001", "channels": "x"}'],
               [_wire.data_topic(SERIAL), bytes(range(256)) * 4]]
    with vorn.subscribe(pub.url, SERIAL, raw=True, control=None) as sub:
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always")
            blocks = rows_until(sub, 50)
            for frames in damaged:
                pub.send(frames)
            blocks += rows_until(sub, 300)
        assert sub.damaged == len(damaged)
        assert len([w for w in said if "damaged message" in str(w.message)]) == 1
    index = np.concatenate([b.index for b in blocks])
    # Nothing of the damaged ones became a row, and the good ones lost nothing.
    assert np.array_equal(index, np.arange(len(index))) and not sub.gaps.get(SERIAL)
    first = next(m for m in pub.sent() if np.array_equal(m.values[0], blocks[0].raw[0])).first_sample
    check_values([(np.concatenate([b.raw for b in blocks]), index + first)])


def test_a_change_of_channels_starts_the_rows_afresh_and_ends_a_recording(publishers):
    pub = publishers()
    pub.stream()
    with vorn.subscribe(pub.url, SERIAL, control=None) as sub:
        rows_until(sub, 20)
        pub.redescribe(SERIAL, enabled=(1, 3), period_us=4000)
        deadline = time.monotonic() + 10
        block = None
        while time.monotonic() < deadline:
            block = sub.read(timeout=0.2)
            if block is not None and len(block.channels) == 2:
                break
        assert [c.name for c in block.channels] == ["ECG", "Temp"] and block.index[0] == 0
        assert np.array_equal(block.times, block.index * 0.004)

    def change():
        pub.wait_subscribed()
        time.sleep(0.5)
        pub.redescribe(SERIAL, enabled=(2,))

    threading.Thread(target=change, daemon=True).start()
    with pytest.raises(vorn.DeviceError, match="changed the channels or period of 1000001") as caught:
        vorn.subscribe(pub.url, SERIAL, control=None).record(10)
    rec = caught.value.recording
    assert rec.names == ["ECG", "Temp"] and 50 < len(rec) < 2500


def test_a_device_stopped_on_the_publisher_ends_its_recording_with_what_it_had(publishers):
    pub = publishers()
    pub.stream()

    def stop_it():
        pub.wait_subscribed()
        time.sleep(0.5)
        pub.halt(SERIAL)
        pub.redescribe(SERIAL, streaming=False)

    threading.Thread(target=stop_it, daemon=True).start()
    started = time.monotonic()
    with pytest.raises(vorn.DeviceError, match="1000001 was stopped on the publisher") as caught:
        vorn.subscribe(pub.url, SERIAL, control=None).record(60)
    assert time.monotonic() - started < 15
    assert 100 < len(caught.value.recording) < 5000


def test_every_device_records_at_once_and_holds_its_lease(publishers):
    pub = publishers(["1000001", "1000002"], control=True)
    pub.stream("1000001")
    pub.stream("1000002", rows=5)
    recs = vorn.subscribe(pub.url).record(1.2)
    assert sorted(recs) == ["1000001", "1000002"]
    for serial, rec in recs.items():
        assert rec.serial == serial and len(rec) == rec.sets == 600 and not rec.gaps
        first = next(m for m in pub.sent(serial) if np.array_equal(m.values[0], rec.raw[0])).first_sample
        check_values([(rec.raw, rec.index + first)])
        # The wall clock of the first line is the publisher's.
        assert abs(rec.start_time.timestamp() - time.time()) < 5
    # Each device was held at its start and again every second, and released at its end.
    for serial in recs:
        mine = [c for c in pub.controls if c.get("device") == serial]
        assert [c["action"] for c in mine][0] == "hold" and mine[-1]["action"] == "release"
        assert 2 <= len(mine) <= 6 and "python on" in mine[0]["holder"]


def test_keys_let_listed_subscribers_in_and_say_why_others_get_nothing(publishers, tmp_path):
    server_public, server_secret = zmq.curve_keypair()
    client_public, client_secret = zmq.curve_keypair()
    pub = publishers(curve_secret=server_secret, clients=[client_public])
    pub.stream()
    (tmp_path / "bed.pub").write_bytes(b"# the publisher\n" + server_public + b"\n")
    # A key pair file as a key generator may lay it out: labelled, or the two keys alone.
    (tmp_path / "me.key").write_bytes(b"public-key = \"" + client_public + b"\"\nsecret-key = \"" + client_secret
                                      + b"\"\n")
    (tmp_path / "bare.key").write_bytes(client_secret + b"\n" + client_public + b"\n")
    for client in (tmp_path / "me.key", str(tmp_path / "bare.key"), client_secret.decode()):
        rec = vorn.subscribe(pub.url, SERIAL, server_key=tmp_path / "bed.pub", client_key=client,
                             control=None).record(0.1)
        assert len(rec) == 50
    stranger_public, stranger_secret = zmq.curve_keypair()
    wrong = [(dict(server_key=tmp_path / "bed.pub", client_key=stranger_secret.decode()), vorn.PublisherError,
              "refused this subscriber's key"),
             (dict(server_key=stranger_public.decode(), client_key=tmp_path / "me.key"), vorn.PublisherError,
              "server_key is not its public key"),
             (dict(), vorn.PublisherError, "requires keys"),
             (dict(server_key=tmp_path / "none.pub"), vorn.VornError, "no key file"),
             (dict(server_key=tmp_path / "bed.pub", client_key=tmp_path / "bed.pub"), vorn.VornError,
              "holds no CURVE key pair"),
             (dict(client_key=tmp_path / "me.key"), ValueError, "client_key without server_key")]
    for keys, kind, text in wrong:
        started = time.monotonic()
        with pytest.raises(kind, match=text):
            vorn.subscribe(pub.url, SERIAL, control=None, timeout=20, **keys).record(1)
        assert time.monotonic() - started < 5, (keys, "the refusal took the whole time-out")
    assert stranger_public in pub.refused
    # Keys where the publisher has none.
    plain = publishers(["1000002"])
    with pytest.raises(vorn.PublisherError, match="sends without keys"):
        vorn.subscribe(plain.url, "1000002", server_key=tmp_path / "bed.pub", client_key=tmp_path / "me.key",
                       control=None).record(1)


def test_nothing_answering_or_no_such_device_is_said_within_the_timeout(publishers):
    pub = publishers()
    # A plain socket's close is done when it returns; a ZeroMQ socket's unbind happens later on its I/O
    # thread, so a subscriber could still reach the probe and see it go mid-handshake.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        free = "tcp://127.0.0.1:%d" % probe.getsockname()[1]
    cases = [(free, SERIAL, vorn.PublisherError, "nothing answers at"),
             (pub.url, "7777777", vorn.DeviceNotFound, "sent nothing of device 7777777 .*that serial;"),
             # A converter's serial number instead of the device's serial text is named as the likely slip.
             (pub.url, "VSC1000001", vorn.DeviceNotFound, "not by its converter's serial number")]
    for url, serial, kind, text in cases:
        started = time.monotonic()
        with pytest.raises(kind, match=text):
            with vorn.subscribe(url, serial, control=None, timeout=1.5) as sub:
                sub.read()
        assert 1.5 <= time.monotonic() - started < 5
    for args, kwargs, kind, text in [(("localhost:5650",), {}, ValueError, "tcp://HOST:5650"),
                                     ((pub.url, 42), {}, ValueError, "serial is a device's serial"),
                                     ((pub.url,), {"timeout": 0}, ValueError, "timeout must be a positive"),
                                     ((pub.url,), {"control": "5651"}, ValueError, "control is"),
                                     (("tcp://no port",), {}, vorn.PublisherError, "cannot connect")]:
        with pytest.raises(kind, match=text):
            with vorn.subscribe(*args, **kwargs):
                pass
    with pytest.raises(TypeError, match="stop is a threading.Event"):
        vorn.subscribe(pub.url, control=None).record(1, stop=True)


def test_a_subscriber_that_does_not_read_reports_the_messages_it_missed(publishers):
    pub = publishers(sndhwm=10, sndbuf=4096)
    pub.stream()
    with vorn.subscribe(pub.url, SERIAL, raw=True, control=None, hwm=10) as sub:
        blocks = rows_until(sub, 20)
        # Two thousand messages at once while nobody reads: beyond the high-water marks they are dropped.
        pub.burst(SERIAL, 2000)
        deadline = time.monotonic() + 30
        while pub.bursting(SERIAL) and time.monotonic() < deadline:
            time.sleep(0.05)
        # Read until the stream is past the burst: its index counts the dropped sets too.
        while blocks[-1].index[-1] < 20000 and time.monotonic() < deadline:
            block = sub.read(timeout=0.2)
            if block is not None:
                blocks.append(block)
    gaps = [g for b in blocks for g in b.gaps]
    assert gaps and all(g.reason == "sequence" for g in gaps) and sub.gaps[SERIAL] == gaps
    index = np.concatenate([b.index for b in blocks])
    assert len(index) + sum(g.sets for g in gaps) == index[-1] + 1
    first = next(m for m in pub.sent() if np.array_equal(m.values[0], blocks[0].raw[0])).first_sample
    check_values([(np.concatenate([b.raw for b in blocks]), index + first)])


def test_ctrl_c_ends_a_remote_recording_with_what_it_had(publishers, tmp_path):
    pub = publishers()
    pub.stream()
    script = textwrap.dedent(f"""
        import vorn
        rec = vorn.subscribe({pub.url!r}, {SERIAL!r}, control=None).record(60)
        rec.to_csv({str(tmp_path / "cut.csv")!r})
        print(len(rec), rec.interrupted, flush=True)
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=env)
    try:
        pub.wait_subscribed(30)
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=20)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    rows, interrupted = out.split()
    assert interrupted == "True" and 100 < int(rows) < 30000
    assert (tmp_path / "cut.csv").read_text().count("\n") > int(rows)


def test_the_package_imports_without_zmq_and_subscribe_says_how_to_install_it():
    script = textwrap.dedent("""
        import sys
        sys.modules["zmq"] = None
        import vorn
        assert vorn.devices and vorn.Recording
        try:
            vorn.subscribe("tcp://127.0.0.1:5650")
        except ImportError as e:
            print(e)
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 0, done.stderr
    assert "apt install python3-zmq" in done.stdout and "pip install pyzmq" in done.stdout


def publish_device(dev, stop: threading.Event, ready: threading.Event, url: list):
    """A publisher written with the package itself: the device's blocks as data messages."""
    context = zmq.Context()
    sock = context.socket(zmq.XPUB)
    sock.setsockopt(zmq.XPUB_VERBOSE, 1)
    sock.bind("tcp://127.0.0.1:*")
    url.append(sock.getsockopt(zmq.LAST_ENDPOINT).decode())
    start, sequence = time.monotonic(), 0
    try:
        with dev.stream(raw=True) as stream:
            meta = {"format": 1, "serial": dev.serial, "unique_id": dev.unique_id, "product": dev.product,
                    "version": dev.version, "period_us": stream.period_us, "streaming": True, "stream": 1,
                    "channels": [{"position": c.position, "name": c.name, "unit": c.unit, "minimum": c.minimum,
                                  "maximum": c.maximum, "enabled": True} for c in dev.channels],
                    "publisher": {"host": "here", "start_unix": time.time()}}
            ready.set()
            while not stop.is_set():
                if sock.poll(0):
                    sock.recv()
                    sock.send_multipart([_wire.meta_topic(dev.serial), json.dumps(meta).encode()])
                block = stream.read(timeout=0.05)
                if block is None:
                    continue
                host = ((block.host_times - start) * 1e6).astype(np.int64)
                # A message's rows follow on from its first sample index: one message per unbroken run.
                for run in np.split(np.arange(len(block)), np.nonzero(np.diff(block.index) != 1)[0] + 1):
                    m = _wire.DataMessage(dev.serial, sequence, int(block.index[run[0]]), stream.period_us,
                                          int(host[run[0]]), int(host[run[-1]]), ~block.valid[run],
                                          block.raw[run].astype(np.uint16))
                    sock.send_multipart([_wire.data_topic(dev.serial), _wire.encode_data(m)])
                    sequence += 1
    finally:
        ready.set()
        context.destroy(linger=0)


def test_a_simulated_device_arrives_as_its_sent_log_scaled_by_the_announced_limits(sim):
    dev = vorn.devices()[0]
    stop, ready, url = threading.Event(), threading.Event(), []
    thread = threading.Thread(target=publish_device, args=(dev, stop, ready, url), daemon=True)
    thread.start()
    try:
        assert ready.wait(30) and url
        rec = vorn.subscribe(url[0], dev.serial, control=None).record(1.5)
    finally:
        stop.set()
        thread.join(30)
    assert len(rec) == rec.sets == 750 and not rec.gaps and rec.valid.all()
    assert [c.name for c in rec.channels] == sim.describe().channel_names
    expected = expected_rows(str(sim.sent_log), sim.describe(), [c.position for c in dev.channels])
    assert find_run(expected, rec.raw.astype(np.int64)) >= 0, "the rows are not one run of what the device sent"
    for i, c in enumerate(rec.channels):
        np.testing.assert_allclose(rec.data[:, i], c.minimum + rec.raw[:, i] / 32767 * (c.maximum - c.minimum),
                                   rtol=0, atol=1e-9)
    assert (rec.serial, rec.product, rec.version) == (dev.serial, dev.product, dev.version)
