"""The job's summary table: exact counts, intervals, independence of event order, the validator's text
behind --raw-summary, and samples with and without Monte Carlo truth."""
import json
import math

import corvane
import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.event_files import write_events
from corvane_tools.generator import generate_range
from corvane_tools.intervals import wilson
from corvane_tools.reports import summary_text

EVENTS = generate_range(41, 0, 6)


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


@pytest.mark.parametrize("passed, total", [(0, 10), (10, 10), (3, 4), (917, 1000), (1, 1)])
def test_wilson_interval_matches_an_independent_implementation(passed, total):
    stats = pytest.importorskip("scipy.stats")
    reference = stats.binomtest(passed, total).proportion_ci(confidence_level=math.erf(1 / math.sqrt(2)),
                                                             method="wilson")
    low, high = wilson(passed, total)
    assert low == pytest.approx(reference.low, abs=1e-12) and high == pytest.approx(reference.high, abs=1e-12)
    assert low <= passed / total <= high and high - low > 0.0


def run_report(tmp_path, events, *extra):
    write_events(events, tmp_path / "sample")
    result = invoke("run", tmp_path / "sample", "-q", "-a", "track_following", "--json", tmp_path / "r.json", *extra)
    assert result.exit_code == 0, result.output
    return result.output, json.loads((tmp_path / "r.json").read_text())


def test_the_table_does_not_depend_on_event_order(tmp_path):
    forward, _ = run_report(tmp_path / "a", EVENTS)
    backward, _ = run_report(tmp_path / "b", EVENTS[::-1])
    table = [line for line in forward.splitlines() if "%" in line and "events/s" not in line]
    assert table and table == [line for line in backward.splitlines() if "%" in line and "events/s" not in line]


def test_table_rows_come_from_the_exact_counts(tmp_path):
    output, report = run_report(tmp_path, EVENTS)
    run = report["algorithms"]["track_following"]
    validation = {c["label"]: c for c in run["validation"]["categories"]}
    table = run["summary"]["table"]
    assert table["ghosts"]["ghosts"] == run["validation"]["total_ghosts"]
    for row in table["categories"]:
        counts = validation[row["label"]]
        matched = counts["n_recon_particles"] + counts["n_clones"]
        assert (row["reconstructible"], row["reconstructed"], row["clones"]) == (
            counts["n_particles"], counts["n_recon_particles"], counts["n_clones"])
        assert row["clone_share"] == counts["n_clones"] / matched
        assert row["purity"] == counts["purity"] / 100.0
        low, high = row["efficiency_interval"]
        assert low <= row["efficiency"] <= high
        assert f"{row['label']:<18} {row['reconstructible']:>15,} {row['reconstructed']:>13,}" in output
    assert output.count("Legend: efficiency") == 1 and " tracks including " not in output


def test_raw_summary_is_the_validators_text(tmp_path):
    output, report = run_report(tmp_path, EVENTS, "--raw-summary")
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    tracks = solver.solve_batch([corvane.DetectorEvent.Event(event) for event in EVENTS])
    text = summary_text(EVENTS, tracks)
    assert text in output
    assert report["algorithms"]["track_following"]["summary"]["text"] == text


@pytest.mark.parametrize("bare, note", [
    ({0, 1, 2, 3, 4, 5}, "No Monte Carlo truth in this sample"),
    ({1, 4}, "Validated on the 4 events with Monte Carlo truth; 2 events without truth"),
])
def test_events_without_truth_are_not_counted_as_perfect(tmp_path, bare, note):
    events = [dict(event, montecarlo=None) if i in bare else event for i, event in enumerate(EVENTS)]
    output, report = run_report(tmp_path, events, "--plots", tmp_path / "plots", "--raw-summary")
    assert note in output and "Processed 6 events" in output
    run = report["algorithms"]["track_following"]
    assert report["validated_events"] == 6 - len(bare)
    if len(bare) == len(events):
        assert run["summary"] is None and "ghost rate" not in output and "ghosts (" not in output
        assert not list((tmp_path / "plots").glob("*.png")) and "Drew no plots" in output
        return
    truth_only = [event for i, event in enumerate(EVENTS) if i not in bare]
    _, reference = run_report(tmp_path / "truth_only", truth_only)
    assert run["validation"] == reference["algorithms"]["track_following"]["validation"]
