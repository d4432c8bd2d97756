"""Generated events of a chosen size, and the same hits in other layouts.

The finders must give the same tracks, and should cost about the same, however
an event's hits are arranged within its modules. These helpers make events of
a given hit count from the generator's sample and rearrange them:

- "generated": as the generator makes them (hits of a module in the order the
  particles were simulated, on the module's several sensor planes);
- "shuffled": each module's hits in a random order;
- "interleaved": each module's hits taking its z planes in turn, so that no
  two neighbouring hits share a z while another plane still has hits;
- "uniform": as many hits per module, uniformly spread over the sensor square
  on the module's own z planes, with no tracks at all.

Every event is a pure function of its arguments. Monte Carlo truth is not
kept ("montecarlo" is None): merged and thinned events have no consistent one.
`reordered` rearranges a whole event instead ("shuffled" or "interleaved"),
its truth following its hits.
"""
from collections.abc import Callable
from functools import lru_cache
from typing import Any, Final

import numpy as np

from .detector import MODULE_COUNT, OUTER_HALF_WIDTH, FloatArray, IntArray
from .event_dict import EventDict
from .generator import iter_events

Columns = tuple[IntArray, FloatArray, FloatArray, FloatArray]  # module, x, y, z of each hit

LAYOUTS: Final = ("generated", "shuffled", "interleaved", "uniform")

# Events are drawn from the sample in groups of this many while merging.
_DRAW: Final = 10


def _columns(event: EventDict) -> Columns:
    """Module, x, y, z of every hit, in stored order."""
    prefix = np.asarray(event["module_prefix_sum"][:MODULE_COUNT + 1], dtype=np.int64)
    module = np.repeat(np.arange(MODULE_COUNT, dtype=np.int64), np.diff(prefix))
    hits = int(prefix[-1])
    return (module, np.asarray(event["x"][:hits], dtype=np.float64), np.asarray(event["y"][:hits], dtype=np.float64),
            np.asarray(event["z"][:hits], dtype=np.float64))


def _event(module: IntArray, x: FloatArray, y: FloatArray, z: FloatArray, description: str) -> EventDict:
    """An event dictionary from hits already grouped by module."""
    prefix = np.concatenate([[0], np.cumsum(np.bincount(module, minlength=MODULE_COUNT))])
    return {"description": description, "montecarlo": None, "module_prefix_sum": [int(v) for v in prefix],
            "x": x.tolist(), "y": y.tolist(), "z": z.tolist()}


@lru_cache(maxsize=16)
def _drawn(seed: int, first: int) -> tuple[Columns, ...]:
    """Columns of the sample's events first to first + _DRAW - 1 (kept: the
    benchmarks draw many sizes from a few samples; nobody writes to them)."""
    return tuple(_columns(event) for event in iter_events(_DRAW, seed, first))


def sized_event(hit_count: int, seed: int = 0) -> EventDict:
    """An event of exactly `hit_count` hits (at least one per module).

    Consecutive events of the generator's sample with this seed are merged
    module by module (each module's hits event after event) while they fit
    whole; the next event then gives the hits still missing from its highest
    modules down, so that its tracks are cut short rather than riddled with
    holes (plus its first hit on any module still empty).
    """
    if hit_count < MODULE_COUNT:
        raise ValueError(f"an event needs at least {MODULE_COUNT} hits, not {hit_count}")
    parts: list[Columns] = []
    total, first = 0, 0
    while total < hit_count:
        for columns in _drawn(seed, first):
            if total + columns[0].size <= hit_count:
                parts.append(columns)
                total += columns[0].size
                continue
            parts.append(_top_down(columns, hit_count - total, covered=bool(parts)))
            total = hit_count
            break
        first += _DRAW
    module, x, y, z = (np.concatenate([part[c] for part in parts]) for c in range(4))
    order = np.argsort(module, kind="stable")
    return _event(module[order], x[order], y[order], z[order], f"{hit_count} hits, sample seed {seed}")


def _top_down(columns: Columns, count: int, covered: bool) -> Columns:
    """`count` hits of one event: unless `covered`, its first hit on every
    module; then hits from its highest module down, in stored order."""
    module = columns[0]
    keep = np.zeros(module.size, dtype=bool)
    if not covered:
        keep[np.searchsorted(module, np.arange(MODULE_COUNT))] = True
    rest = np.flatnonzero(~keep)
    by_module = rest[np.argsort(-module[rest], kind="stable")]
    keep[by_module[:count - int(keep.sum())]] = True
    kept: Columns = (module[keep], columns[1][keep], columns[2][keep], columns[3][keep])
    return kept


def _module_order(module: IntArray, key: Callable[[slice], IntArray]) -> IntArray:
    """Stored positions, module by module, each module's hits ordered by `key`
    (positions within the module, given the module's slice)."""
    bounds = np.concatenate([[0], np.cumsum(np.bincount(module, minlength=MODULE_COUNT))])
    return np.concatenate([bounds[m] + key(slice(int(bounds[m]), int(bounds[m + 1]))) for m in range(MODULE_COUNT)])


def _round_robin(z: FloatArray) -> IntArray:
    """Positions that take the distinct values of z in turn (each value's
    hits in stored order)."""
    _, plane = np.unique(z, return_inverse=True)
    by_plane = np.argsort(plane, kind="stable")
    starts = np.searchsorted(plane[by_plane], plane[by_plane])
    rank = np.empty(z.size, dtype=np.int64)
    rank[by_plane] = np.arange(z.size) - starts
    order: IntArray = np.lexsort((plane, rank))
    return order


def arranged(event: EventDict, layout: str, seed: int = 0) -> EventDict:
    """The event's hits in another layout (see the module's docstring); the
    module boundaries stay as they are."""
    if layout not in LAYOUTS:
        raise ValueError(f"unknown layout {layout!r}; choose from {', '.join(LAYOUTS)}")
    module, x, y, z = _columns(event)
    rng = np.random.default_rng([seed, LAYOUTS.index(layout)])
    description = f"{event['description']}, {layout}"
    if layout == "generated":
        return _event(module, x, y, z, description)
    if layout == "shuffled":
        order = _module_order(module, lambda s: rng.permutation(s.stop - s.start))
        return _event(module[order], x[order], y[order], z[order], description)
    if layout == "interleaved":
        order = _module_order(module, lambda s: _round_robin(z[s]))
        return _event(module[order], x[order], y[order], z[order], description)
    bounds = np.concatenate([[0], np.cumsum(np.bincount(module, minlength=MODULE_COUNT))])
    planes = np.concatenate([rng.choice(np.unique(z[bounds[m]:bounds[m + 1]]), int(bounds[m + 1] - bounds[m]))
                             for m in range(MODULE_COUNT)])
    square = rng.uniform(-OUTER_HALF_WIDTH, OUTER_HALF_WIDTH, (2, module.size))
    return _event(module, square[0], square[1], planes, description)


def layout_events(hit_count: int, seeds: range | list[int]) -> dict[str, list[EventDict]]:
    """For each layout, the events of the given hit count and seeds in it."""
    base = [sized_event(hit_count, seed) for seed in seeds]
    return {layout: [arranged(event, layout, seed) for seed, event in zip(seeds, base)] for layout in LAYOUTS}


REORDERINGS: Final = ("shuffled", "interleaved")


def reordered(event: EventDict, layout: str, seed: int = 0) -> EventDict:
    """The same event with each module's hits in the order of `layout` ("shuffled" or "interleaved"): the
    hits keep their coordinates (and times) and the module boundaries stay, and the Monte Carlo record
    (as rows) names each particle's hits by their new positions, so every particle keeps its hits."""
    if layout not in REORDERINGS:
        raise ValueError(f"unknown reordering {layout!r}; choose from {', '.join(REORDERINGS)}")
    module, _x, _y, z = _columns(event)
    rng = np.random.default_rng([seed, LAYOUTS.index(layout)])
    order = _module_order(module, (lambda s: rng.permutation(s.stop - s.start)) if layout == "shuffled"
                          else (lambda s: _round_robin(z[s])))
    moved: dict[str, Any] = dict(event)
    for key in ("x", "y", "z", "t"):
        if key in moved:
            values = np.asarray(moved[key], dtype=np.float64)
            moved[key] = np.concatenate([values[order], values[order.size:]])  # entries beyond the hits stay
    truth = event["montecarlo"]
    if truth is not None:
        position = np.empty(order.size, dtype=np.int64)
        position[order] = np.arange(order.size)
        hits = truth["description"].index("hits")
        moved["montecarlo"] = {**truth, "particles": [
            [*row[:hits], position[np.asarray(row[hits], dtype=np.int64)].tolist(), *row[hits + 1:]]
            for row in truth["particles"]]}
    return moved  # type: ignore[return-value]
