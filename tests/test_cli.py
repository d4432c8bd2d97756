import json
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.algorithms import ALGORITHMS, available

PARTIAL = 3


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    root = tmp_path_factory.mktemp("events")
    runner = CliRunner()
    assert runner.invoke(cli.main, ["generate", "-n", "3", "-s", "4", "-o", str(root / "dir")]).exit_code == 0
    assert runner.invoke(cli.main, ["generate", "-n", "2", "-o", str(root / "two.parquet")]).exit_code == 0
    return root


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


def test_generate_writes_what_it_says(files):
    assert sorted(p.name for p in (files / "dir").iterdir()) == [f"event_0000{i}.json" for i in range(3)] + [
        "manifest.json"]
    result = invoke("generate", "-o", files / "one.json")
    assert result.exit_code == 0 and "Wrote 1 event " in result.output
    assert invoke("generate", "-n", "2", "-o", files / "bad.json").exit_code == 1


def test_run_writes_report_and_plots(files, tmp_path):
    result = invoke("run", files / "dir", files / "two.parquet", "--json", tmp_path / "r.json", "--plots",
                    tmp_path / "plots", "-q")
    assert result.exit_code == 0, result.output
    assert "Sample: 5 events" in result.output and "events/s" in result.output and "hits/s" in result.output
    report = json.loads((tmp_path / "r.json").read_text())
    assert report["events"] == 5 and report["skipped"] == []
    assert set(report["algorithms"]) == set(available())
    run = report["algorithms"]["track_following"]
    assert run["timing"]["events"] == 5 and set(run["validation"]["events"]) == {"1", "2", "3", "4", "5"}
    assert {c["label"] for c in run["validation"]["categories"]} >= {"velo", "long"}
    pngs = sorted(tmp_path.joinpath("plots").iterdir())
    assert [p.name for p in pngs] == ["clone_rate.png", "efficiency_vs_eta.png", "efficiency_vs_origin_z.png",
                                      "efficiency_vs_p.png", "efficiency_vs_pt.png", "ghost_rate_vs_hits.png"]
    assert all(p.read_bytes().startswith(b"\x89PNG") and p.stat().st_size > 5000 for p in pngs)


def test_check_reports_without_reconstructing(files, tmp_path):
    (tmp_path / "empty_module.json").write_text(json.dumps(dict(json.loads((files / "one.json").read_text()),
                                                                module_prefix_sum=[0, 0] + list(range(1, 52)))))
    assert invoke("check", files / "dir", files / "two.parquet").exit_code == 0
    result = invoke("check", files / "dir", tmp_path / "empty_module.json")
    assert result.exit_code == PARTIAL and "empty_module.json: module 0 has no hits" in result.output
    assert "3 events from 4 file(s): usable; 1 problem(s)" in result.output
    assert invoke("check", tmp_path / "empty_module.json").exit_code == 1


def test_events_without_truth_run_without_plots(files, tmp_path):
    event = json.loads((files / "one.json").read_text())
    (tmp_path / "bare.json").write_text(json.dumps(dict(event, montecarlo=None)))
    result = invoke("run", tmp_path / "bare.json", "--plots", tmp_path / "plots", "-q")
    assert result.exit_code == 0 and "Warning" not in result.output and "No Monte Carlo truth" in result.output
    assert not list((tmp_path / "plots").glob("*.png"))


@pytest.mark.parametrize("extra, status, message", [
    ([], PARTIAL, "skipped: .*absent.json: no such file.*\n.*skipped: .*broken.json: not valid JSON"),
    (["--strict"], 1, "error: .*absent.json: no such file"),
])
def test_bad_input_is_reported(files, tmp_path, extra, status, message):
    (tmp_path / "broken.json").write_text("{")
    result = invoke("run", files / "one.json", tmp_path / "broken.json", tmp_path / "absent.json", "-q", *extra)
    assert result.exit_code == status
    assert re.search(message, result.output)
    result = invoke("run", files / "one.json", tmp_path / "broken.json", "-q", *extra)
    assert ("not valid JSON" in result.output) and result.exit_code == status


@pytest.mark.parametrize("args, message", [
    (["run", "missing.json"], "missing.json: no such file or directory"),
    (["run", "--algorithm", "quantum"], "Invalid value for '--algorithm'"),
    (["display", "missing.json"], "missing.json: no such file or directory"),
    (["display", "."], ".: is a directory"),
])
def test_failures_exit_non_zero(args, message):
    result = invoke(*args)
    assert result.exit_code != 0 and message in result.output


def test_algorithms_not_built_are_refused_clearly():
    missing = [name for name in ALGORITHMS if name not in available()]
    for name in missing:
        result = invoke("run", "-n", "1", "-a", name)
        assert result.exit_code == 1 and f"algorithm '{name}' ({ALGORITHMS[name]}) is not built" in result.output
    assert "track_following" in available()


def test_display(files, tmp_path):
    out = tmp_path / "d.png"
    result = invoke("display", files / "two.parquet", "--index", "1", "--out", out)
    assert result.exit_code == 0 and "tracks" in result.output
    assert out.read_bytes().startswith(b"\x89PNG")
    assert invoke("display", files / "two.parquet", "--index", "2").exit_code == 1


def test_help_explains_options():
    result = invoke("run", "--help")
    assert result.exit_code == 0
    for option in ("--algorithm", "--threads", "--json", "--plots", "--strict", "--quiet", "default: all"):
        assert option in result.output


def test_module_runs_as_a_program(tmp_path):
    # A real process: the summary is written straight to file descriptor 1 by the compiled module.
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    done = subprocess.run([sys.executable, "-m", "corvane_tools", "run", "-n", "2", "--json", tmp_path / "r.json"],
                          capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "Sample: 2 generated events (seed 1)" in done.stdout
    assert "ghost rate" in done.stdout and "\nvelo " in done.stdout
    assert "events/s" in done.stdout and "(2 threads)" in done.stdout
    assert done.stderr == ""  # no progress bar without a terminal
    assert json.loads((tmp_path / "r.json").read_text())["events"] == 2


def test_readme_tools_tour_runs(tmp_path, monkeypatch):
    readme = (Path(__file__).resolve().parent.parent / "README.md").read_text()
    tour = re.search(r"## The tools from Python\n\n```python\n(.*?)```", readme, re.S).group(1)
    monkeypatch.chdir(tmp_path)
    namespace = {}
    exec(compile(tour, "README.md", "exec"), namespace)
    assert namespace["metrics"]["events"] == 4 and (tmp_path / "sample.parquet").exists()


def test_parameters_reach_the_job_and_its_report(files, tmp_path):
    settings = tmp_path / "settings.toml"
    settings.write_text("[graph_dfs]\nmax_scatter = 0.2\n")
    result = invoke("run", files / "two.parquet", "-a", "graph_dfs", "-a", "track_following", "-a", "graph_dfs",
                    "--config", settings, "--param", "track_following.max_tolerance=0.15,0.15",
                    "--json", tmp_path / "r.json", "-q")
    assert result.exit_code == 0, result.output
    assert "Algorithms: GraphDFS, TrackFollowing on" in result.output
    assert "max_tolerance=0.15,0.15 [command line]" in result.output
    assert "max_scatter=0.2 [file]" in result.output
    report = json.loads((tmp_path / "r.json").read_text())["algorithms"]
    assert list(report) == ["graph_dfs", "track_following"]
    assert report["track_following"]["parameters"]["max_tolerance"] == {"value": [0.15, 0.15],
                                                                        "source": "command line"}
    assert report["graph_dfs"]["parameters"]["allow_cross_track"] == {"value": True, "source": "default"}
    assert invoke("run", files / "two.parquet", "-a", "track_following", "--json", tmp_path / "d.json",
                  "-q").exit_code == 0
    default = json.loads((tmp_path / "d.json").read_text())["algorithms"]["track_following"]
    assert default["tracks_digest"] != report["track_following"]["tracks_digest"]


def test_refused_parameters_stop_before_any_work(tmp_path):
    result = invoke("run", "-n", "1", "-p", "track_following.max_scatter=-1", "-p", "graph_dfs.depth=3",
                    "--json", tmp_path / "r.json")
    assert result.exit_code == 1
    assert result.output.splitlines() == [
        "corvane: error: --param track_following.max_scatter=-1: max_scatter must not be negative",
        "corvane: error: --param graph_dfs.depth=3: graph_dfs has no parameter 'depth'; it has max_slopes, "
        "max_tolerance, max_scatter, minimum_root_weight, weight_assignment_iterations, allowed_skip_modules, "
        "allow_cross_track, clone_ghost_killing"]
    assert not (tmp_path / "r.json").exists()


def test_display_draws_the_tracks_of_the_settings_given(files, tmp_path):
    counts = []
    for extra in ([], ["-p", "track_following.max_tolerance=0.05,0.05"]):
        result = invoke("display", files / "two.parquet", "--out", tmp_path / "d.png", *extra)
        assert result.exit_code == 0, result.output
        counts.append(re.search(r"(\d+) tracks", result.output).group(1))
    assert counts[0] != counts[1]
    refused = invoke("display", files / "two.parquet", "-p", "track_following.max_scatter=-1")
    assert refused.exit_code == 1 and "max_scatter must not be negative" in refused.output
