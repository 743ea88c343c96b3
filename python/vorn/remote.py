"""A device as its publisher (``vornctl serve``) describes it: the metadata
message of docs/streaming.md, checked member by member, since it comes from
the network."""
from __future__ import annotations

import dataclasses
import json
import math
import numbers
from typing import Any, Optional, Tuple

from ._wire import WireError, check_format
from .channel import Channel

# More than any device describes; a larger count is junk.
_MAX_CHANNELS = 1024
_MAX_META_BYTES = 1 << 20
_MAX_TEXT = 4096


@dataclasses.dataclass(frozen=True)
class RemoteDevice:
    """One device of a publisher, from its latest metadata.

    ``channels`` lists every channel of the device, ``enabled`` those the
    data carry (in position order); ``period`` is in seconds. ``stream``
    counts the starts on the publisher; ``publisher_host`` and
    ``publisher_start`` (Unix seconds) say which publisher run it is.
    """

    serial: str
    unique_id: Optional[int]
    product: str
    version: str
    channels: Tuple[Channel, ...]
    enabled: Tuple[Channel, ...]
    period_us: int
    periods_us: Tuple[int, ...]
    streaming: bool
    stream: int
    publisher_host: str = ""
    publisher_start: Optional[float] = None

    @property
    def period(self) -> float:
        return self.period_us / 1e6

    @property
    def layout(self) -> Tuple[Tuple[int, ...], int]:
        """What a data message's rows mean: the enabled positions and the period."""
        return tuple(c.position for c in self.enabled), self.period_us


def _text(obj: dict, key: str, default: Optional[str] = None) -> str:
    value = obj.get(key, default)
    if not isinstance(value, str) or len(value) > _MAX_TEXT:
        raise WireError(f"damaged metadata: {key} is not a text")
    return value


def _integer(obj: dict, key: str, lo: int, hi: int, default: Any = None) -> int:
    value = obj.get(key, default)
    if isinstance(value, bool) or not isinstance(value, int) or not lo <= value <= hi:
        raise WireError(f"damaged metadata: {key} is {value!r}")
    return value


def _limit(obj: dict, key: str) -> Optional[float]:
    value = obj.get(key)
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or not math.isfinite(value):
        raise WireError(f"damaged metadata: channel {key} is {value!r}")
    return float(value)


def _channel(item: Any) -> Tuple[Channel, bool]:
    if not isinstance(item, dict):
        raise WireError("damaged metadata: a channel is not an object")
    lo, hi = _limit(item, "minimum"), _limit(item, "maximum")
    if (lo is None) != (hi is None):
        lo = hi = None  # a range needs both ends; without one the values are the driver's
    enabled = item.get("enabled", False)
    if not isinstance(enabled, bool):
        raise WireError(f"damaged metadata: channel enabled is {enabled!r}")
    channel = Channel(position=_integer(item, "position", 1, _MAX_CHANNELS), name=_text(item, "name"),
                      unit=_text(item, "unit", ""), minimum=lo, maximum=hi)
    return channel, enabled


def parse_meta(payload: bytes, topic_serial: str) -> RemoteDevice:
    """The metadata of the device ``topic_serial``; WireError when it cannot be
    read, NewerFormat when a newer publisher wrote it."""
    if len(payload) > _MAX_META_BYTES:
        raise WireError(f"damaged metadata: {len(payload)} bytes")
    try:
        obj = json.loads(payload.decode("utf-8"))
    except (UnicodeDecodeError, ValueError, RecursionError):
        raise WireError("damaged metadata: not JSON") from None
    if not isinstance(obj, dict):
        raise WireError("damaged metadata: not a JSON object")
    version = obj.get("format")
    if isinstance(version, bool) or not isinstance(version, int):
        raise WireError(f"damaged metadata: format is {version!r}")
    check_format(version)
    serial = _text(obj, "serial")
    if serial != topic_serial:
        raise WireError(f"damaged metadata: serial {serial!r} under the topic of {topic_serial!r}")
    items = obj.get("channels")
    if not isinstance(items, list) or not 0 < len(items) <= _MAX_CHANNELS:
        raise WireError("damaged metadata: no channel list")
    described = sorted((_channel(item) for item in items), key=lambda ce: ce[0].position)
    positions = [c.position for c, _ in described]
    if len(set(positions)) != len(positions):
        raise WireError("damaged metadata: a channel position appears twice")
    periods = obj.get("periods_us", [])
    if not isinstance(periods, list) or len(periods) > 256 or not all(
            isinstance(p, int) and not isinstance(p, bool) and p > 0 for p in periods):
        raise WireError("damaged metadata: periods_us is not a list of periods")
    uid = obj.get("unique_id")
    if uid is not None and (isinstance(uid, bool) or not isinstance(uid, int)):
        raise WireError(f"damaged metadata: unique_id is {uid!r}")
    streaming = obj.get("streaming", False)
    if not isinstance(streaming, bool):
        raise WireError(f"damaged metadata: streaming is {streaming!r}")
    publisher = obj.get("publisher", {})
    if not isinstance(publisher, dict):
        raise WireError("damaged metadata: publisher is not an object")
    start = _limit(publisher, "start_unix")
    return RemoteDevice(serial=serial, unique_id=uid, product=_text(obj, "product", ""),
                        version=_text(obj, "version", ""), channels=tuple(c for c, _ in described),
                        enabled=tuple(c for c, on in described if on),
                        period_us=_integer(obj, "period_us", 1, 0xFFFFFFFF), periods_us=tuple(periods),
                        streaming=streaming, stream=_integer(obj, "stream", 0, 1 << 62, 0),
                        publisher_host=_text(publisher, "host", ""), publisher_start=start)
