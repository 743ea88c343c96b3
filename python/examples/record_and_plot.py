#!/usr/bin/env python3
"""Records a few seconds from a Vorn device and plots every channel into a PNG.

    python3 record_and_plot.py [OUT.png] [--seconds S]

Without VORN_PORTS set, it starts vorn-sim (from $VORN_SIM, the checkout's
dist/ or build tree, or $PATH) and records the simulated device.
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import vorn  # noqa: E402


def start_simulator() -> subprocess.Popen:
    repo = pathlib.Path(__file__).resolve().parents[2]
    candidates = [os.environ.get("VORN_SIM"), repo / "dist/linux/bin/vorn-sim",
                  repo / "build/linux/tools/vorn-sim/vorn-sim", shutil.which("vorn-sim")]
    program = next((str(c) for c in candidates if c and pathlib.Path(c).is_file()), None)
    if program is None:
        raise SystemExit("vorn-sim not found: set VORN_SIM, or VORN_PORTS for a real device")
    sim = subprocess.Popen([program], stdout=subprocess.PIPE, text=True, start_new_session=True)
    os.environ["VORN_PORTS"] = sim.stdout.readline().strip()  # SERIAL=PATH
    return sim


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", nargs="?", default="vorn-recording.png")
    parser.add_argument("--seconds", type=float, default=3.0)
    args = parser.parse_args()
    sim = start_simulator() if "VORN_PORTS" not in os.environ else None
    try:
        device = vorn.devices()[0]
        recording = device.record(args.seconds)
        vorn.close_all()
    finally:
        if sim is not None:
            sim.send_signal(signal.SIGTERM)
            sim.wait()
    print(recording)
    fig, axes = plt.subplots(len(recording.channels), 1, sharex=True, squeeze=False,
                             figsize=(10, 2 * len(recording.channels)))
    for i, (ax, channel) in enumerate(zip(axes[:, 0], recording.channels)):
        ax.plot(recording.times, recording.data[:, i], linewidth=0.8)
        ax.set_ylabel(f"{channel.name} [{channel.unit}]" if channel.unit else channel.name)
    axes[-1, 0].set_xlabel("time [s]")
    fig.suptitle(f"{recording.product} {recording.serial}, {recording.period * 1000:g} ms period")
    fig.tight_layout()
    fig.savefig(args.out, dpi=100)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main()
