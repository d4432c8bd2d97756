"""Pickling and copying of every class: round trips read back equal, the
Monte Carlo object travels with its event, algorithms keep their parameters,
and the private restorer checks what it is given."""
import copy
import math
import multiprocessing
import pickle

import pytest

import corvane
from corvane import DetectorEvent, ReconstructionAlgorithms
from event_builders import sized_event, track_ids

Hit, Track, Module, Event = DetectorEvent.Hit, DetectorEvent.Track, DetectorEvent.Module, DetectorEvent.Event
TrackFollowing = ReconstructionAlgorithms.TrackFollowing

COPIERS = {
    **{f"pickle{protocol}": (lambda obj, p=protocol: pickle.loads(pickle.dumps(obj, protocol=p)))
       for protocol in range(pickle.HIGHEST_PROTOCOL + 1)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


def number(value):
    """Floats compared bit for bit (NaN equals NaN, -0.0 differs from 0.0)."""
    return value.hex() if isinstance(value, float) else value


def read_hit(hit):
    return tuple(number(getattr(hit, name)) for name in ("id", "x", "y", "z", "t", "module_number", "with_t"))


def read_track(track):
    return [read_hit(h) for h in track.hits], track.missed_last_module, track.missed_penultimate_module


def read_module(module):
    return module.module_number, repr(module), [read_hit(h) for h in module.hits()]


def read_event(event):
    return (event.description, event.module_prefix_sum, event.number_of_hits,
            [[number(z) for z in zs] for zs in event.module_zs], [read_hit(h) for h in event.hits],
            [read_module(m) for m in event.modules])


def small_event(montecarlo, **extra):
    data = {"description": "two per module", "montecarlo": montecarlo,
            "module_prefix_sum": [2 * m for m in range(53)] + [200, 300],
            "x": [0.5 * i for i in range(104)] + [9.0], "y": [-0.0] * 104, "z": [float(i // 2) for i in range(104)]}
    data.update(extra)
    return Event(data)


HITS = [Hit(1, 2, 3, 4), Hit(0.5, -0.0, 1e-7, 0, 2, 12.5), Hit(math.nan, math.inf, -math.inf, -5, -1, None, True),
        Hit(1.5, -2.0, 100.0, 2**31 - 1, module=2**31 - 1, t=0.25, with_t=True)]


@pytest.mark.parametrize("copier", COPIERS.values(), ids=COPIERS.keys())
def test_hits_tracks_and_modules_read_back_equal(copier):
    flagged = corvane._restore("Track", (HITS, True, False, 2))
    cases = [(h, read_hit) for h in HITS] + [
        (Track([]), read_track), (Track(HITS + HITS[:1]), read_track), (flagged, read_track),
        (Module(3, 100.0, 1, 3, HITS), read_module), (Module(0, -0.0, 0, 0, []), read_module),
    ]
    for original, read in cases:
        restored = copier(original)
        assert type(restored) is type(original) and restored is not original
        assert read(restored) == read(original)
    assert copier(flagged).__reduce__()[1][1][1:] == (True, False, 2)  # the hidden miss counter too


@pytest.mark.parametrize("copier", COPIERS.values(), ids=COPIERS.keys())
@pytest.mark.parametrize("montecarlo", [None, {"description": ["key", "hits"], "particles": [[1, [0, 1, 2]]]}])
@pytest.mark.parametrize("times", [False, True])
def test_events_read_back_equal_with_their_montecarlo(copier, montecarlo, times):
    extra = {"t": [0.1 * i for i in range(104)]} if times else {}
    original = small_event(montecarlo, **extra)
    restored = copier(original)
    assert read_event(restored) == read_event(original)
    assert restored.montecarlo == montecarlo
    # A shallow copy shares the stored object; every other copy has its own.
    assert (restored.montecarlo is original.montecarlo) == (copier is copy.copy or montecarlo is None)


def test_montecarlo_objects_shared_within_one_pickle_stay_shared():
    montecarlo = {"description": [], "particles": []}
    first, second = pickle.loads(pickle.dumps([small_event(montecarlo), small_event(montecarlo)]))
    assert first.montecarlo is second.montecarlo


@pytest.mark.parametrize("copier", [pickle.dumps, copy.deepcopy])
def test_a_montecarlo_object_referring_to_its_event(copier):
    montecarlo = {}
    original = small_event(montecarlo)
    montecarlo["event"] = original
    restored = pickle.loads(copier(original)) if copier is pickle.dumps else copier(original)
    assert read_event(restored) == read_event(original)
    assert restored.montecarlo["event"].montecarlo is restored.montecarlo


@pytest.mark.parametrize("copier", COPIERS.values(), ids=COPIERS.keys())
@pytest.mark.parametrize("cls, arguments", [
    (TrackFollowing, ()), (TrackFollowing, ((0.5, 0.25), (0.3, 0.2), 0.1, 5, 4)),
    (TrackFollowing, (None, None, math.inf, 0, 255)),
    (ReconstructionAlgorithms.GraphDFS, ()),
    (ReconstructionAlgorithms.GraphDFS, ((0.5, 0.25), (0.3, 0.2), 0.1, -3, 2 ** 31 - 1, 0, False, False)),
    (ReconstructionAlgorithms.SearchByTripletTrie, ()), (ReconstructionAlgorithms.SearchByTripletTrie, (0.3, 0, 2**64 - 1)),
])
def test_algorithms_keep_their_parameters(copier, cls, arguments):
    event = Event(sized_event(800, seed=3))
    original = cls(*arguments)
    restored = copier(original)
    assert track_ids(restored.solve(event)) == track_ids(original.solve(event))
    assert restored.__reduce__() == original.__reduce__()


def test_pickled_bytes_are_values_only():
    # Equal objects built apart pickle to the same bytes, so no address or
    # identity leaks into them.
    for make in (lambda: Hit(1, 2, 3, 4), lambda: Track(HITS), lambda: Module(1, 2.0, 0, 1, HITS),
                 lambda: small_event({"k": 1}), lambda: TrackFollowing((0.1, 0.2))):
        assert pickle.dumps(make()) == pickle.dumps(make())


@pytest.mark.parametrize("name, arguments, error, message", [
    ("Nothing", (), ValueError, "no class to restore named 'Nothing'"),
    ("Hit", [1, 2, 3, 4], TypeError, "'list' object cannot be converted to 'PyTuple'"),
    ("Hit", (1, 2, 3), TypeError, "Hit.__new__() missing 1 required positional argument: 'hit_id'"),
    ("Hit", (1, 2, 3, 2**31), OverflowError, None),
    ("Track", ([], True, False), TypeError, "Track() missing 1 required positional argument: 'missed'"),
    ("Track", ([1], True, False, 0), TypeError, "argument 'hits': 'int' object cannot be converted to 'Hit'"),
    ("Track", ([], 1, False, 0), TypeError,
     "argument 'missed_last_module': 'int' object cannot be converted to 'PyBool'"),
    ("Track", ([], True, False, 256), OverflowError, "out of range integral type conversion attempted"),
    ("Module", (0, 0.0, 2, 1, []), ValueError, "Invalid hit indices: hit_end_index must be >= hit_start_index and "
                                               "within bounds of global_hits"),
    ("Event", ({"description": "no coordinates", "montecarlo": None},), corvane.InternalFailure, None),
    ("TrackFollowing", ([0.1, 0.2],), TypeError, None),
])
def test_restorer_checks_like_the_constructors(name, arguments, error, message):
    with pytest.raises(error) as raised:
        corvane._restore(name, arguments)
    if message is not None:
        assert str(raised.value) == message


def _solve_elsewhere(algorithm, event):
    return track_ids(algorithm.solve(event)), event.montecarlo


def test_objects_travel_to_another_process():
    event = Event({**sized_event(500, seed=1), "montecarlo": {"particles": []}})
    algorithm = TrackFollowing((0.6, 0.6))
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        ids, montecarlo = pool.apply(_solve_elsewhere, (algorithm, event))
    assert ids == track_ids(algorithm.solve(event))
    assert montecarlo == {"particles": []}
