#!/usr/bin/python3
"""`vornctl view` at 8 devices x 4 channels x 500 lines/s, against the same
devices recorded by 8 `vornctl record` processes in the same run:

- server CPU (user + system, % of one core) while every device streams and is
  recorded to CSV and a headless chromium shows the page, beside the summed
  CPU of the 8 recorders writing the same CSV;
- arrival-to-draw delay: from the server's read of a block's newest line to
  the page's drawing of it (the page measures it; one clock, loopback).

Called by scripts/bench like the benchmark programs; writes their JSON form.
    view_bench.py [--benchmark_out=FILE] [--benchmark_min_time=S]
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "tools", "view"))

DEVICES = 8
CHANNELS = [("ECG", "mV", -5, 5, "sine", 3), ("Pressure", "mmHg", 0, 300, "sine", 1),
            ("Temp", "degC", 30, 42, "ramp", 0.5), ("Resp", "l/min", 0, 60, "square", 2)]
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def measure(pids, seconds):
    before = sum(cpu_seconds(p) for p in pids)
    time.sleep(seconds)
    return 100.0 * (sum(cpu_seconds(p) for p in pids) - before) / seconds


def main(argv):
    out = None
    seconds = 10.0
    for a in argv[1:]:
        if a.startswith("--benchmark_out="):
            out = a.split("=", 1)[1]
        elif a.startswith("--benchmark_min_time="):
            seconds = 3.0  # the smoke run
    os.environ.setdefault("VORN_VIEW_OUT", tempfile.mkdtemp(prefix="vornctl-view-bench-"))
    from view_harness import OUT, VORNCTL, Sim, View  # noqa: E402
    sims = [Sim(f"VSC00009{i:02d}", CHANNELS) for i in range(DEVICES)]
    results = []
    try:
        # Baseline: the recorder alone, one process per device.
        recorders = []
        for i, s in enumerate(sims):
            env = dict(os.environ, VORN_PORTS=s.port_entry)
            recorders.append(subprocess.Popen(
                # --force: the last run's files are scratch, replaced as the run completes.
                [VORNCTL, "record", "0", "--period", "2ms", "--seconds", str(seconds + 8), "--no-progress",
                 "--force", "--out", os.path.join(OUT, f"bench-record-{i}.csv")], env=env, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL))
        time.sleep(5)
        record_pct = measure([r.pid for r in recorders], seconds)
        for r in recorders:
            r.wait()

        view = View(sims, ["--start"])
        try:
            view.wait_for(lambda ds: all(d["status"] == "streaming" for d in ds), 60, "every device streaming")
            for i in range(DEVICES):
                view.post(i, "record", {"format": "csv"})
            from view_browser_test import browser
            driver, profile = browser()
            try:
                driver.get(view.url)
                time.sleep(4)
                driver.execute_script("window.vornViewBenchFrom = vornView.delays().length")
                view_pct = measure([view.proc.pid], seconds)
                delays = driver.execute_script("return vornView.delays()")
                lines = [d["stats"]["rate"] for d in view.devices()]
            finally:
                driver.quit()
            dropped = sum(d["stats"]["dropped"] + d["stats"]["missing"] for d in view.devices())
        finally:
            view.stop()
        recent = delays[-int(seconds * 30 * DEVICES):] or [float("nan")]
        delays_sorted = sorted(recent)
        results = [
            dict(name="ViewServerCpu", run_type="iteration", iterations=1, real_time=seconds * 1e3, cpu_time=0,
                 time_unit="ms", core_pct=view_pct, devices=DEVICES, lines_per_s=sum(lines), lost=dropped),
            dict(name="RecorderAloneCpu", run_type="iteration", iterations=1, real_time=seconds * 1e3, cpu_time=0,
                 time_unit="ms", core_pct=record_pct, devices=DEVICES),
            dict(name="ViewArrivalToDraw", run_type="iteration", iterations=1, real_time=seconds * 1e3, cpu_time=0,
                 time_unit="ms", median_ms=statistics.median(recent),
                 p95_ms=delays_sorted[int(0.95 * (len(delays_sorted) - 1))], samples=len(recent)),
        ]
    finally:
        for s in sims:
            s.stop()
    for r in results:
        print(r)
    if out:
        with open(out, "w") as f:
            json.dump({"context": {"executable": __file__}, "benchmarks": results}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
