"""Efficiencies and ghost rates in bins, computed by the compiled validator itself.

Whether a particle counts as reconstructed depends only on its own hits and
the tracks (a track whose hits come from it by more than 70%), not on the
other particles of the event. So the efficiency in a momentum bin is the
validator's efficiency on the events with their Monte Carlo record cut down
to the particles of that bin, and the plots agree with the summary by
construction.
"""
import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any, Final

import corvane
import numpy as np

from .intervals import wilson
from .job import validation_input
from .event_dict import EventDict

CATEGORIES: Final = tuple(corvane._tools.category_names())   # in report order
MOMENTUM_EDGES: Final = (100.0, 500.0, 1000.0, 2000.0, 3000.0, 5000.0, 7500.0, 10000.0, 15000.0, 25000.0, 50000.0,
                         100000.0)
ETA_EDGES: Final = tuple(float(v) for v in np.arange(-5.0, 5.51, 0.5))
PT_EDGES: Final = (0.0, 100.0, 200.0, 300.0, 400.0, 500.0, 700.0, 1000.0, 1500.0, 2000.0, 3000.0, 5000.0, 10000.0)
ORIGIN_Z_EDGES: Final = (-400.0, -200.0, -150.0, -100.0, -75.0, -50.0, -25.0, 0.0, 25.0, 50.0, 75.0, 100.0, 150.0,
                         200.0, 400.0, 800.0)
# Particle columns the efficiency is binned in ("originZ" only where the sample has it).
BINNED_VARIABLES: Final = {"p": MOMENTUM_EDGES, "eta": ETA_EDGES, "pt": PT_EDGES, "originZ": ORIGIN_Z_EDGES}
# Per binned variable and category, (reconstructed, particles) in each bin: sums over events.
BinnedCounts = dict[str, dict[str, list[tuple[int, int]]]]


@dataclass
class Ratio:
    """k successes out of n trials, with a binomial error and a 68% Wilson interval."""
    passed: int
    total: int

    @property
    def value(self) -> float:
        return self.passed / self.total if self.total else math.nan

    @property
    def error(self) -> float:
        if not self.total:
            return math.nan
        value = self.value
        return math.sqrt(value * (1.0 - value) / self.total)

    @property
    def interval(self) -> tuple[float, float]:
        return wilson(self.passed, self.total)


@dataclass
class PlotInput:
    """What the plots show of one algorithm's run. Everything here adds up over
    events, so it can be gathered from separately processed parts of a job."""
    class_name: str
    efficiency: dict[str, dict[str, list[Ratio]]]  # per variable ("p", "eta") and category, per bin
    hit_counts: list[int]                          # per event, or each distinct count once
    event_totals: list[tuple[int, int]]            # (tracks, ghosts) of each entry of hit_counts: of the
                                                   # event, or summed over the events of that count
    categories: list[dict[str, Any]]               # the validation export's category dictionaries
    parameters: str = ""                           # the algorithm's parameters, as the header shows them


def _column(record: dict[str, Any], name: str) -> int | None:
    positions = {column: position for position, column in enumerate(record["description"])}
    return positions.get(name)


def _number(row: list[Any], position: int | None) -> float | None:
    if position is None or position >= len(row):
        return None
    value = row[position]
    return float(value) if isinstance(value, (int, float)) and not isinstance(value, bool) else None


def _keep_particles(event: dict[str, Any], keep: Callable[[float], bool], variable: str) -> dict[str, Any]:
    record = event.get("montecarlo")
    if record is None:
        return event
    position = _column(record, variable)
    rows = [row for row in record["particles"] if (value := _number(row, position)) is not None and keep(value)]
    return {**event, "montecarlo": {"description": record["description"], "particles": rows}}


def _within(low: float, high: float) -> Callable[[float], bool]:
    return lambda value: low <= value < high


def efficiency_in_bins(events: Sequence[EventDict], tracks: Sequence[list[Any]], variable: str,
                       edges: Sequence[float]) -> dict[str, list[Ratio]]:
    """Per category, the reconstructed fraction of its particles with `variable` in each bin [lo, hi)."""
    table: dict[str, list[Ratio]] = {name: [] for name in CATEGORIES}
    validated = validation_input(events)
    for low, high in zip(edges[:-1], edges[1:]):
        cut = [_keep_particles(event, _within(low, high), variable) for event in validated]
        found = {c["label"]: c for c in corvane.Validator.export_validation_to_json(cut, list(tracks), False)
                 ["categories"]}
        for name in CATEGORIES:
            stats = found.get(name)
            table[name].append(Ratio(stats["n_recon_particles"], stats["n_particles"]) if stats else Ratio(0, 0))
    return table


def edges_for_counts(counts: Sequence[int], bins: int = 6) -> list[float]:
    """Bin edges spanning the given hit counts, rounded to hundreds."""
    low, high = math.floor(min(counts) / 100) * 100, math.ceil((max(counts) + 1) / 100) * 100
    step = max(100, math.ceil((high - low) / bins / 100) * 100)
    return [float(low + step * i) for i in range(math.ceil((high - low) / step) + 1)]


def ghost_rates(hit_counts: Sequence[int], event_totals: Sequence[tuple[int, int]],
                edges: Sequence[float]) -> list[Ratio]:
    """Ghost tracks out of all tracks per bin of hit count, from each event's (tracks, ghosts):
    the same as validating each bin's events together, since both totals add up over events."""
    rates = []
    for low, high in zip(edges[:-1], edges[1:]):
        chosen = [totals for count, totals in zip(hit_counts, event_totals) if low <= count < high]
        rates.append(Ratio(sum(ghosts for _, ghosts in chosen), sum(tracks for tracks, _ in chosen)))
    return rates
