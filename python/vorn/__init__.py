"""Record from Vorn devices into numpy, pandas and MNE-Python.

The package is a host of the Vorn driver library (libvorn.so, or
Vorn(7u).dll on Windows) like any other: it loads it with ctypes and uses only
its sixteen exports. The library is found through $VORN_LIBRARY, beside the
package, in the checkout's dist/ or build tree, or on the loader's path;
$VORN_PORTS points the driver at given ports (e.g. vorn-sim's).

    import vorn
    dev = vorn.devices()[0]
    rec = dev.record(10, channels=["ECG", "Resp"], period="2ms")
    rec.to_dataframe().plot()
    vorn.close_all()

Devices on another machine, published there by ``vornctl serve``:

    rec = vorn.subscribe("tcp://bed-4:5650", "1000001").record(60)
"""
from __future__ import annotations

import threading
from typing import List, Optional, Sequence

from ._args import seconds_value
from ._library import find_library
from .channel import SCALED_MAXIMUM, Channel
from .device import Device, close_all, devices
from ._wire import NewerFormat
from .errors import (DeviceClosed, DeviceError, DeviceNotFound, DeviceSilent, InitialiseError,
                     LibraryNotFound, OutputError, OutputExists, PublisherError, VornError)
from .gaps import Gap
from .recording import Recording
from .remote import RemoteDevice
from .stream import Block, Stream
from .subscribe import Subscription, subscribe

__all__ = [
    "Block", "Channel", "Device", "DeviceClosed", "DeviceError", "DeviceNotFound", "DeviceSilent", "Gap",
    "InitialiseError", "LibraryNotFound", "NewerFormat", "OutputError", "OutputExists", "PublisherError",
    "Recording", "RemoteDevice", "SCALED_MAXIMUM", "Stream", "Subscription", "VornError", "close_all", "devices",
    "find_library", "record_all", "subscribe",
]
__version__ = "0.1.0"


def record_all(seconds: float, channels: Optional[Sequence] = None, period=None, *,
               silence: Optional[float] = None) -> List[Recording]:
    """Records every found device at once, one thread per device, and returns
    one Recording per device in index order. Each counts its host times from
    its own first line; ``monotonic_start + host_times`` puts them all on
    the one clock of the process (time.monotonic).

    Ctrl-C ends every recording early: each device is stopped by its own
    thread, and only then are the recordings returned, those cut short with
    ``interrupted`` set. If any device fails,
    DeviceError is raised once all have ended; its ``recording`` is the list
    of recordings (None for a device that failed before recording anything).
    The arguments are checked for every device before any is started.
    """
    seconds = seconds_value(seconds, "seconds")
    found = devices()
    for dev in found:
        # Only checks: nothing reaches a device before every one has passed.
        dev.stream(channels, period, raw=True, silence=silence)
    stop = threading.Event()
    results: List[Optional[Recording]] = [None] * len(found)
    errors: List[Optional[BaseException]] = [None] * len(found)
    done = [threading.Event() for _ in found]

    def run(i: int, dev: Device) -> None:
        try:
            results[i] = dev.record(seconds, channels, period, silence=silence, stop=stop)
        except BaseException as e:  # reported in the caller's thread
            errors[i] = e
            results[i] = getattr(e, "recording", None)
        finally:
            done[i].set()

    for i, dev in enumerate(found):
        threading.Thread(target=run, args=(i, dev), name=f"vorn-record-{dev.index}", daemon=True).start()
    # Waits on events, not Thread.join: a join cut by Ctrl-C can report a
    # thread ended that still runs, and its recording would be lost.
    try:
        for event in done:
            while not event.wait(0.1):
                pass
    except KeyboardInterrupt:
        stop.set()
        for event in done:
            # The threads are stopping their devices; a second Ctrl-C does not cut that short.
            while True:
                try:
                    if event.wait(0.1):
                        break
                except KeyboardInterrupt:
                    pass
    failures = [(found[i], e) for i, e in enumerate(errors) if e is not None]
    if failures:
        text = "; ".join(f"device {d.index} ({d.serial}): {e}" for d, e in failures)
        raise DeviceError(text, recording=results)
    return results  # type: ignore[return-value]
