"""Reports that compare: provenance in the JSON report, and `compare` guarding a reference report."""
import copy
import csv
import hashlib
import io
import json

import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.cli_compare import WORSE_STATUS
from corvane_tools.compare import MISSING, NEW, SAME, WORSE, BETTER, compare_reports, format_table


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


@pytest.fixture(scope="module")
def reports(tmp_path_factory):
    """The same events as Parquet and as JSON files; a default report and one with tight tolerances."""
    root = tmp_path_factory.mktemp("reports")
    for out in ("s.parquet", "json"):
        assert invoke("generate", "-n", "4", "-s", "8", "-o", root / out, "-q").exit_code == 0
    runs = {"a": [root / "s.parquet"], "b": [root / "s.parquet", "-p", "track_following.max_tolerance=0.05,0.05"],
            "json": [root / "json"], "generated": ["-n", "4", "-s", "8"]}
    for name, args in runs.items():
        result = invoke("run", *args, "-a", "track_following", "--json", root / f"{name}.json", "-q")
        assert result.exit_code == 0, result.output
    return root


def test_provenance_names_versions_inputs_and_events(reports):
    loaded = {name: json.loads((reports / f"{name}.json").read_text()) for name in ("a", "json", "generated")}
    origin = loaded["a"]["provenance"]
    assert list(loaded["a"])[0] == "provenance"
    assert origin["command"].startswith("corvane run ") and "--json" in origin["command"]
    (entry,) = origin["inputs"]
    assert entry["events"] == 4
    assert entry["sha256"] == hashlib.sha256((reports / "s.parquet").read_bytes()).hexdigest()
    assert {"corvane_version", "tools_version", "date", "host", "threads", "seed"} <= set(origin)
    # The same events from another format, or generated in the job, have the same events digest.
    digests = {loaded[name]["provenance"]["events_digest"] for name in loaded}
    assert len(digests) == 1 and None not in digests
    assert loaded["generated"]["provenance"]["seed"] == 8 and loaded["generated"]["provenance"]["inputs"] == []


@pytest.mark.parametrize("candidate, extra, status", [
    ("a", [], 0),
    ("json", [], 0),               # the same events from JSON files: nothing moved
    ("b", [], WORSE_STATUS),       # tighter tolerances lose efficiency
    ("b", ["--tolerance", "100"], 0),
])
def test_compare_exit_status(reports, candidate, extra, status):
    result = invoke("compare", reports / "a.json", reports / f"{candidate}.json", *extra)
    assert result.exit_code == status, result.output
    assert ("is worse than A" in result.output) == (status == WORSE_STATUS)


@pytest.mark.parametrize("text, message", [
    ("[1, 2]", "not a report of corvane run --json"),
    ("{", "not a JSON file"),
    ('{"algorithms": {"track_following": {"validation": {"categories": []}}}}', "lacks the validation values"),
])
def test_compare_refuses_what_is_not_a_report(reports, tmp_path, text, message):
    (tmp_path / "x.json").write_text(text)
    result = invoke("compare", reports / "a.json", tmp_path / "x.json")
    assert result.exit_code == 1 and message in result.output


def report(ghosts=100, reconstructed=900, algorithms=("track_following",), categories=("velo",)):
    """A report of 1000 tracks and 1000 particles per category, as much as the comparison reads."""
    category = {"n_particles": 1000, "n_recon_particles": reconstructed, "n_clones": 20, "purity": 98.0,
                "hit_eff_percentage": 95.0}
    return {"algorithms": {name: {"class": name, "validation": {
        "total_tracks": 1000, "total_ghosts": ghosts, "categories": [dict(category, label=label)
                                                                     for label in categories]}}
        for name in algorithms}}


@pytest.mark.parametrize("b, tolerance, verdicts", [
    (report(), 0.0, {SAME}),
    (report(ghosts=105), 0.0, {WORSE, SAME}),
    (report(ghosts=105), 0.5, {SAME}),
    (report(ghosts=90, reconstructed=910), 0.0, {BETTER, SAME}),
    (report(reconstructed=880), 0.5, {WORSE, SAME}),   # efficiency down 2 points; the clone share by 0.05
    (report(algorithms=()), 0.0, {MISSING}),
    (report(categories=()), 0.0, {MISSING, SAME}),
    (report(algorithms=("track_following", "graph_dfs")), 0.0, {SAME, NEW}),
])
def test_verdicts(b, tolerance, verdicts):
    comparison = compare_reports(report(), b, tolerance)
    assert {row.verdict for row in comparison.rows} == verdicts
    assert bool(comparison.failures) == bool(verdicts & {WORSE, MISSING})


def test_tables_carry_the_same_rows():
    b = copy.deepcopy(report())
    b["algorithms"]["track_following"]["validation"]["total_tracks"] = 300 * 3
    b["algorithms"]["track_following"]["validation"]["total_ghosts"] = 93
    comparison = compare_reports(report(), b)
    rows = list(csv.reader(io.StringIO(format_table(comparison, "csv"))))
    assert len(rows) == 1 + len(comparison.rows) and float(rows[1][4]) == 100.0 * 93 / 900   # full precision
    markdown = format_table(comparison, "markdown").splitlines()
    assert len(markdown) == 2 + len(comparison.rows) and markdown[2].startswith("| track_following | (all tracks)")
    text = format_table(comparison, "text").splitlines()
    assert len(text) == 1 + len(comparison.rows) and text[1].split()[-2:] == ["+0.33", "worse"]
