import math
import random
import time

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import corvane
import reference_graph_dfs as reference
from event_builders import (GEOMETRY, GRID, LAYOUTS, Event, event_dict, hit_ids_at, layout_event, lines_event, sized_event,
                            track_ids)

GraphDFS = corvane.ReconstructionAlgorithms.GraphDFS
Hit = corvane.DetectorEvent.Hit
native_reference = corvane._reference


# ---- the Python surface ----------------------------------------------------

def test_class_surface():
    assert corvane.ReconstructionAlgorithms.__all__[:2] == ["TrackFollowing", "GraphDFS"]
    assert GraphDFS.__module__ == "builtins"
    assert GraphDFS.__text_signature__ == (
        "(cls, max_slopes=None, max_tolerance=None, max_scatter=None, minimum_root_weight=None, "
        "weight_assignment_iterations=None, allowed_skip_modules=None, allow_cross_track=None, "
        "clone_ghost_killing=None)")
    assert GraphDFS.solve.__text_signature__ == "($self, event)"
    assert GraphDFS.solve.__doc__ == "Solves the event using the DFS strategy and returns a list of Tracks."
    assert GraphDFS.solve_batch.__text_signature__ == "($self, events)"
    assert [n for n in dir(GraphDFS()) if not n.startswith("__")] == ["solve", "solve_batch"]


@pytest.mark.parametrize("kwargs, error, message", [
    ({"max_slopes": [0.7, 0.7]}, TypeError, "argument 'max_slopes': 'list' object cannot be converted to 'PyTuple'"),
    ({"max_tolerance": (0.4, 0.4, 0.4)}, ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ({"max_scatter": None, "max_slopes": ("a", 1)}, TypeError, "argument 'max_slopes': must be real number, not str"),
    ({"minimum_root_weight": 2 ** 31}, OverflowError, "out of range integral type conversion attempted"),
    ({"allowed_skip_modules": -2 ** 31 - 1}, OverflowError, "out of range integral type conversion attempted"),
    ({"weight_assignment_iterations": 2.0}, TypeError,
     "argument 'weight_assignment_iterations': 'float' object cannot be interpreted as an integer"),
    ({"allow_cross_track": 1}, TypeError, "argument 'allow_cross_track': 'int' object cannot be converted to 'PyBool'"),
    ({"clone_ghost_killing": "yes"}, TypeError,
     "argument 'clone_ghost_killing': 'str' object cannot be converted to 'PyBool'"),
    ({"allow_cross": True}, TypeError, "GraphDFS.__new__() got an unexpected keyword argument 'allow_cross'"),
])
def test_constructor_errors(kwargs, error, message):
    with pytest.raises(error) as raised:
        GraphDFS(**kwargs)
    assert str(raised.value) == message


def test_constructor_limits_and_defaults():
    with pytest.raises(TypeError, match=r"^GraphDFS.__new__\(\) takes from 0 to 8 positional arguments but 9 were given$"):
        GraphDFS(*[None] * 9)
    with pytest.raises(TypeError, match=r"^argument 'event': 'list' object cannot be converted to 'Event'$"):
        GraphDFS().solve([])
    GraphDFS(minimum_root_weight=-2 ** 31, weight_assignment_iterations=-5, allowed_skip_modules=2 ** 31 - 1)
    event = Event(sized_event(1000, seed=4))
    explicit = GraphDFS((0.7, 0.7), (0.4, 0.4), 0.4, 1, 2, 1, True, True)
    assert track_ids(GraphDFS().solve(event)) == track_ids(explicit.solve(event))
    assert track_ids(GraphDFS(*[None] * 8).solve(event)) == track_ids(explicit.solve(event))


# ---- hand-made events ---------------------------------------------------------

def modules_of(event, track):
    return [hit.module_number for hit in track.hits]


@pytest.mark.parametrize("kwargs, allowed_steps", [
    ({"allow_cross_track": False}, {2, 4}),
    ({"allow_cross_track": False, "allowed_skip_modules": 0}, {2}),
    ({"allowed_skip_modules": 0}, {1}),
    ({}, {1, 2}),
    ({"allowed_skip_modules": 3}, {1, 2, 3, 4}),
])
def test_modules_joined(kwargs, allowed_steps):
    event = Event(sized_event(1500, seed=7))
    tracks = GraphDFS(**kwargs).solve(event)
    steps = {a.module_number - b.module_number for t in tracks for a, b in zip(t.hits, t.hits[1:])}
    assert tracks and steps <= allowed_steps
    assert not any(t.missed_last_module or t.missed_penultimate_module for t in tracks)


@pytest.mark.parametrize("kwargs", [{"allowed_skip_modules": -1}, {"weight_assignment_iterations": 0},
                                    {"weight_assignment_iterations": -3}, {"minimum_root_weight": 52}])
def test_settings_that_find_nothing(kwargs):
    assert GraphDFS(**kwargs).solve(Event(sized_event(800, seed=2))) == []


@pytest.mark.parametrize("count", [0, 1, 2])
def test_fewer_than_three_modules(count):
    hits = [Hit(0.0, 0.0, float(m), m) for m in range(count)]
    assert native_reference.graph_dfs_hits(GraphDFS(), hits, list(range(count + 1)), None) == []


def test_four_modules_make_one_track():
    # Modules 0 and 1 never start a segment: three modules link nothing.
    hits = [Hit(0.0, 0.0, float(m), m) for m in range(4)]
    assert native_reference.graph_dfs_hits(GraphDFS(), hits[:3], [0, 1, 2, 3], None) == []
    assert track_ids(native_reference.graph_dfs_hits(GraphDFS(), hits, [0, 1, 2, 3, 4], None)) == [[3, 2, 1]]


def test_root_weight_zero_ignores_weights():
    event = Event(sized_event(800, seed=2))
    unweighted = track_ids(GraphDFS(minimum_root_weight=0, weight_assignment_iterations=0).solve(event))
    assert unweighted == track_ids(GraphDFS(minimum_root_weight=-7).solve(event))
    assert unweighted == track_ids(GraphDFS(minimum_root_weight=1).solve(event))
    # Weights count the links of the longest chain: a root of weight 3 has a
    # chain of at least four segments.
    heavy = GraphDFS(minimum_root_weight=3, clone_ghost_killing=False).solve(event)
    all_roots = GraphDFS(minimum_root_weight=0, clone_ghost_killing=False).solve(event)
    assert heavy and len(heavy) < len(all_roots)
    assert set(map(tuple, track_ids(heavy))) <= set(map(tuple, track_ids(all_roots)))


def test_shortest_path_not_first_nor_longest():
    # The root A->B leads to a five-hit chain B, C, D, E, F (enumerated first:
    # C has the smaller x) and to the leaf X: its track is A, B, X. X->D
    # starts a chain of its own, whose root comes first (X lies lower).
    points = {51: [(0.0, 0.0)], 50: [(0.0, 0.0)], 49: [(0.0, 0.0), (0.3, 0.0)],
              48: [(0.0, 0.0)], 47: [(0.0, 0.0)], 46: [(0.0, 0.0)]}
    event = lines_event(points)
    tracks = GraphDFS(allowed_skip_modules=0, clone_ghost_killing=False).solve(event)
    assert track_ids(tracks) == [hit_ids_at(event, [(49, 1), (48, 0), (47, 0), (46, 0)]),
                                 hit_ids_at(event, [(51, 0), (50, 0), (49, 1)])]


def test_window_scan_stops_at_first_outside_hit():
    # Module 1 holds, by x: w1 inside the window of the module-2 hit, w2
    # outside, then w3, inside again (it lies further away in z) but past the
    # stop. Only w1 is paired; taking w3 out of the shadow makes it a partner.
    def event(w2_x):
        modules = [[(0.0, 0.0, 0.0)], [(0.1, 0.0, 9.0), (w2_x, 0.0, 9.0), (2.0, 0.0, 5.0)],
                   [(0.0, 0.0, 10.0)], [(0.0, 0.0, 11.0)]] + [[(1e4 * m, 1e4 * m, 20.0 + m)] for m in range(4, 52)]
        return Event(event_dict(modules))

    algorithm = GraphDFS(allowed_skip_modules=0)
    shadowed, open_window = event(1.0), event(0.2)
    assert native_reference.graph_dfs_counts(algorithm, shadowed)[0] + 2 == native_reference.graph_dfs_counts(algorithm, open_window)[0]
    for e in (shadowed, open_window):
        assert track_ids(algorithm.solve(e)) == reference.solve(reference.Parameters(allowed_skip_modules=0),
                                                              *reference_input(e))


def reference_input(event):
    hits = [(h.id, h.x, h.y, h.z) for h in event.hits]
    return hits, list(event.module_prefix_sum[:53])


def crossing_event():
    """A five-hit line L (x = 0), a three-hit track G ending on L's last hit, a
    pair of three-hit tracks sharing a hit (x = 20) and a pair of five-hit
    tracks sharing a hit (x = 40)."""
    points = {m: [] for m in range(52)}
    for m in range(47, 52):
        points[m].append((0.0, 0.0))
    points[49].append((-1.0, 0.0))
    points[48].append((-0.5, 0.0))
    points[30] += [(20.0, 0.0), (21.5, 0.0)]
    points[29] += [(20.25, 0.0), (21.0, 0.0)]
    points[28].append((20.5, 0.0))
    for m in range(17, 22):
        points[m].append((40.0 + 0.5 * (m - 19), 0.0))
        points[m].append((40.0 - 0.5 * (m - 19), 0.0))
    points[19].pop()
    return lines_event(points)


@pytest.mark.parametrize("killing", [True, False])
def test_clone_and_ghost_killing(killing):
    event = crossing_event()
    ids = lambda pairs: hit_ids_at(event, pairs)  # noqa: E731
    line = ids([(m, 0) for m in range(51, 46, -1)])
    ghost = ids([(49, 1), (48, 1), (47, 0)])
    threes = [ids([(30, 0), (29, 0), (28, 0)]), ids([(30, 1), (29, 1), (28, 0)])]
    fives = [ids([(21, 0), (20, 0), (19, 0), (18, 0), (17, 0)]), ids([(21, 1), (20, 1), (19, 0), (18, 1), (17, 1)])]
    tracks = track_ids(GraphDFS(allowed_skip_modules=0, clone_ghost_killing=killing).solve(event))
    expected = [fives[0], fives[1], *threes, line] + ([] if killing else [ghost])
    assert sorted(tracks) == sorted(expected)
    assert tracks == reference.solve(reference.Parameters(allowed_skip_modules=0, clone_ghost_killing=killing),
                                   *reference_input(event))


def test_event_unchanged_and_hit_order_irrelevant():
    data = sized_event(1200, seed=9)
    event = Event(data)
    before = [repr(h) for h in event.hits]
    tracks = GraphDFS().solve(event)
    assert [repr(h) for h in event.hits] == before
    # Shuffling each module's hits renumbers them but finds the same tracks.
    rng = random.Random(1)
    prefix = data["module_prefix_sum"]
    order = []
    for m in range(52):
        block = list(range(prefix[m], prefix[m + 1]))
        rng.shuffle(block)
        order += block
    shuffled = Event({**data, **{k: [data[k][i] for i in order] for k in "xyz"}})
    coords = lambda ts: sorted(tuple((h.x, h.y, h.z) for h in t.hits) for t in ts)  # noqa: E731
    assert coords(GraphDFS().solve(shuffled)) == coords(tracks)
    assert native_reference.graph_dfs_counts(GraphDFS(), shuffled) == native_reference.graph_dfs_counts(GraphDFS(), event)


# ---- against the Python reference ---------------------------------------------

# A hit's z offset within its module: several planes, now and then one far
# away or infinite (the window's reach over the module then has no bound).
Z_SPREAD = st.sampled_from([0.0, 0.0, 0.0, 0.25, -0.5, 3.0, 1e300, math.inf])


@st.composite
def small_events(draw):
    """Sparse events on a coarse grid with a few lines, uneven z inside some
    modules and the odd non-finite coordinate."""
    lines = draw(st.lists(st.tuples(GRID, GRID, st.integers(-3, 3), st.integers(-3, 3)), max_size=4))
    special = st.sampled_from([math.nan, math.inf, -math.inf])
    modules = []
    for m in range(52):
        z = float(m) + draw(st.sampled_from([0.0, 0.0, 0.0, 0.5, -1.0]))
        hits = [(x0 + sx * (m % 9) / 8, y0 + sy * (m % 9) / 8, z) for x0, y0, sx, sy in lines
                if draw(st.integers(0, 4))]
        hits += [(draw(GRID), draw(GRID), z + draw(Z_SPREAD)) for _ in range(draw(st.integers(0 if hits else 1, 2)))]
        if draw(st.integers(0, 40)) == 0:
            hits.append((draw(special), draw(GRID), z))
        modules.append(draw(st.permutations(hits)))
    return event_dict(modules)


@st.composite
def branching_events(draw):
    """Bundles of nearly parallel tracks: chains branch and merge at every
    module, so roots have many paths of different lengths."""
    bundles = draw(st.lists(st.tuples(GRID, GRID, st.integers(-2, 2)), min_size=1, max_size=3))
    first = draw(st.integers(0, 45))
    last = first + draw(st.integers(3, 12))
    modules = []
    for m in range(52):
        hits = [(draw(GRID), draw(GRID), float(m))]
        if first <= m <= last:
            for x0, y0, s in bundles:
                for _ in range(draw(st.integers(0, 2))):
                    hits.append((x0 + s * m / 16 + draw(st.integers(-2, 2)) / 16, y0 + draw(st.integers(-2, 2)) / 16,
                                 float(m)))
        modules.append(draw(st.permutations(hits)))
    return event_dict(modules)


PARAMETERS = st.builds(
    reference.Parameters,
    **GEOMETRY,
    minimum_root_weight=st.integers(-1, 3),
    weight_assignment_iterations=st.integers(-1, 3),
    allowed_skip_modules=st.integers(-1, 3),
    allow_cross_track=st.booleans(),
    clone_ghost_killing=st.booleans(),
)
def reference_or_skip(p, data):
    """The Python reference's result, unless it has too many paths to enumerate in Python."""
    try:
        return reference.solve(p, *reference.event_input(data), max_paths=20000)
    except reference.TooManyPaths:
        assume(False)


SLOW = dict(deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


@settings(max_examples=120, **SLOW)
@given(small_events(), PARAMETERS)
def test_solve_matches_python_reference(data, p):
    assert track_ids(GraphDFS(*p.args()).solve(Event(data))) == reference_or_skip(p, data)


@settings(max_examples=40, **SLOW)
@given(branching_events(), PARAMETERS.filter(lambda p: p.allowed_skip_modules <= 1))
def test_branching_events_match_python_reference(data, p):
    assert track_ids(GraphDFS(*p.args()).solve(Event(data))) == reference_or_skip(p, data)


@pytest.mark.parametrize("p", [reference.Parameters(allowed_skip_modules=0),
                               reference.Parameters(allowed_skip_modules=0, max_slopes=(0.3, 0.3), max_scatter=0.01),
                               reference.Parameters(allow_cross_track=False, allowed_skip_modules=0,
                                                  max_tolerance=(2.0, 2.0))])
def test_generated_events_match_python_reference(p):
    # Long tracks with skips have too many paths for the Python reference.
    data = sized_event(400, seed=21)
    data["z"] = [-z for z in data["z"]]  # modules now descend in z as well
    others = [layout_event(400, "interleaved", 20), layout_event(400, "uniform", 22)]
    for event in [sized_event(400, seed=20), data] + others:
        expected = reference.solve(p, *reference.event_input(event), max_paths=10 ** 5)
        assert track_ids(GraphDFS(*p.args()).solve(Event(event))) == expected


@pytest.mark.parametrize("kwargs", [{}, {"allow_cross_track": False}, {"allowed_skip_modules": 0, "max_scatter": 0.01},
                                    {"max_tolerance": (math.inf, 0.4), "max_scatter": math.inf},
                                    {"max_slopes": (math.nan, 0.7)}, {"clone_ghost_killing": False}])
def test_realistic_events_match_enumeration(kwargs):
    algorithm = GraphDFS(**kwargs)
    for seed, layout in enumerate(LAYOUTS):
        event = Event(layout_event(400, layout, seed))
        assert track_ids(algorithm.solve(event)) == track_ids(native_reference.graph_dfs(algorithm, event, 10 ** 7))


# ---- the indexed link search against the reference one --------------------------

# Coordinates that stress the hit index: exact multiples of the tolerances
# (hits on the edge of a search box), far-away and huge values that squeeze
# every hit into the end cells or overflow their arithmetic, and non-finite ones.
COORDINATE = st.one_of(GRID, GRID, GRID, st.sampled_from([0.4, -0.4, 0.8, 1e6, -1e6, 1e300, -1e300, 5e-324,
                                                          math.nan, math.inf, -math.inf]))


# Offsets of a hit's z from its module's: several planes per module (more
# than the finder keeps reciprocals for), and extreme or non-finite z that make a line's offset overflow over the module.
PLANE = st.sampled_from([0.0, 0.0, 0.0, 0.125, 0.25, 0.375, 0.5, -0.25, -0.5, 0.75, -0.75, 1e308, -1e308, math.nan,
                         math.inf])


@st.composite
def indexed_events(draw):
    """Events whose links are found through the hit index: modules on one or
    several z planes, some sharing z with their neighbours."""
    modules = []
    z = 0.0
    for _ in range(12):
        z += draw(st.sampled_from([0.0, 1.0, 1.0, 2.0, 1e300]))
        planes = draw(st.booleans())
        modules.append([(draw(COORDINATE), draw(COORDINATE), z + (draw(PLANE) if planes else 0.0))
                        for _ in range(draw(st.integers(0, 12)))])
    return modules


def assert_indexed_links_match(modules, **kwargs):
    hits, boundaries = [], [0]
    for module in modules:
        hits += [Hit(x, y, z, len(hits) + i) for i, (x, y, z) in enumerate(module)]
        boundaries.append(len(hits))
    algorithm = GraphDFS(minimum_root_weight=0, clone_ghost_killing=False, **kwargs)
    try:
        expected = track_ids(native_reference.graph_dfs_hits(algorithm, hits, boundaries, 10 ** 5))
    except RuntimeError:
        assume(False)  # too many paths to enumerate
    assert track_ids(native_reference.graph_dfs_hits(algorithm, hits, boundaries, None)) == expected


@settings(max_examples=300, **SLOW)
@given(indexed_events(), st.sampled_from([0.125, 0.4, 1.0, 0.0, -1.0, 1e-300, 1e300, math.inf, math.nan]),
       st.sampled_from([0.125, 0.4, 3.0, math.inf]), st.integers(0, 3),
       st.sampled_from([(2.0, 2.0), (2.0, 2.0), (0.25, 1.0), (math.inf, 2.0), (2.0, 1e300)]))
def test_indexed_links_match_reference_links(modules, tolerance, scatter, skips, slopes):
    assert_indexed_links_match(modules, max_slopes=slopes, max_tolerance=(tolerance, 0.4), max_scatter=scatter,
                               allowed_skip_modules=skips)


SLOPES = (0.7, 0.3)
TOLERANCES = (0.4, 0.125)


@st.composite
def lines_at_the_limits(draw):
    """Lines as steep as the slope tests allow, through modules of four z
    planes, with hits a hair inside or outside the link tolerance at the
    planes farthest from the module's middle: where a filter that bounds how
    far a line moves over a module is tightest. Now and then far from the
    origin (rounding grows with the coordinates), and over more modules than
    a detector has."""
    planes = [-0.45, -0.15, 0.15, 0.45]
    hair = st.sampled_from([0.0, 1 - 2 ** -40, 1 + 2 ** -40, 1 - 2 ** -20, 0.5, -(1 - 2 ** -40), -(1 + 2 ** -40)])
    far = draw(st.sampled_from([0.0, 0.0, 1e11, -9.99e11, 1e12 + 1]))
    lines = [(far + draw(GRID), draw(GRID), draw(st.sampled_from([-1.0, -0.999, 0.5, 0.999, 1.0])) * SLOPES[0],
              draw(st.sampled_from([-1.0, 0.0, 0.999])) * SLOPES[1]) for _ in range(draw(st.integers(1, 4)))]
    modules = []
    for m in range(draw(st.sampled_from([10, 10, 70]))):
        hits = []
        for x0, y0, tx, ty in lines:
            z = far / 1e3 + 10.0 * m + draw(st.sampled_from(planes))
            hits.append((x0 + tx * z + draw(hair) * TOLERANCES[0], y0 + ty * z + draw(hair) * TOLERANCES[1], z))
        modules.append(hits)
    return modules


@settings(max_examples=150, **SLOW)
@given(lines_at_the_limits(), st.integers(0, 1))
def test_indexed_links_match_reference_links_at_the_limits(modules, skips):
    assert_indexed_links_match(modules, max_slopes=SLOPES, max_tolerance=TOLERANCES, max_scatter=math.inf,
                               allowed_skip_modules=skips)


@pytest.mark.parametrize("kwargs", [{}, {"allowed_skip_modules": 3}, {"max_tolerance": (0.001, 3.0)},
                                    {"max_tolerance": (40.0, 0.01), "max_scatter": 100.0},
                                    {"max_tolerance": (0.4, math.inf)}])
def test_indexed_links_match_reference_links_on_crowded_events(kwargs):
    # Full cells and strips (dense bundles), and modules wider than the index
    # has cells for (tiny tolerances).
    algorithm = GraphDFS(**kwargs)
    for data in [layout_event(3000, layout, seed=5) for layout in LAYOUTS] + [crowded_event()]:
        event = Event(data)
        assert track_ids(algorithm.solve(event)) == track_ids(native_reference.graph_dfs_reference_links(algorithm, event))


@pytest.mark.parametrize("per_module", [60, 61, 63, 64, 65, 127, 130])
def test_windows_around_a_word_of_candidates(per_module):
    # Every hit of one module lies in the window of every hit of the one
    # before: window lengths on either side of 64 candidates, and past 128.
    modules = [[(float(j), 0.0, 100.0 * m) for j in range(per_module)] for m in range(5)]
    assert_indexed_links_match(modules, max_slopes=(2.0, 2.0))


def crowded_event():
    rng = random.Random(8)
    bundles = [(rng.uniform(-20, 20), rng.uniform(-20, 20), rng.uniform(-0.05, 0.05)) for _ in range(4)]
    modules = []
    for m in range(52):
        z = 10.0 * m
        modules.append([(x0 + s * z + rng.gauss(0, 0.05), y0 + rng.gauss(0, 0.05), z)
                        for x0, y0, s in bundles for _ in range(12)] + [(rng.uniform(-40, 40), 0.0, z)])
    return event_dict(modules)


# ---- repeated ids, runaway settings and path explosions ------------------------

@pytest.mark.parametrize("ids", [lambda i: 7, lambda i: i % 3, lambda i: -i % 5, lambda i: 2 ** 31 - 1 - i % 4])
def test_repeated_ids_terminate(ids):
    # Hits sharing an id may link a segment to one arriving at another hit,
    # which can close cycles; links only ever lead to lower segment indices.
    rng = random.Random(3)
    hits, boundaries = [], [0]
    for m in range(12):
        for _ in range(3):
            hits.append(Hit(rng.choice([0.0, 0.1, 0.2]), rng.choice([0.0, 0.1]), float(m), ids(len(hits))))
        boundaries.append(len(hits))
    for p in (reference.Parameters(), reference.Parameters(weight_assignment_iterations=2 ** 31 - 1,
                                                       clone_ghost_killing=False)):
        algorithm = GraphDFS(*p.args())
        fast = track_ids(native_reference.graph_dfs_hits(algorithm, hits, boundaries, None))
        assert fast == track_ids(native_reference.graph_dfs_hits(algorithm, hits, boundaries, 10 ** 6))
        if p.weight_assignment_iterations < 10:
            assert fast == reference.solve(p, [(h.id, h.x, h.y, h.z) for h in hits], boundaries)


def test_huge_iteration_count_stops_early():
    event = Event(sized_event(1500, seed=11))
    start = time.perf_counter()
    endless = track_ids(GraphDFS(weight_assignment_iterations=2 ** 31 - 1).solve(event))
    assert time.perf_counter() - start < 10
    assert endless == track_ids(GraphDFS(weight_assignment_iterations=1).solve(event))


def test_dense_event_with_astronomically_many_paths():
    # Three hits per module on one line, all within tolerance of each other.
    modules = [[(0.01 * k, 0.01 * k, float(m)) for k in range(3)] for m in range(52)]
    data = event_dict(modules)
    p = reference.Parameters(allowed_skip_modules=0)
    segments, successors = reference.graph(p, *reference.event_input(data))
    memo = {}
    counts = [reference.path_count(successors, r, memo) for r in reference.roots(p, segments, successors)]
    assert min(counts) > 10 ** 12
    algorithm = GraphDFS(*p.args())
    start = time.perf_counter()
    tracks = algorithm.solve(Event(data))
    assert time.perf_counter() - start < 5
    assert [len(t.hits) for t in tracks] == [51] * len(counts)  # modules 51 down to 1
    with pytest.raises(RuntimeError, match="^more than 1000 paths to enumerate$"):
        native_reference.graph_dfs(algorithm, Event(data), 1000)


def test_solve_batch_equals_solve():
    events = [Event(sized_event(n, seed=n)) for n in (300, 900, 60)] + [crossing_event()]
    algorithm = GraphDFS(allowed_skip_modules=2)
    expected = [track_ids(algorithm.solve(e)) for e in events]
    assert [track_ids(r) for r in algorithm.solve_batch(tuple(events))] == expected
    with pytest.raises(TypeError, match="^argument 'events': Can't extract `str` to `Vec`$"):
        algorithm.solve_batch("abc")


def dense_bundle_event(lines=55):
    """Nearly parallel lines close together through every module: more
    segments and links than a thread keeps working memory for between events."""
    rng = random.Random(3)
    starts = [(rng.uniform(-0.3, 0.3), rng.uniform(-0.3, 0.3)) for _ in range(lines)]
    return event_dict([[(x + 0.001 * m, y, float(m)) for x, y in starts] for m in range(52)])


@pytest.mark.parametrize("algorithm, huge", [(GraphDFS(), True),
                                             (GraphDFS(allowed_skip_modules=3, clone_ghost_killing=False), False)])
def test_events_in_any_order_give_the_same_tracks(algorithm, huge):
    # Each thread reuses its working memory from event to event (and drops it
    # after a huge one): nothing of one event may show in the next.
    events = [Event(layout_event(2000, "generated", 1)), Event(layout_event(300, "uniform", 2)),
              Event(crowded_event()), lines_event({})]
    if huge:
        events.insert(1, Event(dense_bundle_event()))
    first = [track_ids(algorithm.solve(e)) for e in events]
    again = [track_ids(algorithm.solve(e)) for e in reversed(events)][::-1]
    assert first == again
    assert [track_ids(r) for r in algorithm.solve_batch(events[::-1])] == first[::-1]
