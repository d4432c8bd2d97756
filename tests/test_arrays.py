"""Tracks and events as arrays, checked against the attribute reads."""
import sys

import numpy as np
import pytest

import corvane
from corvane import DetectorEvent, ReconstructionAlgorithms
from corvane_tools import arrays
from event_builders import sized_event

Hit, Track, Event = DetectorEvent.Hit, DetectorEvent.Track, DetectorEvent.Event


def solved(hit_count, seed):
    event = Event(sized_event(hit_count, seed=seed))
    return event, ReconstructionAlgorithms.TrackFollowing().solve(event)


def hand_tracks():
    hits = [Hit(0, 0, float(i), i) for i in range(5)] + [Hit(1, 1, 1, -7), Hit(1, 1, 1, 2**31 - 1)]
    flagged = corvane._restore("Track", (hits[:3], True, False, 1))
    other = corvane._restore("Track", (hits[4:], False, True, 0))
    return [Track([]), Track(hits), flagged, Track([hits[0], hits[0]]), other, Track([])]


@pytest.mark.parametrize("tracks", [
    [], solved(3000, 1)[1], hand_tracks(), tuple(hand_tracks()),
], ids=["empty", "solved", "by-hand", "tuple"])
def test_track_arrays_match_the_tracks(tracks):
    result = arrays.track_arrays(tracks)
    assert len(result) == len(tracks) and result.offsets[0] == 0
    assert [list(result.track(i)) for i in range(len(tracks))] == [[h.id for h in t.hits] for t in tracks]
    assert list(result.lengths) == [len(t.hits) for t in tracks]
    assert list(result.missed_last_module) == [t.missed_last_module for t in tracks]
    assert list(result.missed_penultimate_module) == [t.missed_penultimate_module for t in tracks]
    assert (result.hit_ids.dtype, result.offsets.dtype, result.missed_last_module.dtype) == (
        np.int32, np.int64, np.bool_)


def test_batches_give_one_set_of_arrays_per_event():
    events = [Event(sized_event(600, seed=s)) for s in range(3)]
    per_event = ReconstructionAlgorithms.TrackFollowing().solve_batch(events)
    batch = arrays.batch_track_arrays(per_event)
    assert [list(a.hit_ids) for a in batch] == [list(arrays.track_arrays(t).hit_ids) for t in per_event]


@pytest.mark.parametrize("tracks, message", [
    ([Track([]), 1], "argument 'tracks': 'int' object cannot be converted to 'Track'"),
    ("abc", "argument 'tracks': Can't extract `str` to `Vec`"),
    (5, "argument 'tracks': 'int' object cannot be converted to 'Sequence'"),
    ([[Track([])]], "argument 'tracks': 'list' object cannot be converted to 'Track'"),
])
def test_track_arrays_refuse_what_is_not_tracks(tracks, message):
    with pytest.raises(TypeError) as raised:
        arrays.track_arrays(tracks)
    assert str(raised.value) == message


@pytest.mark.parametrize("index", [6, -7])
def test_track_index_out_of_range(index):
    with pytest.raises(IndexError):
        arrays.track_arrays(hand_tracks()).track(index)


def test_awkward_lists_hold_the_hit_ids():
    ak = pytest.importorskip("awkward")
    tracks = hand_tracks()
    expected = [[h.id for h in t.hits] for t in tracks]
    assert arrays.track_hit_ids_awkward(tracks).to_list() == expected
    assert arrays.track_hit_ids_awkward(arrays.track_arrays(tracks)).to_list() == expected
    assert str(ak.type(arrays.track_hit_ids_awkward([]))) == "0 * var * int32"


def test_awkward_missing_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "awkward", None)
    with pytest.raises(ImportError, match=r'corvane\[awkward\]'):
        arrays.track_hit_ids_awkward([])


@pytest.mark.parametrize("with_t", [False, True])
@pytest.mark.parametrize("as_numpy", [False, True])
def test_event_arrays_match_the_hits(with_t, as_numpy):
    data = sized_event(800, seed=4)
    data["module_prefix_sum"] = data["module_prefix_sum"] + [10**12]
    data["x"] = data["x"] + [123.0]  # beyond the last hit: not a hit
    if with_t:
        data["t"] = [0.5 * i for i in range(len(data["x"]))]
    if as_numpy:
        data.update({k: np.asarray(data[k]) for k in ("x", "y", "z", "t") if k in data})
    event = Event(data)
    result = arrays.event_arrays(event)
    hits = event.hits
    for name in ("id", "x", "y", "z", "t", "module_number"):
        assert getattr(result, name).tolist() == [getattr(h, name) for h in hits], name
    assert result.with_t is with_t
    assert result.module_prefix_sum.tolist() == event.module_prefix_sum


def test_event_arrays_refuse_other_objects():
    with pytest.raises(TypeError, match="^argument 'event': 'dict' object cannot be converted to 'Event'$"):
        arrays.event_arrays({})
