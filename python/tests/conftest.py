"""Fixtures: vorn-sim devices on pseudo-terminals, pointed at by VORN_PORTS."""
from __future__ import annotations

import os
import pathlib
import select
import shutil
import signal
import subprocess
import sys
from typing import List, Optional

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import vorn  # noqa: E402
from line_model import Description  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]

# Started in the background by a non-interactive shell, the suite inherits Ctrl-C
# ignored, and so would every Python it starts; the Ctrl-C tests need it live.
if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


def find_sim() -> str:
    env = os.environ.get("VORN_SIM")
    if env:
        return env
    for candidate in (REPO / "dist" / "linux" / "bin" / "vorn-sim", REPO / "build" / "linux" / "tools" / "vorn-sim" / "vorn-sim"):
        if candidate.is_file():
            return str(candidate)
    found = shutil.which("vorn-sim")
    if not found:
        pytest.skip("vorn-sim not found: set VORN_SIM or build the linux preset")
    return found


class Sim:
    """One simulated device: its process, port, sent log and trace."""

    def __init__(self, workdir: pathlib.Path, serial: str, device_args: List[str], fault_args: List[str]) -> None:
        self.serial = serial
        self.device_args = device_args
        self.sent_log = workdir / f"{serial}.sent"
        self.trace = workdir / f"{serial}.trace"
        self.program = find_sim()
        self.proc = subprocess.Popen(
            [self.program, "--serial", serial, *device_args, *fault_args, "--sent-log", str(self.sent_log),
             "--trace", str(self.trace)],
            stdout=subprocess.PIPE, start_new_session=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline().decode().strip() if ready else ""
        if "=" not in line:
            self.stop()
            raise RuntimeError(f"vorn-sim printed no SERIAL=PATH line (got {line!r})")
        self.port = line.split("=", 1)[1]

    def describe(self) -> Description:
        out = subprocess.run([self.program, *self.device_args, "--describe"], capture_output=True, text=True,
                             check=True).stdout
        return Description(out)

    def trace_text(self) -> str:
        return self.trace.read_text(errors="replace") if self.trace.exists() else ""

    def sent_lines(self) -> int:
        return len(self.sent_log.read_bytes().splitlines()) if self.sent_log.exists() else 0

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc.stdout:
            self.proc.stdout.close()


@pytest.fixture
def sims(tmp_path, monkeypatch):
    """Starts simulators: sims(n, *device_args, faults=[...]); VORN_PORTS names them all."""
    started: List[Sim] = []

    def start(*device_args: str, faults: Optional[List[str]] = None, count: int = 1) -> List[Sim]:
        for _ in range(count):
            serial = f"VSC{1000001 + len(started)}"
            started.append(Sim(tmp_path, serial, list(device_args), list(faults or [])))
        monkeypatch.setenv("VORN_PORTS", ";".join(f"{s.serial}={s.port}" for s in started))
        return started[-count:]

    vorn.close_all()
    yield start
    vorn.close_all()
    for s in started:
        s.stop()


@pytest.fixture
def sim(sims):
    """One default simulated device."""
    return sims()[0]
