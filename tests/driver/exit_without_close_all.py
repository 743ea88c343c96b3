#!/usr/bin/env python3
"""Hosts that end without CloseAll: after finding a device, after initialising it and
while it streams, a host returns from main or calls exit() (and, on Windows,
ExitProcess), or unloads the library and then returns, and leaves the sessions
to the library's own shut-down. Every such host must end with status 0, and a
device that was opened must have received X.

POSIX hosts also end while a second thread reads (two devices streaming, exit()
while the reader waits in ReadLine), and fork a child that exits (also after a
failed exec): the parent must then stream, stop and close as usual, and each
device must hear X once, from the parent.

Run natively with the C host and a Python (ctypes) host, and under Wine with the
Windows build of the C host; each scenario gets a fresh simulated device whose trace
tells what it received.
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

STAGES = ("found", "initialised", "streaming")
# Endings that need a streaming host and are run at that stage only.
STREAMING_ONLY = ("exit-reading", "fork-exit", "fork-exec-fail")

PYTHON_HOST = r"""
import ctypes, sys
library, stage, ending = sys.argv[1:4]
lib = ctypes.CDLL(library)
index = ctypes.c_int32(-1)
if lib.FindDevice(ctypes.byref(index)) != 1:
    sys.exit(3)
if stage != "found" and lib.Initialise(index.value) != 1:
    sys.exit(4)
class CommandRecord(ctypes.Structure):
    _fields_ = [("textBuffer", ctypes.c_char_p), ("textLength", ctypes.c_int32), ("reserved1", ctypes.c_int32),
                ("argument", ctypes.c_int32), ("reserved2", ctypes.c_int32), ("intResult", ctypes.c_int32),
                ("floatResult", ctypes.c_float)]
if stage == "streaming":
    enable = CommandRecord(argument=1)
    start = CommandRecord()
    if lib.DeviceCommand(index.value, 42, ctypes.byref(enable)) != 1 or lib.DeviceCommand(index.value, 37, ctypes.byref(start)) != 1:
        sys.exit(5)
    line = ctypes.create_string_buffer(512)
    for _ in range(50):
        if lib.ReadLine(index.value, line, 512, 2000) == 1 and line.value.startswith(b"@ "):
            break
    else:
        sys.exit(5)
print("ending by", ending, "at", stage, flush=True)
if ending == "exit":
    sys.exit(0)
"""


def start_sim(args, serial, trace, com):
    command = [args.sim, "--serial", serial, "--trace", trace]
    if args.wine_prefix:
        link = os.path.join(args.wine_prefix, "dosdevices", "com%d" % com)
        if os.path.lexists(link):
            os.unlink(link)
        command += ["--link", link]
    sim = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    first = sim.stdout.readline().strip()
    if "=" not in first:
        sim.kill()
        sim.wait()
        raise RuntimeError("vorn-sim did not start: %r" % first)
    if args.wine_prefix:
        return sim, "%s=\\\\.\\COM%d" % (serial, com)
    return sim, first


def stop_sim(sim):
    sim.send_signal(signal.SIGTERM)
    try:
        sim.wait(timeout=10)
    except subprocess.TimeoutExpired:
        sim.kill()
        sim.wait()


def run_case(args, host, stage, ending, workdir, number):
    devices = 2 if ending == "exit-reading" else 1
    sims, traces, entries = [], [], []
    try:
        for d in range(devices):
            serial = "VSC00005%02d" % ((number * 2 + d) % 100)
            traces.append(os.path.join(workdir, "case%d-%d.trace" % (number, d)))
            sim, entry = start_sim(args, serial, traces[-1], args.com + d)
            sims.append(sim)
            entries.append(entry)
        ports = ";".join(entries)
        env = dict(os.environ, VORN_PORTS=ports)
        if host == "python":
            command = [args.python, "-c", PYTHON_HOST, args.library, stage, ending]
        else:
            command = args.host + [args.library, ports, stage, ending]
        try:
            done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=args.timeout)
            status, output = done.returncode, (done.stdout + done.stderr).strip()
        except subprocess.TimeoutExpired:
            status, output = "hung", ""
        # The device notes what it receives as it arrives; give the last write a moment.
        time.sleep(0.3)
    finally:
        for sim in sims:
            stop_sim(sim)
    problems = []
    if status != 0:
        problems.append("exit status %s (%s)" % (status, output.splitlines()[-1] if output else "no output"))
    for d, trace in enumerate(traces):
        with open(trace, encoding="utf-8", errors="replace") as f:
            stops = f.read().count("rx :X")
        if stage != "found" and stops == 0:
            problems.append("device %d never received X" % d)
        if ending.startswith("fork") and stops > 1:
            problems.append("device %d received X %d times: the child closed its parent's session" % (d, stops))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--host", nargs="+", required=True, help="the C host, with any runner before it")
    parser.add_argument("--python", help="also run the Python host with this interpreter")
    parser.add_argument("--endings", default="return,exit")
    parser.add_argument("--wine-prefix", help="serve the device behind COMn of this Wine prefix")
    parser.add_argument("--com", type=int, default=57, help="the first of the COM ports (one per device)")
    parser.add_argument("--timeout", type=float, default=120)
    args = parser.parse_args()

    hosts = ["c"] + (["python"] if args.python else [])
    failures = 0
    number = 0
    with tempfile.TemporaryDirectory(prefix="vorn-exit-") as workdir:
        for host in hosts:
            for ending in args.endings.split(","):
                if host == "python" and ending in ("exitprocess", "unload"):
                    continue
                for stage in STAGES:
                    if ending in STREAMING_ONLY and (host != "c" or stage != "streaming"):
                        continue
                    number += 1
                    problems = run_case(args, host, stage, ending, workdir, number)
                    verdict = "ok" if not problems else "FAILED: " + "; ".join(problems)
                    print("%-6s host, %-11s then %-11s %s" % (host, stage, ending, verdict), flush=True)
                    failures += bool(problems)
    print("%d of %d cases failed" % (failures, number))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
