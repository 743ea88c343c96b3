"""`vornctl record --from` end to end against a real `vornctl serve` with a
simulated device: the files hold the device's values in order, a publisher
killed and started again is a gap in the same files, and CURVE keys are used
and refused as they must be."""
import os
import signal
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "view"))
from publisher_double import free_port_pair  # noqa: E402
from record_from_test import OUT, Recorder, gap_notes, read_csv, stop_recorders  # noqa: E402
from serve_test import C_CHANNELS, Serve, keygen, serial_text  # noqa: E402
from view_harness import Sim, find_run, scaled  # noqa: E402


def raw_rows(sim, rows):
    """The CSV's raw values of each row, None for a gap or damaged row."""
    return [[int(v) for v in r[2::2]] if r[2] else None for r in rows]


def sent_raw(sim):
    limits = [(c[2], c[3]) for c in sim.channels]
    return [[scaled(v, lo, hi) for v, (lo, hi) in zip(line, limits)] for line in sim.sent_lines()]


def runs(values):
    """The rows between gaps (None), as lists."""
    out, run = [], []
    for v in values:
        if v is None:
            if run:
                out.append(run)
            run = []
        else:
            run.append(v)
    if run:
        out.append(run)
    return out


class RecordFromServeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.id().rsplit(".", 1)[-1] + "-", dir=OUT)
        self.stoppable = []

    def tearDown(self):
        stop_recorders()
        for p in reversed(self.stoppable):
            p.stop()

    def started(self, thing):
        self.stoppable.append(thing)
        return thing

    def test_values_in_order_and_a_killed_and_restarted_publisher_is_a_gap_in_the_same_files(self):
        sim = self.started(Sim("VSC0000501", C_CHANNELS))
        bind = f"tcp://127.0.0.1:{free_port_pair()}"
        serve = self.started(Serve([sim], bind=bind).wait_endpoints())
        serial = serial_text("VSC0000501")
        rec = Recorder(self.dir, "--from", bind, serial, "--out", "run.csv", "--out", "run.edf")
        rec.wait_for_text("into run.csv", 20)
        time.sleep(2)
        serve.proc.send_signal(signal.SIGKILL)
        serve.stop()
        time.sleep(1.5)
        self.started(Serve([sim], bind=bind).wait_endpoints())
        deadline = time.monotonic() + 30
        while "the publisher restarted" not in rec.stderr().split("into run.csv", 1)[1] and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(2)
        code, err = rec.interrupt()
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(f for f in os.listdir(self.dir) if f.startswith("run")), ["run.csv", "run.edf"])
        comments, notes, header, rows = read_csv(os.path.join(self.dir, "run.csv"))
        self.assertEqual(comments["serial"], serial)
        self.assertEqual(header, ["time [s]", "host time [s]", "Flow raw", "Flow [ml/s]"])
        # Times are the sample index by the period, gaps included.
        gaps = gap_notes(notes)
        self.assertTrue(gaps, err)
        self.assertIn("restart", [reason for _, _, reason in gaps])
        index, gap_at = 0, {row: sets for row, sets, _ in gaps}
        for n, row in enumerate(rows):
            index += gap_at.get(n, 0)
            self.assertAlmostEqual(float(row[0]), index * 0.002, places=6)
            index += 1
        # Before and after the restart the rows are the device's lines, in order.
        before = [r for r in raw_rows(sim, rows[:min(gap_at)]) if r]
        after = [r for r in raw_rows(sim, rows[max(gap_at):]) if r]
        self.assertGreater(len(before), 300)
        self.assertGreater(len(after), 300)
        sent = sent_raw(sim)
        for part in (before, after):
            for run in runs(part)[:1] + runs(part)[-1:]:
                self.assertGreaterEqual(find_run(sent, run[-200:], [1]), 0, run[:3])
        self.assertIn("the publisher restarted", err)
        import mne
        raw = mne.io.read_raw_edf(os.path.join(self.dir, "run.edf"), preload=True, verbose="error")
        self.assertTrue(any(text == "BAD_gap restart" for text in raw.annotations.description),
                        list(raw.annotations.description))
        # EDF+ holds whole data records: the last one is filled up.
        total = len(rows) + sum(gap_at.values())
        self.assertGreaterEqual(raw.n_times, total)
        self.assertLess(raw.n_times, total + raw.info["sfreq"])

    def test_keys_are_used_and_a_client_not_listed_gets_nothing_and_is_told_why(self):
        folder = tempfile.mkdtemp(prefix="keys-", dir=self.dir)
        keygen(folder, "server")
        keygen(folder, "client")
        keygen(folder, "stranger")
        clients = os.path.join(folder, "clients")
        with open(os.path.join(folder, "client.pub")) as pub, open(clients, "w") as f:
            f.write(pub.read())
        sim = self.started(Sim("VSC0000511", C_CHANNELS))
        serve = self.started(Serve([sim], extra=("--curve-secret", os.path.join(folder, "server.key"),
                                                 "--curve-clients", clients)).wait_endpoints())
        control = ["--control", serve.control]
        server_key = ["--server-key", os.path.join(folder, "server.pub")]
        serial = serial_text("VSC0000511")
        keyed = Recorder(self.dir, "--from", serve.data, *control, serial, "--seconds", "1", "--out", "keyed.csv",
                         *server_key, "--client-key", os.path.join(folder, "client.key"))
        stranger = Recorder(self.dir, "--from", serve.data, *control, serial, "--seconds", "1",
                            "--out", "stranger.csv", *server_key, "--client-key", os.path.join(folder, "stranger.key"))
        code, err = keyed.finish(60)
        self.assertEqual(code, 0, err)
        _, _, _, rows = read_csv(os.path.join(self.dir, "keyed.csv"))
        self.assertEqual(len(rows), 500)
        self.assertGreaterEqual(find_run(sent_raw(sim), raw_rows(sim, rows)[-100:], [1]), 0)
        time.sleep(6)  # the stranger is told why after 5 s of nothing
        stranger.proc.send_signal(signal.SIGINT)
        code, err = stranger.finish(30)
        self.assertNotEqual(code, 0, err)
        self.assertIn("refused this client's key", err)
        self.assertEqual([f for f in os.listdir(self.dir) if f.startswith("stranger")], [])
        self.assertIn("refused a client", serve.stderr_text())


if __name__ == "__main__":
    unittest.main()
