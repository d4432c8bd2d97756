# Private helpers behind corvane_tools.
from collections.abc import Sequence
from typing import Any

from .DetectorEvent import Event, Track

__all__ = ["track_arrays", "event_arrays", "pool_size", "category_names", "validation_summary_text"]

def track_arrays(tracks: Sequence[Track]) -> tuple[bytearray, bytearray, bytearray, bytearray]: ...
def event_arrays(
    event: Event,
) -> tuple[bytearray, bytearray, bytearray, bytearray, bytearray, bytearray, bool]: ...
def validation_summary_text(
    py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]], verbose: bool
) -> str: ...
def pool_size() -> int: ...
def category_names() -> list[str]: ...
