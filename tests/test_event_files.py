import json

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import pytest

from corvane_tools.event_files import EventFileError, load_events, read_events, read_file, write_events
from corvane_tools.event_format import EventFormatError, check_event
from corvane_tools.generator import generate_events, generate_range
from corvane_tools.parquet_layout import events_table


@pytest.fixture(scope="module")
def sample():
    return generate_events(3, 11)


def same_event(read, original):
    assert read["description"] == original["description"]
    assert read["montecarlo"] == original["montecarlo"]
    assert list(read["module_prefix_sum"]) == original["module_prefix_sum"]
    for key in "xyz":
        assert np.array_equal(read[key], original[key])  # bit for bit, through text and through Parquet


@pytest.mark.parametrize("target", ["events", "events.parquet"])
def test_round_trip(tmp_path, sample, target):
    write_events(sample, tmp_path / target)
    loaded = load_events([tmp_path / target], strict=True)
    assert len(loaded.events) == 3 and not loaded.problems
    for read, original in zip(loaded.events, sample):
        same_event(read, original)


def test_times_survive_parquet(tmp_path, sample):
    timed = [dict(e, t=[0.5] * len(e["x"])) for e in sample]
    write_events(timed, tmp_path / "t.parquet")
    assert all(np.array_equal(e["t"], [0.5] * len(e["x"])) for e in load_events([tmp_path / "t.parquet"]).events)


def test_json_file_takes_one_event(tmp_path, sample):
    write_events(sample[:1], tmp_path / "one.json")
    same_event(next(read_file(tmp_path / "one.json"))[1], sample[0])
    with pytest.raises(EventFileError, match="holds one event, not 3"):
        write_events(sample, tmp_path / "three.json")


def small_event():
    return {"description": "d", "montecarlo": {"description": ["key", "hits"], "particles": [[1, [0, 1, 2]]]},
            "module_prefix_sum": list(range(53)), "x": [1.0] * 52, "y": [2.0] * 52, "z": [float(i) for i in range(52)]}


def changed(**changes):
    event = small_event()
    for key, value in changes.items():
        if value is KeyError:
            del event[key]
        else:
            event[key] = value
    return event


@pytest.mark.parametrize("event, message", [
    ([], "the event is a list, not an object"),
    (changed(x=KeyError), "missing key 'x'"),
    (changed(montecarlo=KeyError), "missing key 'montecarlo'"),
    (changed(description=3), "'description' is a int, not a string"),
    (changed(module_prefix_sum=list(range(52))), "has 52 entries, needs at least 53"),
    (changed(module_prefix_sum=[0, 0] + list(range(1, 52))), "module 0 has no hits"),
    (changed(module_prefix_sum=list(range(1, 54))), "starts at 1, not 0"),
    (changed(module_prefix_sum=[0.0] + list(range(1, 53))), "entry 0 is 0.0"),
    (changed(module_prefix_sum=list(range(53)) + [2 ** 64]), "entry 53 is 18446744073709551616"),
    (changed(module_prefix_sum="0,1"), "is a str, not a list of integers"),
    (changed(x=[1.0] * 51), "'x' has 51 entries but 'module_prefix_sum' counts 52 hits"),
    (changed(y=["1"] * 52), "'y' holds a value that is not a number"),
    (changed(y=[None] * 52), "'y' holds a value that is not a number"),
    (changed(z=[[1.0]] * 52), "'z' is not a flat list"),
    (changed(z=[float("nan")] * 52), "not a finite number"),
    (changed(t=None), "'t' is a NoneType"),
    (changed(montecarlo=[1]), "'montecarlo' is a list, not an object"),
    (changed(montecarlo={"description": ["hits"]}), "'montecarlo' has no 'particles'"),
    (changed(montecarlo={"description": ["hits"], "particles": [[[0, 52]]]}),
     "particle 0 lists hit 52, but the event has 52"),
    (changed(montecarlo={"description": ["hits"], "particles": [[[0]], [[0.5]]]}), "particle 1: 'hits' is not a list"),
    (changed(montecarlo={"description": ["hits"], "particles": [5]}), "particle 0 is a int, not a list"),
])
def test_checker_names_the_problem(event, message):
    with pytest.raises(EventFormatError, match=message.replace("(", r"\(")):
        check_event(event)


def test_checker_accepts_what_the_module_accepts():
    # extra coordinates, no Monte Carlo record, long Monte Carlo rows: all valid input (a short row
    # would lose values silently, so the checker refuses it although the module accepts it)
    event = changed(x=[1.0] * 60, montecarlo=None)
    assert check_event(event)["x"].dtype == np.float64
    check_event(changed(montecarlo={"description": ["key", "hits"], "particles": [[1, [0], "extra"]]}))
    with pytest.raises(EventFormatError, match="particle 0 has 1 values for the 2 columns"):
        check_event(changed(montecarlo={"description": ["key", "hits"], "particles": [[1]]}))


def write(path, text):
    path.write_text(text)
    return path


@pytest.mark.parametrize("name, content, message", [
    ("bad.json", '{"x": 1', r"bad.json: not valid JSON \(line 1, column 8"),
    ("bad.json", "\xff", "not valid JSON .*UTF-8"),
    ("nan.json", '{"x": NaN}', "not valid JSON"),
    ("keys.json", json.dumps({"x": []}), "keys.json: missing key 'description'"),
    ("empty.json", json.dumps(changed(module_prefix_sum=[0, 0] + list(range(1, 52)))),
     "empty.json: module 0 has no hits"),
    ("notes.txt", "hello", "unknown file type '.txt'"),
    ("bad.parquet", "not parquet", "bad.parquet: not a readable Parquet file"),
])
def test_bad_files_give_one_line(tmp_path, name, content, message):
    path = tmp_path / name
    path.write_bytes(content.encode("latin-1"))
    with pytest.raises(EventFileError, match=message) as caught:
        load_events([path], strict=True)
    assert "\n" not in str(caught.value)


def test_missing_paths_and_empty_directories(tmp_path, sample):
    write_events(sample[:1], tmp_path / "one.json")
    (tmp_path / "empty").mkdir()
    paths = [tmp_path / "nothing.json", tmp_path / "empty", tmp_path / "one.json"]
    loaded = load_events(paths)
    assert len(loaded.events) == 1
    assert [p.split(": ", 1)[1] for p in loaded.problems] == ["no such file or directory",
                                                              "directory holds no .json or .parquet files"]
    with pytest.raises(EventFileError, match="nothing.json: no such file or directory"):
        load_events(paths, strict=True)


def test_parquet_problems_name_the_event(tmp_path, sample):
    table = events_table(sample, typed_montecarlo=False)
    pq.write_table(table.drop_columns(["y"]), tmp_path / "noy.parquet")
    records = table.column("montecarlo").to_pylist()
    records[1] = "{not json"
    broken = table.set_column(table.column_names.index("montecarlo"), "montecarlo", pa.array(records))
    pq.write_table(broken, tmp_path / "mc.parquet")
    with pytest.raises(EventFileError, match="noy.parquet: missing column 'y'"):
        load_events([tmp_path / "noy.parquet"], strict=True)
    loaded = load_events([tmp_path / "mc.parquet"])
    assert [e["description"] for e in loaded.events] == [sample[0]["description"], sample[2]["description"]]
    assert loaded.problems == [f"{tmp_path / 'mc.parquet'} [event 1]: 'montecarlo' is not valid JSON text"]


def test_bad_file_does_not_stop_the_others_unless_strict(tmp_path, sample):
    write_events(sample[:2], tmp_path / "good")
    write(tmp_path / "good" / "event_00001.json", "[")
    loaded = load_events([tmp_path / "good"])
    assert len(loaded.events) == 1 and len(loaded.problems) == 1 and "event_00001.json" in loaded.problems[0]
    with pytest.raises(EventFileError, match="event_00001.json"):
        load_events([tmp_path / "good"], strict=True)


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize("fault", [
    {},                                                            # sound
    {"module_prefix_sum": list(range(53)) + [60], "x": [1.0] * 52 + [NAN]},  # extras beyond the hits are free
    {"module_prefix_sum": list(range(52))},
    {"module_prefix_sum": list(range(1, 54))},
    {"module_prefix_sum": [0, 0] + list(range(1, 52))},
    {"module_prefix_sum": [0, 2, 1] + list(range(3, 53))},
    {"module_prefix_sum": list(range(53)) + [-1]},
    {"x": [1.0] * 51},
    {"y": [2.0] * 51 + [NAN]},
    {"z": [INF] + [1.0] * 51},
    {"t": [0.5] * 51 + [-INF]},
    {"t": [0.5] * 51},
])
def test_parquet_rows_are_checked_as_the_checker_checks_them(tmp_path, fault):
    # The column checks vouch for rows on whole arrays; a faulty row among sound ones must still be
    # refused with the checker's own words, and the sound ones read.
    sound = dict(small_event(), t=[0.5] * 52)
    faulty = {**sound, **fault}
    write_events([sound, faulty, sound], tmp_path / "rows.parquet")
    try:
        check_event(faulty)
        expected = []
    except EventFormatError as error:
        expected = [f"{tmp_path / 'rows.parquet'} [event 1]: {error}"]
    loaded = load_events([tmp_path / "rows.parquet"])
    assert loaded.problems == expected
    assert len(loaded.events) == 3 - len(expected)
    for event in loaded.events:
        assert isinstance(event["module_prefix_sum"], list) and event["x"].dtype == np.float64


def test_row_groups_share_one_parsed_footer_and_see_a_rewritten_file(tmp_path, monkeypatch):
    """Every row group of a file is read with the footer parsed once; a file rewritten in place
    (another size) is parsed anew, so its events are never read through a stale footer. (Where the
    footer can be indexed, each row group is read through its own entry instead: test_parquet_footer.)"""
    import pyarrow.parquet as pq

    from corvane_tools import event_files, parquet_footers

    monkeypatch.setattr(event_files, "footer_index", lambda _path: None)

    path = tmp_path / "sample.parquet"
    events = generate_range(5, 0, 4)
    pq.write_table(events_table(events), path, row_group_size=2)
    parses = []
    read_metadata = pq.read_metadata
    monkeypatch.setattr(pq, "read_metadata", lambda where: parses.append(where) or read_metadata(where))
    read = [(position, event["description"]) for group in (1, 0, 1) for position, _, event in read_events(path, group)]
    assert read == [(i, events[i]["description"]) for i in (2, 3, 0, 1, 2, 3)] and len(parses) == 1
    pq.write_table(events_table(events[:3]), path, row_group_size=1)
    read = [(position, event["description"]) for position, _, event in read_events(path, 2)]
    assert read == [(2, events[2]["description"])] and len(parses) == 2
    assert parquet_footers._parsed.cache_info().currsize <= parquet_footers.KEPT_FILES


@pytest.mark.parametrize("layout", ["one chunk", "several chunks", "a slice"])
@pytest.mark.parametrize("typed_truth", [False, True])
def test_table_events_do_not_depend_on_how_columns_are_chunked(sample, layout, typed_truth):
    """A row group read whole keeps its columns as they are; other tables are combined first."""
    from corvane_tools.event_files import _table_events
    from corvane_tools.typed_truth import TypedTruth

    table = events_table(sample)
    if layout == "several chunks":
        table = pa.concat_tables([table.slice(0, 1), table.slice(1, 1), table.slice(2)])
    chosen = table.slice(1) if layout == "a slice" else table
    expected = sample[1:] if layout == "a slice" else sample
    read = [event for _, _, event, _, _ in _table_events(chosen, "s.parquet", 0, str, typed_truth)]
    assert len(read) == len(expected)
    for event, original in zip(read, expected):
        if isinstance(event["montecarlo"], TypedTruth):
            event = {**event, "montecarlo": event["montecarlo"].record()}
        same_event(event, original)
