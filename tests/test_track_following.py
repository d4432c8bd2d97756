import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import corvane
import reference_track_following as reference
from event_builders import (GEOMETRY, dense_events, LAYOUTS, Event, event_dict, hit_ids_at, layout_event, line_events,
                            lines_event, modules_of, reference_modules, sized_event, track_ids)

TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing
Hit = corvane.DetectorEvent.Hit


def hit(x, y, z, hit_id=0):
    return Hit(x, y, z, hit_id)


# ---- the Python surface ----------------------------------------------------

def test_class_surface():
    assert corvane.ReconstructionAlgorithms.__all__[0] == "TrackFollowing"
    assert TrackFollowing.__text_signature__ == (
        "(cls, max_slopes=None, max_tolerance=None, max_scatter=None, min_track_length=None, "
        "min_strong_track_length=None)")
    assert TrackFollowing.__module__ == "builtins"
    signatures = {name: getattr(TrackFollowing, name).__text_signature__
                  for name in ("are_compatible", "check_tolerance", "solve", "solve_batch")}
    assert signatures == {"are_compatible": "($self, hit0, hit1)", "check_tolerance": "($self, hit0, hit1, hit2)",
                          "solve": "($self, event)", "solve_batch": "($self, events)"}
    algorithm = TrackFollowing()
    assert not hasattr(algorithm, "__dict__") and not hasattr(algorithm, "max_scatter")
    assert "_reference" not in corvane.__all__


@pytest.mark.parametrize("kwargs, error, message", [
    ({"max_slopes": [0.7, 0.7]}, TypeError, "argument 'max_slopes': 'list' object cannot be converted to 'PyTuple'"),
    ({"max_tolerance": (0.4,)}, ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ({"max_slopes": (1, 2, 3)}, ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ({"max_slopes": ("a", 1)}, TypeError, "argument 'max_slopes': must be real number, not str"),
    ({"max_scatter": "0.4"}, TypeError, "argument 'max_scatter': must be real number, not str"),
    ({"min_track_length": 256}, OverflowError, "out of range integral type conversion attempted"),
    ({"min_strong_track_length": -1}, OverflowError, "out of range integral type conversion attempted"),
    ({"min_track_length": 2 ** 70}, OverflowError, "Python int too large to convert to C long"),
    ({"min_track_length": 3.0}, TypeError, "argument 'min_track_length': 'float' object cannot be interpreted as an integer"),
    ({"max_slope": (1, 1)}, TypeError, "TrackFollowing.__new__() got an unexpected keyword argument 'max_slope'"),
])
def test_constructor_errors(kwargs, error, message):
    with pytest.raises(error) as raised:
        TrackFollowing(**kwargs)
    assert str(raised.value) == message


def test_constructor_positional_limit_and_defaults():
    with pytest.raises(TypeError, match=r"^TrackFollowing.__new__\(\) takes from 0 to 5 positional arguments but 6 were given$"):
        TrackFollowing(None, None, None, None, None, None)
    event = Event(sized_event(800, seed=3))
    explicit = TrackFollowing((0.7, 0.7), (0.4, 0.4), 0.4, 3, 4)
    assert track_ids(TrackFollowing().solve(event)) == track_ids(explicit.solve(event))
    assert track_ids(TrackFollowing(None, None, None, None, None).solve(event)) == track_ids(explicit.solve(event))
    # The tolerance pair is read x first, then y.
    assert TrackFollowing(max_tolerance=(0.5, 0.1)).check_tolerance(hit(0, 0, 0), hit(0, 0, 1), hit(0.3, 0.0, 2))
    assert not TrackFollowing(max_tolerance=(0.1, 0.5)).check_tolerance(hit(0, 0, 0), hit(0, 0, 1), hit(0.3, 0.0, 2))


@pytest.mark.parametrize("call, message", [
    (lambda a: a.are_compatible(1, hit(0, 0, 0)), "argument 'hit0': 'int' object cannot be converted to 'Hit'"),
    (lambda a: a.check_tolerance(hit(0, 0, 0), hit(0, 0, 1), None), "argument 'hit2': 'NoneType' object cannot be converted to 'Hit'"),
    (lambda a: a.solve([]), "argument 'event': 'list' object cannot be converted to 'Event'"),
    (lambda a: TrackFollowing.solve(Hit(0, 0, 0, 0), None), "'Hit' object cannot be converted to 'TrackFollowing'"),
])
def test_method_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call(TrackFollowing())
    assert str(raised.value) == message


# ---- the two geometric tests ------------------------------------------------

@pytest.mark.parametrize("h0, h1, expected", [
    ((0, 0, 5), (0, 0, 5), False),              # equal z is never compatible
    ((0, 0, 0), (1.0, 0, 2), False),            # |dx| equal to slope*dz
    ((0, 0, 0), (0, -1.0, 2), False),           # |dy| equal to dz*slope
    ((0, 0, 0), (0.75, -0.75, 2), True),
    ((0, 0, 2), (-0.75, 0.75, 0), True),        # order of the hits does not matter
    ((0, 0, 0), (math.nan, 0, 2), False),
    ((0, 0, 0), (5.0, 0, math.inf), True),      # an infinite dz bounds nothing
])
def test_are_compatible(h0, h1, expected):
    assert TrackFollowing(max_slopes=(0.5, 0.5)).are_compatible(hit(*h0), hit(*h1)) is expected


@pytest.mark.parametrize("kwargs, h2, expected", [
    ({}, (0.3, 0.1, 2), True),                                   # scatter (0.01 + 0.03) = 0.04 < 0.05
    ({"max_scatter": 0.04}, (0.3, 0.1, 2), False),               # a sum of squares would give 0.1
    ({"max_tolerance": (0.25, 0.25)}, (0.25, 0.0, 2), False),    # dx equal to the tolerance
    ({"max_tolerance": (0.25, 0.25)}, (0.0, -0.25, 2), False),
    ({"max_tolerance": (0.25, 0.25)}, (0.125, 0.0, 2), True),
    ({"max_scatter": 1e-300}, (0.39, 0.0, 2), True),             # off in x only: no scatter
    ({"max_scatter": 0.0}, (0.39, 0.0, 2), False),               # ... but 0 > 0 fails
    ({}, (0.0, 0.0, 1), False),                                  # hit2 at hit1's z
    ({}, (math.nan, 0.0, 2), False),
])
def test_check_tolerance(kwargs, h2, expected):
    algorithm = TrackFollowing(**{"max_scatter": 0.05, **kwargs})
    assert algorithm.check_tolerance(hit(0, 0, 0), hit(0, 0, 1), hit(*h2)) is expected


def test_check_tolerance_equal_seed_z():
    assert not TrackFollowing().check_tolerance(hit(0, 0, 1), hit(0.1, 0, 1), hit(0.2, 0, 2))


@given(st.lists(st.floats(-4, 4, allow_nan=False).map(lambda v: round(v * 8) / 8), min_size=9, max_size=9),
       st.sampled_from([0.125, 0.25, 0.4]), st.sampled_from([0.0, 0.05, 0.4]))
def test_geometric_tests_match_reference(values, tolerance, scatter):
    algorithm = TrackFollowing((0.5, 0.25), (tolerance, tolerance), scatter)
    p = reference.Parameters((0.5, 0.25), (tolerance, tolerance), scatter)
    hits = [(i, *values[3 * i:3 * i + 3]) for i in range(3)]
    py = [hit(x, y, z, i) for i, x, y, z in hits]
    assert algorithm.are_compatible(py[0], py[1]) == reference.are_compatible(p, hits[0], hits[1])
    assert algorithm.check_tolerance(*py) == reference.check_tolerance(p, *hits)


# ---- solve on hand-made events ----------------------------------------------

def test_straight_line_through_every_module():
    event = lines_event({m: [(0.01 * m, 0.0)] for m in range(52)})
    # Seeds from 51 and 49; module 50's hit is skipped, and never seeds itself
    # because its partner in module 48 is then used.
    assert track_ids(TrackFollowing().solve(event)) == [hit_ids_at(event, [(m, 0) for m in [51, 49] + list(range(48, -1, -1))])]


@pytest.mark.parametrize("third_module, expected_modules", [(46, [51, 49, 46]), (45, None)])
def test_third_hit_only_from_the_three_module_window(third_module, expected_modules):
    event = lines_event({51: [(0.0, 0.0)], 49: [(0.0, 0.0)], third_module: [(0.0, 0.0)]})
    expected = [] if expected_modules is None else [hit_ids_at(event, [(m, 0) for m in expected_modules])]
    assert track_ids(TrackFollowing().solve(event)) == expected


def test_lengths_with_min_track_length_5_and_min_strong_4():
    def line(x, modules):
        return {m: [(x, 0.0)] for m in modules}
    points = {**line(0.0, [51, 49, 48, 47, 46, 45]), **line(20.0, [40, 38, 37, 36, 35]),
              **line(40.0, [30, 28, 27, 26]), **line(60.0, [20, 18, 17])}
    event = lines_event(points)
    six = hit_ids_at(event, [(m, 0) for m in [51, 49, 48, 47, 46, 45]])
    four = hit_ids_at(event, [(m, 0) for m in [30, 28, 27, 26]])
    five = hit_ids_at(event, [(m, 0) for m in [40, 38, 37, 36, 35]])
    # Six and four hits are strong, in acceptance order; the five-hit track is
    # weak and comes last; three hits are discarded.
    assert track_ids(TrackFollowing(min_track_length=5, min_strong_track_length=4).solve(event)) == [six, four, five]


def test_used_hit_can_be_a_third_hit():
    s = {51: (0.0, 0.0), 49: (0.0, 0.0), 48: (0.0, 0.0), 47: (0.0, 0.0)}
    t = {50: (1.5, 0.0), 48: (0.5, 0.0), 46: (-0.5, 0.0), 45: (-1.0, 0.0)}
    points = {m: [p for p in (s.get(m), t.get(m)) if p] for m in range(52)}
    event = lines_event(points)
    strong_s = hit_ids_at(event, [(51, 0), (49, 0), (48, 0), (47, 0)])
    # T's third hit is S's hit in module 47, already used.
    strong_t = hit_ids_at(event, [(50, 0), (48, 1), (47, 0), (46, 0), (45, 0)])
    assert track_ids(TrackFollowing().solve(event)) == [strong_s, strong_t]


def test_one_seed_hit_starts_several_tracks():
    a = {m: (0.2 * (51 - m), 0.0) for m in (49, 48, 47, 46)}
    b = {m: (-0.2 * (51 - m), 0.0) for m in (49, 48, 47, 46)}
    points = {51: [(0.0, 0.0)], **{m: [a[m], b[m]] for m in a}}
    event = lines_event(points)
    assert track_ids(TrackFollowing().solve(event)) == [
        hit_ids_at(event, [(51, 0), (49, 0), (48, 0), (47, 0), (46, 0)]),
        hit_ids_at(event, [(51, 0), (49, 1), (48, 1), (47, 1), (46, 1)]),
    ]


def test_weak_tracks_sharing_hits_are_dropped_and_come_last():
    # K (weak, found first) takes S's module-48 hit as third hit; S (strong)
    # uses it later, so K is dropped. W1 is weak and kept; W2 shares W1's
    # first hit and is dropped.
    points = {m: [] for m in range(52)}
    for m in (50, 48, 47, 46):
        points[m].append((0.0, 0.0))          # S
    points[51].append((1.5, 0.0))             # K
    points[49].append((0.5, 0.0))             # K
    for m in (51, 49, 48):
        points[m].append((10.0, 0.0))         # W1
    points[47].append((11.0, 0.0))            # W2, seeded from W1's module-49 hit
    points[46].append((11.5, 0.0))            # W2
    event = lines_event(points)
    strong = hit_ids_at(event, [(50, 0), (48, 0), (47, 0), (46, 0)])
    weak = hit_ids_at(event, [(51, 1), (49, 1), (48, 1)])
    assert track_ids(TrackFollowing().solve(event)) == [strong, weak]


def test_equal_z_everywhere_gives_nothing():
    modules = [[(0.0, 0.0, 7.0), (0.1, 0.1, 7.0)] for _ in range(52)]
    assert TrackFollowing().solve(Event(event_dict(modules))) == []


def test_returned_tracks_have_flags_cleared():
    tracks = TrackFollowing().solve(Event(sized_event(600, seed=5)))
    assert tracks and not any(t.missed_last_module or t.missed_penultimate_module for t in tracks)


# ---- module lists of any length (through the reference hook) ---------------

@pytest.mark.parametrize("count", [0, 1, 2, 3])
@pytest.mark.parametrize("reference_version", [False, True])
def test_fewer_than_four_modules_give_nothing(count, reference_version):
    modules = modules_of([[(0.0, 0.0)]] * count)
    assert corvane._reference.track_following_modules(TrackFollowing(), modules, reference_version) == []


@pytest.mark.parametrize("reference_version", [False, True])
def test_four_modules_make_one_weak_track(reference_version):
    modules = modules_of([[(0.0, 0.0)]] * 4)
    tracks = corvane._reference.track_following_modules(TrackFollowing(), modules, reference_version)
    assert track_ids(tracks) == [[3, 1, 0]]


@pytest.mark.parametrize("ids", [lambda i: -1 - i, lambda i: 2 ** 31 - 1 - i, lambda i: 7])
def test_hit_ids_outside_the_event_range(ids):
    # Hand-made modules may carry any ids; "used" still goes by id. With all
    # ids equal, every hit counts as used once the first track is accepted.
    points = [[(0.0, 0.0), (0.3, 0.0)] for _ in range(20)]
    modules = modules_of(points, ids)
    fast = corvane._reference.track_following_modules(TrackFollowing(), modules, False)
    assert track_ids(fast) == track_ids(corvane._reference.track_following_modules(TrackFollowing(), modules, True))
    assert fast


# ---- against the Python reference ---------------------------------------------

PARAMETERS = st.builds(
    reference.Parameters,
    **GEOMETRY,
    min_track_length=st.integers(0, 6),
    min_strong_track_length=st.integers(0, 6),
)


def algorithm_for(p):
    return TrackFollowing(p.max_slopes, p.max_tolerance, p.max_scatter, p.min_track_length, p.min_strong_track_length)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(line_events(4), PARAMETERS)
def test_solve_matches_python_reference(data, p):
    expected = reference.solve(p, reference_modules(data))
    assert track_ids(algorithm_for(p).solve(Event(data))) == expected


@pytest.mark.parametrize("layout", LAYOUTS)
def test_layout_events_match_python_reference(layout):
    data = layout_event(400, layout, seed=LAYOUTS.index(layout))
    expected = reference.solve(reference.Parameters(), reference_modules(data))
    assert track_ids(TrackFollowing().solve(Event(data))) == expected


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(dense_events(), PARAMETERS)
def test_indexed_search_matches_plain_scans(data, p):
    algorithm = algorithm_for(p)
    event = Event(data)
    assert track_ids(algorithm.solve(event)) == track_ids(corvane._reference.track_following(algorithm, event))


@pytest.mark.parametrize("kwargs", [{}, {"max_tolerance": (math.nan, 0.4)}, {"max_tolerance": (math.inf, 0.4)},
                                    {"max_tolerance": (-0.4, 0.4)}, {"max_slopes": (math.inf, math.inf)}])
@pytest.mark.parametrize("layout", LAYOUTS)
def test_realistic_events_match_native_reference(kwargs, layout):
    algorithm = TrackFollowing(**kwargs)
    event = Event(layout_event(3000, layout, seed=LAYOUTS.index(layout)))
    assert track_ids(algorithm.solve(event)) == track_ids(corvane._reference.track_following(algorithm, event))


# ---- the module index at its edges -------------------------------------------

def lattice_event(offset, planes):
    """Every module holds hits on an integer lattice (one x apart, the last two
    x two apart, so that the x range divides evenly into one bucket per hit),
    with straight lines of integer slope through it: predictions land exactly
    on hits, on bucket and cell edges, and exactly one tolerance away. With two
    planes, a module's hits alternate between z = m and m + 0.5, so that the
    search sweeps its window over the module's z range."""
    modules = []
    for m in range(52):
        xs = list(range(15)) + [16]
        hits = [(float(x), float((x * 7 + m) % 16) + offset, float(m)) for x in xs]
        hits += [(float(m % 16), float(m % 5), float(m)), (float((3 * m) % 16), 1.0 + offset, float(m))]
        modules.append([(x, y, z + 0.5 * (i % planes)) for i, (x, y, z) in enumerate(hits)])
    return event_dict(modules)


@pytest.mark.parametrize("tolerance", [1.0, 0.5, 2.0, math.nextafter(1.0, 2.0), math.nextafter(1.0, 0.0), 0.0, 5e-324])
@pytest.mark.parametrize("offset", [0.0, 0.5, -0.0])
@pytest.mark.parametrize("planes", [1, 2])
def test_searches_on_bucket_and_cell_edges_match_native_reference(tolerance, offset, planes):
    algorithm = TrackFollowing(max_slopes=(4.0, 4.0), max_tolerance=(tolerance, tolerance), max_scatter=100.0)
    event = Event(lattice_event(offset, planes))
    assert track_ids(algorithm.solve(event)) == track_ids(corvane._reference.track_following(algorithm, event))


SPECIAL_VALUES = [math.nan, math.inf, -math.inf, 1e308, -1e308, 5e-324, -0.0, 1e-300]


@pytest.mark.parametrize("tolerance", [(0.4, 0.4), (1e300, 0.4), (0.4, 1e300), (0.4, math.inf), (1e-300, 1e-300)])
@pytest.mark.parametrize("axis", ["x", "y", "z"])
def test_special_coordinates_match_native_reference(axis, tolerance):
    data = sized_event(3000, seed=11)
    values = data[axis]
    # Spread over modules, also into seed and line hits of real tracks.
    for i, special in enumerate(SPECIAL_VALUES * 4):
        values[(i * 977 + 13) % len(values)] = special
    algorithm = TrackFollowing(max_tolerance=tolerance)
    event = Event(data)
    assert track_ids(algorithm.solve(event)) == track_ids(corvane._reference.track_following(algorithm, event))
