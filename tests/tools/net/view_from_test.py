"""`vornctl view --from` against a real `vornctl serve` with simulated devices:
the publisher's device beside a local one with its values and metadata, its
controls relayed and refused under another subscriber's lease, a recording
from the page that holds the lease, a publisher's restart, two publishers
(one with CURVE keys) and the usage errors."""
import csv
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "view"))
from publisher_double import free_port_pair  # noqa: E402
from serve_test import B_CHANNELS, C_CHANNELS, Controller, Serve, keygen, serial_text  # noqa: E402
from view_harness import OUT, VORNCTL, Sim, View, find_run, scaled  # noqa: E402
from view_server_test import A_CHANNELS, read_events  # noqa: E402


def expected_rows(sim, channels):
    """The sim's sent lines as the driver scales them, the given positions only."""
    limits = [(c[2], c[3]) for c in sim.channels]
    return [[scaled(line[p - 1], *limits[p - 1]) for p in channels] for line in sim.sent_lines()]


class ViewFromTest(unittest.TestCase):
    def setUp(self):
        self.processes = []

    def tearDown(self):
        for p in reversed(self.processes):
            p.stop()

    def started(self, thing):
        self.processes.append(thing)
        return thing

    def test_remote_device_beside_a_local_one_with_its_values_and_controls_relayed_and_refused_under_a_lease(self):
        local = self.started(Sim("VSC0000401", A_CHANNELS))
        remote = self.started(Sim("VSC0000402", B_CHANNELS))
        port = free_port_pair()
        serve = self.started(Serve([remote], extra=["--no-start"], bind=f"tcp://127.0.0.1:{port}").wait_endpoints())
        self.assertEqual(serve.control, f"tcp://127.0.0.1:{port + 1}")
        view = self.started(View([local], extra=["--from", f"tcp://127.0.0.1:{port}"]))
        devices = view.wait_for(lambda ds: len(ds) == 2, 20, "the publisher's device on the page")
        here, there = devices
        self.assertEqual((here["index"], here["source"]), (0, ""))
        self.assertEqual(there["index"], 1)
        self.assertEqual(there["source"], f"tcp://127.0.0.1:{port}")
        self.assertEqual(there["serial"], serial_text("VSC0000402"))
        self.assertEqual([c["name"] for c in there["channels"]], [c[0] for c in B_CHANNELS])
        self.assertEqual(there["status"], "stopped")

        # A start goes to the publisher, which starts its device.
        status, reply = view.post(1, "start")
        self.assertEqual(status, 200, reply)
        dealer = Controller(serve.control)
        serial = serial_text("VSC0000402")
        self.assertEqual(dealer.ask({"device": serial, "action": "devices"})["device"]["status"], "streaming")
        view.wait_for(lambda ds: ds[1]["status"] == "streaming", 10, "the remote device streaming on the page")

        _, events = read_events(view, 2.5)
        blocks = [b for e, d in events if e == "blocks" for b in d["blocks"] if b["device"] == 1]
        self.assertGreater(len(blocks), 10)
        for before, after in zip(blocks, blocks[1:]):
            self.assertEqual(after["stream"], before["stream"])
            self.assertEqual(after["first"], before["first"] + len(before["values"][0]) + before["skipped"])
        rows = [[col[i] for col in b["values"]] for b in blocks[-3:] for i in range(len(b["values"][0]))]
        self.assertGreaterEqual(find_run(expected_rows(remote, [1, 2, 3]), rows, [1, 1, 1]), 0, rows[:3])
        self.assertFalse(any(b["device"] == 0 for e, d in events if e == "blocks" for b in d["blocks"]),
                         "the stopped local device sent blocks")

        # Another subscriber records it: the page's changes are refused as the publisher words it.
        self.assertEqual(dealer.ask({"device": serial, "action": "hold", "holder": "ward-7"})["status"], 200)
        for action, body in (("stop", {}), ("period", {"periodUs": 5000}), ("channels", {"channels": [1]})):
            status, reply = view.post(1, action, body)
            self.assertEqual(status, 409, (action, reply))
            self.assertIn("being recorded by ward-7", reply["error"])
        self.assertEqual(view.devices()[1]["status"], "streaming")
        self.assertEqual(dealer.ask({"device": serial, "action": "release", "holder": "ward-7"})["status"], 200)
        stream = view.devices()[1]["stream"]
        status, reply = view.post(1, "period", {"periodUs": 5000})
        self.assertEqual(status, 200, reply)
        view.wait_for(lambda ds: ds[1]["periodUs"] == 5000 and ds[1]["stream"] > stream, 10, "the new period")
        # A refusal the page makes itself, before anything is sent.
        status, reply = view.post(1, "channels", {"channels": [9]})
        self.assertEqual(status, 400, reply)

    def test_a_recording_from_the_page_holds_the_lease_and_a_publisher_restart_is_a_new_stream_on_the_same_panel(self):
        remote = self.started(Sim("VSC0000411", C_CHANNELS))
        port = free_port_pair()
        bind = f"tcp://127.0.0.1:{port}"
        serve = self.started(Serve([remote], bind=bind).wait_endpoints())
        out = tempfile.mkdtemp(prefix="view-from-", dir=OUT)
        # No local device at all: the page shows the publisher's.
        view = self.started(View([], extra=["--from", bind], out_dir=out))
        view.wait_for(lambda ds: len(ds) == 1 and ds[0]["status"] == "streaming", 20, "the publisher's device")
        serial = serial_text("VSC0000411")

        status, reply = view.post(0, "record", {"format": "csv"})
        self.assertEqual(status, 200, reply)
        dealer = Controller(serve.control)
        time.sleep(2)
        refused = dealer.ask({"device": serial, "action": "stop"})
        self.assertEqual(refused["status"], 409, refused)
        self.assertIn("being recorded by vornctl view on", refused["error"])
        status, reply = view.post(0, "record-stop")
        self.assertEqual(status, 200, reply)
        path = reply["path"]
        with open(path, newline="") as f:
            rows = list(csv.reader(line for line in f if not line.startswith("# ")))[1:]
        self.assertEqual(len(rows), reply["device"]["lastRecording"]["lines"])
        self.assertGreater(len(rows), 300)
        self.assertEqual([float(r[0]) for r in rows[:2]], [0, 0.002])
        raw = [[int(r[2])] for r in rows[-200:]]
        self.assertGreaterEqual(find_run(expected_rows(remote, [1]), raw, [1]), 0, raw[:3])
        # The release went with the recording's end: another subscriber may change the device again.
        changed = dealer.ask({"device": serial, "action": "period", "periodUs": 5000})
        self.assertEqual(changed["status"], 200, changed)
        view.wait_for(lambda ds: ds[0]["periodUs"] == 5000, 10, "the period changed on the publisher")

        # The publisher goes away: the panel says so, then takes its new stream.
        stream = view.devices()[0]["stream"]
        serve.proc.send_signal(signal.SIGKILL)
        serve.stop()
        silent = view.wait_for(lambda ds: ds[0]["status"] == "failed", 15, "the silence shown")[0]
        self.assertIn("no word from the publisher", silent["message"])
        self.started(Serve([remote], bind=bind).wait_endpoints())
        back = view.wait_for(lambda ds: ds[0]["status"] == "streaming" and ds[0]["stream"] > stream, 30,
                             "the restarted publisher's stream")
        self.assertEqual(len(back), 1, "the restarted publisher's device got a second panel")
        _, events = read_events(view, 1.5)
        self.assertTrue(any(b["device"] == 0 and b["values"][0] for e, d in events if e == "blocks"
                            for b in d["blocks"]), "no values after the restart")

    def test_two_publishers_one_with_keys_and_its_control_socket_named(self):
        folder = tempfile.mkdtemp(prefix="view-keys-", dir=OUT)
        keygen(folder, "server")
        keygen(folder, "client")
        clients = os.path.join(folder, "clients")
        with open(os.path.join(folder, "client.pub")) as pub, open(clients, "w") as f:
            f.write(pub.read())
        plain_sim = self.started(Sim("VSC0000421", C_CHANNELS))
        keyed_sim = self.started(Sim("VSC0000422", B_CHANNELS))
        plain = self.started(Serve([plain_sim], bind=f"tcp://127.0.0.1:{free_port_pair()}").wait_endpoints())
        keyed = self.started(Serve([keyed_sim], extra=("--curve-secret", os.path.join(folder, "server.key"),
                                                       "--curve-clients", clients)).wait_endpoints())
        # The loopback publisher without keys (""), the other with its public key; its control socket named.
        view = self.started(View([], extra=["--from", plain.data, "--from", f"{keyed.data},{keyed.control}",
                                            "--server-key", "", "--server-key", os.path.join(folder, "server.pub"),
                                            "--client-key", os.path.join(folder, "client.key")]))
        devices = view.wait_for(lambda ds: len(ds) == 2 and all(d["status"] == "streaming" for d in ds), 20,
                                "both publishers' devices streaming")
        by_source = {d["source"]: d for d in devices}
        self.assertEqual(by_source[plain.data]["serial"], serial_text("VSC0000421"))
        keyed_panel = by_source[keyed.data]
        self.assertEqual(keyed_panel["serial"], serial_text("VSC0000422"))
        # The control goes to the named socket, with the keys.
        status, reply = view.post(keyed_panel["index"], "stop")
        self.assertEqual(status, 200, reply)
        view.wait_for(lambda ds: ds[keyed_panel["index"]]["status"] == "stopped", 10, "the keyed device stopped")
        self.assertEqual(view.devices()[by_source[plain.data]["index"]]["status"], "streaming")
        self.assertNotIn("refused a client", keyed.stderr_text())

    def test_usage_errors_say_what_to_give(self):
        cases = (
            (["--from", "tcp://192.0.2.1:5650"], "--server-key"),
            (["--server-key", "x.pub"], "go with --from"),
            (["--from", "tcp://127.0.0.1:5650", "--from", "tcp://127.0.0.1:5650"], "given twice"),
            (["--from", "tcp://127.0.0.1:65535"], "after a comma"),
            (["--from", "tcp://127.0.0.1:5650", "--server-key", "x.pub"], "--client-key"),
            (["--from", "tcp://127.0.0.1:5650", "--server-key", "a.pub", "--server-key", "b.pub"], "one --server-key"),
        )
        for extra, text in cases:
            with self.subTest(extra=extra):
                done = subprocess.run([VORNCTL, "view", *extra], capture_output=True, text=True, timeout=30,
                                      env=dict(os.environ, VORN_PORTS=""), cwd=OUT)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn(text, done.stderr)


if __name__ == "__main__":
    unittest.main()
