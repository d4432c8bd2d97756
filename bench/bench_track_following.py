"""TrackFollowing benchmarks, one command:

    PYTHONPATH=build-dev python3 bench/bench_track_following.py [--against OTHER_BUILD_DIR]

1. solve against the literal reference (plain scans, used-hit list) on the
   same ~5,000-hit events: ratio and identical tracks;
2. with --against: solve at 5,000 and 50,000 hits against another build of
   the module (a directory to put on PYTHONPATH), both timed on the calling
   thread's CPU clock in alternating subprocesses of this one run, with a
   check that the tracks are identical; then the cost per module search and
   the growth exponent from 5k to 50k;
3. solve_batch over 200 events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up, on events of ~5,000
   hits and on events of mixed sizes (1k to 20k hits, shuffled);
4. solve cost at 1k, 2k, 5k and 10k hits, next to the number of compatible
   seed pairs the procedure has to examine.
"""
import argparse
import json
import math
import os
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from event_generator import generate_event  # noqa: E402
from timing import batch_speedup  # noqa: E402

Event = corvane.DetectorEvent.Event
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def best_time(call, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def track_ids(tracks):
    return [[hit.id for hit in track.hits] for track in tracks]


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
    events = [Event(generate_event(5000, seed=seed)) for seed in range(5)]
    fast = sum(best_time(lambda e=e: algorithm.solve(e), 5) for e in events)
    literal = sum(best_time(lambda e=e: corvane._baseline.track_following(algorithm, e), 1) for e in events)
    same = all(track_ids(algorithm.solve(e)) == track_ids(corvane._baseline.track_following(algorithm, e))
               for e in events)
    hits = sum(e.number_of_hits for e in events) // len(events)
    print(f"solve vs literal, 5 events of ~{hits} hits: solve {fast / 5 * 1e3:.2f} ms/event, "
          f"literal {literal / 5 * 1e3:.1f} ms/event, ratio {literal / fast:.1f}x, identical tracks: {same}")


BUILD_CHILD = """
import hashlib, json, sys, time
sys.path.insert(0, {bench!r})
import corvane
from event_generator import generate_event
algorithm = corvane.ReconstructionAlgorithms.TrackFollowing()
result = {{}}
for size, seeds, repeats in {plan!r}:
    total, digest = 0.0, hashlib.sha256()
    for seed in seeds:
        event = corvane.DetectorEvent.Event(generate_event(size, seed=seed))
        best = float("inf")
        for _ in range(repeats):
            start = time.thread_time()
            tracks = algorithm.solve(event)
            best = min(best, time.thread_time() - start)
        total += best
        digest.update(repr([[(h.id, h.x, h.y, h.z) for h in t.hits] for t in tracks]).encode())
    result[size] = (total / len(seeds), digest.hexdigest())
print(json.dumps(result))
"""

# (hits, event seeds, repeats per event)
BUILD_PLAN = [(5000, list(range(5)), 7), (50000, [0, 1], 3)]


def run_build(build_dir):
    child = BUILD_CHILD.format(bench=os.path.dirname(os.path.abspath(__file__)), plan=BUILD_PLAN)
    env = dict(os.environ, PYTHONPATH=build_dir, OPENBLAS_NUM_THREADS="1")
    out = subprocess.run([sys.executable, "-c", child], env=env, check=True, capture_output=True, text=True)
    return {int(size): value for size, value in json.loads(out.stdout).items()}


def against_build(other_dir):
    this_dir = os.path.dirname(os.path.abspath(corvane.__file__))
    best = {"this": {}, "other": {}}
    digests = {"this": {}, "other": {}}
    # Alternating runs, best of each: the cores are shared with other work.
    for name in ("other", "this") * 3:
        for size, (per_event, digest) in run_build(this_dir if name == "this" else other_dir).items():
            best[name][size] = min(best[name].get(size, math.inf), per_event)
            digests[name][size] = digest
    print(f"solve against the build in {other_dir} (best of 3 alternating runs, thread CPU time):")
    for size, _, _ in BUILD_PLAN:
        this, other = best["this"][size], best["other"][size]
        print(f"  {size:>6} hits: this {this * 1e3:8.2f} ms/event, other {other * 1e3:8.2f} ms/event, "
              f"{other / this:.2f}x faster, identical tracks: {digests['this'][size] == digests['other'][size]}")
    return best["this"]


def per_probe(algorithm, per_event):
    (small, seeds_small, _), (large, seeds_large, _) = BUILD_PLAN
    print("cost per module search and growth:")
    for size, seeds in ((small, seeds_small), (large, seeds_large)):
        probes = sum(corvane._baseline.track_following_probes(algorithm, Event(generate_event(size, seed=s)))
                     for s in seeds) / len(seeds)
        print(f"  {size:>6} hits: {probes:10.0f} searches/event, {per_event[size] / probes * 1e9:6.1f} ns "
              f"of solve per search")
    exponent = math.log(per_event[large] / per_event[small]) / math.log(large / small)
    print(f"  growth exponent {small} -> {large} hits: {exponent:.2f}")


def growth(algorithm):
    print("solve cost by event size (3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000):
        dicts = [generate_event(size, seed=100 + s) for s in range(3)]
        events = [Event(d) for d in dicts]
        per_event = sum(best_time(lambda e=e: algorithm.solve(e), 5) for e in events) / 3
        pairs = sum(compatible_seed_pairs(d) for d in dicts) / 3
        base = base or (per_event, pairs, size)
        print(f"  {size:>6} hits: {per_event * 1e3:7.2f} ms/event (x{per_event / base[0]:5.1f}), "
              f"compatible seed pairs {pairs:10.0f} (x{pairs / base[1]:5.1f}), "
              f"{per_event / pairs * 1e9:6.1f} ns per pair")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time solve against")
    args = parser.parse_args()
    algorithm = TrackFollowing()
    against_reference(algorithm)
    if args.against:
        per_event = against_build(args.against)
        per_probe(algorithm, per_event)
    batch_speedup("TrackFollowing", "200 events of ~5000 hits", "[5000] * 200", repeats=5)
    # Sizes drawn once from a fixed seed, in shuffled order.
    batch_speedup("TrackFollowing", "200 events of 1k to 20k hits, shuffled",
                  "random.Random(7).sample(range(1000, 20001), 200)", repeats=5)
    growth(algorithm)


if __name__ == "__main__":
    main()
