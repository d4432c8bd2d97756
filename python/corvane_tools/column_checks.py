"""The event checks of `check_event`, made on a Parquet table's list columns at once.

`sound_rows` finds the rows whose module boundaries and coordinates pass
every check `check_event` makes on them, with a few array operations per
row group instead of Python work per event. Rows it does not vouch for are
checked event by event as before, which also words their fault; so it may
refuse a sound row (a column of an unusual type, say) but never passes a
faulty one.
"""
from collections.abc import Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

from .detector import MODULE_COUNT

ListColumn = tuple[npt.NDArray[Any], npt.NDArray[Any]]  # offsets, flat values


def _none_set(mask: npt.NDArray[np.bool_], offsets: npt.NDArray[Any], ends: npt.NDArray[Any]) -> Any:
    """Per row: whether no entry from its offset up to `ends` (absolute positions) is set."""
    if not mask.any():  # the usual case, decided without a running count
        return np.ones(len(offsets) - 1, dtype=bool)
    running = np.concatenate([[0], np.cumsum(mask, dtype=np.int64)])
    return running[ends] == running[offsets[:-1]]


def sound_rows(lists: Mapping[str, ListColumn], rows: int) -> npt.NDArray[np.bool_]:
    """Per row: whether "module_prefix_sum" starts at 0, has the entries for every module, all
    non-negative and strictly increasing over the modules, and every coordinate list ("x", "y", "z",
    and "t" when given) holds float64 values, at least as many as the hits and finite over them."""
    offsets, values = lists["module_prefix_sum"]
    sound = np.zeros(rows, dtype=bool)
    if values.dtype != np.int64 or rows == 0:
        return sound
    lengths = np.diff(offsets)
    sound = np.asarray((lengths > MODULE_COUNT) & _none_set(values < 0, offsets, offsets[1:]), dtype=bool)
    candidates = np.flatnonzero(sound)
    boundaries = values[offsets[candidates][:, None] + np.arange(MODULE_COUNT + 1)]
    sound[candidates] = (boundaries[:, 0] == 0) & (np.diff(boundaries, axis=1) > 0).all(axis=1)
    hit_counts = np.zeros(rows, dtype=np.int64)
    hit_counts[candidates] = boundaries[:, MODULE_COUNT]
    for name in ("x", "y", "z", "t"):
        if name not in lists:
            continue
        coordinate_offsets, coordinates = lists[name]
        if coordinates.dtype != np.float64:
            return np.zeros(rows, dtype=bool)
        sound &= np.diff(coordinate_offsets) >= hit_counts
        # Only rows still sound are looked at, so every end lies inside the row.
        ends = np.where(sound, coordinate_offsets[:-1] + hit_counts, coordinate_offsets[:-1])
        sound &= _none_set(~np.isfinite(coordinates), coordinate_offsets, ends)
    return sound
