"""A channel of a device's self-description and the driver's scaling of it."""
from __future__ import annotations

import dataclasses
from typing import Optional

import numpy as np

#: The driver scales a channel with a range onto 0..SCALED_MAXIMUM.
SCALED_MAXIMUM = 32767


@dataclasses.dataclass(frozen=True)
class Channel:
    """One channel of a device's self-description."""

    position: int  #: field position; 1 is the first channel
    name: str
    unit: str  #: empty when the device reports none
    minimum: Optional[float]  #: None when the device reports no range
    maximum: Optional[float]
    range_text: str = ""  #: the driver's range text (command 22)

    @property
    def scaled(self) -> bool:
        """True when the driver scales the channel onto 0..32767 (it has a range)."""
        return self.minimum is not None and self.maximum is not None

    def to_physical(self, raw: np.ndarray) -> np.ndarray:
        """The driver's 0..32767 values in the channel's unit."""
        raw = np.asarray(raw, dtype=np.float64)
        if not self.scaled:
            return raw
        return self.minimum + raw / SCALED_MAXIMUM * (self.maximum - self.minimum)
