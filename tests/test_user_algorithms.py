"""A user's own algorithm runs, validates and reports like a built-in one, and a broken one is refused
in one line."""
import json
from pathlib import Path

import pytest
from click.testing import CliRunner

from corvane_tools import cli

MODULE = "tests.user_algorithm_wrappers"
REPOSITORY = Path(__file__).resolve().parent.parent


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


@pytest.fixture(autouse=True)
def in_repository(monkeypatch):
    monkeypatch.chdir(REPOSITORY)


@pytest.mark.parametrize("extra", [[], ["--workers", "1"]])
def test_wrapped_builtin_matches_the_builtin(tmp_path, extra):
    if extra:
        pytest.importorskip("distributed")
    report_path = tmp_path / "r.json"
    result = invoke("run", "-n", "3", "-s", "2", "-a", "track_following", "-a", f"{MODULE}:AsTracks",
                    "-a", f"{MODULE}:AsHitIds", "--json", report_path, "-q", *extra)
    assert result.exit_code == 0, result.output
    algorithms = json.loads(report_path.read_text())["algorithms"]
    builtin = algorithms.pop("track_following")
    assert len(algorithms) == 2
    for name, entry in algorithms.items():
        assert entry["class"] == name and entry["parameters"] == {}
        assert entry["validation"] == builtin["validation"] and entry["tracks_digest"] == builtin["tracks_digest"]
    assert f"\n{MODULE}:AsHitIds\n" in result.output


@pytest.mark.parametrize("factory, message", [
    ("no_such_module_anywhere:make", "cannot import no_such_module_anywhere: ModuleNotFoundError"),
    (f"{MODULE}:Missing", f"{MODULE} has no attribute 'Missing'"),
    (f"{MODULE}:no_solve", "has no solve(event) method"),
    (f"{MODULE}:OutOfRange", "track 0 holds hit id"),
    (f"{MODULE}:NotTracks", "track 0 is a list, neither a Track nor a list of hit ids"),
    (f"{MODULE}:Raises", "solve raised ZeroDivisionError: no luck"),
])
def test_broken_user_algorithms_fail_in_one_line(factory, message):
    result = invoke("run", "-n", "1", "-a", factory, "-q")
    assert result.exit_code == 1
    (line,) = result.output.splitlines()
    assert line.startswith(f"corvane: error: algorithm '{factory}': ") and message in line


def test_events_a_user_algorithm_cannot_take_are_skipped_and_named():
    # Events 2 and 3 of seed 2 have an even number of hits (the others odd).
    result = invoke("run", "-n", "4", "-s", "2", "-a", f"{MODULE}:FailsOnEvenHitCounts", "-q")
    assert result.exit_code == 3, result.output
    skipped = [line for line in result.output.splitlines() if "failed: InternalFailure" in line]
    assert len(skipped) == 2 and all(f"{MODULE}:FailsOnEvenHitCounts failed" in line for line in skipped)
    assert "Processed 2 events (2 skipped)" in result.output


def test_shipped_example_keeps_long_tracks_only():
    import corvane
    from corvane_tools.generator import generate_range
    from corvane_tools.user_algorithms import load

    event = corvane.DetectorEvent.Event(generate_range(3, 0, 1)[0])
    kept = load("examples.long_tracks:LongTracks").solve_batch([event])[0]
    followed = corvane.ReconstructionAlgorithms.TrackFollowing(max_tolerance=(0.15, 0.15)).solve(event)
    expected = [[hit.id for hit in track.hits] for track in followed if len(track.hits) >= 5]
    assert [[hit.id for hit in track.hits] for track in kept] == expected and expected
