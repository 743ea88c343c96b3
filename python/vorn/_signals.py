"""Ctrl-C around driver calls that must not be cut in half."""
from __future__ import annotations

import contextlib
import signal
import threading
from typing import Iterator


@contextlib.contextmanager
def held_interrupt() -> Iterator[None]:
    """Holds Ctrl-C back while the block runs and raises it afterwards, so a
    device is started or stopped whole: cut between its commands, it would go
    on streaming with nobody to stop it. Only the main thread receives Ctrl-C,
    and only Python's own handler is replaced."""
    if (threading.current_thread() is not threading.main_thread()
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
        yield
        return
    caught = []
    previous = signal.signal(signal.SIGINT, lambda *_: caught.append(True))
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)
    if caught:
        raise KeyboardInterrupt
