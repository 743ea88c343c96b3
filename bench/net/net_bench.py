#!/usr/bin/python3
"""`vornctl serve` over loopback: N simulated devices x 4 channels x 500 lines/s
(N = 32; 8 in the smoke run) through one publisher to its subscribers:

- lines lost: every row the bench's subscriber received, set against the
  simulators' sent logs (a line missing anywhere from the pty to the
  subscriber is counted), and the gap sets `vornctl record --from --all`
  wrote when this vornctl has it;
- device line to subscriber: the subscriber's receive time minus the
  publisher's host time of the message's last line (one machine, the
  publisher's monotonic clock placed on ours through start_unix);
- the publisher's CPU (utime + stime from /proc) per device, against one local
  `vornctl record --all` of N twin devices (same channels and period) in the
  same window;
- the publisher's CPU at 1, N/4 and N devices, to see how it grows.

Called by scripts/bench like the benchmark programs; writes their JSON form.
    net_bench.py [--benchmark_out=FILE] [--benchmark_min_time=S]
"""
import glob
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import zmq

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "tools", "view"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "tools", "net"))
from vorn import _wire  # noqa: E402
from serve_test import collect  # noqa: E402

# The slow ramp makes every row of a device's stream unique for 100 s, so a
# received row has one place among the sent lines.
CHANNELS = [("Count", "na", 0, 50000, "ramp", 0.01), ("ECG", "mV", -5, 5, "sine", 3),
            ("Pressure", "mmHg", 0, 300, "sine", 1), ("Resp", "l/min", 0, 60, "square", 2)]
PERIOD_S = 0.002
TICKS = os.sysconf("SC_CLK_TCK")
STARTED = []  # every process the bench started, killed on the way out at the latest


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def start(command, **kw):
    proc = subprocess.Popen(command, **kw)
    STARTED.append(proc)
    return proc


def interrupt(proc, timeout=30):
    """Ctrl-C, as a user ends it; killed when it does not end in time."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGINT)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def log_size(sim):
    try:
        return os.path.getsize(sim.sent_log)
    except OSError:
        return 0


def wait_streaming(sims, timeout, proc):
    """Until every simulator's sent log grows, i.e. every device streams."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        before = [log_size(s) for s in sims]
        time.sleep(0.5)
        if all(log_size(s) > b for s, b in zip(sims, before)):
            return
        if proc.poll() is not None:
            raise RuntimeError(f"{proc.args[1]} ended ({proc.returncode}) before every device streamed")
    raise RuntimeError(f"not every device streaming within {timeout} s")


def has_record_from(vornctl):
    """Whether this vornctl records from a publisher (its usage error names --from, not an unknown option)."""
    said = subprocess.run([vornctl, "record", "--from", "tcp://127.0.0.1:1"], capture_output=True, text=True,
                          timeout=30, cwd=tempfile.gettempdir())
    return said.returncode == 2 and "record --from:" in said.stderr


def local_record(vornctl, sims, out):
    """One `vornctl record --all` of these devices writing CSV, once every device streams."""
    env = dict(os.environ, VORN_PORTS=";".join(s.port_entry for s in sims))
    rec = start([vornctl, "record", "--all", "--period", "2ms", "--no-progress", "--force", "--out",
                 os.path.join(out, "local.csv")], env=env, cwd=out, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
    wait_streaming(sims, 60, rec)
    return rec


def serve_phase(vornctl, sims, out, seconds, record_from, alongside=None):
    """One publisher over these devices, the bench's subscriber and, when there, record --from;
    alongside() starts a process whose CPU is measured beside the publisher's in a second window."""
    env = dict(os.environ, VORN_PORTS=";".join(s.port_entry for s in sims))
    serve = start([vornctl, "serve", "--all", "--period", "2ms", "--bind", "tcp://127.0.0.1:*"], env=env, cwd=out,
                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ctx = zmq.Context.instance()
    sock = ctx.socket(zmq.SUB)
    sock.linger = 0
    sock.rcvhwm = 1000000  # the bench's own queue is never the one that drops
    recorder = None
    try:
        from view_harness import read_line
        data_url = read_line(serve, 120, "data endpoint")
        read_line(serve, 10, "control endpoint")
        sock.connect(data_url)
        sock.setsockopt(zmq.SUBSCRIBE, b"")
        if record_from:
            prefix = os.path.join(out, f"from-{len(sims)}")
            for old in glob.glob(prefix + "-*"):
                os.remove(old)
            recorder = start([vornctl, "record", "--from", data_url, "--all", "--out", prefix + ".csv"], cwd=out,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        serials = {serial_text(s.serial): s for s in sims}
        seen = set()

        def everyone(messages):
            seen.update(t for _, t, _ in messages[-200:] if t.endswith(b"/data"))
            return len(seen) == len(serials)

        warm = collect(sock, 90, everyone)
        if not everyone(warm):
            raise RuntimeError(f"data from {len(seen)} of {len(serials)} devices within 90 s")
        # The publisher's clock on ours: its start_unix less the wall clock's lead, read now.
        wall_lead = time.time() - time.monotonic()
        collect(sock, 1)
        pids = [serve.pid] + [x.proc.pid for x in sims]
        before = [cpu_seconds(p) for p in pids]
        window = collect(sock, seconds)
        pct = [100.0 * (cpu_seconds(p) - b) / seconds for p, b in zip(pids, before)]
        metas = {}
        for _, topic, payload in warm + window:
            if topic.endswith(b"/meta"):
                metas[_wire.topic_serial(topic)] = json.loads(payload)
        result = dict(devices=len(sims), core_pct=pct[0], simulators_core_pct=sum(pct[1:]),
                      load_average=os.getloadavg()[0])
        result.update(check_window(window, serials, metas, wall_lead))
        if alongside:
            # A second window with the baseline beside the publisher: on this shared
            # machine the CPU a process takes moves with the load around it. (Not the
            # first window: the two of them on two cores would delay every line.)
            twin = alongside()
            collect(sock, 1)
            before = [cpu_seconds(serve.pid), cpu_seconds(twin.pid)]
            collect(sock, seconds)
            result["beside_core_pct"], result["alongside_core_pct"] = (
                100.0 * (cpu_seconds(p) - b) / seconds for p, b in zip((serve.pid, twin.pid), before))
            interrupt(twin)
        if recorder:
            interrupt(recorder)
            result["record_from_gap_sets"], result["record_from_rows"] = csv_gaps(prefix)
        return result
    finally:
        sock.close()
        if recorder:
            interrupt(recorder)
        interrupt(serve)
        serve.stdout.close()


def serial_text(sim_serial):
    """The driver's serial text: what follows the serial number's first three characters."""
    return sim_serial[3:]


def scaled_lines(sim):
    """The simulator's sent lines as the driver scales them onto 0..32767."""
    with open(sim.sent_log, encoding="ascii", errors="replace") as f:
        rows = [line.split(",")[1:] for line in f]
    values = np.array([r for r in rows if len(r) == len(CHANNELS)], dtype=np.float64)
    out = np.empty(values.shape, dtype=np.int64)
    for c, (_, _, lo, hi, _, _) in enumerate(CHANNELS):
        x = np.clip(values[:, c], lo, hi)
        t = ((x - lo) / np.float64(np.float32(hi - lo))).astype(np.float32).astype(np.float64)
        out[:, c] = np.floor(t * 32767.0 + 0.5)
    return out


def lost_lines(sent, rows):
    """Lines sent between the first and last received row that the subscriber did not get,
    and received rows that are no sent line at all."""
    def same(a, b):
        return np.all(np.abs(a - b) <= 1, axis=1)

    def place(row, lo):
        hits = np.nonzero(same(sent[lo:], row[None, :]))[0]
        return lo + int(hits[0]) if len(hits) else -1

    lost = strange = i = 0
    at = -1
    while i < len(rows) and at < 0:
        at = place(rows[i], 0)
        if at < 0:
            strange += 1
            i += 1
    while i < len(rows):
        # The longest run from here where received rows are consecutive sent lines.
        span = min(len(rows) - i, len(sent) - at, 4096)
        run = same(sent[at:at + span], rows[i:i + span])
        k = span if run.all() else int(np.argmin(run))
        i += k
        at += k
        if k or i >= len(rows):
            continue
        found = place(rows[i], at)
        if found < 0:
            strange += 1
            i += 1
        else:
            lost += found - at
            at = found
    return lost, strange


def check_window(window, serials, metas, wall_lead):
    per_device = {s: [] for s in serials}
    delays = []
    sequence_jumps = 0
    last_sequence = {}
    for arrival, topic, payload in window:
        if not topic.endswith(b"/data"):
            continue
        m = _wire.decode_data(payload)
        if m.serial not in per_device:
            continue
        per_device[m.serial].append(m.values.astype(np.int64).reshape(-1, len(CHANNELS)))
        if m.serial in last_sequence and m.sequence != last_sequence[m.serial] + 1:
            sequence_jumps += 1
        last_sequence[m.serial] = m.sequence
        start_unix = metas[m.serial]["publisher"]["start_unix"]
        delays.append(1e3 * (arrival - (start_unix - wall_lead + m.last_host_us / 1e6)))
    time.sleep(0.5)  # the simulators log a line a moment after its bytes are in the pty
    lost = strange = received = 0
    for serial, sim in serials.items():
        messages = per_device[serial]
        received += sum(len(r) for r in messages)
        device_lost, device_strange = lost_lines(scaled_lines(sim), np.concatenate(messages)) if messages else (0, 0)
        lost += device_lost
        strange += device_strange
    delays.sort()
    return dict(lost=lost, not_sent=strange, received_lines=received, sequence_jumps=sequence_jumps,
                silent_devices=sum(1 for m in per_device.values() if not m),
                latency_median_ms=statistics.median(delays) if delays else float("nan"),
                latency_p99_ms=delays[int(0.99 * (len(delays) - 1))] if delays else float("nan"),
                latency_min_ms=delays[0] if delays else float("nan"), latency_samples=len(delays))


def csv_gaps(prefix):
    """Gap sets and rows in record --from's files ("# GAP: ..., sets N, reason R" lines)."""
    gaps = rows = 0
    for path in glob.glob(prefix + "-*.csv"):
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("# GAP:"):
                    gaps += int(re.search(r"sets (\d+)", line).group(1))
                elif line[:1].isdigit():
                    rows += 1
    return gaps, rows


def row(name, seconds, **fields):
    return dict(name=name, run_type="iteration", iterations=1, real_time=seconds * 1e3, cpu_time=0, time_unit="ms",
                **fields)


def main(argv):
    out_file = None
    smoke = False
    for a in argv[1:]:
        if a.startswith("--benchmark_out="):
            out_file = a.split("=", 1)[1]
        elif a.startswith("--benchmark_min_time="):
            smoke = True
    devices, seconds = (8, 3.0) if smoke else (32, 10.0)
    scale = (1, devices // 4)
    scale_seconds = 2.0 if smoke else seconds
    out = os.environ.setdefault("VORN_NET_BENCH_OUT", tempfile.mkdtemp(prefix="vornctl-net-bench-"))
    os.makedirs(out, exist_ok=True)
    os.environ["VORN_VIEW_OUT"] = out
    from view_harness import VORNCTL, Sim
    record_from = has_record_from(VORNCTL)
    sims = []
    try:
        for i in range(2 * devices):
            sims.append(Sim(f"VSC0071{i:03d}", CHANNELS))
            sims[-1].serial = f"VSC0071{i:03d}"
        full = serve_phase(VORNCTL, sims[:devices], out, seconds, record_from,
                           lambda: local_record(VORNCTL, sims[devices:], out))
        small = {n: serve_phase(VORNCTL, sims[:n], out, scale_seconds, record_from) for n in scale}
    finally:
        for s in sims:
            s.stop()
        for p in STARTED:
            if p.poll() is None:
                p.kill()
                p.wait()
    subscribers = "record --from and the bench's SUB" if record_from else "the bench's SUB"
    results = [
        row("NetServeLinesLost", seconds, devices=devices, lines_per_s=1 / PERIOD_S, subscribers=subscribers,
            **{k: full[k] for k in ("lost", "not_sent", "received_lines", "sequence_jumps", "silent_devices")},
            record_from_gap_sets=full.get("record_from_gap_sets"), record_from_rows=full.get("record_from_rows")),
        row("NetServeLatency", seconds, devices=devices, median_ms=full["latency_median_ms"],
            p99_ms=full["latency_p99_ms"], min_ms=full["latency_min_ms"], samples=full["latency_samples"],
            load_average=full["load_average"]),
        row("NetServeCpu", seconds, devices=devices, core_pct=full["core_pct"],
            simulators_core_pct=full["simulators_core_pct"]),
        row("NetServeBesideRecordCpu", seconds, devices=devices, core_pct=full["beside_core_pct"],
            per_device_pct=full["beside_core_pct"] / devices),
        row("NetLocalRecordCpu", seconds, devices=devices, core_pct=full["alongside_core_pct"],
            per_device_pct=full["alongside_core_pct"] / devices),
    ]
    for label, n in zip(("NetServeCpuOne", "NetServeCpuQuarter"), scale):
        results.append(row(label, scale_seconds, devices=n, core_pct=small[n]["core_pct"], lost=small[n]["lost"],
                           median_ms=small[n]["latency_median_ms"]))
    for r in results:
        print(r)
    if out_file:
        with open(out_file, "w") as f:
            json.dump({"context": {"executable": __file__}, "benchmarks": results}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
