"""A user's own reconstruction algorithm, run by the job like the built-in ones.

`--algorithm package.module:factory` names it: `factory()` (any callable:
a class, a function) returns an object with a `solve(event)` method that
takes a `corvane.DetectorEvent.Event` and returns the event's tracks, as
`Track` objects or as lists of hit ids (`Event.hits[i]` has id `i`). The
job calls `solve` event by event, in this process or in each cluster task,
where the worker pool would run a built-in algorithm; the tracks are then
validated, folded, tabulated and plotted the same way.

The module is imported the way `python -m` would: the current directory
comes first on the search path (on a cluster, the module must be importable
by every worker).
"""
import importlib
import os
import re
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Final

import numpy as np

import corvane

from .arrays import track_arrays

if TYPE_CHECKING:
    from corvane.DetectorEvent import Event, Track

SPEC_PATTERN: Final = re.compile(r"[A-Za-z_][\w.]*:[A-Za-z_][\w.]*")


class UserAlgorithmError(Exception):
    """A user algorithm that cannot be loaded, or whose `solve` failed or returned something else than
    tracks; the message is one line that names it."""


def is_user_algorithm(name: str) -> bool:
    return ":" in name


def _import(location: str) -> Any:
    if not SPEC_PATTERN.fullmatch(location):
        raise UserAlgorithmError(f"algorithm '{location}': expected package.module:factory")
    module_name, attribute = location.split(":")
    if os.getcwd() not in sys.path and "" not in sys.path:
        sys.path.insert(0, os.getcwd())
    try:
        target: Any = importlib.import_module(module_name)
    except Exception as error:  # anything the user's module raises while it is imported
        raise UserAlgorithmError(f"algorithm '{location}': cannot import {module_name}: "
                                 f"{type(error).__name__}: {error}") from None
    for part in attribute.split("."):
        if not hasattr(target, part):
            raise UserAlgorithmError(f"algorithm '{location}': {module_name} has no attribute '{attribute}'")
        target = getattr(target, part)
    return target


def load(location: str) -> "UserSolver":
    """The solver that `factory()` returns, ready for the job."""
    factory = _import(location)
    if not callable(factory):
        raise UserAlgorithmError(f"algorithm '{location}': {location.split(':')[1]} is not callable")
    try:
        solver = factory()
    except Exception as error:
        raise UserAlgorithmError(f"algorithm '{location}': the factory raised {type(error).__name__}: {error}") \
            from None
    if not callable(getattr(solver, "solve", None)):
        raise UserAlgorithmError(f"algorithm '{location}': what the factory returns has no solve(event) method")
    return UserSolver(location, solver)


@dataclass
class UserSolver:
    """A user's solver behind the batch interface of the built-in ones."""
    location: str
    solver: Any

    def solve_batch(self, events: Sequence["Event"]) -> list[list["Track"]]:
        return [self.solve(event) for event in events]

    def solve(self, event: "Event") -> list["Track"]:
        try:
            result = self.solver.solve(event)
        except Exception as error:
            raise UserAlgorithmError(f"algorithm '{self.location}': solve raised {type(error).__name__}: {error}") \
                from None
        return self._tracks(event, result)

    def _tracks(self, event: "Event", result: Any) -> list["Track"]:
        """The tracks `solve` returned, as `Track` objects whose hits are hits of the event."""
        if isinstance(result, (str, bytes)) or not isinstance(result, Sequence):
            raise UserAlgorithmError(f"algorithm '{self.location}': solve returned a {type(result).__name__}, "
                                     "not a list of tracks")
        track_class = corvane.DetectorEvent.Track
        hits = event.hits
        tracks = []
        for number, item in enumerate(result):
            if isinstance(item, track_class):
                tracks.append(item)
                continue
            ids = self._hit_ids(item, number, len(hits))
            tracks.append(track_class([hits[i] for i in ids]))
        arrays = track_arrays(tracks)
        outside = (arrays.hit_ids < 0) | (arrays.hit_ids >= len(hits))
        if outside.any():
            track = int(np.searchsorted(arrays.offsets, np.flatnonzero(outside)[0], side="right")) - 1
            raise UserAlgorithmError(f"algorithm '{self.location}': track {track} holds hit id "
                                     f"{int(arrays.hit_ids[outside][0])}, not a hit of the event "
                                     f"({len(hits)} hits)")
        return tracks

    def _hit_ids(self, item: Any, number: int, hit_count: int) -> list[int]:
        if isinstance(item, np.ndarray):
            item = item.tolist()
        if (isinstance(item, (str, bytes)) or not isinstance(item, Sequence)
                or not all(isinstance(i, (int, np.integer)) and not isinstance(i, bool) for i in item)):
            raise UserAlgorithmError(f"algorithm '{self.location}': track {number} is a {type(item).__name__}, "
                                     "neither a Track nor a list of hit ids")
        ids = [int(i) for i in item]
        for i in ids:
            if not 0 <= i < hit_count:
                raise UserAlgorithmError(f"algorithm '{self.location}': track {number} holds hit id {i}, not a hit "
                                         f"of the event ({hit_count} hits)")
        return ids
