# Private: per-event validation records and their fold, behind corvane_tools.work_units.
from collections.abc import Sequence
from typing import Any, final

from .DetectorEvent import Event, Track

__all__ = ["RecordFold", "measure_events", "measure_columns", "measure_tracks", "measure_solved", "solve_tracks",
           "event_totals"]

def measure_events(py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]]) -> bytes: ...
def measure_columns(
    events: bytes | bytearray | memoryview,
    particles: bytes | bytearray | memoryview,
    momenta: bytes | bytearray | memoryview,
    positions: bytes | bytearray | memoryview,
    py_tracks: Sequence[Sequence[Track]],
) -> bytes: ...
def measure_tracks(
    events: bytes | bytearray | memoryview,
    particles: bytes | bytearray | memoryview,
    momenta: bytes | bytearray | memoryview,
    positions: bytes | bytearray | memoryview,
    measured: bytes | bytearray | memoryview,
    py_tracks: Sequence[Sequence[Track]],
) -> tuple[bytes, bytearray, bytearray, bytearray, bytearray, bytearray]: ...
def measure_solved(
    truth: tuple[bytes | bytearray | memoryview, bytes | bytearray | memoryview, bytes | bytearray | memoryview,
                 bytes | bytearray | memoryview] | Sequence[dict[str, Any]],
    measured: bytes | bytearray | memoryview,
    hit_ids: bytes | bytearray | memoryview,
    offsets: bytes | bytearray | memoryview,
    missed_last_module: bytes | bytearray | memoryview,
    missed_penultimate_module: bytes | bytearray | memoryview,
    track_counts: bytes | bytearray | memoryview,
) -> bytes: ...
def solve_tracks(algorithm: object, events: Sequence[Event]) -> tuple[bytearray, bytearray, bytearray, bytearray, bytearray]: ...
def event_totals(records: bytes | bytearray | memoryview) -> list[tuple[int, int]]: ...

@final
class RecordFold:
    def __new__(cls, verbose: bool, detailed: bool | None = False) -> RecordFold: ...
    @property
    def events(self) -> int: ...
    def add(self, records: bytes | bytearray | memoryview) -> int: ...
    def summary(self, event_count: int | None = None) -> str: ...
    def export(self, event_count: int | None = None) -> dict[str, Any]: ...
    def take_events(self) -> dict[str, list[dict[str, Any]]]: ...
