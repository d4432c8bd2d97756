import pytest

import corvane
from corvane_tools import algorithms
from corvane_tools.arrays import batch_track_arrays
from corvane_tools.binned import CATEGORIES, edges_for_counts, efficiency_in_bins, ghost_rates
from corvane_tools.generator import generate_events
from corvane_tools.job import hit_count, validation_input
from corvane_tools.work_units import JobOptions, plan_generated, process_unit


def flat(arrays):
    return [column.tolist() for column in (arrays.hit_ids, arrays.offsets, arrays.missed_last_module,
                                           arrays.missed_penultimate_module)]


@pytest.fixture(scope="module")
def events():
    return generate_events(5, 21)


@pytest.fixture(scope="module")
def tracks(events):
    solver = algorithms.construct("track_following")
    return [solver.solve(corvane.DetectorEvent.Event(e)) for e in events]


@pytest.mark.parametrize("chunk_size", [1, 2, 5, 64])
def test_chunking_does_not_change_tracks(events, tracks, chunk_size):
    (unit,) = plan_generated(len(events), 21)
    output = process_unit(unit, JobOptions(("track_following",), chunk_size)).outputs["track_following"]
    assert [flat(a) for a in output.tracks] == [flat(a) for a in batch_track_arrays(tracks)]


@pytest.mark.parametrize("variable, edges", [("p", [0.0, 2000.0, 5000.5, 1e12]), ("eta", [-1e9, -1.0, 2.5, 1e9])])
def test_bins_add_up_to_the_whole(events, tracks, variable, edges):
    whole = {c["label"]: c for c in corvane.Validator.export_validation_to_json(events, tracks, False)["categories"]}
    table = efficiency_in_bins(events, tracks, variable, edges)
    for name in CATEGORIES:
        expected = whole.get(name, {"n_particles": 0, "n_recon_particles": 0})
        assert sum(r.total for r in table[name]) == expected["n_particles"], name
        assert sum(r.passed for r in table[name]) == expected["n_recon_particles"], name


def test_ghost_bins_add_up_to_the_whole(events, tracks):
    counts = [hit_count(e) for e in events]
    edges = edges_for_counts(counts)
    assert edges[0] <= min(counts) and max(counts) < edges[-1]
    totals = corvane._records.event_totals(corvane._records.measure_events(events, tracks))
    whole = corvane.Validator.export_validation_to_json(events, tracks, False)
    rates = ghost_rates(counts, totals, edges)
    assert sum(r.passed for r in rates) == whole["total_ghosts"]
    assert sum(r.total for r in rates) == whole["total_tracks"]


def test_events_without_truth_still_run(events):
    bare = [dict(events[0], montecarlo=None)]
    tracks = [algorithms.construct("track_following").solve(corvane.DetectorEvent.Event(bare[0]))]
    summary = corvane.Validator.export_detailed_metrics_json(validation_input(bare), tracks, False)
    assert summary["total_ghosts"] == 0 and summary["categories"] == []
