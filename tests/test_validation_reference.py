"""The four validation functions against the plain Python model, on random
events and track lists: printed text and dictionaries must agree exactly."""
import random

import pytest

from corvane import Validator
import validation_builders as build
import validation_reference as reference

SEEDS = range(300)


@pytest.mark.parametrize("seed", SEEDS)
def test_summary_matches_reference(seed, capfd):
    events, tracks = build.random_case(seed)
    verbose = seed % 2 == 0
    expected = reference.print_validation_summary(events, tracks, verbose)
    assert Validator.print_validation_summary(events, tracks, verbose) is None
    assert capfd.readouterr().out == expected


@pytest.mark.parametrize("seed", SEEDS)
def test_efficiency_matches_reference(seed, capfd):
    events, tracks = build.random_case(seed)
    name = random.Random(seed).choice(reference.CATEGORY_ORDER + ["Long", "other"])
    expected_text, expected = reference.compute_tracking_efficiency(events, tracks, name)
    result = Validator.compute_tracking_efficiency(events, tracks, name)
    assert type(result) is float and result == expected
    assert capfd.readouterr().out == expected_text


@pytest.mark.parametrize("detailed", [False, True])
@pytest.mark.parametrize("seed", SEEDS)
def test_exports_match_reference(seed, detailed, capfd):
    events, tracks = build.random_case(seed)
    verbose = seed % 3 == 0
    function = Validator.export_detailed_metrics_json if detailed else Validator.export_validation_to_json
    expected_text, expected = reference.export(events, tracks, verbose, detailed)
    assert build.ordered(function(events, tracks, verbose)) == build.ordered(expected)
    assert capfd.readouterr().out == expected_text


@pytest.mark.parametrize("seed", range(40))
def test_unknown_hit_id_fails_like_reference(seed, capfd):
    events, tracks = build.random_case(seed)
    rng = random.Random(seed)
    events.append(build.event(10, [build.particle(1, [0, 1, 2])]))
    tracks = tracks[:len(events) - 1] + [[]] * (len(events) - 1 - len(tracks))
    bad_id = rng.choice([10, 11, -1, 2**31 - 1])
    tracks.append([build.track(0, 1), build.track(0, bad_id), build.track(bad_id, 3)])
    with pytest.raises(RuntimeError) as expected:
        reference.export(events, tracks, True, True)
    # The warnings of the events before the failing one are printed already.
    expected_text, _ = reference.export(events[:-1], tracks[:-1], True, True)
    with pytest.raises(RuntimeError) as raised:
        Validator.export_detailed_metrics_json(events, tracks, True)
    assert str(raised.value) == str(expected.value) == f"Error: hit with id {bad_id} not found in hit_to_mcp mapping"
    assert capfd.readouterr().out == expected_text
