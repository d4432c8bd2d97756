"""Broken Monte Carlo rows make their event unusable, named by file, event and particle, in JSON
files, text records and typed Parquet columns alike."""

import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.event_files import write_events
from corvane_tools.generator import generate_range
from corvane_tools.parquet_layout import events_table
from corvane_tools.truth_values import row_problem

PARTIAL = 3
EVENT, PARTICLE = 1, 2


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


def broken_sample(change):
    events = generate_range(31, 0, 3)
    record = events[EVENT]["montecarlo"]
    rows = record["particles"]
    rows[PARTICLE] = change(list(rows[PARTICLE]), record["description"].index)
    return events


def with_value(column, value):
    def change(row, position):
        row[position(column)] = value
        return row
    return change


BROKEN = [
    (lambda row, _: row[:3], "has 3 values for the 17 columns of 'description'"),
    (with_value("p", "12 GeV"), "'p' is not a number: '12 GeV'"),
    (with_value("isLong", 2), "'isLong' is not a flag (0 or 1): 2"),
    (with_value("hasVelo", 1.0), "'hasVelo' is not a flag (0 or 1): 1.0"),
    (with_value("key", -4), "'key' is outside 0..18446744073709551615: -4"),
    (with_value("pid", 2 ** 40), "'pid' is outside"),
    (with_value("eta", None), "'eta' is not a number: None"),
]


@pytest.mark.parametrize("container", ["json", "parquet"])
@pytest.mark.parametrize("change, fault", BROKEN)
def test_broken_particle_rows_make_their_event_unusable(tmp_path, container, change, fault):
    events = broken_sample(change)
    if container == "json":
        write_events(events, tmp_path / "sample")
        source = f"{tmp_path / 'sample' / 'event_00001.json'}"
    else:
        import pyarrow.parquet as pq
        pq.write_table(events_table(events), tmp_path / "sample.parquet")
        source = f"{tmp_path / 'sample.parquet'} [event {EVENT}]"
    target = tmp_path / ("sample" if container == "json" else "sample.parquet")
    expected = f"{source}: Monte Carlo particle {PARTICLE}"
    checked = invoke("check", target, "-q")
    assert checked.exit_code == PARTIAL and expected in checked.output and fault in checked.output
    ran = invoke("run", target, "-q", "-a", "track_following")
    assert ran.exit_code == PARTIAL and "Processed 2 events (1 skipped)" in ran.output
    stopped = invoke("run", target, "-q", "-a", "track_following", "--strict")
    assert stopped.exit_code == 1 and expected in stopped.output and "Processed" not in stopped.output


def test_typed_columns_hold_broken_values_too(tmp_path):
    """Values that fit the typed columns are still checked there, on the arrays."""
    import pyarrow.parquet as pq
    events = broken_sample(with_value("p", float("nan")))
    pq.write_table(events_table(events), tmp_path / "nan.parquet")
    assert pq.read_schema(tmp_path / "nan.parquet").field("montecarlo").type != "string"
    result = invoke("check", tmp_path / "nan.parquet", "-q")
    assert result.exit_code == PARTIAL and "'p' is not a finite number: nan" in result.output


@pytest.mark.parametrize("rows", [[], [[1, 0.5, True, 0]], [[2 ** 64 - 1, 7, False, 1]]])
def test_sound_rows_pass(rows):
    assert row_problem(["key", "p", "isLong", "hasVelo"], rows) is None


@pytest.mark.parametrize("field, kind, value, fault", [
    ("isLong", "int64", 2, "'isLong' is not a flag (0 or 1): 2"),
    ("isLong", "int64", -1, "'isLong' is not a flag (0 or 1): -1"),
    ("hasVelo", "float64", 0.5, "'hasVelo' is not a flag (0 or 1): 0.5"),
    ("hasVelo", "float64", 1.0, None),
    ("p", "float64", float("nan"), "'p' is not a finite number: nan"),
    ("eta", "float64", float("inf"), "'eta' is not a finite number: inf"),
    ("phi", "float64", -float("inf"), "'phi' is not a finite number: -inf"),
    ("pt", "float64", 1e308, None),  # finite values whose sum is not
    ("key", "int64", -4, "'key' is outside 0..18446744073709551615: -4"),
    ("pid", "int64", 2 ** 40, "'pid' is outside -2147483648..2147483647: 1099511627776"),
    ("pid", "int64", -2 ** 31, None),
    ("charge", "int64", -2 ** 31 - 1, "'charge' is outside -2147483648..2147483647: -2147483649"),
])
def test_typed_columns_name_the_faulty_particle(field, kind, value, fault):
    """One value of one particle of event 1 changed in typed columns of any numeric type."""
    import pyarrow as pa

    from corvane_tools.truth_values import typed_problems

    sound = {"key": 3, "pid": 211, "charge": 1, "p": 1e308, "pt": 1e308, "eta": 2.0, "phi": 0.5, "isLong": 1,
             "hasVelo": 0}
    events = [[dict(sound, key=k) for k in range(4)] for _ in range(3)]
    events[1][2][field] = value
    particle = pa.struct([(name, getattr(pa, kind)() if name == field else pa.array([v]).type)
                          for name, v in sound.items()])
    problems = typed_problems(pa.array(events, pa.list_(particle)))
    assert problems == ({} if fault is None else {1: f"Monte Carlo particle 2: {fault}"})
