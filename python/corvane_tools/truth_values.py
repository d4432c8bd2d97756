"""The values of Monte Carlo particle rows: a row that is cut short, a momentum given as text or a
flag of 2 would be read silently as a default (or as "true") and change every result, so such a
row makes its event unusable, named by particle.

Rows are checked a column at a time (set and map operations over each column, no Python loop
per value); the typed Parquet columns are checked on their arrays.
"""
import math
from collections.abc import Sequence
from typing import Any, Final

import numpy as np

FLAG_COLUMNS: Final = ("isLong", "isDown", "hasVelo", "hasUT", "hasScifi", "fromBeautyDecay", "fromCharmDecay",
                       "fromStrangeDecay")
REAL_COLUMNS: Final = ("p", "pt", "eta", "phi")
INTEGER_RANGES: Final = {"key": (0, 2 ** 64 - 1), "pid": (-2 ** 31, 2 ** 31 - 1), "charge": (-2 ** 31, 2 ** 31 - 1)}
_INTEGER_TYPES: Final = frozenset({int, bool, np.int64, np.int32})
_REAL_TYPES: Final = _INTEGER_TYPES | {float, np.float64, np.float32}


def _fault(column: str, value: Any) -> str | None:
    """What is wrong with one value of a known column, or None."""
    if column in FLAG_COLUMNS:
        return None if type(value) in _INTEGER_TYPES and value in (0, 1) else "is not a flag (0 or 1)"
    if column in REAL_COLUMNS:
        if type(value) not in _REAL_TYPES:
            return "is not a number"
        return None if math.isfinite(value) else "is not a finite number"
    low, high = INTEGER_RANGES[column]
    if type(value) not in _INTEGER_TYPES:
        return "is not an integer"
    return None if low <= value <= high else f"is outside {low}..{high}"


def _column_sound(column: str, values: Sequence[Any]) -> bool:
    """Whether every value of a column is sound, decided on one array: a value of the wrong type
    turns the whole array into another kind (text, objects, floats among integers)."""
    if not values:
        return True
    array = np.asarray(values)
    if column in REAL_COLUMNS:
        return array.dtype.kind in "iuf" and bool(np.isfinite(array).all())
    if array.dtype.kind not in "iu":  # bool alone ("b") is refused here, and then accepted per value
        return False
    if column in FLAG_COLUMNS:
        return bool(((array == 0) | (array == 1)).all())
    low, high = INTEGER_RANGES[column]
    return low <= int(array.min()) and int(array.max()) <= high


def row_problem(columns: Sequence[str], rows: Sequence[list[Any]]) -> str | None:
    """The first fault of the particle rows, naming the particle (its position among the rows), or None."""
    width = len(columns)
    if rows and min(map(len, rows)) < width:  # longer rows lose nothing: their extra values are ignored
        number, row = next((n, row) for n, row in enumerate(rows) if len(row) < width)
        return f"Monte Carlo particle {number} has {len(row)} values for the {width} columns of 'description'"
    position = {name: index for index, name in enumerate(columns)}  # the last of a repeated name counts
    known = [name for name in (*INTEGER_RANGES, *REAL_COLUMNS, *FLAG_COLUMNS) if name in position]
    by_column = list(zip(*rows)) if rows else []  # cut to the description's width
    for name in known:
        values = by_column[position[name]] if rows else ()
        if _column_sound(name, values):
            continue
        for number, value in enumerate(values):
            fault = _fault(name, value)
            if fault is not None:
                return f"Monte Carlo particle {number}: '{name}' {fault}: {value!r}"
    return None


def typed_problems(column: Any) -> dict[int, str]:
    """Per event (row of a typed Monte Carlo column) with a fault, the first fault, as `row_problem`
    words it. The column's types already make every value a number of its kind."""
    import pyarrow as pa

    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    particles = column.flatten()
    counts = column.value_lengths().fill_null(0).to_numpy()
    starts = np.concatenate([[0], np.cumsum(counts)])
    faults: dict[int, tuple[int, str]] = {}  # event -> (particle within the whole column, text)
    for index, field in enumerate(column.type.value_type):
        name = field.name
        if name not in FLAG_COLUMNS and name not in REAL_COLUMNS and name not in INTEGER_RANGES:
            continue
        values = particles.field(index)
        if values.null_count:
            bad = np.flatnonzero(values.is_null().to_numpy(zero_copy_only=False))
            array = None
        else:
            array = values.to_numpy(zero_copy_only=False)
            bad = np.zeros(0, np.int64) if _all_sound(name, array) else _bad_values(name, array)
        for particle in bad.tolist():
            event = int(np.searchsorted(starts, particle, side="right") - 1)
            value = None if array is None else array[particle].item()
            text = (f"Monte Carlo particle {particle - starts[event]}: '{name}' "
                    f"{'is missing' if array is None else _fault(name, value)}: {value!r}")
            if event not in faults or particle < faults[event][0]:
                faults[event] = (particle, text)
    return {event: text for event, (_particle, text) in faults.items()}


def _all_sound(name: str, array: np.ndarray[Any, Any]) -> bool:
    """Whether `_bad_values` finds nothing, decided with a reduction or two over the column instead of masks
    (a column is almost always sound); False where that cannot decide."""
    if array.size == 0:
        return True
    if name in FLAG_COLUMNS:
        return array.dtype.kind in "iub" and 0 <= array.min() and array.max() <= 1
    if name in REAL_COLUMNS:
        # A NaN or an infinity makes the sum so; a sum beyond the doubles' range is left to _bad_values.
        if array.dtype.kind in "iub":
            return True
        with np.errstate(over="ignore", invalid="ignore"):
            return bool(np.isfinite(array.sum()))
    low, high = INTEGER_RANGES[name]
    return array.dtype.kind != "i" or (low <= int(array.min()) and int(array.max()) <= high)


def _bad_values(name: str, array: np.ndarray[Any, Any]) -> np.ndarray[Any, Any]:
    if name in FLAG_COLUMNS:
        return np.flatnonzero((array != 0) & (array != 1))
    if name in REAL_COLUMNS:
        return np.flatnonzero(~np.isfinite(array))
    low, high = INTEGER_RANGES[name]
    return np.flatnonzero((array < low) | (array > high)) if array.dtype.kind == "i" else np.zeros(0, np.int64)
