"""Inputs built to hurt: long chains of objects, conversions that raise
interrupts, and values chosen to collide in hash tables."""
import time

import numpy as np
import pytest

from corvane import DetectorEvent, ReconstructionAlgorithms, Validator
from event_builders import sized_event
from child_process import run_child
from validation_builders import event as validation_event

Event, Track, Hit = DetectorEvent.Event, DetectorEvent.Track, DetectorEvent.Hit


@pytest.mark.parametrize("depth, stack", [(5000, 64 * 1024), (20000, 256 * 1024)])
def test_freeing_a_long_chain_of_events(depth, stack):
    # Each event's Monte Carlo object is the previous event; freeing the head
    # frees the whole chain, on a thread with a small stack.
    result = run_child(f"""
        import threading
        base = {{"description": "", "module_prefix_sum": list(range(53)), "x": [0.0] * 52, "y": [0.0] * 52,
                 "z": [float(i) for i in range(52)]}}
        def chain():
            head = None
            for _ in range({depth}):
                head = Event({{**base, "montecarlo": head}})
            del head
        threading.stack_size({stack})
        thread = threading.Thread(target=chain)
        thread.start()
        thread.join()
        print(json.dumps({{"ok": batch_ok()}}))
    """)
    assert result == {"ok": True}


class Raising:
    """Raises `error` from every conversion hook."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, i):
        raise self.error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


class LengthRaising:
    """A sequence of `items` whose length raises `error`."""

    def __init__(self, items, error):
        self.items, self.error = items, error

    def __len__(self):
        raise self.error

    def __getitem__(self, i):
        return self.items[i]


def event_with(**changes):
    data = sized_event(300, seed=5)
    data.update(changes)
    return data


def montecarlo_with(cell, column):
    return validation_event(3, rows=[[cell, [0, 1, 2]]], description=[column, "hits"])


def calls(error):
    """Every kind of input read where an unreadable value may be tolerated."""
    good = Event(sized_event(300, seed=5))
    return {
        "coordinate list": lambda: Event(event_with(x=LengthRaising(sized_event(300, seed=5)["x"], error))),
        "batch events": lambda: ReconstructionAlgorithms.TrackFollowing().solve_batch(LengthRaising([good], error)),
        "track hits": lambda: Track(LengthRaising([Hit(0, 0, 0, 0)], error)),
        "validation events": lambda: Validator.compute_tracking_efficiency(
            LengthRaising([validation_event(3)], error), [[]], "long"),
        "particle key": lambda: Validator.compute_tracking_efficiency([montecarlo_with(Raising(error), "key")], [[]],
                                                                      "long"),
        "particle momentum": lambda: Validator.compute_tracking_efficiency([montecarlo_with(Raising(error), "p")],
                                                                           [[]], "long"),
        "particle flag": lambda: Validator.compute_tracking_efficiency([montecarlo_with(Raising(error), "isLong")],
                                                                       [[]], "long"),
        "particle hits": lambda: Validator.compute_tracking_efficiency(
            [validation_event(3, rows=[[1, Raising(error)]], description=["key", "hits"])], [[]], "long"),
    }


CALLS = list(calls(None))


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, MemoryError])
@pytest.mark.parametrize("name", CALLS)
def test_interrupts_and_memory_errors_reach_the_caller(name, error):
    with pytest.raises(error):
        calls(error)[name]()


@pytest.mark.parametrize("name", CALLS)
def test_unreadable_values_still_fall_back(name, capfd):
    # An ordinary failure to read a length or a cell keeps its default.
    calls(TypeError)[name]()
    capfd.readouterr()


def seconds(call):
    best = float("inf")
    for _ in range(2):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def z_value_event(n, step):
    """n distinct z values in module 0, whose bit patterns are multiples of
    `step` (or the numbers 1 .. n when step is None); one hit elsewhere."""
    if step is None:
        zs = np.arange(1.0, n + 1)
    else:
        zs = (np.arange(1, n + 1, dtype=np.uint64) * np.uint64(step)).view(np.float64)
    z = np.concatenate([zs, np.arange(51.0) + 1000.0])
    return Event({"description": "", "montecarlo": None, "module_prefix_sum": [0] + [n + i for i in range(52)],
                  "x": np.zeros(z.size), "y": np.zeros(z.size), "z": z})


def particle_keys(n, step):
    """n particles with keys i * step (or i when step is None)."""
    rows = [[i * (step or 1)] for i in range(n)]
    data = {"description": "", "module_prefix_sum": [0] * 53, "x": [], "y": [], "z": [],
            "montecarlo": {"description": ["key"], "particles": rows}}
    return Validator.compute_tracking_efficiency([data], [[]], "velo")


# The steps are bucket counts of the standard library's hash tables at these
# sizes: with an identity hash every crafted value lands in one bucket.
@pytest.mark.parametrize("build, n, step", [
    pytest.param(z_value_event, 20000, 10273 * 20753, id="z values"),
    pytest.param(particle_keys, 20000, 20753, id="particle keys"),
])
def test_crafted_values_cost_what_ordinary_ones_do(build, n, step):
    ordinary = seconds(lambda: build(n, None))
    crafted = seconds(lambda: build(n, step))
    assert crafted < 5 * ordinary + 0.1, (crafted, ordinary)
