"""Event files: one event per JSON file, or many events in one Parquet file.

JSON (".json") holds the event dictionary as it is: the interchange format.
Parquet (".parquet") holds one row per event with the columns "description",
"module_prefix_sum", "x", "y", "z" (optional "t") as typed lists and
"montecarlo" as typed nested columns (or, in older files, as JSON text); see
`parquet_layout`. It reads several times faster.

Every problem is reported as an `EventFileError` whose text is one line
naming the file (and the event within a Parquet file) and what is wrong.
"""
import json
import os
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Final, cast

import numpy as np
import orjson

from .collector import collector_paused
from .column_checks import sound_rows
from .detector import MODULE_COUNT
from .event_format import COORDINATE_KEYS, EventFormatError, check_event
from .sample_output import MANIFEST_NAME
from .truth_values import typed_problems
from .typed_truth import TypedTruth, columns_suit
from .parquet_footer import footer_index, row_group_metadata
from .parquet_footers import footer
from .parquet_layout import HITS_COLUMN, events_table, is_typed_montecarlo, typed_hit_ranges, typed_montecarlo_records
from .event_dict import EventDict

JSON_SUFFIX: Final = ".json"
PARQUET_SUFFIX: Final = ".parquet"
SUFFIXES: Final = (JSON_SUFFIX, PARQUET_SUFFIX)
LIST_COLUMNS: Final = ("module_prefix_sum",) + COORDINATE_KEYS
# Events per Parquet row group: the unit of work a task reads, about a second of it.
ROW_GROUP_EVENTS: Final = 160
RECORD_BATCH_EVENTS: Final = 16  # typed Monte Carlo records made into Python objects together
# Rows the job decodes at a time from a row group: a row group decoded whole is about 22 MB, and the decoding
# takes as much again while it lasts.
BATCH_EVENTS: Final = 32
# Bytes of a column chunk read at a time when decoding in batches: the compressed row group (about 10 MB) is
# then never held whole, and a 100,000-event run peaks about 16 MB lower.
STREAM_BUFFER: Final = 256 * 1024


class EventFileError(Exception):
    """A file, or an event in it, that cannot be used; the message is one line."""


@dataclass
class LoadedEvents:
    """Events read from files, with where each came from, and the problems met on the way."""
    events: list[EventDict] = field(default_factory=list)
    sources: list[str] = field(default_factory=list)
    problems: list[str] = field(default_factory=list)


def _suffix(path: Path) -> str:
    suffix = path.suffix.lower()
    if suffix not in SUFFIXES:
        raise EventFileError(f"{path}: unknown file type '{path.suffix}'; use .json or .parquet")
    return suffix


def _hidden(path: Path, root: Path) -> bool:
    """Hidden files and directories (and files being written under a temporary name) are not events."""
    return any(part.startswith(".") for part in path.relative_to(root).parts)


def _expand(path: Path) -> list[Path]:
    if path.is_dir():
        found = sorted(p for p in path.rglob("*") if p.suffix.lower() in SUFFIXES and p.name != MANIFEST_NAME
                       and not _hidden(p, path) and p.is_file())
        if not found:
            raise EventFileError(f"{path}: directory holds no .json or .parquet files")
        return found
    if not path.exists():
        raise EventFileError(f"{path}: no such file or directory")
    _suffix(path)
    return [path]


def expand_inputs(paths: Sequence[str | os.PathLike[str]], problems: list[str] | None = None,
                  repeated: list[str] | None = None) -> list[Path]:
    """Files named directly, and the .json and .parquet files of named directories and their
    subdirectories (sorted by path), each file once however often it is named.

    A path that is missing, of an unknown type or an empty directory raises
    EventFileError, or, given a `problems` list, is noted there and left out.
    Files named more than once are noted in `repeated`, one line per path naming them again.
    """
    files: list[Path] = []
    seen: set[Path] = set()
    for name in paths:
        try:
            found = _expand(Path(name))
        except EventFileError as error:
            if problems is None:
                raise
            problems.append(str(error))
            continue
        fresh = [path for path in found if path.resolve() not in seen]
        seen.update(path.resolve() for path in fresh)
        files.extend(fresh)
        if len(fresh) < len(found) and repeated is not None:
            what = "it is" if found == [Path(name)] else f"{len(found) - len(fresh)} of its files are"
            repeated.append(f"{name}: named more than once; {what} read once")
    return files


def _parse_json(text: bytes | str) -> Any:
    """JSON text to Python objects (orjson reads the same values as the json module, twice as fast)."""
    with collector_paused():
        return orjson.loads(text)


# A reader yields, per event: its position in the file, its source text, the event dictionary
# or the EventFileError that keeps this one event from being read, whether the hit positions of
# its Monte Carlo record are already checked, and whether its module boundaries and coordinates are.
RawEvent = tuple[int, str, "EventDict | EventFileError", bool, bool]


def _read_json(path: Path) -> Iterator[RawEvent]:
    try:
        event = _parse_json(path.read_bytes())
    except OSError as error:
        raise EventFileError(f"{path}: cannot be read: {error.strerror or error}") from None
    except json.JSONDecodeError as error:  # orjson's errors derive from it
        raise EventFileError(f"{path}: not valid JSON (line {error.lineno}, column {error.colno}: {error.msg})") \
            from None
    yield 0, str(path), event, False, False


def _one_array(column: Any) -> Any:
    """A table's column as one array: a row group read whole has its column in one chunk, used as it is;
    anything else (several chunks, or a slice of one) is combined into a new array."""
    if column.num_chunks == 1 and column.chunk(0).offset == 0:
        return column.chunk(0)
    return column.combine_chunks()


def _list_column(table: Any, path: str, name: str) -> tuple[np.ndarray[Any, Any], np.ndarray[Any, Any]]:
    """Offsets and flat values of a list column, as NumPy arrays."""
    import pyarrow as pa

    column = _one_array(table.column(name))
    if not (pa.types.is_list(column.type) or pa.types.is_large_list(column.type)):
        raise EventFileError(f"{path}: column '{name}' is {column.type}, not a list")
    if column.null_count:
        raise EventFileError(f"{path}: column '{name}' has empty (null) entries")
    values = column.values
    if values.null_count:
        raise EventFileError(f"{path}: column '{name}' holds null values")
    return column.offsets.to_numpy(), values.to_numpy(zero_copy_only=False)


def _unreadable(path: Path, error: BaseException) -> EventFileError:
    return EventFileError(f"{path}: not a readable Parquet file ({str(error).splitlines()[0]})")


def _open_row_group(path: Path, row_group: int, streamed: bool = False) -> tuple[Any, int, int]:
    """The file opened for reading row group `row_group`, the group's number there and the file position of
    its first row. `streamed`: the column chunks are read STREAM_BUFFER bytes at a time as the pages are
    decoded, rather than all of the row group's at once before the first page."""
    import pyarrow.parquet as pq

    options: dict[str, Any] = {"pre_buffer": False, "buffer_size": STREAM_BUFFER} if streamed else {}
    # A large file's whole footer takes long to decode and much memory to hold: read the row group by its
    # own entry, and parse the footer whole (once per file) only where it cannot be indexed.
    index = footer_index(path)
    if index is not None and 0 <= row_group < len(index):
        return (pq.ParquetFile(path, metadata=row_group_metadata(index, row_group), **options), 0,
                int(index.first_rows[row_group]))
    parsed = footer(path)
    in_file = 0 <= row_group < parsed.metadata.num_row_groups  # else reading it says what is wrong
    return parsed.open(path, **options), row_group, int(parsed.first_rows[row_group]) if in_file else 0


def _read_table(path: Path, row_group: int | None) -> tuple[Any, int]:
    """The whole table, or one row group and the file position of its first row."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    try:
        if row_group is None:
            return pq.read_table(path), 0
        parquet, group, first_row = _open_row_group(path, row_group)
        # Arrow's own threads would decode the columns of one row group in parallel: with the solver's
        # threads busy they only take turns with them, at about four times the processor time.
        return parquet.read_row_group(group, use_threads=False), first_row
    except (OSError, pa.ArrowException, UnicodeDecodeError) as error:
        raise _unreadable(path, error) from None


def _text_records(column: Any, source_of: Callable[[int], str], first_row: int) -> Iterator[Any]:
    """The records of a column of JSON text; an EventFileError in place of a record that is not JSON."""
    for row, text in enumerate(column.to_pylist()):
        try:
            yield None if text is None else _parse_json(text)
        except (TypeError, json.JSONDecodeError):
            yield EventFileError(f"{source_of(first_row + row)}: 'montecarlo' is not valid JSON text")


def _typed_records(column: Any) -> tuple[Iterator[Any], bool]:
    """The records of a typed column, made a few events at a time as they are asked for (all of a row
    group's particles as Python objects at once would take several times its columns' room), and
    whether every particle has every field (no nulls inside). `column`: one array (see `_table_events`)."""
    particles = column.flatten()
    fields = particles.flatten()
    hits = fields[[field.name for field in particles.type].index(HITS_COLUMN)]
    complete = not (particles.null_count or any(field.null_count for field in fields) or hits.flatten().null_count)

    def records() -> Iterator[Any]:
        for start in range(0, len(column), RECORD_BATCH_EVENTS):
            with collector_paused():
                batch = typed_montecarlo_records(column.slice(start, RECORD_BATCH_EVENTS))
            yield from batch

    return records(), complete


def _file_source(path: Path) -> Callable[[int], str]:
    """How messages name the event at a position of a Parquet file."""
    return lambda position: f"{path} [event {position}]"


def _read_parquet(path: Path, row_group: int | None, rows: range | None,
                  typed_truth: bool = False) -> Iterator[RawEvent]:
    table, first_row = _read_table(path, row_group)
    if rows is not None:
        table = table.slice(rows.start, len(rows))
        first_row += rows.start
    return _table_events(table, str(path), first_row, _file_source(path), typed_truth)


def _table_events(table: Any, path: str, first_row: int, source_of: Callable[[int], str],
                  typed_truth: bool = False) -> Iterator[RawEvent]:
    """The events of a table of the Parquet layout, the first at position `first_row` of `path`;
    `source_of(position)` names an event in messages."""
    names = set(table.column_names)
    for name in ("description", "montecarlo") + LIST_COLUMNS:
        if name not in names:
            raise EventFileError(f"{path}: missing column '{name}'")
    lists = {name: _list_column(table, path, name) for name in LIST_COLUMNS + (("t",) if "t" in names else ())}
    descriptions = table.column("description").to_pylist()
    # Rows whose boundaries and coordinates pass on the arrays need no check value by value.
    sound = (sound_rows(lists, table.num_rows) if all(isinstance(text, str) for text in descriptions)
             else np.zeros(table.num_rows, dtype=bool))
    montecarlo = table.column("montecarlo")
    typed = is_typed_montecarlo(montecarlo.type)
    faults: dict[int, str] = {}
    if typed:
        # One array for everything below that reads the records.
        entries = _one_array(montecarlo)
        records, complete = _typed_records(entries)
        lows, highs = typed_hit_ranges(entries)
        faults = typed_problems(entries)
        records_of: Iterator[Any] = iter(records)
        # Left in their columns for the validation when it can read them there (see typed_truth).
        kept_typed = typed_truth and complete and columns_suit(montecarlo.type)
        present = entries.is_valid().to_numpy(zero_copy_only=False)
    else:
        records_of = _text_records(montecarlo, source_of, first_row)
    for row in range(table.num_rows):
        event: dict[str, Any] = {"description": descriptions[row]}
        for name, (offsets, values) in lists.items():
            event[name] = values[offsets[row]:offsets[row + 1]]
        event["module_prefix_sum"] = event["module_prefix_sum"].tolist()
        source = source_of(first_row + row)
        # Every field present and typed, hit positions inside the event: they need no check value by value.
        checked = bool(typed and complete and lows[row] >= 0 and len(event["module_prefix_sum"]) > MODULE_COUNT
                       and highs[row] < event["module_prefix_sum"][MODULE_COUNT])
        if typed and kept_typed and checked and row not in faults:
            event["montecarlo"] = TypedTruth(entries, row) if present[row] else None
            yield first_row + row, source, cast(EventDict, event), checked, bool(sound[row])
            continue
        record = typed_montecarlo_records(entries.slice(row, 1))[0] if typed and kept_typed else next(records_of)
        if row in faults:
            record = EventFileError(f"{source}: {faults[row]}")
        if isinstance(record, EventFileError):
            yield first_row + row, source, record, False, False
            continue
        event["montecarlo"] = record
        yield first_row + row, source, cast(EventDict, event), checked, bool(sound[row])


def read_events(path: Path, row_group: int | None = None, problems: list[str] | None = None,
                rows: range | None = None, typed_truth: bool = False) -> Iterator[tuple[int, str, EventDict]]:
    """(position in the file, source, checked event) for every usable event of one file, of one row
    group of a Parquet file, or of the `rows` of that row group (or file) counted from its start.

    This is the one rule of what is usable, for checking, drawing and reconstructing alike: an
    event that cannot be read or fails its check is noted in `problems` (raised as EventFileError
    when `problems` is None) and the file's other events are still read. A file or row group that
    cannot be read at all raises EventFileError.

    `typed_truth`: a Monte Carlo record in typed Parquet columns that passed every check there stays
    in them, as a `TypedTruth` (for the job's validation, which reads the columns), not rows.
    """
    events = (_read_parquet(path, row_group, rows, typed_truth) if _suffix(path) == PARQUET_SUFFIX
              else _read_json(path))
    yield from _checked(events, problems)


class ReadAgain:
    """Yielded by `read_row_group_in_batches` when its row group fails part way: every event yielded and
    every problem noted before it is void, and the row group is read again whole after it."""


READ_AGAIN: Final = ReadAgain()


def _batch_tables(path: Path, row_group: int, rows: range | None, batch_events: int) -> Iterator[tuple[Any, int]]:
    """The row group's `rows` (counted from its start; None: all) as tables of at most `batch_events`
    rows, each with the file position of its first row. Every batch of the row group is decoded, those
    outside `rows` too: a row group is usable only when all of it can be read."""
    import pyarrow as pa

    try:
        parquet, group, first_row = _open_row_group(path, row_group, streamed=True)
        start = 0
        for batch in parquet.iter_batches(batch_size=batch_events, row_groups=[group], use_threads=False):
            stop = start + batch.num_rows
            low, high = (start, stop) if rows is None else (max(rows.start, start), min(rows.stop, stop))
            if low < high:
                table = pa.Table.from_batches([batch])
                yield (table if high - low == batch.num_rows else table.slice(low - start, high - low)), first_row + low
            start = stop
    except (OSError, pa.ArrowException, UnicodeDecodeError) as error:
        raise _unreadable(path, error) from None


def read_row_group_in_batches(path: Path, row_group: int, problems: list[str], rows: range | None = None,
                              typed_truth: bool = False,
                              batch_events: int | None = None) -> Iterator[tuple[int, str, EventDict] | ReadAgain]:
    """As `read_events` for one row group (its problems noted, never raised), decoded `batch_events` rows
    (default BATCH_EVENTS) at a time rather than whole, so that only a batch's columns are held at once.

    The result is that of reading the row group whole. That one fails as a whole where any of its batches
    cannot be read or fails a check of the whole table; so, should a batch fail after events went out,
    READ_AGAIN is yielded (what came before it is void, the problems noted since too) and the row group is
    read again whole, as `read_events` reads it: its problem is then noted as it would have been."""
    source_of = _file_source(path)

    def raw_events() -> Iterator[RawEvent]:
        for table, first_row in _batch_tables(path, row_group, rows, batch_events or BATCH_EVENTS):
            yield from _table_events(table, str(path), first_row, source_of, typed_truth)

    noted = len(problems)
    try:
        yield from _checked(raw_events(), problems)
        return
    except EventFileError:
        pass
    del problems[noted:]
    yield READ_AGAIN
    yield from read_events(path, row_group, problems, rows, typed_truth)


def read_table_events(table: Any, path: str, first_row: int, source_of: Callable[[int], str],
                      problems: list[str] | None = None,
                      typed_truth: bool = False) -> Iterator[tuple[int, str, EventDict]]:
    """As `read_events`, for a table of the Parquet layout held in memory (see `parquet_layout`): its
    events are at positions `first_row`, `first_row` + 1, ... of `path`, and `source_of(position)` names
    one in messages."""
    yield from _checked(_table_events(table, path, first_row, source_of, typed_truth), problems)


def _checked(events: Iterator[RawEvent], problems: list[str] | None) -> Iterator[tuple[int, str, EventDict]]:
    for position, source, event, hit_positions_checked, columns_checked in events:
        try:
            if isinstance(event, EventFileError):
                raise event
            try:
                checked = check_event(event, hit_positions_checked, columns_checked)
            except EventFormatError as error:
                raise EventFileError(f"{source}: {error}") from None
        except EventFileError as error:
            if problems is None:
                raise
            problems.append(str(error))
            continue
        yield position, source, checked


def read_file(path: Path, row_group: int | None = None) -> Iterator[tuple[str, EventDict]]:
    """(source, checked event) for every event of one file, or of one row group of a Parquet file;
    EventFileError on the first problem."""
    for _position, source, event in read_events(path, row_group):
        yield source, event


def load_events(paths: Sequence[str | os.PathLike[str]], strict: bool = False,
                progress: Any = None) -> LoadedEvents:
    """All usable events of the given files and directories.

    A bad path, file or event is noted in `problems` and the rest is read,
    unless `strict`, when the first problem raises EventFileError.
    """
    loaded = LoadedEvents()
    problems = None if strict else loaded.problems
    for path in expand_inputs(paths, problems):
        try:
            for _position, source, event in read_events(path, problems=problems):
                loaded.events.append(event)
                loaded.sources.append(source)
        except EventFileError as error:
            if strict:
                raise
            loaded.problems.append(str(error))
        if progress is not None:
            progress.update(1)
    return loaded


def _json_ready(event: EventDict) -> dict[str, Any]:
    return {key: value.tolist() if isinstance(value, np.ndarray) else value for key, value in event.items()}


def write_json(event: EventDict, path: Path) -> None:
    with path.open("w", encoding="utf-8") as stream:
        json.dump(_json_ready(event), stream, separators=(",", ":"))


def write_parquet(events: Sequence[EventDict], path: Path, row_group_events: int = ROW_GROUP_EVENTS) -> None:
    import pyarrow.parquet as pq

    pq.write_table(events_table(events), path, row_group_size=row_group_events)


def write_events(events: Sequence[EventDict], out: str | os.PathLike[str]) -> list[Path]:
    """Writes events to `out`: one .parquet file, one .json file (one event only), or a directory of
    event_NNNNN.json files. Returns the files written."""
    path = Path(out)
    try:
        return _write_events(events, path)
    except OSError as error:
        raise EventFileError(f"{error.filename or path}: cannot be written: {error.strerror or error}") from None


def check_output(path: Path, count: int) -> None:
    """Raises EventFileError when `count` events cannot go to `path`."""
    if path.suffix.lower() == JSON_SUFFIX and count != 1:
        raise EventFileError(f"{path}: a JSON file holds one event, not {count}; name a directory "
                             f"or a .parquet file instead")


def _write_events(events: Sequence[EventDict], path: Path) -> list[Path]:
    check_output(path, len(events))
    if path.suffix.lower() == PARQUET_SUFFIX:
        write_parquet(events, path)
        return [path]
    if path.suffix.lower() == JSON_SUFFIX:
        write_json(events[0], path)
        return [path]
    path.mkdir(parents=True, exist_ok=True)
    written = []
    for index, event in enumerate(events):
        written.append(path / f"event_{index:05d}{JSON_SUFFIX}")
        write_json(event, written[-1])
    return written
