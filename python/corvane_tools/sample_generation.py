"""`corvane generate`: simulating a sample and writing it as it is made.

Events are simulated in chunks by worker processes (each event is a pure
function of seed and index, so the output is the same byte for byte
whatever the number of processes) and written in order as the chunks
arrive: JSON files one by one, or Parquet row groups of `ROW_GROUP_EVENTS`,
each gathered from stretches of `STRETCH_EVENTS` (a row group's table takes
about 130 kB per event: short stretches keep few megabytes waiting between
the processes). Only a few chunks are in memory at any time, so memory does
not grow with the sample.
The output appears complete or not at all (see `sample_output`).
"""
import json
import math
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Final

import numpy as np

from .conditions import Conditions
from .event_dict import EventDict
from .event_files import ROW_GROUP_EVENTS
from .generator import BLOCK_EVENTS, generate_range, iter_blocks
from .job import hit_count
from .ordered_pool import ordered_map
from .sample_output import (event_file_name, output_kind, check_replaceable, write_file_atomically, write_manifest,
                            written_in_place)

CHUNK_EVENTS: Final = ROW_GROUP_EVENTS  # JSON events simulated in one call
# Parquet events simulated in one call (whole blocks): 20. A stretch's Arrow stream (about 2.7 MB at the default
# conditions) then stays below the commands' fixed mmap threshold (allocator.FIXED_THRESHOLD), so its memory is
# reused from the heap; 40 events took a fresh mapping every time, about 1,400 page faults.
STRETCH_EVENTS: Final = BLOCK_EVENTS
GENERATOR_METADATA: Final = b"corvane.generator"  # Parquet schema metadata: the seed and conditions, as JSON


@dataclass(frozen=True)
class Written:
    events: int
    hits: int
    files: int


def _event_json(event: EventDict) -> bytes:
    ready = {key: value.tolist() if isinstance(value, np.ndarray) else value for key, value in event.items()}
    return json.dumps(ready, separators=(",", ":")).encode("utf-8")


def json_chunk(seed: int, first: int, count: int, conditions: Conditions) -> tuple[list[bytes], int]:
    """The chunk's events as JSON texts, and their number of hits."""
    events = generate_range(seed, first, count, conditions)
    return [_event_json(event) for event in events], sum(hit_count(event) for event in events)


def parquet_chunk(seed: int, first: int, count: int, conditions: Conditions) -> tuple[bytearray, int]:
    """The chunk's events as an Arrow stream of one table, and their number of hits."""
    import pyarrow as pa

    from .parquet_layout import block_table

    # Built from the simulated columns, ten events to a record batch, with no Python object per hit.
    tables = []
    hits = 0
    for start in range(first, first + count, BLOCK_EVENTS):
        pieces = []
        for block, lo, hi in iter_blocks(start, min(BLOCK_EVENTS, first + count - start), seed, conditions):
            pieces.append(block_table(block, lo, hi))
            bounds = block.hit_offsets
            hits += int(bounds[hi] - bounds[lo])
        tables.append(pieces[0] if len(pieces) == 1 else pa.concat_tables(pieces).combine_chunks())
    table = pa.concat_tables(tables)
    # Measured first, then written straight into Python memory of that size: a growing stream would copy its
    # megabytes again each time it grows, and an Arrow buffer would be copied once more into bytes.
    measured = pa.MockOutputStream()
    _write_stream(measured, table)
    encoded = bytearray(measured.size())
    _write_stream(pa.FixedSizeBufferWriter(pa.py_buffer(encoded)), table)
    return encoded, hits


def _write_stream(sink: Any, table: Any) -> None:
    import pyarrow as pa

    with pa.ipc.new_stream(sink, table.schema) as stream:
        stream.write_table(table)


def _chunks(count: int, seed: int, conditions: Conditions, size: int) -> Iterator[tuple[int, int, int, Conditions]]:
    for first in range(0, count, size):
        yield seed, first, min(size, count - first), conditions


def _row_groups(count: int, seed: int, conditions: Conditions, processes: int) -> Iterator[tuple[Any, int]]:
    """Each row group's table, gathered from the stretches in order, and its number of hits. Its record
    batches are the simulation's, whatever the stretch length, so the file's pages are too."""
    import pyarrow as pa

    stretch = math.gcd(STRETCH_EVENTS, ROW_GROUP_EVENTS)  # stretches that make up whole row groups
    stretches = ordered_map(parquet_chunk, _chunks(count, seed, conditions, stretch), processes,
                            window=2 * processes + ROW_GROUP_EVENTS // stretch)
    for first in range(0, count, ROW_GROUP_EVENTS):
        tables = []
        hits = 0
        for _ in range(first, min(first + ROW_GROUP_EVENTS, count), stretch):
            encoded, stretch_hits = next(stretches)
            tables.append(pa.ipc.open_stream(encoded).read_all())
            hits += stretch_hits
        yield pa.concat_tables(tables), hits


def _write_parquet(path: Path, count: int, seed: int, conditions: Conditions, processes: int,
                   progress: Any) -> int:
    from .parquet_appender import RowGroupAppender
    from .parquet_layout import dictionary_columns

    hits = 0
    writer = None
    try:
        for table, chunk_hits in _row_groups(count, seed, conditions, processes):
            if writer is None:
                made = json.dumps({"seed": seed, "conditions": conditions.as_dict()}).encode()
                writer = RowGroupAppender(path, table.schema.with_metadata({**(table.schema.metadata or {}),
                                                                             GENERATOR_METADATA: made}),
                                          use_dictionary=dictionary_columns(table.schema))
            writer.write_table(table)
            hits += chunk_hits
            _advance(progress, table.num_rows)
        if writer is not None:
            writer.close()
    except BaseException:
        if writer is not None:
            writer.abandon()
        raise
    return hits


def _write_directory(directory: Path, count: int, seed: int, conditions: Conditions, processes: int,
                     progress: Any) -> int:
    directory.mkdir()
    hits = 0
    names: list[str] = []
    for texts, chunk_hits in ordered_map(json_chunk, _chunks(count, seed, conditions, CHUNK_EVENTS), processes):
        for text in texts:
            names.append(event_file_name(len(names)))
            (directory / names[-1]).write_bytes(text)
        hits += chunk_hits
        _advance(progress, len(texts))
    write_manifest(directory, names, {"seed": seed, "conditions": conditions.as_dict()})
    return hits


def _advance(progress: Any, events: int) -> None:
    if progress is not None:
        progress.update(events)


def generate_sample(out: Path, count: int, seed: int, processes: int = 1, overwrite: bool = False,
                    progress: Any = None, conditions: Conditions | None = None) -> Written:
    """Simulates events 0 .. count-1 of `seed` into `out` (.parquet file, .json file or directory).

    Raises OutputError before any work when `out` cannot take the sample or
    holds something already (unless `overwrite`), and OSError when writing fails.
    """
    conditions = conditions or Conditions()
    kind = output_kind(out, count)
    check_replaceable(out, overwrite)
    if kind == "json":
        texts, hits = json_chunk(seed, 0, 1, conditions)
        write_file_atomically(out, lambda temporary: temporary.write_bytes(texts[0]))
        _advance(progress, 1)
        return Written(1, hits, 1)
    chunk = CHUNK_EVENTS if kind == "directory" else math.gcd(STRETCH_EVENTS, ROW_GROUP_EVENTS)
    processes = max(1, min(processes, -(-count // chunk)))  # no idle process for a small sample
    with written_in_place(out) as temporary:
        if kind == "parquet":
            hits = _write_parquet(temporary, count, seed, conditions, processes, progress)
        else:
            hits = _write_directory(temporary, count, seed, conditions, processes, progress)
    return Written(count, hits, 1 if kind == "parquet" else count)
