"""The example script records the simulator and writes its PNG."""
import os
import pathlib
import subprocess
import sys

from conftest import find_sim

EXAMPLE = pathlib.Path(__file__).resolve().parents[1] / "examples" / "record_and_plot.py"


def test_example_records_the_simulator_into_a_png(tmp_path):
    env = {k: v for k, v in os.environ.items() if k != "VORN_PORTS"}
    env.update(VORN_SIM=find_sim(), PYTHONPATH=os.pathsep.join(sys.path), MPLCONFIGDIR=str(tmp_path))
    out = tmp_path / "plot.png"
    done = subprocess.run([sys.executable, str(EXAMPLE), str(out), "--seconds", "1"], env=env,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "4 channels at 0.002 s, 0 malformed" in done.stdout
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and out.stat().st_size > 10000
