"""Checks an event dictionary before it reaches the compiled module.

`check_event` finds what would make `Event` or the validation functions
fail, or silently drop data, and says so in one line: a missing key, a value
of the wrong type, a module without hits, coordinate lists shorter than the
hits they must hold, Monte Carlo hit positions outside the event. It returns
the dictionary with the coordinate lists as float64 arrays, which both read
without a copy.
"""
from collections.abc import Mapping
from itertools import chain
from typing import Any, Final, cast

import numpy as np

from .detector import MODULE_COUNT, FloatArray
from .truth_values import row_problem
from .typed_truth import TypedTruth
from .event_dict import EventDict

REQUIRED_KEYS: Final = ("description", "montecarlo", "module_prefix_sum", "x", "y", "z")
COORDINATE_KEYS: Final = ("x", "y", "z")


class EventFormatError(ValueError):
    """An event dictionary that does not follow the event format; the message is one line."""


def _type_name(value: object) -> str:
    return type(value).__name__


def _is_integer(value: object) -> bool:
    return isinstance(value, (int, np.integer)) and not isinstance(value, (bool, np.bool_))


def _prefix_sum(value: Any) -> list[int]:
    if isinstance(value, np.ndarray):
        value = value.tolist()
    if not isinstance(value, (list, tuple)):
        raise EventFormatError(f"'module_prefix_sum' is a {_type_name(value)}, not a list of integers")
    if len(value) < MODULE_COUNT + 1:
        raise EventFormatError(f"'module_prefix_sum' has {len(value)} entries, needs at least {MODULE_COUNT + 1}")
    for position, entry in enumerate(value):
        if not _is_integer(entry) or not 0 <= entry < 2 ** 64:
            raise EventFormatError(f"'module_prefix_sum' entry {position} is {entry!r}, not an integer "
                                   f"from 0 to 2**64 - 1")
    if value[0] != 0:
        raise EventFormatError(f"'module_prefix_sum' starts at {value[0]}, not 0")
    for module in range(MODULE_COUNT):
        if value[module + 1] == value[module]:
            raise EventFormatError(f"module {module} has no hits")
        if value[module + 1] < value[module]:
            raise EventFormatError(f"'module_prefix_sum' decreases after module {module}")
    return list(value)


def _coordinates(key: str, value: Any, hit_count: int) -> FloatArray:
    if isinstance(value, (str, bytes, Mapping)) or not hasattr(value, "__len__"):
        raise EventFormatError(f"'{key}' is a {_type_name(value)}, not a list of numbers")
    try:
        array = np.asarray(value)
    except ValueError:  # ragged nesting
        raise EventFormatError(f"'{key}' is not a flat list of numbers") from None
    if array.ndim != 1:
        raise EventFormatError(f"'{key}' is not a flat list of numbers")
    if array.dtype.kind not in "fiu" and array.size:
        raise EventFormatError(f"'{key}' holds a value that is not a number")
    array = array.astype(np.float64, copy=False)
    if array.size < hit_count:
        raise EventFormatError(f"'{key}' has {array.size} entries but 'module_prefix_sum' counts {hit_count} hits")
    if not np.all(np.isfinite(array[:hit_count])):
        raise EventFormatError(f"'{key}' holds a value that is not a finite number")
    return array


def _check_montecarlo(record: Any, hit_count: int, hit_positions_checked: bool = False) -> None:
    if record is None or isinstance(record, TypedTruth):  # typed records are checked on their columns
        return
    if not isinstance(record, Mapping):
        raise EventFormatError(f"'montecarlo' is a {_type_name(record)}, not an object")
    for key in ("description", "particles"):
        if key not in record:
            raise EventFormatError(f"'montecarlo' has no '{key}'")
    columns = record["description"]
    if not isinstance(columns, list) or not all(isinstance(c, str) for c in columns):
        raise EventFormatError("'montecarlo' 'description' is not a list of column names")
    rows = record["particles"]
    if not isinstance(rows, list):
        raise EventFormatError(f"'montecarlo' 'particles' is a {_type_name(rows)}, not a list")
    positions = {name: position for position, name in enumerate(columns)}
    hits_column = None if hit_positions_checked else positions.get("hits")
    hit_lists = []
    for number, row in enumerate(rows):
        if not isinstance(row, list):
            raise EventFormatError(f"Monte Carlo particle {number} is a {_type_name(row)}, not a list")
        if hits_column is not None and hits_column < len(row):
            hit_lists.append(row[hits_column])
    if hits_column is not None and not _valid_hit_lists(hit_lists, hit_count):
        _report_hit_list(rows, hits_column, hit_count)
    problem = row_problem(columns, rows)
    if problem is not None:
        raise EventFormatError(problem)


def _valid_hit_lists(hit_lists: list[Any], hit_count: int) -> bool:
    """All lists of integers within the event's hits (one array conversion, no loop over hits)."""
    if not all(isinstance(hits, list) for hits in hit_lists):
        return False
    flat = np.asarray(list(chain.from_iterable(hit_lists)))
    if flat.size == 0:
        return True
    return flat.dtype.kind in "iu" and int(flat.min()) >= 0 and int(flat.max()) < hit_count


def _report_hit_list(rows: list[list[Any]], hits_column: Any, hit_count: int) -> None:
    """Raises for the first particle whose hit list is not valid."""
    for number, row in enumerate(rows):
        if hits_column >= len(row):
            continue
        hits = row[hits_column]
        if not isinstance(hits, list) or not all(_is_integer(h) for h in hits):
            raise EventFormatError(f"Monte Carlo particle {number}: 'hits' is not a list of hit positions")
        bad = [h for h in hits if h < 0 or h >= hit_count]
        if bad:
            raise EventFormatError(f"Monte Carlo particle {number} lists hit {bad[0]}, but the event has "
                                   f"{hit_count} hits")


def check_event(event: Any, hit_positions_checked: bool = False, columns_checked: bool = False) -> EventDict:
    """The event with float64 coordinate arrays, or EventFormatError naming the first problem.

    `hit_positions_checked`: the caller has already checked that the Monte Carlo record's hit positions
    are integers within the event (on the arrays of typed columns), so they are not checked value by value.
    `columns_checked`: the caller has already checked the description, the module boundaries (a list)
    and the coordinates (float64 arrays) on whole columns (see `column_checks`); only the record is left."""
    if not isinstance(event, dict):
        raise EventFormatError(f"the event is a {_type_name(event)}, not an object")
    for key in REQUIRED_KEYS:
        if key not in event:
            raise EventFormatError(f"missing key '{key}'")
    if columns_checked:
        prefix = event["module_prefix_sum"]
        _check_montecarlo(event["montecarlo"], prefix[MODULE_COUNT], hit_positions_checked)
        return cast(EventDict, dict(event))
    if not isinstance(event["description"], str):
        raise EventFormatError(f"'description' is a {_type_name(event['description'])}, not a string")
    prefix = _prefix_sum(event["module_prefix_sum"])
    hit_count = prefix[MODULE_COUNT]
    checked = dict(event)
    checked["module_prefix_sum"] = prefix
    for key in COORDINATE_KEYS + (("t",) if "t" in event else ()):
        checked[key] = _coordinates(key, event[key], hit_count)
    _check_montecarlo(event["montecarlo"], hit_count, hit_positions_checked)
    return cast(EventDict, checked)
