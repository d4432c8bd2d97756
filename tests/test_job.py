import pytest

import corvane
from corvane_tools import algorithms
from corvane_tools.binned import CATEGORIES, efficiency_in_bins, ghost_rate_by_hits, hit_count_edges
from corvane_tools.digest import tracks_digest
from corvane_tools.generator import generate_events
from corvane_tools.job import hit_count, reconstruct, report


@pytest.fixture(scope="module")
def events():
    return generate_events(5, 21)


@pytest.fixture(scope="module")
def tracks(events):
    return reconstruct(events, ["track_following"])[0].tracks


@pytest.mark.parametrize("chunk_size", [1, 2, 5, 64])
def test_chunking_does_not_change_tracks(events, tracks, chunk_size):
    solver = algorithms.construct("track_following")
    single = [solver.solve(corvane.DetectorEvent.Event(e)) for e in events]
    (run,) = reconstruct(events, ["track_following"], chunk_size)
    assert tracks_digest(run.tracks) == tracks_digest(single) == tracks_digest(tracks)
    assert run.timing.events == 5 and run.timing.hits == sum(hit_count(e) for e in events)


@pytest.mark.parametrize("variable, edges", [("p", [0.0, 2000.0, 5000.5, 1e12]), ("eta", [-1e9, -1.0, 2.5, 1e9])])
def test_bins_add_up_to_the_whole(events, tracks, variable, edges):
    whole = {c["label"]: c for c in corvane.Validator.export_validation_to_json(events, tracks, False)["categories"]}
    table = efficiency_in_bins(events, tracks, variable, edges)
    for name in CATEGORIES:
        expected = whole.get(name, {"n_particles": 0, "n_recon_particles": 0})
        assert sum(r.total for r in table[name]) == expected["n_particles"], name
        assert sum(r.passed for r in table[name]) == expected["n_recon_particles"], name


def test_ghost_bins_add_up_to_the_whole(events, tracks):
    edges = hit_count_edges(events)
    counts = [hit_count(e) for e in events]
    assert edges[0] <= min(counts) and max(counts) < edges[-1]
    whole = corvane.Validator.export_validation_to_json(events, tracks, False)
    rates = ghost_rate_by_hits(events, tracks, edges)
    assert sum(r.passed for r in rates) == whole["total_ghosts"]
    assert sum(r.total for r in rates) == whole["total_tracks"]


def test_events_without_truth_still_run(events):
    bare = [dict(events[0], montecarlo=None)]
    runs = reconstruct(bare, ["track_following"])
    summary = report(bare, runs, "bare", [])["algorithms"]["track_following"]["validation"]
    assert summary["total_ghosts"] == 0 and summary["categories"] == []


@pytest.mark.parametrize("environment, expected", [
    ({"RAYON_NUM_THREADS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "+3", "RAYON_RS_NUM_CPUS": "5"}, 3),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, "cpus"),
    ({"RAYON_NUM_THREADS": " 3", "RAYON_RS_NUM_CPUS": "5"}, 5),
    ({"RAYON_NUM_THREADS": "-1", "RAYON_RS_NUM_CPUS": "0"}, "cpus"),
    ({"RAYON_NUM_THREADS": str(2 ** 64)}, "cpus"),
    ({}, "cpus"),
])
def test_pool_size_follows_the_sizing_rules(monkeypatch, environment, expected):
    monkeypatch.delenv("RAYON_NUM_THREADS", raising=False)
    monkeypatch.delenv("RAYON_RS_NUM_CPUS", raising=False)
    for name, value in environment.items():
        monkeypatch.setenv(name, value)
    monkeypatch.setattr(algorithms.os, "sched_getaffinity", lambda pid: {0, 1, 2, 3, 4, 5, 6})
    assert algorithms.pool_size() == (7 if expected == "cpus" else expected)
