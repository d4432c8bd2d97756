"""The job cut into units of work that can run anywhere.

A unit is a handful of JSON event files, one row group of a Parquet file,
or a stretch of a generated sample. Planning needs only file names and
Parquet footers. `process_unit` reads the unit's events, solves them with
every algorithm and measures them for validation; it returns only small
things: per algorithm, the validation records (bytes) and each event's
tracks as arrays of hit ids (see `job_fold` for putting them together).
"""
import dataclasses
import time
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Final

import numpy as np

import corvane

from .algorithms import Solver, label
from .arrays import TrackArrays, batch_track_arrays, split_track_columns
from .binned import BINNED_VARIABLES, BinnedCounts, efficiency_in_bins
from .conditions import Conditions
from .event_identity import EventIdentity, event_digest
from .event_files import (PARQUET_SUFFIX, EventFileError, ReadAgain, expand_inputs, read_events,
                          read_row_group_in_batches, read_table_events)
from .generator import BLOCK_EVENTS, generate_range
from .job import DEFAULT_CHUNK, hit_count
from .parquet_footers import footer
from .sample_generation import parquet_chunk
from .typed_truth import truth_columns, with_rows
from .parameters import AlgorithmSettings, construct
from .parquet_footer import footer_index, row_group_metadata
from .user_algorithms import is_user_algorithm, load as load_user_algorithm
from .event_dict import EventDict, plain

Place = tuple[str, int]   # (file, position in it); ("", index) for a generated event

JSON_FILES_PER_UNIT: Final = 32
GENERATED_PER_UNIT: Final = 8 * BLOCK_EVENTS  # whole blocks, each simulated once; about a second of work
# Events simulated in one call (whole blocks): a unit's table takes about 130 kB per event, and the job holds
# several tables at once (waiting in the generating pool, being read, still referenced by events being
# solved), so short stretches keep the peak memory low and even. One block's stream (about 2.7 MB) also
# stays below the commands' fixed mmap threshold (see allocator), so its memory is reused, not mapped afresh.
GENERATED_PER_STRETCH: Final = BLOCK_EVENTS


@dataclass(frozen=True)
class WorkUnit:
    """Events to process together: JSON files, one row group of one Parquet file, or a stretch of a
    generated sample (made where the unit runs)."""
    index: int                    # position in the job; results fold in this order
    paths: tuple[str, ...]
    events: int                   # events the unit holds (as planned)
    row_group: int | None = None  # Parquet only
    seed: int | None = None       # generated: events first_event, first_event + 1, ... of this seed
    first_event: int = 0
    conditions: Conditions | None = None  # generated: the sample's conditions (None: the defaults)
    skip_rows: int = 0            # Parquet: rows of the row group left out before the unit's events

    def describe(self) -> str:
        if self.seed is not None:
            return f"generated events {self.first_event}..{self.first_event + self.events - 1} (seed {self.seed})"
        if self.row_group is None:
            return ", ".join(self.paths)
        rows = f", events {self.skip_rows}..{self.skip_rows + self.events - 1}" if self.skip_rows else ""
        return f"{self.paths[0]} [row group {self.row_group}{rows}]"


@dataclass(frozen=True)
class JobOptions:
    """What every unit of a job does, sent along with each unit."""
    names: tuple[str, ...]            # algorithms, by command-line name
    chunk_size: int = DEFAULT_CHUNK   # events per solve_batch call
    strict: bool = False              # raise on the first bad file or event instead of reporting it
    plots: bool = False               # also count what the plots show
    max_hits: int | None = None       # events with more hits are not reconstructed
    settings: tuple[AlgorithmSettings, ...] = ()  # parameters per algorithm; defaults for those not here
    identify: bool = False            # also name each event processed (source, position, content digest)

    def settings_of(self, name: str) -> AlgorithmSettings | None:
        return next((entry for entry in self.settings if entry.algorithm == name), None)

    def solvers(self) -> dict[str, Solver]:
        """A solver per algorithm, with its settings."""
        return {name: load_user_algorithm(name) if is_user_algorithm(name) else construct(name, self.settings_of(name))
                for name in self.names}


@dataclass
class AlgorithmOutput:
    """One algorithm's results for the events of a unit."""
    records: list[bytes]                              # validation records, one string per solved batch
    tracks: list[TrackArrays]                         # per event: hit ids, offsets and flags
    seconds: float                                    # time spent solving
    # With plots: per variable and category, (reconstructed, particles) in each bin.
    efficiency: BinnedCounts = field(default_factory=dict)


@dataclass
class UnitResult:
    index: int
    events: int                                       # events processed
    hits: int
    outputs: dict[str, AlgorithmOutput]
    problems: list[str] = field(default_factory=list)  # one line per file or event that was skipped
    skipped: int = 0                                  # planned events not processed
    hit_counts: list[int] = field(default_factory=list)  # per event validated
    identities: list[EventIdentity] = field(default_factory=list)  # per event processed, when asked for
    validated: int = 0                                # events processed that have Monte Carlo truth

    @classmethod
    def failed(cls, unit: WorkUnit, problem: str) -> "UnitResult":
        """A unit that could not be processed at all: each of its files is reported by name."""
        lines = [f"{source}: {problem}" for source in unit.paths or (unit.describe(),)]
        return cls(unit.index, 0, 0, {}, lines, unit.events)


# ---- planning (driver side: file names and Parquet footers only) -----------

def _parquet_units(path: Path, first_index: int) -> list[WorkUnit]:
    import pyarrow as pa

    try:
        index = footer_index(path)
        if index is not None and len(index):
            row_group_metadata(index, 0)   # what Arrow rejects in a footer, it rejects here too
            rows = [int(count) for count in index.rows]
        else:
            metadata = footer(path).metadata
            rows = [metadata.row_group(group).num_rows for group in range(metadata.num_row_groups)]
    except (OSError, pa.ArrowException, UnicodeDecodeError) as error:
        raise EventFileError(f"{path}: not a readable Parquet file ({str(error).splitlines()[0]})") from None
    return [WorkUnit(first_index + group, (str(path),), count, group) for group, count in enumerate(rows)]


def plan_units(paths: Sequence[str], problems: list[str], strict: bool = False,
               repeated: list[str] | None = None) -> list[WorkUnit]:
    """The units of the named files and directories, in file order, each file once (see
    `expand_inputs`). Missing paths, empty directories and Parquet files whose footer cannot be read
    are noted in `problems` (raised when `strict`)."""
    units: list[WorkUnit] = []
    pending_json: list[str] = []

    def flush_json() -> None:
        if pending_json:
            units.append(WorkUnit(len(units), tuple(pending_json), len(pending_json)))
            pending_json.clear()

    for path in expand_inputs(paths, None if strict else problems, repeated):
        if path.suffix.lower() != PARQUET_SUFFIX:
            pending_json.append(str(path))
            if len(pending_json) == JSON_FILES_PER_UNIT:
                flush_json()
            continue
        flush_json()
        try:
            units.extend(_parquet_units(path, len(units)))
        except EventFileError as error:
            if strict:
                raise
            problems.append(str(error))
    flush_json()
    return units


def plan_generated(count: int, seed: int, per_unit: int = GENERATED_PER_UNIT,
                   conditions: Conditions | None = None) -> list[WorkUnit]:
    """Units of a generated sample: each event depends only on (seed, index, conditions), so any process
    makes it."""
    return [WorkUnit(index, (), min(per_unit, count - first), seed=seed, first_event=first, conditions=conditions)
            for index, first in enumerate(range(0, count, per_unit))]


def window_units(units: Sequence[WorkUnit], skip: int = 0, limit: int | None = None) -> list[WorkUnit]:
    """The units cut down to the planned events skip, skip + 1, ..., skip + limit - 1 of the job,
    counted in input order (events that turn out unusable keep their place)."""
    stop = None if limit is None else skip + limit
    kept: list[WorkUnit] = []
    position = 0
    for unit in units:
        low = max(skip - position, 0)
        high = unit.events if stop is None else min(stop - position, unit.events)
        position += unit.events
        if high <= low:
            continue
        index = len(kept)
        if unit.seed is not None:
            kept.append(dataclasses.replace(unit, index=index, events=high - low, first_event=unit.first_event + low))
        elif unit.row_group is None:
            kept.append(dataclasses.replace(unit, index=index, events=high - low, paths=unit.paths[low:high]))
        else:
            kept.append(dataclasses.replace(unit, index=index, events=high - low, skip_rows=unit.skip_rows + low))
    return kept


# ---- processing (anywhere: the local process or a cluster worker) ---------

@dataclass
class Piece:
    """Up to `chunk_size` consecutive events of a unit, read, checked and ready for the solvers. The
    last piece of a unit (maybe empty) carries the unit's problems."""
    unit: WorkUnit
    events: list[EventDict] = field(default_factory=list)
    sources: list[str] = field(default_factory=list)   # where each event came from, for messages
    places: list[Place] = field(default_factory=list)  # (file, position in it); ("", index) if generated
    handles: list[Any] = field(default_factory=list)   # the Event of each event
    last: bool = False
    problems: list[str] = field(default_factory=list)  # files, rests of row groups and events skipped
    # The unit's row group failed part way: what its earlier pieces added up is void, and its events come
    # again from here on, as the row group read whole gives them (maybe none, its problem in `problems`).
    read_again: bool = False


def generated_stretches(unit: WorkUnit) -> list[tuple[int, int]]:
    """(first event, count) of each stretch of a generated unit simulated in one call. Stretches end on
    multiples of GENERATED_PER_STRETCH, so every block but those cut by the unit's own ends is simulated once."""
    stop = unit.first_event + unit.events
    bounds = [unit.first_event, *range((unit.first_event // GENERATED_PER_STRETCH + 1) * GENERATED_PER_STRETCH, stop,
                                       GENERATED_PER_STRETCH), stop]
    return [(low, high - low) for low, high in zip(bounds, bounds[1:]) if high > low]


def generated_table(unit: WorkUnit, first: int, count: int) -> bytearray:
    """Events first .. first + count - 1 of a generated unit, simulated here, as the Arrow stream of their
    table (see parquet_layout)."""
    encoded, _hits = parquet_chunk(unit.seed or 0, first, count, unit.conditions or Conditions())
    return encoded


def _generated_events(unit: WorkUnit, strict: bool, problems: list[str],
                      made: Iterable[bytearray] | None) -> Iterator[tuple[str, Place, EventDict]]:
    """A generated unit's events read from their tables as a Parquet row group is read, the Monte Carlo
    records left in their columns. `made`: the tables of the unit's stretches in order, simulated
    elsewhere (see `generated_table`)."""
    import pyarrow as pa

    stretches = generated_stretches(unit)
    tables = (generated_table(unit, *stretch) for stretch in stretches) if made is None else iter(made)
    for (first, _count), encoded in zip(stretches, tables):
        # Block by block, each its own record batch: the columns are then read in place, where a table of
        # several batches would first be copied into one array per column.
        for batch in pa.ipc.open_stream(encoded):
            table = pa.Table.from_batches([batch])
            for index, source, event in read_table_events(table, "", first,
                                                          lambda index: f"generated event {index} (seed {unit.seed})",
                                                          None if strict else problems, typed_truth=True):
                yield source, ("", index), event
            first += batch.num_rows


def _unit_events(unit: WorkUnit, strict: bool, problems: list[str], typed_truth: bool = False,
                 made: Iterable[bytearray] | None = None,
                 in_batches: bool = False) -> Iterator[tuple[str, Place, EventDict] | ReadAgain]:
    """(source, (file, position), checked event) for each usable event of the unit; a bad event, file or
    row group is noted in `problems` and the rest read, unless `strict`. `typed_truth`: see read_events
    (a generated unit then goes through its table; `made`: see `_generated_events`). `in_batches`: a row
    group is decoded a few events at a time, and may then yield READ_AGAIN (see read_row_group_in_batches)."""
    if unit.seed is not None and typed_truth:
        yield from _generated_events(unit, strict, problems, made)
        return
    if unit.seed is not None:
        events = generate_range(unit.seed, unit.first_event, unit.events, unit.conditions)
        for offset, event in enumerate(events):
            index = unit.first_event + offset
            yield f"generated event {index} (seed {unit.seed})", ("", index), event
        return
    rows = None if unit.row_group is None else range(unit.skip_rows, unit.skip_rows + unit.events)
    if in_batches and unit.row_group is not None and not strict:
        # Strict stops at the first problem: reading whole, that of the row group comes before its events'.
        (name,) = unit.paths
        try:
            for item in read_row_group_in_batches(Path(name), unit.row_group, problems, rows, typed_truth):
                yield item if isinstance(item, ReadAgain) else (item[1], (name, item[0]), item[2])
        except EventFileError as error:
            problems.append(str(error))
        return
    for name in unit.paths:
        try:
            for position, source, event in read_events(Path(name), unit.row_group, None if strict else problems,
                                                       rows, typed_truth):
                yield source, (name, position), event
        except EventFileError as error:
            if strict:
                raise
            problems.append(str(error))


def read_unit(unit: WorkUnit, strict: bool = False) -> tuple[list[EventDict], list[str]]:
    """The unit's usable events, and one line per event, file or row group that was skipped."""
    events, _places, problems = read_unit_places(unit, strict)
    return events, problems


def read_unit_places(unit: WorkUnit, strict: bool = False) -> tuple[list[EventDict], list[Place],
                                                                    list[str]]:
    """As `read_unit`, with each event's (file, position in the file); ("", index) for generated ones."""
    problems: list[str] = []
    read = [item for item in _unit_events(unit, strict, problems) if not isinstance(item, ReadAgain)]
    return [event for _, _, event in read], [place for _, place, _ in read], problems


def identify(unit: WorkUnit, events: Sequence[EventDict], places: Sequence[Place]) -> list[EventIdentity]:
    return [EventIdentity(source, index, unit.seed, event_digest(event))
            for event, (source, index) in zip(events, places)]


def read_pieces(unit: WorkUnit, options: JobOptions, made: Iterable[bytearray] | None = None) -> Iterator[Piece]:
    """The unit's events in pieces of `chunk_size`, those above `max_hits` left out (and named). `made`:
    a generated unit's tables, simulated elsewhere (see `_generated_events`)."""
    problems: list[str] = []
    piece = Piece(unit)
    for item in _unit_events(unit, options.strict, problems, typed_truth=True, made=made, in_batches=True):
        if isinstance(item, ReadAgain):
            piece = Piece(unit, read_again=True)
            continue
        source, place, event = item
        hits = hit_count(event)
        if options.max_hits is not None and hits > options.max_hits:
            problem = f"{source}: {hits:,} hits, above --max-hits {options.max_hits:,}; not reconstructed"
            if options.strict:
                raise EventFileError(problem)
            problems.append(problem)
            continue
        piece.events.append(event)
        piece.sources.append(source)
        piece.places.append(place)
        piece.handles.append(corvane.DetectorEvent.Event(plain(event)))
        if len(piece.events) == options.chunk_size:
            yield piece
            piece = Piece(unit)
    piece.last = True
    piece.problems = problems
    yield piece


def add_counts(total: BinnedCounts,
               part: BinnedCounts) -> None:
    """Adds binned (reconstructed, particles) counts into `total`: counts of separate events add up."""
    for variable, table in part.items():
        into = total.setdefault(variable, {})
        for category, bins in table.items():
            before = into.get(category, [(0, 0)] * len(bins))
            into[category] = [(a + c, b + d) for (a, b), (c, d) in zip(before, bins)]


def binned_efficiency(events: Sequence[EventDict],
                      tracks: Sequence[list[Any]]) -> BinnedCounts:
    return {variable: {category: [(ratio.passed, ratio.total) for ratio in ratios]
                       for category, ratios in efficiency_in_bins(events, tracks, variable, edges).items()}
            for variable, edges in BINNED_VARIABLES.items()}


def with_truth(events: Sequence[EventDict]) -> list[int]:
    """Positions of the events that have a Monte Carlo record: only those are validated (an event
    without truth would count its tracks but no ghosts, and dilute the ghost rate)."""
    return [i for i, event in enumerate(events) if event.get("montecarlo") is not None]


# What one event's reconstruction may run into without the job having to end.
EVENT_FAILURES: Final = (MemoryError, corvane.InternalFailure)


def _failure_text(name: str, error: BaseException) -> str:
    text = str(error).splitlines()[0] if str(error) else ""
    return f"{label(name)} failed: {type(error).__name__}" + (f": {text}" if text else "") + "; skipped"


def _solve_each(solver: Solver, name: str, handles: Sequence[Any], failed: dict[int, str]) -> list[Any]:
    """Solves the events one by one, noting in `failed` those that fail (None in their place)."""
    tracks: list[Any] = []
    for index, handle in enumerate(handles):
        try:
            tracks.append(solver.solve(handle))
        except EVENT_FAILURES as error:
            tracks.append(None)
            failed.setdefault(index, _failure_text(name, error))
    return tracks


@dataclass(frozen=True)
class TrackColumns:
    """A batch's tracks as `corvane._records.solve_tracks` returns them: hit ids, offsets (over the whole
    batch), the two flags and each event's number of tracks."""
    columns: tuple[bytearray, bytearray, bytearray, bytearray, bytearray]


# The algorithms `solve_tracks` solves into columns.
COMPILED_SOLVERS: Final = (corvane.ReconstructionAlgorithms.TrackFollowing,
                           corvane.ReconstructionAlgorithms.SearchByTripletTrie, corvane.ReconstructionAlgorithms.GraphDFS)


@dataclass
class SolvedPiece:
    """A piece with every algorithm's tracks for its events."""
    piece: Piece
    # Per algorithm: per event (None for an event that failed), or, when no event failed, maybe the
    # batch's columns (see solve_piece).
    tracks: dict[str, list[Any] | TrackColumns]
    seconds: dict[str, float]         # per algorithm, time spent solving
    failed: dict[int, str]            # position in the piece -> why it failed


def solve_piece(solvers: dict[str, Solver], piece: Piece, columns: bool = False) -> SolvedPiece:
    """Every algorithm's tracks for the piece's events. An event whose reconstruction fails with one of
    EVENT_FAILURES is found by solving the piece again one event at a time, and noted. `columns`: the
    module's own algorithms hand their tracks over as columns, no Track object made (the same tracks)."""
    failed: dict[int, str] = {}
    solved: dict[str, list[Any] | TrackColumns] = {}
    seconds: dict[str, float] = {}
    for name, solver in solvers.items():
        began = time.perf_counter()
        solved[name] = _solve_all(solver, name, piece.handles, failed,
                                  columns and bool(piece.handles) and isinstance(solver, COMPILED_SOLVERS))
        seconds[name] = time.perf_counter() - began
    if failed:
        # The events left out must leave every algorithm's results: columns cannot lose one, lists can.
        for name, solver in solvers.items():
            if isinstance(solved[name], TrackColumns):
                began = time.perf_counter()
                solved[name] = _solve_all(solver, name, piece.handles, failed, False)
                seconds[name] += time.perf_counter() - began
    return SolvedPiece(piece, solved, seconds, failed)


def _solve_all(solver: Solver, name: str, handles: Sequence[Any], failed: dict[int, str],
               columns: bool) -> list[Any] | TrackColumns:
    try:
        if columns:
            return TrackColumns(corvane._records.solve_tracks(solver, handles))
        return solver.solve_batch(handles) if handles else []
    except EVENT_FAILURES:
        return _solve_each(solver, name, handles, failed)


def _measured(tracks: Sequence[Sequence[Any]] | TrackColumns, truth: Sequence[int],
              columns: tuple[memoryview, memoryview, memoryview, memoryview] | None,
              rows: Sequence[dict[str, Any]]) -> tuple[bytes, list[TrackArrays]]:
    """The validation records of the events with truth (at positions `truth`; their records as typed
    `columns`, or as `rows` when None) and every event's tracks as arrays."""
    if isinstance(tracks, TrackColumns):
        measured = np.array(truth, dtype="<i8").tobytes()
        return (corvane._records.measure_solved(columns if columns is not None else list(rows), measured,
                                                *tracks.columns),
                split_track_columns(*tracks.columns))
    if columns is not None:
        # One call for the whole batch, reading each track once, on this thread.
        records, *arrays = corvane._records.measure_tracks(*columns, np.array(truth, dtype="<i8").tobytes(), tracks)
        return records, split_track_columns(*arrays)
    return corvane._records.measure_events(rows, [tracks[i] for i in truth]), batch_track_arrays(tracks)


class UnitProcessor:
    """Solves and measures a unit's pieces one after the other and adds up the unit's result.

    An event whose reconstruction fails with one of EVENT_FAILURES under any
    algorithm is left out for all of them and named in the unit's problems
    (raised as EventFileError when `strict`); the other events go on.
    """

    def __init__(self, unit: WorkUnit, options: JobOptions, solvers: dict[str, Solver] | None = None) -> None:
        self.unit = unit
        self.options = options
        self.solvers = options.solvers() if solvers is None else solvers
        self._start()

    def _start(self) -> None:
        """Nothing added up yet."""
        self.outputs = {name: AlgorithmOutput([], [], 0.0) for name in self.options.names}
        self.hit_counts: list[int] = []            # per event processed
        self.validated_hit_counts: list[int] = []  # per event validated (with truth)
        self.problems: list[str] = []
        self.identities: list[EventIdentity] = []

    def add(self, piece: Piece) -> None:
        self.add_solved(solve_piece(self.solvers, piece, columns=not self.options.plots))

    def add_solved(self, solved: SolvedPiece) -> None:
        """Measures a piece solved by `solve_piece` (with this unit's options) and adds it up."""
        piece, failed = solved.piece, solved.failed
        if piece.read_again:
            self._start()
        for name, seconds in solved.seconds.items():
            self.outputs[name].seconds += seconds
        for index in sorted(failed):
            problem = f"{piece.sources[index]}: {failed[index]}"
            if self.options.strict:
                raise EventFileError(problem)
            self.problems.append(problem)
        kept = [index for index in range(len(piece.events)) if index not in failed]
        events = [piece.events[index] for index in kept]
        truth = with_truth(events)
        if events:
            validated = [events[index] for index in truth]
            # Records still in typed columns go to the validation as they are; any other as rows.
            columns = truth_columns(validated)
            rows = [plain(with_rows(event)) for event in validated] if columns is None else []
            plotted = [with_rows(event) for event in events] if self.options.plots else []
            for name, output in self.outputs.items():
                solved_tracks = solved.tracks[name]
                # Columns come only from a piece where no event failed.
                tracks = (solved_tracks if isinstance(solved_tracks, TrackColumns)
                          else [solved_tracks[index] for index in kept])
                records, arrays = _measured(tracks, truth, columns, rows)
                output.records.append(records)
                output.tracks.extend(arrays)
                if self.options.plots:  # solved as Track objects (see solve_piece)
                    assert not isinstance(tracks, TrackColumns)
                    add_counts(output.efficiency, binned_efficiency(plotted, tracks))
        self.hit_counts.extend(hit_count(event) for event in events)
        self.validated_hit_counts.extend(hit_count(events[index]) for index in truth)
        if self.options.identify:
            self.identities.extend(identify(self.unit, events, [piece.places[index] for index in kept]))
        self.problems.extend(piece.problems)

    def result(self) -> UnitResult:
        processed = len(self.hit_counts)
        return UnitResult(self.unit.index, processed, sum(self.hit_counts), self.outputs, self.problems,
                          max(self.unit.events - processed, 0), self.validated_hit_counts, self.identities,
                          len(self.validated_hit_counts))


def process_unit(unit: WorkUnit, options: JobOptions) -> UnitResult:
    """Reads, solves and measures one unit. Unreadable files and events that cannot be processed are
    reported, not raised (unless strict)."""
    processor = UnitProcessor(unit, options)
    for piece in read_pieces(unit, options):
        processor.add(piece)
    return processor.result()
