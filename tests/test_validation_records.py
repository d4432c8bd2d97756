"""Validation records measured in pieces and folded in event order must give
exactly what one run over all events gives: text, dictionaries, warnings."""
import random

import pytest

import corvane
from corvane import Validator
import validation_builders as build

records = corvane._records


def random_pieces(seed):
    """Events with their tracks, cut at random places (empty pieces included)."""
    rng = random.Random(seed)
    events = [build.random_event(rng) for _ in range(rng.randint(0, 14))]
    tracks = [build.random_tracks(rng, event) for event in events]
    cuts = sorted(rng.randint(0, len(events)) for _ in range(rng.randint(0, 4)))
    bounds = [0, *cuts, len(events)]
    return events, tracks, [(a, b) for a, b in zip(bounds, bounds[1:])]


def fold(events, tracks, pieces, verbose, detailed):
    # Each piece is measured on its own (as a worker would) and travels as bytes.
    blobs = [records.measure_events(events[a:b], tracks[a:b]) for a, b in pieces]
    fold = records.RecordFold(verbose, detailed)
    assert sum(fold.add(bytearray(blob) if i % 2 else blob) for i, blob in enumerate(blobs)) == len(events)
    assert fold.events == len(events)
    return fold


@pytest.mark.parametrize("seed", range(150))
def test_folded_pieces_equal_one_run(seed, capfd):
    events, tracks, pieces = random_pieces(seed)
    verbose = seed % 2 == 0

    Validator.print_validation_summary(events, tracks, verbose)
    expected_summary = capfd.readouterr().out
    expected = {detailed: (Validator.export_detailed_metrics_json if detailed else Validator.export_validation_to_json)(
        events, tracks, False) for detailed in (False, True)}

    for detailed in (False, True):
        folded = fold(events, tracks, pieces, verbose, detailed)
        # Warnings are written while folding, in event order, as the direct run writes them.
        warnings = capfd.readouterr().out
        assert warnings + folded.summary() == expected_summary
        assert build.ordered(folded.export()) == build.ordered(expected[detailed])


def test_average_ghost_rate_over_given_events(capfd):
    """Unpaired events still count in the event average, as in the direct run."""
    events = [build.event(4, [build.particle(1, [0, 1, 2])]) for _ in range(3)]
    tracks = [[build.track(0, 1, 2), build.track(2, 3)], [build.track(3, 0)]]
    Validator.print_validation_summary(events, tracks, False)
    folded = records.RecordFold(False)
    folded.add(records.measure_events(events, tracks))
    assert folded.summary(len(events)) == capfd.readouterr().out
    assert folded.export(len(events)) == Validator.export_validation_to_json(events, tracks, False)
    assert folded.summary() != folded.summary(len(events))


def test_measuring_fails_like_the_validation():
    events = [build.event(3, [build.particle(1, [0, 1])])]
    with pytest.raises(RuntimeError, match="hit with id 7 not found"):
        records.measure_events(events, [[build.track(0, 7)]])


GOOD = records.measure_events([build.event(3, [build.particle(1, [0, 1, 2])])], [[build.track(0, 1, 2)]])


@pytest.mark.parametrize("blob, error", [
    (b"", ValueError),
    (b"xyz1" + GOOD[4:], ValueError),
    (GOOD[:-1], ValueError),            # truncated inside a double
    (GOOD + b"\x00", ValueError),       # trailing bytes
    (GOOD[:4] + b"\x06" + GOOD[5:], ValueError),  # made for another number of categories
    (GOOD[:5] + b"\xff\xff\xff\xff\xff\xff\xff\xff\x7f", ValueError),  # claims more records than bytes
    (GOOD[:5] + b"\x01" + b"\xff" * 10 + b"\x01", ValueError),        # integer beyond 64 bits
    ("text", TypeError),
    ([1, 2], TypeError),
])
def test_bad_records_change_nothing(blob, error):
    folded = records.RecordFold(False, True)
    folded.add(GOOD)
    before = (folded.summary(), folded.export())
    with pytest.raises(error):
        folded.add(blob)
    assert (folded.events, folded.summary(), folded.export()) == (1, *before)


def test_private_module_stays_out_of_the_listing():
    assert "_records" not in corvane.__all__
    assert records.RecordFold(False).export() == Validator.export_validation_to_json([], [], False)


@pytest.mark.parametrize("seed", range(20))
def test_per_event_totals(seed):
    """Per-event totals add up like the export of those events alone."""
    events, tracks, _ = random_pieces(seed)
    totals = records.event_totals(records.measure_events(events, tracks))
    assert totals == [(alone["total_tracks"], alone["total_ghosts"]) for alone in (
        Validator.export_validation_to_json([event], [event_tracks], False)
        for event, event_tracks in zip(events, tracks))]


@pytest.mark.parametrize("seed", range(40))
def test_events_taken_as_folded_number_on(seed, capfd):
    """Snapshots handed over piece by piece, and those left in the fold, make up the detailed export."""
    events, tracks, pieces = random_pieces(seed)
    expected = Validator.export_detailed_metrics_json(events, tracks, False)
    folded = records.RecordFold(False, True)
    taken = {}
    for number, (a, b) in enumerate(pieces):
        folded.add(records.measure_events(events[a:b], tracks[a:b]))
        if number < len(pieces) - 1:
            taken.update(folded.take_events())
    export = folded.export()
    assert not set(taken) & set(export["events"])
    assert folded.take_events() == export["events"] and folded.export()["events"] == {}
    export["events"] = {**taken, **export["events"]}
    assert list(export["events"]) == [str(i + 1) for i in range(len(events))]
    assert build.ordered(export) == build.ordered(expected)
    capfd.readouterr()
