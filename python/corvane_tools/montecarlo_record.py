"""The Monte Carlo record of generated events: which particles are listed, their hits and their flags."""
from typing import Any, Final

import numpy as np

from . import compiled_generator
from .block_columns import MonteCarloColumns
from .detector import BoolArray, FloatArray, IntArray
from .particles import Particles

# The validator reads the first sixteen; "originZ" (the z of the production point, mm) is for the
# efficiency plots, which draw it only where a sample has it.
MC_COLUMNS: Final = ("key", "pid", "p", "pt", "eta", "phi", "charge", "hits", "isLong", "isDown", "hasVelo",
                     "hasUT", "hasScifi", "fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay", "originZ")


def _truth_flags(particles: Particles, eta: FloatArray, hit_count: IntArray) -> dict[str, BoolArray]:
    """Reconstructibility flags. Downstream acceptance is modelled by pseudorapidity and momentum."""
    downstream = (eta > 2.0) & (eta < 4.9)
    oz = particles.origin[:, 2]
    has_velo = hit_count >= 3
    has_ut = downstream & (particles.p > 600.0) & (oz < 2300.0)
    has_scifi = downstream & (particles.p > 1500.0) & (oz < 7500.0)
    return {"isLong": has_velo & has_scifi, "isDown": has_ut & has_scifi & ~has_velo, "hasVelo": has_velo,
            "hasUT": has_ut, "hasScifi": has_scifi}


def _pseudorapidity(direction: FloatArray) -> FloatArray:
    eta: FloatArray = np.arctanh(np.clip(direction[:, 2], -1.0 + 1e-15, 1.0 - 1e-15))
    return eta


def stable_order(values: IntArray) -> IntArray:
    """Indices that sort small integers stably (16-bit keys sort in linear time)."""
    if values.size and -2 ** 15 <= values.min() and values.max() < 2 ** 15:
        values = values.astype(np.int16)
    order: IntArray = np.argsort(values, kind="stable")
    return order


def runs(counts: IntArray) -> list[slice]:
    """Consecutive slices of the given lengths."""
    ends = np.cumsum(counts).tolist()
    return [slice(end - count, end) for end, count in zip(ends, counts.tolist())]


def montecarlo_columns(particles: Particles, particle_event: IntArray, owner: IntArray, hit_id: IntArray,
                       events: int) -> MonteCarloColumns:
    """The Monte Carlo records of every event as columns: particles with hits (or downstream tracks), numbered
    per event.

    `owner` is the particle of each hit (-1 for noise), `hit_id` its id within its event.
    """
    by_particle = stable_order(owner)[np.count_nonzero(owner < 0):]
    counts = np.bincount(owner[owner >= 0], minlength=len(particles))
    ends = np.cumsum(counts)
    eta = _pseudorapidity(particles.direction)
    flags = _truth_flags(particles, eta, counts)
    kept = np.flatnonzero((counts > 0) | flags["isDown"])
    kept = kept[stable_order(particle_event[kept])]  # by event, in production order within one
    per_event = np.bincount(particle_event[kept], minlength=events)
    d = particles.direction[kept]
    p = particles.p[kept]
    key = np.arange(kept.size) - np.repeat(np.cumsum(per_event) - per_event, per_event)
    flag_columns = [*(flags[name][kept] for name in ("isLong", "isDown", "hasVelo", "hasUT", "hasScifi")),
                    *(getattr(particles, name)[kept] for name in ("from_beauty", "from_charm", "from_strange"))]
    integers = np.stack([key, particles.pid[kept], particles.charge[kept], *flag_columns], dtype=np.int64)
    reals = np.stack([p, p * np.hypot(d[:, 0], d[:, 1]), eta[kept], np.arctan2(d[:, 1], d[:, 0]),
                      particles.origin[kept, 2]])
    return MonteCarloColumns(integers, reals, hit_id[by_particle], ends[kept] - counts[kept], ends[kept],
                             per_event)


def montecarlo_rows_of(columns: MonteCarloColumns) -> list[list[list[Any]]]:
    """The rows of each event's record, in the order of MC_COLUMNS."""
    compiled = compiled_generator.module
    if compiled is not None:
        rows_by_event: list[list[list[Any]]] = compiled.montecarlo_rows(
            columns.integers.reshape(-1), columns.reals.reshape(-1), columns.hit_ids, columns.hit_start,
            columns.hit_end, columns.per_event)
        return rows_by_event
    integers = columns.integers.tolist()
    reals = columns.reals.tolist()
    hit_ids = columns.hit_ids.tolist()
    by_column: list[list[Any]] = [
        integers[0], integers[1], *reals[:4], integers[2],
        [hit_ids[start:end] for start, end in zip(columns.hit_start.tolist(), columns.hit_end.tolist())],
        *integers[3:], reals[4],
    ]
    rows = list(map(list, zip(*by_column)))
    return [rows[run] for run in runs(columns.per_event)]


def montecarlo_rows(particles: Particles, particle_event: IntArray, owner: IntArray, hit_id: IntArray,
                    events: int) -> list[list[list[Any]]]:
    """The Monte Carlo rows of every event (see montecarlo_columns)."""
    return montecarlo_rows_of(montecarlo_columns(particles, particle_event, owner, hit_id, events))
