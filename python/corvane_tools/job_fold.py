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
from pathlib import Path
from typing import Any

import numpy as np

import corvane

from .algorithms import label, pool_size
from .arrays import TrackArrays
from .binned import CATEGORIES, BinnedCounts, PlotInput, Ratio
from .event_snapshots import EventSnapshots
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
    snapshots: EventSnapshots | None = None   # with the detailed export: its "events", on disk
    # With plots: binned efficiency counts, and [tracks, ghosts] summed over the validated events of each
    # hit count (what the ghost-rate plot bins, kept per distinct count rather than per event).
    efficiency: BinnedCounts = field(default_factory=dict)
    totals_by_hits: dict[int, list[int]] = field(default_factory=dict)


class JobFold:
    """Folds unit results strictly in unit order, whatever order they arrive in.

    With `detailed`, the report holds each algorithm's detailed validation export; its per-event
    statistics go to temporary files in `scratch` (the system's default without), not to memory.
    """

    def __init__(self, units: Sequence[WorkUnit], options: JobOptions, detailed: bool = True,
                 scratch: Path | None = None) -> None:
        self._planned = {unit.index: unit for unit in units}
        self._waiting: dict[int, UnitResult] = {}
        self._next = 0
        self.names = list(options.names)
        self.settings = {name: options.settings_of(name) or AlgorithmSettings.defaults(name) for name in self.names}
        self.plots = options.plots
        self.algorithms = {name: AlgorithmTotals(corvane._records.RecordFold(False, detailed), hashlib.sha256(),
                                                 snapshots=EventSnapshots(scratch) if detailed else None)
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
            if totals.snapshots is not None:
                totals.snapshots.add(totals.fold.take_events())
            if folded != result.validated or len(output.tracks) != result.events:
                raise FoldError(f"{unit.describe()}: {name} returned results for {folded} of {result.validated} "
                                f"validated and {len(output.tracks)} of {result.events} events")
            for arrays in output.tracks:
                _digest_tracks(totals.digest, arrays)
            totals.seconds += output.seconds
            if self.plots:
                add_counts(totals.efficiency, output.efficiency)
                event_totals = [pair for records in output.records for pair in corvane._records.event_totals(records)]
                for hits, (tracks, ghosts) in zip(result.hit_counts, event_totals):
                    summed = totals.totals_by_hits.setdefault(hits, [0, 0])
                    summed[0] += tracks
                    summed[1] += ghosts
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
        """The validation export, without per-event statistics."""
        metrics: dict[str, Any] = self.algorithms[name].fold.export()
        metrics.pop("events", None)
        return metrics

    def detailed_export(self, name: str) -> dict[str, Any]:
        """The detailed validation export, its per-event statistics read back into memory (the fold
        must be detailed); for a large run, `report` and `write_report` keep them on disk."""
        snapshots = self.algorithms[name].snapshots
        if snapshots is None:
            raise ValueError("this fold keeps no per-event statistics")
        return {**self.export(name), "events": snapshots.load()}

    def _validation_report(self, name: str) -> dict[str, Any]:
        snapshots = self.algorithms[name].snapshots
        return self.export(name) if snapshots is None else {**self.export(name), "events": snapshots}

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
        inputs = []
        for name in self.names:
            totals = self.algorithms[name]
            hit_counts = sorted(totals.totals_by_hits)
            inputs.append(PlotInput(label(name),
                                    {variable: {category: [Ratio(*counts) for counts in bins]
                                                for category, bins in table.items()}
                                     for variable, table in totals.efficiency.items()},
                                    hit_counts, [(totals.totals_by_hits[hits][0], totals.totals_by_hits[hits][1])
                                                 for hits in hit_counts],
                                    self.export(name)["categories"], self.settings[name].describe()))
        return inputs

    def report(self, sample: str, skipped: Sequence[str]) -> dict[str, Any]:
        """Everything about the job, ready for `report_file.write_report` (for json.dump when the fold
        is not detailed: the detailed export's per-event statistics stay in their files)."""
        return {
            "sample": sample,
            "events": self.events,
            "validated_events": self.validated,
            "hits": self.hits,
            "skipped": list(skipped),
            "algorithms": {
                name: {"class": label(name), "parameters": self.settings[name].as_report(),
                       "timing": self.timing(name).as_dict(),
                       "validation": self._validation_report(name), "summary": self.summary_report(name),
                       "tracks_digest": self.tracks_digest(name)}
                for name in self.names
            },
        }
