"""Tracks kept in a Parquet file, and validated again later against their events.

`corvane run --tracks TRACKS.parquet` writes one file for all algorithms of
the job: one row per algorithm and event, with the columns

- "algorithm": the algorithm's command-line name;
- "event": the event's position in the job (0, 1, ...);
- "source", "index", "seed": where the event came from: the input file and
  its position there, or ("", index in the sample, seed) for a generated one;
- "event_digest": the event's content digest (see `event_identity`);
- "hit_ids": the event's tracks, each a list of hit ids in track order;
- "missed_last_module", "missed_penultimate_module": the tracks' flags.

Each unit of the job becomes one row group holding every algorithm's rows
for the unit's events, written as the job folds it: memory stays flat. The
file's metadata (key "corvane.tracks", JSON) names the algorithms with their
parameters and the sample they ran on.

`validate_saved` reads such a file and the event files, pairs each saved
event with the next event of the inputs that has its content digest (so
events the job skipped, or left out with --skip/--max-events, are passed
over), and folds the validation exactly as the job did.
"""
import contextlib
import json
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from types import TracebackType
from typing import Any, Final

import numpy as np

import corvane

from .arrays import TrackArrays, tracks_from_arrays
from .event_files import EventFileError
from .event_identity import EventIdentity, event_digest
from .job import hit_count
from .job_fold import JobFold
from .parameters import AlgorithmSettings
from .parquet_appender import RowGroupAppender
from .work_units import AlgorithmOutput, JobOptions, UnitResult, WorkUnit, plan_units, read_unit_places, with_truth
from .event_dict import EventDict, plain

IdentifiedEvents = Iterator[tuple[EventDict, EventIdentity]]   # each event with what identifies it

METADATA_KEY: Final = b"corvane.tracks"
FORMAT_VERSION: Final = 1


class SavedTracksError(Exception):
    """A tracks file that cannot be used, or that does not belong to the events given; one line."""


def _schema(metadata: dict[str, Any]) -> Any:
    import pyarrow as pa

    return pa.schema([("algorithm", pa.string()), ("event", pa.int64()), ("source", pa.string()),
                      ("index", pa.int64()), ("seed", pa.int64()), ("event_digest", pa.string()),
                      ("hit_ids", pa.list_(pa.list_(pa.int32()))), ("missed_last_module", pa.list_(pa.bool_())),
                      ("missed_penultimate_module", pa.list_(pa.bool_()))],
                     metadata={METADATA_KEY: json.dumps(metadata).encode()})


def _nested(per_event: Sequence[TrackArrays]) -> tuple[Any, Any, Any]:
    """Per event, its tracks as lists of hit ids, and the two flags as lists."""
    import pyarrow as pa

    counts = np.array([len(arrays) for arrays in per_event], dtype=np.int64)
    outer = pa.array(np.concatenate([[0], np.cumsum(counts)]).astype(np.int32))
    starts = np.cumsum([0] + [len(arrays.hit_ids) for arrays in per_event])
    inner = np.concatenate([arrays.offsets[:-1] + start for arrays, start in zip(per_event, starts)]
                           + [starts[-1:]]).astype(np.int32)
    hit_ids = np.concatenate([arrays.hit_ids for arrays in per_event] + [np.empty(0, np.int32)])
    tracks = pa.ListArray.from_arrays(outer, pa.ListArray.from_arrays(pa.array(inner), pa.array(hit_ids)))

    def flags(column: str) -> Any:
        values = np.concatenate([getattr(arrays, column) for arrays in per_event] + [np.empty(0, np.bool_)])
        return pa.ListArray.from_arrays(outer, pa.array(values))

    return tracks, flags("missed_last_module"), flags("missed_penultimate_module")


class TrackWriter:
    """Writes the tracks of every unit folded, as a sink of a JobFold (`fold.sinks.append(writer.add)`)."""

    def __init__(self, path: Path, names: Sequence[str], metadata: dict[str, Any]) -> None:
        self.path = path
        self.names = list(names)
        self._schema = _schema({"version": FORMAT_VERSION, **metadata})
        self._temporary = path.with_name(f".{path.name}.partial")
        # Each row group's footer entry waits as bytes, not decoded: flat memory at any number of units.
        self._writer = RowGroupAppender(self._temporary, self._schema)

    def add(self, first_event: int, result: UnitResult) -> None:
        import pyarrow as pa

        if result.events == 0:
            return
        if len(result.identities) != result.events:
            raise SavedTracksError("the job did not name its events; run it with JobOptions(identify=True)")
        identities = result.identities
        batches = []
        for name in self.names:
            tracks, missed_last, missed_penultimate = _nested(result.outputs[name].tracks)
            columns = [pa.array([name] * result.events), pa.array(range(first_event, first_event + result.events),
                                                                   pa.int64()),
                       pa.array([entry.source for entry in identities]),
                       pa.array([entry.index for entry in identities], pa.int64()),
                       pa.array([entry.seed for entry in identities], pa.int64()),
                       pa.array([entry.digest for entry in identities]), tracks, missed_last, missed_penultimate]
            batches.append(pa.Table.from_arrays(columns, schema=self._schema))
        self._writer.write_table(pa.concat_tables(batches))   # one row group per unit

    def close(self) -> None:
        """Completes the file: it appears under its name only now."""
        try:
            self._writer.close()
        except BaseException:
            self._temporary.unlink(missing_ok=True)
            raise
        self._temporary.replace(self.path)

    def discard(self) -> None:
        self._writer.abandon()
        self._temporary.unlink(missing_ok=True)

    def __enter__(self) -> "TrackWriter":
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close() if kind is None else self.discard()


# ---- reading and validating again ------------------------------------------

@dataclass
class SavedTracks:
    """What a tracks file says about itself."""
    path: Path
    names: list[str]
    settings: dict[str, AlgorithmSettings]
    metadata: dict[str, Any]
    file: Any = field(repr=False)                 # pyarrow.parquet.ParquetFile

    def units(self) -> list[WorkUnit]:
        """One unit per row group, of as many events as each algorithm has rows there."""
        groups = self.file.metadata.num_row_groups
        rows = [self.file.metadata.row_group(group).num_rows for group in range(groups)]
        if any(count % len(self.names) for count in rows):
            raise SavedTracksError(f"{self.path}: a row group does not hold every algorithm's rows")
        return [WorkUnit(group, (str(self.path),), count // len(self.names), row_group=group)
                for group, count in enumerate(rows)]


def open_saved(path: Path) -> SavedTracks:
    import pyarrow as pa
    import pyarrow.parquet as pq

    try:
        parquet = pq.ParquetFile(path)
    except (OSError, pa.ArrowException) as error:
        raise SavedTracksError(f"{path}: not a readable Parquet file ({str(error).splitlines()[0]})") from None
    raw = (parquet.schema_arrow.metadata or {}).get(METADATA_KEY)
    if raw is None:
        raise SavedTracksError(f"{path}: not a tracks file (written by corvane run --tracks)")
    try:
        metadata = json.loads(raw)
        version = metadata.get("version")
        if version != FORMAT_VERSION:
            raise SavedTracksError(f"{path}: tracks file version {version}; this tool reads version {FORMAT_VERSION}")
        algorithms = metadata["algorithms"]
        settings = {name: AlgorithmSettings.from_report(name, entry.get("parameters", {}))
                    for name, entry in algorithms.items()}
    except (ValueError, KeyError, TypeError, AttributeError):
        raise SavedTracksError(f"{path}: the description of its tracks is damaged") from None
    if not settings:
        raise SavedTracksError(f"{path}: names no algorithm")
    if not parquet.schema_arrow.remove_metadata().equals(_schema({}).remove_metadata()):
        raise SavedTracksError(f"{path}: its columns are not those of a tracks file of version {FORMAT_VERSION}")
    return SavedTracks(path, list(algorithms), settings, metadata, parquet)


def _saved_events(events: IdentifiedEvents,
                  wanted: Sequence[tuple[str, str]], path: Path) -> list[EventDict]:
    """The next events whose digests are `wanted` (digest, description), in that order; the events
    before each one are passed over."""
    found = []
    for digest, description in wanted:
        for event, identity in events:
            if identity.digest == digest:
                found.append(event)
                break
        else:
            raise SavedTracksError(f"{path}: {description} is not among the events given (none left with "
                                   f"its content digest {digest[:12]}...)")
    return found


def _event_stream(inputs: Sequence[str], problems: list[str], strict: bool, counts: dict[str, int]
                  ) -> IdentifiedEvents:
    for unit in plan_units(inputs, problems, strict):
        events, places, skipped = read_unit_places(unit, strict)
        problems += skipped
        for event, (source, index) in zip(events, places):
            counts["read"] += 1
            yield event, EventIdentity(source, index, None, event_digest(event))


def _arrays(hit_ids: Any, last: Any, penultimate: Any) -> TrackArrays:
    """One event's tracks from its row."""
    lengths = [len(track) for track in hit_ids]
    return TrackArrays(hit_ids=np.asarray([hit for track in hit_ids for hit in track], dtype=np.int32),
                       offsets=np.concatenate([[0], np.cumsum(lengths, dtype=np.int64)]).astype(np.int64),
                       missed_last_module=np.asarray(last, dtype=np.bool_),
                       missed_penultimate_module=np.asarray(penultimate, dtype=np.bool_))


def _validated_unit(saved: SavedTracks, unit: WorkUnit, events: IdentifiedEvents
                    ) -> UnitResult:
    return _validate_rows(saved, unit, saved.file.read_row_group(unit.index).to_pydict(), events)


def _validate_rows(saved: SavedTracks, unit: WorkUnit, rows: dict[str, list[Any]],
                   events: IdentifiedEvents) -> UnitResult:
    count = unit.events
    order = rows["algorithm"]
    if [order[k * count] for k in range(len(saved.names))] != saved.names or len(set(order)) != len(saved.names):
        raise SavedTracksError(f"{saved.path}: row group {unit.index} does not hold the algorithms in file order")
    wanted = [(rows["event_digest"][row], _describe_row(rows, row)) for row in range(count)]
    chunk = _saved_events(events, wanted, saved.path)
    handles = [corvane.DetectorEvent.Event(plain(event)) for event in chunk]
    truth = with_truth(chunk)
    validated = [plain(chunk[i]) for i in truth]
    outputs = {}
    for k, name in enumerate(saved.names):
        per_event = []
        for row in range(k * count, (k + 1) * count):
            if rows["event_digest"][row] != wanted[row - k * count][0]:
                raise SavedTracksError(f"{saved.path}: {name}'s rows of row group {unit.index} are not for the "
                                       "same events as the first algorithm's")
            columns = [rows[column][row] for column in ("hit_ids", "missed_last_module", "missed_penultimate_module")]
            try:
                if any(value is None for value in columns) or len({len(value) for value in columns}) != 1:
                    raise TypeError("a column is missing or of another length")
                per_event.append(_arrays(*columns))
            except TypeError:   # nulls where hit ids or flags belong
                raise SavedTracksError(f"{saved.path}: {_describe_row(rows, row)} of {name} is incomplete") \
                    from None
        try:
            tracks = [tracks_from_arrays(arrays, handle.hits) for arrays, handle in zip(per_event, handles)]
        except IndexError as error:
            raise SavedTracksError(f"{saved.path}: {name}, {error}") from None
        outputs[name] = AlgorithmOutput([corvane._records.measure_events(validated, [tracks[i] for i in truth])],
                                        per_event, 0.0)
    hit_counts = [hit_count(event) for event in chunk]
    return UnitResult(unit.index, count, sum(hit_counts), outputs, hit_counts=[hit_counts[i] for i in truth],
                      validated=len(truth))


def _describe_row(rows: dict[str, list[Any]], row: int) -> str:
    identity = EventIdentity(rows["source"][row], rows["index"][row], rows["seed"][row], rows["event_digest"][row])
    return f"saved event {rows['event'][row]} ({identity.describe()})"


@dataclass
class Validation:
    """Saved tracks validated again: the fold, how many input events were read to find them, and one
    line per input file or event that could not be read."""
    fold: JobFold
    events_read: int
    problems: list[str]


def validate_saved(saved: SavedTracks, inputs: Sequence[str], strict: bool = False,
                   detailed: bool = False) -> Validation:
    """The saved tracks folded with the events they were found in, as the job folded them."""
    problems: list[str] = []
    counts = {"read": 0}
    units = saved.units()
    fold = JobFold(units, JobOptions(tuple(saved.names), settings=tuple(saved.settings.values())), detailed)
    events = _event_stream(inputs, problems, strict, counts)
    try:
        for unit in units:
            fold.accept(_validated_unit(saved, unit, events))
    except EventFileError as error:
        raise SavedTracksError(str(error)) from None
    fold.check_complete()
    return Validation(fold, counts["read"], problems)


def tracks_metadata(fold: JobFold, sample: dict[str, Any]) -> dict[str, Any]:
    """What a tracks file says about its job: each algorithm with its parameters, and the sample."""
    return {"algorithms": {name: {"class": fold.label(name), "parameters": fold.settings[name].as_report()}
                           for name in fold.names},
            "sample": sample}


@contextlib.contextmanager
def saving_tracks(path: Path | None, fold: JobFold, sample: dict[str, Any]) -> Iterator[None]:
    """While the job runs, writes every unit's tracks to `path` as it is folded (nothing without a
    path); the file appears only when the job completes."""
    if path is None:
        yield
        return
    with TrackWriter(path, fold.names, tracks_metadata(fold, sample)) as writer:
        fold.sinks.append(writer.add)
        yield
