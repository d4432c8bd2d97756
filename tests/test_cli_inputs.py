"""How the command treats its inputs and outputs: which events are usable, repeated and unreadable
inputs, windows of the input, output paths checked before any work, and counts in words."""
import json
import pathlib
import re

import pyarrow.parquet as pq
import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.event_files import write_events
from corvane_tools.generator import generate_range
from corvane_tools.parquet_layout import events_table
from corvane_tools.work_units import plan_generated, window_units

PARTIAL = 3
BAD = 33  # in the second row group of 32 events


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


def processed(output):
    return int(re.search(r"Processed (\d+) events?", output).group(1))


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """A 40-event Parquet file whose event 33 cannot be read, and a directory tree of JSON events."""
    root = tmp_path_factory.mktemp("inputs")
    events = generate_range(21, 0, 40)
    write_events(events, root / "good.parquet")
    broken = dict(events[BAD], module_prefix_sum=[0, 0] + events[BAD]["module_prefix_sum"][2:])
    pq.write_table(events_table(events[:BAD] + [broken] + events[BAD + 1:]), root / "bad.parquet",
                   row_group_size=32)
    write_events(events[:2], root / "tree")
    write_events(events[2:3], root / "tree" / "deeper" / "more")
    return root


def test_check_run_and_display_agree_on_usable_events(sample):
    bad = sample / "bad.parquet"
    checked = invoke("check", bad, "-q")
    assert checked.exit_code == PARTIAL and "39 events from 1 file(s): usable; 1 problem(s)" in checked.output
    assert f"{bad} [event {BAD}]: module 0 has no hits" in checked.output
    ran = invoke("run", bad, "-q", "-a", "track_following")
    assert ran.exit_code == PARTIAL and processed(ran.output) == 39 and "(1 skipped)" in ran.output
    assert invoke("display", bad, "--index", 38, "--out", sample / "d38.png").exit_code == 0
    shown = invoke("display", bad, "--index", BAD, "--out", sample / "d33.png")
    assert shown.exit_code == 1 and "module 0 has no hits" in shown.output


@pytest.mark.parametrize("names, events", [
    (["good.parquet", "./good.parquet"], 40),
    (["tree", "tree/event_00000.json"], 3),
])
def test_an_input_named_twice_is_read_once(sample, monkeypatch, names, events):
    monkeypatch.chdir(sample)
    result = invoke("run", *names, "-q", "-a", "track_following")
    assert result.exit_code == 0 and processed(result.output) == events
    assert f"note: {names[1]}: named more than once" in result.output


def test_directories_are_searched_recursively(sample):
    result = invoke("check", sample / "tree", "-q")
    assert result.exit_code == 0 and "3 events from 3 file(s): usable" in result.output


@pytest.mark.parametrize("named_directly", [True, False])
def test_an_unreadable_file_is_skipped_wherever_it_is_named(sample, tmp_path, monkeypatch, named_directly):
    write_events(generate_range(21, 0, 2), tmp_path / "dir")
    locked = tmp_path / "dir" / "event_00001.json"
    real_read = pathlib.Path.read_bytes

    def read_bytes(path):
        if path == locked:
            raise PermissionError(13, "Permission denied")
        return real_read(path)

    monkeypatch.setattr(pathlib.Path, "read_bytes", read_bytes)
    monkeypatch.setattr(cli.os, "access", lambda path, mode, **_: pathlib.Path(path) != locked)
    named = [tmp_path / "dir" / "event_00000.json", locked] if named_directly else [tmp_path / "dir"]
    result = invoke("run", *named, "-q", "-a", "track_following")
    assert result.exit_code == PARTIAL, result.output
    assert f"skipped: {locked}: cannot be read: Permission denied" in result.output


@pytest.mark.parametrize("skip, limit, expected", [
    (0, None, [(0, 4), (4, 4), (8, 2)]),
    (3, 4, [(3, 1), (4, 3)]),
    (4, 4, [(4, 4)]),
    (9, 5, [(9, 1)]),
    (10, None, []),
])
def test_window_of_generated_units(skip, limit, expected):
    units = window_units(plan_generated(10, seed=1, per_unit=4), skip, limit)
    assert [(unit.first_event, unit.events) for unit in units] == expected
    assert [unit.index for unit in units] == list(range(len(units)))


@pytest.mark.parametrize("name, skip, limit, events", [
    ("good.parquet", 30, 5, 5),     # across the row groups
    ("bad.parquet", 30, 5, 4),      # the unusable event keeps its place
    ("tree", 1, 1, 1),
    ("good.parquet", 38, 100, 2),
])
def test_skip_and_max_events_choose_a_window_of_the_input(sample, tmp_path, name, skip, limit, events):
    report = tmp_path / "r.json"
    result = invoke("run", sample / name, "--skip", skip, "--max-events", limit, "-q", "-a", "track_following",
                    "--json", report)
    assert processed(result.output) == events
    assert json.loads(report.read_text())["events"] == events


def test_a_window_reads_the_same_events_as_a_file_of_them(sample, tmp_path):
    write_events(generate_range(21, 30, 5), tmp_path / "window.parquet")
    reports = []
    for args in ([sample / "good.parquet", "--skip", 30, "--max-events", 5], [tmp_path / "window.parquet"]):
        assert invoke("run", *args, "-q", "-a", "track_following", "--json", tmp_path / "r.json").exit_code == 0
        run = json.loads((tmp_path / "r.json").read_text())["algorithms"]["track_following"]
        reports.append((run["validation"]["categories"], run["tracks_digest"]))
    assert reports[0] == reports[1]


@pytest.mark.parametrize("args, message", [
    (["--json", "{tmp}/missing/r.json"], "--json {tmp}/missing/r.json: directory {tmp}/missing does not exist"),
    (["--json", "{tmp}"], "--json {tmp}: is a directory"),
    (["--plots", "{tmp}/file"], "--plots {tmp}/file: exists and is not a directory"),
    (["--plots", "{tmp}/file/sub"], "--plots {tmp}/file/sub: {tmp}/file is not a directory"),
    (["-n", "3"], "-n/--events only apply to a generated sample"),
    (["-s", "3", "-n", "2"], "-n/--events and -s/--seed only apply"),
])
def test_bad_options_fail_before_any_work(sample, tmp_path, args, message):
    (tmp_path / "file").write_text("")
    args = [a.format(tmp=tmp_path) for a in args]
    result = invoke("run", sample / "tree", "-q", *args)
    assert result.exit_code == 1 and message.format(tmp=tmp_path) in result.output
    assert "Processed" not in result.output and "Sample" not in result.output


@pytest.mark.parametrize("inputs, option, output", [
    (["good.parquet"], "--json", "good.parquet"),
    (["good.parquet", "tree"], "--tracks", "./good.parquet"),
    (["tree"], "--html", "tree/deeper/more/event_00000.json"),
])
def test_an_output_never_replaces_an_input(sample, monkeypatch, inputs, option, output):
    monkeypatch.chdir(sample)
    before = (sample / output).read_bytes()
    result = invoke("run", *inputs, "-q", "-a", "track_following", option, output)
    assert result.exit_code == 1 and f"{option} {pathlib.Path(output)}: is an input of this job" in result.output
    assert (sample / output).read_bytes() == before


@pytest.mark.parametrize("out, written", [("evnoext", "evnoext.png"), ("ev.svg", "ev.svg"), ("ev.PNG", "ev.PNG")])
def test_display_writes_the_file_it_names(sample, tmp_path, out, written):
    result = invoke("display", sample / "good.parquet", "--out", tmp_path / out)
    assert result.exit_code == 0 and f"Wrote {tmp_path / written}:" in result.output
    assert [p.name for p in tmp_path.iterdir()] == [written]


def test_display_refuses_an_unknown_image_type(sample, tmp_path):
    result = invoke("display", sample / "good.parquet", "--out", tmp_path / "x.txt")
    assert result.exit_code == 1 and "unknown image type '.txt'" in result.output


def test_one_event_and_one_thread_in_words(monkeypatch):
    monkeypatch.setenv("RAYON_NUM_THREADS", "1")  # -t sets it for the rest of the process
    result = invoke("run", "-n", 1, "-t", 1, "-q", "-a", "track_following")
    assert "Sample: 1 generated event (seed 1)," in result.output
    assert "on 1 worker thread in" in result.output and "Processed 1 event (" in result.output


def test_version():
    result = invoke("--version")
    assert result.exit_code == 0 and re.fullmatch(r"corvane, version \S+\n", result.output)
