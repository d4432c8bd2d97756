"""Every entry point, on its success path and on an error path, repeated many
times: neither the interpreter's allocated blocks nor the process's memory
may grow beyond noise.

CORVANE_LEAK_ITERATIONS sets the repetitions (default 10^4 for the cheap
calls; the costly ones run a tenth of that).
"""
import gc
import os
import sys

import numpy as np
import pytest

import corvane
from corvane import DetectorEvent, ReconstructionAlgorithms, Validator
from event_builders import sized_event
from validation_builders import event as validation_event, particle, track

Hit, Track, Module, Event = DetectorEvent.Hit, DetectorEvent.Track, DetectorEvent.Module, DetectorEvent.Event
TrackFollowing = ReconstructionAlgorithms.TrackFollowing
ITERATIONS = int(os.environ.get("CORVANE_LEAK_ITERATIONS", "10000"))
# ASan builds keep freed memory in quarantine: only the block count is meaningful there.
SANITIZED = bool(os.environ.get("CORVANE_EXPECT_BUILD"))

HIT = Hit(1.0, 2.0, 3.0, 4, module=1)
EVENT_DICT = sized_event(300, seed=2)
EVENT = Event(EVENT_DICT)
ALGORITHM = TrackFollowing()
TRACKS = ALGORITHM.solve(EVENT)
TRUTH = validation_event(6, [particle(1, [0, 1, 2]), particle(2, [3, 4, 5], pid=11)])
TRUTH_TRACKS = [[track(0, 1, 2), track(3, 4), track(0, 5)]]


def taken_events():
    fold = corvane._records.RecordFold(False, True)
    fold.add(corvane._records.measure_events([TRUTH] * 3, TRUTH_TRACKS * 3))
    return fold.take_events(), fold.export()
# TRUTH as typed columns: (hits, particles), per particle key, pid, four flags and its hit count, p, hit positions.
TRUTH_COLUMNS = (np.array([6, 2], "<i8").tobytes(), np.array([[1, 211, 1, 1, 0, 0, 3], [2, 11, 1, 1, 0, 0, 3]],
                                                             "<i8").tobytes(),
                 np.array([1000.0, 1000.0]).tobytes(), np.arange(6, dtype="<i8").tobytes())
SOLVED_COLUMNS = tuple(corvane._records.measure_tracks(*TRUTH_COLUMNS, b"\0" * 8, TRUTH_TRACKS)[1:])


def interrupting():
    class Interrupting:
        def __len__(self):
            raise KeyboardInterrupt

        def __getitem__(self, i):
            raise IndexError

    return Interrupting()


# (name, call, expected exception or None, costly)
CASES = [
    ("Hit", lambda: Hit(1.0, 2.0, 3.0, 4, module=1, t=0.5, with_t=True), None, False),
    ("Hit error", lambda: Hit(1.0, 2.0, 3.0, "4"), TypeError, False),
    ("Hit repr and attributes", lambda: (repr(HIT), HIT.x, HIT.id, HIT.with_t), None, False),
    ("Track", lambda: Track([HIT, HIT]).add_hit(HIT), None, False),
    ("Track error", lambda: Track([HIT, 5]), TypeError, False),
    ("Track repr and hits", lambda: (repr(TRACKS[0]), TRACKS[0].hits), None, False),
    ("Module", lambda: Module(0, 1.0, 0, 1, [HIT, HIT]).hits(), None, False),
    ("Module error", lambda: Module(0, 1.0, 2, 1, [HIT]), ValueError, False),
    ("Event", lambda: Event(EVENT_DICT), None, True),
    ("Event missing key", lambda: Event({"description": ""}), corvane.InternalFailure, False),
    ("Event bad coordinates", lambda: Event({**EVENT_DICT, "x": ["a"]}), TypeError, False),
    ("Event interrupted", lambda: Event({**EVENT_DICT, "x": interrupting()}), KeyboardInterrupt, False),
    ("Event attributes", lambda: (EVENT.description, EVENT.montecarlo, EVENT.module_prefix_sum, EVENT.module_zs,
                                  EVENT.number_of_hits), None, False),
    ("Event hits and modules", lambda: (EVENT.hits, EVENT.modules), None, True),
    ("TrackFollowing", lambda: TrackFollowing(max_slopes=(0.5, 0.5), min_track_length=3), None, False),
    ("TrackFollowing error", lambda: TrackFollowing(max_slopes=(0.5,)), ValueError, False),
    ("line tests", lambda: (ALGORITHM.are_compatible(HIT, HIT), ALGORITHM.check_tolerance(HIT, HIT, HIT)), None,
     False),
    ("line tests error", lambda: ALGORITHM.check_tolerance(HIT, HIT, 1), TypeError, False),
    ("solve", lambda: ALGORITHM.solve(EVENT), None, True),
    ("solve error", lambda: ALGORITHM.solve(HIT), TypeError, False),
    ("solve_batch", lambda: ALGORITHM.solve_batch([EVENT, EVENT]), None, True),
    ("solve_batch error", lambda: ALGORITHM.solve_batch([EVENT, 5]), TypeError, False),
    ("print_validation_summary", lambda: Validator.print_validation_summary([TRUTH], TRUTH_TRACKS, True), None,
     False),
    ("compute_tracking_efficiency", lambda: Validator.compute_tracking_efficiency([TRUTH], TRUTH_TRACKS, "velo"),
     None, False),
    ("export_validation_to_json", lambda: Validator.export_validation_to_json([TRUTH], TRUTH_TRACKS, False), None,
     False),
    ("export_detailed_metrics_json",
     lambda: Validator.export_detailed_metrics_json([TRUTH, TRUTH], TRUTH_TRACKS * 2, False), None, False),
    ("validation missing key", lambda: Validator.export_validation_to_json([{}], [[]], False),
     corvane.InternalFailure, False),
    ("validation foreign hit", lambda: Validator.compute_tracking_efficiency([TRUTH], [[track(0, 99)]], "velo"),
     RuntimeError, False),
    ("measure_tracks", lambda: corvane._records.measure_tracks(*TRUTH_COLUMNS, b"\0" * 8, TRUTH_TRACKS), None,
     False),
    ("measure_tracks error", lambda: corvane._records.measure_tracks(*TRUTH_COLUMNS, b"\1" + b"\0" * 7,
                                                                     TRUTH_TRACKS), ValueError, False),
    ("RecordFold.take_events", lambda: taken_events(), None, False),
    ("solve_tracks", lambda: corvane._records.solve_tracks(ALGORITHM, [EVENT]), None, True),
    ("solve_tracks error", lambda: corvane._records.solve_tracks(HIT, [EVENT]), TypeError, False),
    ("measure_solved", lambda: corvane._records.measure_solved(TRUTH_COLUMNS, b"\0" * 8, *SOLVED_COLUMNS), None,
     False),
    ("measure_solved rows", lambda: corvane._records.measure_solved([TRUTH], b"\0" * 8, *SOLVED_COLUMNS), None,
     False),
    ("measure_solved error", lambda: corvane._records.measure_solved(TRUTH_COLUMNS, b"\0" * 8,
                                                                     *SOLVED_COLUMNS[:-1], b""), ValueError, False),
    ("validation montecarlo error", lambda: Validator.export_validation_to_json(
        [{**TRUTH, "montecarlo": {"particles": []}}], [[]], False), KeyError, False),
]

# The generator's private part: one line through every module, its scattering and a row of truth.
GENERATOR = getattr(corvane, "_generator", None)
if GENERATOR is not None:
    MODULE_Z = np.linspace(-300.0, 750.0, 52)
    LINE = (np.array([10.0, 0.0, -400.0]), np.array([0.001]), np.array([0.0]), np.ones(1), np.full(1, 0.001),
            np.full(1, 10.0))
    CROSSED = [np.frombuffer(column, dtype) for column, dtype in
               zip(GENERATOR.line_crossings(LINE, MODULE_Z, 2.0, True), (np.int64, np.int64, float, float))]
    FLIGHT = (LINE, MODULE_Z, 2.0, True, np.full(1, 800.0), np.full(1, 139.57), 0.005, 0.003, 0.99, 0.01, *CROSSED,
              np.zeros(4 * CROSSED[0].size + 2), np.zeros(CROSSED[0].size))
    ROW = (np.zeros(11, np.int64), np.zeros(5), np.arange(3), np.zeros(1, np.int64), np.full(1, 3), np.ones(1, np.int64))
    CASES += [
        ("generator flight", lambda: (GENERATOR.candidate_window(LINE, MODULE_Z), GENERATOR.fly(*FLIGHT)),
         None, False),
        ("generator flight error", lambda: GENERATOR.fly(*FLIGHT[:-1], np.zeros(1)), ValueError, False),
        ("generator column error", lambda: GENERATOR.fly(*FLIGHT[:10], [0], *FLIGHT[11:]), TypeError, False),
        ("generator rows", lambda: (GENERATOR.montecarlo_rows(*ROW), GENERATOR.interpolate(ROW[1], ROW[1], ROW[1]),
                                    GENERATOR.perpendicular_basis(LINE[0])), None, False),
        ("generator elementary", lambda: GENERATOR.elementary("atan2", MODULE_Z, MODULE_Z), None, False),
        ("generator elementary error", lambda: GENERATOR.elementary("tan", MODULE_Z, MODULE_Z), ValueError, False),
        ("generator rows error", lambda: GENERATOR.montecarlo_rows(*ROW[:4], np.full(1, 4), ROW[5]), ValueError,
         False),
    ]


def run(call, expected, times):
    for _ in range(times):
        if expected is None:
            call()
        else:
            try:
                call()
            except expected:
                pass
            else:
                raise AssertionError("expected an error")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("name, call, expected, costly", CASES, ids=[case[0] for case in CASES])
def test_no_growth(name, call, expected, costly, capfd):
    times = ITERATIONS // 10 if costly else ITERATIONS
    run(call, expected, max(10, times // 10))  # warm caches and free lists
    gc.collect()
    blocks, resident = sys.getallocatedblocks(), resident_bytes()
    run(call, expected, times)
    gc.collect()
    grown_blocks, grown_bytes = sys.getallocatedblocks() - blocks, resident_bytes() - resident
    capfd.readouterr()
    # A leak of one block per call would show as `times` blocks.
    assert grown_blocks < max(50, times // 100), grown_blocks
    if not SANITIZED:
        assert grown_bytes < 8 * 2**20, grown_bytes
