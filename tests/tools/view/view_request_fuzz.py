"""A bounded request fuzzer for `vornctl view` on loopback: random methods,
targets, header fields, encodings, bodies and ways of sending them, from
several clients at once, against a view with a token over a simulated device.

It fails when the server dies, answers with something that is not HTTP,
refuses an /api request without a JSON error, lets its memory grow past a
bound, stops answering the token holder within a second, or does not end
cleanly on Ctrl-C.

    view_request_fuzz.py --seconds 20 [--seed N]
VORNCTL and VORN_SIM name the programs (as for the view's tests)."""
import argparse
import gzip
import json
import os
import random
import shutil
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))

MEMORY_BOUND_MIB = 150  # resident size the view may reach (ASan: unchecked)
HEALTH_BOUND_S = 1.0

ACTIONS = ["start", "stop", "record", "record-stop", "channels", "period"]
CONTENT_TYPES = ["application/json", "application/json; charset=utf-8", "APPLICATION/JSON", "application/jsonx",
                 "text/plain", "multipart/form-data; boundary=x", "", "application/x-www-form-urlencoded"]
ENCODINGS = ["gzip", "br", "deflate", "identity", "gzip, identity", "x-\x01", ""]


def random_text(rng, n):
    alphabet = "abcdefghijklmnopqrstuvwxyz0123456789-_./%?&=;:, \t\"'{}[]\\" + "".join(map(chr, range(0x80, 0x90)))
    return "".join(rng.choice(alphabet) for _ in range(n))


def random_json(rng, depth=0):
    kind = rng.randrange(8 if depth < 6 else 5)
    if kind == 0:
        return rng.choice([None, True, False])
    if kind == 1:
        return rng.choice([0, -1, 1, 2, 3, 2000, 5000, 2**31, -2**63, 1e308, 0.5, float("nan")])
    if kind == 2:
        return random_text(rng, rng.randrange(12))
    if kind == 3:
        return rng.choice(["csv", "edf", "CSV", "wav", ""])
    if kind == 4:
        return [rng.randrange(-2, 6) for _ in range(rng.randrange(6))]
    if kind == 5:
        return [random_json(rng, depth + 1) for _ in range(rng.randrange(4))]
    keys = ["channels", "periodUs", "format", random_text(rng, 4)]
    return {rng.choice(keys): random_json(rng, depth + 1) for _ in range(rng.randrange(4))}


def random_body(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return b""
    if kind == 1:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(64)))
    if kind == 2:
        return ("[" * 3000 + "]" * 3000).encode()  # deep, under the size limit
    if kind == 3:
        return gzip.compress(b"{}" + bytes(100000))
    if kind == 4:
        return b"x" * rng.choice([4095, 4096, 4097, 70000])
    text = json.dumps(random_json(rng), allow_nan=True)
    return text.encode() if rng.random() < 0.9 else text.encode()[: rng.randrange(len(text) + 1)]


def random_request(rng, port, token):
    """A request that is right in every part but a few (often none)."""
    device = rng.choice(["0", "0", "1", "-1", "x", "99999", "00", "0" * 40, ""])
    action = rng.choice(ACTIONS)
    path, method = rng.choice([
        ("/", "GET"), ("/view.js", "GET"), ("/api/devices", "GET"), ("/api/devices", "GET"), ("/api/events", "GET"),
        (f"/api/devices/{device}/{action}", "POST"), (f"/api/devices/0/{action}", "POST"),
        (f"/api/devices/0/{action}", "POST"), (f"/?token={token}", "GET")])
    version = "HTTP/1.1"
    body = json.dumps(random_json(rng), allow_nan=True).encode() if method == "POST" else b""
    host = f"127.0.0.1:{port}"
    token_field = token
    content_type = "application/json"
    eol = "\r\n"
    extra, chunked, length = [], False, None
    for _ in range(rng.choice([0, 0, 1, 1, 2, 3])):
        what = rng.randrange(14)
        if what == 0:
            method = rng.choice(["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "G\x00T", "", "get",
                                 random_text(rng, rng.randrange(1, 30))])
        elif what == 1:
            path = rng.choice(["//api/devices", "/../etc/passwd", "*", "http://127.0.0.1/", "/api/" + random_text(
                rng, rng.randrange(40)), f"/api/devices/0/{random_text(rng, 6)}", "/api/devices/0/start?token=" + token,
                "/" + "a" * rng.choice([100, 9000, 20000])])
        elif what == 2:
            version = rng.choice(["HTTP/1.0", "HTTP/2.0", "HTTP/9", "FOO", ""])
        elif what == 3:
            host = rng.choice(["localhost", "evil.example", "", "[::1]", None])
        elif what == 4:
            token_field = rng.choice([token.upper(), "0" * 32, "", token + "0", None])
        elif what == 5:
            extra.append(f"Cookie: a=b; vorn_token_{port}=" + rng.choice([token, "bad", ""]))
        elif what == 6:
            content_type = rng.choice(CONTENT_TYPES + [None])
        elif what == 7:
            extra.append("Content-Encoding: " + rng.choice(ENCODINGS))
            if rng.random() < 0.5:
                body = gzip.compress(body)
        elif what == 8:
            chunked = True
        elif what == 9:
            length = rng.choice([len(body) + 5, max(0, len(body) - 3), -1, 2**64, "abc", 100_000_000])
        elif what == 10:
            body = random_body(rng)
        elif what == 11:
            extra += [f"X-{random_text(rng, 5)}: {random_text(rng, rng.randrange(30))}"
                      for _ in range(rng.choice([1, 3, 120]))]
            if rng.random() < 0.2:
                extra.append("X-Long: " + "b" * rng.choice([5000, 17000]))
        elif what == 12:
            eol = rng.choice(["\n", "\r"])
        else:
            extra.append("Expect: 100-continue")
    fields = []
    if host is not None:
        fields.append(f"Host: {host}")
    if token_field is not None:
        fields.append(f"X-Vorn-Token: {token_field}")
    if content_type is not None and method == "POST":
        fields.append(f"Content-Type: {content_type}")
    if chunked:
        fields.append("Transfer-Encoding: chunked")
        pieces = [body[i:i + 700] for i in range(0, len(body), 700)]
        body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + rng.choice([b"0\r\n\r\n", b"zz\r\n", b""])
    elif body or method == "POST" or length is not None:
        fields.append(f"Content-Length: {len(body) if length is None else length}")
    fields += extra
    head = (f"{method} {path} {version}" + eol + eol.join(fields) + eol + eol).encode("latin-1", "replace")
    return path, head + body


def answered(data, path):
    """Whether data holds one whole answer (a kept connection says no more)."""
    continued = b"HTTP/1.1 100 Continue\r\n\r\n"
    if data.startswith(continued):
        data = data[len(continued):]
    head, found, body = data.partition(b"\r\n\r\n")
    if not found:
        return False
    if path == "/api/events" and b" 200 " in head[:13]:
        return len(body) > 2000
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return len(body) >= int(line.split(b":", 1)[1])
    return False


def check_answer(data, path):
    """None when the answer (possibly cut at the end) is acceptable, else why not."""
    if not data:
        return None  # closed without a word: allowed for garbage
    if data.startswith(b"HTTP/1.1 100 Continue\r\n\r\n"):
        data = data[len(b"HTTP/1.1 100 Continue\r\n\r\n"):]
        if not data:
            return None
    if not (data.startswith(b"HTTP/1.1 ") or data.startswith(b"HTTP/1.0 ")) or not data[9:12].isdigit():
        return f"not an HTTP answer: {data[:80]!r}"
    head, _, body = data.partition(b"\r\n\r\n")
    status = int(data[9:12])
    if status >= 400 and path.startswith("/api/") and b"content-length:" in head.lower():
        length = int(next(line.split(b":", 1)[1] for line in head.split(b"\r\n")
                          if line.lower().startswith(b"content-length:")))
        if len(body) >= length:
            try:
                if "error" not in json.loads(body[:length]):
                    return f"a refusal without an error text: {body[:80]!r}"
            except ValueError:
                return f"a refusal that is not JSON: {body[:80]!r}"
    return None


class Fuzzer:
    def __init__(self, view, seed, deadline):
        self.view = view
        self.seed = seed
        self.deadline = deadline
        self.count = 0
        self.statuses = {}
        self.failures = []
        self.lock = threading.Lock()

    def client(self, k):
        rng = random.Random(self.seed * 1000 + k)
        while time.monotonic() < self.deadline and not self.failures:
            path, raw = random_request(rng, self.view.port, self.view.token)
            data = b""
            try:
                sock = socket.create_connection((self.view.host, self.view.port), timeout=15)
                how = rng.randrange(4)
                if how == 0:  # in pieces
                    for i in range(0, len(raw), 97):
                        sock.sendall(raw[i:i + 97])
                        if rng.random() < 0.02:
                            time.sleep(0.05)
                elif how == 1:  # cut short
                    sock.sendall(raw[: rng.randrange(len(raw) + 1)])
                    sock.close()
                    sock = None
                else:
                    sock.sendall(raw)
                if sock:
                    sock.settimeout(2)
                    while len(data) < 200000 and not answered(data, path):
                        chunk = sock.recv(65536)
                        if not chunk:
                            break
                        data += chunk
            except (socket.timeout, OSError):
                pass
            finally:
                if sock:
                    sock.close()
            problem = check_answer(data, path)
            with self.lock:
                self.count += 1
                key = data[9:12].decode("latin-1") if data.startswith(b"HTTP/") else "none"
                self.statuses[key] = self.statuses.get(key, 0) + 1
                if problem:
                    self.failures.append(f"{problem}\n  request: {raw[:300]!r}")

    def health(self, sanitized):
        while time.monotonic() < self.deadline and not self.failures:
            time.sleep(2)
            if self.view.proc.poll() is not None:
                self.failures.append(f"vornctl view ended with {self.view.proc.returncode}")
                return
            start = time.monotonic()
            try:
                status, _ = self.view.request("GET", "/api/devices")
            except OSError as e:
                status = str(e)
            took = time.monotonic() - start
            if status != 200 or took > HEALTH_BOUND_S:
                self.failures.append(f"the device list answered {status} in {took:.2f} s")
            rss = self.view.rss_kib() / 1024
            if not sanitized and rss > MEMORY_BOUND_MIB:
                self.failures.append(f"vornctl view holds {rss:.0f} MiB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    parser.add_argument("--clients", type=int, default=6)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vornctl-view-fuzz-")
    os.environ["VORN_VIEW_OUT"] = work
    from view_harness import Sim, View  # noqa: E402  (reads VORN_VIEW_OUT)
    sanitized = bool(os.environ.get("VORN_VIEW_SANITIZED"))
    sim = Sim("VSC0000901", [("ECG", "mV", -5, 5, "sine", 3), ("Temp", "degC", 30, 42, "ramp", 0.5)])
    view = View([sim], ["--token"])
    fuzzer = Fuzzer(view, args.seed, time.monotonic() + args.seconds)
    threads = [threading.Thread(target=fuzzer.client, args=(k,)) for k in range(args.clients)]
    threads.append(threading.Thread(target=fuzzer.health, args=(sanitized,)))
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    started = time.monotonic()
    code, err = view.stop()
    sim.stop()
    if code != 0:
        fuzzer.failures.append(f"Ctrl-C ended vornctl view with {code} after {time.monotonic() - started:.1f} s")
    for sign in ("AddressSanitizer", "runtime error:", "LeakSanitizer", "ThreadSanitizer"):
        if sign in err:
            fuzzer.failures.append(f"{sign} in vornctl view's output:\n{err[-3000:]}")
    statuses = ", ".join(f"{k}: {v}" for k, v in sorted(fuzzer.statuses.items()))
    if fuzzer.failures:
        print(f"fuzz view requests: FAILED (seed {args.seed}, {fuzzer.count} requests)")
        for f in fuzzer.failures[:5]:
            print("  " + f)
        print(f"  kept in {work}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print(f"fuzz view requests: ok ({fuzzer.count} requests in {args.seconds:.0f}s, seed {args.seed}; {statuses})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
