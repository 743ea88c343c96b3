"""Reads an EDF+ file with MNE, as a researcher would, and prints what the
recorder's tests compare: one "key value" line each.

    /usr/bin/python3 edf_read_back.py FILE

Exit 77 when MNE is not installed (the tests then skip), 1 when MNE cannot
read the file (its error on stderr).
"""
import sys
import warnings

try:
    import mne
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"skip: MNE is not installed ({e})", file=sys.stderr)
    sys.exit(77)


def main(path):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
    sfreq = raw.info["sfreq"]
    bad = [(o, d) for o, d, t in zip(raw.annotations.onset, raw.annotations.duration,
                                     raw.annotations.description) if t.startswith("BAD_")]
    # What analysis sees: the samples MNE keeps once bad spans are left out.
    good = raw.get_data(reject_by_annotation="omit").shape[1]
    subject = raw.info.get("subject_info") or {}
    extras = raw._raw_extras[0].get("subject_info", {}) if raw._raw_extras else {}
    print("duration", raw.n_times / sfreq)
    print("sfreq", sfreq)
    print("n_times", raw.n_times)
    print("good_samples", good)
    print("bad", len(bad))
    print("bad_spans", ";".join(f"{o:.6f}+{d:.6f}" for o, d in bad))
    print("annotations", "|".join(raw.annotations.description))
    print("subject_id", subject.get("his_id", extras.get("id", "")))
    print("subject_name", extras.get("name", ""))
    print("channels", ",".join(raw.ch_names))
    print("warnings", len(caught))


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except Exception as e:  # noqa: BLE001 - any failure to read is the finding
        print(f"MNE cannot read {sys.argv[1]}: {type(e).__name__}: {e}", file=sys.stderr)
        sys.exit(1)
