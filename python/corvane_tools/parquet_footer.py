"""One row group's footer of a Parquet file, without decoding the whole footer each time.

A file's footer describes every row group (where each column chunk lies,
its statistics, ...); Arrow decodes all of it to read any one row group.
A file of a million events has thousands of row groups: its footer is
tens of megabytes as written and ten times that decoded, and decoding it
takes about half a second. So reading a row group at a time, as the job
does, would spend most of its time and memory there.

`footer_index` goes through the footer's bytes once (Thrift's compact
encoding, field by field, skipping what it does not need) and notes where
each row group's entry lies and how many rows it has. `row_group_metadata`
then reads that one entry back from the file and hands Arrow a footer with
it alone, which reads the same row group as the whole footer does: its
column chunks are found by their place in the file. Anything unexpected
in the footer gives no index, and the caller decodes the footer as usual.
"""
import functools
import os
import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Final

import numpy as np

MAGIC: Final = b"PAR1"               # an encrypted footer ends in another magic: no index for it
TAIL: Final = 8                      # the footer's length (4 bytes, little-endian) and the magic
NUM_ROWS: Final = 3                  # FileMetaData's and RowGroup's field of the number of rows (i64)
ROW_GROUPS: Final = 4                # FileMetaData's list of RowGroup structs
MAX_DEPTH: Final = 32                # deeper nesting than any footer has: not a footer

# The compact encoding's types.
_TRUE, _FALSE, _BYTE, _I16, _I32, _I64, _DOUBLE, _BINARY, _LIST, _SET, _MAP, _STRUCT = range(1, 13)


class FooterFormatError(ValueError):
    """Bytes that are not a footer as this module reads them."""


def _varint(data: bytes, pos: int) -> tuple[int, int]:
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        if byte < 0x80:
            return value, pos
        shift += 7
        if shift > 63:
            raise FooterFormatError("varint too long")


def _zigzag(value: int) -> int:
    return (value >> 1) ^ -(value & 1)


def _skip(data: bytes, pos: int, kind: int, depth: int, in_collection: bool = False) -> int:
    """The position after a value of `kind` starting at `pos` (the commonest types first: a large footer has
    millions of values)."""
    if _I16 <= kind <= _I64:
        while data[pos] & 0x80:
            pos += 1
        return pos + 1
    if kind == _BINARY:
        size, pos = _varint(data, pos)
        return pos + size
    if depth > MAX_DEPTH:
        raise FooterFormatError("nested too deep")
    if kind == _STRUCT:
        return _read_struct(data, pos, depth + 1)[1]
    if kind in (_TRUE, _FALSE):
        return pos + 1 if in_collection else pos   # a struct field's boolean is in its type
    if kind == _BYTE:
        return pos + 1
    if kind == _DOUBLE:
        return pos + 8
    if kind in (_LIST, _SET):
        header = data[pos]
        pos += 1
        size, element = header >> 4, header & 0x0F
        if size == 15:
            size, pos = _varint(data, pos)
        for _ in range(size):
            pos = _skip(data, pos, element, depth + 1, True)
        return pos
    if kind == _MAP:
        size, pos = _varint(data, pos)
        if size:
            types = data[pos]
            pos += 1
            for _ in range(size):
                pos = _skip(data, pos, types >> 4, depth + 1, True)
                pos = _skip(data, pos, types & 0x0F, depth + 1, True)
        return pos
    raise FooterFormatError(f"unknown type {kind}")


def _read_struct(data: bytes, pos: int, depth: int,
                 fields: list[tuple[int, int, int, int]] | None = None) -> tuple[list[tuple[int, int, int, int]], int]:
    """The struct at `pos`: (field id, type, start of value, end of value) of each of its fields, noted in
    `fields` when given, and the position after its stop byte."""
    found = [] if fields is None else fields
    field = 0
    while (header := data[pos]) != 0:
        pos += 1
        if header >> 4:
            field += header >> 4
        else:
            field, pos = _varint(data, pos)
            field = _zigzag(field)
        end = _skip(data, pos, header & 0x0F, depth)
        if fields is not None:
            found.append((field, header & 0x0F, pos, end))
        pos = end
    return found, pos + 1


def _field_header(field: int, kind: int) -> bytes:
    """A field header in the long form (the id written out), valid after any field."""
    return bytes([kind]) + _encode_varint(_zigzag_encode(field))


def _encode_varint(value: int) -> bytes:
    out = bytearray()
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


@dataclass(frozen=True)
class FooterIndex:
    """Where each row group's entry lies in a file's footer, and its number of rows."""
    path: str
    others: tuple[tuple[int, int, bytes], ...]  # the footer's other fields: (id, type, value), in order
    entry_start: np.ndarray   # file offset of each row group's entry
    entry_end: np.ndarray
    rows: np.ndarray          # rows of each row group
    first_rows: np.ndarray    # file position of each row group's first row

    def __len__(self) -> int:
        return len(self.rows)

    def footer(self, group: int) -> bytes:
        """A footer that describes row group `group` alone (as the file's row group 0)."""
        with open(self.path, "rb") as stream:
            start = int(self.entry_start[group])
            entry = os.pread(stream.fileno(), int(self.entry_end[group]) - start, start)
        own = ((NUM_ROWS, _I64, _encode_varint(_zigzag_encode(int(self.rows[group])))),
               (ROW_GROUPS, _LIST, bytes([1 << 4 | _STRUCT]) + entry))
        out = bytearray()
        for field, kind, value in sorted(self.others + own, key=lambda item: item[0]):
            out += _field_header(field, kind) + value
        out += b"\x00"
        return MAGIC + bytes(out) + struct.pack("<I", len(out)) + MAGIC


def _zigzag_encode(value: int) -> int:
    return (value << 1) ^ (value >> 63)


def _read_index(path: str) -> FooterIndex:
    with open(path, "rb") as stream:
        size = os.fstat(stream.fileno()).st_size
        if size < len(MAGIC) + TAIL:
            raise FooterFormatError("too short")
        tail = os.pread(stream.fileno(), TAIL, size - TAIL)
        length = struct.unpack("<I", tail[:4])[0]
        if tail[4:] != MAGIC or length > size - len(MAGIC) - TAIL:
            raise FooterFormatError("no plain footer")
        start = size - TAIL - length
        data = os.pread(stream.fileno(), length, start)
    others: list[tuple[int, int, bytes]] = []
    bounds: list[tuple[int, int]] = []
    rows: list[int] = []
    for field, kind, value_start, value_end in _read_struct(data, 0, 0, [])[0]:
        if field == ROW_GROUPS and kind == _LIST:
            pos = value_start
            header = data[pos]
            pos += 1
            count, element = header >> 4, header & 0x0F
            if count == 15:
                count, pos = _varint(data, pos)
            if element != _STRUCT:
                raise FooterFormatError("row groups are not structs")
            for _ in range(count):
                entry, end = _read_struct(data, pos, 1, [])
                counts = [_zigzag(_varint(data, value)[0]) for number, kind, value, _ in entry
                          if number == NUM_ROWS and kind == _I64]
                if len(counts) != 1 or counts[0] < 0:
                    raise FooterFormatError("a row group without its number of rows")
                bounds.append((start + pos, start + end))
                rows.append(counts[0])
                pos = end
            if pos != value_end:
                raise FooterFormatError("row groups do not end where the list does")
        elif field in (NUM_ROWS, ROW_GROUPS):
            if field == ROW_GROUPS or kind != _I64:
                raise FooterFormatError(f"field {field} of type {kind}")
        else:
            others.append((field, kind, data[value_start:value_end]))
    sizes = np.array(rows, dtype=np.int64)
    edges = np.array(bounds, dtype=np.int64).reshape(-1, 2)
    return FooterIndex(path, tuple(others), edges[:, 0], edges[:, 1], sizes,
                       np.concatenate([[0], np.cumsum(sizes)[:-1]]).astype(np.int64))


@functools.lru_cache(maxsize=8)
def _cached_index(path: str, _size: int, _modified: int) -> FooterIndex | None:
    try:
        return _read_index(path)
    except (FooterFormatError, IndexError, OSError, struct.error):
        return None


def footer_index(path: Path) -> FooterIndex | None:
    """The file's footer index (kept for the last few files read, as long as they do not change), or None
    when its footer is not one this module reads."""
    try:
        status = os.stat(path)
    except OSError:
        return None
    return _cached_index(str(path), status.st_size, status.st_mtime_ns)


def row_group_metadata(index: FooterIndex, group: int) -> Any:
    """Arrow's metadata of row group `group` alone (its row group 0), for pyarrow.parquet.ParquetFile."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    return pq.read_metadata(pa.BufferReader(index.footer(group)))
