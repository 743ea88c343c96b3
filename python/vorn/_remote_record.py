"""Recordings from a subscription: the same Recording as a local device's,
with each device held through the publisher's recording lease."""
from __future__ import annotations

import datetime
import time
from typing import TYPE_CHECKING, Dict, Optional

from ._args import sample_sets, seconds_value
from ._lease import Lease
from .errors import DeviceError, VornError
from .recording import Recording

if TYPE_CHECKING:  # pragma: no cover
    from ._timeline import Timeline
    from .subscribe import Subscription

# Every streaming device is described within a second and sends data 50 times
# a second: a recording of every device waits this long for them to join.
JOIN_SECONDS = 1.5
# A device described as stopped this long while it is recorded was stopped on
# the publisher (its last lines have come by then; a restarting publisher starts it sooner).
STOPPED_SECONDS = 3.0
_READ_SECONDS = 0.1


class _Entry:
    def __init__(self, rec: Recording, timeline: "Timeline", wall_start: Optional[float]) -> None:
        self.rec = rec
        self.timeline = timeline
        self.wall_start = wall_start
        self.failure: Optional[str] = None
        self.stopped_since: Optional[float] = None

    def check_stopped(self, meta, now: float) -> None:
        """Ends the recording of a device the publisher stopped: nothing more would come."""
        if self.rec._complete or self.failure or meta is None:
            return
        if meta.streaming:
            self.stopped_since = None
        elif self.stopped_since is None:
            self.stopped_since = now
        elif now - self.stopped_since > STOPPED_SECONDS:
            self.failure = (f"{meta.serial} was stopped on the publisher during the recording (a recording holds "
                            f"its devices only through the publisher's control socket: see control=); what was "
                            f"recorded before is kept")


def record(sub: "Subscription", seconds: float, stop):
    seconds = seconds_value(seconds, "seconds")
    if stop is not None and not callable(getattr(stop, "is_set", None)):
        raise TypeError(f"stop is a threading.Event or None, not {type(stop).__name__}")
    own = not sub._entered
    if own:
        sub.__enter__()
    elif not sub.running:
        raise VornError("the subscription is closed: call vorn.subscribe() again")
    entries: Dict[str, _Entry] = {}
    started = time.monotonic()
    first_data: Optional[float] = None
    lease = Lease(sub._context, sub.control, sub._keys) if sub.control else None
    interrupted = False
    try:
        try:
            while True:
                if stop is not None and stop.is_set():
                    interrupted = True
                    break
                done = entries and all(e.rec._complete or e.failure for e in entries.values())
                if done and (sub.serial is not None or time.monotonic() - first_data >= JOIN_SECONDS):
                    break
                got = sub._next(_READ_SECONDS)
                if lease is not None:
                    lease.tick()
                now = time.monotonic()
                for serial, entry in entries.items():
                    entry.check_stopped(sub.devices.get(serial), now)
                if sub.serial is not None and any(e.failure for e in entries.values()):
                    break
                if got is None:
                    continue
                timeline, block = got
                entry = entries.get(block.serial)
                if entry is None:
                    entry = entries[block.serial] = _join(sub, seconds, timeline, block)
                    first_data = first_data if first_data is not None else time.monotonic()
                    if lease is not None:
                        lease.hold(block.serial)
                elif entry.timeline is not timeline and not entry.rec._complete and not entry.failure:
                    entry.failure = (f"the publisher changed the channels or period of {block.serial} during the "
                                     f"recording; what was recorded before is kept")
                    if sub.serial is not None:
                        break
                if entry.failure:
                    continue
                entry.rec._add(block)
                if entry.rec._complete and lease is not None:
                    lease.release(block.serial)
        except KeyboardInterrupt:
            if not entries:
                raise
            interrupted = True
    except VornError as e:
        # Whatever ended the recording, what was recorded is kept.
        e.recording = _result(sub, _finish(entries, started, interrupted=True))
        raise
    finally:
        if lease is not None:
            lease.close()
        if own:
            sub.close()
    recordings = _finish(entries, started, interrupted)
    failures = [e.failure for e in entries.values() if e.failure]
    if failures:
        raise DeviceError("; ".join(failures), recording=_result(sub, recordings))
    if sub.serial is not None and sub.serial not in recordings:
        recordings[sub.serial] = _empty(sub, started, interrupted)
    return _result(sub, recordings)


def _join(sub: "Subscription", seconds: float, timeline: "Timeline", block) -> _Entry:
    meta = timeline.meta
    sets = sample_sets(seconds, meta.period_us)
    if sets < 1:
        raise ValueError(f"{seconds:g} s is less than half the period of {meta.period:g} s of {meta.serial}: a "
                         f"recording holds at least one sample set")
    rec = Recording._open(sets, channels=list(timeline.channels), period=timeline.period, serial=meta.serial,
                          product=meta.product, version=meta.version, unique_id=meta.unique_id)
    # The publisher's wall clock at the recording's first line.
    wall = None
    if meta.publisher_start is not None and timeline._offset is not None:
        wall = meta.publisher_start + float(block.host_times[0]) - timeline._offset
    return _Entry(rec, timeline, wall)


def _finish(entries: Dict[str, _Entry], started: float, interrupted: bool) -> Dict[str, Recording]:
    out = {}
    for serial in sorted(entries):
        entry = entries[serial]
        if interrupted and not entry.rec._complete:
            entry.rec.interrupted = True
        rec = entry.rec._finish(started)
        if entry.wall_start is not None and len(rec):
            try:
                rec.start_time = datetime.datetime.fromtimestamp(entry.wall_start, datetime.timezone.utc)
            except (OverflowError, OSError, ValueError):
                pass  # a publisher clock no calendar holds: the local one stands
        out[serial] = rec
    return out


def _empty(sub: "Subscription", started: float, interrupted: bool) -> Recording:
    meta = sub.devices.get(sub.serial)
    if meta is None:
        rec = Recording._open(1, channels=[], period=0.0, serial=sub.serial)
    else:
        rec = Recording._open(1, channels=list(meta.enabled), period=meta.period, serial=meta.serial,
                              product=meta.product, version=meta.version, unique_id=meta.unique_id)
    rec.interrupted = interrupted
    return rec._finish(started)


def _result(sub: "Subscription", recordings: Dict[str, Recording]):
    if sub.serial is None:
        return recordings
    return recordings.get(sub.serial)
