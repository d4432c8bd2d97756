"""Event construction against the cost of reading its floats once.

    PYTHONPATH=build-dev:python python3 bench/bench_event.py [--against OTHER_BUILD_DIR]

For 5,000-hit events in every layout (see corvane_tools.event_layouts):
Event from float lists and from NumPy arrays against the floor, reading the
three coordinate lists once into array('d'). With --against, the same
figures from another build of the module, in alternating subprocesses of
this one run, and whether both builds make the same hits. Every figure comes
from this one run; the ratios are what to compare across machines. Times are
the calling thread's CPU time, which waiting for a core shared with other
work does not run.
"""
import argparse
import array
import gc
import hashlib
import json
import os
import sys
import time
import timeit

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from corvane import DetectorEvent  # noqa: E402
from corvane_tools.event_layouts import LAYOUTS, arranged, sized_event  # noqa: E402
from builds import compare_builds  # noqa: E402

TARGETS = {"lists": 0.45, "numpy": 0.15}


def as_numpy(d):
    return dict(d, **{k: np.array(d[k], dtype=np.float64) for k in ("x", "y", "z")})


def best(statement, number):
    """Best time of one call, in seconds."""
    return min(timeit.repeat(statement, number=number, repeat=7, timer=time.thread_time)) / number


def event_digest(event):
    hits = [(h.id, h.x, h.y, h.z, h.module_number) for h in event.hits]
    return hashlib.sha256(repr((hits, [sorted(zs) for zs in event.module_zs])).encode()).hexdigest()


def input_costs():
    """{"layout, kind": [seconds, digest]} for kind floor, lists and numpy."""
    Event = DetectorEvent.Event
    result = {}
    for layout in LAYOUTS:
        d = arranged(sized_event(5000, 1), layout, 1)
        dn = as_numpy(d)
        x, y, z = d["x"], d["y"], d["z"]
        made = event_digest(Event(d))
        result[f"{layout}, floor"] = [best(lambda: (array.array("d", x), array.array("d", y), array.array("d", z)),
                                           200), ""]
        result[f"{layout}, lists"] = [best(lambda: Event(d), 200), made]
        result[f"{layout}, numpy"] = [best(lambda: Event(dn), 200), event_digest(Event(dn))]
    return result


def print_costs(costs, title):
    print(title)
    for layout in LAYOUTS:
        floor = costs[f"{layout}, floor"]
        parts = [f"floor {floor * 1e6:6.1f} us"]
        for kind, target in TARGETS.items():
            seconds = costs[f"{layout}, {kind}"]
            parts.append(f"{kind} {seconds * 1e6:6.1f} us = {seconds / floor:.2f}x floor (target <= {target})")
        print(f"  {layout:<12} " + "; ".join(parts))


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
    if "--child" in sys.argv:
        print(json.dumps(input_costs()))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time Event against")
    args = parser.parse_args()
    print(f"corvane from {corvane.__file__}")
    if args.against:
        comparison = compare_builds(os.path.abspath(__file__), None, args.against)
        for index, name in enumerate(("this build", f"the build in {args.against}")):
            print_costs({label: value[index] for label, value in comparison.items()},
                        f"Event input, 5,000 hits, {name} (best of alternating runs):")
        same = all(value[2] for label, value in comparison.items() if not label.endswith("floor"))
        print(f"  both builds make the same hits: {same}")
    else:
        print_costs({label: value[0] for label, value in input_costs().items()},
                    "Event input, 5,000 hits, best of 7 runs:")
    Event = DetectorEvent.Event
    d = sized_event(5000, 1)
    per_hit = held_bytes_per_hit(d, 1000)
    print(f"Memory: 1,000 events of 5,000 hits held at once: {per_hit:.1f} bytes per hit (resident set)")
    print(f"  (a hit record is 48 bytes; 53 copies would be about {53 * 48} bytes per hit)")

    event = Event(d)
    big = Event(sized_event(50000, 1))
    modules = best(lambda: event.modules, 2000)
    modules_big = best(lambda: big.modules, 2000)
    hits = best(lambda: event.hits, 200)
    print("Reading Event.modules (52 new Module objects):")
    print(f"  5,000 hits  {modules * 1e6:7.2f} us;  50,000 hits {modules_big * 1e6:7.2f} us  = {modules_big / modules:.2f}x")
    print(f"  for scale, reading Event.hits of 5,000 hits: {hits * 1e6:.1f} us")


if __name__ == "__main__":
    main()
