"""Algorithm parameters from the command line and settings files: accepted values, refusals, sources,
and the solvers built with them."""
import math
import re

import pytest

import corvane
from corvane_tools.digest import tracks_digest
from corvane_tools.generator import generate_events
from corvane_tools.parameters import (COMMAND_LINE, DEFAULT, FILE, PARAMETERS, AlgorithmSettings, ParameterError,
                                      config_text, construct, parse_assignments, resolve_settings, write_config)


@pytest.mark.parametrize("algorithm", PARAMETERS)
def test_table_names_constructor_keywords(algorithm):
    # Every name and default of the table is accepted as it stands (that the defaults equal the
    # compiled ones shows in test_solvers_are_built_with_the_settings).
    type(construct(algorithm))(**{entry.name: entry.default for entry in PARAMETERS[algorithm]})


@pytest.mark.parametrize("text, expected", [
    ("track_following.max_tolerance=0.15,0.15", {"track_following": {"max_tolerance": (0.15, 0.15)}}),
    ("track_following.max_slopes= 1 , 2e-1", {"track_following": {"max_slopes": (1.0, 0.2)}}),
    ("search_by_triplet_trie.max_scatter=0.01", {"search_by_triplet_trie": {"max_scatter": 0.01}}),
    ("search_by_triplet_trie.max_scatter=inf", {"search_by_triplet_trie": {"max_scatter": math.inf}}),
    ("track_following.min_track_length=+0", {"track_following": {"min_track_length": 0}}),
    ("graph_dfs.allowed_skip_modules=255", {"graph_dfs": {"allowed_skip_modules": 255}}),
    ("graph_dfs.allow_cross_track=False", {"graph_dfs": {"allow_cross_track": False}}),
    ("graph_dfs.clone_ghost_killing=true", {"graph_dfs": {"clone_ghost_killing": True}}),
])
def test_assignments_parse(text, expected):
    assert parse_assignments([text]) == expected


@pytest.mark.parametrize("text, reason", [
    ("track_following.max_scatter=-0.1", "max_scatter must not be negative"),
    ("track_following.max_scatter=nan", "max_scatter must be a number, not NaN"),
    ("track_following.max_tolerance=0.1,-0.1", "must not be negative"),
    ("graph_dfs.max_slopes=nan,0.5", "not NaN"),
    ("track_following.max_slopes=0.5", "not two numbers"),
    ("track_following.max_slopes=0.5,0.5,0.5", "not two numbers"),
    ("track_following.max_scatter=wide", "'wide' is not a number"),
    ("track_following.min_track_length=-1", "must not be negative"),
    ("track_following.min_track_length=256", "from 0 to 255"),
    ("graph_dfs.minimum_root_weight=-3", "must not be negative"),
    ("search_by_triplet_trie.allowed_missed_modules=2.5", "not a whole number"),
    ("graph_dfs.allow_cross_track=1", "not true or false"),
    ("track_following.max_wiggle=1", "track_following has no parameter 'max_wiggle'; it has max_slopes"),
    ("search_by_triplet_trie.min_track_length=3", "no parameter 'min_track_length'"),
    ("quantum.max_scatter=1", "unknown algorithm 'quantum'"),
    ("max_scatter=1", "expected algorithm.parameter=value"),
])
def test_nonsense_is_refused_with_one_line(text, reason):
    with pytest.raises(ParameterError) as raised:
        parse_assignments([text])
    (line,) = raised.value.lines
    assert reason in line and text in line


@pytest.mark.parametrize("toml, reason", [
    ("[track_following]\nmax_scatter = -1.0\n", "track_following.max_scatter must not be negative"),
    ("[track_following]\nmax_tolerance = [0.1]\n", "must be two numbers"),
    ("[track_following]\nmax_tolerance = 0.1\n", "must be two numbers"),
    ("[track_following]\nmin_track_length = true\n", "whole number"),
    ("[track_following]\nmin_track_length = 3.0\n", "whole number"),
    ("[graph_dfs]\nallow_cross_track = 1\n", "true or false"),
    ("[graph_dfs]\nsmoothing = 1\n", "graph_dfs has no parameter 'smoothing'"),
    ("[quantum]\nx = 1\n", "unknown algorithm 'quantum'"),
    ("max_scatter = 0.1\n", "'max_scatter' must be a table"),
    ("[track_following\n", "not a valid TOML file"),
])
def test_bad_settings_files_are_refused(tmp_path, toml, reason):
    path = tmp_path / "settings.toml"
    path.write_text(toml)
    with pytest.raises(ParameterError) as raised:
        resolve_settings(["track_following"], path)
    assert len(raised.value.lines) == 1 and reason in raised.value.lines[0] and str(path) in raised.value.lines[0]


def test_every_refusal_is_reported_at_once(tmp_path):
    path = tmp_path / "settings.toml"
    path.write_text("[track_following]\nmax_scatter = -1.0\n")
    with pytest.raises(ParameterError) as raised:
        resolve_settings(["track_following"], path, ["track_following.max_slopes=x", "graph_dfs.max_scatter=1"])
    assert [re.sub(r":.*", "", line) for line in raised.value.lines] == [
        str(path), "--param track_following.max_slopes=x", "--param graph_dfs.*"]
    assert "graph_dfs is not among the algorithms run" in raised.value.lines[2]


def test_command_line_over_file_over_defaults(tmp_path):
    path = tmp_path / "settings.toml"
    path.write_text("[track_following]\nmax_scatter = 0.3\nmax_tolerance = [0.2, 0.25]\n"
                    "[graph_dfs]\nclone_ghost_killing = false\n[generator]\nnoise = 0.1\n")
    settings = resolve_settings(["track_following"], path, ["track_following.max_tolerance=0.15,0.15"])
    assert list(settings) == ["track_following"]   # other algorithms' tables are checked, not run
    chosen = settings["track_following"]
    assert chosen.keyword_arguments() == {"max_slopes": (0.7, 0.7), "max_tolerance": (0.15, 0.15),
                                          "max_scatter": 0.3, "min_track_length": 3, "min_strong_track_length": 4}
    assert [chosen.source(name) for name, _ in chosen.values] == [DEFAULT, COMMAND_LINE, FILE, DEFAULT, DEFAULT]
    assert chosen.as_report()["max_tolerance"] == {"value": [0.15, 0.15], "source": COMMAND_LINE}
    assert "max_tolerance=0.15,0.15 [command line]" in chosen.describe()


@pytest.mark.parametrize("algorithm, assignments", [
    ("track_following", ["track_following.max_tolerance=0.15,0.15", "track_following.min_track_length=0"]),
    ("search_by_triplet_trie", ["search_by_triplet_trie.max_scatter=inf",
                                "search_by_triplet_trie.allowed_missed_modules=255"]),
    ("graph_dfs", ["graph_dfs.max_scatter=1e-07", "graph_dfs.allow_cross_track=false"]),
])
def test_written_settings_read_back(tmp_path, algorithm, assignments):
    settings = resolve_settings([algorithm], None, assignments)[algorithm]
    path = tmp_path / "best.toml"
    write_config(path, [settings], comment="tuned\non 50 events")
    assert config_text([settings]).startswith(f"[{algorithm}]\n")
    again = resolve_settings([algorithm], path)[algorithm]
    assert again.values == settings.values
    assert {again.source(name) for name, _ in again.values} == {FILE}


@pytest.fixture(scope="module")
def events():
    return generate_events(2, 3)


@pytest.mark.parametrize("algorithm, assignment", [
    ("track_following", "track_following.max_tolerance=0.15,0.15"),
    ("search_by_triplet_trie", "search_by_triplet_trie.max_scatter=0.01"),
    ("graph_dfs", "graph_dfs.clone_ghost_killing=false"),
])
def test_solvers_are_built_with_the_settings(events, algorithm, assignment):
    settings = resolve_settings([algorithm], None, [assignment])[algorithm]
    handles = [corvane.DetectorEvent.Event(event) for event in events]
    solver_class = type(construct(algorithm))
    expected = solver_class(**settings.keyword_arguments()).solve_batch(handles)
    tuned = construct(algorithm, settings).solve_batch(handles)
    default = construct(algorithm, AlgorithmSettings.defaults(algorithm)).solve_batch(handles)
    assert tracks_digest(tuned) == tracks_digest(expected) != tracks_digest(default)
    assert tracks_digest(default) == tracks_digest(solver_class().solve_batch(handles))
