"""pandas, MNE, CSV and EDF+ keep names, units and values."""
import datetime

import numpy as np
import pytest

import vorn
from vorn import Channel, Recording


def made_recording(interrupted=False):
    """A recording with known values: three sample sets, the second damaged."""
    channels = [Channel(1, "ECG", "mV", -5.0, 5.0), Channel(2, "Resp", "l/min", 0.0, 60.0),
                Channel(3, "SpO2", "%", 0.0, 100.0), Channel(4, "Temp", "degC", 30.0, 42.0),
                Channel(5, "Marker", "", None, None)]
    raw = np.array([[0, 32767, 16384, 100, -7], [0, 0, 0, 0, 0], [32767, 1, 32766, 32767, 40000]], np.int32)
    valid = np.array([True, False, True])
    rec = Recording(channels=channels, period=0.002, serial="1234567", product="Quellograph", version="1.4",
                    start_time=datetime.datetime(2026, 12, 9, 12, 0, 0, tzinfo=datetime.timezone.utc),
                    monotonic_start=100.01, unique_id=0xBEEF, interrupted=interrupted)
    rec.raw = raw
    rec.valid = valid
    rec.data = np.array([c.to_physical(raw[:, i]) for i, c in enumerate(channels)]).T
    rec.data[~valid] = np.nan
    rec.times = np.arange(3) * 0.002
    rec.host_times = np.array([0.0, 0.0, 0.05])
    return rec


def test_csv_is_laid_out_as_the_recorder_writes_it(tmp_path):
    path = tmp_path / "r.csv"
    made_recording().to_csv(str(path))
    text = path.read_text().splitlines()
    comments = [l for l in text if l.startswith("# ")]
    lines = text[len(comments):]
    assert comments[1:] == ["# start: 2026-12-09T12:00:00.000Z", "# monotonic start [s]: 100.010000",
                            "# serial: 1234567", "# unique id: 0x0000BEEF", "# product: Quellograph", "# version: 1.4",
                            "# period [us]: 2000"]
    assert lines[0] == ("time [s],host time [s],ECG raw,ECG [mV],Resp raw,Resp [l/min],SpO2 raw,SpO2 [%],"
                        "Temp raw,Temp [degC],Marker raw,Marker")
    # Decimals show one scaled step: 10/32767 needs 5, 60/32767 4, 100/32767 4, 12/32767 5; unscaled none.
    assert lines[1] == "0,0.000000,0,-5.00000,32767,60.0000,16384,50.0015,100,30.03662,-7,-7"
    assert lines[2] == "0.002,0.000000" + ",," * 5
    assert lines[3] == "0.004,0.050000,32767,5.00000,1,0.0018,32766,99.9969,32767,42.00000,40000,40000"
    # pandas reads it back, comments skipped.
    import pandas as pd
    frame = pd.read_csv(path, comment="#")
    assert list(frame["ECG raw"].isna()) == [False, True, False] and frame["Temp [degC]"].iloc[2] == 42.0


def test_dataframe_is_indexed_by_sample_time_and_plots_the_signals():
    pytest.importorskip("matplotlib")
    import matplotlib
    matplotlib.use("Agg")
    rec = made_recording()
    frame = rec.to_dataframe(raw=True)
    assert list(frame.columns) == ["ECG raw", "ECG [mV]", "Resp raw", "Resp [l/min]", "SpO2 raw", "SpO2 [%]",
                                   "Temp raw", "Temp [degC]", "Marker raw", "Marker"]
    assert frame.index.name == "time [s]" and list(frame.index) == list(rec.times)
    np.testing.assert_array_equal(frame["ECG [mV]"].to_numpy(), rec.data[:, 0])
    assert frame["ECG raw"].isna().tolist() == [False, True, False]
    assert frame["Marker raw"].iloc[2] == 40000
    assert frame.attrs["units"]["Temp"] == "degC" and frame.attrs["monotonic_start"] == 100.01
    # plot() draws the signals against sample time; host time is there on request.
    lines = rec.to_dataframe().plot().get_lines()
    assert [l.get_label() for l in lines] == ["ECG [mV]", "Resp [l/min]", "SpO2 [%]", "Temp [degC]", "Marker"]
    assert list(rec.to_dataframe(host_time=True)["host time [s]"]) == [0.0, 0.0, 0.05]


def test_mne_gets_names_types_and_si_values():
    pytest.importorskip("mne")
    raw = made_recording().to_mne()
    assert raw.ch_names == ["ECG", "Resp", "SpO2", "Temp", "Marker"]
    assert raw.get_channel_types() == ["ecg", "resp", "bio", "temperature", "misc"]
    assert raw.info["sfreq"] == 500.0
    data = raw.get_data()
    rec = made_recording()
    # MNE keeps volts: millivolts are scaled by 1e-3; the rest stay in their unit.
    np.testing.assert_allclose(data[0], rec.data[:, 0] * 1e-3)
    np.testing.assert_allclose(data[1:], rec.data[:, 1:].T)
    assert raw.info["device_info"]["serial"] == "1234567"


def unit_recording(units):
    channels = [Channel(i + 1, name, unit, 0.0, 10.0) for i, (name, unit) in enumerate(units)]
    rec = Recording(channels=channels, period=0.01, serial="1000001", product="Quellograph", version="1.4",
                    monotonic_start=5.0)
    rec.raw = np.full((3, len(channels)), 32767, np.int32)
    rec.valid = np.ones(3, bool)
    rec.data = np.full((3, len(channels)), 10.0)
    rec.times = np.arange(3) * 0.01
    rec.host_times = rec.times.copy()
    return rec


def test_mne_units_are_what_the_device_says_and_survive_a_save(tmp_path):
    mne = pytest.importorskip("mne")
    from mne.io.constants import FIFF

    rec = unit_recording([("ECG", "mV"), ("Resp", "l/min"), ("SpO2", "%"), ("Temp", "degC"), ("Aux", "au"),
                          ("EEG", "\u00b5V"), ("Skin", "\u00b0C")])
    raw = rec.to_mne()
    expected = [FIFF.FIFF_UNIT_V, FIFF.FIFF_UNIT_NONE, FIFF.FIFF_UNIT_NONE, FIFF.FIFF_UNIT_CEL, FIFF.FIFF_UNIT_NONE,
                FIFF.FIFF_UNIT_V, FIFF.FIFF_UNIT_CEL]
    assert [c["unit"] for c in raw.info["chs"]] == expected
    assert raw.get_channel_types() == ["ecg", "resp", "bio", "temperature", "misc", "eeg", "temperature"]
    # Only voltages are scaled: 10 mV and 10 uV in volts, the rest as the device gave them.
    np.testing.assert_allclose(raw.get_data()[:, 0], [0.01, 10, 10, 10, 10, 1e-5, 10])
    raw.save(tmp_path / "u_raw.fif", verbose=False)
    back = mne.io.read_raw_fif(tmp_path / "u_raw.fif", verbose=False)
    assert [c["unit"] for c in back.info["chs"]] == expected
    assert "Resp=l/min, SpO2=%, Temp=degC, Aux=au" in back.info["description"]
    assert back.info["device_info"]["serial"] == "1000001"


def test_device_texts_in_latin1_or_the_users_code_page_read_the_same(tmp_path):
    from vorn._library import decode_text
    assert decode_text(b"\xb0C", "utf-8") == decode_text("\u00b0C".encode(), "utf-8") == "\u00b0C"
    assert decode_text(b"\xb5V", "utf-8") == "\u00b5V" and decode_text(b"degC", "utf-8") == "degC"
    # A byte Windows-1252 leaves undefined is read as Latin-1 rather than lost.
    assert decode_text(b"a\x81", "utf-8") == "a\x81"
    # EDF+ headers are ASCII: the signs are spelt out.
    rec = unit_recording([("Temp", "\u00b0C"), ("EEG", "\u00b5V"), ("T2", "degC")])
    rec.to_edf(tmp_path / "u.edf")
    header = (tmp_path / "u.edf").read_bytes()
    at = 256 + 96 * int(header[252:256])  # labels and transducers of every signal come first
    units = [header[at + i * 8:at + (i + 1) * 8].strip() for i in range(3)]
    assert units == [b"degC", b"uV", b"degC"]


def test_mne_missing_says_how_to_install_it(monkeypatch):
    import builtins

    real = builtins.__import__

    def no_mne(name, *a, **k):
        if name == "mne" or name.startswith("mne."):
            raise ImportError("no mne")
        return real(name, *a, **k)

    monkeypatch.setattr(builtins, "__import__", no_mne)
    with pytest.raises(ImportError, match="to_mne\\(\\) needs MNE-Python.*python3-mne"):
        made_recording().to_mne()


def test_edf_written_through_edflib_reads_back(tmp_path):
    mne = pytest.importorskip("mne")
    rec = made_recording(interrupted=True)
    path = tmp_path / "r.edf"
    with pytest.warns(UserWarning, match="1 value"):  # 40000 does not fit 16 bits
        rec.to_edf(str(path))
    back = mne.io.read_raw_edf(str(path), preload=True, verbose=False)
    assert back.ch_names == ["ECG", "Resp", "SpO2", "Temp", "Marker"]
    assert back.info["sfreq"] == 500.0
    # A data record of a second: 500 sample sets, the last two values fill it up.
    assert back.n_times == 500
    values = back.get_data()
    # mne reads EDF in SI units: mV -> V; the damaged row repeats the one before.
    np.testing.assert_allclose(values[0, :3] * 1e3, [-5.0, -5.0, 5.0], atol=1e-3)
    np.testing.assert_allclose(values[1, :3], [60.0, 60.0, 60 / 32767], atol=1e-3)
    np.testing.assert_allclose(values[4, :3], [-7, -7, 32767], atol=1e-6)
    np.testing.assert_allclose(values[3, 3:], 42.0, atol=1e-3)
    texts = [(a["onset"], a["description"]) for a in back.annotations]
    assert (0.0, "Device 1234567 uid 0x0000BEEF") in texts
    assert (0.0, f"Firmware 1.4, vorn {vorn.__version__}") in texts
    assert (0.0, "1 damaged line(s), values repeated") in texts
    # The true end, before the padding.
    assert (0.006, "Recording ends, 497 samples padded") in texts and (0.006, "Stopped by the user") in texts
    assert (0.006, "BAD_padding") in texts
    assert back.info["meas_date"] == made_recording().start_time


def test_recording_of_the_simulator_converts(sim, tmp_path):
    rec = vorn.devices()[0].record(0.5, channels=["ECG", "Temp"])
    frame = rec.to_dataframe()
    np.testing.assert_array_equal(frame["Temp [degC]"].to_numpy(), rec.data[:, 1])
    rec.to_csv(str(tmp_path / "s.csv"))
    lines = (tmp_path / "s.csv").read_text().splitlines()
    assert len(lines) == len(rec) + 9 and lines[9].startswith("0,0.000000,")
    rec.to_edf(str(tmp_path / "s.edf"))
    assert (tmp_path / "s.edf").stat().st_size > 256


def test_units_of_a_simulated_device_reach_mne(sims):
    pytest.importorskip("mne")
    from mne.io.constants import FIFF

    # 0xB0 is the degree sign as a device sends it, one byte.
    sims("--channels", "ECG:mV:-5:5;Resp:l/min:0:60;SpO2:%:0:100;Temp:degC:30:42;Aux:au:0:1;Skin:\udcb0C:30:42")
    dev = vorn.devices()[0]
    units = [c.unit for c in dev.channels]
    assert units[:5] == ["mV", "l/min", "%", "degC", "au"]
    raw = dev.record(0.1).to_mne()
    assert [c["unit"] for c in raw.info["chs"]][:5] == [FIFF.FIFF_UNIT_V, FIFF.FIFF_UNIT_NONE, FIFF.FIFF_UNIT_NONE,
                                                        FIFF.FIFF_UNIT_CEL, FIFF.FIFF_UNIT_NONE]
    if units[5] != "\u00b0C":
        pytest.skip(f"this driver library hands the device's byte 0xB0 over as {units[5]!r}")
    assert raw.info["chs"][5]["unit"] == FIFF.FIFF_UNIT_CEL
