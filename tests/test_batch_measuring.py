"""A batch of solved events measured and turned into arrays in one call gives what measuring the events
one list at a time and converting their tracks one event at a time give."""
import hashlib

import numpy as np
import pytest

import corvane
from corvane_tools.arrays import batch_track_arrays, split_track_columns
from corvane_tools.generator import generate_events
from corvane_tools.job_fold import _digest_tracks
from corvane_tools.parquet_layout import events_table
from corvane_tools.typed_truth import TypedTruth, truth_columns
from validation_builders import track


@pytest.fixture(scope="module")
def batch():
    """Five generated events, the third without truth, with their typed records and tracks."""
    events = generate_events(5, 17)
    events[2] = dict(events[2], montecarlo=None)
    entries = events_table(events).column("montecarlo").combine_chunks()
    typed = [dict(event, montecarlo=TypedTruth(entries.slice(i, 1)) if event["montecarlo"] else None)
             for i, event in enumerate(events)]
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    return events, typed, solver.solve_batch([corvane.DetectorEvent.Event(event) for event in events])


def digest(arrays):
    running = hashlib.sha256()
    for event in arrays:
        _digest_tracks(running, event)
    return running.hexdigest()


def mixed_tracks(events):
    """Per event: a track of hits of two particles, one of a single hit, an empty one and a repeated one."""
    lists = []
    for event in events:
        truth = event["montecarlo"] or {}
        rows = truth.get("particles", [])
        column = truth["description"].index("hits") if rows else 0
        first, second = (rows[0][column], rows[1][column]) if len(rows) > 1 else ([0, 1], [2])
        mixed = track(*first[:2], *second[:2])
        lists.append([mixed, track(first[0]), track(), mixed])
    return lists


@pytest.mark.parametrize("tracks_of", ["solved", "none", "mixed"])
@pytest.mark.parametrize("chosen", [[0, 1, 3, 4], [4], []])
def test_batch_call_equals_per_event_calls(batch, tracks_of, chosen):
    events, typed, solved = batch
    tracks = {"solved": solved, "none": [[] for _ in events], "mixed": mixed_tracks(events)}[tracks_of]
    records, *columns = corvane._records.measure_tracks(*truth_columns([typed[i] for i in chosen]),
                                                        np.array(chosen, dtype="<i8").tobytes(), tracks)
    assert records == corvane._records.measure_events([events[i] for i in chosen], [tracks[i] for i in chosen])
    split, one_by_one = split_track_columns(*columns), batch_track_arrays(tracks)
    assert len(split) == len(events)
    for ours, theirs in zip(split, one_by_one):
        for name in ("hit_ids", "offsets", "missed_last_module", "missed_penultimate_module"):
            assert np.array_equal(getattr(ours, name), getattr(theirs, name)), name
            assert getattr(ours, name).dtype == getattr(theirs, name).dtype, name
    assert digest(split) == digest(one_by_one)


def test_empty_batch():
    records, *columns = corvane._records.measure_tracks(*truth_columns([]), b"", [])
    assert records == corvane._records.measure_events([], [])
    assert split_track_columns(*columns) == []


@pytest.mark.parametrize("measured, error", [
    ([1, 0], ValueError),        # not increasing
    ([0, 0], ValueError),        # repeated
    ([0, 5], ValueError),        # beyond the track lists
    ([-1, 0], ValueError),
    ([0], ValueError),           # fewer positions than events with truth
])
def test_bad_positions_are_refused(batch, measured, error):
    events, typed, solved = batch
    with pytest.raises(error):
        corvane._records.measure_tracks(*truth_columns(typed[:2]), np.array(measured, dtype="<i8").tobytes(),
                                        solved)


def test_foreign_hit_fails_as_measuring_one_by_one(batch):
    events, typed, _ = batch
    tracks = [[track(0, 10 ** 6)]] + [[] for _ in events[1:]]
    with pytest.raises(RuntimeError) as one_by_one:
        corvane._records.measure_events(events[:1], tracks[:1])
    with pytest.raises(RuntimeError) as batched:
        corvane._records.measure_tracks(*truth_columns(typed[:1]), np.zeros(1, "<i8").tobytes(), tracks)
    assert str(batched.value) == str(one_by_one.value)


@pytest.mark.parametrize("name", ["TrackFollowing", "SearchByTripletTrie", "GraphDFS"])
def test_solving_into_columns_gives_the_batch_solvers_tracks(batch, name):
    events, _, _ = batch
    solver = getattr(corvane.ReconstructionAlgorithms, name)()
    handles = [corvane.DetectorEvent.Event(event) for event in events]
    ours, theirs = split_track_columns(*corvane._records.solve_tracks(solver, handles)), \
        batch_track_arrays(solver.solve_batch(handles))
    assert digest(ours) == digest(theirs) and len(ours) == len(events)
    assert split_track_columns(*corvane._records.solve_tracks(solver, [])) == []


def test_solving_into_columns_refuses_other_objects(batch):
    with pytest.raises(TypeError):
        corvane._records.solve_tracks(object(), [])


@pytest.mark.parametrize("chosen", [[0, 1, 3, 4], [4], []])
def test_measuring_columns_equals_measuring_track_objects(batch, chosen):
    events, typed, _ = batch
    tracks = mixed_tracks(events)
    measured = np.array(chosen, dtype="<i8").tobytes()
    records, *columns = corvane._records.measure_tracks(*truth_columns([typed[i] for i in chosen]), measured, tracks)
    assert corvane._records.measure_solved(truth_columns([typed[i] for i in chosen]), measured, *columns) == records
    assert corvane._records.measure_solved([events[i] for i in chosen], measured, *columns) == records


def _misfit(columns, which):
    """Columns of a batch of tracks (see solve_tracks) with one thing that does not fit."""
    hit_ids, offsets, last, penultimate, counts = (np.frombuffer(column, dtype) for column, dtype in
                                                   zip(columns, ("<i4", "<i8", "u1", "u1", "<i8")))
    if which == "offsets start past 0":
        offsets = offsets + 1
    elif which == "offsets decrease":
        offsets = offsets.copy()
        offsets[1] = offsets[2] + 1
    elif which == "offsets end short":
        offsets = offsets.copy()
        offsets[-1] -= 1
    elif which == "a flag missing":
        last = last[:-1]
    elif which == "counts add up short":
        counts = counts.copy()
        counts[0] -= 1
    elif which == "a negative count":
        counts = counts.copy()
        counts[0], counts[1] = -1, counts[1] + counts[0] + 1
    return [column.tobytes() for column in (hit_ids, offsets, last, penultimate, counts)]


@pytest.mark.parametrize("which", ["offsets start past 0", "offsets decrease", "offsets end short",
                                   "a flag missing", "counts add up short", "a negative count"])
def test_columns_that_do_not_fit_are_refused(batch, which):
    events, typed, solved = batch
    columns = corvane._records.measure_tracks(*truth_columns(typed[:1]), np.zeros(1, "<i8").tobytes(), solved)[1:]
    with pytest.raises(ValueError, match="do not fit"):
        corvane._records.measure_solved(truth_columns(typed[:1]), np.zeros(1, "<i8").tobytes(),
                                        *_misfit(columns, which))


@pytest.mark.parametrize("chosen", [[0, 1], [3, 4], [1, 3, 4], [4, 3]])
def test_truth_columns_of_entries_sliced_or_joined_are_the_same(batch, chosen):
    """Consecutive entries of one column are read as one slice of it, any others joined: the same bytes."""
    events, _, _ = batch
    entries = events_table(events).column("montecarlo").combine_chunks()
    whole = [dict(events[i], montecarlo=TypedTruth(entries, i)) for i in chosen]
    apart = [dict(events[i], montecarlo=TypedTruth(entries.slice(i, 1))) for i in chosen]
    assert [bytes(column) for column in truth_columns(whole)] == [bytes(column) for column in truth_columns(apart)]
