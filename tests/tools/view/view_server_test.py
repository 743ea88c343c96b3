"""`vornctl view`'s server against simulated devices: the JSON and event
formats, the controls' errors (which never reach the device), the token rule,
a page that stops reading while a device records, and Ctrl-C."""
import csv
import json
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from view_harness import Sim, View, find_run, scaled  # noqa: E402

A_CHANNELS = [("Pressure", "mmHg", 0, 300, "sine", 1), ("Temp", "degC", 30, 42, "ramp", 0.5),
              ("Resp", "l/min", 0, 60, "square", 2)]
B_CHANNELS = [("ECG", "mV", -5, 5, "sine", 3), ("Pleth", "na", 0, 100, "ramp", 1)]


def read_events(view, seconds, path="/api/events"):
    """The (event, data) pairs of the stream for this long."""
    sock = socket.create_connection((view.host, view.port), timeout=5)
    token = f"X-Vorn-Token: {view.token}\r\n" if view.token else ""
    sock.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{view.port}\r\n{token}\r\n".encode())
    data = b""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            continue
        if not chunk:
            break
        data += chunk
    sock.close()
    text = data.decode("utf-8", "replace")
    body = text.split("\r\n\r\n", 1)[1]
    events, event = [], None
    # Chunked transfer: keep only the SSE lines.
    for line in body.split("\n"):
        line = line.rstrip("\r")
        if line.startswith("event: "):
            event = line[7:]
        elif line.startswith("data: ") and event:
            try:
                events.append((event, json.loads(line[6:])))
            except ValueError:
                pass  # cut by a chunk boundary at the end
            event = None
    return text.split("\r\n", 1)[0], events


class ViewServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.a = Sim("VSC0000101", A_CHANNELS)
        cls.b = Sim("VSC0000102", B_CHANNELS)
        cls.view = View([cls.a, cls.b])

    @classmethod
    def tearDownClass(cls):
        code, err = cls.view.stop()
        cls.a.stop()
        cls.b.stop()
        assert code == 0, err
        assert "stopped every stream" in err, err

    def tearDown(self):
        for d in self.view.devices():
            if d["recording"]["active"]:
                self.view.post(d["index"], "record-stop")
            if d["status"] == "streaming":
                self.view.post(d["index"], "stop")

    def test_device_list_describes_every_device(self):
        devices = self.view.devices()
        self.assertEqual([d["index"] for d in devices], [0, 1])
        for d, sim in zip(devices, (self.a, self.b)):
            self.assertEqual(d["status"], "stopped")
            self.assertIn(d["serial"], sim.port_entry)
            self.assertRegex(d["uniqueId"], r"^0x[0-9A-F]{8}$")
            self.assertTrue(d["product"] and d["version"])
            names = [(c["position"], c["name"], c["minimum"], c["maximum"], c["enabled"]) for c in d["channels"]]
            self.assertEqual(names, [(i + 1, n, lo, hi, True) for i, (n, _, lo, hi, _, _) in enumerate(sim.channels)])
            self.assertEqual([p["us"] for p in d["periods"]], [5000, 2000])
            self.assertEqual([p["label"] for p in d["periods"]], ["5 ms", "2 ms"])
            self.assertEqual(d["periodUs"], 2000)  # the fastest, as record's default
            for key in ("lines", "dropped", "missing", "seconds", "rate"):
                self.assertIn(key, d["stats"])
        self.assertEqual([c["unit"] for c in devices[0]["channels"]], ["mmHg", "degC", "l/min"])

    def test_bad_requests_are_refused_and_never_reach_the_device(self):
        view, sim = self.view, self.b
        before = sim.settled_commands()
        cases = [
            ("POST", "/api/devices/7/start", {}, {}, 404, "no device 7"),
            ("POST", "/api/devices/x/start", {}, {}, 404, "no device x"),
            ("POST", "/api/devices/1x/start", {}, {}, 404, "no device 1x"),
            ("POST", "/api/devices/-1/start", {}, {}, 404, "no device -1"),
            ("POST", "/api/devices/1/channels", {"channels": []}, {}, 400, "at least one channel"),
            ("POST", "/api/devices/1/channels", {"channels": [1, 9]}, {}, 400, "no channel 9"),
            ("POST", "/api/devices/1/channels", {"channels": [1, 1]}, {}, 400, "twice"),
            ("POST", "/api/devices/1/channels", {"channels": ["ECG"]}, {}, 400, "bad channel list"),
            ("POST", "/api/devices/1/channels", {"channels": 1}, {}, 400, "bad channel list"),
            ("POST", "/api/devices/1/period", {"periodUs": 3000}, {}, 400, "offers 5 ms, 2 ms"),
            ("POST", "/api/devices/1/period", {}, {}, 400, "microseconds"),
            ("POST", "/api/devices/1/stop", {}, {}, 409, "not streaming"),
            ("POST", "/api/devices/1/record", {"format": "csv"}, {}, 409, "before recording"),
            ("POST", "/api/devices/1/record", {"format": "wav"}, {}, 400, "csv or edf"),
            ("POST", "/api/devices/1/record-stop", {}, {}, 409, "not recording"),
            ("POST", "/api/devices/1/start", {}, {"Content-Type": "text/plain"}, 415, "JSON"),
            ("POST", "/api/devices/1/start", {}, {"Host": "evil.example:80"}, 403, "127.0.0.1"),
            ("GET", "/api/devices", None, {"Host": "rebound.example"}, 403, "127.0.0.1"),
            ("POST", "/api/devices/1/explode", {}, {}, 404, ""),
        ]
        for method, path, body, headers, status, text in cases:
            with self.subTest(path=path, body=body, headers=headers):
                got, reply = view.request(method, path, body, headers)
                self.assertEqual(got, status, reply)
                self.assertIn("error", reply)
                self.assertIn(text, reply["error"])
        got, reply = view.request("POST", "/api/devices/1/start", None, {})
        self.assertEqual(got, 200, reply)  # an empty body is an empty object
        self.assertEqual(view.post(1, "stop")[0], 200)
        # Only the good start and stop reached the device.
        added = sim.settled_commands()[len(before):]
        self.assertTrue(any(":B" in line for line in added), added)

        self.assertEqual(view.post(1, "start")[0], 200)
        after_start = len(sim.settled_commands())
        status, reply = view.post(1, "start")
        self.assertEqual(status, 409)
        self.assertIn("already streaming", reply["error"])
        status, reply = view.post(1, "period", {"periodUs": 1234})
        self.assertEqual(status, 400)
        self.assertEqual(len(sim.settled_commands()), after_start)
        self.assertEqual(view.devices()[1]["status"], "streaming")

    def test_events_carry_state_and_blocks_of_the_chosen_channels(self):
        view = self.view
        self.assertEqual(view.post(0, "channels", {"channels": [3, 1]})[0], 200)
        self.assertEqual(view.post(0, "period", {"periodUs": 5000})[0], 200)
        status, reply = view.post(0, "start")
        self.assertEqual(status, 200, reply)
        self.assertEqual(reply["device"]["streamed"], [1, 3])
        head, events = read_events(view, 2.5)
        self.assertIn("200", head)
        states = [d for e, d in events if e == "state"]
        blocks = [b for e, d in events if e == "blocks" for b in d["blocks"] if b["device"] == 0]
        self.assertGreaterEqual(len(states), 5)  # one at once, then four a second
        last = states[-1]["devices"][0]
        self.assertEqual(last["status"], "streaming")
        self.assertEqual(last["periodUs"], 5000)
        self.assertGreater(last["stats"]["rate"], 150)
        self.assertGreater(len(blocks), 20)  # about 30 a second, not one per line
        stream = last["stream"]
        for k, b in enumerate(blocks):
            self.assertEqual(b["stream"], stream)
            self.assertEqual(len(b["values"]), 2)
            self.assertEqual(len(b["values"][0]), len(b["values"][1]))
            self.assertTrue(all(0 <= v <= 32767 for col in b["values"] for v in col))
            self.assertGreater(b["arrival"], 0)
            if k:
                prev = blocks[k - 1]
                self.assertEqual(b["first"], prev["first"] + len(prev["values"][0]) + prev["skipped"])
        # The values are the device's, scaled as the driver does.
        sent = [[row[0], row[2]] for row in self.a.sent_lines()]
        want = [[scaled(v, lo, hi) for v, (lo, hi) in zip(row, [(0, 300), (0, 60)])] for row in sent]
        tail = [[b["values"][0][i], b["values"][1][i]] for b in blocks[-3:] for i in range(len(b["values"][0]))]
        self.assertGreaterEqual(find_run(want, tail, [1, 1]), 0, tail[:5])

    def test_page_that_stops_reading_costs_no_line_and_no_memory(self):
        view = self.view
        self.assertEqual(view.post(0, "channels", {"channels": [1, 2, 3]})[0], 200)
        self.assertEqual(view.post(0, "period", {"periodUs": 2000})[0], 200)
        self.assertEqual(view.post(0, "start")[0], 200)
        status, reply = view.post(0, "record", {"format": "csv"})
        self.assertEqual(status, 200, reply)
        # A page that asks for events and then never reads them.
        stuck = socket.socket()
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.connect((view.host, view.port))
        stuck.sendall(f"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:{view.port}\r\n\r\n".encode())
        time.sleep(1.5)
        rss_before = view.rss_kib()
        time.sleep(7)
        rss_after = view.rss_kib()
        status, reply = view.post(0, "record-stop")
        self.assertEqual(status, 200, reply)
        path = reply["path"]
        lines = reply["device"]["lastRecording"]["lines"]
        stuck.close()
        state = view.devices()[0]
        self.assertEqual(state["stats"]["dropped"], 0)
        if not os.environ.get("VORN_VIEW_SANITIZED"):
            self.assertLess(rss_after - rss_before, 16 * 1024, "the stuck page's events piled up")
        with open(path, newline="") as f:
            # The comment lines ("# KEY: VALUE") and the column header go.
            rows = list(csv.reader(line for line in f if not line.startswith("# ")))[1:]
        self.assertEqual(len(rows), lines)
        self.assertGreater(len(rows), 2500)  # 8.5 s at 500 lines/s, less on a loaded machine
        times = [float(r[0]) for r in rows]
        self.assertEqual(times[:3], [0, 0.002, 0.004])
        physical = [[float(r[3]), float(r[5]), float(r[7])] for r in rows]
        sent = self.a.sent_lines()
        tolerance = [300 / 32767 + 0.01, 12 / 32767 + 0.01, 60 / 32767 + 0.01]
        # Every line the device sent while recording is in the file, in order.
        self.assertGreaterEqual(find_run(sent, physical, tolerance), 0)

    def test_concurrent_controls_start_the_device_once(self):
        from concurrent.futures import ThreadPoolExecutor
        view, sim = self.view, self.b
        before = len(sim.settled_commands())
        with ThreadPoolExecutor(6) as pool:
            starts = list(pool.map(lambda _: view.post(1, "start")[0], range(6)))
        self.assertEqual(sorted(starts), [200] + [409] * 5)
        # A restart with new channels racing with more starts: still one stream.
        with ThreadPoolExecutor(4) as pool:
            jobs = [pool.submit(view.post, 1, "channels", {"channels": [2]})] + \
                   [pool.submit(view.post, 1, "start") for _ in range(3)]
            codes = [j.result()[0] for j in jobs]
        self.assertEqual(codes[0], 200)
        self.assertTrue(all(c == 409 for c in codes[1:]), codes)
        device = view.devices()[1]
        self.assertEqual((device["status"], device["streamed"]), ("streaming", [2]))
        starts_sent = [c for c in sim.settled_commands()[before:] if ":B" in c]
        self.assertEqual(len(starts_sent), 2)  # the first start and the restart
        self.assertEqual(view.post(1, "channels", {"channels": [1, 2]})[0], 200)

    def test_records_edf_with_the_same_writer_as_record(self):
        view = self.view
        self.assertEqual(view.post(1, "start")[0], 200)
        status, reply = view.post(1, "record", {"format": "edf"})
        self.assertEqual(status, 200, reply)
        self.assertTrue(reply["path"].endswith(".edf"))
        time.sleep(2.5)
        status, reply = view.post(1, "record-stop")
        self.assertEqual(status, 200, reply)
        with open(reply["path"], "rb") as f:
            header = f.read(256 + 2 * 256)
        self.assertEqual(header[:8], b"0       ")
        signals = int(header[252:256])
        labels = [header[256 + 16 * i:256 + 16 * (i + 1)].strip() for i in range(signals)]
        self.assertEqual(labels[:2], [b"ECG", b"Pleth"])
        self.assertTrue(all(label == b"EDF Annotations" for label in labels[2:]), labels)
        self.assertGreater(reply["device"]["lastRecording"]["lines"], 1000)


    def test_recordings_never_replace_a_file_but_take_a_new_name(self):
        view = self.view
        self.assertEqual(view.post(1, "start")[0], 200)
        serial = "".join(c if c.isalnum() or c in "-_" else "_" for c in view.devices()[1]["serial"])
        out = os.path.dirname(view.err_path)
        # Every name the next seconds could give is taken, by a file or by a recording cut short.
        taken = {}
        now = time.time()
        for second in range(-1, 6):
            stamp = time.strftime("%Y%m%d-%H%M%S", time.localtime(now + second))
            for name in (f"vorn-{serial}-{stamp}.csv", f"vorn-{serial}-{stamp}.partial.csv"):
                path = os.path.join(out, name)
                with open(path, "w") as f:
                    f.write("keep\n")
                taken[path] = "keep\n"
        try:
            status, reply = view.post(1, "record", {"format": "csv"})
            self.assertEqual(status, 200, reply)
            path = reply["path"]
            self.assertNotIn(path, taken)
            time.sleep(0.5)
            status, reply = view.post(1, "record-stop")
            self.assertEqual(status, 200, reply)
            self.assertEqual(reply["path"], path)
            with open(path) as f:
                self.assertIn("time [s],host time [s]", f.read())
            for p, text in taken.items():
                with open(p) as f:
                    self.assertEqual(f.read(), text, p)
        finally:
            for p in taken:
                os.remove(p)


class TokenTest(unittest.TestCase):
    def test_listening_beyond_loopback_needs_the_printed_token(self):
        sim = Sim("VSC0000201", B_CHANNELS)
        view = View([sim], ["--listen", "127.0.0.1"])
        try:
            self.assertRegex(view.url, r"^http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{32}$")
            status, reply = view.request("GET", "/api/devices", token=False)
            self.assertEqual(status, 403)
            self.assertIn("needs the token it printed", reply["error"])
            self.assertEqual(view.request("GET", "/api/devices", headers={"X-Vorn-Token": "0" * 32}, token=False)[0],
                             403)
            commands = len(sim.settled_commands())
            self.assertEqual(view.request("POST", "/api/devices/0/start", {}, token=False)[0], 403)
            self.assertEqual(len(sim.settled_commands()), commands)
            # Never in an /api URL, where logs and histories keep it.
            status, reply = view.request("GET", f"/api/devices?token={view.token}", token=False)
            self.assertEqual(status, 403)
            self.assertIn("X-Vorn-Token", reply["error"])
            self.assertEqual(view.request("GET", "/api/devices")[0], 200)  # as a header
            status, page = view.request("GET", "/", token=False)
            self.assertEqual(status, 200)  # the page itself holds nothing to protect
            self.assertIn(b"uPlot.iife.min.js", page)
            self.assertEqual(view.devices()[0]["status"], "stopped")
        finally:
            code, err = view.stop()
            sim.stop()
        self.assertEqual(code, 0, err)


class CtrlCTest(unittest.TestCase):
    def test_ctrl_c_stops_every_stream_and_ends_recordings(self):
        a = Sim("VSC0000301", A_CHANNELS)
        b = Sim("VSC0000302", B_CHANNELS)
        try:
            view = View([a, b], ["--start"])
            try:
                view.wait_for(lambda ds: all(d["status"] == "streaming" for d in ds), 20, "both streaming")
                paths = [view.post(i, "record", {"format": "csv"})[1]["path"] for i in (0, 1)]
                time.sleep(1)
            finally:
                code, err = view.stop()
            self.assertEqual(code, 0, err)
            for p in paths:
                self.assertIn("wrote " + p, err)
                with open(p) as f:
                    self.assertGreater(len(f.readlines()), 200)
            for s in (a, b):
                self.assertIn(":S", "".join(s.settled_commands()[-3:]))  # the stream was stopped
        finally:
            a.stop()
            b.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
