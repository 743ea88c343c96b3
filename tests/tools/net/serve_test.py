"""`vornctl serve` with simulated devices and subscribers over loopback: the
values and metadata, a late subscriber, the controls and the recording lease,
a subscriber that never reads, CURVE, and the refusals at start."""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import unittest

import zmq

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "view"))
from view_harness import OUT, VORNCTL, Sim, find_run, read_line, scaled  # noqa: E402

sys.path.insert(0, os.environ.get("VORN_PYTHON_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "..",
                                                                   "python")))
from vorn import _wire  # noqa: E402

CTX = zmq.Context.instance()
A_CHANNELS = [("Pressure", "mmHg", 0, 300, "sine", 1), ("Temp", "degC", 30, 42, "ramp", 0.5)]
B_CHANNELS = [("ECG", "mV", -5, 5, "sine", 3), ("Pleth", "na", 0, 100, "ramp", 1), ("Resp", "l/min", 0, 60, "square", 2)]
C_CHANNELS = [("Flow", "ml/s", -100, 100, "sine", 2)]
WIDE_CHANNELS = [(f"EEG{i}", "uV", -200, 200, "sine", 1 + i % 5) for i in range(16)]


def serial_text(sim_serial):
    """The driver's serial text: what follows the serial number's first three characters."""
    return sim_serial[3:]


class Serve:
    """`vornctl serve --all` over the given simulators on free loopback ports."""

    def __init__(self, sims, extra=(), bind="tcp://127.0.0.1:*", user=None):
        env = dict(os.environ, VORN_PORTS=";".join(s.port_entry for s in sims))
        self.err_path = os.path.join(OUT, f"serve-{os.getpid()}-{time.monotonic_ns()}.err")
        self.err = open(self.err_path, "wb")
        command = [VORNCTL, "serve", "--all", "--bind", bind, *extra]
        if user:
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *command]
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self.err, env=env, cwd=OUT)
        self.data = self.control = None

    def wait_endpoints(self):
        self.data = read_line(self.proc, 90, "data endpoint")
        self.control = read_line(self.proc, 10, "control endpoint")
        return self

    def stderr_text(self):
        if not self.err.closed:
            self.err.flush()
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()
        self.proc.stdout.close()
        return self.proc.returncode, self.stderr_text()


def curve(sock, server_public=None, keys=None):
    if server_public:
        sock.curve_serverkey = server_public.encode()
        sock.curve_publickey = keys["public"].encode()
        sock.curve_secretkey = keys["secret"].encode()


def subscriber(endpoint, prefix=b"", rcvhwm=None, rcvbuf=None, **keys):
    sock = CTX.socket(zmq.SUB)
    sock.linger = 0
    if rcvhwm:
        sock.rcvhwm = rcvhwm
    if rcvbuf:
        sock.rcvbuf = rcvbuf
    curve(sock, **keys)
    sock.connect(endpoint)
    sock.setsockopt(zmq.SUBSCRIBE, prefix)
    return sock


def collect(sock, seconds, until=None):
    """(arrival, topic, payload) for this long, or until until(messages) holds."""
    out = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if sock.poll(50):
            while True:
                try:
                    topic, payload = sock.recv_multipart(zmq.NOBLOCK)
                except zmq.Again:
                    break
                out.append((time.monotonic(), topic, payload))
            if until and until(out):
                break
    return out


def split(messages, serial):
    """The device's metadata (last) and decoded data messages."""
    meta, data = None, []
    for _, topic, payload in messages:
        if topic == _wire.meta_topic(serial):
            meta = json.loads(payload)
        elif topic == _wire.data_topic(serial):
            data.append(_wire.decode_data(payload))
    return meta, data


class Controller:
    def __init__(self, endpoint, kind=zmq.DEALER, **keys):
        self.sock = CTX.socket(kind)
        self.sock.linger = 0
        curve(self.sock, **keys)
        self.sock.connect(endpoint)
        self.kind = kind
        self.next_id = 0

    def ask(self, request, timeout=10):
        self.next_id += 1
        if isinstance(request, dict):
            request = dict(request, id=request.get("id", self.next_id))
            request = json.dumps(request).encode()
        self.sock.send(request)
        if not self.sock.poll(timeout * 1000):
            raise AssertionError(f"no reply to {request[:80]!r} within {timeout} s")
        return json.loads(self.sock.recv())


def assert_values_match(test, sim, meta, data):
    """Every row equals one of the simulator's sent lines scaled by the announced limits, in order."""
    sent = sim.sent_lines()
    enabled = [c for c in meta["channels"] if c["enabled"]]
    positions = [c["position"] for c in enabled]
    expected = [[scaled(line[p - 1], c["minimum"], c["maximum"]) for p, c in zip(positions, enabled)] for line in sent]
    rows = [list(map(int, row)) for m in data for row in m.values]
    test.assertGreater(len(rows), 100, sim.sent_log)
    start = find_run(expected, rows, [1] * len(positions))
    test.assertGreaterEqual(start, 0, f"{sim.sent_log}: the received rows are not consecutive sent lines")
    for c, (name, unit, lo, hi, _, _) in zip(meta["channels"], sim.channels):
        test.assertEqual((c["name"], c["minimum"], c["maximum"]), (name, lo, hi))


def assert_no_loss(test, data):
    test.assertTrue(data)
    for before, after in zip(data, data[1:]):
        test.assertEqual(after.sequence, before.sequence + 1)
        test.assertEqual(after.first_sample, before.first_sample + len(before.values))


class StreamTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sims = [Sim("VSC0000301", A_CHANNELS), Sim("VSC0000302", B_CHANNELS), Sim("VSC0000303", C_CHANNELS)]
        cls.serve = Serve(cls.sims).wait_endpoints()

    @classmethod
    def tearDownClass(cls):
        try:
            code, err = cls.serve.stop()
        finally:
            for s in cls.sims:
                s.stop()
        assert code == 0, err

    def test_values_equal_the_sent_lines_in_order_and_a_late_subscriber_has_metadata_within_a_second(self):
        everything = subscriber(self.serve.data)
        messages = collect(everything, 4)
        everything.close()
        for sim in self.sims:
            with self.subTest(sim=sim.sent_log):
                meta, data = split(messages, serial_text(sim.port_entry.split("=")[0]))
                self.assertIsNotNone(meta)
                self.assertEqual(meta["format"], 1)
                self.assertTrue(meta["streaming"])
                self.assertEqual(meta["period_us"], 2000)
                self.assertEqual(data[0].period_us, 2000)
                assert_no_loss(self, data)
                assert_values_match(self, sim, meta, data)
                # About 50 messages a second: no message holds more than the 20 ms window allows.
                self.assertLess(len(data), 4 * 120)
        # A late subscriber to one device: its metadata within a second, nothing of the others.
        serial = serial_text("VSC0000302")
        joined = time.monotonic()
        late = subscriber(self.serve.data, _wire.device_prefix(serial))
        got = collect(late, 3, until=lambda m: any(t.endswith(b"/meta") for _, t, _ in m))
        late.close()
        metas = [arrival for arrival, topic, _ in got if topic == _wire.meta_topic(serial)]
        self.assertTrue(metas, "no metadata for the late subscriber")
        self.assertLess(metas[0] - joined, 1.0)
        self.assertTrue(all(t.startswith(_wire.device_prefix(serial)) for _, t, _ in got))

    def test_start_unix_puts_the_host_times_on_this_machine_s_clock(self):
        # start_unix + a line's host time is when the publisher read it: never after the
        # message arrived here, and not long before (a start taken apart from the host
        # times' origin would put them elsewhere).
        wall_lead = time.time() - time.monotonic()
        sock = subscriber(self.serve.data)
        messages = collect(sock, 2)
        sock.close()
        start_unix = {}
        for _, topic, payload in messages:
            if topic.endswith(b"/meta"):
                start_unix[_wire.topic_serial(topic)] = json.loads(payload)["publisher"]["start_unix"]
        delays = [arrival - (start_unix[m.serial] - wall_lead + m.last_host_us / 1e6)
                  for arrival, topic, payload in messages if topic.endswith(b"/data")
                  for m in [_wire.decode_data(payload)]]
        self.assertGreater(len(delays), 50)
        self.assertGreater(min(delays), -200e-6, "a host time after its message arrived")
        self.assertLess(statistics.median(delays), 1.0, "host times not on this machine's clock")


class ControlTest(unittest.TestCase):
    def test_controls_answer_as_view_does_and_a_held_device_refuses_changes(self):
        sim = Sim("VSC0000311", B_CHANNELS)
        serve = Serve([sim]).wait_endpoints()
        try:
            serial = serial_text("VSC0000311")
            dealer = Controller(serve.control)
            watch = subscriber(serve.data, _wire.device_prefix(serial))
            device = {"device": serial}
            self.assertEqual(dealer.ask(dict(device, action="hold", holder="ward-4"))["status"], 200)
            for change in ({"action": "stop"}, {"action": "channels", "channels": [2]},
                           {"action": "period", "periodUs": 5000}):
                reply = dealer.ask(dict(device, **change, id="lease"))
                self.assertEqual((reply["status"], reply["id"]), (409, "lease"), reply)
                self.assertIn("being recorded by ward-4", reply["error"])
            self.assertIn("already streaming", dealer.ask(dict(device, action="start"))["error"])
            self.assertEqual(dealer.ask(dict(device, action="release", holder="ward-4"))["status"], 200)
            stopped = dealer.ask(dict(device, action="stop"))
            self.assertEqual(stopped["status"], 200, stopped)
            self.assertEqual(stopped["device"]["status"], "stopped")
            self.assertEqual(dealer.ask(dict(device, action="channels", channels=[2]))["status"], 200)
            # A REQ client's empty delimiter frame is accepted too.
            req = Controller(serve.control, kind=zmq.REQ)
            self.assertEqual(req.ask(dict(device, action="start"))["status"], 200)
            got = collect(watch, 3)
            metas = [json.loads(p) for _, t, p in got if t.endswith(b"/meta")]
            self.assertTrue(any(not m["streaming"] for m in metas), "the stop was not announced")
            self.assertEqual([c["enabled"] for c in metas[-1]["channels"]], [False, True, False])
            data = [_wire.decode_data(p) for _, t, p in got if t.endswith(b"/data")]
            started = [m for m in data if m.values.shape[1] == 1]
            self.assertTrue(started, "no data of the new stream")
            self.assertEqual(started[0].first_sample, 0)
            assert_values_match(self, sim, metas[-1], started)
            for wrong, status in ((b"not json", 400), (b"[1]", 400), ({"device": "nobody", "action": "start"}, 404),
                                  (dict(device, action="explode"), 404), (dict(device, action="record"), 400),
                                  (dict(device, action="channels", channels=[9]), 400),
                                  (b"{" + b" " * 5000 + b"}", 413)):
                with self.subTest(request=str(wrong)[:40]):
                    self.assertEqual(dealer.ask(wrong)["status"], status)
            listed = dealer.ask({"action": "devices"})
            self.assertEqual([d["serial"] for d in listed["devices"]], [serial])
        finally:
            code, err = serve.stop()
            sim.stop()
        self.assertEqual(code, 0, err)
        self.assertIn("stopped every stream", err)


class SlowSubscriberTest(unittest.TestCase):
    def test_a_subscriber_that_never_reads_sees_a_gap_while_the_others_lose_nothing(self):
        # Wide rows, so the kernel's buffers beyond the high-water mark fill within the test's time.
        sims = [Sim("VSC0000321", WIDE_CHANNELS), Sim("VSC0000322", WIDE_CHANNELS)]
        serve = Serve(sims, extra=("--send-hwm", "20")).wait_endpoints()
        try:
            slow = subscriber(serve.data, rcvhwm=5, rcvbuf=4096)
            good = subscriber(serve.data)
            messages = collect(good, 20)
            # Now the slow one reads what ZeroMQ kept for it.
            kept = collect(slow, 3)
            slow.close()
            good.close()
        finally:
            code, err = serve.stop()
            for s in sims:
                s.stop()
        self.assertEqual(code, 0, err)
        jumped = False
        for sim in sims:
            serial = serial_text(sim.port_entry.split("=")[0])
            _, data = split(messages, serial)
            assert_no_loss(self, data)
            _, late = split(kept, serial)
            jumped |= any(b.sequence != a.sequence + 1 for a, b in zip(late, late[1:]))
        self.assertTrue(jumped, "the slow subscriber saw no gap in the sequence")


def keygen(folder, name):
    done = subprocess.run([VORNCTL, "keygen", os.path.join(folder, name)], capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    keys = {}
    with open(os.path.join(folder, name + ".key")) as f:
        for line in f:
            if "=" in line:
                label, value = (p.strip() for p in line.split("=", 1))
                keys[label.split("-")[0]] = value
    assert keys["public"] == done.stdout.strip()
    return keys


class CurveTest(unittest.TestCase):
    def test_only_listed_client_keys_get_data_and_controls_and_refusals_are_logged(self):
        folder = tempfile.mkdtemp(prefix="serve-keys-", dir=OUT)
        server, client, stranger = (keygen(folder, n) for n in ("server", "client", "stranger"))
        self.assertEqual(oct(os.stat(os.path.join(folder, "server.key")).st_mode & 0o777), "0o600")
        again = subprocess.run([VORNCTL, "keygen", os.path.join(folder, "server")], capture_output=True, text=True)
        self.assertNotEqual(again.returncode, 0)
        self.assertIn("exists", again.stderr)
        clients = os.path.join(folder, "clients")
        with open(clients, "w") as f:
            f.write("# the central recorder\n")
            with open(os.path.join(folder, "client.pub")) as pub:
                f.write(pub.read())
        sim = Sim("VSC0000331", C_CHANNELS)
        serve = Serve([sim], extra=("--curve-secret", os.path.join(folder, "server.key"),
                                    "--curve-clients", clients)).wait_endpoints()
        try:
            serial = serial_text("VSC0000331")
            listed = subscriber(serve.data, server_public=server["public"], keys=client)
            refused = subscriber(serve.data, server_public=server["public"], keys=stranger)
            plain = subscriber(serve.data)
            got = collect(listed, 3)
            self.assertTrue(any(t == _wire.data_topic(serial) for _, t, _ in got))
            self.assertEqual(collect(refused, 1) + collect(plain, 1), [])
            self.assertEqual(Controller(serve.control, server_public=server["public"], keys=client)
                             .ask({"device": serial, "action": "devices"})["status"], 200)
            with self.assertRaises(AssertionError):
                Controller(serve.control, server_public=server["public"], keys=stranger).ask({"action": "devices"}, 2)
            for s in (listed, refused, plain):
                s.close()
            err = serve.stderr_text()
            self.assertIn("refused a client", err)
            self.assertIn(stranger["public"], err)
            self.assertNotIn(client["public"], err)
        finally:
            code, err = serve.stop()
            sim.stop()
        self.assertEqual(code, 0, err)

    def test_refused_at_start_plaintext_beyond_loopback_and_keys_another_user_cannot_read(self):
        folder = tempfile.mkdtemp(prefix="serve-keys-", dir=OUT)
        keygen(folder, "server")
        os.chmod(folder, 0o755)
        for bind, extra, words in (
                ("tcp://0.0.0.0:5650", (), "not a loopback address"),
                ("tcp://127.0.0.1:5650", ("--control", "tcp://0.0.0.0:5651"), "not a loopback address"),
                ("tcp://127.0.0.1:5650", ("--curve-secret", os.path.join(folder, "server.pub"), "--curve-clients",
                                          os.path.join(folder, "server.pub")), "holds no secret key"),
                ("tcp://127.0.0.1:5650", ("--curve-secret", os.path.join(folder, "server.key")), "--curve-clients"),
                ("udp://127.0.0.1:5650", (), "tcp://HOST:PORT")):
            with self.subTest(bind=bind, extra=extra):
                done = subprocess.run([VORNCTL, "serve", "--all", "--bind", bind, *extra], capture_output=True,
                                      text=True, timeout=30, env=dict(os.environ, VORN_PORTS=""))
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn(words, done.stderr)
        # Another user is kept out of the secret key by its mode, and is told which file.
        done = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", VORNCTL, "serve",
                               "--all", "--curve-secret", os.path.join(folder, "server.key"), "--curve-clients",
                               os.path.join(folder, "server.pub")], capture_output=True, text=True, timeout=30,
                              env=dict(os.environ, VORN_PORTS=""))
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("cannot read " + os.path.join(folder, "server.key"), done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
