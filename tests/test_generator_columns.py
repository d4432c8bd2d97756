"""Generated events built straight into columns (Parquet chunks, the job's tables) hold exactly what their event
dictionaries hold, byte for byte once encoded."""
import numpy as np
import pyarrow as pa
import pytest

from corvane_tools.conditions import Conditions, with_values
from corvane_tools.generator import BLOCK_EVENTS, generate_range, iter_blocks, simulated_block
from corvane_tools.parquet_layout import events_table
from corvane_tools.sample_generation import parquet_chunk

CONDITIONS = {
    "defaults": Conditions(),
    "gun": with_values(gun="kaon", gun_particles="1-4"),
    # far along the beam: no particle reaches a sensor, so the records list no particle
    "gun out of reach": with_values(gun="pion", gun_eta="9-10"),
    "busy, noisy, spill-over": with_values(collisions=12, spill_over=0.4, noise_per_module=2.5),
    "crowded": with_values(collisions=30),     # in blocks of ten
    "earlier settings": with_values(spectrum="wide_gaussian", noise_per_module=2.2, hit_efficiency=0.98,
                                    foil_material=0, overlap_shape="strip", conversions=False, delta_rays=False),
}


def chunk_from_dictionaries(seed, first, count, conditions):
    """The chunk as it was made from event dictionaries, a block's worth of events to a table."""
    tables, hits = [], 0
    for start in range(first, first + count, BLOCK_EVENTS):
        events = generate_range(seed, start, min(BLOCK_EVENTS, first + count - start), conditions)
        tables.append(events_table(events))
        hits += sum(event["module_prefix_sum"][52] for event in events)
    sink = pa.BufferOutputStream()
    table = pa.concat_tables(tables)
    with pa.ipc.new_stream(sink, table.schema) as stream:
        stream.write_table(table)
    return sink.getvalue().to_pybytes(), hits


@pytest.mark.parametrize("conditions", CONDITIONS.values(), ids=CONDITIONS.keys())
@pytest.mark.parametrize("first, count", [(0, 20), (13, 14), (30, 1)], ids=["blocks", "across blocks", "one event"])
def test_columnar_chunks_equal_the_dictionaries_tables(conditions, first, count):
    simulated_block.cache_clear()
    assert parquet_chunk(4, first, count, conditions) == chunk_from_dictionaries(4, first, count, conditions)


def test_an_event_without_particles_has_an_empty_record_not_a_missing_one():
    conditions = CONDITIONS["gun out of reach"]
    table = pa.ipc.open_stream(parquet_chunk(2, 0, 3, conditions)[0]).read_all()
    assert table.column("montecarlo").null_count == 0
    assert table.column("montecarlo").to_pylist() == [[], [], []]
    assert [len(event["x"]) for event in generate_range(2, 0, 3, conditions)] == [52] * 3  # one filler a module


def test_blocks_are_reused_but_never_changed():
    block, lo, hi = next(iter_blocks(3, 4, 9, None))
    assert (lo, hi) == (3, 7) and block is simulated_block(9, 0, None)
    with pytest.raises(ValueError):
        block.x[0] = 0.0
    with pytest.raises(ValueError):
        block.montecarlo.hit_ids[:] = 0


def test_hits_in_order_follow_the_particles():
    block = simulated_block(6, 1, with_values(collisions=2))
    truth = block.montecarlo
    hits, offsets = truth.hits_in_order(0, truth.hit_start.size)
    expected = [truth.hit_ids[start:end].tolist() for start, end in zip(truth.hit_start, truth.hit_end)]
    assert [hits[a:b].tolist() for a, b in zip(offsets[:-1], offsets[1:])] == expected
    assert np.all(np.diff(block.hit_offsets) == block.prefix_sums[:, -1])


def test_generated_files_hold_the_dictionaries_tables(tmp_path):
    import pyarrow.parquet as pq
    from corvane_tools import sample_generation

    conditions = CONDITIONS["busy, noisy, spill-over"]
    sample_generation.generate_sample(tmp_path / "s.parquet", 23, 8, conditions=conditions)
    written = pq.ParquetFile(tmp_path / "s.parquet")
    expected = events_table(generate_range(8, 0, 23, conditions))
    assert written.read().equals(expected)
    assert [written.metadata.row_group(g).num_rows for g in range(written.num_row_groups)] == [23]
    assert set(written.schema_arrow.metadata) >= {sample_generation.GENERATOR_METADATA}
    # x's values hardly repeat, so it is written without a dictionary; z's repeat, so with one
    encodings = {written.schema.column(i).path: written.metadata.row_group(0).column(i).encodings
                 for i in range(written.metadata.num_columns)}
    assert not any("DICTIONARY" in encoding for encoding in encodings["x.list.element"])
    assert any("DICTIONARY" in encoding for encoding in encodings["z.list.element"])
