"""Events as Arrow tables, the form they take in Parquet files.

One row per event: "description" (string), "module_prefix_sum" (list of
int64), "x", "y", "z" and optional "t" (lists of float64), and "montecarlo".

The Monte Carlo record is stored in one of two ways:
- typed: a list of structs per event, one struct per particle, whose fields
  are the record's column names in order (the hit positions a nested list of
  int64); a null entry is an event without truth. Reading it needs no text
  parsing and its checks run on whole arrays.
- text: the record as JSON text (null for no truth), what older files hold,
  and what records that do not fit the typed columns are still written as.

Both read back to the same event dictionaries.
"""
import json
from collections.abc import Sequence
from typing import Any, Final

import numpy as np
import pyarrow as pa

from .block_columns import INTEGER_COLUMNS, REAL_COLUMNS, BlockColumns, MonteCarloColumns
from .event_format import COORDINATE_KEYS
from .montecarlo_record import MC_COLUMNS
from .event_dict import EventDict

# The typed Monte Carlo columns are the generator's, in its order: the hit positions a list of int64, the
# momenta and angles float64, every other column int64.
HITS_COLUMN: Final = "hits"
FLOAT_COLUMNS: Final = frozenset({"p", "pt", "eta", "phi", "originZ"})


def _field_type(name: str) -> pa.DataType:
    if name == HITS_COLUMN:
        return pa.list_(pa.int64())
    return pa.float64() if name in FLOAT_COLUMNS else pa.int64()


PARTICLE_TYPE: Final = pa.struct([pa.field(name, _field_type(name)) for name in MC_COLUMNS])
TYPED_MONTECARLO: Final = pa.list_(PARTICLE_TYPE)


def schema(with_t: bool = False, typed_montecarlo: bool = True) -> pa.Schema:
    coordinates = COORDINATE_KEYS + (("t",) if with_t else ())
    return pa.schema([("description", pa.string()),
                      ("montecarlo", TYPED_MONTECARLO if typed_montecarlo else pa.string()),
                      ("module_prefix_sum", pa.list_(pa.int64())),
                      *((name, pa.list_(pa.float64())) for name in coordinates)])


def _plain(value: Any) -> Any:
    return value.tolist() if isinstance(value, np.ndarray) else value


def _fits_typed_columns(record: Any) -> bool:
    """Whether the record round-trips exactly through the typed columns."""
    if record is None:
        return True
    if not isinstance(record, dict) or set(record) != {"description", "particles"}:
        return False
    if list(record["description"]) != list(MC_COLUMNS) or not isinstance(record["particles"], list):
        return False
    for row in record["particles"]:
        if not isinstance(row, list) or len(row) != len(MC_COLUMNS):
            return False
        for name, value in zip(MC_COLUMNS, row):
            if name in FLOAT_COLUMNS:
                if type(value) is not float:
                    return False
            elif name == HITS_COLUMN:
                if not isinstance(value, list) or not all(type(hit) is int for hit in value):
                    return False
            elif type(value) is not int:
                return False
    return True


def _typed_montecarlo(records: Sequence[Any]) -> pa.Array:
    """The records as a list-of-structs column, built column by column."""
    rows = [row for record in records if record is not None for row in record["particles"]]
    counts = [len(record["particles"]) if record is not None else 0 for record in records]
    offsets = np.zeros(len(records) + 1, dtype=np.int32)
    np.cumsum(counts, out=offsets[1:])
    columns = list(zip(*rows)) if rows else [() for _ in MC_COLUMNS]
    fields = [pa.array(column, _field_type(name)) for name, column in zip(MC_COLUMNS, columns)]
    particles = pa.StructArray.from_arrays(fields, fields=list(PARTICLE_TYPE))
    mask = pa.array([record is None for record in records], pa.bool_())
    return pa.ListArray.from_arrays(pa.array(offsets, pa.int32()), particles, mask=mask)


def _text_montecarlo(records: Sequence[Any]) -> pa.Array:
    return pa.array([None if record is None else json.dumps(_plain(record), separators=(",", ":"))
                     for record in records], pa.string())


def events_table(events: Sequence[EventDict], typed_montecarlo: bool = True) -> pa.Table:
    """The events as one table: typed Monte Carlo columns when asked and every record fits them,
    text otherwise."""
    records = [event["montecarlo"] for event in events]
    typed = typed_montecarlo and all(_fits_typed_columns(record) for record in records)
    with_t = bool(events) and all("t" in event for event in events)
    columns: list[Any] = [
        pa.array([event["description"] for event in events], pa.string()),
        _typed_montecarlo(records) if typed else _text_montecarlo(records),
        pa.array([_plain(event["module_prefix_sum"]) for event in events], pa.list_(pa.int64())),
    ]
    for name in COORDINATE_KEYS + (("t",) if with_t else ()):
        columns.append(pa.array([np.asarray(event[name], dtype=np.float64) for event in events],
                                pa.list_(pa.float64())))
    return pa.Table.from_arrays(columns, schema=schema(with_t, typed))


def _list_array(offsets: np.ndarray[Any, Any], values: pa.Array) -> pa.Array:
    return pa.ListArray.from_arrays(pa.array(offsets, pa.int32()), values)


def _block_montecarlo(truth: MonteCarloColumns, lo: int, hi: int) -> pa.Array:
    """The typed Monte Carlo column of events lo to hi - 1 of a block, as `_typed_montecarlo` makes it from
    their rows."""
    event_bounds = np.zeros(truth.per_event.size + 1, np.int64)
    np.cumsum(truth.per_event, out=event_bounds[1:])
    first, stop = int(event_bounds[lo]), int(event_bounds[hi])
    hits, hit_offsets = truth.hits_in_order(first, stop)
    columns: dict[str, np.ndarray[Any, Any]] = {
        **{name: truth.integers[row, first:stop] for row, name in enumerate(INTEGER_COLUMNS)},
        **{name: truth.reals[row, first:stop] for row, name in enumerate(REAL_COLUMNS)}}
    fields = [_list_array(hit_offsets, pa.array(hits, pa.int64())) if name == HITS_COLUMN
              else pa.array(columns[name], _field_type(name)) for name in MC_COLUMNS]
    particles = pa.StructArray.from_arrays(fields, fields=list(PARTICLE_TYPE))
    no_record = pa.array(np.zeros(hi - lo, bool), pa.bool_())
    return pa.ListArray.from_arrays(pa.array(event_bounds[lo:hi + 1] - first, pa.int32()), particles,
                                    mask=no_record)


def block_table(block: BlockColumns, lo: int, hi: int) -> pa.Table:
    """Events lo to hi - 1 of a simulated block as `events_table` makes them from their dictionaries, built
    from the block's columns."""
    hit_bounds = block.hit_offsets
    hits = slice(int(hit_bounds[lo]), int(hit_bounds[hi]))
    prefix_sums = block.prefix_sums[lo:hi]
    columns: list[Any] = [
        pa.array(block.descriptions[lo:hi], pa.string()),
        _block_montecarlo(block.montecarlo, lo, hi),
        _list_array(np.arange(hi - lo + 1) * prefix_sums.shape[1], pa.array(prefix_sums.reshape(-1), pa.int64())),
        *(_list_array(hit_bounds[lo:hi + 1] - hit_bounds[lo], pa.array(axis[hits], pa.float64()))
          for axis in (block.x, block.y, block.z)),
    ]
    return pa.Table.from_arrays(columns, schema=schema())


def _leaf_columns(name: str, column_type: pa.DataType) -> list[tuple[str, pa.DataType]]:
    """The Parquet leaf columns under a field, by their dotted paths."""
    if pa.types.is_list(column_type):
        return _leaf_columns(f"{name}.list.element", column_type.value_type)
    if pa.types.is_struct(column_type):
        return [leaf for field in column_type for leaf in _leaf_columns(f"{name}.{field.name}", field.type)]
    return [(name, column_type)]


def dictionary_columns(table_schema: pa.Schema) -> list[str]:
    """The columns worth a dictionary when writing generated events: all but the floats whose values hardly
    repeat (x, y, momenta, angles), for which the writer only tries one and gives it up. z takes a few
    values per module."""
    leaves = [leaf for field in table_schema for leaf in _leaf_columns(field.name, field.type)]
    return [name for name, leaf_type in leaves if not pa.types.is_floating(leaf_type) or name == "z.list.element"]


def is_typed_montecarlo(column_type: pa.DataType) -> bool:
    """A list of particle structs with a list of integer hit positions (whatever other columns)."""
    if not pa.types.is_list(column_type) or not pa.types.is_struct(column_type.value_type):
        return False
    particle = column_type.value_type
    index = particle.get_field_index(HITS_COLUMN)
    return bool(index >= 0 and pa.types.is_list(particle[index].type)
                and pa.types.is_integer(particle[index].type.value_type))


def _field_values(field: pa.Array) -> list[Any]:
    if field.null_count:
        return list(field.to_pylist())
    return list(field.to_numpy(zero_copy_only=False).tolist())


def _hit_lists(field: pa.Array) -> list[Any]:
    """Each particle's hit positions as a list of ints (None where the list is null)."""
    if field.null_count:
        return list(field.to_pylist())
    ends = np.cumsum(field.value_lengths().to_numpy()).tolist()
    values = field.flatten().to_numpy(zero_copy_only=False).tolist()
    return [values[start:stop] for start, stop in zip([0, *ends[:-1]], ends)]


def _particle_counts(column: pa.Array) -> list[int]:
    counts: list[int] = column.value_lengths().fill_null(0).to_numpy().tolist()
    return counts


def typed_montecarlo_records(column: pa.Array) -> list[Any]:
    """The Monte Carlo records (dictionaries of rows, or None) of a typed column, one per event."""
    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    particles = column.flatten()  # the particles of the events present, in order
    names = [field.name for field in column.type.value_type]
    values = [_hit_lists(particles.field(i)) if name == HITS_COLUMN else _field_values(particles.field(i))
              for i, name in enumerate(names)]
    rows = list(map(list, zip(*values))) if len(particles) else []
    lengths = _particle_counts(column)
    valid = column.is_valid().to_numpy(zero_copy_only=False).tolist()
    records: list[Any] = []
    start = 0
    for length, present in zip(lengths, valid):
        records.append({"description": list(names), "particles": rows[start:start + length]} if present else None)
        start += length
    return records


def typed_hit_ranges(column: pa.Array) -> tuple[np.ndarray[Any, Any], np.ndarray[Any, Any]]:
    """Per event, the smallest and largest hit position its particles list (0 and -1 when none)."""
    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    particles = column.flatten()
    hits = particles.field(column.type.value_type.get_field_index(HITS_COLUMN))
    particle_bounds = np.concatenate([[0], np.cumsum(_particle_counts(column))])
    hit_bounds = np.concatenate([[0], np.cumsum(hits.value_lengths().fill_null(0).to_numpy())])
    flat = np.asarray(hits.flatten().to_numpy(zero_copy_only=False), dtype=np.int64)
    bounds = hit_bounds[particle_bounds]  # each event's stretch of `flat`
    lows = np.zeros(len(column), dtype=np.int64)
    highs = np.full(len(column), -1, dtype=np.int64)
    listing = np.flatnonzero(bounds[1:] > bounds[:-1])
    if listing.size:
        # Events that list no hit lie between the others' stretches, so each stretch ends where the next begins.
        starts = bounds[listing]
        lows[listing] = np.minimum.reduceat(flat, starts)
        highs[listing] = np.maximum.reduceat(flat, starts)
    return lows, highs
