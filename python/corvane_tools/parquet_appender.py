"""A Parquet file written a row group at a time, its footer kept as bytes.

Arrow's ParquetWriter keeps every row group's metadata decoded until it
closes: about 22 kB per row group of generated events (22 leaf columns), so
140 MB for a million events. Here each row group is written by a writer of
its own, whose one-row-group file goes straight to the output: its leading
magic is dropped, and its footer is read back, cut off, and its row group
entry kept as bytes (about 3 kB, in an unnamed temporary file beside the
output) with its file positions moved to where the row group lies. `close`
writes the footer of all of them. The file is the same, byte for byte, as
one ParquetWriter writing the same tables one row group per table: the row
groups' pages do not depend on one another, and the footer's other fields
are the same.

Page indexes and bloom filters, written between the last row group and the
footer, are not supported: a footer that refers to them is refused.
"""
import os
import struct
import tempfile
from pathlib import Path
from typing import Any, BinaryIO, Final

from .parquet_footer import (MAGIC, NUM_ROWS, ROW_GROUPS, TAIL, FooterFormatError, _encode_varint, _read_struct,
                             _varint, _zigzag, _zigzag_encode)

_I16, _I64, _LIST, _STRUCT = 4, 6, 9, 12  # the compact encoding's types used here
# File positions in a row group's entry, by struct: RowGroup.file_offset, ColumnChunk.file_offset, and
# ColumnMetaData's data, index and dictionary page offsets.
ROW_GROUP_FILE_OFFSET: Final = 5
ROW_GROUP_ORDINAL: Final = 7
ROW_GROUP_COLUMNS: Final = 1
CHUNK_FILE_OFFSET: Final = 2
CHUNK_META_DATA: Final = 3
CHUNK_PAGE_INDEX: Final = frozenset({4, 6})        # offset and column index positions: written after the data
META_DATA_PAGE_OFFSETS: Final = frozenset({9, 10, 11})
META_DATA_BLOOM_FILTER: Final = 14
COPY_BLOCK: Final = 1 << 20


class _Skipping:
    """The output file as a writer's sink, less the magic each writer starts with."""

    def __init__(self, stream: BinaryIO) -> None:
        self._stream = stream
        self._skip = len(MAGIC)
        self.closed = False

    def write(self, data: Any) -> int:
        view = memoryview(data)
        size = len(view)
        if self._skip:
            dropped = min(self._skip, size)
            self._skip -= dropped
            view = view[dropped:]
        self._stream.write(view)
        return size

    def flush(self) -> None:
        self._stream.flush()

    def close(self) -> None:
        self.closed = True


def _i64(value: int) -> bytes:
    return _encode_varint(_zigzag_encode(value))


def _rewrite_struct(data: bytes, pos: int, depth: int, rewrite: Any) -> tuple[bytes, int]:
    """The struct at `pos` with each field's value replaced by rewrite(field, type, start, end) (None keeps
    it), and the position after it. Field headers stay as they are: the fields and their order do not change."""
    fields, end = _read_struct(data, pos, depth, [])
    out = bytearray()
    cursor = pos
    for field, kind, start, stop in fields:
        out += data[cursor:start]
        replaced = rewrite(field, kind, start, stop)
        out += data[start:stop] if replaced is None else replaced
        cursor = stop
    out += data[cursor:end]
    return bytes(out), end


def _list_header(count: int, element: int) -> bytes:
    return bytes([count << 4 | element]) if count < 15 else bytes([0xF0 | element]) + _encode_varint(count)


def _list_elements(data: bytes, pos: int) -> tuple[int, int, int]:
    """A list's number of elements, their type and where the first one starts."""
    header = data[pos]
    count, element = header >> 4, header & 0x0F
    pos += 1
    if count == 15:
        count, pos = _varint(data, pos)
    return count, element, pos


def _shifted(data: bytes, start: int, shift: int) -> bytes:
    """A file position moved by `shift`; 0, which is no position (some writers leave the column chunk's
    unset that way), stays."""
    position = _zigzag(_varint(data, start)[0])
    return _i64(position + shift if position else 0)


def _moved_meta_data(data: bytes, pos: int, shift: int) -> tuple[bytes, int]:
    def rewrite(field: int, kind: int, start: int, stop: int) -> bytes | None:
        if field == META_DATA_BLOOM_FILTER:
            raise FooterFormatError("a bloom filter")
        return _shifted(data, start, shift) if field in META_DATA_PAGE_OFFSETS and kind == _I64 else None
    return _rewrite_struct(data, pos, 3, rewrite)


def _moved_chunk(data: bytes, pos: int, shift: int) -> tuple[bytes, int]:
    def rewrite(field: int, kind: int, start: int, stop: int) -> bytes | None:
        if field in CHUNK_PAGE_INDEX:
            raise FooterFormatError("a page index")
        if field == CHUNK_FILE_OFFSET and kind == _I64:
            return _shifted(data, start, shift)
        if field == CHUNK_META_DATA and kind == _STRUCT:
            return _moved_meta_data(data, start, shift)[0]
        return None
    return _rewrite_struct(data, pos, 2, rewrite)


def _moved_columns(data: bytes, start: int, shift: int) -> bytes:
    count, element, pos = _list_elements(data, start)
    if element != _STRUCT:
        raise FooterFormatError("column chunks are not structs")
    out = bytearray(data[start:pos])
    for _ in range(count):
        chunk, pos = _moved_chunk(data, pos, shift)
        out += chunk
    return bytes(out)


def moved_row_group(data: bytes, pos: int, shift: int, ordinal: int) -> tuple[bytes, int]:
    """The row group entry at `pos` with its file positions moved by `shift` and its ordinal set, and the
    position after it."""
    def rewrite(field: int, kind: int, start: int, stop: int) -> bytes | None:
        if field == ROW_GROUP_COLUMNS and kind == _LIST:
            return _moved_columns(data, start, shift)
        if field == ROW_GROUP_FILE_OFFSET and kind == _I64:
            return _shifted(data, start, shift)
        if field == ROW_GROUP_ORDINAL and kind == _I16:
            return _encode_varint(_zigzag_encode(ordinal))
        return None
    return _rewrite_struct(data, pos, 1, rewrite)


class _FooterParts:
    """A one-row-group footer cut around its number of rows and its row group list."""

    def __init__(self, footer: bytes) -> None:
        fields, _ = _read_struct(footer, 0, 0, [])
        spans = {field: (kind, start, stop) for field, kind, start, stop in fields}
        if spans.get(NUM_ROWS, (0,))[0] != _I64 or spans.get(ROW_GROUPS, (0,))[0] != _LIST:
            raise FooterFormatError("no number of rows or row groups")
        _, rows_start, rows_stop = spans[NUM_ROWS]
        _, groups_start, groups_stop = spans[ROW_GROUPS]
        count, element, entry_start = _list_elements(footer, groups_start)
        if count != 1 or element != _STRUCT or rows_stop > groups_start:
            raise FooterFormatError("not one row group")
        self.footer = footer
        self.rows_span = (rows_start, rows_stop)
        self.groups_span = (groups_start, groups_stop)
        self.entry_start = entry_start

    def rows(self) -> int:
        return _zigzag(_varint(self.footer, self.rows_span[0])[0])


class RowGroupAppender:
    """Writes tables to `path`, one row group each, as pyarrow.parquet.ParquetWriter(path, schema, **options)
    writing each with write_table(table, row_group_size=len(table)) would."""

    def __init__(self, path: Path, schema: Any, **options: Any) -> None:
        self._schema = schema
        self._options = options
        self._stream: BinaryIO = open(path, "w+b")
        self._stream.write(MAGIC)
        # The row groups' footer entries, in order, beside the output: a place known to be writable.
        self._entries: BinaryIO = tempfile.TemporaryFile(dir=Path(path).parent)
        self._groups = 0
        self._rows = 0
        self._first: _FooterParts | None = None

    def write_table(self, table: Any) -> None:
        import pyarrow.parquet as pq

        start = self._stream.tell()
        writer = pq.ParquetWriter(_Skipping(self._stream), self._schema, **self._options)
        try:
            writer.write_table(table, row_group_size=max(1, table.num_rows))
        finally:
            writer.close()
        end = self._stream.tell()
        self._stream.flush()
        length, magic = struct.unpack("<I4s", os.pread(self._stream.fileno(), TAIL, end - TAIL))
        footer_start = end - TAIL - length
        if magic != MAGIC or footer_start < start:
            raise FooterFormatError("the writer's file has no plain footer")
        parts = _FooterParts(os.pread(self._stream.fileno(), length, footer_start))
        self._stream.seek(footer_start)
        self._stream.truncate()
        entry, _ = moved_row_group(parts.footer, parts.entry_start, start - len(MAGIC), self._groups)
        self._entries.write(entry)
        self._groups += 1
        self._rows += parts.rows()
        if self._first is None:
            self._first = parts

    def close(self) -> None:
        """Writes the footer and closes the file (a file without row groups when no table was written)."""
        try:
            if self._first is None:
                import pyarrow.parquet as pq

                pq.ParquetWriter(_Skipping(self._stream), self._schema, **self._options).close()
                return
            parts = self._first
            footer = self._stream
            size = 0
            for piece in (parts.footer[:parts.rows_span[0]], _i64(self._rows),
                          parts.footer[parts.rows_span[1]:parts.groups_span[0]], _list_header(self._groups, _STRUCT)):
                size += footer.write(piece)
            self._entries.seek(0)
            while block := self._entries.read(COPY_BLOCK):
                size += footer.write(block)
            size += footer.write(parts.footer[parts.groups_span[1]:])
            footer.write(struct.pack("<I", size) + MAGIC)
        finally:
            self._entries.close()
            self._stream.close()

    def abandon(self) -> None:
        """Closes the files without completing the Parquet file."""
        self._entries.close()
        self._stream.close()
