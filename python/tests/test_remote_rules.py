"""A subscriber's rules without a network: where a remote row goes in time,
which descriptions are read, which key files are understood."""
import json

import numpy as np
import pytest

from vorn import NewerFormat, VornError
from vorn._timeline import Timeline
from vorn._wire import DataMessage, WireError
from vorn.remote import parse_meta
from publisher import describe

SERIAL = "1000001"


def message(seq, first, rows=10, host_ms=None, channels=3, period_us=2000):
    """``rows`` rows from publisher index ``first``; the last line at ``host_ms`` (default: on the index's time)."""
    last = (first + rows - 1) * period_us / 1000 if host_ms is None else host_ms
    return DataMessage(SERIAL, seq, first, period_us, int((last - (rows - 1) * period_us / 1000) * 1000),
                       int(last * 1000), np.zeros(rows, bool), np.full((rows, channels), first % 32768, np.uint16))


def test_rows_follow_the_publishers_index_and_each_break_is_one_gap():
    tl = Timeline(parse_meta(json.dumps(describe(SERIAL)).encode(), SERIAL))
    at = 100.0  # time.monotonic() of the first arrival
    b = tl.take(message(5, 1000), at, 1.0)
    assert list(b.index) == list(range(10)) and not b.gaps
    # Host times: the publisher's spacing, the last line at the first message's arrival.
    np.testing.assert_allclose(b.host_times, at - 0.018 + np.arange(10) * 0.002)
    steps = [  # (message, what its block must say: gaps as (index, sets, reason), first index)
        (message(6, 1010), ([], 10)),
        (message(9, 1050), ([(20, 30, "sequence")], 50)),  # two messages lost on the way
        (message(10, 1070), ([(60, 10, "publisher")], 70)),  # the publisher's own gap
        (message(11, 1080, rows=0), None),  # a message without rows
        (message(13, 1080), ([], 80)),  # a lost message without rows is no gap
        # The publisher started the stream afresh half a second on: its first line 0.482 s after our last.
        (message(14, 5, host_ms=2178 + 500), ([(90, 240, "publisher")], 330)),
        # A restarted publisher, its message read half a second after the last: the same by our clock.
        (message(0, 0, host_ms=50.0), ([(340, 240, "sequence")], 580)),
    ]
    offset = at - 2.018
    arrival = at
    for m, expect in steps:
        # Messages arrive as their last line is sent; the restarted publisher's half a second on.
        arrival = offset + m.last_host_us / 1e6 if m.sequence else arrival + 0.5
        block = tl.take(m, arrival, 1.0 if m.sequence else 2.0)
        if expect is None:
            assert block is None
            continue
        gaps, first_index = expect
        assert [(g.index, g.sets, g.reason) for g in block.gaps] == gaps, m
        assert block.index[0] == first_index and np.all(np.diff(block.index) == 1)
        assert block.host_times[0] >= b.host_times[-1]
        b = block
    assert [g.sets for g in tl.gaps] == [30, 10, 240, 240] and tl.lines == 70


def test_a_header_that_contradicts_the_clock_is_damaged_and_changes_nothing():
    tl = Timeline(parse_meta(json.dumps(describe(SERIAL)).encode(), SERIAL))
    tl.take(message(0, 0), 100.0, 1.0)
    for lie in (message(1, 1 << 60), message(1, 10, host_ms=10.0)._replace(first_host_us=99999)):
        with pytest.raises(WireError, match="damaged data message"):
            tl.take(lie, 100.02, 1.0)
    # A minute of slack for queued messages, no more; then the stream goes on as if the lies never came.
    with pytest.raises(WireError):
        tl.take(message(1, 10 + 31000), 100.02, 1.0)
    block = tl.take(message(1, 10), 100.02, 1.0)
    assert block.index[0] == 10 and not block.gaps and tl.gaps == []


def test_descriptions_are_read_member_by_member():
    good = describe(SERIAL, enabled=(1, 3))
    meta = parse_meta(json.dumps(good).encode(), SERIAL)
    assert [c.name for c in meta.enabled] == ["ECG", "Temp"] and len(meta.channels) == 3
    assert meta.period == 0.002 and meta.publisher_start == good["publisher"]["start_unix"]
    assert meta.enabled[0].minimum == -5.0 and meta.enabled[0].scaled
    # Newer members are skipped, as the version rule says.
    assert parse_meta(json.dumps(dict(good, colour="red")).encode(), SERIAL) == meta
    unscaled = dict(good, channels=[dict(good["channels"][0], minimum=None, maximum=None)])
    assert not parse_meta(json.dumps(unscaled).encode(), SERIAL).channels[0].scaled
    with pytest.raises(NewerFormat, match="format 2"):
        parse_meta(json.dumps(dict(good, format=2)).encode(), SERIAL)
    damaged = [b"", b"\xff", b"[1]", b"{" * 100000, json.dumps(dict(good, serial="VSC2")).encode()]
    for member, value in [("format", "1"), ("format", None), ("period_us", 0), ("period_us", 2.5),
                          ("channels", []), ("channels", [1]), ("channels", [{"position": 0, "name": "x"}]),
                          ("channels", [good["channels"][0]] * 2), ("streaming", "yes"), ("unique_id", "7"),
                          ("publisher", []), ("periods_us", [True]), ("product", 5)]:
        damaged.append(json.dumps(dict(good, **{member: value})).encode())
    damaged.append(json.dumps(dict(good, channels=[dict(good["channels"][0], maximum=float("inf"))])).encode())
    for payload in damaged:
        with pytest.raises(WireError):
            parse_meta(payload, SERIAL)
    assert issubclass(WireError, VornError)


def test_key_files_in_the_forms_a_generator_writes(tmp_path):
    zmq = pytest.importorskip("zmq")
    from vorn._keys import client_key_pair, client_keys, server_public_key

    public, secret = zmq.curve_keypair()
    forms = {"zcert.key": b'#   ****  keys  ****\ncurve\n    public-key = "%s"\n    secret-key = "%s"\n',
             "bare.key": b"%s\n%s\n", "reversed.key": b"# secret then public\n%s\n%s\n",
             "colon.key": b"public: %s\nsecret: %s\n"}
    for name, layout in forms.items():
        pair = (secret, public) if name == "reversed.key" else (public, secret)
        (tmp_path / name).write_bytes(layout % pair)
        assert client_key_pair(tmp_path / name) == (public, secret), name
        # The server's key pair file given as server_key gives its public half only.
        assert server_public_key(str(tmp_path / name)) == public, name
    (tmp_path / "s.pub").write_bytes(b"# server\n" + public + b"\n")
    assert server_public_key(tmp_path / "s.pub") == public == server_public_key(public.decode())
    # A key may begin with "#" and hold "=": alone on its line it is still a key.
    odd = b"#" + public[1:20] + b"=" + public[21:]
    (tmp_path / "odd.pub").write_bytes(b"# server\n" + odd + b"\n")
    assert server_public_key(tmp_path / "odd.pub") == odd
    assert client_key_pair(secret.decode()) == (public, secret)
    assert client_keys(None, None) is None
    # A missing, empty or wrong file says what to give instead.
    (tmp_path / "empty.key").write_bytes(b"# nothing\n")
    for call, arg, text in [(server_public_key, tmp_path / "nope.pub", "no key file"),
                            (server_public_key, tmp_path / "empty.key", "holds no CURVE public key"),
                            (client_key_pair, tmp_path / "s.pub", "not the NAME.pub"),
                            (client_key_pair, "short", "no key file")]:
        with pytest.raises(VornError, match=text):
            call(arg)
    with pytest.raises(TypeError):
        server_public_key(42)


def test_a_refusal_is_told_by_its_reason_even_when_the_publisher_closes_first():
    from vorn._contact import Contact

    # A publisher that wants keys may close before its greeting arrives: that try says nothing.
    plain = Contact("tcp://bed:5650", curve=False)
    for event in ["CONNECTED", "HANDSHAKE_FAILED_NO_DETAIL", "HANDSHAKE_FAILED_NO_DETAIL"]:
        plain.event(event, 32)
    assert not plain.decisive()
    plain.event("HANDSHAKE_FAILED_PROTOCOL", 0x11000002)
    plain.event("HANDSHAKE_FAILED_NO_DETAIL", 32)
    assert plain.decisive() and "requires keys" in str(plain.refusal())
    # Nothing but unexplained failures is final once repeated, and names the likely cause.
    unknown = Contact("tcp://bed:5650", curve=False)
    for _ in range(4):
        unknown.event("HANDSHAKE_FAILED_NO_DETAIL", 32)
    assert unknown.decisive() and "if it requires keys (CURVE), pass server_key=" in str(unknown.refusal())
