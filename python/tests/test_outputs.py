"""Output files: nothing existing is overwritten without asking, links,
FIFOs and devices are refused without being opened, a write appears whole
or not at all, and an empty recording still gives files readers open."""
import errno
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import vorn
from vorn import Channel, Recording


def recording(rows=3):
    channels = [Channel(1, "ECG", "mV", -5.0, 5.0), Channel(2, "Resp", "l/min", 0.0, 60.0)]
    rec = Recording(channels=channels, period=0.002, serial="1000001", product="Quellograph", version="1.4",
                    monotonic_start=1.0, unique_id=0)
    rec.raw = (np.arange(rows * 2, dtype=np.int32) % 32768).reshape(rows, 2)
    rec.valid = np.ones(rows, bool)
    rec.data = np.array([c.to_physical(rec.raw[:, i]) for i, c in enumerate(channels)]).T
    rec.index = np.arange(rows)
    rec.times = rec.index * 0.002
    rec.host_times = rec.times.copy()
    rec.sets = rows
    return rec


WRITERS = [("csv", lambda rec, path, **kw: rec.to_csv(path, **kw)),
           ("edf", lambda rec, path, **kw: rec.to_edf(path, **kw))]


@pytest.mark.parametrize("ext, write", WRITERS)
def test_an_existing_file_is_kept_unless_overwrite_is_given(tmp_path, ext, write):
    path = tmp_path / f"run.{ext}"
    path.write_bytes(b"an earlier recording")
    with pytest.raises(vorn.OutputExists, match=f"{path} exists; pass overwrite=True"):
        write(recording(), path)
    assert path.read_bytes() == b"an earlier recording"
    write(recording(), path, overwrite=True)
    assert path.read_bytes() != b"an earlier recording"
    assert sorted(p.name for p in tmp_path.iterdir()) == [f"run.{ext}"], "a temporary file was left"


def test_links_are_refused_and_with_overwrite_replaced_never_followed(tmp_path):
    victim = tmp_path / "victim.txt"
    victim.write_text("keep me")
    link = tmp_path / "link.csv"
    link.symlink_to(victim)
    with pytest.raises(vorn.OutputExists, match="is a symbolic link"):
        recording().to_csv(link)
    recording().to_csv(link, overwrite=True)
    assert victim.read_text() == "keep me" and not link.is_symlink() and link.read_text().startswith("# vorn")
    # A dangling link is a name that is taken, and stays as it was.
    dangling = tmp_path / "dangling.csv"
    dangling.symlink_to(tmp_path / "nowhere")
    with pytest.raises(vorn.OutputExists):
        recording().to_csv(dangling)
    assert dangling.is_symlink() and not (tmp_path / "nowhere").exists()


def test_fifos_devices_and_folders_are_refused_without_being_opened(tmp_path):
    fifo = tmp_path / "pipe.csv"
    os.mkfifo(fifo)
    outcome = []

    def write():
        try:
            recording().to_csv(fifo, overwrite=True)
        except vorn.OutputError as e:
            outcome.append(str(e))

    # Opening a FIFO without a reader would block for good.
    t = threading.Thread(target=write, daemon=True)
    t.start()
    t.join(10)
    assert not t.is_alive(), "the check opened the FIFO"
    assert outcome and "it is a FIFO; recordings go to regular files" in outcome[0]
    with pytest.raises(vorn.OutputError, match="it is a device"):
        recording().to_csv("/dev/null", overwrite=True)
    with pytest.raises(vorn.OutputError, match="it is a folder"):
        recording().to_edf(tmp_path, overwrite=True)


def test_unusable_paths_say_why(tmp_path):
    with pytest.raises(vorn.OutputError, match="the folder .*no-such-folder does not exist"):
        recording().to_csv(tmp_path / "no-such-folder" / "r.csv")
    long = tmp_path / ("x" * 5000 + ".csv")
    with pytest.raises(vorn.OutputError, match=r"\(\d+ characters\): the path or a name in it is too long"):
        recording().to_csv(long)
    with pytest.raises(vorn.OutputError, match="is too long"):
        recording().to_csv(tmp_path / ("y" * 252 + ".csv"))  # the name fits, its temporary name does not
    plain = tmp_path / "plain"
    plain.write_text("")
    with pytest.raises(vorn.OutputError, match="not a folder"):
        recording().to_csv(plain / "r.csv")
    with pytest.raises(TypeError):
        recording().to_csv(b"r.csv")


def test_a_user_without_write_access_is_told_so(tmp_path):
    # Root writes anywhere: the user of a normal account is played by nobody.
    import tempfile

    top = pathlib.Path(tempfile.mkdtemp())
    os.chmod(top, 0o755)
    folder = top / "closed"
    folder.mkdir(mode=0o755)
    hidden = tmp_path / "r.csv"  # pytest's folders are root's alone
    script = textwrap.dedent(f"""
        import sys
        sys.path[:0] = {sys.path!r}
        from test_outputs import recording
        import vorn
        try:
            recording().to_csv({str(folder / 'r.csv')!r})
        except vorn.OutputError as e:
            print(e)
        try:
            recording().to_csv({str(hidden)!r})
        except vorn.OutputError as e:
            print(e)
    """)
    done = subprocess.run(["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups", sys.executable,
                           "-c", script], capture_output=True, text=True, timeout=60,
                          cwd="/", env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    try:
        assert f"cannot create {folder}/r.partial.csv: permission denied (this user may not write into {folder})" \
            in done.stdout, done.stderr
        assert f"cannot reach {hidden}: permission denied (a folder on the way is closed" in done.stdout
        assert list(folder.iterdir()) == []
    finally:
        folder.rmdir()
        top.rmdir()


def test_a_full_disk_leaves_no_file_and_says_so(tmp_path, monkeypatch):
    real = os.write
    written = [0]

    def full_after_a_little(fd, data):
        if written[0] > 1000:
            raise OSError(errno.ENOSPC, "No space left on device")
        written[0] += len(data)
        return real(fd, data[:600])  # short writes too, as a filling disk gives them

    monkeypatch.setattr(os, "write", full_after_a_little)
    with pytest.raises(vorn.OutputError, match=r"cannot write .*big\.csv: the disk is full"):
        recording(20000).to_csv(tmp_path / "big.csv")
    assert list(tmp_path.iterdir()) == []


KILLED_WRITE = textwrap.dedent("""
    import sys
    from test_outputs import recording
    print("writing", flush=True)
    recording(600_000).to_csv(sys.argv[1])
""")


def test_a_killed_write_leaves_whole_rows_under_the_temporary_name_and_is_reported(tmp_path):
    path = tmp_path / "cut.csv"
    child = subprocess.Popen([sys.executable, "-c", KILLED_WRITE, str(path)], stdout=subprocess.PIPE,
                             env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    part = path.with_name(path.stem + ".partial" + path.suffix)
    try:
        assert child.stdout.readline() == b"writing\n"
        deadline = time.monotonic() + 60
        while not (part.exists() and part.stat().st_size > 1 << 20) and time.monotonic() < deadline:
            time.sleep(0.01)
        child.send_signal(signal.SIGKILL)
        child.wait(10)
    finally:
        if child.poll() is None:
            child.kill()
        child.stdout.close()
    if path.exists():
        pytest.skip("the write finished before the kill")
    text = part.read_bytes()
    assert text.endswith(b"\n") and len(text) > 1 << 20
    last = text.splitlines()[-1].decode()
    assert len(last.split(",")) == 6, last
    with pytest.warns(UserWarning, match=f"{part} is left from an earlier write of {path}"):
        recording().to_csv(path)
    assert path.exists() and part.read_bytes() == text, "the leftover was touched"


def test_an_empty_recording_gives_a_csv_with_its_header_and_no_edf(tmp_path):
    import pandas as pd

    rec = recording(0)
    rec.monotonic_start = None
    rec.to_csv(tmp_path / "e.csv")
    frame = pd.read_csv(tmp_path / "e.csv", comment="#")
    assert len(frame) == 0 and list(frame.columns)[:3] == ["time [s]", "host time [s]", "ECG raw"]
    assert "# monotonic start [s]: -" in (tmp_path / "e.csv").read_text()
    with pytest.raises(vorn.VornError, match="holds no sample sets"):
        rec.to_edf(tmp_path / "e.edf")
    assert not (tmp_path / "e.edf").exists() and not (tmp_path / "e.partial.edf").exists()
    assert rec.to_dataframe().empty


def test_an_empty_recording_of_a_device_converts(sims):
    mne = pytest.importorskip("mne")
    sims(faults=["--fault", "stop-after=0"])
    with pytest.raises(vorn.DeviceSilent) as e:
        vorn.devices()[0].record(5, silence=1)
    rec = e.value.recording
    assert len(rec) == 0 and rec.sets == 0 and rec.monotonic_start is None
    raw = rec.to_mne()
    assert isinstance(raw, mne.io.BaseRaw) and raw.n_times == 0 and raw.ch_names == rec.names
