"""Loading the driver library and calling its sixteen exports through ctypes.

The package is a host of the library like any other: it uses only the exports
and records of vorn.h, and adds no C code of its own.
"""
from __future__ import annotations

import codecs
import ctypes
import locale
import math
import os
import pathlib
import sys
import threading
from typing import Optional

from .errors import LibraryNotFound

if sys.platform == "win32":
    LIBRARY_FILE = "Vorn(7u).dll"
    LOADER_NAME = LIBRARY_FILE
else:
    LIBRARY_FILE = "libvorn.so"
    # What the system loader finds when the library comes from a package:
    # libvorn.so itself belongs to the development files.
    LOADER_NAME = "libvorn.so.1"

# Command codes of DeviceCommand (vorn.h).
CMD_PRODUCT_NAME = 0
CMD_VERSION_TEXT = 3
CMD_SERIAL_TEXT = 4
CMD_LAST_CHANNEL = 11
CMD_CHANNEL_MINIMUM = 17
CMD_CHANNEL_MAXIMUM = 18
CMD_CHANNEL_UNIT = 19
CMD_CHANNEL_NAME = 21
CMD_CHANNEL_RANGE = 22
CMD_PERIOD_LIST = 32
CMD_SELECT_PERIOD = 35
CMD_START = 37
CMD_STOP = 38
CMD_DISABLE_CHANNEL = 41
CMD_ENABLE_CHANNEL = 42

# Large enough for the longest reply a device gives (the control-list script).
_REPLY_BYTES = 64 * 1024


class CommandRecord(ctypes.Structure):
    """The host-owned record of DeviceCommand; ctypes lays it out as the C compiler does."""

    _fields_ = [
        ("textBuffer", ctypes.c_void_p),
        ("textLength", ctypes.c_int32),
        ("reserved1", ctypes.c_int32),
        ("argument", ctypes.c_int32),
        ("reserved2", ctypes.c_int32),
        ("intResult", ctypes.c_int32),
        ("floatResult", ctypes.c_float),
    ]


def _candidates() -> list[pathlib.Path]:
    """Where the library is looked for after $VORN_LIBRARY, in order."""
    here = pathlib.Path(__file__).resolve().parent
    out = [here / LIBRARY_FILE, here / "lib" / LIBRARY_FILE]
    # A package run from, or installed into a virtual environment inside, a
    # checkout finds the checkout's installed tree first, then its build tree.
    for parent in here.parents:
        if (parent / "include" / "vorn.h").is_file():
            out += [parent / "dist" / "linux" / "lib" / LIBRARY_FILE,
                    parent / "build" / "linux" / "driver" / LIBRARY_FILE,
                    parent / "build" / "linux" / LIBRARY_FILE]
            break
    return out


def find_library() -> str:
    """The path of the driver library: $VORN_LIBRARY, else one installed beside
    the package, else the checkout's dist/ or build tree, else the name the
    system's loader looks for (libvorn.so.1, as the libvorn1 package installs it)."""
    env = os.environ.get("VORN_LIBRARY")
    if env:
        return env
    for candidate in _candidates():
        if candidate.is_file():
            return str(candidate)
    return LOADER_NAME


def _text_encoding() -> str:
    # The driver hands texts over in the user's code page; in a 7-bit locale
    # (C, POSIX) it hands Latin-1, so that bytes such as the degree sign keep their value.
    if sys.platform == "win32":
        return "oem"
    encoding = locale.getpreferredencoding(False) or "utf-8"
    if codecs.lookup(encoding).name == "ascii":
        return "latin-1"
    return encoding


def decode_text(raw: bytes, encoding: str) -> str:
    """A text of the driver. Devices send 8-bit text ("\xb0C", "\xb5V"), which
    a driver may hand over byte for byte rather than in the user's code page:
    what is not valid in the code page is read as Windows-1252, and a byte
    that page leaves undefined as Latin-1."""
    try:
        return raw.decode(encoding)
    except (UnicodeDecodeError, LookupError):
        pass
    try:
        return raw.decode("cp1252")
    except UnicodeDecodeError:
        return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in raw)


class RWLock:
    """FindDevice and CloseAll must not run while any other export runs; calls
    for different devices may run at once. Exclusive for the former, shared
    for the latter."""

    def __init__(self) -> None:
        self._cond = threading.Condition()
        self._readers = 0
        self._writer = False

    def acquire_shared(self) -> None:
        with self._cond:
            while self._writer:
                self._cond.wait()
            self._readers += 1

    def release_shared(self) -> None:
        with self._cond:
            self._readers -= 1
            if self._readers == 0:
                self._cond.notify_all()

    def acquire_exclusive(self) -> None:
        with self._cond:
            while self._writer:
                self._cond.wait()
            self._writer = True
            try:
                while self._readers:
                    self._cond.wait()
            except BaseException:
                # Ctrl-C while waiting for the others' calls: give the turn back.
                self._writer = False
                self._cond.notify_all()
                raise

    def release_exclusive(self) -> None:
        with self._cond:
            self._writer = False
            self._cond.notify_all()


class Library:
    """The loaded driver with its exports typed as vorn.h declares them."""

    def __init__(self, path: str) -> None:
        self.path = path
        try:
            if sys.platform == "win32":
                self._dll = ctypes.CDLL(path)
            else:
                self._dll = ctypes.CDLL(path, mode=os.RTLD_NOW | os.RTLD_LOCAL)
        except OSError as e:
            raise LibraryNotFound(
                f"cannot load the Vorn driver library {path!r}: {e}. Set VORN_LIBRARY to the "
                f"path of {LIBRARY_FILE}, or install it beside the vorn package.") from None
        i32, u32, p = ctypes.c_int32, ctypes.c_uint32, ctypes.POINTER
        signatures = {
            "GetDeviceClassInfo": (i32, [ctypes.c_void_p]),
            "FindDevice": (i32, [p(i32)]),
            "Initialise": (i32, [i32]),
            "CloseAll": (i32, []),
            "IsFailed": (i32, [i32]),
            "CanUseBaudRate": (i32, [i32, i32]),
            "SetBaudRate": (i32, [i32, i32]),
            "GetBaudRate": (i32, [i32]),
            "ReadLine": (i32, [i32, ctypes.c_char_p, i32, u32]),
            "ReadBuffer": (i32, [i32, ctypes.c_void_p, i32, u32]),
            "WriteBuffer": (i32, [i32, ctypes.c_char_p, i32]),
            "ReadBuffSize": (i32, [i32]),
            "FlushReadBuffer": (None, [i32]),
            "GetUniqueID": (i32, [i32, p(i32)]),
            "DeviceCommand": (i32, [i32, u32, p(CommandRecord)]),
            "GetLastErrorMsg": (i32, [i32, ctypes.c_char_p]),
        }
        missing = []
        for name, (restype, argtypes) in signatures.items():
            try:
                fn = getattr(self._dll, name)
            except AttributeError:
                missing.append(name)
                continue
            fn.restype = restype
            fn.argtypes = argtypes
            setattr(self, name, fn)
        if missing:
            raise LibraryNotFound(f"{path} is not the Vorn driver: it lacks {', '.join(missing)}")
        self.encoding = _text_encoding()
        self.lock = RWLock()
        # Bumped by every CloseAll: device indexes of an older generation are stale.
        self.generation = 0
        # FindDevice has added sessions to the driver's table since the last CloseAll.
        self.table_used = False

    def text(self, raw: bytes) -> str:
        return decode_text(raw, self.encoding)

    def general_message(self) -> str:
        """GetLastErrorMsg(-1): the driver's own words for why no device is usable."""
        size = self.GetLastErrorMsg(-1, None)
        if size <= 0:
            return ""
        # One spare byte so the text is terminated even if the copy fills its size.
        buf = ctypes.create_string_buffer(size + 1)
        self.GetLastErrorMsg(-1, buf)
        return self.text(buf.value)

    def command(self, index: int, code: int, argument: int = 0) -> "Reply":
        buf = ctypes.create_string_buffer(_REPLY_BYTES + 1)
        record = CommandRecord()
        record.textBuffer = ctypes.addressof(buf)
        record.textLength = _REPLY_BYTES
        record.argument = argument
        record.floatResult = math.nan
        ok = self.DeviceCommand(index, code, ctypes.byref(record)) == 1
        value = record.floatResult
        return Reply(ok, self.text(buf.value), record.intResult, None if math.isnan(value) else value)


class Reply:
    __slots__ = ("ok", "text", "int_result", "float_result")

    def __init__(self, ok: bool, text: str, int_result: int, float_result: Optional[float]) -> None:
        self.ok = ok
        self.text = text
        self.int_result = int_result
        self.float_result = float_result


_loaded: Optional[Library] = None
_load_lock = threading.Lock()


def library() -> Library:
    """The process's one loaded driver (the device table is process-wide)."""
    global _loaded
    with _load_lock:
        if _loaded is None:
            _loaded = Library(find_library())
        return _loaded


def loaded() -> Optional[Library]:
    return _loaded
