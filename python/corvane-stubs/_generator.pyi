# Private: the event generator's flight arithmetic and Monte Carlo rows, behind corvane_tools.propagation and
# montecarlo_record.
# Integer columns (`Any` below) are flat int64 buffers, such as NumPy int64 arrays.
from collections.abc import Sequence
from typing import Any

__all__ = ["candidate_window", "line_crossings", "scatter", "montecarlo_rows"]

def candidate_window(lines: tuple[Sequence[float], ...], module_z: Sequence[float]) -> tuple[bytearray, bytearray]: ...
def line_crossings(
    lines: tuple[Sequence[float], ...], module_z: Sequence[float], overlap: float, tiles: bool
) -> tuple[bytearray, bytearray, bytearray, bytearray]: ...
def scatter(
    lines: tuple[Sequence[float], ...],
    module_z: Sequence[float],
    overlap: float,
    tiles: bool,
    row: Any,
    module: Any,
    x: Sequence[float],
    y: Sequence[float],
    theta: Sequence[float],
    foil_row: Any,
    foil_z: Sequence[float],
    foil_theta: Sequence[float],
    normals: Sequence[float],
) -> tuple[bytearray, bytearray, bytearray, bytearray]: ...
def montecarlo_rows(
    integers: Any, reals: Sequence[float], hit_ids: Any, hit_start: Any, hit_end: Any, per_event: Any
) -> list[list[list[Any]]]: ...
