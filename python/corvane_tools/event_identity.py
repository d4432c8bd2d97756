"""Which event a result belongs to: where it came from, and a digest of its content.

Saved tracks name their events by hit id, so they only mean something next
to the very hits they were found in. The digest covers exactly those: the
module boundaries and every hit's coordinates (and times, when present), as
little-endian binary, so the same event read from JSON or Parquet, or made
again by the generator, has the same digest.
"""
import hashlib
from dataclasses import dataclass

import numpy as np

from .event_format import COORDINATE_KEYS
from .event_dict import EventDict

_TIME_KEY = "t"


def event_digest(event: EventDict) -> str:
    """SHA-256 (hex) of the event's module boundaries and hit coordinates."""
    digest = hashlib.sha256()
    digest.update(np.ascontiguousarray(event["module_prefix_sum"], dtype="<i8").tobytes())
    for key in COORDINATE_KEYS + ((_TIME_KEY,) if event.get(_TIME_KEY) is not None else ()):
        column = np.ascontiguousarray(event[key], dtype="<f8")
        digest.update(key.encode() + np.int64(column.size).tobytes() + column.tobytes())
    return digest.hexdigest()


@dataclass(frozen=True)
class EventIdentity:
    """An input file and the event's position in it, or a generated sample's seed and the event's
    index in it; and the event's content digest."""
    source: str          # the input file; "" for a generated event
    index: int           # position in the file, or index in the generated sample
    seed: int | None     # generated events only
    digest: str

    def describe(self) -> str:
        return (f"generated event {self.index} (seed {self.seed})" if self.seed is not None
                else f"{self.source} [event {self.index}]")
