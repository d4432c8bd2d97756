"""The events a tuning trial is measured on, prepared once and reused by every trial.

A trial changes only the solver's parameters, so the `Event` objects and the
validation's view of the events are built once per sample (per process: on a
cluster each worker keeps its own copy of the samples it has seen).
"""
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any, Final

import corvane

from .conditions import Conditions, describe
from .event_dict import EventDict, plain
from .event_files import load_events
from .generator import generate_range
from .job import hit_count, validation_input
from .parameters import construct, resolve_one
from .tuning_score import Measurement

UNIT_EVENTS: Final = 16            # events per task when trials run on a cluster
_KEPT_ON_WORKER: Final = 2         # the tuning and the held-out sample


@dataclass(frozen=True)
class SampleSpec:
    """How to make a sample anywhere: a generated stretch of a seed, or event files."""
    seed: int | None = None
    count: int = 0
    paths: tuple[str, ...] = ()
    conditions: Conditions | None = None

    def describe(self, events: int) -> str:
        if self.seed is not None:
            changed = f", {describe(self.conditions)}" if self.conditions and self.conditions.changed() else ""
            return f"{events} generated events (seed {self.seed}{changed})"
        return f"{events} events from {', '.join(self.paths)}"


@dataclass
class Sample:
    source: SampleSpec
    events: list[EventDict]
    handles: list[Any] = field(default_factory=list)     # corvane Event objects
    validated: list[dict[str, Any]] = field(default_factory=list)

    def __post_init__(self) -> None:
        self.handles = [corvane.DetectorEvent.Event(plain(event)) for event in self.events]
        self.validated = validation_input(self.events)

    @property
    def hits(self) -> int:
        return sum(hit_count(event) for event in self.events)

    def describe(self) -> str:
        return self.source.describe(len(self.events))


def load_sample(source: SampleSpec) -> Sample:
    """Reads or generates the sample's events (a bad file raises EventFileError)."""
    if source.seed is not None:
        return Sample(source, generate_range(source.seed, 0, source.count, source.conditions))
    return Sample(source, load_events(source.paths, strict=True).events)


def measure_range(sample: Sample, name: str, settings: dict[str, Any], first: int = 0,
                  stop: int | None = None) -> bytes:
    """The validation records of events first..stop-1 solved with these settings, on the worker pool."""
    tracks = construct(name, resolve_one(name, settings, {})).solve_batch(sample.handles[first:stop])
    return corvane._records.measure_events(sample.validated[first:stop], tracks)


def fold_records(parts: Sequence[bytes]) -> Measurement:
    """Folds records of consecutive event ranges, in order, into one measurement."""
    fold = corvane._records.RecordFold(False, False)
    for records in parts:
        fold.add(records)
    return Measurement.from_export(fold.export())


def measure(sample: Sample, name: str, settings: dict[str, Any]) -> Measurement:
    return fold_records([measure_range(sample, name, settings)])


# ---- on cluster workers ------------------------------------------------------

_worker_samples: dict[SampleSpec, Sample] = {}


def measure_unit(source: SampleSpec, first: int, stop: int, name: str, settings: dict[str, Any]) -> bytes:
    """A cluster task: one stretch of a sample, which the worker makes once and keeps."""
    sample = _worker_samples.get(source)
    if sample is None:
        while len(_worker_samples) >= _KEPT_ON_WORKER:
            _worker_samples.pop(next(iter(_worker_samples)))
        sample = _worker_samples[source] = load_sample(source)
    if stop > len(sample.events):
        raise RuntimeError(f"{source.describe(len(sample.events))}: this worker sees fewer events than the driver")
    return measure_range(sample, name, settings, first, stop)


def measure_on_cluster(client: Any, sample: Sample, name: str, settings: dict[str, Any]) -> Measurement:
    """One trial split into stretches of the sample, run as tasks; folded in event order, so the
    measurement is the same as on the local pool."""
    count = len(sample.events)
    futures = [client.submit(measure_unit, sample.source, first, min(first + UNIT_EVENTS, count), name, settings,
                             pure=False, retries=2)
               for first in range(0, count, UNIT_EVENTS)]
    return fold_records(client.gather(futures))
