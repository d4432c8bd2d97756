"""Tracks saved by `run --tracks` and validated again by `validate`: the same summaries, the same tracks,
and clear refusals when tracks and events do not belong together."""
import json
import re

import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from click.testing import CliRunner

from corvane_tools import cli, saved_tracks
from corvane_tools.event_files import write_events
from corvane_tools.generator import generate_range


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


def summary_blocks(output):
    """Each algorithm's block: its name line and summary lines, without the run's timing lines."""
    blocks = output.split("\n\n")[1:]
    return [re.sub(r"\n[A-Za-z]+: \d+ events? in .*", "", block).strip() for block in blocks
            if not block.startswith("Processed")]


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    root = tmp_path_factory.mktemp("saved")
    write_events(generate_range(11, 0, 6), root / "a.parquet")
    write_events(generate_range(12, 0, 3), root / "json")
    return root


@pytest.mark.parametrize("window, where", [([], []), (["--skip", "2", "--max-events", "5"], []),
                                           ([], ["--workers", "1"])])
def test_validate_prints_what_run_printed(sample, tmp_path, window, where):
    if where:
        pytest.importorskip("distributed")
    tracks = tmp_path / "t.parquet"
    ran = invoke("run", sample / "a.parquet", sample / "json", "-a", "track_following", "-a", "graph_dfs",
                 "-p", "graph_dfs.max_scatter=0.2", "--tracks", tracks, "--json", tmp_path / "r.json", "-q", *window,
                 *where)
    assert ran.exit_code == 0, ran.output
    validated = invoke("validate", sample / "a.parquet", sample / "json", tracks)
    assert validated.exit_code == 0, validated.output
    assert summary_blocks(validated.output) == summary_blocks(ran.output)
    assert len(summary_blocks(ran.output)) == 2
    assert "max_scatter=0.2 [command line]" in validated.output
    table = pq.read_table(tracks)
    events = 5 if window else 9
    assert "\nTrackFollowing\n" in validated.output and "\nGraphDFS\n" in validated.output
    assert table.num_rows == 2 * events and set(table.column("algorithm").to_pylist()) == {"track_following",
                                                                                          "graph_dfs"}
    report = json.loads((tmp_path / "r.json").read_text())
    assert report["events"] == events


def test_tracks_of_a_generated_sample_validate_against_its_file(tmp_path):
    tracks = tmp_path / "t.parquet"
    ran = invoke("run", "-n", "4", "-s", "5", "-a", "track_following", "--tracks", tracks, "-q")
    assert ran.exit_code == 0, ran.output
    rows = pq.read_table(tracks).to_pydict()
    assert rows["seed"] == [5] * 4 and rows["index"] == [0, 1, 2, 3] and rows["source"] == [""] * 4
    assert invoke("generate", "-n", "4", "-s", "5", "-o", tmp_path / "s.parquet").exit_code == 0
    validated = invoke("validate", tmp_path / "s.parquet", tracks)
    assert validated.exit_code == 0, validated.output
    assert summary_blocks(validated.output) == summary_blocks(ran.output)


@pytest.fixture
def saved(sample, tmp_path):
    tracks = tmp_path / "t.parquet"
    assert invoke("run", sample / "a.parquet", "-a", "track_following", "--tracks", tracks, "-q").exit_code == 0
    return tracks


def rewrite(path, change):
    table = pq.read_table(path)
    columns = table.to_pydict()
    change(columns)
    pq.write_table(pa.Table.from_pydict(columns, schema=table.schema), path)


@pytest.mark.parametrize("change, message", [
    (lambda c: c["hit_ids"][1][0].__setitem__(0, 10 ** 6), r"hit id 1000000 is not a hit of the event"),
    (lambda c: c["hit_ids"][1][0].__setitem__(0, -1), r"hit id -1 is not a hit of the event"),
    (lambda c: c["hit_ids"].__setitem__(1, None), r"saved event 1 .* of track_following is incomplete"),
    (lambda c: c["hit_ids"][1].__setitem__(0, [1, None]), r"saved event 1 .* of track_following is incomplete"),
    (lambda c: c["missed_last_module"][3].append(True), r"saved event 3 .* of track_following is incomplete"),
    (lambda c: c["event_digest"].__setitem__(2, "0" * 64), r"saved event 2 \(.*a.parquet \[event 2\]\) is not "
                                                           r"among the events given"),
])
def test_tampered_tracks_are_refused(sample, saved, change, message):
    rewrite(saved, change)
    result = invoke("validate", sample / "a.parquet", saved)
    assert result.exit_code == 1 and re.search(message, result.output), result.output


@pytest.mark.parametrize("metadata, message", [
    (b"{", "the description of its tracks is damaged"),
    (b'{"version": 1, "algorithms": {}}', "names no algorithm"),
    (b'{"version": 7, "algorithms": {}}', "tracks file version 7"),
])
def test_damaged_descriptions_are_refused(sample, saved, metadata, message):
    table = pq.read_table(saved)
    pq.write_table(table.replace_schema_metadata({b"corvane.tracks": metadata}), saved)
    result = invoke("validate", sample / "a.parquet", saved)
    assert result.exit_code == 1 and message in result.output, result.output


@pytest.mark.parametrize("events, message", [
    (["json"], "is not among the events given"),
    ([], "not a tracks file"),
])
def test_tracks_and_events_that_do_not_belong_together(sample, saved, tmp_path, events, message):
    if not events:  # an event file named where the tracks should be
        result = invoke("validate", sample / "a.parquet", sample / "a.parquet")
    else:
        result = invoke("validate", *[sample / name for name in events], saved)
    assert result.exit_code == 1 and message in result.output


def test_failed_run_leaves_no_tracks_file(sample, tmp_path):
    (tmp_path / "broken.json").write_text("{")
    tracks = tmp_path / "out" / "t.parquet"
    tracks.parent.mkdir()
    result = invoke("run", sample / "a.parquet", tmp_path / "broken.json", "--tracks", tracks, "-q", "--strict")
    assert result.exit_code == 1 and "broken.json" in result.output
    assert list(tracks.parent.iterdir()) == []   # neither the file nor its partial copy



class OneWriter:
    """Arrow's writer, holding every row group's metadata decoded until it closes."""

    def __init__(self, path, schema):
        self.writer = pq.ParquetWriter(path, schema)

    def write_table(self, table):
        self.writer.write_table(table)

    def close(self):
        self.writer.close()

    abandon = close


def test_tracks_file_is_what_one_parquet_writer_writes(sample, tmp_path, monkeypatch):
    """The row groups' footer entries wait as bytes while the job runs; the file is the same as Arrow's
    writer makes of the same tables, one row group per unit."""
    arguments = [sample / "a.parquet", sample / "json", "-a", "track_following", "-a", "graph_dfs", "-q"]
    assert invoke("run", *arguments, "--tracks", tmp_path / "t.parquet").exit_code == 0
    monkeypatch.setattr(saved_tracks, "RowGroupAppender", OneWriter)
    assert invoke("run", *arguments, "--tracks", tmp_path / "arrow.parquet").exit_code == 0
    assert pq.ParquetFile(tmp_path / "t.parquet").metadata.num_row_groups == 2
    assert (tmp_path / "t.parquet").read_bytes() == (tmp_path / "arrow.parquet").read_bytes()
