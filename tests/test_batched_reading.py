"""The job reads a Parquet row group a few events at a time and gets the results of reading it whole,
for row groups that fail part way too (a damaged page, a table fault in a later batch)."""
import json

import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from click.testing import CliRunner

from corvane_tools import cli, event_files, work_units
from corvane_tools.event_files import EventFileError, ReadAgain, read_events, read_row_group_in_batches
from corvane_tools.generator import generate_events
from corvane_tools.job_fold import JobFold
from corvane_tools.job_pipeline import process_unit_pipelined, run_locally
from corvane_tools.parquet_footer import _read_struct, _varint, _zigzag
from corvane_tools.parquet_layout import events_table
from corvane_tools.work_units import JobOptions, plan_units, process_unit, window_units

NAMES = ("track_following",)
ROW_GROUP = 8
BATCH = 3           # batches of 3, 3 and 2 events per row group
BAD_EVENT = 9       # row group 1, first batch
LATE_ROW = 14       # row group 1, last batch


@pytest.fixture(scope="module")
def events():
    return generate_events(3 * ROW_GROUP, 31)


@pytest.fixture(autouse=True)
def small_batches(monkeypatch):
    monkeypatch.setattr(event_files, "BATCH_EVENTS", BATCH)


def _page_starts(data, column):
    """File positions of the pages of a column chunk."""
    position = column.dictionary_page_offset or column.data_page_offset
    starts = []
    while position < column.data_page_offset + column.total_compressed_size:
        fields = []
        _, body = _read_struct(data, position, 0, fields)
        (start,) = [start for field, _kind, start, _end in fields if field == 3]  # the compressed page size
        starts.append(position)
        position = body + _zigzag(_varint(data, start)[0])
    return starts


def _damage_late_page(path):
    """Makes the header of a page holding row group 1's last events unreadable."""
    data = bytearray(path.read_bytes())
    group = pq.ParquetFile(path).metadata.row_group(1)
    (x,) = [group.column(i) for i in range(group.num_columns) if group.column(i).path_in_schema == "x.list.element"]
    starts = _page_starts(bytes(data), x)
    assert len(starts) >= 4
    page = starts[len(starts) * 3 // 4]
    data[page:page + 8] = b"\xff" * 8
    path.write_bytes(bytes(data))


def write_sample(events, path, damage):
    events = list(events)
    if "bad event" in damage:
        events[BAD_EVENT] = {**events[BAD_EVENT], "module_prefix_sum": [5] + list(events[BAD_EVENT]["module_prefix_sum"][1:])}
    table = events_table(events)
    if "null list" in damage:
        x = table.column("x").to_pylist()
        x[LATE_ROW] = None
        table = table.set_column(table.column_names.index("x"), "x", pa.array(x, table.schema.field("x").type))
    pq.write_table(table, path, row_group_size=ROW_GROUP, data_page_size=8192)
    if "page" in damage:
        _damage_late_page(path)
    return path


def read_whole(path, row_group, problems, rows=None, typed_truth=False):
    """How the job read a row group before: whole."""
    yield from read_events(path, row_group, problems, rows, typed_truth)


def folded(path, options, run, skip=0, limit=None):
    units = window_units(plan_units([str(path)], []), skip, limit)
    fold = JobFold(units, options)
    if run == "pipeline":
        run_locally(units, options, fold)
    else:
        for unit in units:
            fold.accept((process_unit if run == "serial" else process_unit_pipelined)(unit, options))
    fold.check_complete()
    return {"summary": fold.summary("track_following"), "export": json.dumps(fold.detailed_export("track_following")),
            "tracks": fold.tracks_digest("track_following"), "events": fold.events, "problems": fold.problems}


DAMAGES = ["", "page", "null list", "bad event, page", "bad event, null list"]


def noted(items, problems):
    """The items up to a row group's failure, which is noted in `problems` (as the job notes it)."""
    read = []
    try:
        read.extend(items)
    except EventFileError as error:
        problems.append(str(error))
    return read


@pytest.mark.parametrize("damage", DAMAGES)
def test_a_row_group_fails_in_batches_where_it_fails_whole(events, tmp_path, damage):
    path = write_sample(events, tmp_path / "s.parquet", damage)
    problems, whole = [], []
    items = noted(read_row_group_in_batches(path, 1, problems, typed_truth=True), problems)
    again = [index for index, item in enumerate(items) if isinstance(item, ReadAgain)]
    after = items[again[0] + 1:] if again else items
    assert [item[:2] for item in after] == [item[:2] for item in noted(read_events(path, 1, whole), whole)]
    assert problems == whole
    if "page" in damage or "null list" in damage:
        assert again and again[0] > 0  # it failed after events went out
        assert len(problems) == 1 and "[event" not in problems[0]


@pytest.mark.parametrize("damage", DAMAGES)
@pytest.mark.parametrize("run, window, max_hits", [
    ("serial", (0, None), None), ("pipeline", (0, None), None), ("cluster task", (0, None), None),
    ("serial", (9, 4), None),    # a window inside the damaged row group, the damage after it
    ("serial", (0, None), 2400),  # events left out for their size before the damage
])
def test_the_job_gets_the_results_of_reading_whole(events, tmp_path, monkeypatch, damage, run, window, max_hits):
    path = write_sample(events, tmp_path / "s.parquet", damage)
    options = JobOptions(NAMES, chunk_size=2, identify=True, max_hits=max_hits)
    batched = folded(path, options, run, *window)
    monkeypatch.setattr(work_units, "read_row_group_in_batches", read_whole)
    assert batched == folded(path, options, run, *window)
    if "page" in damage and window == (0, None):
        assert batched["events"] < len(events) - ROW_GROUP + 1  # the whole row group is skipped


@pytest.mark.parametrize("damage", ["page", "bad event, page"])
def test_strict_stops_at_the_row_group_as_when_reading_whole(events, tmp_path, monkeypatch, damage):
    path = write_sample(events, tmp_path / "s.parquet", damage)
    arguments = ["run", str(path), "-a", "track_following", "--strict", "-q"]
    batched = CliRunner().invoke(cli.main, arguments)
    assert batched.exit_code == 1 and "not a readable Parquet file" in batched.output
    monkeypatch.setattr(work_units, "read_row_group_in_batches", read_whole)
    whole = CliRunner().invoke(cli.main, arguments)
    assert (batched.exit_code, batched.output) == (whole.exit_code, whole.output)
