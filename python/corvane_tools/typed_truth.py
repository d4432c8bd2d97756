"""An event's Monte Carlo record left in the typed columns it was read from.

The job hands such records to the validation as columns (`truth_columns`),
never making the particles into Python objects; `record()` makes the usual
dictionary of rows for whatever else needs it (the plots, for instance).
"""
from collections.abc import Sequence
from typing import Any, Final

import numpy as np
import pyarrow as pa

from .event_dict import EventDict

# The columns the validation reads, as int64 (the momentum as float64).
INTEGER_FIELDS: Final = ("key", "pid", "isLong", "hasVelo", "fromBeautyDecay", "fromStrangeDecay")
MOMENTUM_FIELD: Final = "p"
HITS_FIELD: Final = "hits"


class TypedTruth:
    """One event's entry of a typed Monte Carlo column (a list of particle structs): entry `row` of
    `column`. Events of one column keep it whole, so that consecutive ones are read as one slice."""
    __slots__ = ("column", "row")

    def __init__(self, column: pa.Array, row: int = 0) -> None:
        self.column = column
        self.row = row

    @property
    def entry(self) -> pa.Array:
        """The event's entry, as a list array of length 1."""
        return self.column.slice(self.row, 1)

    def record(self) -> Any:
        from .parquet_layout import typed_montecarlo_records

        return typed_montecarlo_records(self.entry)[0]


def columns_suit(column_type: pa.DataType) -> bool:
    """Whether a typed column holds every field the validation reads, in the types it reads them in."""
    particle = column_type.value_type
    names = [field.name for field in particle]
    wanted = {**{name: pa.int64() for name in INTEGER_FIELDS}, MOMENTUM_FIELD: pa.float64(),
              HITS_FIELD: pa.list_(pa.int64())}
    return all(name in names and particle[names.index(name)].type.equals(kind) for name, kind in wanted.items())


def with_rows(event: EventDict) -> EventDict:
    """The event with its Monte Carlo record as rows."""
    truth = event.get("montecarlo")
    return {**event, "montecarlo": truth.record()} if isinstance(truth, TypedTruth) else event


def truth_columns(events: Sequence[EventDict]) -> tuple[memoryview, memoryview, memoryview, memoryview] | None:
    """The events' records as the bytes `corvane._records.measure_columns` reads (views, not copies), or
    None when some event's record is not typed (an event without truth has no particles)."""
    truths = [event["montecarlo"] for event in events]
    if not all(truth is None or isinstance(truth, TypedTruth) for truth in truths):
        return None
    present = [truth for truth in truths if truth is not None]
    hit_counts = [min(len(event["x"]), len(event["y"]), len(event["z"])) for event in events]
    sizes = np.zeros((len(events), 2), dtype="<i8")
    sizes[:, 0] = hit_counts
    if not present:
        empty = memoryview(b"")
        return sizes.data, empty, empty, empty
    records = _records_of(present)
    # Particles per record, for all records at once (an entry is never null: a missing record is None).
    sizes[[truth is not None for truth in truths], 1] = records.value_lengths().to_numpy(zero_copy_only=False)
    particles = records.flatten()
    hits = particles.field(HITS_FIELD)
    integers = np.stack([np.asarray(particles.field(name).to_numpy(zero_copy_only=False), dtype="<i8")
                         for name in INTEGER_FIELDS]
                        + [np.asarray(hits.value_lengths().to_numpy(zero_copy_only=False), dtype="<i8")], axis=1)
    momenta = np.asarray(particles.field(MOMENTUM_FIELD).to_numpy(zero_copy_only=False), dtype="<f8")
    positions = np.asarray(hits.flatten().to_numpy(zero_copy_only=False), dtype="<i8")
    return sizes.data, integers.data, momenta.data, positions.data


def _records_of(truths: Sequence[TypedTruth]) -> pa.Array:
    """The entries as one list array: a slice of their column when they are consecutive entries of one
    (as a row group's events are), without copying; else their concatenation."""
    first = truths[0]
    if all(truth.column is first.column and truth.row == first.row + k for k, truth in enumerate(truths)):
        return first.column.slice(first.row, len(truths))
    return pa.concat_arrays([truth.entry for truth in truths])
