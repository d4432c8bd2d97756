"""The main job: reconstruct events with each algorithm in batches, validate, time.

The compiled module takes event dictionaries (for `Event` and the
validation) and returns tracks; this module strings those calls together.
`Event` objects hold many copies of their hits, so they are built one chunk
at a time and dropped once every algorithm has solved the chunk.
"""
import time
from collections.abc import Mapping, Sequence
from dataclasses import asdict, dataclass
from typing import Any, Final

import corvane

from .algorithms import label, pool_size
from .detector import MODULE_COUNT
from .parameters import AlgorithmSettings, construct

DEFAULT_CHUNK: Final = 16   # events per solve_batch call: keeps both threads busy, memory small


def hit_count(event: dict[str, Any]) -> int:
    return int(event["module_prefix_sum"][MODULE_COUNT])


@dataclass
class Timing:
    """Wall time spent in the solver's batch calls."""
    events: int
    hits: int
    seconds: float
    threads: int

    def rates(self) -> tuple[float, float, float]:
        """(events per second, milliseconds per event, hits per second)."""
        if self.seconds <= 0.0 or self.events == 0:
            return 0.0, 0.0, 0.0
        return self.events / self.seconds, 1000.0 * self.seconds / self.events, self.hits / self.seconds

    def line(self, label: str) -> str:
        per_second, per_event, hits_per_second = self.rates()
        return (f"{label}: {self.events} events in {self.seconds:.3f} s: {per_second:,.1f} events/s, "
                f"{per_event:.2f} ms/event, {hits_per_second:,.0f} hits/s "
                f"({self.threads} thread{'' if self.threads == 1 else 's'})")

    def as_dict(self) -> dict[str, Any]:
        per_second, per_event, hits_per_second = self.rates()
        return {**asdict(self), "events_per_second": per_second, "ms_per_event": per_event,
                "hits_per_second": hits_per_second}


@dataclass
class AlgorithmRun:
    """One algorithm's tracks for every event, and the time it took."""
    name: str
    tracks: list[list[Any]]
    timing: Timing

    @property
    def class_name(self) -> str:
        return label(self.name)


def reconstruct(events: Sequence[dict[str, Any]], names: Sequence[str], chunk_size: int = DEFAULT_CHUNK,
                progress: Any = None, settings: Mapping[str, AlgorithmSettings] | None = None) -> list[AlgorithmRun]:
    """Solves every event with every named algorithm, `chunk_size` events per batch, with the
    algorithm's `settings` where given (its defaults otherwise)."""
    if chunk_size < 1:
        raise ValueError("chunk size must be at least 1")
    solvers = [construct(name, (settings or {}).get(name)) for name in names]
    tracks: list[list[list[Any]]] = [[] for _ in names]
    seconds = [0.0 for _ in names]
    for start in range(0, len(events), chunk_size):
        chunk = [corvane.DetectorEvent.Event(event) for event in events[start:start + chunk_size]]
        for index, solver in enumerate(solvers):
            began = time.perf_counter()
            tracks[index].extend(solver.solve_batch(chunk))
            seconds[index] += time.perf_counter() - began
        if progress is not None:
            progress.update(len(chunk))
    hits = sum(hit_count(event) for event in events)
    threads = pool_size()
    return [AlgorithmRun(name, tracks[index], Timing(len(events), hits, seconds[index], threads))
            for index, name in enumerate(names)]


def validation_input(events: Sequence[dict[str, Any]]) -> list[dict[str, Any]]:
    """The events as the validation reads them: an event whose Monte Carlo record is None has no truth."""
    return [event if event.get("montecarlo") is not None else
            {key: value for key, value in event.items() if key != "montecarlo"} for event in events]


def report(events: Sequence[dict[str, Any]], runs: Sequence[AlgorithmRun], sample: str,
           skipped: Sequence[str]) -> dict[str, Any]:
    """Everything about the job, ready for json.dump."""
    validated = validation_input(events)
    return {
        "sample": sample,
        "events": len(events),
        "hits": sum(hit_count(event) for event in events),
        "skipped": list(skipped),
        "algorithms": {
            run.name: {
                "class": run.class_name,
                "timing": run.timing.as_dict(),
                "validation": corvane.Validator.export_detailed_metrics_json(validated, run.tracks, False),
            }
            for run in runs
        },
    }
