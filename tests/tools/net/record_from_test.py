"""`vornctl record --from` against a publisher double (publisher_double.py):
the files hold exactly what was published, every break in the stream is a
gap of the right size and reason, a publisher's restart is gone through, a
newer format stops it with the version text, keys are used and refused as
they must be, and a user who gets nothing is told why.

Run by ctest (label net) with VORNCTL set; /usr/bin/python3 (zmq, numpy, MNE).
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from publisher_double import Device, Publisher, curve_pair, free_port_pair

VORNCTL = os.path.abspath(os.environ.get("VORNCTL", "vornctl"))
OUT = os.environ.get("VORN_NET_OUT") or tempfile.mkdtemp(prefix="vornctl-net-")

CHANNELS = [("ECG", "mV", -5, 5), ("Resp", "", 0, 100), ("Temp", "degC", 30, 42), ("SpO2", "%", 0, 100)]


RUNNING = []  # every vornctl started, ended by the test's tearDown at the latest


class Recorder:
    """One `vornctl record --from` run; stderr kept in a file."""

    def __init__(self, folder, *args, user=None):
        self.folder = folder
        self.err_path = os.path.join(folder, f"record-{time.monotonic_ns()}.err")
        self.err = open(self.err_path, "wb")
        command = [VORNCTL, "record", *args]
        if user:
            import pwd
            entry = pwd.getpwnam(user)
            command = ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--clear-groups", *command]
        self.proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=self.err, cwd=folder)
        RUNNING.append(self)

    def stderr(self):
        if not self.err.closed:
            self.err.flush()
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_for_text(self, text, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.stderr():
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        raise AssertionError(f"'{text}' not said within {timeout} s:\n{self.stderr()}")

    def finish(self, timeout=30):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"vornctl did not end within {timeout} s:\n{self.stderr()}")
        self.err.close()
        return self.proc.returncode, self.stderr()

    def interrupt(self):
        self.proc.send_signal(signal.SIGINT)
        return self.finish()


def read_csv(path):
    """(comments, notes before row n, header, rows)."""
    comments, notes, header, rows = {}, [], None, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("# "):
                if header is None:
                    key, _, value = line[2:].partition(": ")
                    comments[key] = value
                else:
                    notes.append((len(rows), line[2:]))
            elif header is None:
                header = line.split(",")
            else:
                rows.append(line.split(","))
    return comments, notes, header, rows


def gap_notes(notes):
    """[(row, sets, reason)] of the GAP lines."""
    gaps = []
    for row, text in notes:
        if text.startswith("GAP: "):
            fields = dict(part.strip().split(" ", 1) for part in text[5:].split(","))
            gaps.append((row, int(fields["sets"]), fields["reason"]))
    return gaps


def stop_recorders():
    """Kills the recorders a test left running."""
    while RUNNING:
        r = RUNNING.pop()
        if r.proc.poll() is None:
            r.proc.kill()
            r.proc.wait()
        r.err.close()


class RecordFromTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(OUT, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.publishers = []

    def tearDown(self):
        stop_recorders()
        for p in self.publishers:
            p.close()

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text + "\n")
        os.chmod(self.path(name), 0o600)  # a key file is its owner's alone

    def publisher(self, devices, **kw):
        p = Publisher(devices, **kw)
        self.publishers.append(p)
        return p

    def path(self, name):
        return os.path.join(self.dir, name)

    def check_rows(self, csv_path, device, channels, period_us):
        """Every row equals what the publisher sent, in order, each index once;
        the gaps in the file are exactly the indexes that never came. Returns
        the rows and the gap notes."""
        comments, notes, header, rows = read_csv(csv_path)
        self.assertEqual(comments["serial"], device.serial)
        self.assertEqual(comments["period [us]"], str(period_us))
        expected_header = ["time [s]", "host time [s]"]
        for name, unit, _, _ in channels:
            expected_header += [f"{name} raw", f"{name} [{unit}]" if unit else name]
        self.assertEqual(header, expected_header)
        sent = dict(device.published_rows())
        first = min(i for i in sent if abs(float(rows[0][0])) < 1e-9 or True)
        # The recording's index 0 is the first row it wrote: find it by its values.
        candidates = [i for i, v in sent.items() if v is not None and
                      [int(x) for x in rows[0][2::2]] == v] if rows[0][2] else []
        self.assertTrue(candidates, "the first row is not among the rows sent")
        first = candidates[0]
        gaps = gap_notes(notes)
        gap_at = {row: sets for row, sets, _ in gaps}
        index = 0
        for n, row in enumerate(rows):
            index += gap_at.get(n, 0)
            self.assertAlmostEqual(float(row[0]), index * period_us / 1e6, places=6)
            values = sent.get(first + index, "never sent")
            self.assertNotEqual(values, "never sent", f"row {n} (index {first + index}) was never published")
            if values is None:
                self.assertEqual(row[2:], [""] * (2 * len(channels)), f"row {n} should be a damaged line")
            else:
                self.assertEqual([int(x) for x in row[2::2]], values, f"row {n}")
                for (name, unit, lo, hi), raw, physical in zip(channels, values, row[3::2]):
                    self.assertAlmostEqual(float(physical), lo + raw / 32767 * (hi - lo), delta=(hi - lo) / 32767)
            index += 1
        return rows, gaps

    def test_every_value_arrives_in_order_in_both_files_with_the_lease_held(self):
        a = Device("VSC1000001", CHANNELS, enabled=[1, 3], malformed_every=97)
        b = Device("VSC1000002", CHANNELS[:2], period_us=5000)
        pub = self.publisher([a, b])
        rec = Recorder(self.dir, "--from", pub.url, "--all", "--seconds", "2.5", "--out", "run.csv", "--out", "run.edf",
                       "--subject", "P-17")
        code, err = rec.finish()
        self.assertEqual(code, 0, err)
        for d, channels, period in ((a, [CHANNELS[0], CHANNELS[2]], 2000), (b, CHANNELS[:2], 5000)):
            rows, gaps = self.check_rows(self.path(f"run-{d.serial}.csv"), d, channels, period)
            self.assertEqual(len(rows), round(2.5e6 / period))
            self.assertEqual(gaps, [])
            # Host times are the publisher's, from the first row (here its lines came on time).
            self.assertAlmostEqual(float(rows[-1][1]), float(rows[-1][0]), delta=0.01)
            self.assertIn(f"wrote {self.path(f'run-{d.serial}.edf')}".replace(self.dir + "/", ""), err)
            import mne
            raw = mne.io.read_raw_edf(self.path(f"run-{d.serial}.edf"), preload=True, verbose="error")
            self.assertEqual(raw.ch_names, [c[0] for c in channels])
            self.assertAlmostEqual(raw.n_times / raw.info["sfreq"], 3.0 if period == 2000 else 3.0, delta=0.51)
            data = raw.get_data()
            lo, hi = channels[0][2], channels[0][3]
            scale = 1e-3 if channels[0][1] == "mV" else 1
            csv_first = [float(r[3]) for r in rows[:50] if r[3]]
            mne_first = [v / scale for v, r in zip(data[0][:50], rows[:50]) if r[3]]
            for x, y in zip(csv_first, mne_first):
                self.assertAlmostEqual(x, y, delta=(hi - lo) / 32767 * 1.01)
        # The lease: at once and every second while recording, then released.
        for d in (a, b):
            holds = pub.holders(d.serial)
            self.assertGreaterEqual(len(holds), 2, holds)  # at once, then renewed (2.5 s; fewer on a loaded machine)
            self.assertTrue(holds[0]["holder"].startswith("vornctl record on "), holds[0])
            self.assertIn({"action": "release", "device": d.serial, "holder": holds[0]["holder"]}, [
                {k: v for k, v in r.items() if k != "id"} for r in pub.request_log()])

    def test_lost_messages_and_the_publishers_gaps_are_gaps_in_both_files(self):
        d = Device("VSC1000003", CHANNELS, enabled=[1, 2])
        pub = self.publisher([d])
        rec = Recorder(self.dir, "--from", pub.url, d.serial, "--seconds", "3", "--out", "gaps.csv",
                       "--out", "gaps.edf")
        rec.wait_for_text("into gaps.csv", 10)
        time.sleep(0.7)
        pub.change(d.serial, drop=5)
        time.sleep(0.7)
        pub.change(d.serial, jump=300)
        code, err = rec.finish()
        self.assertEqual(code, 0, err)
        rows, gaps = self.check_rows(self.path("gaps.csv"), d, CHANNELS[:2], 2000)
        self.assertEqual([(sets, reason) for _, sets, reason in gaps][:1], [(gaps[0][1], "sequence")])
        self.assertEqual(len(gaps), 2, gaps)
        self.assertEqual(gaps[1][1:], (300, "publisher"))
        self.assertGreaterEqual(gaps[0][1], 5)  # five messages of 20 ms, about 50 sets
        self.assertEqual(len(rows) + sum(g[1] for g in gaps), 1500)
        self.assertIn("were lost between the publisher and vornctl", err)
        self.assertIn("the publisher lost 300 sample set(s)", err)
        import mne
        raw = mne.io.read_raw_edf(self.path("gaps.edf"), preload=True, verbose="error")
        bad = [(round(dur / 0.002), text) for text, dur in zip(raw.annotations.description, raw.annotations.duration)
               if text.startswith("BAD_gap")]
        self.assertEqual(bad, [(gaps[0][1], "BAD_gap sequence"), (300, "BAD_gap publisher")])
        self.assertAlmostEqual(raw.n_times / raw.info["sfreq"], 3.0, delta=1.0)

    def test_a_publisher_restart_is_a_gap_and_the_files_go_on(self):
        port = free_port_pair()
        d = Device("VSC1000004", CHANNELS[:1])
        pub = Publisher([d], port=port)
        rec = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "restart.csv", "--out", "restart.edf")
        try:
            rec.wait_for_text("into restart.csv", 10)
            time.sleep(1.0)
            pub.close()
            down = time.monotonic()
            time.sleep(1.5)
            again = Device("VSC1000004", CHANNELS[:1])
            pub2 = self.publisher([again], port=port)
            rec.wait_for_text("the publisher restarted", 15)
            up = time.monotonic()
            time.sleep(1.0)
        finally:
            code, err = rec.interrupt()
        self.assertEqual(code, 0, err)
        comments, notes, header, rows = read_csv(self.path("restart.csv"))
        gaps = gap_notes(notes)
        self.assertEqual(len(gaps), 1, notes)
        row, sets, reason = gaps[0]
        self.assertEqual(reason, "restart")
        # The gap is the time the stream was away: at least the downtime, at
        # most that plus the moments before and after it.
        self.assertGreater(sets * 0.002, 1.4)
        self.assertLess(sets * 0.002, up - down + 1.0)
        # After it, the new publisher's rows, unchanged, and time that stayed true.
        after = rows[row:]
        sent = dict(again.published_rows())
        start = [i for i, v in sent.items() if v == [int(after[0][2])]][0]
        for n, r in enumerate(after[:200]):
            self.assertEqual([int(r[2])], sent[start + n])
        self.assertAlmostEqual(float(after[0][1]) - float(rows[row - 1][1]), (sets + 1) * 0.002, delta=0.05)
        import mne
        raw = mne.io.read_raw_edf(self.path("restart.edf"), preload=True, verbose="error")
        self.assertIn("BAD_gap restart", list(raw.annotations.description))
        self.assertEqual(raw.n_times, (len(rows) + sets + 499) // 500 * 500)
        self.assertIn("stopped by Ctrl-C", err)

    def test_a_newer_format_stops_it_with_the_version_text_and_the_files_finished(self):
        d = Device("VSC1000005", CHANNELS[:2])
        pub = self.publisher([d])
        rec = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "newer.csv")
        rec.wait_for_text("into newer.csv", 10)
        time.sleep(0.5)
        pub.change(d.serial, newer=True)
        code, err = rec.finish(10)
        self.assertEqual(code, 1, err)
        self.assertIn("the publisher sends stream format 2, this program reads format 1: update it to the "
                      "publisher's release", err)
        self.assertTrue(os.path.exists(self.path("newer.csv")), err)
        self.check_rows(self.path("newer.csv"), d, CHANNELS[:2], 2000)

    def test_new_channels_on_the_publisher_go_into_a_new_file(self):
        d = Device("VSC1000006", CHANNELS)
        pub = self.publisher([d])
        rec = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "parts.csv", "--seconds", "2")
        rec.wait_for_text("into parts.csv", 10)
        time.sleep(0.6)
        first_part = list(d.sent)
        pub.change(d.serial, enabled=[2, 4])
        code, err = rec.finish()
        self.assertEqual(code, 0, err)
        self.assertIn("parts.csv ends there, the recording goes on in parts-2.csv", err)
        _, _, header1, rows1 = read_csv(self.path("parts.csv"))
        _, _, header2, rows2 = read_csv(self.path("parts-2.csv"))
        self.assertEqual(header1[2::2], ["ECG raw", "Resp raw", "Temp raw", "SpO2 raw"])
        self.assertEqual(header2[2::2], ["Resp raw", "SpO2 raw"])
        self.assertEqual(len(rows1) + len(rows2), 1000)  # --seconds counts across the parts
        self.assertTrue(first_part)

    def test_keys_are_used_and_a_client_without_the_right_ones_gets_nothing_and_is_told_why(self):
        server_public, server_secret = curve_pair()
        client_public, client_secret = curve_pair()
        stranger_public, stranger_secret = curve_pair()
        self.write("server.pub", server_public)
        self.write("client.key", f"public-key = {client_public}\nsecret-key = {client_secret}\n")
        self.write("stranger.key", f"public-key = {stranger_public}\nsecret-key = {stranger_secret}\n")
        d = Device("VSC1000007", CHANNELS[:1])
        pub = self.publisher([d], server_secret=server_secret, client_keys=[client_public])
        keyed = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "keyed.csv", "--seconds", "1",
                         "--server-key", "server.pub", "--client-key", "client.key")
        stranger = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "stranger.csv",
                            "--server-key", "server.pub", "--client-key", "stranger.key")
        plain = Recorder(self.dir, "--from", pub.url, d.serial, "--out", "plain.csv")
        code, err = keyed.finish()
        self.assertEqual(code, 0, err)
        self.check_rows(self.path("keyed.csv"), d, CHANNELS[:1], 2000)
        stranger.wait_for_text("refused this client's key", 15)
        plain.wait_for_text("asks for keys", 15)
        for r, name in ((stranger, "stranger.csv"), (plain, "plain.csv")):
            code, err = r.interrupt()
            self.assertEqual(code, 1, err)
            self.assertIn("nothing was recorded", err)
            self.assertFalse(os.path.exists(self.path(name)), err)
            self.assertFalse(os.path.exists(self.path(name.replace(".csv", ".partial.csv"))), err)
        self.assertIn(stranger_public, pub.zap_refusals)

    def test_nothing_there_and_a_device_not_served_are_explained(self):
        port = free_port_pair()
        rec = Recorder(self.dir, "--from", f"tcp://127.0.0.1:{port}", "VSC1", "--out", "none.csv")
        rec.wait_for_text(f"nothing answers at tcp://127.0.0.1:{port}", 15)
        code, err = rec.interrupt()
        self.assertEqual(code, 1, err)
        pub = self.publisher([Device("VSC1000008", CHANNELS[:1]), Device("VSC1000009", CHANNELS[:1])])
        rec = Recorder(self.dir, "--from", pub.url, "VSC1000010", "--out", "other.csv")
        rec.wait_for_text("it serves VSC1000008, VSC1000009", 15)
        code, err = rec.interrupt()
        self.assertEqual(code, 1, err)

    def test_wrong_usage_is_refused_before_anything_is_connected(self):
        open(self.path("exists.csv"), "w").close()
        cases = [
            (["--from", "tcp://192.0.2.1:5650", "VSC1", "--out", "a.csv"], "speaks only with keys"),
            (["--from", "tcp://127.0.0.1:5650", "VSC1", "--out", "a.csv", "--channels", "1"], "the publisher streams"),
            (["--from", "tcp://127.0.0.1:5650", "VSC1", "--out", "exists.csv"], "exists.csv"),
            (["--from", "tcp://127.0.0.1:5650", "--out", "a.csv"], "--all"),
            (["--from", "127.0.0.1:5650", "--all", "--out", "a.csv"], "tcp://HOST:5650"),
            (["--from", "tcp://127.0.0.1:5650", "--all", "--out", "-"], "one device"),
            (["--from", "tcp://127.0.0.1:5650", "VSC1", "--out", "a.csv", "--server-key", "x.pub"], "--client-key"),
            (["VSC1", "--out", "a.csv", "--server-key", "x.pub"], "go with --from"),
        ]
        for args, text in cases:
            code, err = Recorder(self.dir, *args).finish(10)
            self.assertEqual(code, 2, (args, err))
            self.assertIn(text, err, args)

    def test_a_key_file_this_user_may_not_read_is_named(self):
        server_public, _ = curve_pair()
        client_public, client_secret = curve_pair()
        os.chmod(self.dir, 0o777)
        self.write("server.pub", server_public)  # root's alone
        self.write("client.key", f"public-key = {client_public}\nsecret-key = {client_secret}\n")
        code, err = Recorder(self.dir, "--from", "tcp://127.0.0.1:5650", "VSC1", "--out", "k.csv",
                             "--server-key", "server.pub", "--client-key", "client.key", user="nobody").finish(10)
        self.assertEqual(code, 2, err)
        self.assertIn("--server-key: cannot read server.pub: Permission denied", err)

    def test_keeps_up_with_32_devices_at_500_lines_a_second(self):
        devices = [Device(f"VSC20000{n:02d}", CHANNELS) for n in range(32)]
        pub = self.publisher(devices)
        rec = Recorder(self.dir, "--from", pub.url, "--all", "--seconds", "5", "--out", "many.csv")
        code, err = rec.finish(60)
        self.assertEqual(code, 0, err)
        self.assertNotIn("gap", err)
        for d in devices:
            rows, gaps = self.check_rows(self.path(f"many-{d.serial}.csv"), d, CHANNELS, 2000)
            self.assertEqual((len(rows), gaps), (2500, []), d.serial)


if __name__ == "__main__":
    unittest.main(verbosity=2)
