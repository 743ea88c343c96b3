"""Exceptions of the vorn package; each carries the driver's own words where it has any."""
from __future__ import annotations

from typing import Any, Optional


class VornError(Exception):
    """Base of every error raised by the package."""


class LibraryNotFound(VornError):
    """The driver library cannot be found or loaded."""


class DeviceNotFound(VornError):
    """No Vorn device was found, or the index names none. The message is the driver's."""


class InitialiseError(VornError):
    """Initialise failed; the message is the driver's general message (wrong
    firmware, not responding, not found)."""


class DeviceError(VornError):
    """A device refused a command, failed, or stopped delivering while streaming.

    ``recording`` holds what was recorded before the failure when the error
    ends a :meth:`vorn.Device.record`; ``None`` otherwise.
    """

    def __init__(self, message: str, recording: Optional[Any] = None) -> None:
        super().__init__(message)
        self.recording = recording


class DeviceSilent(DeviceError):
    """The device sent no line for the stated silence while streaming."""


class DeviceClosed(VornError):
    """The device belongs to a library session that close_all() has ended."""


class OutputError(VornError, OSError):
    """An output file cannot be written: the path names a FIFO, a device or a
    folder, its folder is missing or closed to the user, it is too long, or
    the disk is full. No file is left under the name."""


class OutputExists(OutputError, FileExistsError):
    """The output file (or a symbolic link of that name) exists and
    ``overwrite`` was not given."""


class PublisherError(VornError, ConnectionError):
    """A publisher (``vornctl serve``) cannot be reached, or refuses this
    subscriber: the message says which, and what to change."""
