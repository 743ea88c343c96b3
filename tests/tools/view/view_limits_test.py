"""`vornctl view` under misuse, loopback only: requests of any size or
encoding, clients that trickle or never read, many pages, racing controls,
Ctrl-C with slow connections open, and the token's ways. Each bound the
server promises is asserted with a margin for a loaded 2-core machine."""
import os
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(__file__))
from view_harness import OUT, Sim, View  # noqa: E402

CHANNELS = [("ECG", "mV", -5, 5, "sine", 3), ("Resp", "l/min", 0, 60, "square", 2)]
SANITIZED = bool(os.environ.get("VORN_VIEW_SANITIZED"))


def gzip_of_zeros(mib):
    """A gzip body that unpacks to mib MiB of zeros (about 1/1000 of it)."""
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    zeros = bytes(1 << 20)
    return b"".join(packer.compress(zeros) for _ in range(mib)) + packer.flush()


def connect(view, source="127.0.0.1", timeout=5):
    sock = socket.socket()
    sock.settimeout(timeout)
    sock.bind((source, 0))
    sock.connect((view.host, view.port))
    return sock


def head(view, method, path, fields=(), token=True, length=None):
    lines = [f"{method} {path} HTTP/1.1", f"Host: 127.0.0.1:{view.port}"]
    if token and view.token:
        lines.append(f"X-Vorn-Token: {view.token}")
    lines += list(fields)
    if length is not None:
        lines.append(f"Content-Length: {length}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def answer(sock, timeout=10):
    """(status, header text, body) of one answer; the body as far as it came."""
    sock.settimeout(timeout)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    if not data:
        return None, "", b""
    top, _, body = data.partition(b"\r\n\r\n")
    text = top.decode("latin-1")
    length = next((int(line.split(":", 1)[1]) for line in text.split("\r\n")[1:]
                   if line.lower().startswith("content-length:")), None)
    while length is not None and len(body) < length:
        chunk = sock.recv(65536)
        if not chunk:
            break
        body += chunk
    return int(text.split(" ", 2)[1]), text, body


def send_all(sock, data, deadline):
    """Sends data until done, refused or the deadline; how much went."""
    sent = 0
    sock.settimeout(1)
    while sent < len(data) and time.monotonic() < deadline:
        try:
            sent += sock.send(data[sent:sent + 65536])
        except socket.timeout:
            continue
        except OSError:
            break
    return sent


def timed(call):
    start = time.monotonic()
    result = call()
    return time.monotonic() - start, result


def in_tcp_table(local_port):
    """Whether a socket with this local port is still connected (not closed by a reset)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == local_port and fields[3] == "01":
                    return True
    return False


class BoundsTest(unittest.TestCase):
    """One view with a token on loopback (--token), as with --listen."""

    @classmethod
    def setUpClass(cls):
        cls.sim = Sim("VSC0000501", CHANNELS)
        cls.sim2 = Sim("VSC0000502", CHANNELS)
        cls.view = View([cls.sim, cls.sim2], ["--token"])

    @classmethod
    def tearDownClass(cls):
        code, err = cls.view.stop()
        cls.sim.stop()
        cls.sim2.stop()
        assert code == 0, err

    def tearDown(self):
        for d in self.view.devices():
            if d["recording"]["active"]:
                self.view.post(d["index"], "record-stop")
            if d["status"] == "streaming":
                self.view.post(d["index"], "stop")

    def test_compressed_bodies_are_refused_unread_and_cost_no_memory(self):
        view = self.view
        body = gzip_of_zeros(512)
        self.assertLess(len(body), 600 * 1024)
        rss_before = view.rss_kib()
        cases = [  # path, token, expected status
            ("/", False, 405),
            ("/api/devices/0/channels", False, 403),
            ("/api/devices/0/channels", True, 415),
        ]
        results = [None] * len(cases)

        def post(k):
            path, token, _ = cases[k]
            sock = connect(view)
            fields = ["Content-Type: application/json", "Content-Encoding: gzip"]
            sock.sendall(head(view, "POST", path, fields, token=token, length=len(body)))
            send_all(sock, body, time.monotonic() + 10)
            results[k] = answer(sock)
            sock.close()

        threads = [threading.Thread(target=post, args=(k,)) for k in range(len(cases))]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        for (path, token, status), (got, _, reply) in zip(cases, results):
            with self.subTest(path=path, token=token):
                self.assertEqual(got, status, reply)
        self.assertIn(b"compressed request bodies are not accepted", results[2][2])
        # Brotli as well, and "identity" is no compression.
        sock = connect(view)
        sock.sendall(head(view, "POST", "/api/devices/0/channels",
                          ["Content-Type: application/json", "Content-Encoding: br"], length=4) + b"\x0b\x02\x80{")
        self.assertEqual(answer(sock)[0], 415)
        sock.close()
        plain = b'{"channels":[1,2]}'
        sock = connect(view)
        sock.sendall(head(view, "POST", "/api/devices/0/channels",
                          ["Content-Type: application/json", "Content-Encoding: identity"], length=len(plain)) + plain)
        self.assertEqual(answer(sock)[0], 200)
        sock.close()
        if not SANITIZED:
            self.assertLess(view.rss_kib() - rss_before, 16 * 1024, "a compressed body was unpacked")
        self.assertEqual([c["enabled"] for c in view.devices()[0]["channels"]], [True, True])

    def test_heads_and_bodies_are_bounded(self):
        view = self.view
        rss_before = view.rss_kib()
        # 20,000 header lines of 4 KB: refused at the limit, long before the end.
        sock = connect(view)
        line = b"X-Filler: " + b"a" * 4086 + b"\r\n"
        sock.sendall(b"GET /api/devices HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        sent = send_all(sock, line * 20000, time.monotonic() + 10)
        status, _, reply = answer(sock)
        self.assertEqual(status, 431, reply)
        self.assertLess(sent, 20000 * len(line) // 4, "the head was read to its end")
        sock.close()
        # Many small fields under the size limit.
        sock = connect(view)
        sock.sendall(head(view, "GET", "/api/devices", [f"X-F{i}: 1" for i in range(150)]))
        status, _, reply = answer(sock)
        self.assertEqual(status, 431)
        self.assertIn(b"header fields", reply)
        sock.close()
        # One endless line.
        sock = connect(view)
        sent = send_all(sock, b"GET /" + b"a" * (8 << 20), time.monotonic() + 10)
        self.assertEqual(answer(sock)[0], 431)
        self.assertLess(sent, 4 << 20)
        sock.close()
        # A control's body over 4 KiB, by length and by chunks.
        big = b'{"channels":[' + b"1," * 3000 + b"2]}"
        sock = connect(view)
        sock.sendall(head(view, "POST", "/api/devices/0/channels", ["Content-Type: application/json"],
                          length=len(big)) + big)
        status, _, reply = answer(sock)
        self.assertEqual(status, 413, reply)
        self.assertIn(b"at most 4096 bytes", reply)
        sock.close()
        sock = connect(view)
        chunks = b"".join(b"%x\r\n%s\r\n" % (len(big[i:i + 1000]), big[i:i + 1000]) for i in range(0, len(big), 1000))
        sock.sendall(head(view, "POST", "/api/devices/0/channels",
                          ["Content-Type: application/json", "Transfer-Encoding: chunked"]) + chunks + b"0\r\n\r\n")
        self.assertEqual(answer(sock)[0], 413)
        sock.close()
        # The token is checked before the body is waited for: the answer
        # comes at once, though the announced body never does.
        sock = connect(view)
        sock.sendall(head(view, "POST", "/api/devices/0/start", ["Content-Type: application/json"], token=False,
                          length=100_000_000))
        seconds, (status, _, reply) = timed(lambda: answer(sock))
        self.assertEqual(status, 403, reply)
        self.assertLess(seconds, 2)
        sock.close()
        if not SANITIZED:
            self.assertLess(view.rss_kib() - rss_before, 16 * 1024)

    def test_content_type_is_the_json_media_type_exactly(self):
        view = self.view
        for content_type, status in [("application/jsonx", 415), ("application/json-patch+json", 415),
                                     ("text/json", 415), ("", 415), ("Application/JSON; charset=utf-8", 200),
                                     ("application/json", 200)]:
            with self.subTest(content_type=content_type):
                got, reply = view.request("POST", "/api/devices/0/channels", {"channels": [1, 2]},
                                          {"Content-Type": content_type})
                self.assertEqual(got, status, reply)

    def test_token_comes_once_in_the_url_then_as_a_cookie(self):
        view = self.view
        import http.client
        conn = http.client.HTTPConnection(view.host, view.port, timeout=10)
        conn.request("GET", f"/?token={view.token}")
        res = conn.getresponse()
        res.read()
        self.assertEqual(res.status, 303)
        self.assertEqual(res.getheader("Location"), "/")
        cookie = res.getheader("Set-Cookie")
        self.assertRegex(cookie, rf"^vorn_token_{view.port}={view.token}; ")
        for attribute in ("HttpOnly", "SameSite=Strict", "Path=/"):
            self.assertIn(attribute, cookie)
        pair = cookie.split(";", 1)[0]
        conn.request("GET", "/api/devices", headers={"Cookie": f"other=1; {pair}"})
        res = conn.getresponse()
        res.read()
        self.assertEqual(res.status, 200)
        conn.request("GET", "/?token=" + "0" * 32)
        res = conn.getresponse()
        res.read()
        self.assertEqual((res.status, res.getheader("Set-Cookie")), (303, None))
        conn.request("GET", "/api/devices", headers={"Cookie": f"vorn_token_{view.port + 1}={view.token}"})
        res = conn.getresponse()
        res.read()
        self.assertEqual(res.status, 403)  # another view's cookie
        conn.close()
        # The page may not be framed by another site.
        status, _ = view.request("GET", "/index.html", token=False)
        self.assertEqual(status, 200)

    def test_stop_and_the_device_list_answer_while_100_clients_trickle(self):
        view = self.view
        self.assertEqual(view.post(0, "start")[0], 200)
        trickling = [connect(view) for _ in range(100)]
        idle = [connect(view) for _ in range(100)]
        for s in trickling:
            s.sendall(b"GET /api/devices HTTP/1.1\r\n")
        # Pages that read normally: four from one address, the fifth refused.
        readers = []
        for _ in range(6):
            s = connect(view)
            s.sendall(head(view, "GET", "/api/events"))
            readers.append(s)
        codes = [answer(s)[0] for s in readers]
        self.assertEqual(sorted(codes), [200] * 4 + [429] * 2)
        stop_reading = threading.Event()

        def read(sock):
            sock.settimeout(1)
            while not stop_reading.is_set():
                try:
                    if not sock.recv(65536):
                        return
                except socket.timeout:
                    pass
                except OSError:
                    return

        threads = [threading.Thread(target=read, args=(s,)) for s, c in zip(readers, codes) if c == 200]
        for t in threads:
            t.start()
        try:
            worst = 0
            for round_ in range(8):
                for s in trickling:
                    s.sendall(b"X-Slow: %d\r\n" % round_)
                worst = max(worst, timed(view.devices)[0])
                time.sleep(0.5)
            worst_stop, (status, reply) = timed(lambda: view.post(0, "stop"))
            self.assertEqual(status, 200, reply)
            self.assertLess(max(worst, worst_stop), 1.0)
            # A head may take 10 s to come, however slowly it trickles.
            time.sleep(4)
            cut = 0
            for s in trickling:
                try:
                    s.sendall(b"X-Slow: last\r\n")
                    status, _, _ = answer(s, timeout=3)
                    cut += status in (None, 408)
                except OSError:
                    cut += 1
            self.assertEqual(cut, len(trickling))
        finally:
            stop_reading.set()
            for t in threads:
                t.join()
            for s in trickling + idle + readers:
                s.close()

    def test_pages_are_capped_per_address_and_in_all(self):
        view = self.view
        socks, codes = [], []
        for k in range(5):
            for _ in range(4):
                s = connect(view, source=f"127.0.0.{k + 2}")
                s.sendall(head(view, "GET", "/api/events"))
                socks.append(s)
        for s in socks:
            status, _, body = answer(s)
            codes.append(status)
            if status == 503:
                self.assertIn(b"at most 16 open pages", body)
        self.assertEqual(sorted(codes), [200] * 16 + [503] * 4)
        for s in socks:
            s.close()
        # Closed pages give their places back.
        deadline = time.monotonic() + 10
        while True:
            s = connect(view)
            s.sendall(head(view, "GET", "/api/events"))
            status = answer(s)[0]
            s.close()
            if status == 200 or time.monotonic() > deadline:
                break
            time.sleep(0.3)
        self.assertEqual(status, 200)

    def test_a_page_that_stops_reading_is_cut_off_within_seconds(self):
        view = self.view
        self.assertEqual(view.post(0, "start")[0], 200)
        stuck = socket.socket()
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.connect((view.host, view.port))
        port = stuck.getsockname()[1]
        stuck.sendall(head(view, "GET", "/api/events"))
        started = time.monotonic()
        while in_tcp_table(port) and time.monotonic() - started < 40:
            time.sleep(0.25)
        lasted = time.monotonic() - started
        stuck.close()
        # Its window fills within a second or two, then 5 s without progress.
        self.assertLess(lasted, 12, "the stuck page was kept")
        self.assertGreater(lasted, 4)
        self.assertEqual(view.devices()[0]["stats"]["dropped"], 0)

    def test_two_recordings_asked_at_once_give_one_and_a_conflict(self):
        view = self.view
        self.assertEqual(view.post(1, "start")[0], 200)
        for attempt in range(5):
            barrier = threading.Barrier(2)
            results = [None, None]

            def ask(k):
                barrier.wait()
                results[k] = view.post(1, "record", {"format": "csv"})

            threads = [threading.Thread(target=ask, args=(k,)) for k in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            statuses = sorted(r[0] for r in results)
            self.assertEqual(statuses, [200, 409], results)
            refused = next(r[1] for r in results if r[0] == 409)
            self.assertIn("already recording", refused["error"])
            time.sleep(0.6)
            lines = view.devices()[1]["recording"]["lines"]
            self.assertGreater(lines, 100)  # the first goes on
            status, reply = view.post(1, "record-stop")
            self.assertEqual(status, 200, reply)
            with open(view.path(reply["path"])) as f:
                rows = [r for r in f if not r.startswith("#")][1:]
            self.assertEqual(len(rows), reply["device"]["lastRecording"]["lines"])


class CtrlCTest(unittest.TestCase):
    def test_ctrl_c_finishes_every_file_at_once_with_slow_connections_open(self):
        a, b = Sim("VSC0000601", CHANNELS), Sim("VSC0000602", CHANNELS)
        view = View([a, b], ["--start"])
        socks = []
        try:
            view.wait_for(lambda ds: all(d["status"] == "streaming" for d in ds), 20, "both streaming")
            status, csv_reply = view.post(0, "record", {"format": "csv"})
            self.assertEqual(status, 200, csv_reply)
            status, edf_reply = view.post(1, "record", {"format": "edf"})
            edf = status == 200
            for _ in range(50):
                s = connect(view)
                s.sendall(b"GET /api/devices HTTP/1.1\r\n")
                socks.append(s)
            stuck = socket.socket()
            stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            stuck.connect((view.host, view.port))
            stuck.sendall(head(view, "GET", "/api/events"))
            socks.append(stuck)
            time.sleep(2)
            started = time.monotonic()
            # Ctrl-C, then more while it finishes: none may cut the files short.
            while view.proc.poll() is None and time.monotonic() - started < 60:
                view.proc.send_signal(2)
                time.sleep(0.03)
            lasted = time.monotonic() - started
        finally:
            code, err = view.stop()
            for s in socks:
                s.close()
            a.stop()
            b.stop()
        self.assertEqual(code, 0, err)
        self.assertLess(lasted, 10, err)
        self.assertIn("finishing the recordings first", err)
        self.assertIn("wrote " + csv_reply["path"], err)
        with open(view.path(csv_reply["path"])) as f:
            text = f.read()
        self.assertTrue(text.endswith("\n"))
        self.assertGreater(len(text.splitlines()), 500)
        if not edf:
            return
        self.assertIn("wrote " + edf_reply["path"], err)
        path = view.path(edf_reply["path"])
        with open(path, "rb") as f:
            header = f.read(256)
        self.assertGreater(int(header[236:244]), 0, "data-record count")
        import mne
        raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
        self.assertGreater(raw.n_times, 500)
        self.assertEqual(raw.ch_names[:2], ["ECG", "Resp"])
        self.assertGreater(len(raw.annotations), 0)


def fake_xdg_open(folder, status=0):
    """An xdg-open that logs its arguments, the file it was given and that file's modes."""
    log = os.path.join(folder, "xdg-open.log")
    script = os.path.join(folder, "xdg-open")
    with open(script, "w") as f:
        f.write(f"""#!/bin/sh
{{ echo "argv: $*"
  if [ -f "$1" ]; then stat -c 'file %a' "$1"; stat -c 'folder %a' "$(dirname "$1")"; cat "$1"; echo; fi
}} >> {log}
echo "xdg-open: lots of noise" >&2
exit {status}
""")
    os.chmod(script, 0o755)
    return log


class AddressesTest(unittest.TestCase):
    def setUp(self):
        self.sim = Sim("VSC0000701", CHANNELS)

    def tearDown(self):
        self.sim.stop()

    def test_every_interface_gets_a_url_and_the_token_is_explained(self):
        view = View([self.sim], ["--listen", "0.0.0.0"])
        try:
            urls = [view.url] + view.more_urls()
            err = view.stderr_text()
        finally:
            code, _ = view.stop()
        self.assertEqual(code, 0)
        self.assertTrue(urls[0].startswith("http://127.0.0.1:"), urls)
        self.assertFalse(any("0.0.0.0" in u for u in urls), urls)
        self.assertIn(f"http://{socket.gethostname()}:{view.port}/?token={view.token}", urls)
        self.assertEqual(len(set(urls)), len(urls))
        self.assertTrue(all(u.endswith(f":{view.port}/?token={view.token}") for u in urls))
        self.assertIn("lets whoever has it watch, start, stop and record", err)
        import ipaddress
        for u in urls[:-1]:
            ipaddress.ip_address(u.split("//")[1].rsplit(":", 1)[0])  # numeric, not a name

    def test_open_hands_the_token_over_in_a_private_file(self):
        folder = tempfile.mkdtemp(prefix="vornctl-view-open-")
        os.chmod(folder, 0o755)
        log = fake_xdg_open(folder)
        env = dict(os.environ, PATH=folder + ":" + os.environ["PATH"], DISPLAY=":99", XDG_RUNTIME_DIR=folder)
        view = View([self.sim], ["--token", "--open"], env=env)
        try:
            deadline = time.monotonic() + 10
            while not os.path.exists(log) and time.monotonic() < deadline:
                time.sleep(0.1)
            time.sleep(0.3)
            with open(log) as f:
                logged = f.read()
            given = logged.split("argv: ", 1)[1].split("\n", 1)[0]
            # Nobody else may read it, and no command line holds the token.
            denied = subprocess.run(["runuser", "-u", "nobody", "--", "cat", given], capture_output=True)
            lines_with_token = []
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        if view.token.encode() in f.read():
                            lines_with_token.append(pid)
                except OSError:
                    pass
        finally:
            code, err = view.stop()
        self.assertEqual(code, 0, err)
        self.assertNotIn(view.token, given)
        self.assertIn("file 600", logged)
        self.assertIn("folder 700", logged)
        self.assertIn(f"url=http://127.0.0.1:{view.port}/?token={view.token}", logged)
        self.assertNotEqual(denied.returncode, 0)
        self.assertEqual(lines_with_token, [])
        self.assertFalse(os.path.exists(given), "the file outlived the view")
        self.assertNotIn("lots of noise", err)

    def test_open_without_a_desktop_says_so_in_one_line(self):
        folder = tempfile.mkdtemp(prefix="vornctl-view-open-")
        log = fake_xdg_open(folder, status=3)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["PATH"] = folder + ":" + env["PATH"]
        view = View([self.sim], ["--open"], env=env)
        time.sleep(1)
        code, err = view.stop()
        self.assertEqual(code, 0, err)
        said = [line for line in err.splitlines() if "--open" in line]
        self.assertEqual(len(said), 1, err)
        self.assertIn("no desktop session", said[0])
        self.assertIn(view.url, said[0])
        self.assertFalse(os.path.exists(log), "xdg-open ran without a desktop")
        # With a desktop but no browser: xdg-open's noise stays out, one line says it.
        env["DISPLAY"] = ":99"
        view = View([self.sim], ["--open"], env=env)
        deadline = time.monotonic() + 10
        while "found no browser" not in view.stderr_text() and time.monotonic() < deadline:
            time.sleep(0.1)
        code, err = view.stop()
        self.assertIn("xdg-open found no browser to open; open " + view.url, err)
        self.assertNotIn("lots of noise", err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
