# Private: the event generator's arithmetic and Monte Carlo rows, behind corvane_tools.particles, propagation
# and montecarlo_record.
# Integer columns (`Any` below) are flat int64 buffers, such as NumPy int64 arrays.
from collections.abc import Sequence
from typing import Any

__all__ = ["perpendicular_basis", "interpolate", "elementary", "candidate_window", "line_crossings", "fly", "montecarlo_rows"]

def perpendicular_basis(direction: Sequence[float]) -> tuple[bytearray, bytearray]: ...
def interpolate(x: Sequence[float], xp: Sequence[float], fp: Sequence[float]) -> bytearray: ...

def elementary(name: str, x: Sequence[float], y: Sequence[float]) -> bytearray: ...

def candidate_window(lines: tuple[Sequence[float], ...], module_z: Sequence[float]) -> tuple[bytearray, bytearray]: ...
def line_crossings(
    lines: tuple[Sequence[float], ...], module_z: Sequence[float], overlap: float, tiles: bool
) -> tuple[bytearray, bytearray, bytearray, bytearray]: ...
def fly(
    lines: tuple[Sequence[float], ...],
    module_z: Sequence[float],
    overlap: float,
    tiles: bool,
    p: Sequence[float],
    mass: Sequence[float],
    module_material: float,
    foil_material: float,
    hit_efficiency: float,
    resolution: float,
    row: Any,
    module: Any,
    x: Sequence[float],
    y: Sequence[float],
    normals: Sequence[float],
    uniforms: Sequence[float],
) -> tuple[bytearray, bytearray, bytearray, bytearray, bytearray, bytearray, bytearray, bytearray, bytearray]: ...
def montecarlo_rows(
    integers: Any, reals: Sequence[float], hit_ids: Any, hit_start: Any, hit_end: Any, per_event: Any
) -> list[list[list[Any]]]: ...
