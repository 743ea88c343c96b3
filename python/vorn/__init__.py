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
"""
from __future__ import annotations

import threading
import time
from typing import List, Optional, Sequence

from ._library import find_library
from .device import SCALED_MAXIMUM, Block, Channel, Device, Stream, close_all, devices
from .errors import (DeviceClosed, DeviceError, DeviceNotFound, DeviceSilent, InitialiseError,
                     LibraryNotFound, VornError)
from .recording import Recording

__all__ = [
    "Block", "Channel", "Device", "DeviceClosed", "DeviceError", "DeviceNotFound", "DeviceSilent",
    "InitialiseError", "LibraryNotFound", "Recording", "SCALED_MAXIMUM", "Stream", "VornError",
    "close_all", "devices", "find_library", "record_all",
]
__version__ = "0.1.0"


def record_all(seconds: float, channels: Optional[Sequence] = None, period=None, *,
               silence: Optional[float] = None) -> List[Recording]:
    """Records every found device at once, one thread per device, and returns
    one Recording per device in index order. All share the host clock
    (``host_times``, ``start_host_time``: time.monotonic) and count the CSV's
    host time from the same origin (``host_origin``).

    Ctrl-C ends every recording early (each is returned with ``interrupted``).
    If any device fails, DeviceError is raised once all have ended; its
    ``recording`` is the list of recordings (None for a device that failed
    before recording anything).
    """
    found = devices()
    stop = threading.Event()
    origin = time.monotonic()
    results: List[Optional[Recording]] = [None] * len(found)
    errors: List[Optional[BaseException]] = [None] * len(found)

    def run(i: int, dev: Device) -> None:
        try:
            results[i] = dev.record(seconds, channels, period, silence=silence, stop=stop)
            results[i].host_origin = origin
        except BaseException as e:  # reported in the caller's thread
            errors[i] = e
            results[i] = getattr(e, "recording", None)

    threads = [threading.Thread(target=run, args=(i, d), name=f"vorn-record-{d.index}", daemon=True)
               for i, d in enumerate(found)]
    for t in threads:
        t.start()
    interrupted = False
    try:
        for t in threads:
            while t.is_alive():
                t.join(0.1)
    except KeyboardInterrupt:
        interrupted = True
        stop.set()
        for t in threads:
            t.join()
    for r in results:
        if r is not None and interrupted:
            r.interrupted = True
    failures = [(found[i], e) for i, e in enumerate(errors) if e is not None]
    if failures:
        text = "; ".join(f"device {d.index} ({d.serial}): {e}" for d, e in failures)
        raise DeviceError(text, recording=results)
    return results  # type: ignore[return-value]
