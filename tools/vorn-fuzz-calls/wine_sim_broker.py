#!/usr/bin/env python3
"""Serves the Windows call fuzzer under Wine with native simulators.

    wine_sim_broker.py --sim VORN-SIM --prefix WINEPREFIX -- COMMAND...

Runs COMMAND (the fuzzer under Wine) with VORN_FUZZ_BROKER set to a folder of
its own, and while it runs answers the requests the fuzzer writes there: start a
simulator behind COM port N of the prefix, stop one, describe a device. A
Windows program could start the native simulator itself, but Wine then keeps a
handle for every native process started, which would count against the
library's handles, and signals a native process's handle before it has ended.

A request is a file req-ID.json ({"op": "start"|"stop"|"describe", ...}), made
whole by a rename; the answer is rep-ID.json, made the same way.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time


def answer(folder, ident, reply):
    part = os.path.join(folder, "rep-%s.part" % ident)
    with open(part, "w") as f:
        json.dump(reply, f)
    os.rename(part, os.path.join(folder, "rep-%s.json" % ident))


def start(args, prefix, sims, request):
    link = os.path.join(prefix, "dosdevices", "com%d" % request["com"])
    if os.path.lexists(link):
        os.unlink(link)
    command = [args.sim] + request["args"] + ["--serial", request["serial"], "--sent-log", request["sent_log"],
                                              "--link", link, "--exit-after", "900"]
    sim = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(400):
        if os.path.lexists(link) or sim.poll() is not None:
            break
        time.sleep(0.0125)
    if not os.path.lexists(link):
        stop_process(sim)
        return {"ok": False, "error": "vorn-sim did not make %s" % link}
    sims[sim.pid] = sim
    return {"ok": True, "pid": sim.pid}


def stop_process(sim):
    if sim.poll() is None:
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(timeout=5)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()


def handle(args, folder, sims, ident, request):
    op = request.get("op")
    if op == "start":
        return start(args, args.prefix, sims, request)
    if op == "stop":
        sim = sims.pop(request.get("pid"), None)
        if sim:
            stop_process(sim)
        return {"ok": True}
    if op == "describe":
        # The text as bytes (units may hold Latin-1), in a file the fuzzer reads and removes.
        text = os.path.join(folder, "describe-%s.txt" % ident)
        with open(text, "wb") as out:
            done = subprocess.run([args.sim] + request["args"] + ["--describe"], stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=10)
        return {"ok": done.returncode == 0, "file": text}
    return {"ok": False, "error": "unknown request %r" % op}


def serve(args, folder, command):
    sims = {}
    worker = subprocess.Popen(command, env=dict(os.environ, VORN_FUZZ_BROKER=folder))
    try:
        while True:
            requests = sorted(n for n in os.listdir(folder) if n.startswith("req-") and n.endswith(".json"))
            for name in requests:
                path = os.path.join(folder, name)
                ident = name[4:-5]
                try:
                    with open(path) as f:
                        request = json.load(f)
                except (OSError, ValueError) as e:
                    answer(folder, ident, {"ok": False, "error": "unreadable request: %s" % e})
                    os.unlink(path)
                    continue
                os.unlink(path)
                try:
                    reply = handle(args, folder, sims, ident, request)
                except Exception as e:  # a request that fails must not end the worker's run
                    reply = {"ok": False, "error": "%s: %s" % (type(e).__name__, e)}
                answer(folder, ident, reply)
            if worker.poll() is not None and not requests:
                return worker.returncode
            time.sleep(0.005)
    finally:
        if worker.poll() is None:
            worker.kill()
            worker.wait()
        for sim in sims.values():
            stop_process(sim)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command to run")
    with tempfile.TemporaryDirectory(prefix="vorn-fuzz-broker-") as folder:
        return serve(args, folder, command)


if __name__ == "__main__":
    sys.exit(main())
