"""Where the tuner looks: the range of every constructor parameter of each algorithm.

Ranges are wide enough to hold the defaults and the settings that work on
realistic events, and narrow enough that no trial turns an event into hours
of work (the graph search grows fast with its windows and tolerances).
"""
from dataclasses import dataclass
from typing import Any, Final, Literal

import optuna

Kind = Literal["float", "pair", "count", "bool"]


@dataclass(frozen=True)
class Dimension:
    """One constructor parameter as the tuner varies it (a pair is varied per axis)."""
    parameter: str
    kind: Kind
    low: float = 0.0
    high: float = 1.0
    log: bool = False


def _slopes() -> Dimension:
    return Dimension("max_slopes", "pair", 0.1, 1.5)


def _tolerance() -> Dimension:
    return Dimension("max_tolerance", "pair", 0.02, 1.0, log=True)


def _scatter(low: float, high: float) -> Dimension:
    return Dimension("max_scatter", "float", low, high, log=True)


# The scatter of TrackFollowing and GraphDFS is a squared distance over a squared z step, about 1e-5 for
# a hit 0.1 mm off the line 25 mm further on, so their useful bounds reach far below the default 0.4;
# the triplet trie's is a squared distance in mm^2.
SEARCH_SPACE: Final[dict[str, tuple[Dimension, ...]]] = {
    "track_following": (
        _slopes(), _tolerance(), _scatter(1e-6, 2.0),
        Dimension("min_track_length", "count", 2, 5),
        Dimension("min_strong_track_length", "count", 3, 6),
    ),
    "search_by_triplet_trie": (
        _scatter(0.001, 1.0),
        Dimension("min_strong_track_length", "count", 3, 6),
        Dimension("allowed_missed_modules", "count", 0, 4),
    ),
    "graph_dfs": (
        _slopes(), _tolerance(), _scatter(1e-6, 2.0),
        Dimension("minimum_root_weight", "count", 0, 4),
        Dimension("weight_assignment_iterations", "count", 1, 5),
        Dimension("allowed_skip_modules", "count", 0, 2),
        Dimension("allow_cross_track", "bool"),
        Dimension("clone_ghost_killing", "bool"),
    ),
}

AXES: Final = ("x", "y")


def suggest(trial: optuna.Trial, name: str) -> dict[str, Any]:
    """The constructor keyword arguments of one trial of algorithm `name`."""
    settings: dict[str, Any] = {}
    for dim in SEARCH_SPACE[name]:
        if dim.kind == "pair":
            settings[dim.parameter] = tuple(trial.suggest_float(f"{dim.parameter}.{axis}", dim.low, dim.high,
                                                                log=dim.log) for axis in AXES)
        elif dim.kind == "float":
            settings[dim.parameter] = trial.suggest_float(dim.parameter, dim.low, dim.high, log=dim.log)
        elif dim.kind == "count":
            settings[dim.parameter] = trial.suggest_int(dim.parameter, int(dim.low), int(dim.high))
        else:
            settings[dim.parameter] = trial.suggest_categorical(dim.parameter, [True, False])
    return settings


def flatten(name: str, settings: dict[str, Any]) -> dict[str, Any]:
    """Settings as the tuner's parameter names see them (a pair becomes its two axes), for
    enqueueing a known point such as the defaults."""
    flat: dict[str, Any] = {}
    for dim in SEARCH_SPACE[name]:
        value = settings[dim.parameter]
        if dim.kind == "pair":
            flat.update({f"{dim.parameter}.{axis}": float(v) for axis, v in zip(AXES, value)})
        else:
            flat[dim.parameter] = value
    return flat
