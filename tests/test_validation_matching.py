"""Track weights, matching at the 0.7 threshold, clones, purities, hit
efficiencies and ghosts, observed through the exported statistics."""
import pytest

import corvane
from corvane import DetectorEvent, Validator
from validation_builders import event, particle, track


def export(events, tracks):
    return Validator.export_detailed_metrics_json(events, tracks, False)


def velo(events, tracks):
    return export(events, tracks)["categories"][0]


def test_full_and_partial_weight_track():
    # All 4 hits from A, 3 of them also from B: 1.0 for A, 0.75 for B.
    data = event(4, [particle(1, [0, 1, 2, 3]), particle(2, [1, 2, 3])])
    stats = velo([data], [[track(0, 1, 2, 3)]])
    # B is reconstructed through A's track, which counts only for A.
    assert (stats["n_recon_particles"], stats["n_clones"]) == (2, 0)
    assert (stats["purity"], stats["avg_purity"]) == (50.0, 100.0)


@pytest.mark.parametrize("b_first, hiteff", [(False, 75.0), (True, 100.0)])
def test_equal_weights_match_the_later_particle(b_first, hiteff):
    a, b = particle(1, [0, 1, 2]), particle(2, [1, 2, 3, 9])
    data = event(10, [b, a] if b_first else [a, b])
    # 0.75 for both: the later row wins, and its hit list sets the efficiency.
    assert velo([data], [[track(0, 1, 2, 3)]])["avg_hiteff"] == hiteff


@pytest.mark.parametrize("shared, matched", [(7, False), (8, True)])
def test_threshold_is_strict(shared, matched):
    data = event(10, [particle(1, list(range(shared)))])
    result = export([data], [[track(*range(10))]])
    assert result["categories"][0]["n_recon_particles"] == int(matched)
    assert result["total_ghosts"] == int(not matched)


@pytest.mark.parametrize("second, clones, ghosts", [((0, 1, 2), 0, 0), ((0, 1, 2, 3), 1, 0)])
def test_identical_tracks_are_one_entry_different_ones_clones(second, clones, ghosts):
    data = event(5, [particle(1, [0, 1, 2, 3])])
    result = export([data], [[track(0, 1, 2), track(*second)]])
    stats = result["categories"][0]
    assert (stats["n_recon_particles"], stats["n_clones"]) == (1, clones)
    assert stats["clone_percentage"] == 100.0 * clones
    # Both tracks count in the total, the equal pair once in the rate.
    assert (result["total_tracks"], result["total_ghosts"]) == (2, ghosts)


@pytest.mark.parametrize("last, penultimate, missed, clones", [
    (False, False, 3, 0),  # the count of missed modules takes no part in identity
    (True, False, 0, 1),
    (False, True, 0, 1),
])
def test_track_identity_takes_the_flags(last, penultimate, missed, clones):
    hits = [DetectorEvent.Hit(0.0, 0.0, float(i), i) for i in (0, 1, 2)]
    flagged = corvane._restore("Track", (hits, last, penultimate, missed))
    stats = velo([event(5, [particle(1, [0, 1, 2, 3])])], [[track(0, 1, 2), flagged]])
    assert (stats["n_recon_particles"], stats["n_clones"]) == (1, clones)


def test_event_without_particles_has_no_ghosts_and_warns(capfd):
    result = Validator.export_validation_to_json([event(5, [])], [[track(0, 1), track(2)]], True)
    assert (result["total_tracks"], result["total_ghosts"], result["overall_ghost_rate"]) == (2, 0, 0.0)
    lines = capfd.readouterr().out.splitlines()
    assert len(lines) == 7 and lines[1] == "update_efficiencies: No particles match condition for 'long'"


@pytest.mark.parametrize("ids, fails", [((99,), False), ((), False), ((0, 99), True), ((-1, 0), True)])
def test_short_tracks_are_never_looked_up(ids, fails):
    data = event(5, [particle(1, [0, 1])])
    if fails:
        with pytest.raises(RuntimeError, match=f"^Error: hit with id {ids[0] if ids[0] < 0 else 99} not found"):
            export([data], [[track(*ids)]])
    else:
        # A track of fewer than 2 hits weighs 0 everywhere: a ghost.
        assert export([data], [[track(*ids)]])["total_ghosts"] == 1


def test_statistics_carry_over_an_event_without_the_category():
    first = event(6, [particle(1, [0, 1, 2, 3, 4], p=7000.0)])
    second = event(6, [particle(2, [0, 1], isLong=0)])
    result = export([first, second], [[track(0, 1, 2, 3)], [track(0, 1)]])
    events = result["events"]
    assert list(events) == ["1", "2"]
    long_after = [{c["label"]: c for c in events[n]}["long"] for n in ("1", "2")]
    assert long_after[0] == long_after[1] and long_after[0]["avg_hiteff"] == 80.0
    # velo had particles in both events: cumulative counts.
    assert [{c["label"]: c for c in events[n]}["velo"]["n_particles"] for n in ("1", "2")] == [1, 2]


def test_hit_efficiency_of_a_partial_track():
    data = event(20, [particle(1, [0, 1, 2, 3, 4, 5, 6, 7, 7])])
    # 4 of the track's 5 hits among the particle's 8 distinct ids.
    stats = velo([data], [[track(0, 1, 2, 3, 15)]])
    assert (stats["avg_hiteff"], stats["hit_eff_percentage"], stats["avg_purity"]) == (50.0, 50.0, 80.0)


def test_repeated_hit_in_a_track_counts_twice():
    data = event(5, [particle(1, [0, 1]), particle(2, [2, 3])])
    # Hit 0 twice: 3 of 4 hits from particle 1.
    stats = velo([data], [[track(0, 0, 1, 2)]])
    assert (stats["n_recon_particles"], stats["avg_purity"]) == (1, 75.0)


def test_repeated_key_rows_form_one_particle():
    rows = [particle(4, [0, 1]), particle(4, [2, 3])]
    stats = velo([event(5, rows)], [[track(2, 3), track(0, 1)]])
    assert (stats["n_particles"], stats["n_recon_particles"]) == (2, 1)


def test_efficiency_percentages_multiply_and_divide_in_a_fixed_order():
    # 1 of 3: (100 * 1) / 3 and (1 / 3) * 100 differ in the last bit.
    data = event(6, [particle(k, [2 * k, 2 * k + 1]) for k in range(3)])
    stats = velo([data], [[track(0, 1)]])
    assert stats["recoeff"] == (100.0 * 1) / 3 and stats["avg_recoeff"] == (1 / 3) * 100.0
    assert stats["recoeff"] != stats["avg_recoeff"]
