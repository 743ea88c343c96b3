#!/usr/bin/env python3
"""The Python package's figures, written as a benchmark program's JSON:

- PythonStreamToNumpy: lines per second of the reading thread's CPU that
  Device.stream turns into numpy rows, on the stream the C reader
  (bench_host_reader) reads, 0.1 ms period (the fastest the simulator offers),
  and lines per second of wall-clock time from the start to the stop, which
  the stream limits (wall_lines_per_s beside sent_lines_per_s, what the
  simulator wrote in that time, and period_lines_per_s, 10 000);
- PythonEightDevices: CPU of this process (the driver's receive threads
  included) recording eight simulated devices at 2 ms, in % of one core, beside
  the driver's own threads' share of it.

    bench_python.py --library LIB --sim VORN_SIM [--benchmark_out=FILE] [...]
"""
import json
import os
import pathlib
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "python"))


def option(name, default=None):
    for i, a in enumerate(sys.argv):
        if a == name and i + 1 < len(sys.argv):
            return sys.argv[i + 1]
        if a.startswith(name + "="):
            return a.split("=", 1)[1]
    return default


def start_sims(program, count, args):
    sims, entries = [], []
    for i in range(count):
        serial = f"VSC{2000001 + i}"
        p = subprocess.Popen([program, "--serial", serial, *args], stdout=subprocess.PIPE, text=True,
                             start_new_session=True)
        select.select([p.stdout], [], [], 10)
        entries.append(p.stdout.readline().strip())
        sims.append(p)
    os.environ["VORN_PORTS"] = ";".join(entries)
    return sims


def stop_sims(sims):
    for p in sims:
        p.send_signal(signal.SIGTERM)
    for p in sims:
        p.wait()


def thread_cpu(tid):
    """CPU seconds of one thread of this process, from the scheduler's account
    in nanoseconds (the clock-tick counts of stat are too coarse for threads
    that each run a few milliseconds)."""
    return int(pathlib.Path(f"/proc/self/task/{tid}/schedstat").read_text().split()[0]) / 1e9


def process_cpu():
    """CPU seconds of the whole process, exited threads included."""
    return time.process_time()


def stream_to_numpy(vorn, seconds, sent_log):
    dev = vorn.devices()[0]
    lines = malformed = 0
    start_wall = time.monotonic()
    with dev.stream() as s:
        cpu0 = time.thread_time()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            block = s.read(timeout=end - time.monotonic())
            if block is not None:
                lines += len(block)
                malformed += block.malformed
        cpu = time.thread_time() - cpu0
        rest = s.stop()
        lines += len(rest) if rest is not None else 0
        window = s._stop_time - s.start_host_time
        period = s.period
    vorn.close_all()
    # Beside what the simulator wrote over the same window: on a loaded machine it
    # falls short of its period, and the reader can only keep up with what comes.
    sent = len(pathlib.Path(sent_log).read_bytes().splitlines())
    return dict(name="PythonStreamToNumpy", lines=lines, malformed=malformed, reader_cpu_s=cpu,
                lines_per_s=lines / cpu if cpu > 0 else 0, wall_lines_per_s=lines / window,
                sent_lines_per_s=sent / window, period_lines_per_s=1 / period, gaps=len(s.gaps),
                wall_s=time.monotonic() - start_wall)


def eight_devices(vorn, seconds):
    found = vorn.devices()
    python_threads = set()
    done = threading.Event()

    before = {t.native_id for t in threading.enumerate()}
    process0 = process_cpu()
    wall0 = time.monotonic()
    # Driver threads are the process's threads that Python did not start.
    tids0 = {int(t): thread_cpu(t) for t in os.listdir("/proc/self/task")}

    def note_threads():
        while not done.is_set():
            python_threads.update(t.native_id for t in threading.enumerate())
            done.wait(0.2)

    watcher = threading.Thread(target=note_threads, daemon=True)
    watcher.start()
    driver_cpu_end = {}

    recs = vorn.record_all(seconds)
    wall = time.monotonic() - wall0
    process = process_cpu() - process0
    for t in os.listdir("/proc/self/task"):
        tid = int(t)
        if tid not in python_threads and tid not in before:
            try:
                driver_cpu_end[tid] = thread_cpu(tid)
            except OSError:
                pass
    done.set()
    watcher.join()
    driver = sum(v - tids0.get(tid, 0.0) for tid, v in driver_cpu_end.items())
    lines = sum(len(r) for r in recs)
    vorn.close_all()
    return dict(name="PythonEightDevices", devices=len(found), lines=lines,
                process_core_pct=100 * process / wall, driver_threads_core_pct=100 * driver / wall,
                wall_s=wall)


def main():
    os.environ["VORN_LIBRARY"] = option("--library", os.environ.get("VORN_LIBRARY", ""))
    program = option("--sim")
    seconds = float(os.environ.get("VORN_BENCH_STREAM_SECONDS") or 5)
    import vorn

    results = []
    with tempfile.TemporaryDirectory() as scratch:
        sent_log = os.path.join(scratch, "sent")
        sims = start_sims(program, 1, ["--periods", "0.0001", "--sent-log", sent_log])
        try:
            results.append(stream_to_numpy(vorn, seconds, sent_log))
        finally:
            stop_sims(sims)
    sims = start_sims(program, 8, [])
    try:
        results.append(eight_devices(vorn, seconds))
    finally:
        stop_sims(sims)
    benchmarks = [dict(r, run_type="iteration", iterations=1, real_time=r["wall_s"] * 1e3, time_unit="ms")
                  for r in results]
    for b in benchmarks:
        print(" ".join(f"{k}={v:.4g}" if isinstance(v, float) else f"{k}={v}" for k, v in b.items()))
    out = option("--benchmark_out")
    if out:
        pathlib.Path(out).write_text(json.dumps({"benchmarks": benchmarks}, indent=2) + "\n")


if __name__ == "__main__":
    main()
