"""Units as devices spell them: which are SI units that MNE knows (and by
what factor), which channel type MNE gets, and an ASCII form for EDF+."""
from __future__ import annotations

import re
from typing import Optional, Tuple

# Spellings of the same sign, and signs EDF+ (printable ASCII) cannot hold.
_SIGNS = {"\u00b5": "u", "\u03bc": "u", "\u00b0": "deg", "\u00ba": "deg", "\u2103": "degC", "\u2126": "Ohm",
          "\u03a9": "Ohm"}

_PREFIXES = {"": 1.0, "n": 1e-9, "u": 1e-6, "m": 1e-3, "k": 1e3}
# SI units MNE has a unit for, each with the name kept in the table below.
_BASES = {"v": "V", "hz": "Hz", "ohm": "Ohm", "pa": "Pa", "s": "s"}
_WORDS = {"volt": ("V", 1.0), "volts": ("V", 1.0), "millivolt": ("V", 1e-3), "millivolts": ("V", 1e-3),
          "microvolt": ("V", 1e-6), "microvolts": ("V", 1e-6), "degc": ("degC", 1.0),
          "celsius": ("degC", 1.0), "degreescelsius": ("degC", 1.0), "degreec": ("degC", 1.0),
          "degreesc": ("degC", 1.0)}


def ascii_unit(unit: str) -> str:
    """The unit with micro, degree and ohm signs spelt out ("\u00b0C" -> "degC", "\u00b5V" -> "uV")."""
    return "".join(_SIGNS.get(ch, ch) for ch in unit)


def si_unit(unit: str) -> Optional[Tuple[str, float]]:
    """(SI unit, factor from the device's unit to it) for the units MNE keeps
    with a unit of its own: V, degC, Hz, Ohm, Pa, s with the prefixes n, u,
    m and k (case aside: a device writing capitals means "MV" as mV); None
    for every other unit (%, l/min, mmHg, au, ...)."""
    text = re.sub(r"\s+", "", ascii_unit(unit.strip())).lower()
    if text in _WORDS:
        return _WORDS[text]
    for prefix, factor in _PREFIXES.items():
        base = text[len(prefix):] if text.startswith(prefix) else None
        if base in _BASES and (prefix or base == text):
            return _BASES[base], factor
    return None


def _named(name: str, *words: str) -> bool:
    return re.search(r"(?<![a-z])(" + "|".join(words) + r")", name.lower()) is not None


def channel_kind(name: str, unit: str) -> Tuple[str, Optional[str], float]:
    """(MNE channel type, SI unit or None, factor) for a channel. The type
    follows the name where the unit fits it: an ECG in mV is "ecg", an ECG in
    "au" is "misc"."""
    si = si_unit(unit)
    base, factor = si if si else (None, 1.0)
    # A temperature channel's "C" is Celsius, not coulomb.
    if base is None and _named(name, "temp") and ascii_unit(unit).strip().lower() in ("c", "deg c", "deg"):
        base, factor = "degC", 1.0
    if base == "V":
        for kind, words in (("ecg", ("ecg", "ekg")), ("eeg", ("eeg",)), ("emg", ("emg",)), ("eog", ("eog",))):
            if _named(name, *words):
                return kind, base, factor
    if _named(name, "resp", "breath", "airflow"):
        return "resp", base, factor
    if _named(name, "spo2", "sao2", "oxygen sat"):
        return "bio", base, factor
    if base == "degC":
        return "temperature", base, factor
    return "misc", base, factor
