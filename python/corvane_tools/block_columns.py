"""A simulated block of events held as columns: NumPy arrays for the hits and the Monte Carlo record, one
string per event for its description.

This is what the generator makes. Event dictionaries (`generator.block_events`) and Arrow tables
(`parquet_layout.block_table`) are both made from it, so they hold the same values; the tables need no
Python object per hit or particle.
"""
from dataclasses import dataclass
from typing import Any

import numpy as np

from .detector import FloatArray, IntArray

# Row order of `MonteCarloColumns.integers` and `.reals`; the record's columns interleave them (see
# montecarlo_record.MC_COLUMNS).
INTEGER_COLUMNS = ("key", "pid", "charge", "isLong", "isDown", "hasVelo", "hasUT", "hasScifi", "fromBeautyDecay",
                   "fromCharmDecay", "fromStrangeDecay")
REAL_COLUMNS = ("p", "pt", "eta", "phi", "originZ")


def _freeze(*arrays: np.ndarray[Any, Any]) -> None:
    """Blocks are kept and handed out again (see generator.simulated_block), so nobody may change them."""
    for array in arrays:
        array.flags.writeable = False


@dataclass(frozen=True)
class MonteCarloColumns:
    """The particles listed in the Monte Carlo records of consecutive events, event after event.

    Particle k's hits (positions within its event) are hit_ids[hit_start[k]:hit_end[k]]; these stretches
    are not in particle order."""
    integers: IntArray     # (len(INTEGER_COLUMNS), particles)
    reals: FloatArray      # (len(REAL_COLUMNS), particles)
    hit_ids: IntArray
    hit_start: IntArray
    hit_end: IntArray
    per_event: IntArray    # particles listed per event

    def __post_init__(self) -> None:
        _freeze(self.integers, self.reals, self.hit_ids, self.hit_start, self.hit_end, self.per_event)

    def hits_in_order(self, first: int, stop: int) -> tuple[IntArray, IntArray]:
        """The hits of particles first to stop - 1, particle after particle, and where each particle's begin
        (stop - first + 1 offsets from 0)."""
        start, end = self.hit_start[first:stop], self.hit_end[first:stop]
        lengths = end - start
        offsets = np.zeros(lengths.size + 1, np.int64)
        np.cumsum(lengths, out=offsets[1:])
        gather = np.arange(offsets[-1], dtype=np.int64) + np.repeat(start - offsets[:-1], lengths)
        hits: IntArray = self.hit_ids[gather]
        return hits, offsets


@dataclass(frozen=True)
class BlockColumns:
    """Consecutive events: their hits ordered by event and module, and their truth."""
    first: int                      # the index of the first event in its sample
    descriptions: list[str]
    per_module: IntArray            # (events, 52) hits per module
    x: FloatArray
    y: FloatArray
    z: FloatArray
    montecarlo: MonteCarloColumns

    def __post_init__(self) -> None:
        _freeze(self.per_module, self.x, self.y, self.z)

    def __len__(self) -> int:
        return len(self.descriptions)

    @property
    def hit_offsets(self) -> IntArray:
        """Where each event's hits begin in x, y and z, and the end (len(self) + 1 entries)."""
        offsets = np.zeros(len(self) + 1, np.int64)
        np.cumsum(self.per_module.sum(axis=1), out=offsets[1:])
        return offsets

    @property
    def prefix_sums(self) -> IntArray:
        """Each event's module boundaries: (events, 53), starting at 0."""
        sums = np.zeros((len(self), self.per_module.shape[1] + 1), np.int64)
        np.cumsum(self.per_module, axis=1, out=sums[:, 1:])
        return sums
