"""The stream's data messages from a publisher (``vornctl serve``), decoded.

Layout and version rule: docs/streaming.md. Bytes come from the network, so
every length is checked against what arrived before anything is allocated.
"""

import struct
from typing import NamedTuple

import numpy as np

from .errors import VornError

FORMAT_VERSION = 1
MAGIC = b"VD"
KIND_DATA = 1
FIXED_HEADER = struct.Struct("<2sBBHHIIQQqqB")
MAX_SERIAL = 64
MAX_CHANNELS = 256
MAX_ROWS = 1 << 17
MAX_VALUE = 32767


class WireError(VornError, ValueError):
    """A message this package cannot read: damaged, or from a newer publisher."""


class NewerFormat(WireError):
    """The publisher speaks a newer format than this package reads."""


class DataMessage(NamedTuple):
    serial: str
    sequence: int
    first_sample: int
    period_us: int
    first_host_us: int
    last_host_us: int
    malformed: np.ndarray  # bool per row
    values: np.ndarray  # uint16, rows by channels


def data_topic(serial: str) -> bytes:
    return serial.encode("latin-1") + b"/data"


def meta_topic(serial: str) -> bytes:
    return serial.encode("latin-1") + b"/meta"


def device_prefix(serial: str) -> bytes:
    """A subscription that takes exactly this device's messages."""
    return serial.encode("latin-1") + b"/"


def topic_serial(topic: bytes) -> str:
    for suffix in (b"/data", b"/meta"):
        if topic.endswith(suffix) and len(topic) > len(suffix):
            return topic[: -len(suffix)].decode("latin-1")
    return ""


def check_format(version: int) -> None:
    if version == FORMAT_VERSION:
        return
    if isinstance(version, int) and version > FORMAT_VERSION:
        raise NewerFormat(f"the publisher sends stream format {version}, this package reads format "
                          f"{FORMAT_VERSION}: update it to the publisher's release")
    raise WireError(f"unknown stream format {version!r}")


def decode_data(payload: bytes) -> DataMessage:
    size = len(payload)
    if size < 4 or payload[:2] != MAGIC:
        raise WireError("not a vorn data message")
    check_format(payload[2])
    if payload[3] != KIND_DATA:
        raise WireError(f"damaged data message: unknown kind {payload[3]}")
    if size < FIXED_HEADER.size:
        raise WireError(f"damaged data message: shorter than its header ({size} bytes)")
    (_, _, _, header_size, channels, rows, period_us, sequence, first_sample, first_host, last_host,
     serial_length) = FIXED_HEADER.unpack_from(payload)
    if serial_length > MAX_SERIAL or FIXED_HEADER.size + serial_length > header_size or header_size > size:
        raise WireError(f"damaged data message: header size {header_size} does not fit")
    if not 0 < channels <= MAX_CHANNELS:
        raise WireError(f"damaged data message: channel count {channels}")
    if rows > MAX_ROWS:
        raise WireError(f"damaged data message: row count {rows}")
    if period_us == 0:
        raise WireError("damaged data message: period 0")
    bitmap_size = (rows + 7) // 8
    expected = header_size + bitmap_size + 2 * rows * channels
    if expected != size:
        raise WireError(f"damaged data message: {size} bytes where its header announces {expected}")
    serial = payload[FIXED_HEADER.size:FIXED_HEADER.size + serial_length].decode("latin-1")
    bits = np.frombuffer(payload, dtype=np.uint8, count=bitmap_size, offset=header_size)
    malformed = np.unpackbits(bits, bitorder="little")[:rows].astype(bool)
    values = np.frombuffer(payload, dtype="<u2", count=rows * channels,
                           offset=header_size + bitmap_size).reshape(rows, channels)
    if values.size and int(values.max()) > MAX_VALUE:
        raise WireError(f"damaged data message: value {int(values.max())} beyond 32767")
    return DataMessage(serial, sequence, first_sample, period_us, first_host, last_host, malformed, values)


def encode_data(message: DataMessage) -> bytes:
    """The publisher's side, for tests and for Python publishers."""
    serial = message.serial.encode("latin-1")[:MAX_SERIAL]
    values = np.ascontiguousarray(message.values, dtype="<u2")
    rows, channels = values.shape
    header = FIXED_HEADER.pack(MAGIC, FORMAT_VERSION, KIND_DATA, FIXED_HEADER.size + len(serial), channels, rows,
                               message.period_us, message.sequence, message.first_sample, message.first_host_us,
                               message.last_host_us, len(serial))
    bits = np.packbits(np.asarray(message.malformed, dtype=bool)[:rows], bitorder="little").tobytes()
    return header + serial + bits + values.tobytes()
