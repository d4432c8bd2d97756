"""GraphDFS benchmarks, one command:

    PYTHONPATH=build-dev python3 bench/bench_graph_dfs.py [--against OTHER_BUILD_DIR]

1. realistic ~5,000-hit events: solve time per event, segments, links and
   roots per event, and the ratio to TrackFollowing.solve on the same events;
2. dense events (bundles of nearly parallel tracks), the same figures;
3. an event whose roots each have more than 10^12 paths: solve time, next to
   the literal enumeration stopped by its path budget;
4. growth over 1k, 2k, 5k, 10k and 20k hits;
5. solve_batch over 100 events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up;
6. with --against: solve on the realistic and dense events against another
   build of the module (alternating subprocesses of this one run, thread CPU
   time), and whether both return identical tracks.
"""
import argparse
import json
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from timing import batch_speedup as batch_threads, best_time  # noqa: E402
from event_generator import generate_event  # noqa: E402

Event = corvane.DetectorEvent.Event
GraphDFS = corvane.ReconstructionAlgorithms.GraphDFS
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def dense_event(tracks=300, seed=0):
    """Bundles of nearly parallel tracks: within a bundle, neighbours stay
    within the link tolerance of each other's lines, so paths branch and merge
    at every module."""
    rng = np.random.default_rng(seed)
    z = -300.0 + 20.0 * np.arange(52)
    modules = [[] for _ in range(52)]
    for bundle in range(tracks // 30):
        x0, y0 = rng.uniform(-30, 30, 2)
        tx, ty = rng.uniform(-0.05, 0.05, 2)
        for _ in range(30):
            dx, dy = rng.normal(0, 0.05, 2)
            dtx, dty = rng.normal(0, 0.0005, 2)
            for m in range(52):
                modules[m].append((x0 + dx + (tx + dtx) * z[m], y0 + dy + (ty + dty) * z[m], z[m]))
    prefix, xs, ys, zs = [0], [], [], []
    for hits in modules:
        for x, y, zz in hits:
            xs.append(x)
            ys.append(y)
            zs.append(zz)
        prefix.append(len(xs))
    return {"description": "dense", "montecarlo": None, "module_prefix_sum": prefix, "x": xs, "y": ys, "z": zs}


def compare(label, events, algorithm, tracking, repeats=5):
    graph = sum(best_time(lambda e=e: algorithm.solve(e), repeats) for e in events) / len(events)
    follow = sum(best_time(lambda e=e: tracking.solve(e), repeats) for e in events) / len(events)
    counts = np.mean([corvane._baseline.graph_dfs_counts(algorithm, e) for e in events], axis=0)
    hits = sum(e.number_of_hits for e in events) // len(events)
    print(f"{label}, {len(events)} events of ~{hits} hits: solve {graph * 1e3:.2f} ms/event, "
          f"TrackFollowing {follow * 1e3:.2f} ms/event, ratio {graph / follow:.1f}x; per event "
          f"{counts[0]:.0f} segments, {counts[1]:.0f} links, {counts[2]:.0f} roots")


def path_explosion():
    # Three hits per module on one line, each within tolerance of the others'
    # lines: with neighbouring modules only, every root has 3^49 paths.
    modules_z = [float(m) for m in range(52)]
    xs = [0.01 * k for _ in modules_z for k in range(3)]
    data = {"description": "paths", "montecarlo": None, "module_prefix_sum": list(range(0, 157, 3)),
            "x": xs, "y": xs, "z": [z for z in modules_z for _ in range(3)]}
    event = Event(data)
    algorithm = GraphDFS(allowed_skip_modules=0)
    solve = best_time(lambda: algorithm.solve(event), 5)
    budget = 10 ** 6

    def enumerate_until_budget():
        try:
            corvane._baseline.graph_dfs(algorithm, event, budget)
        except RuntimeError:
            pass

    literal = best_time(enumerate_until_budget, 1)
    print(f"event with 3^49 = {3 ** 49:.1e} paths per root: solve {solve * 1e3:.3f} ms "
          f"(target < 100 ms); the literal enumeration needed {literal:.2f} s for its first {budget} paths, "
          f"about {literal / budget * 3 ** 49 / 3.15e7:.1e} years for one root")


def growth(algorithm, tracking):
    print("growth with event size (3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000, 20000):
        events = [Event(generate_event(size, seed=200 + s)) for s in range(3)]
        repeats = 5 if size <= 5000 else 2
        per_event = sum(best_time(lambda e=e: algorithm.solve(e), repeats) for e in events) / 3
        follow = sum(best_time(lambda e=e: tracking.solve(e), repeats) for e in events) / 3
        segments, links, _ = np.mean([corvane._baseline.graph_dfs_counts(algorithm, e) for e in events], axis=0)
        base = base or (per_event, segments)
        print(f"  {size:>6} hits: {per_event * 1e3:8.2f} ms/event (x{per_event / base[0]:6.1f}), "
              f"{segments:9.0f} segments (x{segments / base[1]:6.1f}), {links:8.0f} links, "
              f"{per_event / segments * 1e9:5.1f} ns per segment, {per_event / follow:5.1f}x TrackFollowing")


def batch_speedup():
    batch_threads("GraphDFS", "100 events of ~5000 hits", "[5000] * 100")


OTHER_CHILD = """
import hashlib, json, sys, time
sys.path.insert(0, {bench!r})
import corvane
from bench_graph_dfs import best_time, dense_event
from event_generator import generate_event
algorithm = corvane.ReconstructionAlgorithms.GraphDFS()
sets = {{"realistic": [generate_event(5000, seed=s) for s in range(5)], "dense": [dense_event(seed=s) for s in range(3)]}}
result = {{}}
for label, dicts in sets.items():
    events = [corvane.DetectorEvent.Event(d) for d in dicts]
    digest = hashlib.sha256(repr([[[h.id for h in t.hits] for t in algorithm.solve(e)] for e in events]).encode())
    per_event = sum(best_time(lambda e=e: algorithm.solve(e), 5) for e in events) / len(events)
    result[label] = (per_event, digest.hexdigest())
print(json.dumps(result))
"""


def against_build(other_dir):
    this_dir = os.path.dirname(os.path.abspath(corvane.__file__))
    child = OTHER_CHILD.format(bench=os.path.dirname(os.path.abspath(__file__)))
    best, digests = {}, {}
    # Alternating runs, best of each: the cores are shared with other work.
    for name, build in (("other", other_dir), ("this", this_dir)) * 3:
        env = dict(os.environ, PYTHONPATH=build, OPENBLAS_NUM_THREADS="1")
        out = subprocess.run([sys.executable, "-c", child], env=env, check=True, capture_output=True, text=True)
        for label, (per_event, digest) in json.loads(out.stdout).items():
            best[name, label] = min(best.get((name, label), float("inf")), per_event)
            digests[name, label] = digest
    print(f"solve against the build in {other_dir} (best of 3 alternating runs, thread CPU time):")
    for label in ("realistic", "dense"):
        this, other = best["this", label], best["other", label]
        print(f"  {label:>9}: this {this * 1e3:7.2f} ms/event, other {other * 1e3:7.2f} ms/event, "
              f"{other / this:.2f}x faster, identical tracks: {digests['this', label] == digests['other', label]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time solve against")
    args = parser.parse_args()
    if args.against:
        against_build(args.against)
    algorithm, tracking = GraphDFS(), TrackFollowing()
    compare("realistic", [Event(generate_event(5000, seed=s)) for s in range(5)], algorithm, tracking)
    compare("dense", [Event(dense_event(seed=s)) for s in range(3)], algorithm, tracking)
    path_explosion()
    growth(algorithm, tracking)
    batch_speedup()


if __name__ == "__main__":
    main()
