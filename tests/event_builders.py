"""Small events built by hand for the algorithm tests."""
import math

from hypothesis import strategies as st

import corvane
from corvane_tools.event_layouts import LAYOUTS, arranged, sized_event  # noqa: F401  (re-exported)

Event = corvane.DetectorEvent.Event


def layout_event(hit_count, layout, seed=0):
    """A generated event of hit_count hits, rearranged in the named layout."""
    return arranged(sized_event(hit_count, seed), layout, seed)


def event_dict(modules):
    """An event dictionary from 52 lists of (x, y, z), in stored order."""
    prefix, xs, ys, zs = [0], [], [], []
    for hits in modules:
        for x, y, z in hits:
            xs.append(x)
            ys.append(y)
            zs.append(z)
        prefix.append(len(xs))
    return {"description": "hand-made", "montecarlo": None, "module_prefix_sum": prefix, "x": xs, "y": ys, "z": zs}


def filler(m):
    """A hit far from everything else (and from the other fillers)."""
    return (100.0 * (m + 1), 100.0 * (m + 1), float(m))


def lines_event(points):
    """An Event whose module m holds the listed (x, y) points at z = m, in
    order, followed by a filler hit that no test reaches."""
    modules = [[(x, y, float(m)) for x, y in points.get(m, [])] + [filler(m)] for m in range(52)]
    return Event(event_dict(modules))


def modules_of(points_by_module, ids=None, first_number=0):
    """Modules m = 0, 1, ... at z = m over one shared hit list, from lists of
    (x, y) points; ids(position) gives each hit's id (default: its position),
    and module m is numbered first_number + m."""
    Hit, Module = corvane.DetectorEvent.Hit, corvane.DetectorEvent.Module
    hits, ranges = [], []
    for m, points in enumerate(points_by_module):
        start = len(hits)
        for x, y in points:
            hits.append(Hit(x, y, float(m), ids(len(hits)) if ids else len(hits), module=m))
        ranges.append((start, len(hits)))
    return [Module(first_number + m, float(m), s, e, hits) for m, (s, e) in enumerate(ranges)]


def reference_modules(data):
    """The modules of an event dictionary as lists of (id, x, y, z)."""
    prefix = data["module_prefix_sum"]
    return [[(i, data["x"][i], data["y"][i], data["z"][i]) for i in range(prefix[m], prefix[m + 1])]
            for m in range(52)]


def track_ids(tracks):
    return [[hit.id for hit in track.hits] for track in tracks]


def hit_ids_at(event, module_points):
    """The ids of the hits at (module, position-in-module) pairs."""
    prefix = event.module_prefix_sum
    return [prefix[m] + i for m, i in module_points]


# Coordinates on a coarse grid, so that ties and exact bounds come up often.
GRID = st.integers(-12, 12).map(lambda v: v / 8)

# The geometric parameters shared by the track finders, as keyword strategies.


@st.composite
def line_events(draw, max_lines):
    """Sparse events on a coarse grid with a few lines through them, so that
    ties, exact bounds, shared hits and competing candidates come up often."""
    lines = draw(st.lists(st.tuples(GRID, GRID, st.integers(-3, 3), st.integers(-3, 3)), max_size=max_lines))
    modules = []
    for m in range(52):
        z = float(m) + draw(st.sampled_from([0.0, 0.0, 0.0, 0.5, -1.0]))
        hits = [(x0 + sx * (m % 9) / 8, y0 + sy * (m % 9) / 8, z) for x0, y0, sx, sy in lines
                if draw(st.integers(0, 4))]
        hits += [(draw(GRID), draw(GRID), z) for _ in range(draw(st.integers(0 if hits else 1, 2)))]
        modules.append(draw(st.permutations(hits)))
    return event_dict(modules)


@st.composite
def dense_events(draw):
    """Modules large enough for the finders' indexes: several z values per
    module, clustered and repeated coordinates, the odd non-finite value."""
    odd_value = st.sampled_from([math.nan, math.inf, -math.inf, 1e308, -0.0])
    lines = draw(st.lists(st.tuples(GRID, GRID, st.integers(-3, 3)), min_size=1, max_size=12))
    modules = []
    for m in range(52):
        zs = [2.0 * m, 2.0 * m + draw(st.sampled_from([0.0, 0.25, 1.0]))]
        hits = [(x0 + s * m / 16, y0 - s * m / 16, zs[0]) for x0, y0, s in lines]
        hits += [(draw(GRID), draw(GRID), zs[i % 2]) for i in range(draw(st.integers(0, 14)))]
        if draw(st.integers(0, 20)) == 0:
            hits.append((draw(odd_value), draw(GRID), draw(st.sampled_from([zs[0], math.inf, math.nan]))))
        modules.append(draw(st.permutations(hits)))
    return event_dict(modules)


GEOMETRY = dict(
    max_slopes=st.tuples(st.sampled_from([0.25, 0.7, 2.0]), st.sampled_from([0.25, 0.7, 2.0])),
    max_tolerance=st.tuples(st.sampled_from([0.125, 0.25, 0.4]), st.sampled_from([0.125, 0.25, 0.4])),
    max_scatter=st.sampled_from([0.0, 0.05, 0.4, 10.0]),
)
