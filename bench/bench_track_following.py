"""TrackFollowing benchmarks, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_track_following.py [--against OTHER_BUILD_DIR]

Every figure is given per event layout (see corvane_tools.event_layouts).
1. solve against the reference (plain scans, used-hit list) on the same
   ~5,000-hit events: ratio and identical tracks;
2. with --against: solve at 5,000 and 50,000 hits against another build of
   the module (a directory to put on PYTHONPATH), both timed on the calling
   thread's CPU clock in alternating subprocesses of this one run, with a
   check that the tracks are identical;
3. solve_batch over 200 events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up, on events of ~5,000
   hits and on events of mixed sizes (1k to 20k hits, shuffled);
4. solve cost at 1k, 2k, 5k and 10k hits, next to the number of compatible
   seed pairs the procedure has to examine.
"""
import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from corvane_tools.event_layouts import LAYOUTS, sized_event  # noqa: E402
from builds import compare_builds, print_comparison  # noqa: E402
from solve_runs import child, described, layout_events, runs  # noqa: E402
from timing import batch_speedup, per_event  # noqa: E402

Event = corvane.DetectorEvent.Event
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def compatible_seed_pairs(event_dict, slope=0.7):
    prefix = event_dict["module_prefix_sum"]
    x, y, z = (np.asarray(event_dict[k]) for k in "xyz")
    total = 0
    for n in range(51, 2, -1):
        a = slice(prefix[n], prefix[n + 1])
        b = slice(prefix[n - 2], prefix[n - 1])
        dz = np.abs(z[a][:, None] - z[b][None, :])
        ok = (slope * dz > np.abs(x[b][None, :] - x[a][:, None])) & (dz * slope > np.abs(y[b][None, :] - y[a][:, None]))
        total += int(ok.sum())
    return total


def against_reference(algorithm):
    reference = corvane._reference.track_following
    print("solve against the reference on 3 events of 5,000 hits per layout:")
    for layout in LAYOUTS:
        events = layout_events(layout, 5000, range(3))
        fast = per_event(algorithm.solve, events, 5)
        plain = per_event(lambda e: reference(algorithm, e), events, 1)
        same = all(described(algorithm.solve(e)) == described(reference(algorithm, e)) for e in events)
        print(f"  {layout:<12} solve {fast * 1e3:7.2f} ms/event, reference {plain * 1e3:8.1f} ms/event, "
              f"ratio {plain / fast:6.1f}x, identical tracks: {same}")


def plan():
    return runs(5000, range(5), 7) + runs(50000, [0, 1], 3)


def growth(algorithm):
    print("solve cost by event size (generated layout, 3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000):
        dicts = [sized_event(size, seed=100 + s) for s in range(3)]
        cost = per_event(algorithm.solve, [Event(d) for d in dicts], 5)
        pairs = sum(compatible_seed_pairs(d) for d in dicts) / 3
        base = base or (cost, pairs)
        print(f"  {size:>6} hits: {cost * 1e3:7.2f} ms/event (x{cost / base[0]:5.1f}), "
              f"compatible seed pairs {pairs:10.0f} (x{pairs / base[1]:5.1f}), {cost / pairs * 1e9:6.1f} ns per pair")


def main():
    if "--child" in sys.argv:
        child(TrackFollowing)
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time solve against")
    args = parser.parse_args()
    algorithm = TrackFollowing()
    against_reference(algorithm)
    if args.against:
        comparison = compare_builds(os.path.abspath(__file__), plan(), args.against)
        targets = {label: 2.0 if "5k" in label else 2.5 for label in comparison}
        print_comparison("TrackFollowing.solve", args.against, comparison, targets)
    batch_speedup("TrackFollowing", "200 events of ~5000 hits", "[5000] * 200", repeats=5)
    # Sizes drawn once from a fixed seed, in shuffled order.
    batch_speedup("TrackFollowing", "200 events of 1k to 20k hits, shuffled",
                  "random.Random(7).sample(range(1000, 20001), 200)", repeats=5)
    growth(algorithm)


if __name__ == "__main__":
    main()
