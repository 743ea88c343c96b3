#!/usr/bin/env python3
"""One table from the benchmark programs' JSON: each figure beside the baseline
measured in the same run, the ratio between them and the goal it is held to.

    report.py RESULTS_DIR [--json OUT]

Exits 1 when a figure is missing (a benchmark that did not run); goals that are
not met are shown, not failed on: timings depend on the machine.
"""
import json
import pathlib
import sys


def load(results):
    runs = {}
    for path in sorted(results.glob("bench_*.json")):
        for b in json.loads(path.read_text()).get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
                continue
            runs[b["name"].split("/")[0]] = b
    return runs


def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def rows(runs):
    """(figure, value, unit, baseline, baseline name, goal text, met) per row."""

    def get(name, key=None):
        b = runs.get(name)
        if b is None:
            return None
        if key is None:
            return ms(b)
        return b.get(key)

    out = []

    def add(figure, value, unit, base, base_name, goal, met):
        out.append(dict(figure=figure, value=value, unit=unit, baseline=base, baseline_name=base_name,
                        ratio=(value / base if value is not None and base else None), goal=goal,
                        met=(None if value is None else met(value, base))))

    # The plain poll+read reads on the writing thread; the hand-off baseline pays what
    # any design that gives lines to a host thread pays, the wake-up of that thread.
    lat = get("LatencyReceiveThreadToReadLine", "median_us")
    add("pty to ReadLine, median", lat, "us", get("LatencyReceiveThreadToReadLine", "poll_read_median_us"),
        "plain poll+read, median", "added < 1000 us", lambda v, b: b is not None and v - b < 1000)
    add("pty to ReadLine, median", lat, "us", get("LatencyReceiveThreadToReadLine", "handoff_median_us"),
        "poll+read handing off to a waiting thread, median", "<= 1.10x", lambda v, b: b is not None and v <= 1.10 * b)
    add("pty to ReadLine, p99", get("LatencyReceiveThreadToReadLine", "p99_us"), "us",
        get("LatencyReceiveThreadToReadLine", "handoff_p99_us"), "poll+read handing off, p99", "-",
        lambda v, b: True)
    add("allocations per line, receive to ReadLine", get("LatencyReceiveThreadToReadLine", "allocs_per_line"),
        "", None, "-", "0", lambda v, b: v == 0)
    add("decode throughput", get("BM_DecodeDataLine", "lines_per_s"), "lines/s",
        get("BM_DecodeDataLine", "wire_lines_per_s"), "wire limit at 115200 baud", "above the wire",
        lambda v, b: b is not None and v > b)
    add("allocations per line, decode", get("BM_DecodeDataLine", "allocs_per_line"), "", None, "-", "0",
        lambda v, b: v == 0)
    add("initialisation to complete configuration", get("BM_InitialiseToCompleteConfiguration"), "ms",
        get("BM_SimulatorMinimumExchange"), "simulator's minimum exchange", "< 100 ms", lambda v, b: v < 100)
    stream = "BM_StreamingReceiveThread"
    add("receive thread while streaming", get(stream, "receive_thread_core_pct"), "% core",
        get(stream, "bare_reader_core_pct"), "bare poll+read thread, same stream", "< 1 % of a core",
        lambda v, b: v < 1)
    per_line = get(stream, "receive_thread_us_per_line")
    add("receive thread per line", per_line, "us", get(stream, "bare_reader_us_per_line"),
        "bare poll+read thread, same stream", "-", lambda v, b: True)
    add("receive thread per line", per_line, "us", get(stream, "handoff_reader_us_per_line"),
        "poll+read thread handing off to a waiting thread", "<= 1.15x", lambda v, b: b is not None and v <= 1.15 * b)
    add("memory per streaming session", get("BM_StreamingReceiveThread", "session_rss_kib"), "KiB", None, "-", "-",
        lambda v, b: True)
    view_cpu = get("ViewServerCpu", "core_pct")
    add("vornctl view, 8 devices x 4 channels x 500 lines/s, page open", view_cpu, "% core",
        get("RecorderAloneCpu", "core_pct"), "8 vornctl record, same devices", "< 10 % core over the recorder",
        lambda v, b: b is not None and v - b < 10)
    add("vornctl view arrival to draw, median, 8 devices", get("ViewArrivalToDraw", "median_ms"), "ms", None, "-",
        "< 100 ms", lambda v, b: v < 100)
    add("vornctl view arrival to draw, p95, 8 devices", get("ViewArrivalToDraw", "p95_ms"), "ms", None, "-", "-",
        lambda v, b: True)
    # vornctl serve (bench/net): N devices x 4 channels x 500 lines/s over loopback.
    n = get("NetServeCpu", "devices")
    add(f"vornctl serve, {n} devices: lines lost (received rows vs simulators' sent lines)",
        get("NetServeLinesLost", "lost"), "lines", get("NetServeLinesLost", "received_lines"), "lines received",
        "0", lambda v, b: v == 0 and not get("NetServeLinesLost", "not_sent"))
    if get("NetServeLinesLost", "record_from_rows") is not None:
        add(f"vornctl serve, {n} devices: gap sets in record --from --all's files",
            get("NetServeLinesLost", "record_from_gap_sets"), "sets", get("NetServeLinesLost", "record_from_rows"),
            "rows written", "0", lambda v, b: v == 0)
    add(f"vornctl serve, {n} devices: line to subscriber, median (receive - host time of last line)",
        get("NetServeLatency", "median_ms"), "ms", None, "-", "< 5 ms", lambda v, b: v < 5)
    add(f"vornctl serve, {n} devices: line to subscriber, p99", get("NetServeLatency", "p99_ms"), "ms", None,
        "-", "-", lambda v, b: True)
    add(f"vornctl serve CPU per device, {n} devices", get("NetServeBesideRecordCpu", "per_device_pct"), "% core",
        get("NetLocalRecordCpu", "per_device_pct"), f"local record --all of {n} twins, same window, per device",
        "<= 1.5x", lambda v, b: b is not None and v <= 1.5 * b)
    one = get("NetServeCpuOne", "core_pct")
    add("vornctl serve CPU at 1 device", one, "% core", None, "-", "-", lambda v, b: True)
    for name in ("NetServeCpuQuarter", "NetServeCpu"):
        add(f"vornctl serve CPU at {get(name, 'devices')} devices", get(name, "core_pct"), "% core", one,
            "at 1 device", "-", lambda v, b: True)
    # The Python package (bench/python): its stream beside a C reader of the same exports and stream.
    add("Python stream to numpy rows, per CPU-second of the reading thread", get("PythonStreamToNumpy", "lines_per_s"),
        "lines/s", get("BM_HostReaderCToRows", "lines_per_s"), "C reader, same exports and stream",
        ">= 50,000 lines/s, within 5x of C", lambda v, b: v >= 50000 and b is not None and b <= 5 * v)
    add("Python stream to numpy rows, wall clock", get("PythonStreamToNumpy", "wall_lines_per_s"), "lines/s",
        get("PythonStreamToNumpy", "sent_lines_per_s"), "lines the simulator wrote, same window (period 0.1 ms)",
        "keeps up: >= 0.99x what is sent", lambda v, b: b is not None and v >= 0.99 * b)
    add("Python process recording 8 devices at 2 ms", get("PythonEightDevices", "process_core_pct"), "% core",
        get("PythonEightDevices", "driver_threads_core_pct"), "its driver receive threads", "< 10 % of a core",
        lambda v, b: v < 10)
    ring = runs.get("RingPushTake")
    if ring and "bytes_per_second" in ring:
        add("receive ring push+take", ring["bytes_per_second"] / 1e9, "GB/s", None, "-", "-", lambda v, b: True)
    return out


def number(v):
    if v is None:
        return "missing"
    if v == 0:
        return "0"
    if abs(v) >= 1000:
        return f"{v:,.0f}"
    if abs(v) >= 10:
        return f"{v:.1f}"
    return f"{v:.3g}"


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    results = pathlib.Path(argv[1])
    table = rows(load(results))
    header = ("figure", "measured", "baseline", "ratio", "goal", "met")
    lines = []
    for r in table:
        value = number(r["value"]) + (" " + r["unit"] if r["unit"] and r["value"] is not None else "")
        base = "-" if r["baseline_name"] == "-" else f"{number(r['baseline'])} ({r['baseline_name']})"
        ratio = "-" if r["ratio"] is None else f"{r['ratio']:.2f}x"
        met = "-" if r["goal"] == "-" else {True: "yes", False: "NO", None: "?"}[r["met"]]
        lines.append((r["figure"], value, base, ratio, r["goal"], met))
    widths = [max(len(str(row[i])) for row in [header] + lines) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths)] + lines:
        print("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip())
    if "--json" in argv:
        out = pathlib.Path(argv[argv.index("--json") + 1])
        out.write_text(json.dumps(table, indent=2) + "\n")
        print(f"table: {out}")
    missing = [r["figure"] for r in table if r["value"] is None]
    for m in missing:
        print(f"missing: {m}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
