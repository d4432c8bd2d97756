import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import corvane
import reference_search_by_triplet_trie as reference
from event_builders import GRID, dense_events, LAYOUTS, Event, event_dict, layout_event, line_events, modules_of, sized_event
from child_process import run_child

SearchByTripletTrie = corvane.ReconstructionAlgorithms.SearchByTripletTrie
Hit, Module = corvane.DetectorEvent.Hit, corvane.DetectorEvent.Module
native_reference = corvane._reference


def described(tracks):
    return [([hit.id for hit in t.hits], t.missed_last_module, t.missed_penultimate_module) for t in tracks]


def algorithm_for(p):
    return SearchByTripletTrie(p.max_scatter, p.min_strong_track_length, p.allowed_missed_modules)


# ---- the Python surface ----------------------------------------------------

def test_class_surface():
    names = corvane.ReconstructionAlgorithms.__all__
    assert names[0] == "TrackFollowing" and names[-1] == "SearchByTripletTrie"
    assert SearchByTripletTrie.__text_signature__ == (
        "(cls, max_scatter=None, min_track_length=None, min_strong_track_length=None, allowed_missed_modules=None)")
    assert SearchByTripletTrie.solve.__doc__ == "Processes the event to assemble tracks."
    assert SearchByTripletTrie.solve.__text_signature__ == "($self, event)"
    assert SearchByTripletTrie.solve_batch.__text_signature__ == "($self, events)"
    assert not hasattr(SearchByTripletTrie(), "max_scatter")


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((), {"min_track_length": 3}, TypeError, "SearchByTripletTrie.__new__() got an unexpected keyword argument 'min_track_length'"),
    ((0.1, 4, 2, 3), {}, TypeError, "SearchByTripletTrie.__new__() takes from 0 to 3 positional arguments but 4 were given"),
    ((0.1,), {"max_scatter": 0.2}, TypeError, "SearchByTripletTrie.__new__() got multiple values for argument 'max_scatter'"),
    (("0.1",), {}, TypeError, "argument 'max_scatter': must be real number, not str"),
    ((), {"min_strong_track_length": 4.0}, TypeError, "argument 'min_strong_track_length': 'float' object cannot be interpreted as an integer"),
    ((), {"allowed_missed_modules": -1}, OverflowError, None),
    ((), {"allowed_missed_modules": 2 ** 64}, OverflowError, None),
])
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        SearchByTripletTrie(*args, **kwargs)
    assert message is None or str(raised.value) == message


def test_solve_argument_error_and_defaults():
    with pytest.raises(TypeError, match=r"^argument 'event': 'list' object cannot be converted to 'Event'$"):
        SearchByTripletTrie().solve([])
    event = Event(sized_event(500, seed=4))
    expected = described(SearchByTripletTrie(0.1, 4, 2).solve(event))
    assert described(SearchByTripletTrie(None, None, None).solve(event)) == expected
    assert described(SearchByTripletTrie(max_scatter=0.1, min_strong_track_length=4, allowed_missed_modules=2 ** 64 - 1)
                     .solve(event)) == described(SearchByTripletTrie(allowed_missed_modules=255).solve(event))


# ---- hand-made cases ---------------------------------------------------------

def solve_modules(modules, reference_version=False, **kwargs):
    return described(native_reference.search_by_triplet_trie_modules(SearchByTripletTrie(**kwargs), modules, reference_version))


@pytest.mark.parametrize("reference_version", [False, True])
@pytest.mark.parametrize("count", range(6))
def test_fewer_than_three_layers_give_nothing(count, reference_version):
    assert solve_modules(modules_of([[(0.0, 0.0)]] * count), reference_version) == []


@pytest.mark.parametrize("min_strong", [0, 1, 3, 4, 9])
def test_three_layers_only_seed(min_strong):
    # Two outer hits (z 4 and 5) share the middle and inner hit; a seventh
    # module is left out. Unextended seeds come back whether strong or weak.
    points = [[(0.0, 0.0)], [], [(0.0, 0.0)], [], [(0.0, 0.0)], [(0.0, 0.0)], [(0.0, 0.0)]]
    expected = [([2, 1, 0], False, False), ([3, 1, 0], False, False)]
    assert solve_modules(modules_of(points), min_strong_track_length=min_strong) == expected
    assert solve_modules(modules_of(points[:6]), min_strong_track_length=min_strong) == expected


@pytest.mark.parametrize("max_scatter", [0.0, -1.0, math.nan])
def test_max_scatter_that_accepts_nothing(max_scatter):
    event = Event(sized_event(400, seed=1))
    assert native_reference.triplet_trie_entries(SearchByTripletTrie(max_scatter), event, False) == 0
    assert SearchByTripletTrie(max_scatter).solve(event) == []


def test_equal_z_gives_nothing():
    modules = [[(0.1 * i, 0.0, 7.0) for i in range(3)] for _ in range(52)]
    assert SearchByTripletTrie(max_scatter=math.inf).solve(Event(event_dict(modules))) == []


@pytest.mark.parametrize("allowed", [256, 1000, 2 ** 64 - 1])
def test_large_allowed_misses_saturate(allowed):
    # Only the low eight bits would make 256 act as 0; larger counts act as 255.
    event = Event(sized_event(600, seed=2))
    result = described(SearchByTripletTrie(allowed_missed_modules=allowed).solve(event))
    assert result == described(SearchByTripletTrie(allowed_missed_modules=255).solve(event))
    assert result != described(SearchByTripletTrie(allowed_missed_modules=0).solve(event))


# ---- against the Python reference ---------------------------------------------

PARAMETERS = st.builds(
    reference.Parameters,
    max_scatter=st.sampled_from([0.0, 0.02, 0.1, 0.5, 4.0, math.inf, math.nan]),
    min_strong_track_length=st.integers(0, 6),
    allowed_missed_modules=st.sampled_from([0, 1, 2, 3, 255, 256]),
)


@settings(max_examples=120, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(line_events(5), PARAMETERS)
def test_solve_matches_python_reference(data, p):
    assert described(algorithm_for(p).solve(Event(data))) == reference.solve(p, *reference.event_input(data))


@settings(max_examples=80, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.lists(st.tuples(GRID, GRID), max_size=3), min_size=6, max_size=16),
       st.lists(st.sampled_from([-1, 0, 1, 2, 3]), min_size=1), st.sampled_from([0, 1, 2, 5, 48]), PARAMETERS)
def test_odd_ids_and_module_lists_match_python_reference(points, id_choices, first_number, p):
    # Repeated ids (one hit for every lookup), ids of -1 (never taken by the
    # straight-line search), any number of modules, layer numbers that do not
    # follow the positions (other inner layers, slots 26 and up).
    modules = modules_of(points, lambda i: id_choices[i % len(id_choices)] if i % 2 else i, first_number)
    hits = [(h.id, h.x, h.y, h.z) for module in modules for h in module.hits()]
    bounds = [(module.module_number, sum(map(len, points[:m])), sum(map(len, points[:m + 1])))
              for m, module in enumerate(modules)]
    expected = reference.solve(p, hits, bounds)
    for reference_version in (False, True):
        got = described(native_reference.search_by_triplet_trie_modules(algorithm_for(p), modules, reference_version))
        assert got == expected


@pytest.mark.parametrize("seed, p", [(0, reference.Parameters()), (1, reference.Parameters(0.5, 3, 1)),
                                     (2, reference.Parameters(0.05, 0, 0)), (3, reference.Parameters(2.0, 1, 256))])
def test_generated_events_match_python_reference(seed, p):
    data = layout_event(350, LAYOUTS[seed], seed)
    assert described(algorithm_for(p).solve(Event(data))) == reference.solve(p, *reference.event_input(data))


# ---- indexed searches against the native reference -----------------------------

@settings(max_examples=60, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(dense_events(), PARAMETERS)
def test_indexed_search_matches_plain_scans(data, p):
    algorithm, event = algorithm_for(p), Event(data)
    assert described(algorithm.solve(event)) == described(native_reference.search_by_triplet_trie(algorithm, event))


def crafted_window_event(case):
    """16 straight lines parallel to z (so every prediction is exact) over 52 modules, each at its own offset from the
    filter's cells; in one layer they are replaced by hits at the scatter limit of the lines, or by values that the
    pair filter must not trust."""
    lines = [(3.1 * i, 2.0 + 1.7 * i) for i in range(16)]
    modules = [[(x, y, 10.0 * m + (i % 4 if case == "many z" else 0)) for i, (x, y) in enumerate(lines)]
               for m in range(52)]
    below = math.nextafter(0.5, 0.0)  # a scatter just below 0.25; 0.5 itself is at the limit
    offsets = [(0.5, 0.0), (below, 0.0), (0.0, -below), (-below, 0.0), (0.3, 0.4), (0.3, math.nextafter(0.4, 0.0)),
               (math.nextafter(0.5, 1.0), 0.0), (0.0, below)]
    extra = {
        "at the limit": [(x + dx, y + dy, 100.0) for (x, y), (dx, dy) in zip(lines, offsets * 2)],
        # A lattice of reach-wide steps puts hits on cell edges.
        "lattice": [(0.5 * k, 2.0 + 0.5 * j, 100.0) for k in range(-2, 48) for j in range(-2, 3)],
        "non-finite": [(math.nan, 2.0, 100.0), (3.1, math.inf, 100.0), (6.2, 5.4, math.inf), (9.3, 7.1, math.nan),
                       (-math.inf, 2.0, 100.0)],
        "huge": [(1e150, 2.0, 100.0), (3.1, -1e90, 100.0), (6.2 + 1e-12, 5.4, 100.0)],
        "tiny": [(x + 1e-300, y, 100.0 + 1e-9) for x, y in lines],
        "many z": [(x + 0.25, y, 100.0 + i / 7) for i, (x, y) in enumerate(lines)],
    }[case]
    # The inner layer (modules 10 and 11) holds only these, so they are the closest hits of the lines.
    modules[10], modules[11] = extra, [(-50.0, -50.0, 110.0)]
    if case == "many z":
        # More distinct z values in an outer layer than the filter keeps factors for.
        modules[14] += [(0.37 * k, 0.9 * (k % 7), 140.0 + k / 97) for k in range(80)]
    if case == "non-finite":
        # A middle hit at infinite z gives a flat line that the exact search accepts; outer hits that are not finite.
        modules[12].append((3.1, 3.7, math.inf))
        modules[14] += [(math.inf, 2.0, 140.0), (3.1, 3.7, math.nan)]
    return event_dict(modules)


@pytest.mark.parametrize("max_scatter", [0.25, 0.1, 1e-300, 5e-324, 1e300, math.inf])
@pytest.mark.parametrize("case", ["at the limit", "lattice", "non-finite", "huge", "tiny", "many z"])
def test_pair_filter_keeps_every_accepted_pair(case, max_scatter):
    algorithm, event = SearchByTripletTrie(max_scatter, 3, 2), Event(crafted_window_event(case))
    assert native_reference.triplet_trie_entries(algorithm, event, False) == native_reference.triplet_trie_entries(
        algorithm, event, True)
    assert described(algorithm.solve(event)) == described(native_reference.search_by_triplet_trie(algorithm, event))


PLANE_OFFSETS = (-0.45, -0.15, 0.15, 0.45)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.sampled_from([0.01, 0.1, 0.37]), st.lists(st.tuples(*[st.floats(-30, 30)] * 2, *[st.floats(-0.4, 0.4)] * 2),
                                                    min_size=2, max_size=8), st.randoms(use_true_random=False))
def test_pair_filter_keeps_sloped_lines_near_the_limit(max_scatter, lines, rng):
    # Sloped lines over modules with four z planes each, and beside every line hit one more hit about the scatter
    # limit away in a random direction: the rounding of the predictions puts them on both sides of the limit.
    reach = math.sqrt(max_scatter)
    modules = []
    for m in range(52):
        hits = []
        for x0, y0, sx, sy in lines:
            z = 25.0 * m + rng.choice(PLANE_OFFSETS)
            angle, distance = rng.uniform(0, 2 * math.pi), reach * (1 + rng.choice([-1e-15, 0.0, 1e-15, -1e-9]))
            hits += [(x0 + sx * z, y0 + sy * z, z),
                     (x0 + sx * z + distance * math.cos(angle), y0 + sy * z + distance * math.sin(angle), z)]
        modules.append(hits)
    algorithm, event = SearchByTripletTrie(max_scatter, 3, 2), Event(event_dict(modules))
    assert native_reference.triplet_trie_entries(algorithm, event, False) == native_reference.triplet_trie_entries(
        algorithm, event, True)
    assert described(algorithm.solve(event)) == described(native_reference.search_by_triplet_trie(algorithm, event))


def test_scratch_kept_between_events_changes_nothing():
    # One thread's filter scratch serves windows of every size and shape in turn, in either order.
    algorithm = SearchByTripletTrie(0.25, 3, 2)
    events = [Event(layout_event(2000, "interleaved", 5)), Event(crafted_window_event("many z")),
              Event(crafted_window_event("huge")), Event(sized_event(200, seed=6)), Event(layout_event(800, "uniform", 7))]
    expected = [described(native_reference.search_by_triplet_trie(algorithm, e)) for e in events]
    for order in (events, events[::-1]):
        got = [described(algorithm.solve(e)) for e in order]
        assert got == (expected if order is events else expected[::-1])


@pytest.mark.parametrize("kwargs", [{}, {"max_scatter": 1e-3}, {"max_scatter": 1.0, "min_strong_track_length": 3},
                                    {"min_strong_track_length": 0, "allowed_missed_modules": 0}])
@pytest.mark.parametrize("layout", LAYOUTS)
def test_realistic_events_match_native_reference(kwargs, layout):
    algorithm = SearchByTripletTrie(**kwargs)
    for seed in (0, 1) if layout == "generated" else (2,):
        event = Event(layout_event(3000, layout, seed))
        assert native_reference.triplet_trie_entries(algorithm, event, False) == native_reference.triplet_trie_entries(
            algorithm, event, True)
        assert described(algorithm.solve(event)) == described(native_reference.search_by_triplet_trie(algorithm, event))


# ---- batches ---------------------------------------------------------------------

def test_batch_equals_solve_per_event():
    algorithm = SearchByTripletTrie(0.2, 3, 1)
    events = [Event(sized_event(n, seed=s)) for s, n in enumerate([300, 52, 900, 600])]
    expected = [described(algorithm.solve(e)) for e in events]
    assert [described(r) for r in algorithm.solve_batch(events + events[:1])] == expected + expected[:1]
    assert algorithm.solve_batch(()) == []


@pytest.mark.parametrize("threads", ["1", "2"])
def test_batch_results_do_not_depend_on_thread_count(threads):
    result = run_child("""
        trie = corvane.ReconstructionAlgorithms.SearchByTripletTrie()
        same = [track_ids(r) for r in trie.solve_batch(events * 3)] == [track_ids(trie.solve(e)) for e in events * 3]
        print(json.dumps(same))
    """, {"RAYON_NUM_THREADS": threads})
    assert result is True
