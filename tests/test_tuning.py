"""`corvane tune`: reproducible searches, the objective, the Pareto front and the settings file."""
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.tuning import Trial, best_trial, pareto_front, search
from corvane_tools.tuning_score import Measurement, ObjectiveError, parse_objective, score

PYTHON_DIR = str(Path(__file__).resolve().parent.parent / "python")


def tune(tmp_path, *args, name="t"):
    out = tmp_path / name
    out.mkdir(exist_ok=True)
    result = CliRunner().invoke(cli.main, ["tune", "-n", "3", "--trials", "4", "-q", "--out", out / "best.toml",
                                           "--plot", out / "tradeoff.png", "--json", out / "report.json",
                                           *[str(a) for a in args]])
    assert result.exit_code == 0, result.output
    return json.loads((out / "report.json").read_text()), out, result.output


@pytest.mark.parametrize("algorithm", ["track_following", "search_by_triplet_trie", "graph_dfs"])
def test_same_seed_same_trials_and_the_defaults_come_first(tmp_path, algorithm):
    first, _, _ = tune(tmp_path, "-a", algorithm, name="a")
    again, _, _ = tune(tmp_path, "-a", algorithm, name="b")
    other, _, _ = tune(tmp_path, "-a", algorithm, "--seed", "9", "--holdout-seed", "2", name="c")
    assert first["trials"] == again["trials"] and first["results"] == again["results"]
    assert [t["settings"] for t in other["trials"][1:]] != [t["settings"] for t in first["trials"][1:]]
    assert first["trials"][0]["settings"] == first["parameters"]["default"]
    best = max(first["trials"], key=lambda t: t["score"])
    assert first["best_trial"] == best["number"] and first["parameters"]["tuned"] == best["settings"]


def test_settings_file_is_read_back_by_config(tmp_path):
    report, out, output = tune(tmp_path, "-a", "graph_dfs")
    assert "held-out: tuned" in output and (out / "tradeoff.png").stat().st_size > 0
    result = CliRunner().invoke(cli.main, ["run", "-n", "1", "-a", "graph_dfs", "-q", "--config", str(out / "best.toml"),
                                           "--json", str(out / "run.json")])
    assert result.exit_code == 0, result.output
    parameters = json.loads((out / "run.json").read_text())["algorithms"]["graph_dfs"]["parameters"]
    assert parameters == {name: {"value": value, "source": "file"}
                          for name, value in report["parameters"]["tuned"].items()}


def test_event_files_tune_like_the_generated_sample_they_hold(tmp_path):
    for seed, name in (("1", "tuning.parquet"), ("2", "held_out")):
        result = CliRunner().invoke(cli.main, ["generate", "-n", "3", "-s", seed, "-o", str(tmp_path / name), "-q"])
        assert result.exit_code == 0, result.output
    generated, _, _ = tune(tmp_path, "-a", "track_following", name="generated")
    from_files, _, _ = tune(tmp_path, tmp_path / "tuning.parquet", "--holdout", tmp_path / "held_out",
                            "-a", "track_following", name="files")
    assert from_files["trials"] == generated["trials"] and from_files["results"] == generated["results"]
    assert "tuning.parquet" in from_files["tuning_sample"]["description"]
    inputs = from_files["provenance"]["inputs"]
    assert [entry["sample"] for entry in inputs] == ["tuning"] + ["held-out"] * 3 and all(e["sha256"] for e in inputs)


def test_a_cluster_measures_the_same_trials(tmp_path):
    pytest.importorskip("distributed")
    local, _, _ = tune(tmp_path, "-a", "track_following", name="local")
    out = tmp_path / "cluster.json"
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([PYTHON_DIR, os.environ.get("PYTHONPATH", "")])}
    subprocess.run([sys.executable, "-m", "corvane_tools", "tune", "-a", "track_following", "-n", "3", "--trials",
                    "4", "-q", "--workers", "1", "--out", tmp_path / "c.toml", "--plot", tmp_path / "c.png",
                    "--json", out], check=True, env=env, cwd=tmp_path, capture_output=True, timeout=240)
    assert json.loads(out.read_text())["trials"] == local["trials"]


def test_ctrl_c_keeps_the_trials_completed():
    calls = []

    def measure(settings):
        calls.append(settings)
        if len(calls) == 3:
            raise KeyboardInterrupt
        return Measurement({"velo": 90.0 + len(calls)}, 1.0, 0.0, 10)

    done, interrupted = search("search_by_triplet_trie", 10, parse_objective("velo=1"), 1, measure)
    assert interrupted and [t.number for t in done] == [0, 1] and best_trial(done).number == 1

    def interrupt(settings):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):   # nothing to report before the first trial is done
        search("search_by_triplet_trie", 10, parse_objective("velo=1"), 1, interrupt)


@pytest.mark.parametrize("text, message", [
    ("velo", "not TERM=WEIGHT"),
    ("velo=1,speed=2", "unknown objective term 'speed'"),
    ("velo=1,velo=2", "given twice"),
    ("velo=x", "not a number"),
    ("velo=1,ghosts=-1", "at least 0"),
    ("velo=nan", "at least 0"),
    ("ghosts=1,clones=1", "at least one efficiency"),
])
def test_objective_refusals(text, message):
    with pytest.raises(ObjectiveError, match=message):
        parse_objective(text)


@pytest.mark.parametrize("args, message", [
    (["--objective", "velo=-1"], "at least 0"),
    (["--out", "missing/best.toml"], "--out missing/best.toml: directory missing does not exist"),
    (["--plot", "missing/t.png"], "--plot missing/t.png"),
    (["--json", "."], "--json .: is a directory"),
    (["--html", "missing/t.html"], "--html missing/t.html"),
])
def test_refusals_come_before_any_trial(tmp_path, monkeypatch, args, message):
    monkeypatch.chdir(tmp_path)
    result = CliRunner().invoke(cli.main, ["tune", "-a", "track_following", "-n", "1", "--trials", "1", *args])
    assert result.exit_code == 1 and message in result.output and "Tuned" not in result.output
    assert not any(tmp_path.iterdir())


@pytest.mark.parametrize("option", ["--out", "--json"])
def test_an_output_never_replaces_a_sample_file(tmp_path, monkeypatch, option):
    monkeypatch.chdir(tmp_path)
    for name in ("a.parquet", "b.parquet"):
        (tmp_path / name).write_bytes(b"events")
    result = CliRunner().invoke(cli.main, ["tune", "a.parquet", "--holdout", "b.parquet", "-a", "track_following",
                                           option, "b.parquet"])
    assert result.exit_code == 1 and f"{option} b.parquet: is an input of this job" in result.output
    assert (tmp_path / "b.parquet").read_bytes() == b"events"


def test_score_adds_efficiencies_and_subtracts_rates():
    measured = Measurement({"velo": 90.0, "long": 99.0}, ghost_rate=3.0, clone_rate=2.0, tracks=10)
    assert score(parse_objective("velo=1,long=0.5,ghosts=5,clones=2"), measured) == 90.0 + 49.5 - 15.0 - 4.0
    assert score(parse_objective("long_fromb=1"), measured) == 0.0   # no such particles measured


def test_pareto_front_is_exactly_the_undominated_trials():
    points = [(5.0, 90.0), (1.0, 80.0), (3.0, 85.0), (3.0, 84.0), (2.0, 70.0), (6.0, 90.0), (0.5, 60.0),
              (4.0, 88.0), (1.0, 80.0)]
    trials = [Trial(i, {}, Measurement({"velo": eff}, ghost, 0.0, 1), 0.0) for i, (ghost, eff) in enumerate(points)]

    def dominated(t):
        return any((o.measured.ghost_rate <= t.measured.ghost_rate and o.measured.efficiency["velo"] >=
                    t.measured.efficiency["velo"]) and (o.measured.ghost_rate, o.measured.efficiency["velo"]) !=
                   (t.measured.ghost_rate, t.measured.efficiency["velo"]) for o in trials)

    front = pareto_front(trials)
    undominated = {(t.measured.ghost_rate, t.measured.efficiency["velo"]) for t in trials if not dominated(t)}
    assert {(t.measured.ghost_rate, t.measured.efficiency["velo"]) for t in front} == undominated
    assert len(front) == len(undominated) and not math.isnan(front[0].measured.ghost_rate)
