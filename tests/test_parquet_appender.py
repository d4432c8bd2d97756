import ctypes
import sys

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import pytest

from child_process import SANITIZED
from corvane_tools.parquet_appender import RowGroupAppender
from corvane_tools.parquet_footer import FooterFormatError


SCHEMA = pa.schema([("name", pa.string()), ("x", pa.list_(pa.float64())),
                    ("particles", pa.list_(pa.struct([("key", pa.int64()), ("hits", pa.list_(pa.int64()))])))])


def tables(count, rows, seed=3):
    rng = np.random.default_rng(seed)
    for group in range(count):
        size = rows(group)
        yield pa.table({
            "name": pa.array([f"event {group}.{i}" for i in range(size)]),
            "x": pa.array([rng.random(rng.integers(0, 40)) for _ in range(size)], pa.list_(pa.float64())),
            "particles": pa.array([[{"key": i, "hits": [1, i, 2 * i]}] * int(rng.integers(0, 3))
                                  for i in range(size)]),
        }, schema=SCHEMA)


@pytest.mark.parametrize("count, rows, options", [
    (3, lambda group: 5, {}),
    (40, lambda group: 1 + group, {"compression": "zstd", "use_dictionary": ["name"]}),  # a long list header
    (1, lambda group: 300, {"write_statistics": False}),
    (0, lambda group: 1, {}),
])
def test_the_file_is_the_one_a_parquet_writer_makes(tmp_path, count, rows, options):
    written = list(tables(count, rows))
    schema = SCHEMA.with_metadata({b"made": b"here"})
    reference = pq.ParquetWriter(tmp_path / "reference.parquet", schema, **options)
    appender = RowGroupAppender(tmp_path / "appended.parquet", schema, **options)
    for table in written:
        reference.write_table(table, row_group_size=table.num_rows)
        appender.write_table(table)
    reference.close()
    appender.close()
    assert (tmp_path / "appended.parquet").read_bytes() == (tmp_path / "reference.parquet").read_bytes()
    assert pq.read_table(tmp_path / "appended.parquet").equals(pq.read_table(tmp_path / "reference.parquet"))


def test_a_footer_it_cannot_move_is_refused(tmp_path):
    table = next(tables(1, lambda group: 4))
    appender = RowGroupAppender(tmp_path / "indexed.parquet", SCHEMA, write_page_index=True)
    with pytest.raises(FooterFormatError):
        appender.write_table(table)
    appender.abandon()


class MallocInfo(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def heap_in_use():
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = MallocInfo
    info = mallinfo2()
    return info.uordblks + info.hblkhd


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="glibc's heap counters")
@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator replaces glibc's")
def test_memory_does_not_grow_with_the_row_groups(tmp_path):
    # A writer keeping each row group's metadata decoded takes about 800 bytes per column chunk: 12 MB here.
    table = next(tables(1, lambda group: 1))
    appender = RowGroupAppender(tmp_path / "long.parquet", SCHEMA)
    for _ in range(300):
        appender.write_table(table)
    before = heap_in_use()
    for _ in range(3000):
        appender.write_table(table)
    grown = heap_in_use() - before
    appender.close()
    assert grown < 2 ** 20, grown
    assert pq.ParquetFile(tmp_path / "long.parquet").metadata.num_row_groups == 3300
