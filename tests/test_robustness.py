"""Arbitrary, mostly malformed inputs: every entry point must either succeed
or raise a Python exception; never crash, hang or corrupt the interpreter.
Run under tools/sanitize.sh this also checks memory safety."""
import os

import numpy as np
from hypothesis import given, settings, strategies as st

import corvane
from corvane import DetectorEvent, ReconstructionAlgorithms, Validator

# CORVANE_FUZZ_EXAMPLES=5000 for a deeper run (best under tools/sanitize.sh).
EXAMPLES = int(os.environ.get("CORVANE_FUZZ_EXAMPLES", "200"))

# MemoryError is not among them: no small input may ask for a huge allocation.
EXPECTED = (TypeError, ValueError, OverflowError, KeyError, RuntimeError, corvane.InternalFailure)

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(min_value=-(2**70), max_value=2**70),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=3),
    st.binary(max_size=3),
)


def as_array(values, dtype):
    with np.errstate(invalid="ignore", over="ignore"):
        return np.asarray(values).astype(dtype)


def numpy_arrays(draw_size):
    return st.builds(
        as_array,
        st.lists(st.floats(allow_nan=True, allow_infinity=True, width=32), max_size=draw_size),
        st.sampled_from(["float64", "float32", ">f8", "int64", "uint8"]),
    )


values = st.recursive(
    scalars | numpy_arrays(60),
    lambda inner: st.lists(inner, max_size=6) | st.tuples(inner, inner) | st.dictionaries(st.text(max_size=3), inner, max_size=3),
    max_leaves=12,
)

coordinate_lists = st.lists(st.floats(allow_nan=True, allow_infinity=True) | st.integers(-3, 3), min_size=0, max_size=70)
prefix_lists = st.lists(st.integers(min_value=-2, max_value=2**64 + 1), min_size=0, max_size=60) | st.just(list(range(53)))

montecarlo_rows = st.lists(
    st.lists(scalars | st.lists(st.integers(-3, 80) | st.floats(), max_size=6), max_size=6), max_size=5
)
montecarlos = st.one_of(
    st.none(),
    values,
    st.fixed_dictionaries(
        {},
        optional={
            "description": st.lists(st.sampled_from(["key", "hits", "pid", "p", "isLong", "hasVelo", "x"]), max_size=6)
            | values,
            "particles": montecarlo_rows | values,
        },
    ),
)

event_dicts = st.fixed_dictionaries(
    {},
    optional={
        "description": st.text(max_size=3) | values,
        "montecarlo": montecarlos,
        "module_prefix_sum": prefix_lists | values,
        "x": coordinate_lists | values,
        "y": coordinate_lists | values,
        "z": coordinate_lists | values,
        "t": coordinate_lists | values,
    },
)


def call(function, *args):
    try:
        return function(*args)
    except EXPECTED:
        return None


@settings(max_examples=EXAMPLES)
@given(event_dicts)
def test_event_construction_never_crashes(json_data):
    event = call(DetectorEvent.Event, json_data)
    if event is not None:
        assert event.number_of_hits == len(event.hits)
        ReconstructionAlgorithms.TrackFollowing().solve(event)
        ReconstructionAlgorithms.GraphDFS().solve(event)


@settings(max_examples=EXAMPLES)
@given(st.lists(event_dicts | values, max_size=3), st.lists(st.lists(st.just(None)), max_size=3), st.booleans())
def test_validation_never_crashes(events, track_shapes, verbose):
    hit = DetectorEvent.Hit(0, 0, 0, 0)
    tracks = [[DetectorEvent.Track([hit, hit]) for _ in shape] for shape in track_shapes]
    call(Validator.print_validation_summary, events, tracks, verbose)
    call(Validator.compute_tracking_efficiency, events, tracks, "long")
    call(Validator.export_validation_to_json, events, tracks, verbose)
    call(Validator.export_detailed_metrics_json, events, tracks, verbose)


@settings(max_examples=EXAMPLES)
@given(values, values, values, values, values)
def test_constructors_never_crash(a, b, c, d, e):
    call(DetectorEvent.Hit, a, b, c, d, e)
    call(DetectorEvent.Module, a, b, c, d, e)
    call(DetectorEvent.Track, a)
    call(ReconstructionAlgorithms.TrackFollowing, a, b, c, d, e)
    call(ReconstructionAlgorithms.TrackFollowing().solve_batch, a)
    call(ReconstructionAlgorithms.GraphDFS, a, b, c, d, e)
    call(ReconstructionAlgorithms.GraphDFS(allowed_skip_modules=3).solve_batch, a)
