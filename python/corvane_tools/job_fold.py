"""Unit results folded back into one job, strictly in unit order.

Results may arrive in any order (a cluster finishes units as it likes); the
fold keeps each until every earlier unit is in, then adds its validation
records, tracks and counts. So a run split over many processes reports
exactly, byte for byte, what one process reports, and a unit missing,
repeated or short of events is an error, never a silent difference.
"""
import hashlib
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

import corvane

from .algorithms import label, pool_size
from .arrays import TrackArrays
from .binned import CATEGORIES, BinnedCounts, PlotInput, Ratio
from .job import Timing
from .summary_table import table_report
from .parameters import AlgorithmSettings
from .user_algorithms import is_user_algorithm
from .work_units import AlgorithmOutput, JobOptions, UnitResult, WorkUnit, add_counts


def _digest_tracks(digest: "hashlib._Hash", arrays: TrackArrays) -> None:
    """Adds one event's tracks (hit ids, boundaries and flags) to a running digest."""
    digest.update(np.int64(len(arrays)).tobytes())
    for column, dtype in ((arrays.offsets, "<i8"), (arrays.hit_ids, "<i4"), (arrays.missed_last_module, "u1"),
                          (arrays.missed_penultimate_module, "u1")):
        digest.update(np.ascontiguousarray(column, dtype=dtype).tobytes())


class FoldError(RuntimeError):
    """Results that do not add up: a unit missing, repeated, or with records for the wrong events."""


@dataclass
class AlgorithmTotals:
    fold: "corvane._records.RecordFold"
    digest: "hashlib._Hash"        # over the tracks, in event order
    seconds: float = 0.0
    # With plots: binned efficiency counts, and per event (tracks, ghosts).
    efficiency: BinnedCounts = field(default_factory=dict)
    event_totals: list[tuple[int, int]] = field(default_factory=list)


class JobFold:
    """Folds unit results strictly in unit order, whatever order they arrive in."""

    def __init__(self, units: Sequence[WorkUnit], options: JobOptions, detailed: bool = True) -> None:
        self._planned = {unit.index: unit for unit in units}
        self._waiting: dict[int, UnitResult] = {}
        self._next = 0
        self.names = list(options.names)
        self.settings = {name: options.settings_of(name) or AlgorithmSettings.defaults(name) for name in self.names}
        self.plots = options.plots
        self.hit_counts: list[int] = []  # per validated event, with plots
        self.algorithms = {name: AlgorithmTotals(corvane._records.RecordFold(False, detailed), hashlib.sha256())
                           for name in self.names}
        self.events = 0
        self.validated = 0            # events with Monte Carlo truth, the only ones validated
        self.hits = 0
        self.skipped = 0
        self.problems: list[str] = []
        self.threads = pool_size()    # solver threads the units ran on
        self.task_threads = 1         # units solved at once (a user's algorithm solves one event at a time)
        self.wall_seconds = 0.0       # from the first unit sent to the last result folded
        # Called with each result as it is folded, in unit order, after the events folded before it.
        self.sinks: list[Callable[[int, UnitResult], None]] = []

    def accept(self, result: UnitResult) -> None:
        if result.index not in self._planned or result.index < self._next or result.index in self._waiting:
            raise FoldError(f"unexpected result for unit {result.index}")
        self._waiting[result.index] = result
        while self._next in self._waiting:
            self._fold(self._waiting.pop(self._next))
            self._next += 1

    def _fold(self, result: UnitResult) -> None:
        unit = self._planned[result.index]
        if result.events + result.skipped != unit.events:
            raise FoldError(f"{unit.describe()}: {result.events} events processed, {unit.events} planned")
        for name in self.names:
            output = result.outputs.get(name, AlgorithmOutput([], [], 0.0))
            totals = self.algorithms[name]
            folded = sum(totals.fold.add(records) for records in output.records)
            if folded != result.validated or len(output.tracks) != result.events:
                raise FoldError(f"{unit.describe()}: {name} returned results for {folded} of {result.validated} "
                                f"validated and {len(output.tracks)} of {result.events} events")
            for arrays in output.tracks:
                _digest_tracks(totals.digest, arrays)
            totals.seconds += output.seconds
            if self.plots:
                add_counts(totals.efficiency, output.efficiency)
                for records in output.records:
                    totals.event_totals.extend(corvane._records.event_totals(records))
        if self.plots:
            self.hit_counts.extend(result.hit_counts)
        for sink in self.sinks:
            sink(self.events, result)
        self.events += result.events
        self.validated += result.validated
        self.hits += result.hits
        self.skipped += result.skipped
        self.problems.extend(result.problems)

    def check_complete(self) -> None:
        if self._next != len(self._planned):
            missing = sorted(set(self._planned) - set(range(self._next)) - set(self._waiting))
            raise FoldError(f"no result for units {missing[:10]}")

    # ---- what the job reports ----

    def summary(self, name: str) -> str:
        """The validation summary text, as the Validator prints it for the same events and tracks."""
        text: str = self.algorithms[name].fold.summary()
        return text

    def export(self, name: str) -> dict[str, Any]:
        """The validation export (the detailed one when the fold keeps per-event statistics)."""
        metrics: dict[str, Any] = self.algorithms[name].fold.export()
        return metrics

    def summary_report(self, name: str) -> dict[str, Any] | None:
        """The job's summary table and the validator's text, or None when no event had truth."""
        if not self.validated:
            return None
        return {"table": table_report(self.export(name), CATEGORIES), "text": self.summary(name)}

    def tracks_digest(self, name: str) -> str:
        """SHA-256 of every event's tracks (hit ids and flags), in event order."""
        return self.algorithms[name].digest.hexdigest()

    def label(self, name: str) -> str:
        """How the algorithm is called in the summaries: its class name."""
        return label(name)

    def timing(self, name: str) -> Timing:
        threads = self.task_threads if is_user_algorithm(name) else self.threads
        return Timing(self.events, self.hits, self.algorithms[name].seconds, threads)

    def plot_inputs(self) -> list[PlotInput]:
        """What the plots show of each algorithm (the job must have counted it: JobOptions.plots)."""
        return [PlotInput(label(name),
                          {variable: {category: [Ratio(*counts) for counts in bins] for category, bins in table.items()}
                           for variable, table in self.algorithms[name].efficiency.items()},
                          self.hit_counts, self.algorithms[name].event_totals, self.export(name)["categories"],
                          self.settings[name].describe())
                for name in self.names]

    def report(self, sample: str, skipped: Sequence[str]) -> dict[str, Any]:
        """Everything about the job, ready for json.dump."""
        return {
            "sample": sample,
            "events": self.events,
            "validated_events": self.validated,
            "hits": self.hits,
            "skipped": list(skipped),
            "algorithms": {
                name: {"class": label(name), "parameters": self.settings[name].as_report(),
                       "timing": self.timing(name).as_dict(),
                       "validation": self.export(name), "summary": self.summary_report(name),
                       "tracks_digest": self.tracks_digest(name)}
                for name in self.names
            },
        }
