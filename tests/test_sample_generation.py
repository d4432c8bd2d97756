import numpy as np
import pyarrow.parquet as pq
import pytest
from click.testing import CliRunner

from corvane_tools import cli, sample_generation
from corvane_tools.event_files import EventFileError, load_events
from corvane_tools.generator import generate_events
from corvane_tools.parquet_layout import events_table, is_typed_montecarlo
from corvane_tools.sample_output import OutputError, incomplete_sample

EVENTS = 23


@pytest.fixture
def small_chunks(monkeypatch):
    # Several chunks and row groups without simulating hundreds of events; row groups of several stretches.
    monkeypatch.setattr(sample_generation, "CHUNK_EVENTS", 10)
    monkeypatch.setattr(sample_generation, "ROW_GROUP_EVENTS", 10)
    monkeypatch.setattr(sample_generation, "STRETCH_EVENTS", 4)


def tree_bytes(path):
    if path.is_file():
        return {path.name: path.read_bytes()}
    return {entry.name: entry.read_bytes() for entry in sorted(path.iterdir())}


@pytest.mark.parametrize("name", ["sample.parquet", "sample"])
def test_parallel_generation_equals_serial(tmp_path, small_chunks, monkeypatch, name):
    outputs = []
    for processes, stretch in ((1, 4), (2, 4), (1, 10)):  # a row group made at once: how files were written
        monkeypatch.setattr(sample_generation, "STRETCH_EVENTS", stretch)
        out = tmp_path / f"{processes}-{stretch}" / name
        out.parent.mkdir()
        written = sample_generation.generate_sample(out, EVENTS, 5, processes)
        assert written.events == EVENTS
        outputs.append(tree_bytes(out))
    assert outputs[0] == outputs[1] == outputs[2]
    loaded = load_events([tmp_path / "1-4" / name], strict=True)
    expected = generate_events(EVENTS, 5)
    assert [e["montecarlo"] for e in loaded.events] == [e["montecarlo"] for e in expected]
    assert all(np.array_equal(a["x"], b["x"]) for a, b in zip(loaded.events, expected))
    if name.endswith(".parquet"):
        assert pq.ParquetFile(tmp_path / "1-4" / name).metadata.num_row_groups == 3


@pytest.mark.parametrize("typed", [True, False])
def test_both_parquet_layouts_read_to_the_same_events(tmp_path, typed):
    events = generate_events(20, 8)  # records are made 16 events at a time: a batch boundary inside
    events[2] = dict(events[2], montecarlo=None)
    events[17] = dict(events[17], montecarlo=None)
    pq.write_table(events_table(events, typed_montecarlo=typed), tmp_path / "s.parquet")
    assert is_typed_montecarlo(pq.read_schema(tmp_path / "s.parquet").field("montecarlo").type) == typed
    loaded = load_events([tmp_path / "s.parquet"], strict=True).events
    assert [e["montecarlo"] for e in loaded] == [e["montecarlo"] for e in events]
    assert [e["description"] for e in loaded] == [e["description"] for e in events]


@pytest.mark.parametrize("typed", [True, False])
@pytest.mark.parametrize("hit, message", [(10 ** 6, "lists hit 1000000, but the event has"),
                                          (-1, "lists hit -1, but the event has")])
def test_bad_hit_positions_are_named_in_both_layouts(tmp_path, typed, hit, message):
    event = generate_events(1, 8)[0]
    event["montecarlo"]["particles"][3][7] = [0, hit]
    pq.write_table(events_table([event], typed_montecarlo=typed), tmp_path / "s.parquet")
    with pytest.raises(EventFileError, match=r"s.parquet \[event 0\]: Monte Carlo particle 3"):
        load_events([tmp_path / "s.parquet"], strict=True)
    with pytest.raises(EventFileError, match=message):
        load_events([tmp_path / "s.parquet"], strict=True)


def test_records_that_do_not_fit_the_typed_columns_are_kept_as_text(tmp_path):
    event = generate_events(1, 8)[0]
    event["montecarlo"]["particles"][0][2] = 12000  # an integer momentum: sound, but not a float64
    pq.write_table(events_table([event]), tmp_path / "s.parquet")
    assert str(pq.read_schema(tmp_path / "s.parquet").field("montecarlo").type) == "string"
    assert load_events([tmp_path / "s.parquet"]).events[0]["montecarlo"] == event["montecarlo"]


def generate(*args):
    return CliRunner().invoke(cli.main, ["generate", "-q", *map(str, args)])


@pytest.mark.parametrize("target, prepare, extra, status, expected", [
    ("s.parquet", "file", ["-n", "2"], 1, "exists already; pass --overwrite"),
    ("s.parquet", "file", ["-n", "2", "--overwrite"], 0, None),
    ("dir", "full", ["-n", "2"], 1, "directory is not empty"),
    ("dir", "full", ["-n", "2", "--overwrite"], 0, None),
    ("dir", "empty", ["-n", "2"], 0, None),
    ("x.txt", None, ["-n", "2"], 1, "unknown output type '.txt'"),
    ("two.json", None, ["-n", "2"], 1, "holds exactly one event, not 2"),
    ("one.json", None, [], 0, None),
])
def test_outputs_are_refused_or_replaced_whole(tmp_path, target, prepare, extra, status, expected):
    out = tmp_path / target
    if prepare == "file":
        out.write_text("old")
    elif prepare in ("full", "empty"):
        out.mkdir()
        if prepare == "full":
            (out / "event_00007.json").write_text("old")
    result = generate("-o", out, *extra)
    assert result.exit_code == status, result.output
    if expected:
        assert expected in result.output
        assert not out.exists() or prepare is not None
        if prepare == "file":
            assert out.read_text() == "old"
    else:
        assert len(load_events([out], strict=True).events) == (1 if target.endswith(".json") else 2)
        if out.is_dir():
            assert sorted(p.name for p in out.iterdir()) == ["event_00000.json", "event_00001.json",
                                                             "manifest.json"]
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []


@pytest.mark.parametrize("name", ["sample.parquet", "sample"])
@pytest.mark.parametrize("interruption", [KeyboardInterrupt, OSError])
def test_interrupted_generation_leaves_no_sample(tmp_path, small_chunks, monkeypatch, name, interruption):
    chunks = []
    real = {"json_chunk": sample_generation.json_chunk, "parquet_chunk": sample_generation.parquet_chunk}

    def failing(function):
        def chunk(*args):
            if chunks:
                raise interruption("stopped")
            chunks.append(args)
            return real[function](*args)
        return chunk

    for function in real:
        monkeypatch.setattr(sample_generation, function, failing(function))
    with pytest.raises(interruption):
        sample_generation.generate_sample(tmp_path / name, EVENTS, 5, 1)
    assert chunks and list(tmp_path.iterdir()) == []


def test_incomplete_directory_samples_are_recognised(tmp_path, small_chunks):
    sample_generation.generate_sample(tmp_path / "full", 12, 5)
    assert incomplete_sample(tmp_path / "full") is None
    (tmp_path / "full" / "event_00003.json").unlink()
    assert "misses 1 of the 12 files" in incomplete_sample(tmp_path / "full")
    (tmp_path / "full" / "manifest.json").unlink()
    assert "no manifest" in incomplete_sample(tmp_path / "full")
    (tmp_path / "full" / ".event_00099.json.partial-1").write_text("")
    assert "temporary files" in incomplete_sample(tmp_path / "full")
    result = CliRunner().invoke(cli.main, ["run", str(tmp_path / "full"), "-a", "track_following", "-q"])
    assert result.exit_code == 0 and "the sample may be incomplete" in result.output
    with pytest.raises(OutputError, match="not empty"):
        sample_generation.generate_sample(tmp_path / "full", 2, 5)



def test_an_unreadable_directory_gets_no_warning_but_its_own_report(tmp_path, monkeypatch):
    def unreadable(path):
        raise PermissionError(13, "Permission denied", str(path))

    monkeypatch.setattr(cli, "incomplete_sample", unreadable)
    (tmp_path / "d").mkdir()
    result = CliRunner().invoke(cli.main, ["run", str(tmp_path / "d"), "-q"])
    assert result.exit_code != 0 and not isinstance(result.exception, OSError), result.output
