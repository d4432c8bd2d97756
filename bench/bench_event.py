"""Event construction against the cost of reading its floats once.

    python bench/bench_event.py

Uses the installed module, or the one on PYTHONPATH. Every figure comes from
this one run; the ratios are what to compare across machines. Times are the
calling thread's CPU time, which waiting for a core shared with other work
does not run.
"""
import array
import gc
import os
import random
import time
import timeit

import numpy as np

import corvane
from corvane import DetectorEvent

MODULES = 52


def realistic_event(hits, seed=1):
    """Hits spread unevenly over 52 modules, one z per module, as a detector reads them."""
    rng = random.Random(seed)
    weights = [rng.uniform(0.5, 1.5) for _ in range(MODULES)]
    counts = [1] * MODULES
    for m in rng.choices(range(MODULES), weights, k=hits - MODULES):
        counts[m] += 1
    prefix = [0]
    for c in counts:
        prefix.append(prefix[-1] + c)
    module_z = [-275.0 + 25.0 * m + (2.0 if m % 2 else 0.0) for m in range(MODULES)]
    z = [module_z[m] for m in range(MODULES) for _ in range(counts[m])]
    return {
        "description": f"{hits} hits",
        "montecarlo": {"description": [], "particles": []},
        "module_prefix_sum": prefix,
        "x": [rng.uniform(-40.0, 40.0) for _ in range(hits)],
        "y": [rng.uniform(-40.0, 40.0) for _ in range(hits)],
        "z": z,
    }


def as_numpy(d):
    return dict(d, **{k: np.array(d[k], dtype=np.float64) for k in ("x", "y", "z")})


def best(statement, number):
    """Best time of one call, in seconds."""
    return min(timeit.repeat(statement, number=number, repeat=7, timer=time.thread_time)) / number


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def held_bytes_per_hit(d, events):
    gc.collect()
    before = resident_bytes()
    held = [DetectorEvent.Event(d) for _ in range(events)]
    after = resident_bytes()
    assert len(held) == events
    return (after - before) / (events * len(d["x"]))


def main():
    print(f"corvane from {corvane.__file__}")
    d = realistic_event(5000)
    dn = as_numpy(d)
    x, y, z = d["x"], d["y"], d["z"]
    Event = DetectorEvent.Event

    floor = best(lambda: (array.array("d", x), array.array("d", y), array.array("d", z)), 200)
    from_lists = best(lambda: Event(d), 200)
    from_numpy = best(lambda: Event(dn), 200)
    print("5,000-hit event, best of 7 runs:")
    print(f"  floor: array.array('d', ...) over x, y, z  {floor * 1e6:9.1f} us")
    print(f"  Event(d), float lists                      {from_lists * 1e6:9.1f} us  = {from_lists / floor:.2f}x floor (target <= 0.45)")
    print(f"  Event(d), NumPy float64 arrays             {from_numpy * 1e6:9.1f} us  = {from_numpy / floor:.2f}x floor (target <= 0.15)")

    per_hit = held_bytes_per_hit(d, 1000)
    print(f"Memory: 1,000 events of 5,000 hits held at once: {per_hit:.1f} bytes per hit (resident set)")
    print(f"  (a hit record is 48 bytes; 53 copies would be about {53 * 48} bytes per hit)")

    event = Event(d)
    big = Event(realistic_event(50000))
    modules = best(lambda: event.modules, 2000)
    modules_big = best(lambda: big.modules, 2000)
    hits = best(lambda: event.hits, 200)
    print("Reading Event.modules (52 new Module objects):")
    print(f"  5,000 hits  {modules * 1e6:7.2f} us;  50,000 hits {modules_big * 1e6:7.2f} us  = {modules_big / modules:.2f}x")
    print(f"  for scale, reading Event.hits of 5,000 hits: {hits * 1e6:.1f} us")


if __name__ == "__main__":
    main()
